// Code page conversions: Windows-1251 (the driver's 8-bit strings), UTF-16 and UTF-8.
#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CodePage, Windows1251MatchesKnownCharacters) {
  struct Case {
    const char* utf8;
    std::string cp1251;
  } cases[] = {
      {"Привет, мир!", "\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0!"},
      {"АЯаяЁё", "\xC0\xDF\xE0\xFF\xA8\xB8"},
      {"Чек №12", "\xD7\xE5\xEA \xB9\x31\x32"},
      {"€ — «»", "\x88 \x97 \xAB\xBB"},
      {"ІіЇїЄєҐґЎў", "\xB2\xB3\xAF\xBF\xAA\xBA\xA5\xB4\xA1\xA2"},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(plat::Utf8ToCp1251(c.utf8), c.cp1251);
    EXPECT_EQ(plat::Cp1251ToUtf8(c.cp1251), c.utf8);
  }
}

// Every byte survives 1251 -> UTF-16 -> 1251, so a table entry that is wrong or duplicated shows.
TEST(CodePage, EveryWindows1251ByteRoundTrips) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::u16string wide = plat::Cp1251ToUtf16(all);
  ASSERT_EQ(wide.size(), 256u);
  EXPECT_EQ(plat::Utf16ToCp1251(wide), all);
  EXPECT_EQ(wide[0xB9], u'№');
}

TEST(CodePage, UnmappableCharactersBecomeQuestionMarks) {
  EXPECT_EQ(plat::Utf8ToCp1251("日本"), "??");
  EXPECT_EQ(plat::Utf8ToCp1251("a😀b"), "a?b") << "one character outside the BMP is one '?'";
  EXPECT_EQ(plat::Utf16ToCp1251(std::u16string(u"x\xD800y")), "x?y");
  EXPECT_EQ(plat::Utf8ToCp1251("café Ĳ"), "caf? ?") << "no look-alike letter stands in";
}

TEST(CodePage, Utf8RoundTripsWithSurrogatePairs) {
  const std::string utf8 = "Ж😀𐍈\xF4\x8F\xBF\xBF";  // 2-byte, two 4-byte, and U+10FFFF
  const std::u16string wide = plat::Utf8ToUtf16(utf8);
  EXPECT_EQ(wide, (std::u16string{0x0416, 0xD83D, 0xDE00, 0xD800, 0xDF48, 0xDBFF, 0xDFFF}));
  EXPECT_EQ(plat::Utf16ToUtf8(wide), utf8);
  EXPECT_EQ(plat::Utf16ToUtf8(std::u16string(1, u'\0')), std::string(1, '\0'));
}

// One U+FFFD per maximal ill-formed subsequence; the byte that breaks a sequence starts the next.
TEST(CodePage, MalformedUtf8BecomesReplacementCharacters) {
  struct Case {
    const char* name;
    std::string utf8;
    std::u16string wide;
  } cases[] = {
      {"truncated at end", "a\xD0", u"a\uFFFD"},
      {"truncated before ASCII",
       "\xE2\x82"
       "A",
       u"\uFFFDA"},
      {"lone continuation", "\x80x", u"\uFFFDx"},
      {"overlong slash", "\xC0\xAF", u"\uFFFD\uFFFD"},
      {"overlong 3-byte", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
      {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"invalid lead", "\xFF\xFEz", u"\uFFFD\uFFFDz"},
      {"Cyrillic after damage", "\xD0\xD0\x96", u"\uFFFDЖ"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(plat::Utf8ToUtf16(c.utf8), c.wide);
  }
}

TEST(CodePage, LoneSurrogatesBecomeReplacementInUtf8) {
  EXPECT_EQ(plat::Utf16ToUtf8(std::u16string{u'a', 0xDC00, u'b'}),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(plat::Utf16ToUtf8(std::u16string{0xD83D}), "\xEF\xBF\xBD");
}

}  // namespace
