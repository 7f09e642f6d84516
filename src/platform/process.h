// The running process: figures for measurements (the CPU time of a thread, the memory the process
// holds) and its environment.
#pragma once

#include <cstdint>
#include <string>

namespace plat {

// CPU time the calling thread has used so far (user and system), in microseconds.
uint64_t ThreadCpuMicros();
// Memory of the process resident in RAM (the working set on Windows), in bytes; 0 when the system
// does not tell.
uint64_t ResidentBytes();
// Sets an environment variable of this process, as getenv sees it; false on failure.
bool SetEnvironment(const std::string& name, const std::string& value);

}  // namespace plat
