// The states a printer can be found in when it is switched on, as mirel-emu starts it with
// --shift-hours, --paper-out and --unregistered, and what the host gets from each: a shift past its
// hours, a printer out of paper until paper is put in, and a new fiscal drive registered for the
// first time.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/host_on_printer.h"
#include "emu/fiscal_drive.h"
#include "emu/registration.h"
#include "emu/reports.h"
#include "ffd/ffd.h"

namespace {

const std::string kExamples = MIREL_TESTS_DIR "/../tools/host/examples";

class HostStartStates : public HostOnPrinter<> {
 protected:
  HostStartStates() : HostOnPrinter(66) {}

  // The tags of the drive's last document, read as the operator reads them.
  std::vector<ffd::Tlv> LastDocument(uint8_t type) {
    const emu::PrinterState s = printer.State();
    EXPECT_FALSE(s.fd.documents.empty());
    if (s.fd.documents.empty()) return {};
    const emu::FdDocument& d = s.fd.documents.back();
    EXPECT_EQ(d.type, type);
    ffd::Container c;
    EXPECT_EQ(ffd::ParseContainer(d.container.data(), d.container.size(), &c), ffd::ContainerError::kNone);
    std::vector<ffd::Tlv> tags;
    std::string why;
    EXPECT_TRUE(ffd::ReadDocument(c, &tags, &why)) << why;
    return tags;
  }
};

std::string Text(const std::vector<ffd::Tlv>& tags, uint16_t tag) {
  const ffd::Tlv* t = ffd::FindTag(tags, tag);
  return t ? ffd::Utf8FromCp866(ffd::ReadString(*t)) : "(none)";
}

TEST_F(HostStartStates, AShiftOpenedTwentyFiveHoursAgoAsksForTheZReport) {
  printer.ModifyState([](emu::PrinterState& s) { emu::OpenShiftHoursAgo(&s, 25); });
  ASSERT_TRUE(Open().ok);
  const HostResult status = Call("GetCurrentStatus $DeviceID");
  ASSERT_TRUE(status.ok) << status.printed;
  EXPECT_EQ(status.Number("SessionState"), 3);  // the shift's time is over
  EXPECT_EQ(status.Number("SessionNumber"), 1);

  const HostResult sale = Call("ProcessCheck $DeviceID false @sale.xml", kExamples);
  EXPECT_FALSE(sale.ok);
  EXPECT_EQ(sale.code, 116) << sale.printed;
  EXPECT_EQ(sale.error, "Время смены истекло");
  EXPECT_TRUE(printer.State().closedReceipts.empty());

  const HostResult closed = Call("CloseShift $DeviceID @cashier.xml", kExamples);
  ASSERT_TRUE(closed.ok) << closed.printed;
  EXPECT_FALSE(printer.State().shiftOpen);
  const std::vector<ffd::Tlv> closing = LastDocument(ffd::kShiftClosing);
  uint32_t receipts = 99;
  ASSERT_NE(ffd::FindTag(closing, ffd::tag::kShiftReceipts), nullptr);
  ASSERT_TRUE(ffd::ReadU32(*ffd::FindTag(closing, ffd::tag::kShiftReceipts), &receipts));
  EXPECT_EQ(receipts, 0u);
  // The opening, dated when the shift began, is the shift's first document.
  const emu::PrinterState s = printer.State();
  ASSERT_EQ(s.fd.documents.size(), 2u);
  EXPECT_EQ(s.fd.documents[0].type, ffd::kShiftOpening);
  EXPECT_EQ(s.fd.documents[0].dateTime, clock.unix_ - 25 * 3600);
}

TEST_F(HostStartStates, APrinterOutOfPaperFailsItsTestWithoutTheTestUntilPaperIsIn) {
  printer.ModifyState([](emu::PrinterState& s) { s.paperEnd = true; });
  ASSERT_TRUE(Open().ok);
  printer.ClearTrace();
  const HostResult noPaper = Call("DeviceTest");
  EXPECT_FALSE(noPaper.ok);
  EXPECT_EQ(noPaper.out.at("Description"), "Конец бумаги");
  EXPECT_EQ(noPaper.error, "Конец бумаги");
  EXPECT_TRUE(line.Commands("E").empty());

  // What SIGUSR2 does to mirel-emu.
  printer.ModifyState([](emu::PrinterState& s) { s.paperEnd = false; });
  const HostResult test = Call("DeviceTest");
  EXPECT_TRUE(test.ok) << test.printed;
  EXPECT_EQ(line.Commands("E").size(), 1u);
}

TEST_F(HostStartStates, ANewDriveIsRegisteredByOperationFnOne) {
  printer.ModifyState([](emu::PrinterState& s) { emu::MakeUnregistered(&s); });
  ASSERT_TRUE(Open().ok);
  ASSERT_TRUE(Call("SetParameter Cashier \"Иванова И.И.\"").ok);
  const HostResult before = Call("GetDataKKT $DeviceID");
  ASSERT_TRUE(before.ok);
  EXPECT_NE(before.out.at("TableParametersKKT").find("Fiscal=\"false\""), std::string::npos);
  EXPECT_EQ(before.out.at("TableParametersKKT").find("DateTime="), std::string::npos);

  const HostResult registered = Call("OperationFN $DeviceID 1 @registration.xml", kExamples);
  ASSERT_TRUE(registered.ok) << registered.printed;
  const emu::PrinterState s = printer.State();
  EXPECT_TRUE(s.fiscal);
  EXPECT_EQ(s.fd.lifePhase, emu::kPhaseFiscal);
  ASSERT_EQ(s.fd.documents.size(), 1u);
  const std::vector<ffd::Tlv> tags = LastDocument(ffd::kRegistration);
  EXPECT_EQ(Text(tags, ffd::tag::kUserName), "ООО \"Ромашка\"");
  EXPECT_EQ(Text(tags, ffd::tag::kUserInn), "7701234567");
  EXPECT_EQ(Text(tags, ffd::tag::kRegistrationNumber), "0000000001012345678");
  EXPECT_EQ(Text(tags, ffd::tag::kAddress), "г. Москва, ул. Тверская, 1");
  EXPECT_EQ(Text(tags, ffd::tag::kPlace), "Магазин №1");
  EXPECT_EQ(Text(tags, ffd::tag::kOfdInn), "7704211201");
  EXPECT_EQ(Text(tags, ffd::tag::kCashier), "Иванова И.И.");
  uint8_t taxes = 0, internet = 0, excisable = 0;
  ASSERT_TRUE(ffd::ReadU8(*ffd::FindTag(tags, ffd::tag::kTaxSystems), &taxes));
  ASSERT_TRUE(ffd::ReadU8(*ffd::FindTag(tags, ffd::tag::kInternet), &internet));
  ASSERT_NE(ffd::FindTag(tags, ffd::tag::kExcisable), nullptr);
  ASSERT_TRUE(ffd::ReadU8(*ffd::FindTag(tags, ffd::tag::kExcisable), &excisable));
  EXPECT_EQ(taxes, 0x03);  // "0,1": the general and the simplified system
  EXPECT_EQ(internet, 1);
  EXPECT_EQ(excisable, 1);

  const HostResult after = Call("GetDataKKT $DeviceID");
  ASSERT_TRUE(after.ok);
  EXPECT_NE(after.out.at("TableParametersKKT").find("Fiscal=\"true\""), std::string::npos);
  EXPECT_NE(after.out.at("TableParametersKKT").find("DocumentNumber=\"1\""), std::string::npos);
}

}  // namespace
