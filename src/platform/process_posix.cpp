#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/process.h"

namespace plat {
namespace {

uint64_t Micros(const struct timeval& t) {
  return static_cast<uint64_t>(t.tv_sec) * 1000000u + static_cast<uint64_t>(t.tv_usec);
}

}  // namespace

uint64_t ThreadCpuMicros() {
  struct timespec ts;
  if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts) != 0) return 0;
  return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

CpuTimes ThreadCpuTimes() {
  struct rusage usage;
  if (getrusage(RUSAGE_THREAD, &usage) != 0) return CpuTimes();
  CpuTimes times;
  times.userMicros = Micros(usage.ru_utime);
  times.kernelMicros = Micros(usage.ru_stime);
  return times;
}

// The second number of /proc/self/statm is the resident size in pages.
uint64_t ResidentBytes() {
  FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr) return 0;
  unsigned long long size = 0, resident = 0;
  const bool read = std::fscanf(statm, "%llu %llu", &size, &resident) == 2;
  std::fclose(statm);
  const long page = sysconf(_SC_PAGESIZE);
  return read && page > 0 ? resident * static_cast<uint64_t>(page) : 0;
}

bool SetEnvironment(const std::string& name, const std::string& value) {
  return setenv(name.c_str(), value.c_str(), 1) == 0;
}

}  // namespace plat
