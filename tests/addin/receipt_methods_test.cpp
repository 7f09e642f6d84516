// The text document, cash in and out, the drawer and the correction receipt as the host calls them:
// by name through ILanguageExtender, on the virtual printer brought up by Open.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "addin_test_support.h"
#include "support/fake_clock.h"
#include "support/printer_line.h"

namespace {

// One in-argument of a call.
using Argument = std::function<void(VARIANT*)>;

Argument Text(const std::string& utf8) {
  return [utf8](VARIANT* v) { SetText(v, utf8.c_str()); };
}
Argument Number(double x) {
  return [x](VARIANT* v) { SetR8(v, x); };
}

class ReceiptMethods : public ComponentTest {
 protected:
  void SetUp() override {
    ComponentTest::SetUp();
    line.Start();
    Device()->pClock = &clock;
    ASSERT_TRUE(Set("Port", [this](VARIANT* v) { SetI4(v, line.Port()); }));
    ASSERT_TRUE(Set("Password", Text("472913")));
    ASSERT_TRUE(Set("Cashier", Text("Петрова")));
    ParamArray params(1);
    Variant result;
    ASSERT_EQ(S_OK, ext->CallAsFunc(Find("Open"), &result, params.Ptr()));
    ASSERT_EQ(VARIANT_TRUE, result.boolVal) << LastError();
    Variant id;
    params.Get(0, &id);
    deviceID = BstrToUtf8(id.bstrVal);
    line.printer.ModifyState([this](emu::PrinterState& s) {
      s.shiftOpen = true;
      s.shiftNumber = 3;
      s.shiftOpenedAt = clock.UnixTime();
      s.shiftTotals[7] = 100000;
    });
  }

  bool Set(const char* name, const Argument& fill) {
    Variant value;
    fill(&value);
    LONG ok = 0;
    EXPECT_EQ(S_OK, object->OdinS_SetParameter(Bstr(name), value, &ok));
    return ok != 0;
  }

  // Calls `method` by name with the device identifier and `arguments`; the parameter array stays
  // for the out-parameters.
  bool Call(const char* method, const std::vector<Argument>& arguments) {
    const LONG number = Find(method);
    params = std::make_unique<ParamArray>(static_cast<ULONG>(MethodAt(number).nParams));
    Variant id;
    SetText(&id, deviceID.c_str());
    params->Put(0, id);
    for (size_t i = 0; i < arguments.size(); ++i) {
      Variant v;
      arguments[i](&v);
      params->Put(static_cast<LONG>(i + 1), v);
    }
    Variant result;
    EXPECT_EQ(S_OK, ext->CallAsFunc(number, &result, params->Ptr()));
    return result.boolVal == VARIANT_TRUE;
  }

  FakeClock clock;
  PrinterLine line{63, clock};
  std::string deviceID;
  std::unique_ptr<ParamArray> params;
};

std::string Example(const char* name) {
  std::ifstream file(std::string(MIREL_TESTS_DIR) + "/../tools/host/examples/" + name);
  return std::string((std::istreambuf_iterator<char>(file)), {});
}

const char kInputParameters[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><InputParameters><Parameters CashierName=\"Иванова\"/>"
    "</InputParameters>";

// The example package of mirel-host.
TEST_F(ReceiptMethods, PrintTextDocument) {
  EXPECT_TRUE(Call("НапечататьТекстовыйДокумент", {Text(Example("text-document.xml"))})) << LastError();
  const auto tape = line.printer.State().tape;
  ASSERT_GE(tape.size(), 6u);
  EXPECT_EQ("[EAN13 4601234567893]", tape[tape.size() - 4].text);
  EXPECT_EQ("Спасибо за покупку!", tape[tape.size() - 2].text);
  EXPECT_EQ("", tape.back().text);
}

TEST_F(ReceiptMethods, CashInOutcome) {
  EXPECT_TRUE(Call("CashInOutcome", {Text(kInputParameters), Number(-250.5)})) << LastError();
  EXPECT_EQ(100000 - 25050, line.printer.State().shiftTotals[7]);
  EXPECT_FALSE(Call("CashInOutcome", {Text(kInputParameters), Number(-1000)}));
  std::string text;
  EXPECT_EQ(114, LastError(&text));
  EXPECT_EQ(0u, text.find("Недостаточно денег в кассе")) << text;
  EXPECT_FALSE(Call("CashInOutcome", {Text(kInputParameters), Number(std::nan(""))}));
  EXPECT_EQ(133, LastError());
  EXPECT_EQ(100000 - 25050, line.printer.State().shiftTotals[7]);
}

TEST_F(ReceiptMethods, OpenCashDrawer) {
  EXPECT_TRUE(Call("ОткрытьДенежныйЯщик", {})) << LastError();
  EXPECT_EQ(1, line.printer.State().drawerOpenings);
}

// The example package of mirel-host: the correction and its base reach the fiscal drive, and the
// host gets the drive's document number and fiscal sign.
TEST_F(ReceiptMethods, ProcessCorrectionCheck) {
  ASSERT_TRUE(Call("СформироватьЧекКоррекции", {Text(Example("correction-check.xml"))})) << LastError();
  const emu::PrinterState s = line.printer.State();
  ASSERT_FALSE(s.closedReceipts.empty());
  const emu::Receipt& r = s.closedReceipts.back();
  EXPECT_TRUE(r.correction);
  EXPECT_EQ("Предписание", r.correctionBaseName);
  EXPECT_EQ("010524", r.correctionBaseDate);
  Variant number, sign;
  params->Get(2, &number);
  params->Get(4, &sign);
  EXPECT_EQ(static_cast<LONG>(s.fd.documents.back().number), number.lVal);
  EXPECT_EQ(std::to_string(s.fd.documents.back().fiscalSign), BstrToUtf8(sign.bstrVal));
}

}  // namespace
