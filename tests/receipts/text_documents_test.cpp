// PrintTextDocument, CashInOutcome and OpenCashDrawer against the virtual printer: the lines and
// barcodes a text document becomes, cash in and out with the drawer's cash, the refusals before
// anything is printed, and a False that always comes with its code.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "receipts/receipt_printer.h"

namespace {

std::string TextPackage(const std::string& positions) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Document><Positions>" + positions +
         "</Positions></Document>";
}

const char kInputParameters[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><InputParameters><Parameters CashierName=\"Ivanova\" "
    "CashierVATIN=\"7701234567\"/></InputParameters>";

class TextAndCash : public ReceiptPrinter<53> {
 protected:
  void SetUp() override {
    ReceiptPrinter::SetUp();
    snprintf(ctx->szClerkName, sizeof ctx->szClerkName, "Petrov");  // the Cashier setting
  }
  // The tape lines printed since the call began.
  std::vector<std::string> PrintedBy(const std::function<void()>& call) {
    const size_t before = line.printer.State().tape.size();
    call();
    std::vector<std::string> printed;
    const auto tape = line.printer.State().tape;
    for (size_t i = before; i < tape.size(); ++i) printed.push_back(tape[i].text);
    return printed;
  }
  bool Text(const std::string& positions) {
    return driver.PrintTextDocument("7", TextPackage(positions).c_str());
  }
  int64_t Drawer() const { return line.printer.State().shiftTotals[7]; }
};

TEST_F(TextAndCash, TextLinesAreCutToTheLineAndTheDocumentEndsWithABlankLine) {
  const std::string hundred(100, 'x');
  std::vector<std::string> printed = PrintedBy([&] {
    EXPECT_TRUE(Text("<TextString Text=\"" + hundred + "\"/><TextString Text=\"\"/><TextString/>" +
                     "<Barcode BarcodeType=\"EAN13\" Barcode=\"4601234567890\"/>"
                     "<Barcode BarcodeType=\"QR\" Barcode=\"https://check\"/><Unknown Text=\"no\"/>"))
        << log.Text();
  });
  const std::vector<std::string> expected = {std::string(42, 'x'),
                                             std::string(42, 'x'),
                                             std::string(16, 'x'),
                                             "",  // the empty text
                                             "[EAN13 4601234567890]",
                                             "[QR https://check]",
                                             ""};  // the final line
  EXPECT_EQ(expected, printed);
  const std::vector<std::string> sent = line.Commands("8");
  ASSERT_EQ(7u, sent.size());
  EXPECT_EQ("80" + std::string(42, 'x') + "0", sent[0]);
  EXPECT_EQ("81" + std::string(42, ' ') + "0", sent.back());
  EXPECT_EQ(0, driver.m_nDocumentType);
  EXPECT_TRUE(log.Has("}PrintTextDocument ret 1"));
}

TEST_F(TextAndCash, ATextDocumentWithNothingPrintablePrintsNothingAndSucceeds) {
  struct Case {
    const char* name;
    std::string positions;
    size_t lines;
  } cases[] = {
      {"only a PDF417 barcode", "<Barcode BarcodeType=\"PDF417\" Barcode=\"123\"/>", 0},
      {"no elements", "", 0},
      {"a text without Text still ends the document", "<TextString/>", 1},
      {"a barcode without data still ends the document", "<Barcode BarcodeType=\"EAN8\"/>", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    line.printer.ClearTrace();
    const std::vector<std::string> printed = PrintedBy([&] { EXPECT_TRUE(Text(c.positions)) << log.Text(); });
    EXPECT_EQ(c.lines, printed.size());
    EXPECT_EQ(c.lines, line.Commands("8").size());
  }
}

TEST_F(TextAndCash, ATextDocumentIsRefusedBeforeAnythingIsPrinted) {
  struct Case {
    const char* name;
    std::function<void(emu::PrinterState&)> state;
    std::string package;
    int32_t code;
    const char* message;
  } cases[] = {
      {"no cashier session", [](emu::PrinterState& s) { s.shiftOpen = false; },
       TextPackage("<TextString Text=\"a\"/>"), 115, "*PrintTextDocument: Session is closed"},
      {"paper end", [](emu::PrinterState& s) { s.paperEnd = true; }, TextPackage("<TextString Text=\"a\"/>"),
       15, "*PrintTextDocument: End Of Paper. Command not sent."},
      {"not XML", [](emu::PrinterState&) {}, "<Document><Positions>", 122, nullptr},
      {"no Positions", [](emu::PrinterState&) {}, "<Document/>", 122,
       "*PrintTextDocument: Text document failure. Printing canceled."},
      {"another root", [](emu::PrinterState&) {}, "<CheckPackage><Positions/></CheckPackage>", 122, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    line.printer.ModifyState(c.state);
    line.printer.ClearTrace();
    EXPECT_FALSE(driver.PrintTextDocument("7", c.package.c_str()));
    EXPECT_EQ(c.code, ctx->nLastResult);
    if (c.message) {
      EXPECT_TRUE(log.Has(c.message)) << log.Text();
    }
    EXPECT_TRUE(line.Commands("8").empty());
    line.printer.ModifyState([](emu::PrinterState& s) {
      s.shiftOpen = true;
      s.paperEnd = false;
    });
  }
}

// A barcode the printer refuses stops the document with the printer's code for the refusal, and
// what was printed before stays printed.
TEST_F(TextAndCash, ARefusedBarcodeStopsTheDocumentWithThePrintersCode) {
  line.printer.RefuseNextOf("80903213", 1);
  EXPECT_FALSE(
      Text("<TextString Text=\"before\"/><Barcode BarcodeType=\"EAN8\" Barcode=\"4601234\"/>"
           "<TextString Text=\"after\"/>"));
  EXPECT_EQ(13, ctx->nLastResult);
  EXPECT_EQ(2u, line.Commands("8").size());
  EXPECT_TRUE(log.Has("}PrintTextDocument ret 0"));
}

TEST_F(TextAndCash, CashInAndOutMoveTheDrawersCash) {
  line.printer.ModifyState([](emu::PrinterState& s) { s.shiftTotals[7] = 10000; });
  EXPECT_TRUE(driver.CashInOutcome("7", kInputParameters, 25.5)) << log.Text();
  EXPECT_EQ(12550, Drawer());
  EXPECT_TRUE(driver.CashInOutcome("7", kInputParameters, -5)) << log.Text();
  EXPECT_EQ(12050, Drawer());
  EXPECT_EQ((std::vector<std::string>{"9180000002550"}), line.Commands("91"));
  EXPECT_EQ((std::vector<std::string>{"9080000000500"}), line.Commands("90"));
  const emu::PrinterState s = line.printer.State();
  ASSERT_EQ(2u, s.closedReceipts.size());
  EXPECT_EQ(emu::kCashIn, s.closedReceipts[0].kind);
  EXPECT_EQ(emu::kCashOut, s.closedReceipts[1].kind);
  EXPECT_EQ(500, s.closedReceipts[1].total);
  EXPECT_EQ(0, driver.m_nDocumentType);
  EXPECT_STREQ("Ivanova", driver.m_szClerkName);
}

TEST_F(TextAndCash, CashOutOfMoreThanTheDrawerHoldsIsRefusedAndMovesNothing) {
  line.printer.ModifyState([](emu::PrinterState& s) { s.shiftTotals[7] = 10000; });
  EXPECT_FALSE(driver.CashInOutcome("7", kInputParameters, -100.01));
  EXPECT_EQ(114, ctx->nLastResult);
  EXPECT_TRUE(log.Has("*TestCashOut: lSessionCash < lCash")) << log.Text();
  EXPECT_EQ(10000, Drawer());
  EXPECT_TRUE(line.printer.State().closedReceipts.empty());
  EXPECT_EQ(0, driver.m_nDocumentType);
  // The whole drawer can go.
  EXPECT_TRUE(driver.CashInOutcome("7", kInputParameters, -100)) << log.Text();
  EXPECT_EQ(0, Drawer());
}

// A cash in the printer refuses is never explained by the drawer: it takes nothing from it.
TEST_F(TextAndCash, ARefusedCashInKeepsThePrintersCode) {
  line.printer.RefuseNextOf("91", 1);
  EXPECT_FALSE(driver.CashInOutcome("7", kInputParameters, 50));
  EXPECT_EQ(13, ctx->nLastResult);
  EXPECT_EQ(0, Drawer());
}

TEST_F(TextAndCash, CashAmountsAndShiftAreCheckedBeforeAnythingIsSent) {
  struct Case {
    const char* name;
    double amount;
    std::function<void(emu::PrinterState&)> state;
    int32_t code;
  } cases[] = {
      {"NaN", std::nan(""), [](emu::PrinterState&) {}, 133},
      {"infinite cash in", std::numeric_limits<double>::infinity(), [](emu::PrinterState&) {}, 133},
      {"infinite cash out", -std::numeric_limits<double>::infinity(), [](emu::PrinterState&) {}, 133},
      {"past the payment field", 100000000.00, [](emu::PrinterState&) {}, 41},
      {"shift closed", 10, [](emu::PrinterState& s) { s.shiftOpen = false; }, 115},
      {"shift past its hours", 10,
       [this](emu::PrinterState& s) { s.shiftOpenedAt = clock.UnixTime() - 25 * 3600; }, 116},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    line.printer.ModifyState(c.state);
    line.printer.ClearTrace();
    EXPECT_FALSE(driver.CashInOutcome("7", kInputParameters, c.amount));
    EXPECT_EQ(c.code, ctx->nLastResult);
    EXPECT_TRUE(line.Commands("9").empty());
    line.printer.ModifyState([this](emu::PrinterState& s) {
      s.shiftOpen = true;
      s.shiftOpenedAt = PrinterNow();
    });
  }
  EXPECT_EQ(0, Drawer());
}

TEST_F(TextAndCash, TheDrawerOpensForTheLoggedOnCashierWithTheDrawerCommandAlone) {
  line.printer.ModifyState([](emu::PrinterState& s) { s.clerk = 1; });
  EXPECT_TRUE(driver.OpenCashDrawer("7")) << log.Text();
  EXPECT_EQ(1, line.printer.State().drawerOpenings);
  std::vector<std::string> commands;
  for (const std::string& c : line.Commands()) {
    if (c[0] != 'S') commands.push_back(c);
  }
  EXPECT_EQ(std::vector<std::string>{"w"}, commands);
}

// Without a cashier the drawer's command is preceded by the cashier's; without a shift, or when
// the printer does not answer, False always comes with a code.
TEST_F(TextAndCash, TheDrawerNeedsACashierAndAShift) {
  EXPECT_TRUE(driver.OpenCashDrawer("7")) << log.Text();
  EXPECT_EQ(1, line.printer.State().drawerOpenings);
  EXPECT_STREQ("Petrov", driver.m_szClerkName);

  line.printer.ModifyState([](emu::PrinterState& s) { s.shiftOpen = false; });
  EXPECT_FALSE(driver.OpenCashDrawer("7"));
  EXPECT_EQ(115, ctx->nLastResult);

  ASSERT_EQ(0, SetCommTimeoutsFP(ctx, 100, 100));
  line.printer.Stop();
  ctx->nLastResult = 0;
  EXPECT_FALSE(driver.OpenCashDrawer("7"));
  EXPECT_NE(0, ctx->nLastResult);
  EXPECT_TRUE(log.Has("*OdinS_OpenCashDrawer: Error receiving status2")) << log.Text();
  EXPECT_EQ(1, line.printer.State().drawerOpenings);
}

}  // namespace
