#include <windows.h>
// psapi.h needs windows.h first.
#include <psapi.h>
#include <stdlib.h>

#include "platform/process.h"

namespace plat {
namespace {

uint64_t Micros(const FILETIME& t) {
  const uint64_t ticks = (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  return ticks / 10;  // 100-nanosecond units
}

}  // namespace

uint64_t ThreadCpuMicros() {
  return ThreadCpuTimes().TotalMicros();
}

CpuTimes ThreadCpuTimes() {
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return CpuTimes();
  CpuTimes times;
  times.userMicros = Micros(user);
  times.kernelMicros = Micros(kernel);
  return times;
}

uint64_t ResidentBytes() {
  PROCESS_MEMORY_COUNTERS counters;
  if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return counters.WorkingSetSize;
}

bool SetEnvironment(const std::string& name, const std::string& value) {
  return _putenv_s(name.c_str(), value.c_str()) == 0;
}

}  // namespace plat
