// GetDataKKT and OperationFN called by name as the host calls them, on the virtual printer: the
// device data table in the out-parameter, the closing of the fiscal drive, and a refusal with the
// code and text the host then reads.
#include <gtest/gtest.h>

#include <string>
#include <type_traits>

#include "addin_test_support.h"
#include "emu/fiscal_drive.h"
#include "ffd/ffd.h"
#include "support/fake_clock.h"
#include "support/printer_line.h"

namespace {

class FiscalData : public ComponentTest {
 protected:
  void SetUp() override {
    ComponentTest::SetUp();
    line.Start();
    Device()->pClock = &clock;
    // The registration texts are read until the line falls quiet: short waits keep the suite quick.
    Device()->nReadTimeout = Device()->nWriteTimeout = 300;
    ASSERT_TRUE(SetParameter("Port", line.Port()));
    ASSERT_TRUE(SetParameter("Password", "472913"));
    ParamArray params(1);
    ASSERT_TRUE(Call("Open", &params));
    Variant id;
    params.Get(0, &id);
    ASSERT_EQ(id.vt, VT_BSTR);
    deviceID = BstrToUtf8(id.bstrVal);
  }

  // The method called by its name; its boolean result.
  bool Call(const char* method, ParamArray* params) {
    Variant result;
    EXPECT_EQ(S_OK, ext->CallAsFunc(Find(method), &result, params->Ptr()));
    return result.vt == VT_BOOL && result.boolVal == VARIANT_TRUE;
  }
  template <typename Value>
  bool SetParameter(const char* name, Value value) {
    ParamArray params(2);
    Variant v;
    SetText(&v, name);
    params.Put(0, v);
    if constexpr (std::is_integral_v<Value>) {
      SetI4(&v, value);
    } else {
      SetText(&v, value);
    }
    params.Put(1, v);
    return Call("SetParameter", &params);
  }
  // OperationFN by its Russian name with the device identifier, the type and the package.
  bool OperationFN(LONG type, const char* xml) {
    ParamArray params(3);
    Variant v;
    SetText(&v, deviceID.c_str());
    params.Put(0, v);
    SetI4(&v, type);
    params.Put(1, v);
    SetText(&v, xml);
    params.Put(2, v);
    return Call("ОперацияФН", &params);
  }

  FakeClock clock;
  PrinterLine line{54, clock};
  std::string deviceID;
};

TEST_F(FiscalData, DeviceDataTableInTheOutParameter) {
  ParamArray params(2);
  Variant id;
  SetText(&id, deviceID.c_str());
  params.Put(0, id);
  ASSERT_TRUE(Call("ПолучитьПараметрыККТ", &params));
  Variant table;
  params.Get(1, &table);
  ASSERT_EQ(table.vt, VT_BSTR);
  const std::string xml = BstrToUtf8(table.bstrVal);
  EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>", 0), 0u) << xml;
  EXPECT_NE(xml.find("KKTNumber=\"0000000001012345678\""), std::string::npos) << xml;
  // TinyXML quotes a value that holds a double quote with apostrophes.
  EXPECT_NE(xml.find("OrganizationName='ООО &quot;Ромашка&quot;'"), std::string::npos) << xml;
  EXPECT_EQ(LastError(), 0);
}

// A printer gone from the line has no table to give: False with the line's code, not True with the
// data of the last time it answered.
TEST_F(FiscalData, APrinterGoneFromTheLineGivesNoTable) {
  line.printer.Stop();
  ParamArray params(2);
  Variant id;
  SetText(&id, deviceID.c_str());
  params.Put(0, id);
  EXPECT_FALSE(Call("GetDataKKT", &params));
  std::string text;
  EXPECT_NE(LastError(&text), 0);
  EXPECT_FALSE(text.empty());
  Variant table;
  params.Get(1, &table);
  EXPECT_TRUE(table.vt != VT_BSTR || table.bstrVal == nullptr);
}

TEST_F(FiscalData, ClosingTheDriveAndARefusalTheHostReads) {
  EXPECT_TRUE(OperationFN(3, "<Parameters CashierName=\"Петрова А.А.\"/>"));
  EXPECT_EQ(LastError(), 0);
  const emu::PrinterState s = line.printer.State();
  EXPECT_EQ(s.fd.lifePhase, emu::kPhaseClosed);
  EXPECT_EQ(s.fd.documents.back().type, ffd::kDriveClosing);

  EXPECT_FALSE(OperationFN(4, "<Parameters CashierName=\"Петрова А.А.\"/>"));
  std::string text;
  EXPECT_EQ(LastError(&text), 127);
  EXPECT_EQ(text, "Неизвестный тип операции. Некорректный формат или параметр команды");
}

}  // namespace
