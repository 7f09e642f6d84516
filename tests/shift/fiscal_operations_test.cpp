// The register as a fiscal device through the driver object against the virtual printer: the
// device data table, the registration of a fresh fiscal drive, a change of its parameters and its
// closing, and the ParametersFiscal packages refused before the fiscal drive is touched.
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "device/serial_port.h"
#include "driver/com_text.h"
#include "driver/mirel_driver.h"
#include "emu/fiscal_drive.h"
#include "emu/records.h"
#include "emu/registration.h"
#include "ffd/ffd.h"
#include "platform/codepage.h"
#include "shift/fiscal_documents.h"
#include "support/driver_on_printer.h"
#include "support/operator_reads.h"

namespace {

using Attributes = std::vector<std::pair<std::string, std::string>>;

// The attributes of the returned document's root, in their order; the document is freed.
Attributes RootAttributes(BSTR document) {
  Attributes out;
  TiXmlDocument xml;
  xml.Parse(BstrToUtf8(document).c_str(), nullptr, TIXML_ENCODING_UTF8);
  SysFreeString(document);
  const TiXmlElement* root = xml.RootElement();
  EXPECT_TRUE(root && std::string(root->Value()) == "Parameters");
  for (const TiXmlAttribute* a = root ? root->FirstAttribute() : nullptr; a; a = a->Next()) {
    out.emplace_back(a->Name(), a->Value());
  }
  return out;
}

std::string Value(const Attributes& attributes, const std::string& name) {
  for (const auto& a : attributes) {
    if (a.first == name) return a.second;
  }
  return "<none>";
}

std::vector<std::string> Names(const Attributes& attributes) {
  std::vector<std::string> names;
  for (const auto& a : attributes) names.push_back(a.first);
  return names;
}

// A registration package; `extra` goes inside the element, after the usual attributes.
std::string Package(const std::string& extra = "") {
  return "<Parameters CashierName=\"Петрова А.А.\" KKTNumber=\"0000000002034567\" "
         "OrganizationName=\"ООО &quot;Василёк&quot;   \" VATIN=\"7702345678\" "
         "AddressSettle=\"г. Тверь, ул. Советская, 5\" PlaceSettle=\"Павильон 2\" TaxVariant=\"0,3\" "
         "SaleExcisableGoods=\"true\" CalcOnlineSign=\"true\" SignOfAgent=\"1,6\" "
         "OFDOrganizationName=\"ООО &quot;Данные&quot;\" OFDVATIN=\"7709876543\" "
         "FNSWebSite=\"www.nalog.gov.ru\" SenderEmail=\"shop@example.ru\" " +
         extra + "/>";
}

class FiscalOperations : public DriverOnPrinter<CMirelDriver, 53> {
 protected:
  void SetUp() override {
    DriverOnPrinter::SetUp();
    ctx->nContextKind = 2;
    ctx->nFnFfdVersion = 2;
    ctx->pRecodeTable = DeviceRecodeTable(3);
    // The registration texts are read until the line falls quiet: short waits keep the suite quick.
    ctx->nReadTimeout = ctx->nWriteTimeout = 300;
    ASSERT_EQ(0, SetCommTimeoutsFP(ctx, 300, 300));
    VARIANT password;
    password.vt = VT_BSTR;
    password.bstrVal = Utf8ToBstr("472913");
    ASSERT_TRUE(driver.SetParameter("Password", password));
    SysFreeString(password.bstrVal);
  }

  // A printer whose fiscal drive waits for its registration.
  void FreshDrive() {
    printer.ModifyState([](emu::PrinterState& s) {
      s.fiscal = false;
      s.fd.lifePhase = emu::kPhaseReady;
    });
  }

  Attributes DataKKT() {
    BSTR table = nullptr;
    EXPECT_TRUE(driver.GetDataKKT("", &table));
    return table ? RootAttributes(table) : Attributes{};
  }

  std::vector<uint8_t> DocumentTypes() {
    std::vector<uint8_t> types;
    for (const emu::FdDocument& d : printer.State().fd.documents) types.push_back(d.type);
    return types;
  }

  emu::VirtualPrinter& printer = line.printer;
};

TEST_F(FiscalOperations, DeviceDataOfTheRegisteredRegisterInItsOrder) {
  const Attributes a = DataKKT();
  const std::vector<std::string> names = {"VATIN",
                                          "KKTNumber",
                                          "KKTSerialNumber",
                                          "FNSerialNumber",
                                          "FFDVersionFN",
                                          "FFDVersionKKT",
                                          "Fiscal",
                                          "OrganizationName",
                                          "AddressSettle",
                                          "DateTime",
                                          "DocumentNumber",
                                          "TaxVariant",
                                          "DataEncryption",
                                          "OfflineMode",
                                          "AutomaticMode",
                                          "ServiceSign",
                                          "BSOSing",
                                          "CalcOnlineSign",
                                          "SaleExcisableGoods",
                                          "SignOfGambling",
                                          "SignOfLottery",
                                          "AutomaticNumber",
                                          "OFDVATIN",
                                          "PlaceSettle",
                                          "SenderEmail",
                                          "OFDOrganizationName",
                                          "FNSWebSite"};
  EXPECT_EQ(Names(a), names);
  EXPECT_EQ(Value(a, "VATIN"), "7701234567  ");
  EXPECT_EQ(Value(a, "KKTNumber"), "0000000001012345678");
  EXPECT_EQ(Value(a, "KKTSerialNumber"), "00240000012345");
  EXPECT_EQ(Value(a, "FNSerialNumber"), "9999078900012345");
  EXPECT_EQ(Value(a, "FFDVersionFN"), "1.0.5");
  EXPECT_EQ(Value(a, "FFDVersionKKT"), "1.0.5");
  EXPECT_EQ(Value(a, "Fiscal"), "true");
  EXPECT_EQ(Value(a, "OrganizationName"), "ООО \"Ромашка\"");
  EXPECT_EQ(Value(a, "AddressSettle"), "г. Москва, ул. Тверская, 1");
  EXPECT_EQ(Value(a, "DateTime").size(), 19u);
  EXPECT_EQ(Value(a, "DocumentNumber"), "1");
  EXPECT_EQ(Value(a, "TaxVariant"), "0");
  EXPECT_EQ(Value(a, "CalcOnlineSign"), "true");
  EXPECT_EQ(Value(a, "OfflineMode"), "false");
  EXPECT_EQ(Value(a, "AutomaticNumber"), "");
  EXPECT_EQ(Value(a, "OFDVATIN"), "7704211201");
  EXPECT_EQ(Value(a, "PlaceSettle"), "Магазин №1");
  EXPECT_EQ(Value(a, "OFDOrganizationName"), "ООО \"Оператор\"");
  EXPECT_EQ(Value(a, "FNSWebSite"), "www.nalog.gov.ru");
}

TEST_F(FiscalOperations, DeviceDataOfAnAutomaticRegisterAndAQueryThatFails) {
  printer.ModifyState([](emu::PrinterState& s) {
    s.registration.workModes = 0x24;
    s.registration.automatNumber = "A-17";
    s.registration.agentSigns = 0x41;
    s.registration.activityFlags = 0x06;
    s.fd.taxSystems = 0x09;
    s.fiscal = false;
  });
  printer.RefuseNextOf("Su*6", 1);
  const Attributes a = DataKKT();
  EXPECT_EQ(Value(a, "Fiscal"), "false");
  EXPECT_EQ(Value(a, "TaxVariant"), "0,3");
  EXPECT_EQ(Value(a, "AutomaticMode"), "true");
  // The printer's automatic mode follows it at once.
  const std::vector<std::string> names = Names(a);
  const auto automatic = std::find(names.begin(), names.end(), "AutomaticMode");
  ASSERT_NE(automatic, names.end());
  EXPECT_EQ(*(automatic + 1), "PrinterAutomatic");
  EXPECT_EQ(Value(a, "PrinterAutomatic"), "true");
  EXPECT_EQ(Value(a, "SaleExcisableGoods"), "false");
  EXPECT_EQ(Value(a, "SignOfGambling"), "true");
  EXPECT_EQ(Value(a, "SignOfLottery"), "true");
  EXPECT_EQ(Value(a, "SignOfAgent"), "0,6");
  EXPECT_EQ(Value(a, "AutomaticNumber"), "A-17");
  // The address could not be read: only it is missing.
  EXPECT_EQ(Value(a, "AddressSettle"), "<none>");
  EXPECT_EQ(Value(a, "OrganizationName"), "ООО \"Ромашка\"");
}

TEST_F(FiscalOperations, RegistrationThenDeviceDataReturnsTheRegisteredValues) {
  FreshDrive();
  const std::string xml = Package();
  ASSERT_TRUE(driver.OperationFN("", 1, xml.c_str())) << ctx->nLastResult;
  EXPECT_EQ(ctx->nLastResult, 0);

  // The command carries the numbers blank-padded, the tax systems 0 and 3 as '0' + 9 and the
  // internet mode as '0' + 0x20; a first registration has no reason.
  const std::vector<std::string> pm = line.Commands("PM");
  ASSERT_EQ(pm.size(), 1u);
  EXPECT_EQ(pm[0],
            "PM407913472913"
            "7702345678  "
            "0000000002034567    "
            "7709876543  " +
                std::string(20, ' ') + "9P");
  const emu::PrinterState s = printer.State();
  EXPECT_EQ(s.fd.lifePhase, emu::kPhaseFiscal);
  ASSERT_FALSE(s.fd.documents.empty());
  EXPECT_EQ(s.fd.documents.back().type, ffd::kRegistration);
  // The header lines carry the name without its trailing blanks.
  EXPECT_EQ(line.Commands("PH").size(), 2u);

  const Attributes a = DataKKT();
  EXPECT_EQ(Value(a, "Fiscal"), "true");
  EXPECT_EQ(Value(a, "VATIN"), "7702345678  ");
  EXPECT_EQ(Value(a, "KKTNumber"), "0000000002034567");
  EXPECT_EQ(Value(a, "OrganizationName"), "ООО \"Василёк\"");
  EXPECT_EQ(Value(a, "AddressSettle"), "г. Тверь, ул. Советская, 5");
  EXPECT_EQ(Value(a, "PlaceSettle"), "Павильон 2");
  EXPECT_EQ(Value(a, "TaxVariant"), "0,3");
  EXPECT_EQ(Value(a, "CalcOnlineSign"), "true");
  EXPECT_EQ(Value(a, "SaleExcisableGoods"), "true");
  EXPECT_EQ(Value(a, "SignOfAgent"), "1,6");
  EXPECT_EQ(Value(a, "OFDVATIN"), "7709876543");
  EXPECT_EQ(Value(a, "OFDOrganizationName"), "ООО \"Данные\"");
  EXPECT_EQ(Value(a, "SenderEmail"), "shop@example.ru");
  EXPECT_EQ(Value(a, "DocumentNumber"), std::to_string(s.fd.documents.back().number));
  EXPECT_EQ(Value(a, "DateTime").size(), 19u);
  testing_support::ExpectTheOperatorReadsEveryDocument(s);
}

TEST_F(FiscalOperations, ChangeOfParametersClosesTheShiftFirstAndChangesTheData) {
  ASSERT_TRUE(
      driver.OpenShift("", "<InputParameters><Parameters CashierName=\"Петрова А.А.\"/></InputParameters>",
                       nullptr, nullptr, nullptr));
  DataKKT();  // the host's dialogue reads the data first
  printer.ClearTrace();
  const std::string xml = Package("ReasonCode=\"4\" InfoChangesReasonsCodes=\"3,4\"");
  ASSERT_TRUE(driver.OperationFN("", 2, xml.c_str())) << ctx->nLastResult << " " << ctx->nDeviceError;

  // The open shift's Z report, then the one under the access password, then the change.
  const std::vector<std::string> sent = line.Commands();
  const auto at = [&](const std::string& prefix) {
    for (size_t i = 0; i < sent.size(); ++i) {
      if (sent[i].compare(0, prefix.size(), prefix) == 0) return i;
    }
    return sent.size();
  };
  EXPECT_LT(at("zz"), at("I\xE1Z"));
  EXPECT_LT(at("I\xE1Z"), at("PM"));
  ASSERT_LT(at("PM"), sent.size());
  EXPECT_EQ(sent[at("PM")].back(), '4');  // the reason goes with a change
  const std::vector<uint8_t> types = DocumentTypes();
  ASSERT_GE(types.size(), 3u);
  EXPECT_EQ(types[types.size() - 2], ffd::kShiftClosing);
  EXPECT_EQ(types.back(), ffd::kReregistration);

  const Attributes a = DataKKT();
  EXPECT_EQ(Value(a, "OrganizationName"), "ООО \"Василёк\"");
  EXPECT_EQ(Value(a, "KKTNumber"), "0000000002034567");
  EXPECT_EQ(Value(a, "TaxVariant"), "0,3");
  testing_support::ExpectTheOperatorReadsEveryDocument(printer.State());
}

TEST_F(FiscalOperations, ClosingLeavesTheDriveClosedAndRefusesTheNextReceipt) {
  ASSERT_TRUE(driver.OperationFN("", 3, "<Parameters CashierName=\"Петрова А.А.\"/>")) << ctx->nLastResult;
  const emu::Bytes name = emu::DeviceText("Петрова А.А.");
  EXPECT_EQ(line.Commands("BFS"), std::vector<std::string>{"BFS" + std::string(name.begin(), name.end())});
  EXPECT_TRUE(line.Commands("PM").empty());
  EXPECT_EQ(printer.State().fd.lifePhase, emu::kPhaseClosed);
  EXPECT_EQ(DocumentTypes().back(), ffd::kDriveClosing);
  testing_support::ExpectTheOperatorReadsEveryDocument(printer.State());

  // The closed drive opens no shift, and no receipt either, whatever the shift's state.
  const char input[] = "<InputParameters><Parameters CashierName=\"Петрова А.А.\"/></InputParameters>";
  EXPECT_FALSE(driver.OpenShift("", input, nullptr, nullptr, nullptr));
  EXPECT_EQ(ctx->nLastResult, 9);  // the printer's fiscal error
  EXPECT_FALSE(printer.State().shiftOpen);
  printer.ModifyState([](emu::PrinterState& s) { s.shiftOpen = true; });
  EXPECT_NE(driver.StartDocument(1, 1, 0, "Петрова"), 0);
  EXPECT_EQ(ctx->nDeviceError, emu::kErrorDriveState);

  // Nor can it be closed twice.
  printer.ModifyState([](emu::PrinterState& s) { s.shiftOpen = false; });
  EXPECT_FALSE(driver.OperationFN("", 3, "<Parameters CashierName=\"Петрова А.А.\"/>"));
  EXPECT_EQ(ctx->nDeviceError, emu::kErrorDriveState);
  EXPECT_NE(ctx->nLastResult, 0);
}

TEST_F(FiscalOperations, RefusalsBeforeTheDriveIsTouched) {
  struct Case {
    const char* what;
    std::function<void(emu::PrinterState&)> state;
    int type;
    std::string xml;
    int32_t code;
    int32_t deviceError;
    bool silent = false;  // refused on reading: nothing is sent
  } cases[] = {
      {"unknown type", nullptr, 4, Package(), 127, 1, true},
      {"no type", nullptr, 0, Package(), 127, 1, true},
      {"no cashier", nullptr, 3, "<Parameters/>", 46, 0, true},
      {"short taxpayer number", nullptr, 1, "<Parameters CashierName=\"A\" VATIN=\"12345678901\"/>", 128, 0,
       true},
      {"not a package", nullptr, 2, "<Parameters", 128, 0, true},
      {"change on a register not yet fiscal", [](emu::PrinterState& s) { s.fiscal = false; }, 2, Package(),
       105, 79},
      {"close on a register not yet fiscal", [](emu::PrinterState& s) { s.fiscal = false; }, 3, Package(),
       105, 79},
      {"offline asked of an online drive", nullptr, 2, Package("OfflineMode=\"true\""), 130, 0},
      {"automatic mode changed", nullptr, 2, Package("AutomaticMode=\"true\" AutomaticNumber=\"7\""), 130, 0},
      {"automatic mode without a number", nullptr, 2, Package("AutomaticMode=\"true\""), 128, 290},
      {"registration of a registered drive for a new drive", nullptr, 1, Package("ReasonCode=\"1\""), 131,
       281},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    printer.ModifyState([&](emu::PrinterState& s) {
      s.fiscal = true;
      if (c.state) c.state(s);
    });
    const size_t documents = printer.State().fd.documents.size();
    printer.ClearTrace();
    ctx->nLastResult = ctx->nDeviceError = 0;  // as the host's call leaves them
    EXPECT_FALSE(driver.OperationFN("", c.type, c.xml.c_str()));
    EXPECT_EQ(ctx->nLastResult, c.code);
    EXPECT_EQ(ctx->nDeviceError, c.deviceError);
    EXPECT_TRUE(line.Commands("PM").empty());
    EXPECT_TRUE(line.Commands("BFS").empty());
    EXPECT_EQ(printer.State().fd.documents.size(), documents);
    if (c.silent) {
      EXPECT_TRUE(line.Commands().empty());
    }
  }
}

// ---- ParametersFiscal ----

int32_t Parse(const std::string& xml, FnRegistrationData* data, std::string* error, bool strict = true) {
  TiXmlDocument document;
  document.Parse(xml.c_str(), nullptr, TIXML_ENCODING_UTF8);
  FPContext ctx;
  return ParseRegistrationData(&ctx, &document, data, error, strict);
}

TEST(ParametersFiscal, RefusedWithTheReasonOfTheFirstBadAttribute) {
  struct Case {
    std::string xml;
    bool strict;
    int32_t code;
    const char* error;
  } cases[] = {
      {"<Parameters KKTNumber=\"1\"/>", false, 46, "Tag \"Parameters\"->\"CashierName\" missing or empty"},
      {"<Parameters CashierName=\"\"/>", true, 46, "Tag \"Parameters\"->\"CashierName\" missing or empty"},
      {"<Parameters CashierName=\"A\"/>", true, 128, "Tag \"Parameters\"->\"KKTNumber\" missing or empty"},
      {"<Other CashierName=\"A\"/>", true, 128, "Registration data failure. Registration canceled"},
      {"<Parameters CashierName=", true, 128,
       "Error in tag \"\" of registration data XML: Error reading Attributes."},
      {Package("").replace(Package("").find("VATIN=\"7702345678\""), 18, "VATIN=\"77023456789\""), true, 128,
       "Tag \"Parameters\"->\"VATIN\" missing, error or empty"},
      {Package("").replace(Package("").find("TaxVariant=\"0,3\""), 16, ""), true, 128,
       "Tag \"Parameters\"->\"TaxVariant\" missing, error or empty"},
      {Package("").replace(Package("").find("TaxVariant=\"0,3\""), 16, "TaxVariant=\"7\""), true, 128,
       "TaxVariant: incorrect data"},
      {Package("InfoChangesReasonsCodes=\"33\""), true, 128, "InfoChangesReasonsCodes: incorrect data"},
      {Package("InfoChangesReasonsCodes=\"1;2\""), true, 128, "InfoChangesReasonsCodes: incorrect data"},
      {Package("InfoChangesReasonsCodes=\"001\""), true, 128, "InfoChangesReasonsCodes: incorrect data"},
      {Package("InfoChangesReasonsCodes=\",\""), true, 128, "InfoChangesReasonsCodes: incorrect data"},
      {Package("").replace(Package("").find("OFDVATIN=\"7709876543\""), 21, ""), true, 128,
       "Tag \"Parameters\"->\"OFDVATIN\" missing, error or empty"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.xml);
    FnRegistrationData data;
    std::string error;
    EXPECT_EQ(Parse(c.xml, &data, &error, c.strict), c.code);
    EXPECT_EQ(error, c.error);
  }
  std::string error;
  EXPECT_EQ(ParseRegistrationData(nullptr, nullptr, nullptr, &error, true), 128);
  EXPECT_EQ(error, "Registration data can not be processed");
}

TEST(ParametersFiscal, FieldsAsTheRegistrationSendsThem) {
  FnRegistrationData data;
  std::string error;
  const std::string longName(300, 'N');
  std::string xml = Package(
      "OfflineMode=\"True\" BSOSing=\"true\" InfoChangesReasonsCodes=\"1,2,32\" "
      "ReasonCode=\"45\" CashierVATIN=\"123\"");
  xml.replace(xml.find("ООО &quot;Василёк&quot;   "), std::strlen("ООО &quot;Василёк&quot;   "), longName);
  ASSERT_EQ(Parse(xml, &data, &error), 0) << error;
  EXPECT_EQ(data.cTaxSystem, '9');
  EXPECT_EQ(data.nReasonsMask, 0x80000003u);
  EXPECT_EQ(data.nAgentSigns, 0x42);
  EXPECT_STREQ(data.szVatin, "7702345678  ");
  EXPECT_STREQ(data.szCashierVatin, "");
  EXPECT_STREQ(data.szReasonCode, "4");
  EXPECT_EQ(std::string(data.szOrganizationName), longName.substr(0, 256));
  EXPECT_EQ(data.bOfflineMode, 0);  // only "true" exactly
  EXPECT_EQ(data.bBsoSing, 1);
  EXPECT_EQ(data.bExcisableGoods, 1);
  EXPECT_EQ(std::string(data.szCashierName), plat::Utf8ToCp1251("Петрова А.А."));

  // A closing needs the cashier alone.
  FnRegistrationData closing;
  EXPECT_EQ(Parse("<Parameters CashierName=\"A\"/>", &closing, &error, false), 0);
  EXPECT_EQ(closing.cTaxSystem, 0);
}

}  // namespace
