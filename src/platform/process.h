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
// CPU time the calling thread has used so far (user and kernel), in microseconds, to the
// scheduler's precision.
uint64_t ThreadCpuMicros();
// The same divided between user and kernel time. The system keeps the division by clock ticks (on
// Linux it divides the total in the proportion of the ticks that found the thread in each; Windows
// counts both in ticks), so it is good only over spans of many ticks: hundreds of milliseconds of
// CPU, not one receipt.
CpuTimes ThreadCpuTimes();
// Memory of the process resident in RAM (the working set on Windows), in bytes; 0 when the system
// does not tell.
uint64_t ResidentBytes();
// Sets an environment variable of this process, as getenv sees it; false on failure.
bool SetEnvironment(const std::string& name, const std::string& value);

}  // namespace plat
