// Windows: the driver's 1251 text as the wide strings of the system's W calls and back. wchar_t is
// 16-bit here and holds UTF-16 exactly as char16_t does.
#pragma once

#include <string>
#include <string_view>

#include "platform/codepage.h"

namespace plat {

inline std::wstring WideOf1251(std::string_view cp1251) {
  const std::u16string text = Cp1251ToUtf16(cp1251);
  return std::wstring(text.begin(), text.end());
}

inline std::string Cp1251OfWide(std::wstring_view wide) {
  return Utf16ToCp1251(std::u16string(wide.begin(), wide.end()));
}

}  // namespace plat
