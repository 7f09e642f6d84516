// The receipt, printing and payment commands against the virtual printer: the exact bytes of each
// command, the refusals that send nothing, the cashier's rests and the second look a doubtful
// payment gets.
#include "device/receipt_commands.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "device/info_records.h"
#include "device/payment_commands.h"
#include "device/print_commands.h"
#include "emu/records.h"
#include "platform/codepage.h"
#include "support/device_on_line.h"

namespace {

using Call = std::function<int32_t(FPContext*)>;

const std::string kMaxPrice(8, '\xFF');

// Text in the printer's character set, as the virtual printer writes it.
std::string Device(const char* utf8) {
  const emu::Bytes b = emu::DeviceText(utf8);
  return std::string(b.begin(), b.end());
}

// A position with every field of the tag block given, and the block the printer must receive.
CheckPosition FullPosition() {
  CheckPosition p;
  p.nSignCalculationObject = 1;
  p.nSignMethodCalculation = 4;
  snprintf(p.szMeasurementUnit, sizeof p.szMeasurementUnit, "kg");
  p.abGoodCode[0] = 0x54;
  p.abGoodCode[1] = 0x08;
  p.abGoodCode[3] = 0xAB;
  p.nAgentSignMask = 0x10;
  AgentBlock& a = p.agent;
  snprintf(a.szMoneyTransferOperatorPhone, sizeof a.szMoneyTransferOperatorPhone, "+71");
  snprintf(a.szPayingAgentOperation, sizeof a.szPayingAgentOperation, "op");
  snprintf(a.szPayingAgentPhone, sizeof a.szPayingAgentPhone, "+72");
  snprintf(a.szReceivePaymentsOperatorPhone, sizeof a.szReceivePaymentsOperatorPhone, "+73");
  snprintf(a.szMoneyTransferOperatorName, sizeof a.szMoneyTransferOperatorName, "N");
  snprintf(a.szMoneyTransferOperatorAddress, sizeof a.szMoneyTransferOperatorAddress, "A");
  snprintf(a.szMoneyTransferOperatorVATIN, sizeof a.szMoneyTransferOperatorVATIN, "7701234567  ");
  snprintf(a.szPurveyorPhone, sizeof a.szPurveyorPhone, "+74");
  snprintf(a.szPurveyorName, sizeof a.szPurveyorName, "S");
  snprintf(a.szPurveyorVATIN, sizeof a.szPurveyorVATIN, "123456789012");
  return p;
}

const std::string kFullTagBlock = std::string("\xDA\x84") + "01" + "\xDA\x86" + "04" + "\xDA\x75" + "kg" +
                                  "\xD9\xD2" + "540800:;" + "\xDA\x8E" + "10" + "\xD8\x7B" + "+71" +
                                  "\xD8\x5C" + "op" + "\xD8\x79" + "+72" + "\xD8\x7A" + "+73" + "\xD8\x4A" +
                                  "N" + "\xD8\x35" + "A" + "\xD8\x40" + "7701234567  " + "\xDA\x5B" + "+74" +
                                  "\xDA\x91" + "S" + "\xDA\x92" + "123456789012";

class ReceiptCommands : public DeviceOnLine {
 protected:
  ReceiptCommands() : DeviceOnLine(47, 1500) {}

  void SetUp() override {
    DeviceOnLine::SetUp();
    ctx.nLineWidth = 42;
    ctx.nMaxItemNameLength = 64;
    ctx.pRecodeTable = DeviceRecodeTable(3);
  }

  // The last command frame the printer received after `call`, other than the password and status
  // traffic around it.
  std::string Sent(const Call& call, int32_t* result = nullptr) {
    printer.ClearTrace();
    const int32_t r = call(&ctx);
    if (result) *result = r;
    const std::vector<std::string> all = line.Commands();
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
      if (it->compare(0, 1, "W") != 0 && *it != "e") return *it;
    }
    return "";
  }
};

TEST_F(ReceiptCommands, CommandTexts) {
  const CheckPosition full = FullPosition();
  CheckPosition method3;
  method3.nSignMethodCalculation = 3;
  CheckPosition twoCodeBytes;
  twoCodeBytes.abGoodCode[0] = 0x12;
  twoCodeBytes.abGoodCode[1] = 0x34;
  const std::string cyrillic = plat::Utf8ToCp1251("Чай");
  const std::string chaiDevice = Device("Чай");
  struct Case {
    const char* what;
    Call call;
    std::string sent;
  } cases[] = {
      // The price field: ordinary digits up to 99,999,999, then the characters after '9'.
      {"price 0", [](FPContext* c) { return SaleItemEx2(c, 1, 1000, 0, 1, "A", nullptr); },
       "!0000000000001000"
       "01A"},
      {"price 1", [](FPContext* c) { return SaleItemEx2(c, 1, 1000, 1, 1, "A", nullptr); },
       "!0000000100001000"
       "01A"},
      {"price 99,999,999", [](FPContext* c) { return SaleItemEx2(c, 1, 1000, 99999999, 1, "A", nullptr); },
       "!9999999900001000"
       "01A"},
      {"price 100,000,000", [](FPContext* c) { return SaleItemEx2(c, 1, 1000, 100000000, 1, "A", nullptr); },
       "!:000000000001000"
       "01A"},
      {"largest price", [](FPContext* c) { return SaleItemEx2(c, 1, 1000, 2299999977, 1, "A", nullptr); },
       "!" + kMaxPrice +
           "00001000"
           "01A"},
      // The operation letter carries the tax group; a negative price or quantity is sent positive.
      {"group 0", [](FPContext* c) { return SaleItemEx2(c, 0, 1500, 250, 2, "B", nullptr); },
       " 0000025000001500"
       "02B"},
      {"group 2", [](FPContext* c) { return SaleItemEx2(c, 2, 1, 250, 12, "B", nullptr); },
       "\"0000025000000001"
       "12B"},
      {"group 3", [](FPContext* c) { return SaleItemEx2(c, 3, 1000, 250, 1, "B", nullptr); },
       "#0000025000001000"
       "01B"},
      {"group 4", [](FPContext* c) { return SaleItemEx2(c, 4, 1000, 250, 1, "B", nullptr); },
       "$0000025000001000"
       "01B"},
      {"group 5", [](FPContext* c) { return SaleItemEx2(c, 5, 1000, 250, 1, "B", nullptr); },
       "%0000025000001000"
       "01B"},
      {"negative sale", [](FPContext* c) { return SaleItemEx2(c, 2, -1000, -250, 1, "B", nullptr); },
       "\xA2"
       "0000025000001000"
       "01B"},
      {"name recoded", [&](FPContext* c) { return SaleItemEx2(c, 1, 1000, 5, 1, cyrillic.c_str(), nullptr); },
       "!0000000500001000"
       "01" +
           chaiDevice},
      {"name cut",
       [](FPContext* c) { return SaleItemEx2(c, 1, 1000, 5, 1, std::string(70, 'n').c_str(), nullptr); },
       "!0000000500001000"
       "01" +
           std::string(64, 'n')},
      // Returns: 'd', the group letter on this printer, "00000000" for no quantity.
      {"return group 0", [](FPContext* c) { return ReturnItemEx(c, 0, 2000, 300, 1, "R", nullptr); },
       "d0000030000002000"
       "01R"},
      {"return group 3", [](FPContext* c) { return ReturnItemEx(c, 3, 2000, 300, 1, "R", nullptr); },
       "dc0000030000002000"
       "01R"},
      {"return negative", [](FPContext* c) { return ReturnItemEx(c, 1, 1000, -300, 1, "R", nullptr); },
       "\xE4"
       "a0000030000001000"
       "01R"},
      {"return of no quantity", [](FPContext* c) { return ReturnItemEx(c, 5, 0, 300, 1, "R", nullptr); },
       "de0000030000000000"
       "01R"},
      {"return, largest price",
       [](FPContext* c) { return ReturnItemEx(c, 0, 1000, 2299999977, 1, "R", nullptr); },
       "d" + kMaxPrice +
           "00001000"
           "01R"},
      // The tag block.
      {"every tag", [&](FPContext* c) { return SaleItemEx2(c, 1, 1000, 100, 1, "T", &full); },
       "!0000010000001000"
       "01T" +
           kFullTagBlock},
      {"return with every tag", [&](FPContext* c) { return ReturnItemEx(c, 1, 1000, 100, 1, "T", &full); },
       "da0000010000001000"
       "01T" +
           kFullTagBlock},
      {"method other than 4", [&](FPContext* c) { return SaleItemEx2(c, 1, 1000, 100, 1, "T", &method3); },
       "!0000010000001000"
       "01T\xDB\x86"
       "03"},
      {"product code of two bytes",
       [&](FPContext* c) { return SaleItemEx2(c, 1, 1000, 100, 1, "T", &twoCodeBytes); },
       "!0000010000001000"
       "01T\xD9\xD2"
       "1234"},
      // Discount and markup lines.
      {"discount", [](FPContext* c) { return AbsoluteCorrectionText(c, 250, "\x7F"); },
       " 000000000000000094" + Device("СКИДКА ") + "\x7F" + std::string(15, ' ') + std::string(9, ' ') +
           "2.50"},
      {"markup", [](FPContext* c) { return AbsoluteCorrectionText(c, -12345, nullptr); },
       " 000000000000000094" + Device("НАЦЕНКА") + "\x7F" + std::string(15, ' ') + std::string(7, ' ') +
           "123.45"},
      {"long correction text",
       [](FPContext* c) { return AbsoluteCorrectionText(c, 100, "0123456789abcdefXYZ"); },
       " 000000000000000094" + Device("СКИДКА ") + " 0123456789abcde" + std::string(9, ' ') + "1.00"},
      // Payments: "f" returns every type but 8 on the newer firmwares, which return it with "K".
      {"pay", [](FPContext* c) { return Pay(c, 8, 123456); }, "L80000123456"},
      {"pay2", [](FPContext* c) { return Pay2(c, 1, 9999999999.0); }, "L19999999999"},
      {"pay the rest", [](FPContext* c) { return PayAuto(c, 7); }, "17"},
      {"return pay", [](FPContext* c) { return ReturnPay(c, 1, 5000000000); }, "f15000000000"},
      {"return pay of cash, old firmware", [](FPContext* c) { return ReturnPay(c, 8, 700); }, "f80000000700"},
      {"return pay of cash, subversion 11",
       [](FPContext* c) {
         c->nFpSubversion = 11;
         return ReturnPay(c, 8, 700);
       },
       "K80000000700"},
      {"return pay2 of cash, 1.05 firmware",
       [](FPContext* c) {
         c->nContextKind = 2;
         return ReturnPay2(c, 8, 700.0);
       },
       "K80000000700"},
      {"return pay2 of another type",
       [](FPContext* c) {
         c->nContextKind = 2;
         return ReturnPay2(c, 1, 700.0);
       },
       "f10000000700"},
      {"cash in", [](FPContext* c) { return MoneyIn(c, 8, 5000000000); }, "9185000000000"},
      {"cash out", [](FPContext* c) { return MoneyOut(c, 8, 1); }, "9080000000001"},
      {"cash in2", [](FPContext* c) { return MoneyIn2(c, 8, 12.4); }, "9180000000012"},
      {"cash out2", [](FPContext* c) { return MoneyOut2(c, 8, 12.6); }, "9080000000013"},
      {"total", [](FPContext* c) { return MoneyInOutTotal(c); }, "t"},
      {"drawer", [](FPContext* c) { return DrawerOpen(c); }, "w"},
      // Receipt header switches.
      {"tax system", [](FPContext* c) { return SetTaxVariant(c, 2); }, "mC"},
      {"purchase mode", [](FPContext* c) { return SetSalePurchaseMode(c, 1); }, "m1"},
      {"blank order header", [](FPContext* c) { return SetExtraDocData(c, 0, 0, 0, nullptr); },
       "*" + std::string(29, ' ')},
      {"order header", [](FPContext* c) { return SetExtraDocData(c, 42, 0, 7, "x"); },
       "*00042   007x" + std::string(17, ' ')},
      {"kept zeros",
       [](FPContext* c) {
         c->anKeepZeroExtra[1] = 1;
         return SetExtraDocData(c, 0, 0, 0, "");
       },
       "*     000   " + std::string(18, ' ')},
      {"return order header", [](FPContext* c) { return SetExtraDocDataSaleUndo(c, 0, 5, 0, ""); },
       "j     005   " + std::string(18, ' ')},
      {"order text", [](FPContext* c) { return SetExtraDocData2(c, "12", "", "", ""); },
       "*   12      " + std::string(18, ' ')},
      {"long order text", [](FPContext* c) { return SetExtraDocData2(c, "1234567", "0", "9", "t"); },
       "**1234567" + std::string(10, ' ') + "9t" + std::string(16, ' ')},
      {"return order text", [](FPContext* c) { return SetExtraDocDataSaleUndo2(c, "0", "1", "2", ""); },
       "j       1  2" + std::string(18, ' ')},
      {"stop extra lines", [](FPContext* c) { return StopExtraTextLines(c); }, "Pp0"},
      // Attributes and tags.
      {"attribute cut to its length", [](FPContext* c) { return SetTextAttribute(c, 19, "1234567890123"); },
       "P@19123456789012"},
      {"attribute 0", [](FPContext* c) { return SetTextAttribute(c, 0, " x"); }, "P@00 "},
      {"tag 1057", [](FPContext* c) { return SetTagData(c, 1057, "\x04", false, false, 1); },
       "Su(02104"
       "04"},
      {"text tag", [](FPContext* c) { return SetTagData(c, 1192, "AB", true, true, -1); }, "Su)1:804AB"},
      {"registration attribute", [](FPContext* c) { return SetRegAttribute(c, 1225, true, 1, "SHOP", -1); },
       "Sum0\xDB\x91SHOP"},
      {"registration attribute up to 1000",
       [](FPContext* c) { return SetRegAttribute(c, 1000, true, 0, "", 0); }, "Sum"},
      // Text and codes.
      {"line", [](FPContext* c) { return PrintLine(c, "abc", false, false); },
       "80abc" + std::string(39, ' ') + "0"},
      {"last line, other end", [](FPContext* c) { return PrintLine(c, "abc", true, true); },
       "81abc" + std::string(39, ' ') + "1"},
      {"text before the end",
       [](FPContext* c) { return TextBeforeEndCheck(c, std::string(50, 'z').c_str()); },
       "1!" + std::string(42, 'z')},
      {"text before a return's end", [](FPContext* c) { return TextBeforeEndCheckUndo(c, "q"); }, "f!q"},
      {"EAN-13 in a receipt", [](FPContext* c) { return PrintEAN13Code(c, "460123456789", false, true); },
       "1\"903212460123456789\""},
      {"EAN-8 outside, last line", [](FPContext* c) { return PrintEAN8Code(c, "1234567", true, false); },
       "81903213"
       "1234567\""},
      {"CODE39 outside", [](FPContext* c) { return PrintCODE39Code(c, "AB-1", false, false); },
       "80903214AB-1\""},
      {"QR in a receipt", [](FPContext* c) { return PrintQRCode(c, 2, 2, 3, "http://x", false, true); },
       "1\"http://x\xA3"},
      {"QR of system 1 outside", [](FPContext* c) { return PrintQRCode(c, 1, 3, 15, "q", false, false); },
       "80q\xFF"},
      {"card details", [](FPContext* c) { return CardAuthData(c, "1234", "OK"); },
       "c1234" + std::string(21, ' ') + "OK" + std::string(23, ' ')},
  };
  for (const Case& c : cases) {
    ctx.nFpSubversion = 0;
    ctx.nContextKind = 1;
    memset(ctx.anKeepZeroExtra, 0, sizeof ctx.anKeepZeroExtra);
    EXPECT_EQ(c.sent, Sent(c.call)) << c.what;
  }
}

TEST_F(ReceiptCommands, RefusalsSendNothing) {
  const CheckPosition full = FullPosition();
  CheckPosition huge = FullPosition();
  memset(huge.agent.szPurveyorName, 'P', sizeof huge.agent.szPurveyorName - 1);
  struct Case {
    const char* what;
    int major;
    Call call;
    int32_t code;
    int32_t returned;
  } cases[] = {
      {"price past the field", 11,
       [](FPContext* c) { return SaleItemEx2(c, 1, 1000, 2299999978, 1, "A", nullptr); }, 39, 39},
      {"return price past the field", 11,
       [](FPContext* c) { return ReturnItemEx(c, 1, 1000, -2299999978, 1, "A", nullptr); }, 39, 39},
      {"item longer than the link takes", 11,
       [&](FPContext* c) { return SaleItemEx2(c, 1, 1000, 1, 1, std::string(64, 'n').c_str(), &huge); }, 5,
       5},
      {"return longer than the link takes", 11,
       [&](FPContext* c) { return ReturnItemEx(c, 1, 1000, 1, 1, std::string(64, 'n').c_str(), &huge); }, 5,
       5},
      {"tax system 6", 11, [](FPContext* c) { return SetTaxVariant(c, 6); }, 13, 13},
      {"mode 2", 11, [](FPContext* c) { return SetSalePurchaseMode(c, 2); }, 13, 13},
      {"mode on model 8", 8, [](FPContext* c) { return SetSalePurchaseMode(c, 1); }, 35, 35},
      {"order number past 99999", 11, [](FPContext* c) { return SetExtraDocData(c, 100000, 0, 0, ""); }, 34,
       34},
      {"order part past 999", 11, [](FPContext* c) { return SetExtraDocData(c, 1, 1000, 0, ""); }, 34, 34},
      {"order header on model 2", 2, [](FPContext* c) { return SetExtraDocData(c, 1, 0, 0, ""); }, 35, 35},
      {"return header on model 4", 4, [](FPContext* c) { return SetExtraDocDataSaleUndo(c, 1, 0, 0, ""); },
       35, 35},
      {"order text on model 3", 3, [](FPContext* c) { return SetExtraDocData2(c, "1", "", "", ""); }, 35, 35},
      {"empty attribute", 11, [](FPContext* c) { return SetTextAttribute(c, 4, ""); }, 13, 0},
      {"attribute 2", 11, [](FPContext* c) { return SetTextAttribute(c, 2, "x"); }, 13, 13},
      {"attribute 22", 11, [](FPContext* c) { return SetTextAttribute(c, 22, "x"); }, 13, -5},
      {"attribute on model 9", 9, [](FPContext* c) { return SetTextAttribute(c, 4, "x"); }, 35, 35},
      {"tag data on model 9", 9, [](FPContext* c) { return SetTagData(c, 1057, "\x04", false, false, 1); },
       35, 35},
      {"tag past 1295", 11, [](FPContext* c) { return SetRegAttribute(c, 1296, true, 0, "x", -1); }, 13, 0},
      {"binary value of no length", 11,
       [](FPContext* c) { return SetRegAttribute(c, 1057, false, 0, "x", -1); }, 13, 0},
      {"empty text before the end", 11, [](FPContext* c) { return TextBeforeEndCheck(c, ""); }, 0, 0},
      {"EAN-13 of 11 digits", 11, [](FPContext* c) { return PrintEAN13Code(c, "12345678901", false, true); },
       13, 13},
      {"EAN-8 of 9 digits", 11, [](FPContext* c) { return PrintEAN8Code(c, "123456789", false, true); }, 13,
       13},
      {"CODE39 of 141", 11,
       [](FPContext* c) { return PrintCODE39Code(c, std::string(141, '1').c_str(), false, true); }, 13, 13},
      {"QR of system 3", 11, [](FPContext* c) { return PrintQRCode(c, 3, 0, 0, "q", false, true); }, 13, 13},
      {"QR of 253 characters", 11,
       [](FPContext* c) { return PrintQRCode(c, 2, 0, 0, std::string(253, 'q').c_str(), false, true); }, 13,
       13},
      {"payment past ten digits", 11, [](FPContext* c) { return Pay(c, 8, 10000000000); }, 13, 13},
      {"negative payment", 11, [](FPContext* c) { return ReturnPay(c, 8, -1); }, 13, 13},
      {"payment2 past ten digits", 11, [](FPContext* c) { return Pay2(c, 8, 9999999999.5); }, 13, 13},
      {"payment type of two digits", 11, [](FPContext* c) { return MoneyIn(c, 10, 1); }, 13, 13},
      {"clerk without a secret", 11, [](FPContext* c) { return OpenFP(c, 2); }, 26, 26},
      {"clerk 17", 11, [](FPContext* c) { return OpenFP(c, 17); }, 22, 22},
  };
  for (const Case& c : cases) {
    printer.ClearTrace();
    ctx.nVersionMajor = c.major;
    EXPECT_EQ(c.returned, c.call(&ctx)) << c.what;
    EXPECT_EQ(c.code, ctx.nLastResult) << c.what;
    EXPECT_TRUE(printer.TraceEntries().empty()) << c.what;
  }
  // The longest item that fits goes out whole.
  ctx.nVersionMajor = 11;
  EXPECT_EQ(
      "!0000000100001000"
      "01n" +
          kFullTagBlock,
      Sent([&](FPContext* c) { return SaleItemEx2(c, 1, 1000, 1, 1, "n", &full); }));
}

// Logging on opens the cashier's session; the printer then needs its rest. Logging on again, or off
// with no session, sends nothing.
TEST_F(ReceiptCommands, CashierSession) {
  ctx.anClerkSecrets[0] = 3;
  ctx.anClerkSecrets[1] = 12345;
  printer.ModifyState([](emu::PrinterState& s) { s.clerks[1].secret = 12345; });
  EXPECT_EQ(0, OpenFP(&ctx, 1)) << log.Text();
  EXPECT_EQ((std::vector<std::string>{"W  472913", "o0312345"}), line.Commands());
  EXPECT_EQ(1, clock.CountSleeps(3300));
  EXPECT_TRUE(printer.State().shiftOpen);
  EXPECT_EQ(1, printer.State().clerk);

  printer.ClearTrace();
  EXPECT_EQ(0, OpenFP(&ctx, 1));
  EXPECT_TRUE(line.Commands().empty());

  EXPECT_EQ(0, CloseFP(&ctx));
  EXPECT_EQ((std::vector<std::string>{"W  472913", "zz"}), line.Commands());
  EXPECT_EQ(2, clock.CountSleeps(3300));
  EXPECT_TRUE(log.Has("*CloseFP: Start Default Delay"));
  EXPECT_TRUE(log.Has("*CloseFP: End Default Delay"));
  EXPECT_FALSE(printer.State().shiftOpen);

  printer.ClearTrace();
  EXPECT_EQ(0, CloseFP(&ctx));
  EXPECT_TRUE(line.Commands().empty());

  // A POS number outside 1..98 logs on as POS 1.
  ctx.anClerkSecrets[0] = 99;
  printer.ClearTrace();
  EXPECT_EQ(0, OpenFP(&ctx, 1));
  EXPECT_EQ("o0112345", line.Commands().back());
}

TEST_F(ReceiptCommands, SafeOpenProgramsTheClerkThenLogsItOn) {
  ctx.nContextKind = 2;
  printer.ModifyState([](emu::PrinterState& s) { s.passwordEntered = true; });
  EXPECT_EQ(0, SafeOpenFP2(&ctx, 0, 1, "Ivanov", 0, "770123456789")) << log.Text();
  const std::vector<std::string> sent = line.Commands();
  ASSERT_GE(sent.size(), 4u);
  EXPECT_EQ(0, sent[sent.size() - 4].compare(0, 2, "PC"));
  EXPECT_EQ(
      "PC*77012345678910"
      "1",
      sent[sent.size() - 3]);
  EXPECT_EQ(0, sent.back().compare(0, 1, "o"));
  const emu::PrinterState s = printer.State();
  EXPECT_TRUE(s.shiftOpen);
  EXPECT_EQ("770123456789", s.clerks[1].taxpayerNumber);
}

// The drive's last document, and the shift it belongs to: the "Sf" record counts closed shifts
// only, so while one is open the receipt's shift is the one after them, on either firmware.
TEST_F(ReceiptCommands, ReceiptAndSessionNumbers) {
  struct Case {
    bool open;
    int32_t contextKind;
  } cases[] = {{false, 1}, {true, 1}, {false, 2}, {true, 2}};
  for (const Case& c : cases) {
    printer.ModifyState([&](emu::PrinterState& s) {
      s.shiftNumber = 7;
      s.shiftOpen = c.open;
      s.fd.lastDocumentNumber = 70000;
    });
    ctx.nContextKind = c.contextKind;
    uint32_t document = 0;
    int32_t session = 0;
    EXPECT_EQ(0, GetCheckAndSession(&ctx, &document, &session)) << log.Text();
    EXPECT_EQ(70000u, document);
    EXPECT_EQ(7, session) << c.open << c.contextKind;
  }
}

class PaymentOutcome : public ReceiptCommands {
 protected:
  // The next command of `prefix` is taken (or not) with the answer of a paper end, and leaves the
  // receipt closed or open.
  void PaperEndOn(const std::string& prefix, bool receiptStaysOpen) {
    printer.AddCommand(prefix, [receiptStaysOpen](emu::PrinterState& s, const std::string&) {
      s.paperEnd = true;
      s.fiscalReceiptOpen = receiptStaysOpen;
      s.receiptOpen = false;
      return emu::Reply::Refuse(62, 0);
    });
    printer.ModifyState([](emu::PrinterState& s) { s.fiscalReceiptOpen = true; });
  }
};

TEST_F(PaymentOutcome, PaperEndAfterAPaymentThatClosedTheReceiptIsSuccess) {
  PaperEndOn("L", false);
  EXPECT_EQ(0, Pay(&ctx, 8, 100));
  EXPECT_EQ(0, ctx.nLastResult);
  EXPECT_EQ(0, clock.CountSleeps(1100));
}

TEST_F(PaymentOutcome, PaperEndWithTheReceiptStillOpenIsReported) {
  PaperEndOn("L", true);
  EXPECT_EQ(15, Pay(&ctx, 8, 100));
  EXPECT_EQ(0, clock.CountSleeps(1100));
}

// The close check of a return payment looks at the receipt bit alone: a fiscal receipt bit does
// not keep it from counting as made.
TEST_F(PaymentOutcome, ReturnPaymentLooksAtTheReceiptBitOnly) {
  PaperEndOn("f", true);
  EXPECT_EQ(0, ReturnPay(&ctx, 8, 100));
}

// Cash in and out: a frame the printer took counts, without asking it.
TEST_F(PaymentOutcome, CashTakenByThePrinterCountsWithoutAStatus) {
  PaperEndOn("91", true);
  printer.ClearTrace();
  EXPECT_EQ(0, MoneyIn(&ctx, 8, 100));
  EXPECT_EQ(0, clock.CountSleeps(1100));
}

TEST_F(PaymentOutcome, OtherFailuresRestBeforeReporting) {
  printer.RefuseNext(47);
  EXPECT_EQ(13, Pay(&ctx, 8, 100));
  EXPECT_EQ(1, clock.CountSleeps(1100));
}

}  // namespace
