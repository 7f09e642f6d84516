// The virtual printer's programming commands: what it stores, what it refuses, and the header and
// footer it prints on its tape.
#include "emu/programming.h"

#include <gtest/gtest.h>

#include <string>

#include "command_fixture.h"

namespace {

using emu::Reply;
using emu::TapeLine;

// "Кассир" in the printer's character set, built byte by byte here.
const std::string kCashierDevice = "\x8B\xB0\xC2\xC2\xB9\xC1";
const std::string kBold = "\x7F";

using EmuProgramming = EmuCommands;

TEST_F(EmuProgramming, StoresWhatEachCommandPrograms) {
  EXPECT_TRUE(Accepted("PH3" + kCashierDevice));
  EXPECT_TRUE(Accepted("eP52ABC"));
  EXPECT_TRUE(Accepted("PG030326"));
  EXPECT_TRUE(Accepted("PF140509"));
  EXPECT_TRUE(Accepted("PJ0706"));
  EXPECT_TRUE(Accepted("PJRR5A"));
  EXPECT_TRUE(Accepted("PZ12"));
  EXPECT_TRUE(Accepted("PK047" + kCashierDevice));
  EXPECT_TRUE(Accepted("PE20" + kCashierDevice + "        "));
  EXPECT_TRUE(Accepted("PR3"));
  EXPECT_TRUE(Accepted("PRcR0"));

  const emu::Programmed& p = state.programmed;
  EXPECT_EQ(kCashierDevice, p.headerLines[2]);
  EXPECT_EQ("ABC", p.footerLines[4]);
  EXPECT_EQ(2, p.footerAttributes[4]);
  EXPECT_EQ(3, p.day);
  EXPECT_EQ(3, p.month);
  EXPECT_EQ(26, p.year);
  EXPECT_EQ(14, p.hour);
  EXPECT_EQ(5, p.minute);
  EXPECT_EQ(9, p.second);
  EXPECT_EQ(0x06, state.flags[7]);
  EXPECT_EQ(0x5A, p.flagRR);
  EXPECT_EQ(12, state.maxShiftHours);
  EXPECT_EQ("Кассир", p.descriptors.at(47));
  EXPECT_EQ("Кассир", p.paymentMeans[1]);
  EXPECT_EQ(3, p.baudCode);
  EXPECT_EQ(0, p.clockSwitch);
}

TEST_F(EmuProgramming, RefusesWhatThePrinterRefuses) {
  struct Case {
    std::string text;
    uint8_t error;
  } cases[] = {
      {"PH9ABC", emu::kErrorBadParameter},
      {"PH1" + std::string(43, 'A'), emu::kErrorBadParameter},
      {"eP93ABC", emu::kErrorBadParameter},  // attribute 3 is not a height
      {"PG320126", emu::kErrorBadDateTime},
      {"PG0113", emu::kErrorBadParameter},
      {"PF246000", emu::kErrorBadDateTime},
      {"PJ2301", emu::kErrorBadParameter},
      {"PJ07G1", emu::kErrorBadParameter},
      {"PZ00", emu::kErrorBadParameter},
      {"PR7", emu::kErrorBadParameter},
      {"PRcR2", emu::kErrorBadParameter},
      {"PRC-05", emu::kErrorBadParameter},  // the daily correction of another model
  };
  for (const Case& c : cases) EXPECT_EQ(c.error, Refusal(c.text)) << c.text;
  EXPECT_EQ(std::string(), state.programmed.headerLines[0]);
  EXPECT_EQ(1, state.programmed.baudCode);
}

TEST_F(EmuProgramming, TemplateAndPaymentMeansWaitForAClosedShift) {
  state.shiftOpen = true;
  for (const char* text : {"PH3ABC", "eP30ABC", "PE50ABC"}) EXPECT_EQ(emu::kErrorShiftOpen, Refusal(text)) << text;
  EXPECT_TRUE(Accepted("PJ0706"));  // flags are the driver's to guard
}

TEST_F(EmuProgramming, SmallFontWidensTheLine) {
  const std::string line(56, 'A');
  EXPECT_EQ(emu::kErrorBadParameter, Refusal("PH3" + line));
  state.flags[21] = 0x10;
  EXPECT_TRUE(Accepted("PH3" + line));
}

TEST_F(EmuProgramming, HeaderAndFooterArePrintedAsProgrammed) {
  ASSERT_TRUE(Accepted("PH3ABCD"));
  ASSERT_TRUE(Accepted("PH5" + kBold + "A" + kBold + "B"));
  ASSERT_TRUE(Accepted("eP10" + std::string(16, ' ') + "0123456789"));
  ASSERT_TRUE(Accepted("eP22END"));
  state.flags[4] = 0x40;   // centring
  state.flags[15] = 0x04;  // header line 3 at double height

  emu::PrintHeader(state);
  emu::PrintFooter(state);
  const std::vector<TapeLine> expected = {
      {std::string(19, ' ') + "ABCD", false, true},
      {std::string(19, ' ') + "AB", true, false},
      {std::string(16, ' ') + "0123456789", false, false},
      {"END", false, true},
  };
  EXPECT_EQ(expected, state.tape);
}

}  // namespace
