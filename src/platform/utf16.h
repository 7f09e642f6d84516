// UTF-16 surrogate ranges, shared by the code page converters.
#pragma once

namespace plat {

inline bool IsHighSurrogate(char16_t u) {
  return u >= 0xD800 && u <= 0xDBFF;
}
inline bool IsLowSurrogate(char16_t u) {
  return u >= 0xDC00 && u <= 0xDFFF;
}

}  // namespace plat
