#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/process.h"

namespace plat {

uint64_t ThreadCpuMicros() {
  struct timespec ts;
  if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts) != 0) return 0;
  return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
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
