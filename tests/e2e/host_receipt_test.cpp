// ProcessCheck as the host calls it, on the virtual printer: Open, the shift opened, then receipts,
// each checked by what the host was told (result, numbers, fiscal sign, GetLastError) against what
// the printer received and what its fiscal drive made.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "e2e/host_on_printer.h"
#include "emu/access.h"
#include "support/check_package_text.h"

namespace {

using std::chrono::seconds;

const char kInput[] = "<InputParameters><Parameters CashierName=\"Ivanova\"/></InputParameters>";

// One item at 5.00, 20 %, paid 6.00 in cash.
const std::string kSale = Package("1", Item("1", "5.00", "5.00"), "Cash=\"6.00\"");

class HostReceipt : public HostOnPrinter<>, public ::testing::WithParamInterface<Front> {
 protected:
  HostReceipt() : HostOnPrinter(63, GetParam()) {}

  void SetUp() override {
    HostOnPrinter::SetUp();
    if (m_readTimeoutMs > 0) object->Device()->nReadTimeout = m_readTimeoutMs;
    ASSERT_TRUE(Open().ok);
    const HostResult shift = Call("OpenShift $DeviceID " + Quoted(kInput));
    ASSERT_TRUE(shift.ok) << shift.printed;
    m_shiftDocuments = printer.State().fd.documents.size();
    printer.ClearTrace();
  }

 public:
  HostResult Check(const std::string& package, bool electronically = false) {
    return Call(std::string("ProcessCheck $DeviceID ") + (electronically ? "true " : "false ") +
                Quoted(package));
  }
  // The documents the fiscal drive has signed since the shift was opened.
  size_t DriveDocuments() const { return printer.State().fd.documents.size() - m_shiftDocuments; }

 protected:
  int m_readTimeoutMs = 0;  // the port's read time-out Open sets; 0 leaves the setting's

 private:
  size_t m_shiftDocuments = 0;
};

TEST_P(HostReceipt, TheExampleSaleBecomesItsCommandsAndTheDrivesNumbers) {
  const HostResult r = Check(kSale);
  ASSERT_TRUE(r.ok) << r.printed;
  const std::string blankOrder = "*" + std::string(29, ' ');
  const std::vector<std::string> sent = ReceiptCommands(line.Commands());
  ASSERT_EQ(sent.size(), 6u) << r.printed;
  EXPECT_EQ(sent[0], "mA");
  EXPECT_EQ(sent[1], "m0");
  EXPECT_EQ(sent[2], blankOrder);
  EXPECT_EQ(sent[3], "P@00 ");
  // Tax group 1, 500 kopecks, 1000 thousandths, department 1, the name, then its tags.
  EXPECT_EQ(sent[4].find("!000005000000100001Tea"), 0u) << sent[4];
  // The cash payment ends the receipt and the printer gives the change: no "t" follows.
  EXPECT_EQ(sent[5], "L80000000600");

  const emu::PrinterState s = printer.State();
  const emu::FdDocument& receipt = s.fd.documents.back();
  EXPECT_EQ(r.Number("CheckNumber"), static_cast<long>(receipt.number));
  EXPECT_EQ(r.out.at("FiscalSign"), std::to_string(receipt.fiscalSign));
  EXPECT_EQ(r.Number("SessionNumber"), s.shiftNumber);
  EXPECT_EQ(s.closedReceipts.size(), 1u);
  EXPECT_EQ(printer.CollidingRequests(), 0);
}

// What the host is told when a receipt cannot be made as asked, and what the printer did then.
TEST_P(HostReceipt, RefusalsAndEdgeCasesTellTheHostTheTruth) {
  struct Case {
    const char* name;
    std::function<void(HostReceipt*)> arrange;
    std::string package;
    bool ok;
    long code;
    std::function<void(HostReceipt*)> check;
  } cases[] = {
      {"shift closed: nothing of a receipt is sent",
       [](HostReceipt* t) { ASSERT_TRUE(t->Call("CloseShift $DeviceID " + Quoted(kInput)).ok); }, kSale,
       false, 115,
       [](HostReceipt* t) {
         EXPECT_TRUE(ReceiptCommands(t->line.Commands()).empty());
         EXPECT_TRUE(t->line.Commands("!").empty());
         ASSERT_TRUE(t->Call("OpenShift $DeviceID " + Quoted(kInput)).ok);
       }},
      {"more by card than the items cost: no receipt is opened", [](HostReceipt*) {},
       Package("1", Item("1", "100", "100"), "ElectronicPayment=\"110\""), false, 149,
       [](HostReceipt* t) {
         EXPECT_TRUE(ReceiptCommands(t->line.Commands()).empty());
         EXPECT_FALSE(t->printer.State().fiscalReceiptOpen);
       }},
      {"a return paid with too much cash pays back its cost",
       [](HostReceipt* t) {
         t->printer.ModifyState([](emu::PrinterState& s) { s.shiftTotals[7] = 100000; });
       },
       Package("2", Item("1", "100", "100"), "Cash=\"120\""), true, 0,
       [](HostReceipt* t) {
         const std::vector<std::string> change = t->line.Commands("f!");
         ASSERT_EQ(change.size(), 2u);
         EXPECT_EQ(change[0].rfind("*120.00"), change[0].size() - 7);
         EXPECT_EQ(change[1].rfind("*20.00"), change[1].size() - 6);
         EXPECT_EQ(t->printer.State().shiftTotals[7], 100000 - 10000);
       }},
      {"an empty text line is skipped", [](HostReceipt*) {},
       Package("1", Item("1", "5", "5") + "<TextString Text=\"\"/><TextString Text=\"Thanks\"/>",
               "Cash=\"5\""),
       true, 0,
       [](HostReceipt* t) { EXPECT_EQ(t->line.Commands("1!"), std::vector<std::string>{"1!Thanks"}); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.arrange(this);
    printer.ClearTrace();
    const size_t before = DriveDocuments();
    const HostResult r = Check(c.package);
    EXPECT_EQ(r.ok, c.ok) << r.printed;
    EXPECT_EQ(r.code, c.code) << r.printed;
    if (r.ok) {
      EXPECT_EQ(DriveDocuments(), before + 1);
      EXPECT_EQ(r.Number("CheckNumber"), static_cast<long>(printer.State().fd.documents.back().number));
    }
    c.check(this);
  }
}

// An electronic receipt: the printer's printing is off while the receipt is made and on again
// after it, whether the receipt was made or not.
TEST_P(HostReceipt, ThePrintingSwitchIsPutBackWhateverTheOutcome) {
  for (const bool fails : {false, true}) {
    SCOPED_TRACE(fails ? "receipt refused" : "receipt made");
    uint8_t during = 0;
    printer.AfterNextCommand(
        "m0", [&during](emu::PrinterState& s) { during = s.flags[3]; }, 0);
    if (fails) printer.RefuseNextOf("L", 0x21);
    const HostResult r = Check(Electronic(kSale), true);
    EXPECT_EQ(r.ok, !fails) << r.printed;
    EXPECT_EQ(r.code != 0, fails) << r.printed;
    EXPECT_EQ(during & 0x20, 0x20);
    EXPECT_EQ(printer.State().flags[3] & 0x20, 0);
  }
  EXPECT_EQ(DriveDocuments(), 1u);
}

// The port's read time-out is short, so that a dead line costs little time.
class HostReceiptFaults : public HostReceipt {
 protected:
  HostReceiptFaults() { m_readTimeoutMs = 400; }
};

// Faults in the middle of a receipt, each followed by a receipt on the healthy line: the host is
// told True exactly as often as the fiscal drive made a document, within a bound, and after False
// GetLastError gives the cause.
TEST_P(HostReceiptFaults, TheHostIsToldWhatTheFiscalDriveMade) {
  struct Case {
    const char* name;
    std::function<void(emu::VirtualPrinter&)> inject;
    bool made;
    long code;
  } cases[] = {
      {"line dropped after the closing payment was acknowledged",
       [](emu::VirtualPrinter& p) {
         p.AfterNextCommand(
             "L8", [](emu::PrinterState&) {}, 6);
       },
       true, 0},
      {"line dropped before the closing payment",
       [](emu::VirtualPrinter& p) {
         p.AfterNextCommand(
             "!", [](emu::PrinterState&) {}, 6);
       },
       false, 4},
      {"paper end after an item",
       [](emu::VirtualPrinter& p) {
         p.AfterNextCommand(
             "!", [](emu::PrinterState& s) { s.paperEnd = true; }, 0);
       },
       false, 15},
      {"payment refused", [](emu::VirtualPrinter& p) { p.RefuseNextOf("L8", 0x21); }, false, 13},
      {"printer restarted after an item",
       [](emu::VirtualPrinter& p) {
         p.AfterNextCommand(
             "!", [](emu::PrinterState& s) { emu::RawReset(&s); }, 3);
       },
       false, 100},
  };
  size_t trues = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.inject(printer);
    const HostResult r = Check(kSale);
    EXPECT_EQ(r.ok, c.made) << r.printed;
    EXPECT_EQ(r.code, c.code) << r.printed;
    EXPECT_LT(r.took, seconds(20));
    if (r.ok) {
      EXPECT_EQ(r.Number("CheckNumber"), static_cast<long>(printer.State().fd.documents.back().number));
      EXPECT_FALSE(r.out.at("FiscalSign").empty());
    } else {
      EXPECT_FALSE(r.error.empty());
    }
    trues += r.ok;
    printer.ModifyState([](emu::PrinterState& s) { s.paperEnd = false; });
    const HostResult next = Check(kSale);
    EXPECT_TRUE(next.ok) << next.printed;
    trues += next.ok;
    EXPECT_EQ(DriveDocuments(), trues);
  }
}

INSTANTIATE_TEST_SUITE_P(Fronts, HostReceipt, kBothFronts, FrontName);
INSTANTIATE_TEST_SUITE_P(Fronts, HostReceiptFaults, kBothFronts, FrontName);

}  // namespace
