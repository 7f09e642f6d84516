// The registration-data queries against the virtual printer: what each answer leaves in the
// context, and the answers the decoders refuse (short, wrong prefix, wrong check character, an
// error of the fiscal drive, another model, a text with no query waiting) without an ACK and
// without touching the fields. Texts longer than their fields are cut and terminated.
#include "device/reg_data.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "device/link.h"
#include "device/status.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "support/device_on_line.h"

namespace {

// Bytes as nibble characters, as the printer writes them.
std::string Nibbles(const std::string& bytes) {
  std::string out;
  for (unsigned char b : bytes) {
    out += static_cast<char>(0x30 + (b >> 4));
    out += static_cast<char>(0x30 + (b & 0x0F));
  }
  return out;
}

// The body of a "Su#" answer behind its four header bytes "Su#0": the rest of the drive message
// header with `code`, the 48 data bytes and a check value.
std::string RegDataBody(uint8_t code, const std::string& date) {
  std::string data = date + "770123456789" + "0000000001012345678 " + std::string("\x05\x21\x00", 3) +
                     std::string("\x02\x01\x00\x00", 4) + std::string("\xD2\x02\x96\x49", 4);
  return "4" + Nibbles(std::string("\x31\x00", 2) + static_cast<char>(code) + data + "\x12\x34");
}

class RegData : public DeviceOnLine {
 protected:
  RegData() : DeviceOnLine(45, 300) {}

  void SetUp() override {
    DeviceOnLine::SetUp();
    ctx.nContextKind = 2;
    ctx.pRecodeTable = DeviceRecodeTable(3);
  }

  // The data frames the printer has seen acknowledged, once a status poll has passed them.
  int Acknowledged() {
    EXPECT_EQ(GetStatus(&ctx, false), kAnswerStatus);
    return printer.DataFramesAcknowledged();
  }
};

TEST_F(RegData, AnswersFromThePrintersRegistration) {
  const emu::PrinterState s = printer.State();
  const plat::CalendarTime t = plat::LocalTimeOf(s.registration.dateTime);
  char date[24];
  snprintf(date, sizeof date, "%4.4d-%2.2d-%2.2dT%2.2d:%2.2d:00", t.year, t.month, t.day, t.hour, t.minute);
  printer.ModifyState([](emu::PrinterState& p) {
    p.registration.automatNumber = "AUTO-42";
    p.registration.agentSigns = 0x41;
    p.registration.activityFlags = 0x05;
    p.fd.taxSystems = 0x21;
  });

  EXPECT_EQ(GetRegData(&ctx, true), 0);
  EXPECT_EQ(line.Commands().back(), "Su#1");
  EXPECT_STREQ(ctx.szFnRegDateTime, date);
  EXPECT_STREQ(ctx.szFnUserInn, "7701234567  ");
  EXPECT_STREQ(ctx.szFnKktRegNumber, "0000000001012345678 ");
  EXPECT_EQ(ctx.nFnTaxSystems, 0x21);
  EXPECT_EQ(ctx.nFnWorkModes, 0x20);
  EXPECT_EQ(ctx.nFnRegDocNumber, 1u);
  EXPECT_STREQ(ctx.szFnRegDocNumber, "1");
  EXPECT_STREQ(ctx.szFnRegFiscalSign, "1234567890");
  EXPECT_TRUE(log.Count(">recv [02]Su#0431") == 1);
  EXPECT_EQ(GetRegData(&ctx, false), 0);
  EXPECT_EQ(line.Commands().back(), "Su#");

  EXPECT_EQ(GetAutomatNum(&ctx), 0);
  EXPECT_STREQ(ctx.szAutomatNumber, "AUTO-42");

  struct Text {
    char selector;
    const char* field;
    const char* utf8;
  } texts[] = {
      {'0', ctx.szOfdInn, "7704211201"},
      {'2', ctx.szPlaceSettle, "Магазин №1"},
      {'3', ctx.szSenderEmail, "kassa@example.ru"},
      {'4', ctx.szOfdName, "ООО \"Оператор\""},
      {'5', ctx.szOrganizationName, "ООО \"Ромашка\""},
      {'6', ctx.szAddressSettle, "г. Москва, ул. Тверская, 1"},
  };
  for (const Text& x : texts) {
    SCOPED_TRACE(x.selector);
    EXPECT_EQ(GetRegData2AInfo(&ctx, x.selector), 0);
    EXPECT_EQ(line.Commands().back(), std::string("Su*") + x.selector);
    EXPECT_EQ(x.field, plat::Utf8ToCp1251(x.utf8));
    EXPECT_EQ(ctx.nRegTextSelector, '\xFF');
  }

  EXPECT_EQ(GetRegDataMinusInfo(&ctx, 1060), 0);
  EXPECT_EQ(line.Commands().back(), "Su-l");
  EXPECT_STREQ(ctx.szRegTagText, "www.nalog.gov.ru");

  EXPECT_EQ(GetRegSBraceFlags(&ctx), 0);
  EXPECT_EQ(line.Commands().back(), "S{_");
  EXPECT_EQ(ctx.nAgentSigns, 0x41);
  EXPECT_EQ(ctx.nActivityFlags, 0x05);
  // "Su>" alone goes unacknowledged.
  EXPECT_EQ(Acknowledged(), 10);
}

TEST_F(RegData, MalformedAnswersAreRefusedWithoutAckOrStore) {
  const std::string good = RegDataBody(0, "\x1A\x03\x0F\x0A\x1E");
  struct Case {
    const char* name;
    std::string header;
    std::string body;
    bool badCheck;
    std::function<int(FPContext*)> query;
  } cases[] = {
      {"Su# short", "Su#0", good.substr(0, 60), false, [](FPContext* c) { return GetRegData(c, false); }},
      {"Su# one byte long", "Su#0", good + "0", false, [](FPContext* c) { return GetRegData(c, false); }},
      {"Su# wrong check character", "Su#0", good, true, [](FPContext* c) { return GetRegData(c, false); }},
      {"Su# wrong prefix", "Su#1", good, false, [](FPContext* c) { return GetRegData(c, false); }},
      {"Su# drive error", "Su#0", RegDataBody(0x02, "\x1A\x03\x0F\x0A\x1E"), false,
       [](FPContext* c) { return GetRegData(c, false); }},
      {"Su# error alone", "Su#0", "4" + Nibbles(std::string("\x01\x00\x02\x12\x34", 5)), false,
       [](FPContext* c) { return GetRegData(c, false); }},
      {"Su> without ETX in its place", "Su>1", "234", true, GetAutomatNum},
      {"Su* without a query", "Su*A", "BCD", false,
       [](FPContext* c) { return GetRegDataMinusInfo(c, 1060); }},
      {"Su* wrong check character", "Su*A", "BCD", true,
       [](FPContext* c) { return GetRegData2AInfo(c, '4'); }},
      {"Su- wrong check character", "Su-7", "7", true,
       [](FPContext* c) { return GetRegDataMinusInfo(c, 1060); }},
      {"SN piece short", "SN1A", "BC", false, [](FPContext* c) { return GetRegData2AInfo(c, '2'); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    strcpy(ctx.szFnUserInn, "KEEP");
    strcpy(ctx.szAutomatNumber, "KEEP");
    strcpy(ctx.szOfdName, "KEEP");
    strcpy(ctx.szRegTagText, "KEEP");
    strcpy(ctx.szPlaceSettle, "KEEP");
    const int acked = Acknowledged();
    if (c.badCheck) {
      printer.AnswerNextWithBadCheck(c.header, c.body);
    } else {
      printer.AnswerNextWithData(c.header, c.body);
    }
    EXPECT_EQ(c.query(&ctx), -5);
    EXPECT_EQ(Acknowledged() - acked, 0);
    for (const char* field :
         {ctx.szFnUserInn, ctx.szAutomatNumber, ctx.szOfdName, ctx.szRegTagText, ctx.szPlaceSettle}) {
      EXPECT_STREQ(field, "KEEP");
    }
    EXPECT_EQ(ctx.nRegTextSelector, '\xFF');
  }

  // The same well-formed answer is taken from the supported model only.
  ctx.nVersionMinor = 0;
  printer.AnswerNextWithData("Su#0", good);
  EXPECT_EQ(GetRegData(&ctx, false), -5);
  ctx.nVersionMinor = 1;
  printer.AnswerNextWithData("Su#0", good);
  EXPECT_EQ(GetRegData(&ctx, false), 0);
  EXPECT_STREQ(ctx.szFnRegDateTime, "2026-03-15T10:30:00");
}

TEST_F(RegData, DateOutsideTheCalendarLeavesTheTextEmpty) {
  const char* dates[] = {"\x1A\x0D\x0F\x0A\x1E", "\x1A\x03\x00\x0A\x1E", "\x1A\x03\x0F\x18\x1E",
                         "\x1A\x03\x0F\x0A\x3C", "\xFF\xFF\xFF\xFF\xFF"};
  for (const char* date : dates) {
    strcpy(ctx.szFnRegDateTime, "stale");
    printer.AnswerNextWithData("Su#0", RegDataBody(0, std::string(date, 5)));
    EXPECT_EQ(GetRegData(&ctx, false), 0);
    EXPECT_STREQ(ctx.szFnRegDateTime, "");
    EXPECT_STREQ(ctx.szFnRegDocNumber, "258");  // the rest of the answer is taken
  }
}

TEST_F(RegData, LongTextsAreCutToTheirFieldsAndTerminated) {
  // Exactly the field's size (13 characters into char[13]), and past it.
  printer.AnswerNextWithData("Su*1", std::string(12, '2'));
  EXPECT_EQ(GetRegData2AInfo(&ctx, '0'), 0);
  EXPECT_EQ(std::string(ctx.szOfdInn), "1" + std::string(11, '2'));
  // The longest answer: 256 bytes behind the header, ETX and check character included.
  printer.AnswerNextWithData("Su*X", std::string(254, 'Y'));
  EXPECT_EQ(GetRegData2AInfo(&ctx, '3'), 0);
  EXPECT_EQ(std::string(ctx.szSenderEmail), "X" + std::string(63, 'Y'));
  printer.AnswerNextWithData("Su*X", std::string(254, 'Z'));
  EXPECT_EQ(GetRegData2AInfo(&ctx, '4'), 0);
  EXPECT_EQ(std::string(ctx.szOfdName), "X" + std::string(254, 'Z'));
  printer.AnswerNextWithData("Su>1", "2345678901234567890");
  EXPECT_EQ(GetAutomatNum(&ctx), 0);
  EXPECT_STREQ(ctx.szAutomatNumber, "123456789012");
  const std::string tag = Nibbles(std::string(200, 'w'));
  printer.AnswerNextWithData("Su-" + tag.substr(0, 1), tag.substr(1, 253));
  EXPECT_EQ(GetRegDataMinusInfo(&ctx, 1060), 0);
  EXPECT_EQ(std::string(ctx.szRegTagText), std::string(127, 'w'));
}

TEST_F(RegData, PiecesOfThePlaceOfSettlementAreAppendedUntilItIsFull) {
  strcpy(ctx.szPlaceSettle, "Place");
  printer.AnswerNextWithPiece("SN1A", "BC000000");
  // After the piece the printer reports its status, as after its own ENQ.
  EXPECT_EQ(GetRegData2AInfo(&ctx, '2'), kAnswerStatus);
  EXPECT_STREQ(ctx.szPlaceSettle, "Place 1ABC");
  EXPECT_TRUE(log.Has(">recv [05] (ENQ)"));

  memset(ctx.szPlaceSettle, 'x', 253);
  ctx.szPlaceSettle[253] = '\0';
  printer.AnswerNextWithPiece("SN2D", "EF000000");
  GetRegData2AInfo(&ctx, '2');
  EXPECT_EQ(strlen(ctx.szPlaceSettle), 256u);
  EXPECT_EQ(std::string(ctx.szPlaceSettle + 253), " 2D");

  // Not from a model with the narrower context.
  ctx.nContextKind = 1;
  printer.AnswerNextWithPiece("SN3G", "HI000000");
  EXPECT_EQ(GetRegData2AInfo(&ctx, '2'), -5);
  EXPECT_EQ(std::string(ctx.szPlaceSettle + 253), " 2D");
}

}  // namespace
