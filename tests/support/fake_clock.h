// A clock for tests: sleeping returns at once and only moves the clock on; every pause is recorded
// so a test can check the protocol's delays without waiting them out.
#pragma once

#include <mutex>
#include <vector>

#include "platform/clock.h"

class FakeClock : public plat::Clock {
 public:
  uint32_t TickMs() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return tick_;
  }
  void SleepMs(uint32_t ms) override {
    std::lock_guard<std::mutex> lock(mutex_);
    tick_ += ms;
    sleeps_.push_back(ms);
  }
  // Notes the pause like SleepMs; only a wake that is already set ends it.
  bool SleepUnless(uint32_t ms, plat::WakeEvent& wake) override {
    SleepMs(ms);
    return wake.IsSet();
  }
  // Notes the pause like SleepMs, as if it passed with nothing ready; with waitForReadiness it
  // waits for `ready` in real time instead, as the system clock does, and notes the pause in
  // ReadinessWaits().
  bool SleepUntilReady(uint32_t ms, plat::Readiness& ready) override {
    if (!waitForReadiness) {
      SleepMs(ms);
      return false;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      readinessWaits_.push_back(ms);
    }
    return ready.WaitMs(ms);
  }
  plat::CalendarTime LocalTime() override { return local_; }
  plat::CalendarTime UtcTime() override { return utc_; }
  int64_t UnixTime() override { return unix_; }

  std::vector<uint32_t> Sleeps() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sleeps_;
  }
  std::vector<uint32_t> ReadinessWaits() {
    std::lock_guard<std::mutex> lock(mutex_);
    return readinessWaits_;
  }
  int CountSleeps(uint32_t ms) {
    int n = 0;
    for (uint32_t s : Sleeps()) n += s == ms;
    return n;
  }

  plat::CalendarTime local_{2026, 12, 9, 12, 0, 0, 0};
  plat::CalendarTime utc_{2026, 12, 9, 9, 0, 0, 0};
  int64_t unix_ = 1796806800;
  bool waitForReadiness = false;

 private:
  std::mutex mutex_;
  uint32_t tick_ = 0;
  std::vector<uint32_t> sleeps_;
  std::vector<uint32_t> readinessWaits_;
};

// The printer's pauses pass at once, the relay's pauses are real and end when it is stopped: the
// relay then idles as it does on a till, and Done has a real wait to cut short.
class RelayClock : public FakeClock {
 public:
  bool SleepUnless(uint32_t ms, plat::WakeEvent& wake) override { return wake.WaitMs(ms); }
};
