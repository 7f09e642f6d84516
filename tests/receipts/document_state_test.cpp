// The step-by-step document interface against the virtual printer: which command each step
// becomes, when a payment ends the document, how a paper end reaches the next step, the cancel
// paths, and the fiscal document each kind of receipt leaves in the printer's fiscal drive.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/serial_port.h"
#include "driver/mirel_driver.h"
#include "ffd/ffd.h"
#include "support/driver_on_printer.h"
#include "support/fake_clock.h"
#include "support/log_capture.h"
#include "support/printer_line.h"

namespace {

struct Driver : CMirelDriver {
  using CMirelDriver::m_bPaperEndPending;
  using CMirelDriver::m_DocumentTotals;
  using CMirelDriver::m_nDocumentType;
  using CMirelDriver::m_strOdinSDeviceID;
};

const std::string kBlankOrder = "*" + std::string(29, ' ');

class DocumentSteps : public DriverOnPrinter<Driver, 50> {
 protected:
  void SetUp() override {
    DriverOnPrinter::SetUp();
    ctx->nMaxItemNameLength = 64;
    ctx->pRecodeTable = DeviceRecodeTable(3);
    log.Install(ctx);
    // The document steps write the high-level file; here both go to one capture.
    ctx->pfnLogEnterH = ctx->pfnLogEnter;
    ctx->pfnLogMessageH = ctx->pfnLogMessage;
    ctx->pfnLogReturnH = ctx->pfnLogReturn;
    snprintf(driver.m_strOdinSDeviceID, sizeof driver.m_strOdinSDeviceID, "7");
    line.printer.ModifyState([this](emu::PrinterState& s) {
      s.shiftOpen = true;
      s.shiftOpenedAt = PrinterNow();
    });
  }

  std::vector<std::string> Commands() const { return line.Commands(); }
  // The commands sent since the trace was last cleared that begin with `prefix`.
  size_t Count(const std::string& prefix) const { return line.Commands(prefix).size(); }

  LogCapture log;
};

TEST_F(DocumentSteps, StartDocumentRefusals) {
  EXPECT_EQ(13, driver.StartDocument(1, 0, 0, "Ivanov"));
  EXPECT_EQ(13, driver.StartDocument(1, 100, 0, "Ivanov"));
  EXPECT_TRUE(line.printer.TraceEntries().empty());

  line.printer.ModifyState([](emu::PrinterState& s) { s.shiftOpen = false; });
  EXPECT_EQ(10, driver.StartDocument(1, 1, 0, "Ivanov"));
  EXPECT_TRUE(Commands().empty());  // the status request only

  line.printer.ModifyState([](emu::PrinterState& s) { s.shiftOpen = true; });
  EXPECT_EQ(35, driver.StartDocument(7, 1, 0, "Ivanov"));
  EXPECT_TRUE(log.Has("*StartDocument: Wrong document type: 7"));
  EXPECT_EQ(13, driver.StartDocument(12, 1, 0, "Ivanov"));
  EXPECT_TRUE(log.Has("*StartDocument: Unknown document type!!!"));
}

TEST_F(DocumentSteps, OrderHeaderCarriesTheCustomer) {
  ASSERT_EQ(0, driver.StartDocument(1, 1, 0, nullptr));
  EXPECT_EQ((std::vector<std::string>{"m0"}), line.Commands("m"));
  EXPECT_EQ((std::vector<std::string>{kBlankOrder}), line.Commands("*"));
  EXPECT_EQ(1, driver.m_nDocumentType);
  ASSERT_EQ(0, driver.CancelDocument());
  line.printer.ClearTrace();
  ASSERT_EQ(0, driver.StartDocument(1, 1, 12, nullptr));
  EXPECT_EQ((std::vector<std::string>{"*   12" + std::string(24, ' ')}), line.Commands("*"));
}

// A sale paid in two parts: the first leaves the document open (and no longer cancellable), the
// second ends it, after which EndDocument has nothing to send.
TEST_F(DocumentSteps, PaymentsEndTheSale) {
  ASSERT_EQ(0, driver.StartDocument(1, 1, 0, "Ivanov")) << log.Text();
  ASSERT_EQ(0, driver.ItemEx(2000, 5000, "Tea", 1, 1, nullptr));
  EXPECT_EQ(1, driver.m_DocumentTotals.DocItems);
  EXPECT_EQ(10000000, driver.m_DocumentTotals.dDocItemsAmount);
  EXPECT_EQ(1, driver.GetDocInfo(14));
  EXPECT_EQ(10000, driver.GetDocInfo(10));

  EXPECT_EQ(0, driver.Tender(4000, 1, "", ""));
  EXPECT_EQ(1, driver.m_nDocumentType);
  EXPECT_EQ(105, driver.CancelDocument());
  EXPECT_EQ(0, driver.Tender(10000, 8, "", ""));
  EXPECT_EQ(0, driver.m_nDocumentType);
  EXPECT_EQ(0, driver.m_DocumentTotals.TendersCount);

  line.printer.ClearTrace();
  EXPECT_EQ(0, driver.EndDocument());
  EXPECT_EQ(0u, Count("t"));
  const emu::PrinterState s = line.printer.State();
  ASSERT_EQ(1u, s.closedReceipts.size());
  EXPECT_EQ(4000, s.closedReceipts[0].change);
  EXPECT_EQ(6000, s.shiftTotals[7]);
}

TEST_F(DocumentSteps, EndDocumentTotalsAnUnpaidSale) {
  ASSERT_EQ(0, driver.StartDocument(1, 1, 0, "Ivanov"));
  ASSERT_EQ(0, driver.ItemEx(1000, 700, "Tea", 1, 1, nullptr));
  EXPECT_EQ(0, driver.EndDocument());
  EXPECT_EQ(1u, Count("t"));
  EXPECT_EQ(0, driver.m_nDocumentType);
  EXPECT_EQ(700, line.printer.State().closedReceipts.at(0).payments[8]);
}

TEST_F(DocumentSteps, PaperEndAfterAnItemStopsTheNext) {
  ASSERT_EQ(0, driver.StartDocument(1, 1, 0, "Ivanov"));
  line.printer.AddCommand("!", [](emu::PrinterState& s, const std::string&) {
    s.paperEnd = true;
    return emu::Reply::Accept();
  });
  EXPECT_EQ(15, driver.ItemEx(1000, 100, "A", 1, 1, nullptr));
  EXPECT_EQ(1, driver.m_bPaperEndPending);
  EXPECT_EQ(15, driver.ItemEx(1000, 100, "B", 1, 1, nullptr));
  EXPECT_TRUE(log.Has("*ItemEx: End Of Paper. Command not sent."));
  EXPECT_EQ(1u, Count("!"));
  EXPECT_EQ(1, driver.m_bPaperEndPending);

  // Paper back: the restart clears the flag and the item goes out.
  line.printer.ModifyState([](emu::PrinterState& s) { s.paperEnd = false; });
  line.printer.AddCommand("!", [](emu::PrinterState&, const std::string&) { return emu::Reply::Accept(); });
  EXPECT_EQ(0, driver.ItemEx(1000, 100, "C", 1, 1, nullptr));
  EXPECT_EQ(0, driver.m_bPaperEndPending);
  EXPECT_EQ(2u, Count("!"));
}

TEST_F(DocumentSteps, StepRefusals) {
  EXPECT_EQ(100, driver.ItemEx(1000, 1, "A", 1, 1, nullptr));
  EXPECT_EQ(100, driver.Tender(1, 8, "", ""));
  EXPECT_EQ(100, driver.Tender2(1, 8, "", ""));
  ASSERT_EQ(0, driver.StartDocument(8, 1, 0, "Ivanov"));
  line.printer.ClearTrace();
  EXPECT_EQ(13, driver.ItemEx(-1, 1, "A", 1, 1, nullptr));
  EXPECT_EQ(13, driver.Tender(1, 9, "", ""));
  EXPECT_EQ(13, driver.Tender(-1, 8, "", ""));
  EXPECT_EQ(13, driver.Tender2(1e10, 8, "", ""));
  EXPECT_EQ(120, driver.Tender2(100, 1, "", ""));
  EXPECT_TRUE(Commands().empty());
  ASSERT_EQ(0, driver.StartDocument(4, 1, 0, "Ivanov"));
  EXPECT_EQ(103, driver.ItemEx(1000, 1, "A", 1, 1, nullptr));
}

TEST_F(DocumentSteps, CancelCheck) {
  EXPECT_FALSE(driver.CancelCheck("7"));
  EXPECT_EQ(100, ctx->nLastResult);
  EXPECT_TRUE(log.Has("*OdinS_CancelCheck: m_nDocumentType=0"));
  EXPECT_FALSE(driver.CancelCheck("8"));
  EXPECT_EQ(0, ctx->nLastResult);
  EXPECT_FALSE(driver.CancelCheck(nullptr));

  ASSERT_EQ(0, driver.StartDocument(1, 1, 0, "Ivanov"));
  ASSERT_EQ(0, driver.ItemEx(1000, 100, "A", 1, 1, nullptr));
  // A failed step, then the cancel: the host still learns why.
  ctx->nLastResult = 39;
  ctx->nDeviceError = 5;
  EXPECT_TRUE(driver.CancelCheckKeepingError("7"));
  EXPECT_EQ(39, ctx->nLastResult);
  EXPECT_EQ(5, ctx->nDeviceError);
  EXPECT_EQ(0, driver.m_nDocumentType);
  EXPECT_EQ(0, line.printer.State().documentType);
  EXPECT_TRUE(line.printer.State().closedReceipts.empty());
}

TEST_F(DocumentSteps, CashInTakesItsTotal) {
  ASSERT_EQ(0, driver.StartDocument(4, 1, 0, "Ivanov"));
  line.printer.ClearTrace();
  EXPECT_EQ(0, driver.Tender(5000000000, 8, "", ""));
  EXPECT_EQ((std::vector<std::string>{"9185000000000", "t"}), Commands());
  EXPECT_EQ(0, driver.m_nDocumentType);
  EXPECT_EQ(1, clock.CountSleeps(1100));
  EXPECT_EQ(5000000000.0, driver.GetDoubleDeviceInfo(308));
}

TEST_F(DocumentSteps, DrawerCashIsReadOnceUntilTheNextStep) {
  line.printer.ModifyState([](emu::PrinterState& s) { s.shiftTotals[7] = 12345; });
  EXPECT_EQ(12345.0, driver.GetDoubleDeviceInfo(308));
  EXPECT_EQ(12345.0, driver.GetDoubleDeviceInfo(308));
  EXPECT_EQ(1u, Count("Sf"));
  ASSERT_EQ(0, driver.StartDocument(5, 1, 0, "Ivanov"));
  EXPECT_EQ(0, driver.Tender(345, 8, "", ""));
  EXPECT_EQ(12000.0, driver.GetDoubleDeviceInfo(308));
  EXPECT_EQ(2u, Count("Sf"));
}

TEST_F(DocumentSteps, SessionAndDrawer) {
  EXPECT_TRUE(driver.IsSessionOpened());
  EXPECT_TRUE(log.Has("*IsSessionOpened: Session is opened"));
  line.printer.ModifyState([](emu::PrinterState& s) { s.shiftOpen = false; });
  EXPECT_FALSE(driver.IsSessionOpened());
  EXPECT_EQ(0, driver.OpenDrawer());
  EXPECT_EQ(1, line.printer.State().drawerOpenings);
  EXPECT_EQ(0, driver.PrintQRCode(2, 2, 3, "http://x"));
  EXPECT_EQ("80http://x\xA3", Commands().back());
}

// Each kind of receipt, step by step, leaves one fiscal document with what was sent.
TEST_F(DocumentSteps, EveryKindOfReceiptLeavesItsFiscalDocument) {
  struct Case {
    int type;
    bool doublePayment;
    uint8_t operation;
  } cases[] = {{1, false, 1}, {2, false, 2}, {8, true, 3}, {9, true, 4}};
  size_t documents = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    CheckPosition position;
    position.nSignCalculationObject = 1;
    position.nSignMethodCalculation = 4;
    ASSERT_EQ(0, driver.StartDocument(c.type, 1, 0, "Ivanov")) << log.Text();
    ASSERT_EQ(0, driver.ItemEx(1500, 20001, "Milk", 2, 1, &position));
    ASSERT_EQ(0, driver.ItemEx(1000, 1000, "Bread", 0, 1, nullptr));
    // 1.5 at 200.01 is 300.015, rounded to 300.02; with the bread 310.02 in all.
    const LONG paid = c.doublePayment ? driver.Tender2(31002, 8, "", "") : driver.Tender(31002, 8, "", "");
    ASSERT_EQ(0, paid) << log.Text();
    EXPECT_EQ(0, driver.m_nDocumentType);
    EXPECT_EQ(0, driver.EndDocument());

    const emu::PrinterState s = line.printer.State();
    ASSERT_EQ(++documents, s.fd.documents.size());
    ffd::Container container;
    const emu::Bytes& bytes = s.fd.documents.back().container;
    ASSERT_EQ(ffd::ContainerError::kNone, ffd::ParseContainer(bytes.data(), bytes.size(), &container));
    std::vector<ffd::Tlv> outer, tags, item;
    ASSERT_TRUE(ffd::ParseTlv(container.tlv, &outer));
    ASSERT_EQ(1u, outer.size());
    EXPECT_EQ(ffd::kReceipt, outer[0].tag);
    ASSERT_TRUE(ffd::ParseTlv(outer[0].value, &tags));
    uint64_t value = 0;
    ASSERT_TRUE(ffd::ReadVln(*ffd::FindTag(tags, ffd::tag::kOperationType), &value));
    EXPECT_EQ(c.operation, value);
    ASSERT_TRUE(ffd::ReadVln(*ffd::FindTag(tags, ffd::tag::kTotal), &value));
    EXPECT_EQ(31002u, value);
    ASSERT_TRUE(ffd::ReadVln(*ffd::FindTag(tags, ffd::tag::kCash), &value));
    EXPECT_EQ(31002u, value);
    int items = 0;
    for (const ffd::Tlv& t : tags) items += t.tag == ffd::tag::kItem;
    EXPECT_EQ(2, items);
    ASSERT_TRUE(ffd::ParseTlv(ffd::FindTag(tags, ffd::tag::kItem)->value, &item));
    EXPECT_EQ("Milk", ffd::ReadString(*ffd::FindTag(item, ffd::tag::kItemName)));
    ASSERT_TRUE(ffd::ReadVln(*ffd::FindTag(item, ffd::tag::kItemPrice), &value));
    EXPECT_EQ(20001u, value);
    ASSERT_TRUE(ffd::ReadVln(*ffd::FindTag(item, ffd::tag::kItemSum), &value));
    EXPECT_EQ(30002u, value);
    ASSERT_TRUE(ffd::ReadVln(*ffd::FindTag(item, ffd::tag::kVatRate), &value));
    EXPECT_EQ(2u, value);
    EXPECT_EQ("\x01", s.closedReceipts.back().items.at(0).tags.at(1212));
  }
}

// A return of 50,000,000.00 roubles reaches the printer whole.
TEST_F(DocumentSteps, LargeReturnPaymentIsNotCut) {
  ASSERT_EQ(0, driver.StartDocument(2, 1, 0, "Ivanov"));
  line.printer.ClearTrace();
  driver.Tender(5000000000, 1, "", "");
  EXPECT_EQ((std::vector<std::string>{"f15000000000"}), line.Commands("f"));
}

}  // namespace
