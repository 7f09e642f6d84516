// The shift methods through the driver object against the virtual printer: opening and closing
// the shift with the numbers and documents the host gets back, the status of an expired shift,
// the X reports of an open and a closed shift, the settlements report, and the InputParameters
// the methods refuse before anything is sent.
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <map>
#include <string>

#include "device/serial_port.h"
#include "driver/com_text.h"
#include "driver/mirel_driver.h"
#include "emu/records.h"
#include "emu/reports.h"
#include "platform/codepage.h"
#include "shift/shift_documents.h"
#include "support/driver_on_printer.h"
#include "support/fake_clock.h"
#include "support/printer_line.h"

namespace {

// The printer keeps names as they came, in its character set.
std::string DeviceText(const std::string& utf8) {
  const emu::Bytes bytes = emu::DeviceText(utf8);
  return std::string(bytes.begin(), bytes.end());
}

const char kInput[] = "<InputParameters><Parameters CashierName=\"Иванова И.И.\"/></InputParameters>";

// The attributes of the "Parameters" element of a returned document, which is freed.
std::map<std::string, std::string> Attributes(BSTR document, const char* root) {
  std::map<std::string, std::string> out;
  TiXmlDocument xml;
  xml.Parse(BstrToUtf8(document).c_str(), nullptr, TIXML_ENCODING_UTF8);
  SysFreeString(document);
  const TiXmlElement* parameters =
      xml.RootElement() ? xml.RootElement()->FirstChildElement("Parameters") : nullptr;
  EXPECT_TRUE(parameters && std::string(xml.RootElement()->Value()) == root);
  for (const TiXmlAttribute* a = parameters ? parameters->FirstAttribute() : nullptr; a; a = a->Next()) {
    out[a->Name()] = a->Value();
  }
  return out;
}

class Shift : public DriverOnPrinter<CMirelDriver, 46, true> {
 protected:
  void SetUp() override {
    DriverOnPrinter::SetUp();
    ctx->nContextKind = 2;
    ctx->pRecodeTable = DeviceRecodeTable(3);
  }

  void OpenInPrinter(int shiftNumber, int64_t openedAgo) {
    printer.ModifyState([&](emu::PrinterState& s) {
      s.shiftNumber = shiftNumber - 1;
      s.now = clock.unix_ - openedAgo;
      emu::BeginShift(&s);
    });
  }

  emu::VirtualPrinter& printer = line.printer;
};

TEST_F(Shift, OpenShiftOpensTheNextShiftOnce) {
  printer.ModifyState([](emu::PrinterState& s) { s.shiftNumber = 6; });
  BSTR output = nullptr;
  LONG session = 0, document = 0;
  ASSERT_TRUE(driver.OpenShift("", kInput, &output, &session, &document));
  EXPECT_EQ(session, 7);
  EXPECT_EQ(document, 1);  // the opening document
  const auto attributes = Attributes(output, "OutputParameters");
  EXPECT_EQ(attributes, (std::map<std::string, std::string>{{"UrgentReplacementFN", "false"},
                                                            {"ResourcesExhaustionFN", "false"},
                                                            {"MemoryOverflowFN", "false"},
                                                            {"OFDtimeout", "false"}}));
  const emu::PrinterState s = printer.State();
  EXPECT_TRUE(s.shiftOpen);
  EXPECT_EQ(s.clerks[1].name, DeviceText("Иванова И.И."));

  // Once more: the same numbers, and the reason.
  printer.ClearTrace();
  session = document = 0;
  output = nullptr;
  EXPECT_FALSE(driver.OpenShift("", kInput, &output, &session, &document));
  EXPECT_EQ(ctx->nLastResult, 126);
  EXPECT_EQ(session, 7);
  EXPECT_EQ(document, 1);
  EXPECT_EQ(Attributes(output, "OutputParameters").size(), 4u);
  EXPECT_TRUE(line.Commands("o").empty());
}

TEST_F(Shift, CloseShiftCountsTheShiftsReceiptsAndItsTwoDocuments) {
  ASSERT_TRUE(driver.OpenShift("", kInput, nullptr, nullptr, nullptr));
  printer.ModifyState([](emu::PrinterState& s) { s.documentCount = 12; });
  BSTR output = nullptr;
  LONG session = 0, document = 0;
  ASSERT_TRUE(driver.CloseShift("", kInput, &output, &session, &document));
  EXPECT_EQ(session, 1);
  EXPECT_EQ(document, 2);
  const auto a = Attributes(output, "OutputParameters");
  EXPECT_EQ(a.at("NumberOfChecks"), "12");
  EXPECT_EQ(a.at("NumberOfDocuments"), "14");
  // Neither document has reached the operator yet: the first is the opening.
  EXPECT_EQ(a.at("BacklogDocumentsCounter"), "2");
  EXPECT_EQ(a.at("BacklogDocumentFirstNumber"), "1");
  EXPECT_EQ(a.at("BacklogDocumentFirstDateTime").size(), 19u);
  EXPECT_FALSE(printer.State().shiftOpen);

  // A closed shift is closed already: True with the numbers as they are.
  output = nullptr;
  EXPECT_TRUE(driver.CloseShift("", kInput, &output, &session, &document));
  EXPECT_EQ(session, 1);
  const auto again = Attributes(output, "OutputParameters");
  EXPECT_EQ(again.at("NumberOfChecks"), "0");
  EXPECT_EQ(again.at("NumberOfDocuments"), "0");
}

TEST_F(Shift, CurrentStatusOfAShiftPastItsHours) {
  OpenInPrinter(5, 25 * 3600);
  printer.ModifyState([](emu::PrinterState& s) {
    s.maxShiftHours = 24;
    for (emu::FdDocument& d : s.fd.documents) d.acknowledged = true;
  });
  LONG check = 0, session = 0, state = 0;
  BSTR status = nullptr;
  ASSERT_TRUE(driver.GetCurrentStatus("", &check, &session, &state, &status));
  EXPECT_EQ(state, 3);
  EXPECT_EQ(session, 5);
  EXPECT_EQ(check, 1);
  // No backlog: the counter alone.
  EXPECT_EQ(Attributes(status, "StatusParameters"),
            (std::map<std::string, std::string>{{"BacklogDocumentsCounter", "0"}}));

  printer.ModifyState([&](emu::PrinterState& s) { s.shiftOpenedAt = clock.unix_ - 3600; });
  ASSERT_TRUE(driver.GetCurrentStatus("", &check, &session, &state, nullptr));
  EXPECT_EQ(state, 2);
}

TEST_F(Shift, XReportOfAnOpenAndOfAClosedShift) {
  ASSERT_TRUE(driver.PrintXReport("", kInput));
  EXPECT_EQ(line.Commands("I"), std::vector<std::string>{"I\xE1X"});
  EXPECT_TRUE(line.Commands("PC").empty());  // no cashier for a closed shift's report

  ASSERT_TRUE(driver.OpenShift("", kInput, nullptr, nullptr, nullptr));
  printer.ClearTrace();
  ASSERT_TRUE(driver.PrintXReport("", kInput));
  EXPECT_EQ(line.Commands("I"), std::vector<std::string>{"I\xE0X"});

  printer.ModifyState([](emu::PrinterState& s) { s.paperEnd = true; });
  EXPECT_FALSE(driver.PrintXReport("", kInput));
  EXPECT_EQ(ctx->nLastResult, 15);
}

TEST_F(Shift, SettlementsReportWithTheBacklog) {
  BSTR output = nullptr;
  ASSERT_TRUE(driver.ReportCurrentStatusOfSettlements("", "", &output));
  EXPECT_EQ(line.Commands("SuW").size(), 1u);
  const auto a = Attributes(output, "OutputParameters");
  EXPECT_EQ(a.at("BacklogDocumentsCounter"), "1");  // the report itself
  EXPECT_EQ(a.at("BacklogDocumentFirstNumber"), "1");
  EXPECT_EQ(a.count("NumberOfChecks"), 0u);
}

TEST_F(Shift, InputParametersAreCheckedBeforeAnythingIsSent) {
  struct Case {
    const char* xml;
    int32_t deviceError;
  } cases[] = {
      {"<InputParameters><Parameters/></InputParameters>", 46},
      {"<InputParameters><Parameters CashierName=\"\"/></InputParameters>", 46},
      {"<InputParameters/>", 0},
      {"<Other><Parameters CashierName=\"A\"/></Other>", 0},
      {"<InputParameters><Parameters", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.xml);
    ctx->nDeviceError = 0;
    EXPECT_FALSE(driver.OpenShift("", c.xml, nullptr, nullptr, nullptr));
    EXPECT_FALSE(driver.CloseShift("", c.xml, nullptr, nullptr, nullptr));
    EXPECT_FALSE(driver.PrintXReport("", c.xml));
    EXPECT_EQ(ctx->nLastResult, 133);
    EXPECT_EQ(ctx->nDeviceError, c.deviceError);
  }
  EXPECT_TRUE(line.Commands().empty());
}

TEST_F(Shift, CashierNameAndTaxpayerNumberLimits) {
  const std::string name(40, 'N');
  struct Case {
    int contextKind;
    const char* vatin;
    size_t nameLength;
    const char* taken;
  } cases[] = {
      {1, "1234567890", 25, "1234567890"},
      {2, "123456789012", 35, "123456789012"},
      {2, "12345678901", 35, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.vatin);
    ctx->nContextKind = c.contextKind;
    const std::string xml = "<InputParameters><Parameters CashierName=\"" + name + "\" CashierVATIN=\"" +
                            c.vatin + "\"/></InputParameters>";
    char clerk[65];
    char vatin[13] = "stale";
    std::string error;
    ASSERT_TRUE(ParseInputParameters(ctx, nullptr, xml.c_str(), clerk, sizeof clerk, vatin, &error));
    EXPECT_EQ(std::string(clerk), name.substr(0, c.nameLength));
    EXPECT_STREQ(vatin, c.taken);
  }
  // The name reaches the printer cut, and in its character set.
  ctx->nContextKind = 2;
  const std::string xml = "<InputParameters><Parameters CashierName=\"" + std::string(20, 'x') +
                          std::string("Кассирова Анна Петровна") + "\"/></InputParameters>";
  ASSERT_TRUE(driver.OpenShift("", xml.c_str(), nullptr, nullptr, nullptr));
  EXPECT_EQ(printer.State().clerks[1].name, DeviceText(std::string(20, 'x') + "Кассирова Анна"));
}

}  // namespace
