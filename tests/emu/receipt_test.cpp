// The virtual printer's receipts: the cashier's session, items with their tags, discount lines,
// payments and change, returns, cash documents and the refusals, driven by command texts built
// here byte by byte.
#include "emu/receipt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "command_fixture.h"
#include "emu/records.h"
#include "ffd/ffd.h"

namespace {

using emu::Reply;

// The tags of fiscal document `index` of the drive: the inside of its document STLV.
std::vector<ffd::Tlv> DocumentTags(const emu::PrinterState& s, size_t index, uint16_t* type) {
  ffd::Container c;
  const emu::Bytes& bytes = s.fd.documents.at(index).container;
  EXPECT_EQ(ffd::ContainerError::kNone, ffd::ParseContainer(bytes.data(), bytes.size(), &c));
  std::vector<ffd::Tlv> outer, inner;
  EXPECT_TRUE(ffd::ParseTlv(c.tlv, &outer));
  if (outer.size() != 1) return {};
  *type = outer[0].tag;
  EXPECT_TRUE(ffd::ParseTlv(outer[0].value, &inner));
  return inner;
}

uint64_t Vln(const std::vector<ffd::Tlv>& tags, uint16_t tag) {
  uint64_t v = 0;
  const ffd::Tlv* t = ffd::FindTag(tags, tag);
  EXPECT_TRUE(t && ffd::ReadVln(*t, &v)) << tag;
  return v;
}

class EmuReceipt : public EmuCommands {
 protected:
  void SetUp() override {
    state.clerks[1].secret = 12345;
    state.clerks[1].name = "\x8B\xB0\xC2\xC2\xB9\xC1";  // "Кассир"
    state.passwordEntered = true;
    state.now = 1796806800;
    ASSERT_TRUE(Accepted("o0112345"));
  }
};

TEST_F(EmuReceipt, SessionOpensWithTheCashierAndClosesWithZz) {
  EXPECT_TRUE(state.shiftOpen);
  EXPECT_EQ(1, state.clerk);
  EXPECT_EQ(1796806800, state.shiftOpenedAt);
  EXPECT_TRUE(Accepted("zz"));
  EXPECT_FALSE(state.shiftOpen);
  EXPECT_EQ(0, state.clerk);
  EXPECT_EQ(41, Refusal("o0154321"));  // no clerk has this secret
  EXPECT_EQ(1, Refusal("o01"));
  // Nothing is sold without a session.
  const Reply r = Send(
      "!0000010000001000"
      "01A");
  EXPECT_EQ(Reply::Kind::kRefuse, r.kind);
  EXPECT_EQ(0x18, r.errorBits);
}

TEST_F(EmuReceipt, SaleWithTagsDiscountAndChange) {
  EXPECT_TRUE(Accepted("mC"));
  EXPECT_TRUE(Accepted("*" + std::string(29, ' ')));
  EXPECT_TRUE(state.fiscalReceiptOpen);
  EXPECT_TRUE(Accepted("P@00 "));
  // 1.5 pieces at 100.01: 150.015 rounds to 150.02; then 0.02 discount.
  EXPECT_TRUE(
      Accepted("\x21"
               "0001000100001500"
               "07Tea\xDA\x84"
               "01\xDA\x86"
               "04\xD9\xD2"
               "1234\xDA\x91Supplier"));
  const emu::Bytes word = emu::DeviceText("СКИДКА ");
  EXPECT_TRUE(Accepted(" 000000000000000094" + std::string(word.begin(), word.end()) + "\x7F" +
                       std::string(15, ' ') + std::string(9, ' ') + "0.02"));
  EXPECT_TRUE(
      Accepted("\xA3"
               "0000050000001000"
               "01Back"));  // a negative item of 5.00
  EXPECT_EQ(14500, state.documentTotal);
  EXPECT_EQ(47, Refusal("mA"));  // switches belong before the receipt

  EXPECT_TRUE(Accepted("L10000004500"));  // part paid by card: still open
  EXPECT_TRUE(state.fiscalReceiptOpen);
  EXPECT_TRUE(Accepted("L80000020000"));  // the rest in cash, with change
  EXPECT_FALSE(state.fiscalReceiptOpen);
  EXPECT_EQ(0, state.documentType);
  ASSERT_EQ(1u, state.closedReceipts.size());
  const emu::Receipt& r = state.closedReceipts[0];
  EXPECT_EQ(emu::kSaleReceipt, r.kind);
  EXPECT_EQ(2, r.taxVariant);
  EXPECT_EQ("Кассир", r.cashier);
  EXPECT_EQ(14500, r.total);
  EXPECT_EQ(4500, r.payments[1]);
  EXPECT_EQ(20000, r.payments[8]);
  EXPECT_EQ(10000, r.change);
  EXPECT_EQ(1, r.number);
  EXPECT_EQ(10000, state.shiftTotals[7]);  // 200.00 cash in, 100.00 change out
  EXPECT_EQ(1, state.documentCount);       // the shift's receipts, as the S1 record reports them
  // What it printed: the items with their amounts and the discount, the totals, the signature.
  std::vector<std::string> tape;  // after the shift's opening
  for (const emu::TapeLine& l : state.tape) tape.push_back(l.text);
  tape.erase(tape.begin(), std::find(tape.begin(), tape.end(), "Tea"));
  const std::vector<std::string> printed = {"Tea",
                                            "  1.500 x 100.01 =150.02",
                                            "  СКИДКА =0.02",
                                            "Back",
                                            "  1.000 x 5.00 =-5.00",
                                            "ИТОГ =145.00",
                                            "  ОПЛАТА 1 =45.00",
                                            "  НАЛИЧНЫМИ =200.00",
                                            "  СДАЧА =100.00"};
  ASSERT_EQ(printed.size() + 1, tape.size());
  EXPECT_EQ(printed, std::vector<std::string>(tape.begin(), tape.end() - 1));
  EXPECT_EQ(0u, tape.back().find("ФД:2 ФП:")) << tape.back();
  ASSERT_EQ(2u, r.items.size());
  const emu::ReceiptItem& tea = r.items[0];
  EXPECT_EQ("Tea", tea.name);
  EXPECT_EQ(1, tea.taxGroup);
  EXPECT_EQ(7, tea.department);
  EXPECT_EQ(10001, tea.price);
  EXPECT_EQ(1500, tea.quantity);
  EXPECT_EQ(15000, tea.sum);
  EXPECT_EQ("\x01", tea.tags.at(1212));
  EXPECT_EQ("\x04", tea.tags.at(1214));
  EXPECT_EQ("\x12\x34", tea.tags.at(1162));
  EXPECT_EQ("Supplier", tea.tags.at(1225));
  EXPECT_EQ(-500, r.items[1].sum);
  EXPECT_EQ(" ", r.attributes.at(0));

  // The fiscal drive signed it as a receipt with what it held, after the shift's opening.
  ASSERT_EQ(2u, state.fd.documents.size());
  EXPECT_EQ(state.fd.documents[1].number, r.fdDocument);
  uint16_t type = 0;
  const std::vector<ffd::Tlv> tags = DocumentTags(state, 1, &type);
  EXPECT_EQ(ffd::kReceipt, type);
  EXPECT_EQ(14500u, Vln(tags, ffd::tag::kTotal));
  EXPECT_EQ(10000u, Vln(tags, ffd::tag::kCash));
  EXPECT_EQ(4500u, Vln(tags, ffd::tag::kCashless));
  EXPECT_EQ(1u, Vln(tags, ffd::tag::kOperationType));
  EXPECT_EQ(4u, Vln(tags, ffd::tag::kTaxSystem));
  EXPECT_EQ("Кассир", ffd::Utf8FromCp866(ffd::ReadString(*ffd::FindTag(tags, ffd::tag::kCashier))));
  std::vector<ffd::Tlv> item;
  ASSERT_TRUE(ffd::ParseTlv(ffd::FindTag(tags, ffd::tag::kItem)->value, &item));
  EXPECT_EQ("Tea", ffd::ReadString(*ffd::FindTag(item, ffd::tag::kItemName)));
  EXPECT_EQ(10001u, Vln(item, ffd::tag::kItemPrice));
  EXPECT_EQ(15000u, Vln(item, ffd::tag::kItemSum));
  EXPECT_EQ(1u, Vln(item, ffd::tag::kVatRate));
  EXPECT_EQ((emu::Bytes{3, 0xDC, 0x05}), ffd::FindTag(item, ffd::tag::kItemQuantity)->value);
}

TEST_F(EmuReceipt, PriceFieldTakesTheCharactersAfterNine) {
  EXPECT_EQ(0, emu::ExtendedDigitsValue("00000000"));
  EXPECT_EQ(99999999, emu::ExtendedDigitsValue("99999999"));
  EXPECT_EQ(100000000, emu::ExtendedDigitsValue(":0000000"));
  EXPECT_EQ(2299999977, emu::ExtendedDigitsValue(std::string(8, '\xFF')));
  EXPECT_EQ(-1, emu::ExtendedDigitsValue("0000000"));
}

TEST_F(EmuReceipt, ReturnReceiptNeedsThePasswordAndClosesByItsPayment) {
  state.passwordEntered = false;
  EXPECT_EQ(41, Refusal("dc0000030000002000"
                        "01R"));
  state.passwordEntered = true;
  EXPECT_TRUE(
      Accepted("dc0000030000002000"
               "01R"));
  EXPECT_TRUE(
      Accepted("d0000020000000000"
               "01S"));  // no quantity: the price as an amount
  EXPECT_TRUE(state.receiptOpen);
  EXPECT_EQ(47, Refusal("L80000000100"));  // a sale payment
  EXPECT_TRUE(Accepted("K80000000800"));
  ASSERT_EQ(1u, state.closedReceipts.size());
  EXPECT_EQ(emu::kReturnReceipt, state.closedReceipts[0].kind);
  EXPECT_EQ(3, state.closedReceipts[0].items[0].taxGroup);
  EXPECT_EQ(800, state.closedReceipts[0].total);
  EXPECT_EQ(-800, state.shiftTotals[7]);
}

TEST_F(EmuReceipt, PurchaseAndTotalPayingTheRest) {
  EXPECT_TRUE(Accepted("m1"));
  EXPECT_TRUE(
      Accepted("%0000100000001000"
               "01Box"));
  EXPECT_TRUE(Accepted("t"));
  ASSERT_EQ(1u, state.closedReceipts.size());
  EXPECT_TRUE(state.closedReceipts[0].purchase);
  EXPECT_EQ(1000, state.closedReceipts[0].payments[8]);
  EXPECT_EQ(-1000, state.shiftTotals[7]);
  EXPECT_EQ(47, Refusal("t"));
}

TEST_F(EmuReceipt, CashInAndOutMoveTheDrawer) {
  const size_t documents = state.fd.documents.size();
  EXPECT_TRUE(Accepted("9180000005000"));
  EXPECT_EQ(47, Refusal("!0000010000001000"
                        "01A"));
  EXPECT_TRUE(Accepted("t"));
  EXPECT_TRUE(Accepted("9080000001500"));
  EXPECT_TRUE(Accepted("t"));
  EXPECT_EQ(3500, state.shiftTotals[7]);
  EXPECT_EQ(documents, state.fd.documents.size());  // not fiscal receipts
  // The drawer gives no more than it holds, counting what the open document already takes.
  EXPECT_EQ(54, Refusal("9080000003501"));
  EXPECT_EQ(0, state.documentType);
  EXPECT_TRUE(Accepted("9080000003000"));
  EXPECT_EQ(54, Refusal("9080000000501"));
  EXPECT_TRUE(Accepted("9080000000500"));
  EXPECT_TRUE(Accepted("t"));
  EXPECT_EQ(0, state.shiftTotals[7]);
}

// A correction receipt stays open after its payments, takes its base, and is signed by the drive
// as a correction when "t" closes it.
TEST_F(EmuReceipt, CorrectionReceiptClosesWithTotalAndCarriesItsBase) {
  EXPECT_EQ(47, Refusal("Sucd-"));  // no correction open
  EXPECT_TRUE(Accepted("*@"));
  EXPECT_TRUE(Accepted("!000007200000100001@0000000120"));
  EXPECT_TRUE(Accepted("SucdAct"));
  EXPECT_TRUE(Accepted("Suc#17"));
  EXPECT_EQ(1, Refusal("SucD2010524"));
  EXPECT_EQ(1, Refusal("SucD0011324"));
  EXPECT_TRUE(Accepted("SucD1010524"));
  EXPECT_TRUE(Accepted("L80000000720"));
  EXPECT_EQ(emu::kSaleReceipt, state.documentType);
  EXPECT_TRUE(Accepted("t"));
  EXPECT_EQ(0, state.documentType);
  uint16_t type = 0;
  const std::vector<ffd::Tlv> tags = DocumentTags(state, state.fd.documents.size() - 1, &type);
  EXPECT_EQ(ffd::kCorrectionReceipt, type);
  EXPECT_EQ(720u, Vln(tags, ffd::tag::kTotal));
  uint8_t correctionType = 0;
  ASSERT_TRUE(ffd::ReadU8(*ffd::FindTag(tags, ffd::tag::kCorrectionType), &correctionType));
  EXPECT_EQ(1, correctionType);
  EXPECT_EQ("010524", state.closedReceipts.back().correctionBaseDate);
  EXPECT_EQ(720, state.shiftTotals[7]);
}

TEST_F(EmuReceipt, LinesAndBarcodesOutsideAReceiptGoOnTheTape) {
  const size_t before = state.tape.size();
  EXPECT_TRUE(Accepted("80Hello" + std::string(35, ' ') + "0"));
  EXPECT_TRUE(Accepted("809032124601234567890\""));
  EXPECT_TRUE(Accepted("80903214ABC-1\""));
  EXPECT_TRUE(Accepted("80https://x\xB3"));
  EXPECT_TRUE(Accepted("81" + std::string(42, ' ') + "0"));
  std::vector<std::string> printed;
  for (size_t i = before; i < state.tape.size(); ++i) printed.push_back(state.tape[i].text);
  EXPECT_EQ(
      (std::vector<std::string>{"Hello", "[EAN13 4601234567890]", "[CODE39 ABC-1]", "[QR https://x]", ""}),
      printed);
  // Not inside a receipt.
  EXPECT_TRUE(Accepted("9180000005000"));
  EXPECT_EQ(47, Refusal("80Hello0"));
}

TEST_F(EmuReceipt, PaperEndStopsPrinting) {
  EXPECT_TRUE(
      Accepted("!0000010000001000"
               "01A"));
  state.paperEnd = true;
  const Reply r = Send(
      "!0000010000001000"
      "01B");
  EXPECT_EQ(Reply::Kind::kRefuse, r.kind);
  EXPECT_EQ(emu::kErrorPaperEnd, r.deviceError);
  EXPECT_EQ(1u, state.receipt.items.size());
}

TEST_F(EmuReceipt, MalformedCommandsAreRefused) {
  for (const std::string& text :
       {std::string("!00000100"), std::string("!0000010000001000"), std::string("dc00"), std::string("L8000"),
        std::string("*short"), std::string("mX"),
        std::string("!0000010000001000"
                    "01A\xDA")}) {
    EXPECT_EQ(1, Refusal(text)) << text;
  }
}

}  // namespace
