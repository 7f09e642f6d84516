// Windows-1251 on POSIX by a table of our own: the locale's converters are not there to rely on
// (a minimal system has no 1251 locale), and the table maps exactly what Windows maps.
#include "platform/codepage.h"
#include "platform/utf16.h"

namespace plat {
namespace {

// Windows-1251 bytes 0x80..0xBF; 0xC0..0xFF are U+0410..U+044F in order. Byte 0x98 has no
// character in the code page; like the system converter on Windows it passes through as U+0098,
// so that no byte is lost on a round trip.
constexpr char16_t kUpperHalf[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 0x88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 0x98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // 0xA0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // 0xA8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // 0xB0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // 0xB8
};
constexpr char16_t kCyrillicA = 0x0410;   // byte 0xC0
constexpr char16_t kCyrillicYa = 0x044F;  // byte 0xFF

char16_t FromByte(unsigned char b) {
  if (b < 0x80) return b;
  if (b < 0xC0) return kUpperHalf[b - 0x80];
  return static_cast<char16_t>(kCyrillicA + (b - 0xC0));
}

char ToByte(char16_t c) {
  if (c < 0x80) return static_cast<char>(c);
  if (c >= kCyrillicA && c <= kCyrillicYa) return static_cast<char>(0xC0 + (c - kCyrillicA));
  for (int i = 0; i < 64; ++i) {
    if (kUpperHalf[i] == c) return static_cast<char>(0x80 + i);
  }
  return '?';
}

}  // namespace

std::u16string Cp1251ToUtf16(std::string_view cp1251) {
  try {
    std::u16string out;
    out.reserve(cp1251.size());
    for (char b : cp1251) out.push_back(FromByte(static_cast<unsigned char>(b)));
    return out;
  } catch (...) {  // out of memory: an empty text rather than an exception through the platform API
    return {};
  }
}

std::string Utf16ToCp1251(std::u16string_view text) {
  try {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
      // A character outside the BMP is one '?', not one per half of its surrogate pair.
      if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) ++i;
      out.push_back(ToByte(text[i]));
    }
    return out;
  } catch (...) {
    return {};
  }
}

}  // namespace plat
