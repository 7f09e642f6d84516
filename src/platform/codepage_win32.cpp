// On Windows the driver's 8-bit strings are in the ANSI code page of the process, so the system
// converter does the work. wchar_t is 16-bit here and holds UTF-16 exactly as char16_t does.
#include <windows.h>

#include <climits>

#include "platform/codepage.h"

namespace plat {

std::u16string AnsiToUtf16(std::string_view ansi) {
  // The system converter counts in int; a longer text is not a driver string.
  if (ansi.empty() || ansi.size() > static_cast<size_t>(INT_MAX)) return {};
  try {
    const int inLen = static_cast<int>(ansi.size());
    const int outLen = MultiByteToWideChar(CP_ACP, 0, ansi.data(), inLen, nullptr, 0);
    if (outLen <= 0) return {};
    std::wstring wide(static_cast<size_t>(outLen), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), inLen, &wide[0], outLen);
    return std::u16string(wide.begin(), wide.end());
  } catch (...) {  // out of memory: an empty text rather than an exception through the platform API
    return {};
  }
}

std::string Utf16ToAnsi(std::u16string_view text) {
  if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) return {};
  try {
    const std::wstring wide(text.begin(), text.end());
    const int inLen = static_cast<int>(wide.size());
    // No default character given: the system puts '?' for what the code page cannot hold.
    const int outLen = WideCharToMultiByte(CP_ACP, 0, wide.data(), inLen, nullptr, 0, nullptr, nullptr);
    if (outLen <= 0) return {};
    std::string out(static_cast<size_t>(outLen), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), inLen, &out[0], outLen, nullptr, nullptr);
    return out;
  } catch (...) {
    return {};
  }
}

}  // namespace plat
