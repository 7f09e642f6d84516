// The programming commands against the virtual printer: the command texts, the refusals that send
// nothing, and the flag bits read from a cached or re-read "S3".
#include "device/programming.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "device/serial_port.h"
#include "platform/codepage.h"
#include "support/device_on_line.h"

namespace {

class Programming : public DeviceOnLine {
 protected:
  Programming() : DeviceOnLine(43, 1500) {}

  void SetUp() override {
    DeviceOnLine::SetUp();
    ctx.nLineWidth = 42;  // the supported printer, as bring-up leaves it
    ctx.pRecodeTable = DeviceRecodeTable(3);
  }
};

TEST_F(Programming, CommandTexts) {
  struct Case {
    std::function<int32_t(FPContext*)> call;
    std::string sent;
  } cases[] = {
      {[](FPContext* c) { return ProgramDate(c, 3, 3, 2026); }, "PG030326"},
      {[](FPContext* c) { return ProgramTime(c, 14, 5, 9); }, "PF140509"},
      {[](FPContext* c) { return SetFooterRow(c, 3, 2, "ABC"); }, "eP32ABC"},
      {[](FPContext* c) { return ProgramHeaderLine(c, 4, plat::Utf8ToCp1251("Кассир").c_str()); },
       "PH4\x8B\xB0\xC2\xC2\xB9\xC1"},
      {[](FPContext* c) { return ProgramFlag(c, 7, 0x106); }, "PJ0706"},  // the low byte only
      {[](FPContext* c) { return ProgramFlagRR(c, 0x5A); }, "PJRR5A"},
      {[](FPContext* c) { return ProgramTimeLimit(c, 12); }, "PZ12"},
      {[](FPContext* c) { return SetPaymentMean(c, 2, 0, plat::Utf8ToCp1251("КАРТА").c_str()); },
       "PE20\x8B\x80\x91\x93\x80         "},
      {[](FPContext* c) { return SetDescriptorText(c, 20, "AB"); }, "PK020AB            "},
      {[](FPContext* c) { return SetDescriptorText(c, 47, std::string(50, 'X').c_str()); },
       "PK047" + std::string(42, 'X')},
      {[](FPContext* c) { return SwitchClock(c, 1); }, "PRcR1"},
      {[](FPContext* c) { return SetBaudRate(c, 3); }, "PR3"},
  };
  for (const Case& c : cases) {
    line.printer.ClearTrace();
    EXPECT_EQ(0, c.call(&ctx)) << c.sent;
    EXPECT_EQ(0, ctx.nLastResult) << c.sent;
    const auto sent = line.Commands("P").empty() ? line.Commands("e") : line.Commands("P");
    ASSERT_EQ(1u, sent.size()) << c.sent;
    EXPECT_EQ(c.sent, sent[0]);
  }
  // What the printer made of them.
  const emu::PrinterState s = line.printer.State();
  EXPECT_EQ("КАРТА", s.programmed.paymentMeans[1]);
  EXPECT_EQ(0x06, s.flags[7]);
  EXPECT_EQ(3, s.programmed.baudCode);
}

TEST_F(Programming, ClockCorrectionOfTheModelThatHasIt) {
  ctx.nVersionMajor = 6;
  line.printer.AddCommand("PRC", [](emu::PrinterState&, const std::string&) { return emu::Reply::Accept(); });
  EXPECT_EQ(0, ProgramDailyClockCorrection(&ctx, -5));
  EXPECT_EQ(0, ProgramDailyClockCorrection(&ctx, 5));
  EXPECT_EQ((std::vector<std::string>{"PRC-05", "PRC 05"}), line.Commands("PRC"));
}

TEST_F(Programming, RefusedArgumentsSendNothing) {
  struct Case {
    const char* what;
    int major;
    std::function<int32_t(FPContext*)> call;
    int32_t code;
  } cases[] = {
      {"header line 9", 11, [](FPContext* c) { return ProgramHeaderLine(c, 9, "A"); }, 21},
      {"header line 0", 11, [](FPContext* c) { return ProgramHeaderLine(c, 0, "A"); }, 21},
      {"header one longer than the line", 11,
       [](FPContext* c) { return ProgramHeaderLine(c, 3, std::string(43, 'A').c_str()); }, 13},
      {"correction 32 s", 6, [](FPContext* c) { return ProgramDailyClockCorrection(c, 32); }, 13},
      {"correction on this model", 11, [](FPContext* c) { return ProgramDailyClockCorrection(c, 5); }, 35},
      {"clock switch 2", 11, [](FPContext* c) { return SwitchClock(c, 2); }, 13},
      {"clock switch, old model", 4, [](FPContext* c) { return SwitchClock(c, 1); }, 35},
      {"descriptor 24", 11, [](FPContext* c) { return SetDescriptorText(c, 24, "A"); }, 33},
      {"flag 23", 11, [](FPContext* c) { return SetFlagBitFP(c, 0, 23); }, 13},
      {"bit 8", 11, [](FPContext* c) { return ClearFlagBitFP(c, 8, 7); }, 13},
  };
  for (const Case& c : cases) {
    line.printer.ClearTrace();
    ctx.nVersionMajor = c.major;
    EXPECT_EQ(c.code, c.call(&ctx)) << c.what;
    EXPECT_EQ(c.code, ctx.nLastResult) << c.what;
    EXPECT_TRUE(line.Commands().empty()) << c.what;
  }
}

TEST_F(Programming, FlagBitFromTheCacheThenFromAFreshS3) {
  ctx.abDeviceFlags[7] = 0x04;
  ctx.bDeviceFlagsValid = 1;
  EXPECT_EQ(0, SetFlagBitFP(&ctx, 1, 7));
  EXPECT_EQ((std::vector<std::string>{"PJ0706"}), line.Commands());
  EXPECT_EQ(0, ctx.bDeviceFlagsValid);

  // The printer now holds 0x06: the next operation reads it back before clearing bit 2.
  line.printer.ClearTrace();
  EXPECT_EQ(0, ClearFlagBitFP(&ctx, 2, 7));
  EXPECT_EQ((std::vector<std::string>{"S3", "PJ0702"}), line.Commands());
  EXPECT_EQ(0x02, line.printer.State().flags[7]);
}

TEST_F(Programming, UnreadableFlagsProgramNothing) {
  line.printer.IgnoreNext(1000);
  ctx.nReadTimeout = 100;
  ASSERT_EQ(0, SetCommTimeoutsFP(&ctx, 100, 100));
  EXPECT_NE(0, SetFlagBitFP(&ctx, 1, 7));
  EXPECT_TRUE(line.Commands("PJ").empty());
}

}  // namespace
