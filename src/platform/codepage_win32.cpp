// On Windows the system converter does the work, always with code page 1251 named: the process's
// ANSI code page (CP_ACP) is 1252 on an English Windows, where it would turn every Russian letter
// into '?'. wchar_t is 16-bit here and holds UTF-16 exactly as char16_t does.
#include <windows.h>

#include <climits>

#include "platform/codepage.h"

namespace plat {
namespace {

constexpr UINT kCodePage1251 = 1251;

}  // namespace

std::u16string Cp1251ToUtf16(std::string_view cp1251) {
  // The system converter counts in int; a longer text is not a driver string.
  if (cp1251.empty() || cp1251.size() > static_cast<size_t>(INT_MAX)) return {};
  try {
    const int inLen = static_cast<int>(cp1251.size());
    const int outLen = MultiByteToWideChar(kCodePage1251, 0, cp1251.data(), inLen, nullptr, 0);
    if (outLen <= 0) return {};
    std::wstring wide(static_cast<size_t>(outLen), L'\0');
    MultiByteToWideChar(kCodePage1251, 0, cp1251.data(), inLen, &wide[0], outLen);
    return std::u16string(wide.begin(), wide.end());
  } catch (...) {  // out of memory: an empty text rather than an exception through the platform API
    return {};
  }
}

std::string Utf16ToCp1251(std::u16string_view text) {
  if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) return {};
  try {
    const std::wstring wide(text.begin(), text.end());
    const int inLen = static_cast<int>(wide.size());
    // No best fit: a character 1251 lacks becomes '?' as on every other system, not a look-alike
    // letter that would print on a receipt as something the host never sent.
    const DWORD flags = WC_NO_BEST_FIT_CHARS;
    const int outLen =
        WideCharToMultiByte(kCodePage1251, flags, wide.data(), inLen, nullptr, 0, nullptr, nullptr);
    if (outLen <= 0) return {};
    std::string out(static_cast<size_t>(outLen), '\0');
    WideCharToMultiByte(kCodePage1251, flags, wide.data(), inLen, &out[0], outLen, nullptr, nullptr);
    return out;
  } catch (...) {
    return {};
  }
}

}  // namespace plat
