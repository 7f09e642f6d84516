// The XML packages the host sends (check, correction and text-document packages, InputParameters,
// ParametersFiscal), taken only when they are well formed and within the limits of a host's
// package. The XML library parses recursively and accepts much that is not XML (undefined
// entities, references to characters XML has not, elements nested without end), so every text is
// read once by a strict reader of its own before the library sees it: a text nested deeper than any
// package of the host is refused in time linear in its length, before it can exhaust the stack of
// the host's thread (1 MiB on Windows), and a reference that would cut a name or an entity that
// would print as garbage never reaches a document.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

class TiXmlDocument;

// The host's packages are a few levels deep and carry a dozen attributes an element; these limits
// leave them ample room and keep the library's recursion and its attribute lookups small.
constexpr size_t kHostXmlMaxBytes = size_t{4} << 20;
constexpr int kHostXmlMaxDepth = 32;
constexpr int kHostXmlMaxAttributes = 64;

// Where and why a package was not read, as the XML library reports a parse error: row and column
// from 1 (bytes in the row), and an English description for the log.
struct XmlFault {
  int row = 0;
  int column = 0;
  std::string description;
};

// Why `text` is no package the driver reads: false with the place and the reason when it is longer
// than kHostXmlMaxBytes, nested deeper than kHostXmlMaxDepth, has an element with more than
// kHostXmlMaxAttributes attributes, is not valid UTF-8, has a control character (raw or as a
// reference) other than tab, line feed and carriage return, an undefined entity, or is otherwise
// not well formed XML. Text without a root element is left to the library.
bool CheckHostXml(std::string_view text, XmlFault* fault);

// Parses a package the host sent (UTF-8; null is an empty text) into `document`, after
// CheckHostXml. The XML library steps over a UTF-8 character by the length its first byte
// announces, so the text is parsed from a copy followed by enough zero bytes for the longest step.
// False with the fault (the library's own when it refused the text).
bool ParseHostXml(TiXmlDocument* document, const char* text, XmlFault* fault);
