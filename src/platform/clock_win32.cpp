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

// Seconds between 1601-01-01 (FILETIME's start) and 1970-01-01.
constexpr int64_t kUnixEpochInFileTime = 11644473600;

SYSTEMTIME ToSystemTime(const CalendarTime& c) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(c.year);
  st.wMonth = static_cast<WORD>(c.month);
  st.wDay = static_cast<WORD>(c.day);
  st.wHour = static_cast<WORD>(c.hour);
  st.wMinute = static_cast<WORD>(c.minute);
  st.wSecond = static_cast<WORD>(c.second);
  return st;
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

// The system's own conversion by the zone GetLocalTime shows: the C runtime's mktime would follow
// a TZ variable when one is set, which the system's clock does not.
int64_t UnixTimeOfLocal(const CalendarTime& local) {
  const SYSTEMTIME localTime = ToSystemTime(local);
  SYSTEMTIME utc;
  FILETIME file;
  if (!TzSpecificLocalTimeToSystemTime(nullptr, &localTime, &utc) || !SystemTimeToFileTime(&utc, &file)) {
    return -1;
  }
  const int64_t ticks = (static_cast<int64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
  return ticks / 10000000 - kUnixEpochInFileTime;
}

}  // namespace plat
