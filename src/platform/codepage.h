// Text conversions between the driver's 8-bit strings, UTF-16 (BSTR, OLECHAR) and UTF-8 (XML
// packages). The 8-bit strings are Windows-1251 on every system, whatever its ANSI code page: a
// Russian 1C also runs on an English Windows, and the printer, the settings and the host's texts
// all speak 1251. Characters 1251 cannot hold become '?' (never a look-alike); malformed UTF-8 or
// lone surrogates become U+FFFD on the way to UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace plat {

std::u16string Cp1251ToUtf16(std::string_view cp1251);
std::string Utf16ToCp1251(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view text);

inline std::string Cp1251ToUtf8(std::string_view cp1251) {
  return Utf16ToUtf8(Cp1251ToUtf16(cp1251));
}
inline std::string Utf8ToCp1251(std::string_view utf8) {
  return Utf16ToCp1251(Utf8ToUtf16(utf8));
}

}  // namespace plat
