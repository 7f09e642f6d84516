#include <time.h>

#include <chrono>
#include <thread>

#include "platform/clock.h"

namespace plat {
namespace {

class PosixClock : public Clock {
 public:
  uint32_t TickMs() override {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u + ts.tv_nsec / 1000000);
  }
  void SleepMs(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
  CalendarTime LocalTime() override { return Calendar(false); }
  CalendarTime UtcTime() override { return Calendar(true); }
  int64_t UnixTime() override { return static_cast<int64_t>(time(nullptr)); }

 private:
  static CalendarTime Calendar(bool utc) {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm t {};
    if (utc) {
      gmtime_r(&ts.tv_sec, &t);
    } else {
      localtime_r(&ts.tv_sec, &t);
    }
    return CalendarTimeOf(t, static_cast<int>(ts.tv_nsec / 1000000));
  }
};

}  // namespace

Clock& SystemClock() {
  static PosixClock clock;
  return clock;
}

CalendarTime LocalTimeOf(int64_t unixTime) {
  time_t t = static_cast<time_t>(unixTime);
  struct tm parts {};
  localtime_r(&t, &parts);
  return CalendarTimeOf(parts, 0);
}

int64_t UnixTimeOfLocal(const CalendarTime& local) {
  struct tm parts {};
  parts.tm_year = local.year - 1900;
  parts.tm_mon = local.month - 1;
  parts.tm_mday = local.day;
  parts.tm_hour = local.hour;
  parts.tm_min = local.minute;
  parts.tm_sec = local.second;
  parts.tm_isdst = -1;  // the zone's rules decide, not the caller
  return static_cast<int64_t>(mktime(&parts));
}

}  // namespace plat
