#include "receipts/host_xml.h"

#include <tinyxml.h>

#include <cstring>
#include <vector>

namespace {

constexpr unsigned kLastCodePoint = 0x10FFFF;
constexpr int kMaxDecimalDigits = 7;  // a reference beyond them names no character
constexpr int kMaxHexDigits = 6;
constexpr const char* kEntities[] = {"amp;", "lt;", "gt;", "quot;", "apos;"};

bool IsXmlSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// A name starts as the library's names do: a Latin letter, '_' or any character beyond ASCII (all
// of whose bytes are above 0x7F).
bool IsNameStart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}

bool IsNameChar(char c) {
  return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == ':';
}

// A character a package may hold: what XML allows, less the control characters (C0 but tab, line
// feed and carriage return; DEL and C1). The printer takes some of them as commands of its own.
bool IsAllowedCharacter(unsigned cp) {
  if (cp == '\t' || cp == '\n' || cp == '\r') return true;
  if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) return false;
  if (cp >= 0xD800 && cp <= 0xDFFF) return false;
  return cp != 0xFFFE && cp != 0xFFFF && cp <= kLastCodePoint;
}

// The value of a digit of a character reference, or -1.
int DigitValue(char c, bool hex) {
  if (c >= '0' && c <= '9') return c - '0';
  if (hex && c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (hex && c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The length of the UTF-8 character at `at` and its code point; 0 when the bytes are no character
// (a stray continuation byte, a sequence cut short, an overlong form, a surrogate).
size_t DecodeUtf8(std::string_view s, size_t at, unsigned* cp) {
  const unsigned char lead = static_cast<unsigned char>(s[at]);
  size_t length = 0;
  unsigned least = 0;
  if (lead < 0x80) {
    *cp = lead;
    return 1;
  }
  if ((lead & 0xE0) == 0xC0) {
    length = 2, least = 0x80, *cp = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, least = 0x800, *cp = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, least = 0x10000, *cp = lead & 0x07;
  } else {
    return 0;
  }
  if (s.size() - at < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    const unsigned char next = static_cast<unsigned char>(s[at + i]);
    if ((next & 0xC0) != 0x80) return 0;
    *cp = (*cp << 6) | (next & 0x3F);
  }
  const bool surrogate = *cp >= 0xD800 && *cp <= 0xDFFF;
  return *cp < least || *cp > kLastCodePoint || surrogate ? 0 : length;
}

// The strict reading: one pass over the characters, then one over the markup that keeps only the
// names of the open elements, never deeper than the limit. Where the library would read a construct
// differently from XML (a quote in a processing instruction, CDATA outside the root), the text is
// refused, so that it never parses deeper than this reading found.
class StrictReader {
 public:
  explicit StrictReader(std::string_view text) : m_text(text) {}

  bool Read(XmlFault* fault) {
    const bool read = ReadDocument();
    if (!read && fault) Locate(fault);
    return read;
  }

 private:
  bool ReadDocument() {
    if (m_text.size() > kHostXmlMaxBytes) {
      m_at = kHostXmlMaxBytes;
      return Fail("XML longer than " + std::to_string(kHostXmlMaxBytes) + " bytes");
    }
    if (!CheckCharacters()) return false;
    m_at = 0;
    if (Next("\xEF\xBB\xBF")) m_at += 3;
    bool root = false;
    for (;;) {
      SkipSpace();
      if (AtEnd()) return true;
      if (Peek() != '<') return Fail(root ? "Text after the root element" : "Text before the root element");
      if (Next("<!--")) {
        if (!SkipPast("<!--", "-->", "Comment without its end")) return false;
      } else if (Next("<?")) {
        if (!SkipInstruction()) return false;
      } else if (Next("<![")) {
        return Fail("CDATA outside the root element");
      } else if (Next("<!")) {
        if (root) return Fail("Declaration after the root element");
        if (!SkipPast("<!", ">", "Declaration without its end")) return false;
      } else if (root) {
        return Fail("A second root element");
      } else if (!IsNameStart(Peek(1))) {
        return Fail("'<' not followed by a name");
      } else if (!ReadElement()) {
        return false;
      } else {
        root = true;
      }
    }
  }

  bool CheckCharacters() {
    for (m_at = 0; m_at < m_text.size();) {
      unsigned cp = 0;
      const size_t length = DecodeUtf8(m_text, m_at, &cp);
      if (length == 0) return Fail("Not valid UTF-8");
      if (!IsAllowedCharacter(cp)) return Fail("Control character " + CodePoint(cp));
      m_at += length;
    }
    return true;
  }

  // The root element at '<' with all it holds, its elements read in a loop rather than recursively.
  bool ReadElement() {
    for (;;) {
      if (m_open.size() >= static_cast<size_t>(kHostXmlMaxDepth))
        return Fail("XML nested deeper than " + std::to_string(kHostXmlMaxDepth) + " levels");
      ++m_at;
      std::string_view name;
      ReadName(&name);
      bool empty = false;
      if (!ReadAttributes(&empty)) return false;
      if (!empty) m_open.push_back(name);
      if (m_open.empty()) return true;
      if (!ReadContentToStartTag()) return false;
      if (m_open.empty()) return true;
    }
  }

  // Text, references, comments, CDATA, instructions and end tags, up to the next start tag or to
  // the end of the root element.
  bool ReadContentToStartTag() {
    for (;;) {
      if (!ReadText()) return false;
      if (AtEnd()) return Fail("Element without its end tag");
      if (Next("</")) {
        if (!ReadEndTag()) return false;
        if (m_open.empty()) return true;
      } else if (Next("<!--")) {
        if (!SkipPast("<!--", "-->", "Comment without its end")) return false;
      } else if (Next("<![CDATA[")) {
        if (!SkipPast("<![CDATA[", "]]>", "CDATA without its end")) return false;
      } else if (Next("<?")) {
        if (!SkipInstruction()) return false;
      } else if (IsNameStart(Peek(1))) {
        return true;
      } else {
        return Fail("'<' not followed by a name");
      }
    }
  }

  bool ReadAttributes(bool* empty) {
    for (int count = 0;; ++count) {
      const bool spaced = SkipSpace();
      if (AtEnd()) return Fail("Start tag without its end");
      if (Next("/>")) {
        m_at += 2;
        *empty = true;
        return true;
      }
      if (Peek() == '>') {
        ++m_at;
        return true;
      }
      if (!spaced) return Fail("Attribute not separated by a blank");
      if (count >= kHostXmlMaxAttributes)
        return Fail("More than " + std::to_string(kHostXmlMaxAttributes) + " attributes in an element");
      std::string_view name;
      if (!ReadName(&name)) return Fail("Attribute without a name");
      SkipSpace();
      if (Peek() != '=') return Fail("Attribute without '='");
      ++m_at;
      SkipSpace();
      if (!ReadAttributeValue()) return false;
    }
  }

  bool ReadAttributeValue() {
    const char quote = Peek();
    if (quote != '"' && quote != '\'') return Fail("Attribute value not in quotes");
    for (++m_at;;) {
      if (AtEnd()) return Fail("Attribute value without its closing quote");
      const char c = Peek();
      if (c == quote) {
        ++m_at;
        return true;
      }
      if (c == '<') return Fail("'<' in an attribute value");
      if (c == '&') {
        if (!ReadReference()) return false;
      } else {
        ++m_at;
      }
    }
  }

  bool ReadText() {
    while (!AtEnd() && Peek() != '<') {
      if (Peek() == '&') {
        if (!ReadReference()) return false;
      } else {
        ++m_at;
      }
    }
    return true;
  }

  bool ReadEndTag() {
    const size_t start = m_at;
    m_at += 2;
    std::string_view name;
    if (!ReadName(&name) || name != m_open.back()) {
      m_at = start;
      return Fail("End tag does not match its start tag");
    }
    SkipSpace();
    if (Peek() != '>') return Fail("End tag without '>'");
    ++m_at;
    m_open.pop_back();
    return true;
  }

  // One of the five entities of XML, or a reference to a character a package may hold.
  bool ReadReference() {
    const size_t start = m_at++;
    if (Peek() != '#') {
      for (const char* entity : kEntities) {
        if (Next(entity)) {
          m_at += std::strlen(entity);
          return true;
        }
      }
      m_at = start;
      return Fail("Undefined entity");
    }
    ++m_at;
    const bool hex = Peek() == 'x';
    if (hex) ++m_at;
    const int maxDigits = hex ? kMaxHexDigits : kMaxDecimalDigits;
    unsigned value = 0;
    int digits = 0;
    for (int d = DigitValue(Peek(), hex); d >= 0 && digits <= maxDigits; d = DigitValue(Peek(), hex)) {
      value = value * (hex ? 16 : 10) + static_cast<unsigned>(d);
      ++digits;
      ++m_at;
    }
    const bool formed = digits > 0 && digits <= maxDigits && Peek() == ';';
    const bool allowed = formed && IsAllowedCharacter(value);
    m_at = formed ? m_at + 1 : start;
    if (!formed) return Fail("Malformed character reference");
    if (!allowed) {
      m_at = start;
      return Fail("Reference to forbidden character " + CodePoint(value));
    }
    return true;
  }

  // "<?" up to the first '>', which must follow '?'. The library reads the XML declaration by its
  // attributes, whose quoted values may hold a '>', and any other instruction up to the first '>':
  // so a quote is taken only as an attribute's, right after its '=', and a '>' inside quotes, like a
  // quote anywhere else, makes the text refused rather than read differently from the library.
  bool SkipInstruction() {
    char quote = 0;
    char last = 0;  // the last character outside quotes but blanks
    for (size_t i = m_at + 2; i < m_text.size(); ++i) {
      const char c = m_text[i];
      if (c == '<') break;
      if (quote) {
        if (c == '>') break;
        if (c == quote) quote = 0;
        last = c;
      } else if (c == '"' || c == '\'') {
        if (last != '=') break;
        quote = c;
      } else if (c == '>') {
        if (last != '?' || m_text[i - 1] != '?') break;
        m_at = i + 1;
        return true;
      } else if (!IsXmlSpace(c)) {
        last = c;
      }
    }
    return Fail("Processing instruction without a plain '?>'");
  }

  // Past the first `end` after the `opener` at the current place.
  bool SkipPast(std::string_view opener, std::string_view end, const char* failure) {
    const size_t found = m_text.find(end, m_at + opener.size());
    if (found == std::string_view::npos) return Fail(failure);
    m_at = found + end.size();
    return true;
  }

  bool ReadName(std::string_view* name) {
    const size_t start = m_at;
    if (AtEnd() || !IsNameStart(Peek())) return false;
    while (!AtEnd() && IsNameChar(Peek())) ++m_at;
    *name = m_text.substr(start, m_at - start);
    return true;
  }

  // Whether any blank was passed.
  bool SkipSpace() {
    const size_t start = m_at;
    while (!AtEnd() && IsXmlSpace(Peek())) ++m_at;
    return m_at != start;
  }

  bool AtEnd() const { return m_at >= m_text.size(); }
  char Peek(size_t ahead = 0) const { return m_at + ahead < m_text.size() ? m_text[m_at + ahead] : '\0'; }
  bool Next(std::string_view s) const { return m_text.compare(m_at, s.size(), s) == 0; }

  static std::string CodePoint(unsigned cp) {
    char text[16];
    std::snprintf(text, sizeof text, "U+%04X", cp);
    return text;
  }

  bool Fail(const std::string& why) {
    m_why = why;
    return false;
  }

  void Locate(XmlFault* fault) const {
    fault->row = 1;
    size_t rowStart = 0;
    for (size_t i = 0; i < m_at && i < m_text.size(); ++i) {
      if (m_text[i] == '\n') {
        ++fault->row;
        rowStart = i + 1;
      }
    }
    fault->column = static_cast<int>(m_at - rowStart) + 1;
    fault->description = m_why;
  }

  std::string_view m_text;
  size_t m_at = 0;
  std::vector<std::string_view> m_open;  // the names of the open elements, outermost first
  std::string m_why;
};

}  // namespace

bool CheckHostXml(std::string_view text, XmlFault* fault) {
  return StrictReader(text).Read(fault);
}

bool ParseHostXml(TiXmlDocument* document, const char* text, XmlFault* fault) {
  constexpr size_t kLongestUtf8Step = 4;
  document->Clear();
  // A text far beyond the limit is refused without being copied.
  const std::string_view given(text ? text : "", text ? strnlen(text, kHostXmlMaxBytes + 1) : 0);
  if (!CheckHostXml(given, fault)) return false;
  std::string padded(given);
  padded.append(kLongestUtf8Step, '\0');
  document->Parse(padded.c_str(), nullptr, TIXML_ENCODING_UTF8);
  if (!document->Error()) return true;
  if (fault) *fault = XmlFault{document->ErrorRow(), document->ErrorCol(), document->ErrorDesc()};
  return false;
}
