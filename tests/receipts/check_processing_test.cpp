// ProcessCheck against the virtual printer: the commands a receipt becomes, the numbers and fiscal
// sign the host gets back, the refusals before anything is printed, the cancels that keep the
// failing step's code, and the outcome after a lost answer decided by the fiscal drive.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "device/info_queries.h"
#include "driver/com_text.h"
#include "driver/mirel_driver.h"
#include "emu/access.h"
#include "receipts/check_package.h"
#include "receipts/receipt_printer.h"
#include "support/check_package_text.h"

namespace {

const std::string kBlankOrder = "*" + std::string(29, ' ');

// What the host gets back from one ProcessCheck.
struct Outcome {
  bool result = false;
  LONG checkNumber = -1;
  LONG sessionNumber = -1;
  std::string fiscalSign;
  int32_t code = -1;
};

class CheckProcessing : public ReceiptPrinter<52> {
 protected:
  Outcome Process(const std::string& package, bool electronically = false) {
    Outcome o;
    BSTR sign = nullptr;
    BSTR site = nullptr;
    StartHostCall(ctx);  // as the add-in does for every call
    o.result = driver.ProcessCheck("7", electronically ? 1 : 0, package.c_str(), &o.checkNumber,
                                   &o.sessionNumber, &sign, &site);
    o.fiscalSign = BstrToCp1251(sign);
    o.code = ctx->nLastResult;
    SysFreeString(sign);
    SysFreeString(site);
    return o;
  }
};

const std::string kSale = Package("1", Item("1", "5.00", "5.00"), "Cash=\"6.00\"");

TEST_F(CheckProcessing, ASaleBecomesItsCommandsAndTheDrivesNumbers) {
  snprintf(ctx->szAddressSiteInspections, sizeof ctx->szAddressSiteInspections, "nalog.ru");
  const Outcome o = Process(kSale);
  ASSERT_TRUE(o.result) << o.code << "\n" << log.Text();
  const std::vector<std::string> sent = ReceiptCommands(line.Commands());
  ASSERT_EQ(7u, sent.size());
  EXPECT_EQ("mA", sent[0]);
  EXPECT_EQ("m0", sent[1]);
  EXPECT_EQ(kBlankOrder, sent[2]);
  EXPECT_EQ("P@00 ", sent[3]);
  EXPECT_EQ("P@18nalog.ru", sent[4]);
  // Tax group 1, 500 kopecks, 1000 thousandths, department 1, the name; its tags follow.
  EXPECT_EQ(0u, sent[5].find("!000005000000100001Tea")) << sent[5];
  // The cash payment of 6.00 ended the receipt (the printer gives the change): no "t".
  EXPECT_EQ("L80000000600", sent[6]);

  const emu::PrinterState s = line.printer.State();
  ASSERT_EQ(1u, s.fd.documents.size());
  EXPECT_EQ(static_cast<LONG>(s.fd.documents.back().number), o.checkNumber);
  EXPECT_EQ(std::to_string(s.fd.documents.back().fiscalSign), o.fiscalSign);
  EXPECT_EQ(3, o.sessionNumber);
  EXPECT_EQ(0, driver.m_nDocumentType);
}

TEST_F(CheckProcessing, RefusedBeforeAnythingIsPrinted) {
  struct Case {
    const char* name;
    std::function<void(emu::PrinterState&)> state;
    std::string package;
    int32_t code;
  } cases[] = {
      {"shift closed", [](emu::PrinterState& s) { s.shiftOpen = false; }, kSale, 115},
      {"paper end", [](emu::PrinterState& s) { s.paperEnd = true; }, kSale, 15},
      {"not XML", [](emu::PrinterState&) {}, "<CheckPackage><Parameters>", 121},
      {"no Parameters", [](emu::PrinterState&) {}, "<CheckPackage/>", 121},
      {"tax rate not programmed", [](emu::PrinterState& s) { s.taxRates[2] = s.taxRates[3] = 1000; },
       Package("1", Item("1", "5", "5", "0"), "Cash=\"5\""), 12},
      {"more by card than the items cost", [](emu::PrinterState&) {},
       Package("1", Item("1", "100", "100"), "ElectronicPayment=\"110\""), 149},
      {"less paid than the items cost", [](emu::PrinterState&) {},
       Package("1", Item("1", "42.50", "42.50"), "Cash=\"20.00\""), 111},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    line.printer.ModifyState(c.state);
    line.printer.ClearTrace();
    const Outcome o = Process(c.package);
    EXPECT_FALSE(o.result);
    EXPECT_EQ(c.code, o.code);
    EXPECT_TRUE(ReceiptCommands(line.Commands()).empty());
    EXPECT_TRUE(line.Commands("!").empty());
    EXPECT_EQ(0, driver.m_nDocumentType);
    line.printer.ModifyState([](emu::PrinterState& s) {
      s.shiftOpen = true;
      s.paperEnd = false;
    });
  }
  EXPECT_TRUE(log.Has("*ProcessCheck: Session is closed"));
  EXPECT_EQ(0u, DriveDocuments());
}

// Cashless payments above the items' sum are refused before any receipt is opened; nothing is left
// open for whoever comes next, and the next receipt is made whole.
TEST_F(CheckProcessing, CardAboveTheSumCancelsTheReceipt) {
  const Outcome refused = Process(Package("1", Item("1", "100", "100"), "ElectronicPayment=\"110\""));
  EXPECT_FALSE(refused.result);
  EXPECT_EQ(149, refused.code);
  EXPECT_TRUE(line.Commands("L").empty());
  EXPECT_EQ(0, driver.m_nDocumentType);
  EXPECT_EQ(0, line.printer.State().documentType);

  const Outcome next = Process(kSale);
  EXPECT_TRUE(next.result) << next.code << "\n" << log.Text();
  EXPECT_EQ(1u, DriveDocuments());
  EXPECT_EQ(1u, line.printer.State().closedReceipts.size());
  EXPECT_EQ(500, line.printer.State().closedReceipts.back().total);
}

// A printer whose own total of the open receipt is not what the items came to (it lost a line of
// its own) is not paid: the receipt is cancelled and the host told 100.
TEST_F(CheckProcessing, AReceiptThePrinterTotalsDifferentlyIsNotPaid) {
  line.printer.AfterNextCommand(
      "!", [](emu::PrinterState& s) { s.documentTotal -= 100; }, 0);
  const Outcome o = Process(kSale);
  EXPECT_FALSE(o.result);
  EXPECT_EQ(100, o.code);
  EXPECT_TRUE(line.Commands("L").empty());
  EXPECT_EQ(0u, DriveDocuments());
  EXPECT_EQ(0, line.printer.State().documentType);
  EXPECT_TRUE(log.Has("*PaymentCheck: The printer's receipt differs from the registered one"));
}

// A return paid with 120.00 in cash for 100.00 of items: the two cash lines, 100.00 paid back.
TEST_F(CheckProcessing, AReturnPaidWithTooMuchCashPaysBackItsCost) {
  line.printer.ModifyState([](emu::PrinterState& s) { s.shiftTotals[7] = 100000; });
  const Outcome o = Process(Package("2", Item("1", "100", "100"), "Cash=\"120\""));
  ASSERT_TRUE(o.result) << o.code << "\n" << log.Text();
  const std::vector<std::string> lines = line.Commands("f!");
  ASSERT_EQ(2u, lines.size());
  for (const std::string& l : lines) EXPECT_EQ(2u + 42u, l.size()) << l;
  EXPECT_EQ(lines[0].size() - 7, lines[0].rfind("*120.00"));
  EXPECT_EQ(lines[1].size() - 6, lines[1].rfind("*20.00"));
  EXPECT_EQ((std::vector<std::string>{"f80000010000"}), line.Commands("f8"));
  EXPECT_EQ(1u, DriveDocuments());
  EXPECT_EQ(90000, line.printer.State().shiftTotals[7]);
}

// An electronic receipt: the printer's printing is off during the receipt and on again after it,
// whether the receipt was made or not.
TEST_F(CheckProcessing, PrintingSwitchIsPutBackWhateverTheOutcome) {
  for (const bool fails : {false, true}) {
    SCOPED_TRACE(fails ? "receipt fails" : "receipt made");
    uint8_t during = 0;
    line.printer.AfterNextCommand(
        "m0", [&during](emu::PrinterState& s) { during = s.flags[3]; }, 0);
    if (fails) line.printer.RefuseNextOf("L", 0x21);
    const Outcome o = Process(Electronic(kSale), true);
    EXPECT_EQ(!fails, o.result) << o.code << "\n" << log.Text();
    if (fails) {
      EXPECT_NE(0, o.code);
    }
    EXPECT_EQ(0x20, during & 0x20);
    EXPECT_EQ(0, line.printer.State().flags[3] & 0x20);
  }
  EXPECT_EQ(1u, DriveDocuments());
}

// The texts and barcodes follow the payments. A printer that closes a sale once it is paid refuses
// them; one that keeps it open prints them inside the receipt and closes it on "t". Either way the
// receipt the fiscal drive made is what the host is told of.
TEST_F(CheckProcessing, TextsAndBarcodesAfterThePaymentsAndEmptyTextsSkipped) {
  const std::string positions = Item("1", "5", "5") + "<TextString Text=\"\"/><TextString Text=\"Thanks\"/>" +
                                "<Barcode BarcodeType=\"EAN13\" Barcode=\"4601234567890\"/>";
  for (const bool closesAtOnce : {true, false}) {
    SCOPED_TRACE(closesAtOnce ? "paid sale closes at once" : "paid sale stays open for its texts");
    line.printer.ModifyState([&](emu::PrinterState& s) { s.paidSaleClosesAtOnce = closesAtOnce; });
    line.printer.ClearTrace();
    const size_t documentsBefore = DriveDocuments();
    const Outcome o = Process(Package("1", positions, "ElectronicPayment=\"2\" Cash=\"3\""));
    EXPECT_TRUE(o.result) << o.code << "\n" << log.Text();
    EXPECT_TRUE(log.Has("*ProcessCheck: Tag \"TextString\"->\"Text\" error"));
    EXPECT_EQ(1u, line.Commands("1!Thanks").size());
    EXPECT_EQ(1u, line.Commands("1\"").size());
    const std::vector<std::string> sent = line.Commands();
    EXPECT_EQ(closesAtOnce ? 0 : 1, std::count(sent.begin(), sent.end(), "t"));
    EXPECT_EQ(documentsBefore + 1, DriveDocuments());
    const emu::PrinterState s = line.printer.State();
    EXPECT_EQ(static_cast<LONG>(s.fd.documents.back().number), o.checkNumber);
    const std::vector<std::string>& lines = s.closedReceipts.back().lines;
    const bool textInReceipt = std::find(lines.begin(), lines.end(), "1!Thanks") != lines.end();
    EXPECT_EQ(!closesAtOnce, textInReceipt);
  }
}

// The host's price and sum have the discount in them, and the printer takes the discount line off
// the item: the item goes in before the discount, so that the receipt's total is the host's sum.
TEST_F(CheckProcessing, ADiscountLeavesTheItemAtTheHostsSum) {
  const std::string positions =
      "<FiscalString Name=\"Coffee\" Quantity=\"3\" PriceWithDiscount=\"33.33\" SumWithDiscount=\"99.99\""
      " DiscountSum=\"10.00\" Tax=\"20\" Department=\"1\"/>" +
      Item("1", "5.00", "5.00");
  const Outcome o = Process(Package("1", positions, "Cash=\"104.99\""));
  ASSERT_TRUE(o.result) << o.code << "\n" << log.Text();
  const emu::PrinterState s = line.printer.State();
  ASSERT_EQ(1u, s.closedReceipts.size());
  const emu::Receipt& r = s.closedReceipts[0];
  EXPECT_EQ(10499, r.total);
  EXPECT_EQ(0, r.change);  // paid exactly what the host asked for
  ASSERT_EQ(2u, r.items.size());
  EXPECT_EQ(3666, r.items[0].price);  // 3 x 36.66 = 109.98, less the line's 9.99
  EXPECT_EQ(9999, r.items[0].sum);
  EXPECT_EQ(1u, line.Commands(" 000000000000000094").size());
}

// A closing after which the fiscal drive still shows the number from before made no fiscal
// document: the host is told so, never given an empty fiscal sign with True.
TEST_F(CheckProcessing, NoNewDocumentInTheDriveIsAFailure) {
  line.printer.AfterNextCommand(
      "L",
      [](emu::PrinterState& s) {
        s.fd.documents.pop_back();
        --s.fd.lastDocumentNumber;
      },
      0);
  const Outcome o = Process(kSale);
  EXPECT_FALSE(o.result);
  EXPECT_NE(0, o.code);
  EXPECT_TRUE(log.Has("*ProcessCheck: Operation failed"));
}

// Faults in the middle of a receipt, each followed by a receipt on the healthy line: the host is
// told True exactly as often as the fiscal drive made a document.
TEST_F(CheckProcessing, TheHostIsToldWhatTheFiscalDriveMade) {
  ASSERT_EQ(0, SetCommTimeoutsFP(ctx, 150, 150));
  struct Case {
    const char* name;
    std::function<void(emu::VirtualPrinter&)> inject;
    bool made;
  } cases[] = {
      {"line dropped after the closing payment was taken",
       [](emu::VirtualPrinter& p) {
         p.AfterNextCommand(
             "L8", [](emu::PrinterState&) {}, 6);
       },
       true},
      {"line dropped before the payment",
       [](emu::VirtualPrinter& p) {
         p.AfterNextCommand(
             "!", [](emu::PrinterState&) {}, 6);
       },
       false},
      {"paper end after an item",
       [](emu::VirtualPrinter& p) {
         p.AfterNextCommand(
             "!", [](emu::PrinterState& s) { s.paperEnd = true; }, 0);
       },
       false},
      {"payment refused", [](emu::VirtualPrinter& p) { p.RefuseNextOf("L8", 0x21); }, false},
      {"printer restarted after an item",
       [](emu::VirtualPrinter& p) {
         p.AfterNextCommand(
             "!", [](emu::PrinterState& s) { emu::RawReset(&s); }, 3);
       },
       false},
  };
  int trues = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.inject(line.printer);
    const Outcome o = Process(kSale);
    EXPECT_EQ(c.made, o.result) << o.code << "\n" << log.Text();
    if (o.result) {
      EXPECT_EQ(static_cast<LONG>(line.printer.State().fd.documents.back().number), o.checkNumber);
      EXPECT_FALSE(o.fiscalSign.empty());
    } else {
      EXPECT_NE(0, o.code);
    }
    trues += o.result;
    line.printer.ModifyState([](emu::PrinterState& s) { s.paperEnd = false; });
    const Outcome next = Process(kSale);
    EXPECT_TRUE(next.result) << next.code << "\n" << log.Text();
    trues += next.result;
    EXPECT_EQ(static_cast<size_t>(trues), DriveDocuments());
  }
}

// The printer's rates are read once for a receipt however many items it has, and afresh in the
// next call, since the printer may have been programmed in between; a read that fails ends the
// call before anything is printed, as no copy of an earlier call stands in for it.
TEST_F(CheckProcessing, TheRatesAreReadOncePerCall) {
  const std::string items = Item("1", "5.00", "5.00") + Item("2", "3.00", "6.00") + Item("1", "4.00", "4.00");
  const std::string sale = Package("1", items, "Cash=\"15.00\"");
  for (int call = 0; call < 2; ++call) {
    line.printer.ClearTrace();
    ASSERT_TRUE(Process(sale).result) << log.Text();
    EXPECT_EQ(1u, line.Commands("S3").size());
    EXPECT_EQ(3u, line.Commands("!").size());
  }
  line.printer.ClearTrace();
  line.printer.RefuseNextOf("S3", 0x21);
  const Outcome refused = Process(sale);
  EXPECT_FALSE(refused.result);
  EXPECT_NE(0, refused.code);
  EXPECT_TRUE(line.Commands("!").empty());
  EXPECT_EQ(2u, DriveDocuments());
}

// ---- The receipt-level operations on their own ----

CheckPosition Position(double quantity, double price, double sum, double tax, int group) {
  CheckPosition p;
  snprintf(p.szName, sizeof p.szName, "Tea");
  p.dQuantity = quantity;
  p.dPriceWithDiscount = price;
  p.dSumWithDiscount = sum;
  p.dTaxRate = tax;
  p.nTaxGroup = group;
  p.nDepartment = 1;
  return p;
}

TEST_F(CheckProcessing, AnItemIsCheckedBeforeItIsSent) {
  const double nan = std::nan("");
  struct Case {
    const char* name;
    CheckPosition position;
    int32_t code;
  } cases[] = {
      {"largest price", Position(1, 22999999.77, 22999999.77, 20, 1), 0},
      {"price past the field", Position(1, 22999999.78, 22999999.78, 20, 1), 39},
      {"no price at all", Position(1, nan, 5, 20, 1), 39},
      {"sum past 32 bits", Position(2, 22999999.77, 45999999.54, 20, 1), 42},
      {"3 x 33.33 = 99.99", Position(3, 33.33, 99.99, 20, 1), 0},
      {"3 x 33.33 is not 100.00", Position(3, 33.33, 100, 20, 1), 144},
      {"0.333 x 10.00 = 3.33", Position(0.333, 10, 3.33, 20, 1), 0},
      {"0.333 x 10.00 is not 3.34", Position(0.333, 10, 3.34, 20, 1), 144},
      {"infinite quantity", Position(std::numeric_limits<double>::infinity(), 1, 1, 20, 1), 145},
      {"no VAT needs no rate", Position(1, 5, 5, -1, 0), 0},
      {"a rate the printer has not", Position(1, 5, 5, 18, 1), 12},
  };
  ASSERT_EQ(0, driver.SetClerk("Ivanova"));
  LONG number = 0, session = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(driver.OpenCheck("7", true, false, false, true, &number, &session)) << log.Text();
    line.printer.ClearTrace();
    EXPECT_EQ(c.code == 0, driver.PrintFiscalString("7", c.position));
    EXPECT_EQ(c.code, ctx->nLastResult);
    EXPECT_EQ(c.code == 0 ? 1u : 0u, line.Commands("!").size() + line.Commands(" ").size());
    driver.CancelCheck("7");
  }
  EXPECT_FALSE(driver.PrintFiscalString("7", Position(1, 5, 5, 20, 1)));
  EXPECT_EQ(100, ctx->nLastResult);
  EXPECT_FALSE(driver.PrintFiscalString("8", Position(1, 5, 5, 20, 1)));
  EXPECT_TRUE(log.Has("*OdinS_PrintFiscalString: strDeviceID != m_strOdinSDeviceID return FALSE"));
}

TEST_F(CheckProcessing, PaymentsByKindAndTheirRefusals) {
  line.printer.ModifyState([](emu::PrinterState& s) { s.shiftTotals[7] = 100000; });
  ASSERT_EQ(0, driver.SetClerk("Ivanova"));
  LONG number = 0, session = 0;
  CheckParameters pay;
  // A sale return must be paid exactly: nothing is tendered.
  ASSERT_TRUE(driver.OpenCheck("7", true, true, false, true, &number, &session));
  ASSERT_TRUE(driver.PrintFiscalString("7", Position(1, 100, 100, 20, 1)));
  pay.dCash = 99;
  line.printer.ClearTrace();
  EXPECT_FALSE(driver.PaymentCheck(pay));
  EXPECT_EQ(113, ctx->nLastResult);
  EXPECT_TRUE(line.Commands("f").empty());
  pay.dCash = std::nan("");
  EXPECT_FALSE(driver.PaymentCheck(pay));
  EXPECT_EQ(41, ctx->nLastResult);
  driver.CancelCheck("7");

  // A card paying the whole sale ends it: no cash tender follows.
  ASSERT_TRUE(driver.OpenCheck("7", true, false, false, true, &number, &session));
  ASSERT_TRUE(driver.PrintFiscalString("7", Position(1, 100, 100, 20, 1)));
  pay = CheckParameters();
  pay.dElectronicPayment = 100;
  line.printer.ClearTrace();
  EXPECT_TRUE(driver.PaymentCheck(pay)) << log.Text();
  EXPECT_EQ((std::vector<std::string>{"L10000010000"}), line.Commands("L"));

  // A receipt of nothing is paid with nothing, in cash.
  ASSERT_TRUE(driver.OpenCheck("7", true, false, false, true, &number, &session));
  ASSERT_TRUE(driver.PrintFiscalString("7", Position(1, 0, 0, 20, 1)));
  line.printer.ClearTrace();
  EXPECT_TRUE(driver.PaymentCheck(CheckParameters())) << log.Text();
  EXPECT_EQ((std::vector<std::string>{"L80000000000"}), line.Commands("L"));
}

TEST_F(CheckProcessing, CashOutTestAgainstTheDrawer) {
  // 50,000,000.00 roubles: kopecks past 32 bits.
  line.printer.ModifyState([](emu::PrinterState& s) { s.shiftTotals[7] = 5000000000; });
  EXPECT_EQ(13, driver.TestCashOut(50000000.00, 13));
  EXPECT_EQ(114, driver.TestCashOut(50000000.01, 13));
  EXPECT_EQ(114, driver.TestCashOut(1e300, 13));  // more than any drawer, never an overflow
  EXPECT_EQ(13, driver.TestCashOut(std::nan(""), 13));
}

}  // namespace
