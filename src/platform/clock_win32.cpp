#include <windows.h>

#include <ctime>

#include "platform/clock.h"

namespace plat {
namespace {

CalendarTime FromSystemTime(const SYSTEMTIME& st) {
  CalendarTime c;
  c.year = st.wYear;
  c.month = st.wMonth;
  c.day = st.wDay;
  c.hour = st.wHour;
  c.minute = st.wMinute;
  c.second = st.wSecond;
  c.millisecond = st.wMilliseconds;
  return c;
}

class Win32Clock : public Clock {
 public:
  uint32_t TickMs() override { return GetTickCount(); }
  void SleepMs(uint32_t ms) override { Sleep(ms); }
  CalendarTime LocalTime() override {
    SYSTEMTIME st;
    GetLocalTime(&st);
    return FromSystemTime(st);
  }
  CalendarTime UtcTime() override {
    SYSTEMTIME st;
    GetSystemTime(&st);
    return FromSystemTime(st);
  }
  int64_t UnixTime() override { return static_cast<int64_t>(time(nullptr)); }
};

}  // namespace

Clock& SystemClock() {
  static Win32Clock clock;
  return clock;
}

CalendarTime LocalTimeOf(int64_t unixTime) {
  time_t t = static_cast<time_t>(unixTime);
  struct tm parts {};
  localtime_s(&parts, &t);
  return CalendarTimeOf(parts, 0);
}

}  // namespace plat
