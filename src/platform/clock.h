// Time for the driver: tick count, calendar time and sleep, behind one object so that tests can
// run the protocol's long pauses (command pauses, retry delays, resets, relay waits) on a virtual
// clock. Serial and socket time-outs are real time and are not affected by it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <mutex>

namespace plat {

struct CalendarTime {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// A signal that ends a pause at once, such as a request to stop a worker thread. Once set it stays
// set until Reset. Safe to use from any thread.
class WakeEvent {
 public:
  void Set();
  void Reset();
  bool IsSet() const;
  // Waits up to ms of real time; true when the event is (or becomes) set.
  bool WaitMs(uint32_t ms);

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool set_ = false;
};

// Something a pause may end early for, such as an answer arriving on a port.
class Readiness {
 public:
  virtual ~Readiness() = default;
  // Waits up to ms of real time; true when ready (at once or within the time).
  virtual bool WaitMs(uint32_t ms) = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary start, wrapping at 2^32 like GetTickCount.
  virtual uint32_t TickMs() = 0;
  virtual void SleepMs(uint32_t ms) = 0;
  // Pauses ms unless `wake` is set first; true when it was set. This waits on the event itself in
  // real time; a test clock may only note the pause and return.
  virtual bool SleepUnless(uint32_t ms, WakeEvent& wake) { return wake.WaitMs(ms); }
  // Pauses up to ms, ending as soon as `ready` is; true when it was. A test clock may only note
  // the pause and return, as if it had passed without anything becoming ready.
  virtual bool SleepUntilReady(uint32_t ms, Readiness& ready) { return ready.WaitMs(ms); }
  virtual CalendarTime LocalTime() = 0;
  virtual CalendarTime UtcTime() = 0;
  // Seconds since 1970-01-01 UTC, as time() returns.
  virtual int64_t UnixTime() = 0;
};

// The real clock of this system; lives for the whole process.
Clock& SystemClock();

// The local calendar time of a moment given in seconds since 1970 (localtime).
CalendarTime LocalTimeOf(int64_t unixTime);

// The moment (seconds since 1970) at which this system's clock showed a local calendar time, by the
// time zone's rules for that date, so that the difference of two moments is the real time between
// them even across a daylight-saving change. A time that a change skipped or repeated gives one of
// the moments next to it. Milliseconds are ignored.
int64_t UnixTimeOfLocal(const CalendarTime& local);

// The broken-down time of the C library as a CalendarTime.
CalendarTime CalendarTimeOf(const struct tm& t, int millisecond);

}  // namespace plat
