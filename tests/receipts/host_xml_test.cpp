// The strict reading of the host's XML before the library parses it: what a host's package holds is
// taken, and what would exhaust the stack, print garbage or cut a text is refused with its place.
#include "receipts/host_xml.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <string>

namespace {

std::string Nested(int depth, const std::string& inner = "") {
  std::string text;
  for (int i = 0; i < depth; ++i) text += "<a>";
  text += inner;
  for (int i = 0; i < depth; ++i) text += "</a>";
  return text;
}

TEST(StrictHostXml, PackagesAsTheHostWritesThemAreTaken) {
  const std::string cases[] = {
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<CheckPackage>\n  <Parameters CashierName='Иванова' "
      "PaymentType=\"1\"/>\n</CheckPackage>\n",
      "\xEF\xBB\xBF<Document><Positions><TextString Text=\"a &amp; b &lt;c&gt; &quot;d&quot; &apos;\"/>"
      "</Positions></Document>",
      "<!-- the host's comment --><a>\t&#1040;&#x416;\r\n<![CDATA[<b> & ]]><?pi x='1'?></a><!-- after -->",
      "<!DOCTYPE a><a  x = \"1\"\n y='2' ></a >",
      Nested(kHostXmlMaxDepth),
      "",
      "<!-- no root: the library decides -->",
  };
  for (const std::string& text : cases) {
    XmlFault fault;
    EXPECT_TRUE(CheckHostXml(text, &fault)) << text << ": " << fault.description;
  }
}

TEST(StrictHostXml, WhatIsNoPackageIsRefusedWithItsPlace) {
  std::string attributes = "<a";
  for (int i = 0; i <= kHostXmlMaxAttributes; ++i) attributes += " n" + std::to_string(i) + "=\"\"";
  struct Case {
    std::string text;
    int row;
    int column;
    const char* description;
  } cases[] = {
      {Nested(kHostXmlMaxDepth + 1), 1, 3 * kHostXmlMaxDepth + 1, "XML nested deeper than 32 levels"},
      {Nested(50000), 1, 3 * kHostXmlMaxDepth + 1, "XML nested deeper than 32 levels"},
      {std::string(kHostXmlMaxBytes + 1, ' '), 1, static_cast<int>(kHostXmlMaxBytes) + 1,
       "XML longer than 4194304 bytes"},
      {attributes + "/>", 1, static_cast<int>(attributes.find(" n64=")) + 2,
       "More than 64 attributes in an element"},
      {"<a>Tea&nbsp;</a>", 1, 7, "Undefined entity"},
      {"<a x=\"&amp\"/>", 1, 7, "Undefined entity"},
      {"<a x=\"Te&#0;a\"/>", 1, 9, "Reference to forbidden character U+0000"},
      {"<a>&#x1b;</a>", 1, 4, "Reference to forbidden character U+001B"},
      {"<a>&#x110000;</a>", 1, 4, "Reference to forbidden character U+110000"},
      {"<a>&#X41;</a>", 1, 4, "Malformed character reference"},
      {"<a>&#;</a>", 1, 4, "Malformed character reference"},
      {"<a>&#12345678;</a>", 1, 4, "Malformed character reference"},
      {"<a>\nTe\x01</a>", 2, 3, "Control character U+0001"},
      {"<a>\xC2\x85</a>", 1, 4, "Control character U+0085"},
      {"<a>\xC0\xBC</a>", 1, 4, "Not valid UTF-8"},
      {"<a>\xED\xA0\x80</a>", 1, 4, "Not valid UTF-8"},
      {"<a x=1/>", 1, 6, "Attribute value not in quotes"},
      {"<a x=\"1\"y=\"2\"/>", 1, 9, "Attribute not separated by a blank"},
      {"<a x=\"<\"/>", 1, 7, "'<' in an attribute value"},
      {"<a><b></a></b>", 1, 7, "End tag does not match its start tag"},
      {"<a>", 1, 4, "Element without its end tag"},
      {"<a/><b/>", 1, 5, "A second root element"},
      {"<a/>x", 1, 5, "Text after the root element"},
      {"<a>< b/></a>", 1, 4, "'<' not followed by a name"},
      {"<a><!DOCTYPE b></a>", 1, 4, "'<' not followed by a name"},
      {"<![CDATA[ > <!-- ]]><a/>-->", 1, 1, "CDATA outside the root element"},
      // The library would end the declaration at a later quote, where this reading sees a comment.
      {"<?xml a=\"x>\n<!-- \" ?> <a><a> -->", 1, 1, "Processing instruction without a plain '?>'"},
      {"<?pi a\"b\"?><a/>", 1, 1, "Processing instruction without a plain '?>'"},
      {"<a><!-- open </a>", 1, 4, "Comment without its end"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 60));
    XmlFault fault;
    EXPECT_FALSE(CheckHostXml(c.text, &fault));
    EXPECT_EQ(fault.row, c.row);
    EXPECT_EQ(fault.column, c.column);
    EXPECT_EQ(fault.description, c.description);
  }
}

// What the strict reading refused never reaches the library; what it took, the library parses, and
// the library's own refusal comes back as the fault.
TEST(StrictHostXml, ParseHostXmlGivesTheFaultOfEitherReading) {
  TiXmlDocument document;
  XmlFault fault;
  EXPECT_FALSE(ParseHostXml(&document, Nested(50000).c_str(), &fault));
  EXPECT_EQ(document.RootElement(), nullptr);
  EXPECT_FALSE(document.Error());
  EXPECT_EQ(fault.description, "XML nested deeper than 32 levels");

  EXPECT_TRUE(ParseHostXml(&document, "<a x=\"&#1040;\"/>", &fault));
  EXPECT_STREQ(document.RootElement()->Attribute("x"), "\xD0\x90");

  // A text without a root is the library's to judge, as before.
  EXPECT_FALSE(ParseHostXml(&document, "", &fault));
  EXPECT_TRUE(document.Error());
  EXPECT_EQ(fault.description, document.ErrorDesc());
}

}  // namespace
