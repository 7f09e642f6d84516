#include "platform/clock.h"

namespace plat {

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
