// CopyText, through which every text reaches a fixed field: bounded, always ended, and right when
// the text is the field itself or a part of it.
#include "device/text_field.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(CopyText, BoundedEndedAndSafeOnItself) {
  char field[8];
  std::memset(field, 'x', sizeof field);
  EXPECT_EQ(CopyText(field, "Иванова И.И."), 7u);  // cut to the field, not past it
  EXPECT_EQ(field[7], '\0');
  EXPECT_EQ(CopyText(field, "abcdef", 3), 3u);
  EXPECT_STREQ(field, "abc");
  EXPECT_EQ(CopyText(field, nullptr), 0u);
  EXPECT_STREQ(field, "");

  // The field handed back to itself, and its own tail moved to its start.
  CopyText(field, "Petrov");
  EXPECT_EQ(CopyText(field, field), 6u);
  EXPECT_STREQ(field, "Petrov");
  CopyText(field, field + 2);
  EXPECT_STREQ(field, "trov");
  // A text that starts before the field's end and runs on into it.
  char both[16] = "0123456789";
  CopyText(both + 2, 6, both);
  EXPECT_STREQ(both + 2, "01234");
}

}  // namespace
