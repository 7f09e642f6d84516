#include "platform/clock.h"

#include <chrono>

namespace plat {

void WakeEvent::Set() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    set_ = true;
  }
  changed_.notify_all();
}

void WakeEvent::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  set_ = false;
}

bool WakeEvent::IsSet() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return set_;
}

bool WakeEvent::WaitMs(uint32_t ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return set_; });
}

CalendarTime CalendarTimeOf(const struct tm& t, int millisecond) {
  CalendarTime c;
  c.year = t.tm_year + 1900;
  c.month = t.tm_mon + 1;
  c.day = t.tm_mday;
  c.hour = t.tm_hour;
  c.minute = t.tm_min;
  c.second = t.tm_sec;
  c.millisecond = millisecond;
  return c;
}

}  // namespace plat
