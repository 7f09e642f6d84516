#include "emu/frame_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using emu::Bytes;
using emu::FrameReader;
using emu::RxUnit;
using Kind = RxUnit::Kind;

std::vector<RxUnit> FeedAll(FrameReader& reader, const Bytes& bytes) {
  std::vector<RxUnit> units;
  for (uint8_t b : bytes) reader.Feed(b, &units);
  return units;
}

TEST(FrameReader, SplitsTheLineIntoUnits) {
  FrameReader reader;
  std::vector<RxUnit> units = FeedAll(reader, {'x', 'y', 0x05, 0x02, 'A', 0x1A, 0x03, 0x58, 0x02, 'B', 0x03, 0x00});
  ASSERT_EQ(units.size(), 4u);
  EXPECT_EQ(units[0].kind, Kind::kNoise);
  EXPECT_EQ(units[0].raw, (Bytes{'x', 'y'}));
  EXPECT_EQ(units[1].kind, Kind::kControl);
  // Inside a frame a control byte is text, and the byte after ETX is always the check character.
  EXPECT_EQ(units[2].kind, Kind::kFrame);
  EXPECT_EQ(units[2].text, std::string("A\x1A"));
  EXPECT_TRUE(units[2].checkOk);
  EXPECT_EQ(units[3].text, "B");
  EXPECT_FALSE(units[3].checkOk);
}

TEST(FrameReader, AbandonedFrameIsDroppedOnlyWhenAskedTo) {
  FrameReader reader;
  std::vector<RxUnit> units = FeedAll(reader, {0x02, 'S'});
  reader.Flush(false, &units);
  EXPECT_TRUE(units.empty());
  EXPECT_TRUE(reader.InFrame());

  reader.Flush(true, &units);
  ASSERT_EQ(units.size(), 1u);
  EXPECT_EQ(units[0].kind, Kind::kNoise);
  EXPECT_EQ(units[0].raw, (Bytes{0x02, 'S'}));
  EXPECT_FALSE(reader.InFrame());
}

TEST(FrameReader, OverlongTextIsNoiseNotAFrame) {
  FrameReader reader;
  Bytes bytes{0x02};
  bytes.insert(bytes.end(), FrameReader::kMaxText + 1, 'A');
  std::vector<RxUnit> units = FeedAll(reader, bytes);
  EXPECT_FALSE(reader.InFrame());
  units = FeedAll(reader, {0x03, 0x03});
  reader.Flush(false, &units);
  ASSERT_EQ(units.size(), 1u);
  EXPECT_EQ(units[0].kind, Kind::kNoise);
}

}  // namespace
