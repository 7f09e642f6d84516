// Text conversions between the driver's 8-bit strings (the ANSI code page: Windows-1251 on POSIX,
// the thread's ANSI code page on Windows), UTF-16 (BSTR, OLECHAR) and UTF-8 (XML packages).
// Characters the target cannot hold become '?'; malformed UTF-8 or lone surrogates become U+FFFD
// on the way to UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace plat {

std::u16string AnsiToUtf16(std::string_view ansi);
std::string Utf16ToAnsi(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view text);

inline std::string AnsiToUtf8(std::string_view ansi) { return Utf16ToUtf8(AnsiToUtf16(ansi)); }
inline std::string Utf8ToAnsi(std::string_view utf8) { return Utf16ToAnsi(Utf8ToUtf16(utf8)); }

}  // namespace plat
