// The information records end to end: each query through ExecTransaction against the virtual
// printer, the records it fills from its state decoded into the context; malformed records; the
// amounts and the character tables.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>

#include "device/info_queries.h"
#include "device/info_records.h"
#include "device/link.h"
#include "device/recode.h"
#include "device/serial_port.h"
#include "emu/records.h"
#include "emu/virtual_printer.h"
#include "platform/codepage.h"
#include "support/device_on_line.h"

namespace {

constexpr int kPort = 42;

class InfoRecordsTest : public DeviceOnLine {
 protected:
  InfoRecordsTest() : DeviceOnLine(kPort, 1500) {}

  void SetUp() override {
    DeviceOnLine::SetUp();
    printer.ModifyState([](emu::PrinterState& s) {
      s.clerk = 3;
      s.shiftNumber = 0x1234;
      s.documentCount = 517;
      s.lastReceiptNumber = 498;
      s.taxRates[2] = 1800;
      s.flags[1] = 0x2A;
      s.flags[21] = 0x10;
      s.flags[22] = 0xC5;
      s.shiftTotals[0] = 123456789;
      s.shiftTotals[7] = -5000;
      s.documentTotal = 99999;
      s.documentPaid = 50000;
      s.deviceError = 41;
      s.fpSubversion = 0x17;
    });
    ctx.nContextKind = 2;
  }

  // The ACKs the printer has read: a status poll after them is answered only once they are read.
  int Acknowledged() {
    EXPECT_EQ(SendChar(&ctx, ctl::ENQ), 0);
    EXPECT_EQ(AcceptData(&ctx, kExpectEnqStatus, false, false), kAnswerStatus);
    return printer.DataFramesAcknowledged();
  }
};

enum class Ack { kAtOnce, kAfterPause, kNone };

TEST_F(InfoRecordsTest, EveryQueryDecodesThePrintersRecord) {
  struct Case {
    const char* name;
    int (*query)(FPContext*);
    Ack ack;
    std::function<void(const FPContext&)> check;
  };
  const Case cases[] = {
      // First: the printer's error code speaks of its last command, and every query is one.
      {"Se", ReadInfoSe, Ack::kAfterPause,
       [](const FPContext& c) {
         EXPECT_EQ(c.nDeviceError, 41);
         EXPECT_EQ(std::string(c.extStatus + 2, 2), "29");  // the error code's nibble characters
       }},
      {"S1", ReadInfo1, Ack::kNone,
       [](const FPContext& c) {
         EXPECT_EQ(c.nS1Length, 118);
         EXPECT_EQ(S1Number(&c, S1Field::kClerk), 3);
         EXPECT_EQ(S1Number(&c, S1Field::kShift), 0x1234);
         EXPECT_EQ(S1Number(&c, S1Field::kDocuments), 517);
         EXPECT_EQ(S1Number(&c, S1Field::kLastReceipt), 498);
         char text[32];
         S1Text(&c, S1Field::kSerial, text, sizeof text);
         EXPECT_STREQ(text, "00240000012345");
         S1Text(&c, S1Field::kTaxpayer, text, sizeof text);
         EXPECT_STREQ(text, "7701234567  ");
         S1Text(&c, S1Field::kRegistration, text, sizeof text);
         EXPECT_STREQ(text, "0000000001012345678 ");
         S1Text(&c, S1Field::kRegistration, text, 5);  // cut to the caller's field
         EXPECT_STREQ(text, "0000");
       }},
      {"S3", ReadInfo3, Ack::kAtOnce,
       [](const FPContext& c) {
         EXPECT_EQ(c.anTaxRates[0], 2000);
         EXPECT_EQ(c.anTaxRates[1], 1000);
         EXPECT_EQ(c.anTaxRates[2], 1800);
         EXPECT_EQ(c.abDeviceFlags[1], 0x2A);
         EXPECT_EQ(c.abDeviceFlags[21], 0x10);
         EXPECT_EQ(c.abDeviceFlags[22], 0xC5);
         EXPECT_EQ(c.bDeviceFlagsValid, 1);
       }},
      {"SI", ReadInfoSI, Ack::kAfterPause,
       [](const FPContext& c) {
         EXPECT_EQ(SIAmount(&c, 0), 99999);
         EXPECT_EQ(SIAmount(&c, 1), 50000);
       }},
      {"Sf", ReadInfoSf, Ack::kAfterPause,
       [](const FPContext& c) {
         EXPECT_EQ(ShiftRecordNumber(c.infoSf), 0x1234);
         EXPECT_EQ(ShiftRecordAmount(c.infoSf, 0), 123456789);
         EXPECT_EQ(ShiftRecordAmount(c.infoSf, 7), -5000);
       }},
      {"Sfm", ReadInfoSfm, Ack::kAfterPause,
       [](const FPContext& c) { EXPECT_EQ(ShiftRecordAmount(c.infoSf, 7), -5000); }},
      {"Sg", ReadInfoSg, Ack::kAfterPause,
       [](const FPContext& c) { EXPECT_EQ(ShiftRecordNumber(c.infoSg), 0x1234); }},
      {"Sh", ReadInfoSh, Ack::kAfterPause,
       [](const FPContext& c) { EXPECT_EQ(std::string(c.infoSh, 6), "Sh4660"); }},
      {"Si", ReadInfoSi, Ack::kAfterPause, [](const FPContext& c) { EXPECT_EQ(c.infoSi[198], ctl::ETX); }},
      {"SNZ1", ReadInfoNZ1, Ack::kAfterPause, [](const FPContext& c) { EXPECT_EQ(c.infoSNZ1[5], ctl::ETX); }},
      {"SR", ReadInfoR, Ack::kAfterPause, [](const FPContext& c) { EXPECT_EQ(c.infoSR[6], ctl::ETX); }},
      {"S{LL", ReadInfoSBraceLL, Ack::kAfterPause,
       [](const FPContext& c) { EXPECT_EQ(c.infoSBraceLL[28], ctl::ETX); }},
      {"S{O", ReadInfoSBraceO, Ack::kAfterPause,
       [](const FPContext& c) { EXPECT_EQ(c.infoSBraceO[104], ctl::ETX); }},
      {"SF", ReadInfoSF0000, Ack::kNone, [](const FPContext& c) { EXPECT_EQ(c.nFpSubversion, 0x17); }},
  };
  int acked = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int pauses = clock.CountSleeps(30);
    EXPECT_EQ(c.query(&ctx), 0);
    c.check(ctx);
    EXPECT_EQ(clock.CountSleeps(30) - pauses, c.ack == Ack::kAfterPause ? 1 : 0);
    acked += c.ack != Ack::kNone;
    EXPECT_EQ(Acknowledged(), acked);
  }
}

TEST_F(InfoRecordsTest, ReceiveLinesShowTheFieldsWithTheKindText) {
  ASSERT_EQ(ReadInfo3(&ctx), 0);
  EXPECT_EQ(log.Count(">recv [02]S32000[0A]1000[0A]1800[0A]0000[0A] 2A 00 "), 1) << log.Text();
  EXPECT_NE(log.Text().find(" 10[0A][03]["), std::string::npos) << "flag 21 is the last one shown";
  ASSERT_EQ(ReadInfo1(&ctx), 0);
  EXPECT_EQ(log.Count(">recv [02]S103[0A]9999078900012345[0A]00000000[0A]4660[0A]00000517[0A]00000498[0A]"
                      "7701234567  [0A]0000000001012345678 [0A]00240000012345[0A]000000[0A]000000[03]["),
            1)
      << log.Text();
  EXPECT_EQ(log.lines.back(), "}ReadInfo1 ret 0");
  EXPECT_TRUE(log.Has("{ReadInfo1"));
}

TEST_F(InfoRecordsTest, VersionBannerIsTranslatedAndTerminated) {
  const std::string banner1251 = plat::Utf8ToCp1251(emu::kBannerFfd105);
  EXPECT_EQ(ExecTransaction(&ctx, "SV", -3, true, false), kRecordVersion);
  EXPECT_STREQ(ctx.infoSV + 2, banner1251.c_str());
  EXPECT_EQ(clock.CountSleeps(30), 1);
  EXPECT_EQ(Acknowledged(), 1);

  // A frame of neither banner length is read to its end and refused without an ACK.
  printer.AnswerNextWithData("SV", std::string(108, 'x'));
  EXPECT_EQ(ExecTransaction(&ctx, "SV", -3, true, false), -5);
  EXPECT_EQ(Acknowledged(), 1);
}

TEST_F(InfoRecordsTest, BannerThatBeginsWith0x95IsStoredBehindSV) {
  const std::string banner = "\x95\x91\x20\x7F" + std::string(31, 'A');
  printer.AnswerNextWithData(banner.substr(0, 4), banner.substr(4));
  EXPECT_EQ(ExecTransaction(&ctx, "SV", -3, true, false), kRecordVersion);
  EXPECT_EQ(std::string(ctx.infoSV, 2), "SV");
  EXPECT_EQ(static_cast<uint8_t>(ctx.infoSV[2]), 0xD4);  // 0x95 in table B
  EXPECT_EQ(std::string(ctx.infoSV + 6), std::string(31, 'A'));
}

TEST_F(InfoRecordsTest, FiscalDriveFormatRecordIsTakenWithoutAck) {
  EXPECT_EQ(ExecTransaction(&ctx, "S\":", -3, true, false), 0);
  EXPECT_EQ(std::string(ctx.infoFdMessage, 6), "040002");
  EXPECT_EQ(ctx.nFdMessageResult, 0);
  EXPECT_EQ(Acknowledged(), 0);
}

TEST_F(InfoRecordsTest, ShortS1FormIsAcknowledgedAtOnce) {
  // Short form: a 14-character registration number and the serial number at 82.
  std::string body = "00\n" + std::string(16, '0') + "\n" + std::string(8, '0') + "\n0042\n00000001\n00000007\n" +
                     "123456789012\n" + "REG45678901234\nSER45678901234\n000000\n000000";
  ASSERT_EQ(body.size() + 2, 110u);
  printer.AnswerNextWithData("S1", body);
  EXPECT_EQ(ReadInfo1(&ctx), 0);
  EXPECT_EQ(ctx.nS1Length, 112);
  char text[32];
  S1Text(&ctx, S1Field::kRegistration, text, sizeof text);
  EXPECT_STREQ(text, "REG45678901234");
  S1Text(&ctx, S1Field::kSerial, text, sizeof text);
  EXPECT_STREQ(text, "SER45678901234");
  EXPECT_EQ(S1Number(&ctx, S1Field::kShift), 42);
  EXPECT_EQ(clock.CountSleeps(30), 0);
  EXPECT_EQ(Acknowledged(), 1);

  printer.AnswerNextWithBadCheck("S1", body);
  EXPECT_EQ(ReadInfo1(&ctx), -5);
  EXPECT_EQ(Acknowledged(), 1);
}

// Whatever is wrong with a record, the result is -5 and nothing is acknowledged.
TEST_F(InfoRecordsTest, MalformedRecordsAreRefusedWithoutAck) {
  const emu::Bytes s3 = emu::S3Record(emu::PrinterState{});
  const std::string s3Body(s3.begin() + 2, s3.end());
  struct Case {
    const char* name;
    std::string header;
    std::string body;
    bool badCheck;
    int (*query)(FPContext*);
  };
  const Case cases[] = {
      {"wrong check character", "S3", s3Body, true, ReadInfo3},
      {"short body", "S3", s3Body.substr(0, 50), false, ReadInfo3},
      {"wrong ETX place (one byte long)", "SR", "12345", false, ReadInfoR},
      // With nothing after "Sh" or "S{" the frame's last two bytes are the header's own; a correct
      // check character there would make it a status frame, so only a spoiled one reaches them.
      {"Sh with no byte after the header", "Sh", "", true, ReadInfoSh},
      {"Sh with one byte after the header", "Sh", "0", false, ReadInfoSh},
      {"S{ with no byte after the header", "S{", "", true, ReadInfoSBraceLL},
      {"refused header", "S{O?", "0000", false, ReadInfoSBraceO},
      {"unknown kind letter", "Sq", "0000", false, ReadInfo3},
      {"another record than asked for", "SR", "1234", false, ReadInfo3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int acked = Acknowledged();
    if (c.badCheck) {
      printer.AnswerNextWithBadCheck(c.header, c.body);
    } else {
      printer.AnswerNextWithData(c.header, c.body);
    }
    EXPECT_EQ(c.query(&ctx), -5);
    // A well-formed record of another kind is acknowledged like any record before it is refused.
    EXPECT_EQ(Acknowledged() - acked, std::string(c.name) == "another record than asked for" ? 1 : 0);
  }
}

// A rate field is a number with blanks around it, or it reads as 0: a damaged field must never
// pass for another rate.
TEST_F(InfoRecordsTest, TaxRateFieldsAreNumbersOrZero) {
  printer.AddCommand("S3", [](emu::PrinterState& s, const std::string&) {
    emu::Bytes record = emu::S3Record(s);
    const char* fields[4] = {"2000", "12 3", " 180", "-1  "};
    for (int i = 0; i < 4; ++i) std::memcpy(&record[2 + 5 * i], fields[i], 4);
    return emu::Reply::Data(std::string(record.begin(), record.end()));
  });
  EXPECT_EQ(ReadInfo3(&ctx), 0);
  EXPECT_EQ(ctx.anTaxRates[0], 2000);
  EXPECT_EQ(ctx.anTaxRates[1], 0);
  EXPECT_EQ(ctx.anTaxRates[2], 180);
  EXPECT_EQ(ctx.anTaxRates[3], 0);
}

TEST_F(InfoRecordsTest, AckInsteadOfARecordIsNotAnError) {
  printer.AddCommand("S3", [](emu::PrinterState&, const std::string&) { return emu::Reply::Accept(); });
  EXPECT_EQ(ReadInfo3(&ctx), 0);
  EXPECT_EQ(GetBasicS3Info(&ctx), 0);
  EXPECT_EQ(ctx.bDeviceFlagsValid, 0);
}

TEST_F(InfoRecordsTest, GetBasicMapsAStatusAnswer) {
  printer.RefuseNext(3);  // command error: status byte 1 0x50
  EXPECT_EQ(GetBasicInfo(&ctx), 13);
  EXPECT_EQ(ctx.nLastResult, 13);
  EXPECT_EQ(log.lines.back(), "}GetBasicInfo ret 13");
}

TEST_F(InfoRecordsTest, ShLengthFollowsTheFirmware) {
  printer.ModifyState([](emu::PrinterState& s) { s.banner = emu::kBannerFfd100; });
  ctx.nContextKind = 1;
  EXPECT_EQ(ReadInfoSh(&ctx), 0);
  EXPECT_EQ(ctx.infoSh[198], ctl::ETX);
  EXPECT_EQ(ctx.infoSh[200], 0) << "nothing of a longer record is left behind";
}

// A record shorter than the longest its layout allows (the older firmware's Sh where the wide
// layout allows more, the short form of S1) is taken as soon as its check character has come, not
// when the line has been quiet for the one-second interval.
TEST_F(InfoRecordsTest, RecordShorterThanItsLayoutIsTakenOnceWhole) {
  printer.ModifyState([](emu::PrinterState& s) { s.banner = emu::kBannerFfd100; });
  const std::string shortS1 =
      "00\n" + std::string(16, '0') + "\n" + std::string(8, '0') +
      "\n0042\n00000001\n00000007\n123456789012\nREG45678901234\nSER45678901234\n000000\n000000";
  struct Case {
    const char* name;
    std::function<int(FPContext*)> read;
    std::function<void()> stage;
  };
  const Case cases[] = {
      {"Sh", ReadInfoSh, [] {}},
      {"short S1", ReadInfo1, [&] { printer.AnswerNextWithData("S1", shortS1); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.stage();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(c.read(&ctx), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(700));
  }
  EXPECT_EQ(ctx.infoSh[198], ctl::ETX);
  EXPECT_EQ(ctx.nS1Length, 112);
}

TEST(InfoRecordValues, NeutralS1BeforeAnyRecord) {
  FPContext ctx;
  EXPECT_EQ(S1Number(&ctx, S1Field::kShift), 0);
  char text[8];
  S1Text(&ctx, S1Field::kShift, text, sizeof text);
  EXPECT_STREQ(text, "0000");
  S1Text(&ctx, S1Field::kClerk, text, sizeof text);
  EXPECT_STREQ(text, "00");
}

TEST(InfoRecordValues, AmountsAtTheirLimits) {
  struct Case {
    const char* field;  // six bytes as nibble characters
    int64_t kopecks;
  };
  const Case cases[] = {
      {"0000>8030000", 1000},
      {"????????????", -1},
      {"008000000000", -(int64_t{1} << 47)},
      {"??7?????????", (int64_t{1} << 47) - 1},
      {"010000000000", int64_t{1} << 32},
      {"000000000080", int64_t{0x80000000}},
      {"000000000000", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    EXPECT_EQ(DecodeAmount48(c.field), c.kopecks);
    emu::Bytes encoded;
    emu::AppendAmount(&encoded, c.kopecks);
    EXPECT_EQ(std::string(encoded.begin(), encoded.end()), c.field) << "the printer writes it the same way";
  }
}

TEST(CharacterTables, FromDeviceByGeneration) {
  struct Case {
    int major;
    uint8_t device;
    uint8_t ansi;
  };
  const Case cases[] = {
      {11, 0x80, 0xC0}, {11, 0xFC, 0xB9}, {11, 0x00, 0x00}, {3, 0x00, 0x20}, {3, 0xFC, 0x20},
      {11, 0x86, 0xA8}, {11, 0xB6, 0xB8}, {11, 0xD2, '0'},  {11, 0xE5, '9'}, {11, 0xF0, '='},
      {11, 0xAE, 0x96}, {11, 0x1F, 0x20}, {11, 'A', 'A'},
  };
  FPContext ctx;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.major << " " << int{c.device});
    ctx.nVersionMajor = c.major;
    char b = static_cast<char>(c.device);
    RecodeFromDevice(&ctx, &b, 1);
    EXPECT_EQ(static_cast<uint8_t>(b), c.ansi);
  }
}

TEST(CharacterTables, EveryLetterRoundTripsThroughTheSupportedModelsTable) {
  FPContext ctx;
  ctx.nVersionMajor = 11;
  ctx.pRecodeTable = DeviceRecodeTable(3);
  std::string letters;
  for (int b = 0xC0; b <= 0xFF; ++b) letters += static_cast<char>(b);
  letters += "\xA8\xB8\xB9\x96\x97 Text 123";
  std::string text = letters;
  RecodeToDevice(&ctx, text.data(), static_cast<int>(text.size()));
  EXPECT_EQ(text.substr(0, 2), "\x80\x81");
  RecodeFromDevice(&ctx, text.data(), static_cast<int>(text.size()));
  EXPECT_EQ(text, letters);
}

TEST(CharacterTables, ToDeviceTablesAndLineBreaks) {
  struct Case {
    int table;
    uint8_t ansi;
    uint8_t device;
  };
  const Case cases[] = {
      {3, 0x80, 0xFB}, {1, 0x80, 0xF4}, {2, 0x80, 0xE7}, {1, 0xB9, 0xA7}, {3, 0xB9, 0xFC},
      {1, 0xBE, 0x20}, {3, 0xBE, 0xFB}, {3, 0xB1, 0xA5}, {3, 0x85, 0x20}, {2, 0xC6, 0x87},
  };
  FPContext ctx;
  EXPECT_EQ(ctx.pRecodeTable, DeviceRecodeTable(1)) << "table 1 until the model is known";
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.table << " " << int{c.ansi});
    ctx.pRecodeTable = DeviceRecodeTable(c.table);
    char b = static_cast<char>(c.ansi);
    RecodeToDevice(&ctx, &b, 1);
    EXPECT_EQ(static_cast<uint8_t>(b), c.device);
  }
  std::string text = "a\r\nb";
  RecodeToDevice(&ctx, text.data(), 4);
  EXPECT_EQ(text, "a  b");
  ctx.pRecodeTable = DeviceRecodeTable(0);
  text = "\xC0\n";
  RecodeToDevice(&ctx, text.data(), 2);
  EXPECT_EQ(text, "\xC0\n") << "no table: sent as it is";
}

TEST(CharacterTables, PrintersBannersReadAsTheirModelTexts) {
  FPContext ctx;
  ctx.nVersionMajor = 1;  // recognition translates before the model is known
  for (const char* banner : {emu::kBannerFfd105, emu::kBannerFfd100}) {
    const emu::Bytes device = emu::DeviceText(banner);
    std::string text(device.begin(), device.end());
    RecodeFromDevice(&ctx, text.data(), static_cast<int>(text.size()));
    EXPECT_EQ(text, plat::Utf8ToCp1251(banner));
  }
}

}  // namespace
