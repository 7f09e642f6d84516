// The shift methods as the host calls them, on the virtual printer: a day's shift opened, filled
// with receipts and closed, the status of a shift past its hours, the backlog attributes, and the
// InputParameters the methods refuse or trim.
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <algorithm>
#include <map>
#include <string>

#include "e2e/host_on_printer.h"
#include "emu/fiscal_drive.h"
#include "emu/records.h"
#include "emu/reports.h"
#include "support/check_package_text.h"
#include "support/operator_reads.h"

namespace {

using Attributes = std::map<std::string, std::string>;

std::string Input(const std::string& parameters) {
  return "<InputParameters><Parameters " + parameters + "/></InputParameters>";
}

const std::string kInput = Input("CashierName=\"Иванова И.И.\"");

const std::string kSale = Package("1", Item("1", "5", "5"), "Cash=\"5\"");

// The printer keeps names as they came, in its character set.
std::string DeviceText(const std::string& utf8) {
  const emu::Bytes bytes = emu::DeviceText(utf8);
  return std::string(bytes.begin(), bytes.end());
}

// The attributes of the "Parameters" element of a document the host received.
Attributes ParametersOf(const std::string& xml, const char* root) {
  Attributes out;
  TiXmlDocument document;
  document.Parse(xml.c_str(), nullptr, TIXML_ENCODING_UTF8);
  const TiXmlElement* parameters =
      document.RootElement() ? document.RootElement()->FirstChildElement("Parameters") : nullptr;
  EXPECT_TRUE(parameters && std::string(document.RootElement()->Value()) == root) << xml;
  for (const TiXmlAttribute* a = parameters ? parameters->FirstAttribute() : nullptr; a; a = a->Next()) {
    out[a->Name()] = a->Value();
  }
  return out;
}

const Attributes kNoWarnings = {{"UrgentReplacementFN", "false"},
                                {"ResourcesExhaustionFN", "false"},
                                {"MemoryOverflowFN", "false"},
                                {"OFDtimeout", "false"}};

class HostShift : public HostOnPrinter<>, public ::testing::WithParamInterface<Front> {
 protected:
  HostShift() : HostOnPrinter(64, GetParam()) {}

  void SetUp() override {
    HostOnPrinter::SetUp();
    ASSERT_TRUE(Open().ok);
    printer.ClearTrace();
  }

  // A shift the printer opened `ago` seconds before the test's clock.
  void ShiftOpenedAgo(int number, int64_t ago) {
    printer.ModifyState([&](emu::PrinterState& s) {
      s.shiftNumber = number - 1;
      s.now = clock.unix_ - ago;
      emu::BeginShift(&s);
    });
  }
  void AllDelivered() {
    printer.ModifyState([](emu::PrinterState& s) {
      for (emu::FdDocument& d : s.fd.documents) d.acknowledged = true;
    });
  }
};

TEST_P(HostShift, ADayOpenedWithReceiptsAndClosed) {
  printer.ModifyState([](emu::PrinterState& s) { s.shiftNumber = 6; });
  const HostResult opened = Call("OpenShift $DeviceID " + Quoted(kInput));
  ASSERT_TRUE(opened.ok) << opened.printed;
  EXPECT_EQ(opened.Number("SessionNumber"), 7);
  EXPECT_EQ(opened.Number("DocumentNumber"), static_cast<long>(printer.State().fd.lastDocumentNumber));
  EXPECT_EQ(ParametersOf(opened.out.at("OutputParameters"), "OutputParameters"), kNoWarnings);
  EXPECT_TRUE(printer.State().shiftOpen);

  for (int i = 0; i < 12; ++i) {
    const HostResult receipt = Call("ProcessCheck $DeviceID false " + Quoted(kSale));
    ASSERT_TRUE(receipt.ok) << i << "\n" << receipt.printed;
    EXPECT_EQ(receipt.Number("SessionNumber"), 7);
  }

  const HostResult closed = Call("CloseShift $DeviceID " + Quoted(kInput));
  ASSERT_TRUE(closed.ok) << closed.printed;
  EXPECT_EQ(closed.Number("SessionNumber"), 7);
  const emu::PrinterState s = printer.State();
  EXPECT_FALSE(s.shiftOpen);
  EXPECT_EQ(closed.Number("DocumentNumber"), static_cast<long>(s.fd.lastDocumentNumber));
  const Attributes a = ParametersOf(closed.out.at("OutputParameters"), "OutputParameters");
  EXPECT_EQ(a.at("NumberOfChecks"), "12");
  EXPECT_EQ(a.at("NumberOfDocuments"), "14");
  // No relay runs here: the opening, the twelve receipts and the closing all wait for the operator.
  EXPECT_EQ(a.at("BacklogDocumentsCounter"), "14");
  EXPECT_EQ(a.at("BacklogDocumentFirstNumber"), std::to_string(emu::Backlog(s).front()->number));
  EXPECT_EQ(a.at("BacklogDocumentFirstDateTime").size(), 19u);
  // The drive's closing document counts the same, and the operator reads every document of the day.
  ffd::Container closing;
  const emu::Bytes& last = s.fd.documents.back().container;
  ASSERT_EQ(ffd::ParseContainer(last.data(), last.size(), &closing), ffd::ContainerError::kNone);
  std::vector<ffd::Tlv> tags;
  ASSERT_TRUE(ffd::ReadDocument(closing, &tags));
  uint32_t receipts = 0, documents = 0, waiting = 0;
  ASSERT_TRUE(ffd::ReadU32(*ffd::FindTag(tags, ffd::tag::kShiftReceipts), &receipts));
  ASSERT_TRUE(ffd::ReadU32(*ffd::FindTag(tags, ffd::tag::kShiftDocuments), &documents));
  ASSERT_TRUE(ffd::ReadU32(*ffd::FindTag(tags, ffd::tag::kUntransmittedCount), &waiting));
  EXPECT_EQ(receipts, 12u);
  EXPECT_EQ(documents, 13u);  // the opening and the receipts; the closing is not counted in itself
  EXPECT_EQ(waiting, 13u);
  testing_support::ExpectTheOperatorReadsEveryDocument(s);
}

TEST_P(HostShift, StatusOfAShiftPastItsHoursAndTheBacklog) {
  ShiftOpenedAgo(5, 25 * 3600);
  printer.ModifyState([](emu::PrinterState& s) { s.maxShiftHours = 24; });
  AllDelivered();
  HostResult status = Call("GetCurrentStatus $DeviceID");
  ASSERT_TRUE(status.ok) << status.printed;
  EXPECT_EQ(status.Number("SessionState"), 3);
  EXPECT_EQ(status.Number("SessionNumber"), 5);
  EXPECT_EQ(status.Number("CheckNumber"), static_cast<long>(printer.State().fd.lastDocumentNumber));
  EXPECT_EQ(ParametersOf(status.out.at("StatusParameters"), "StatusParameters"),
            (Attributes{{"BacklogDocumentsCounter", "0"}}));

  // An hour into the shift, with two documents not yet confirmed by the operator.
  printer.ModifyState([&](emu::PrinterState& s) {
    s.shiftOpenedAt = clock.unix_ - 3600;
    emu::PreloadDocuments(&s, 2);
  });
  const uint32_t firstNumber = emu::Backlog(printer.State()).front()->number;
  status = Call("GetCurrentStatus $DeviceID");
  ASSERT_TRUE(status.ok) << status.printed;
  EXPECT_EQ(status.Number("SessionState"), 2);
  const Attributes a = ParametersOf(status.out.at("StatusParameters"), "StatusParameters");
  EXPECT_EQ(a.at("BacklogDocumentsCounter"), "2");
  EXPECT_EQ(a.at("BacklogDocumentFirstNumber"), std::to_string(firstNumber));
  EXPECT_EQ(a.at("BacklogDocumentFirstDateTime").size(), 19u);
}

// The X report of an open shift logs its cashier on first, and a True leaves GetLastError nothing
// to tell (a refusal on the way once left its device text there).
TEST_P(HostShift, XReportLogsItsCashierOnAndLeavesNoErrorBehind) {
  ASSERT_TRUE(Call("OpenShift $DeviceID " + Quoted(Input("CashierName=\"Петров П.П.\""))).ok);
  printer.ClearTrace();
  const HostResult report = Call("PrintXReport $DeviceID " + Quoted(kInput));
  ASSERT_TRUE(report.ok) << report.printed;
  const std::vector<std::string> sent = line.Commands();
  const auto logOn =
      std::find_if(sent.begin(), sent.end(), [](const std::string& c) { return c.rfind("PC01", 0) == 0; });
  const auto xReport = std::find(sent.begin(), sent.end(), "I\xE0X");
  ASSERT_NE(logOn, sent.end());
  EXPECT_LT(logOn, xReport);
  EXPECT_EQ(printer.State().clerks[1].name, DeviceText("Иванова И.И."));

  const HostResult error = Call("GetLastError");
  EXPECT_EQ(error.result, "0");
  const std::string text = error.out.count("ErrorDescription") ? error.out.at("ErrorDescription") : "";
  EXPECT_EQ(text.find_first_not_of(' '), std::string::npos) << error.printed;
}

TEST_P(HostShift, InputParametersRefusedOrTrimmedBeforeThePrinterSeesThem) {
  // Refused: no cashier name, and nothing reaches the printer.
  for (const std::string& xml : {Input(""), Input("CashierName=\"\"")}) {
    SCOPED_TRACE(xml);
    const HostResult r = Call("OpenShift $DeviceID " + Quoted(xml));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.code, 133) << r.printed;
    EXPECT_EQ(r.error, "Некорректные исходные данные. Кассир не установлен");
  }
  EXPECT_TRUE(line.Commands().empty());
  EXPECT_FALSE(printer.State().shiftOpen);

  // An 11-character taxpayer number is not one: the cashier goes without it. A name past the
  // firmware's 35 characters is cut.
  const std::string name = std::string(20, 'x') + "Кассирова Анна Петровна";
  const HostResult r = Call("OpenShift $DeviceID " +
                            Quoted(Input("CashierName=\"" + name + "\" CashierVATIN=\"12345678901\"")));
  ASSERT_TRUE(r.ok) << r.printed;
  const emu::PrinterState s = printer.State();
  EXPECT_EQ(s.clerks[1].name, DeviceText(std::string(20, 'x') + "Кассирова Анна"));
  EXPECT_EQ(s.clerks[1].taxpayerNumber, "");
  // A 12-character one is taken.
  ASSERT_TRUE(
      Call("CloseShift $DeviceID " + Quoted(Input("CashierName=\"A\" CashierVATIN=\"123456789012\""))).ok);
  EXPECT_EQ(printer.State().clerks[1].taxpayerNumber, "123456789012");
}

INSTANTIATE_TEST_SUITE_P(Fronts, HostShift, kBothFronts, FrontName);

}  // namespace
