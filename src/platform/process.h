// The running process: figures for measurements (the CPU time of a thread, the memory the process
// holds) and its environment.
#pragma once

#include <cstdint>
#include <string>

namespace plat {

// CPU time a thread has used: running its own code, and in the kernel on its behalf (its system
// calls, and going to sleep and waking up).
struct CpuTimes {
  uint64_t userMicros = 0;
  uint64_t kernelMicros = 0;
  uint64_t TotalMicros() const { return userMicros + kernelMicros; }
};
// The calling thread's CPU time so far. The total is exact; on Linux the kernel divides it between
// the two in the proportion of the clock ticks that found the thread in each, so the division is
// only good over many ticks (hundreds of milliseconds of CPU).
CpuTimes ThreadCpuTimes();
// Memory of the process resident in RAM (the working set on Windows), in bytes; 0 when the system
// does not tell.
uint64_t ResidentBytes();
// Sets an environment variable of this process, as getenv sees it; false on failure.
bool SetEnvironment(const std::string& name, const std::string& value);

}  // namespace plat
