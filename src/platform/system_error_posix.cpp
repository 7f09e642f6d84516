// Last error on POSIX: errno is overwritten by any later library call, so the platform keeps its
// own per-thread copy of the code that made a call fail.
#include <netdb.h>

#include <cstring>

#include "platform/system_error.h"

namespace plat {
namespace {

thread_local uint32_t t_lastError = 0;

// strerror_r comes in two flavours: GNU returns the text, XSI fills the buffer and returns 0.
// Only the overload of this system's flavour is used.
[[maybe_unused]] const char* ErrorTextOf(char* gnuText, const char*) {
  return gnuText;
}
[[maybe_unused]] const char* ErrorTextOf(int xsiResult, const char* buffer) {
  return xsiResult == 0 ? buffer : "Unknown error";
}

bool IsResolverCode(uint32_t code) {
  return (code & 0xFFFF0000u) == kErrResolverBase;
}

}  // namespace

uint32_t SystemLastError() {
  return t_lastError;
}

void SetSystemLastError(uint32_t code) {
  t_lastError = code;
}

std::string SystemErrorText(uint32_t code) {
  try {
    if (code == kErrModemLinesUnsupported) return "Modem lines are unsupported on this port";
    if (IsResolverCode(code)) return gai_strerror(static_cast<int16_t>(code & 0xFFFFu));
    char buffer[256] = "";
    std::string text = ErrorTextOf(strerror_r(static_cast<int>(code), buffer, sizeof buffer), buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
  } catch (...) {  // out of memory: no text rather than an exception through the platform API
    return {};
  }
}

}  // namespace plat
