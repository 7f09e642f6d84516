// UTF-8 <-> UTF-16, the same on every system. Ill-formed input never stops a conversion: it
// becomes U+FFFD, one per maximal ill-formed subsequence, so a damaged XML package still shows
// where the damage was.
#include "platform/codepage.h"

#include <cstdint>

#include "platform/utf16.h"

namespace plat {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out.push_back(static_cast<char16_t>(c));
    return;
  }
  c -= 0x10000;
  out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
  out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Length of the sequence a lead byte starts and the allowed range of its second byte; the narrow
// ranges after E0, ED, F0 and F4 exclude overlong forms, surrogates and values above U+10FFFF.
struct LeadInfo {
  int length;  // 0: not a lead byte
  uint8_t secondLow;
  uint8_t secondHigh;
};

LeadInfo InfoOfLead(uint8_t b) {
  if (b < 0x80) return {1, 0, 0};
  if (b >= 0xC2 && b <= 0xDF) return {2, 0x80, 0xBF};
  if (b == 0xE0) return {3, 0xA0, 0xBF};
  if (b == 0xED) return {3, 0x80, 0x9F};
  if (b >= 0xE1 && b <= 0xEF) return {3, 0x80, 0xBF};
  if (b == 0xF0) return {4, 0x90, 0xBF};
  if (b >= 0xF1 && b <= 0xF3) return {4, 0x80, 0xBF};
  if (b == 0xF4) return {4, 0x80, 0x8F};
  return {0, 0, 0};
}

// Decodes one character at utf8[pos]; advances pos past it, or past the ill-formed subsequence.
char32_t DecodeUtf8(std::string_view utf8, size_t& pos) {
  const uint8_t lead = static_cast<uint8_t>(utf8[pos++]);
  const LeadInfo info = InfoOfLead(lead);
  if (info.length == 1) return lead;
  if (info.length == 0) return kReplacement;
  char32_t c = lead & (0xFF >> (info.length + 1));
  for (int i = 1; i < info.length; ++i) {
    if (pos >= utf8.size()) return kReplacement;
    const uint8_t b = static_cast<uint8_t>(utf8[pos]);
    const uint8_t low = i == 1 ? info.secondLow : 0x80;
    const uint8_t high = i == 1 ? info.secondHigh : 0xBF;
    if (b < low || b > high) return kReplacement;  // the offending byte starts the next character
    c = (c << 6) | (b & 0x3F);
    ++pos;
  }
  return c;
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
  try {
    std::u16string out;
    out.reserve(utf8.size());
    for (size_t pos = 0; pos < utf8.size();) AppendUtf16(out, DecodeUtf8(utf8, pos));
    return out;
  } catch (...) {  // out of memory: an empty text rather than an exception through the platform API
    return {};
  }
}

std::string Utf16ToUtf8(std::u16string_view text) {
  try {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
      const char16_t u = text[i];
      char32_t c = u;
      if (IsHighSurrogate(u) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
        c = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[++i] - 0xDC00);
      } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
        c = kReplacement;
      }
      AppendUtf8(out, c);
    }
    return out;
  } catch (...) {
    return {};
  }
}

}  // namespace plat
