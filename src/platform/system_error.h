// The calling thread's last system error, shared by every platform facility.
//
// Error rule: every platform function returning bool returns false on failure and leaves the
// system's error code here (GetLastError on Windows, errno on POSIX); SystemErrorText() turns a
// code into the system's own text.
#pragma once

#include <cstdint>
#include <string>

namespace plat {

// Codes the platform layer defines itself. Bit 29 marks an application-defined code, as on
// Windows, so none collides with a system value.
//
// POSIX: the port has no modem lines to read (a pseudo-terminal).
constexpr uint32_t kErrModemLinesUnsupported = 0x20000001;
// POSIX: a host name could not be resolved. getaddrinfo's EAI_* value (negative on some systems)
// is kept in the low 16 bits; Windows reports its own WSA codes instead.
constexpr uint32_t kErrResolverBase = 0x20010000;

uint32_t SystemLastError();
// The system's text for an error code, in Windows-1251 like every driver text, without a trailing line break.
std::string SystemErrorText(uint32_t code);
// For the platform backends: records the calling thread's error (SetLastError on Windows).
void SetSystemLastError(uint32_t code);

}  // namespace plat
