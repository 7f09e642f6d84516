// Open, Close and Done as the host calls them, on the virtual printer, with the OFD relay carrying
// the fiscal drive's messages to the test OFD server.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>

#include "component_on_printer.h"
#include "emu/fiscal_drive.h"
#include "platform/pty.h"
#include "support/temp_dir.h"

namespace {

using Steady = std::chrono::steady_clock;

using Connection = ComponentOnPrinter<61>;

TEST_F(Connection, OpenWithoutASettingOrADeviceFailsWithItsCode) {
  struct Case {
    const char* password;
    LONG port;
    LONG code;
    const char* text;
  };
  const Case cases[] = {
      {"", 62, 109, "Пароль управления не установлен"},
      {"472913", 0, 110, "СОМ-порт не установлен"},  // the port's default
      {"472913", 62, 2, "Фискальный принтер отсутствует, отключен или выключен"},
  };
  // COM 62 is a line where nothing answers.
  plat::Pty silent;
  ASSERT_TRUE(silent.Open());
  ScopedEnv com62("MIREL_COM62", silent.SlavePath().c_str());
  for (const Case& c : cases) {
    // A new component for each case: a password once given cannot be taken back.
    ReleaseComponent();
    CreateComponent();
    Device()->pClock = &clock;
    if (c.password[0] != '\0') {
      ASSERT_TRUE(Set("Password", c.password));
    }
    if (c.port != 0) {
      ASSERT_TRUE(Set("Port", c.port));
    }
    uint8_t bytes[64];
    while (silent.Read(bytes, sizeof bytes, 0) > 0) {
    }
    bool ok = true;
    EXPECT_EQ(Open(&ok), "") << c.code;
    // Without the settings nothing goes out on the line.
    if (c.code != 2) {
      EXPECT_EQ(silent.Read(bytes, sizeof bytes, 0), 0) << c.code;
    }
    EXPECT_FALSE(ok) << c.code;
    std::string text;
    EXPECT_EQ(LastError(&text), c.code);
    EXPECT_EQ(text, c.text);
  }
}

TEST_F(Connection, EachOpenHandsOutAFreshIdentifierAndOnlyTheLastOneIsAccepted) {
  Configure();
  bool ok = false;
  const std::string first = Open(&ok);
  ASSERT_TRUE(ok);
  EXPECT_FALSE(first.empty());
  // The clock does not move between the two Opens: the same tick still gives a new identifier.
  const std::string second = Open(&ok);
  ASSERT_TRUE(ok);
  EXPECT_NE(first, second);
  EXPECT_EQ(LastError(), 0);

  EXPECT_FALSE(CallWithID("GetLineLength", first));
  EXPECT_EQ(LastError(), 2);
  EXPECT_TRUE(CallWithID("GetLineLength", second));

  EXPECT_FALSE(CallWithID("Close", first));
  EXPECT_EQ(LastError(), 2);
  EXPECT_TRUE(CallWithID("Close", second));
  // Close only ends the host's use: the identifier still reaches the device, and Open works again.
  EXPECT_TRUE(CallWithID("GetLineLength", second));
  EXPECT_FALSE(Open(&ok).empty());
  EXPECT_TRUE(ok);
}

TEST_F(Connection, CloseWithoutAnIdentifierHandedOutRefuses) {
  EXPECT_FALSE(CallWithID("Close", ""));
  EXPECT_EQ(LastError(), 2);
  LONG ok = 1;
  EXPECT_EQ(S_OK, object->OdinS_Close(nullptr, &ok));
  EXPECT_EQ(ok, 0);
}

TEST_F(Connection, TheRelayDeliversEveryWaitingDocumentOnceAndInOrder) {
  printer.ModifyState([](emu::PrinterState& s) { emu::PreloadDocuments(&s, 5); });
  std::vector<uint32_t> numbers;
  const emu::PrinterState state = printer.State();
  for (const emu::FdDocument* d : emu::Backlog(state)) numbers.push_back(d->number);
  ASSERT_EQ(numbers.size(), 5u);
  Configure();
  bool ok = false;
  Open(&ok);
  ASSERT_TRUE(ok);

  ASSERT_TRUE(BacklogEmpties());
  ASSERT_TRUE(stub.WaitLines(5, kWaitMs));
  const std::vector<std::string> lines = stub.Lines();
  ASSERT_EQ(lines.size(), 5u);
  for (size_t i = 0; i < numbers.size(); ++i) {
    EXPECT_EQ(lines[i].rfind("document " + std::to_string(numbers[i]) + " (receipt)", 0), 0u) << lines[i];
  }
  for (const emu::FdDocument& d : printer.State().fd.documents) EXPECT_TRUE(d.acknowledged) << d.number;

  EXPECT_LT(TimedDone(), std::chrono::seconds(3));
  EXPECT_EQ(FramesArrivingLater(), 0u);
}

TEST_F(Connection, DoneEndsTheRelayPromptlyWhereverItWaits) {
  struct Case {
    const char* where;
    void (*arrange)(Connection*);
    bool (*reached)(Connection*);
  };
  const Case cases[] = {
      {"idle between polls", [](Connection*) {},
       [](Connection* t) { return !t->line.Commands("SuF").empty(); }},
      {"a stalled server",
       [](Connection* t) {
         t->stub.SetFault(ofdstub::Fault::kStall);
         t->printer.ModifyState([](emu::PrinterState& s) { emu::PreloadDocuments(&s, 1); });
       },
       [](Connection* t) { return t->stub.Lines().size() == 1; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.where);
    c.arrange(this);
    Configure();
    bool ok = false;
    Open(&ok);
    ASSERT_TRUE(ok);
    const auto end = Steady::now() + std::chrono::milliseconds(kWaitMs);
    while (!c.reached(this) && Steady::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(c.reached(this));
    EXPECT_LT(TimedDone(), std::chrono::seconds(3));
    EXPECT_EQ(FramesArrivingLater(), 0u);
  }
}

// The host's calls run between the relay's steps while it delivers: Open again, a setting, a shift
// and a receipt all succeed, every document (the new ones too) reaches the server, and Done still
// ends the relay at once. The ThreadSanitizer run checks this test for races between the two
// threads.
TEST_F(Connection, TheHostsCallsGoOnWhileTheRelayDelivers) {
  printer.ModifyState([](emu::PrinterState& s) { emu::PreloadDocuments(&s, 3); });
  Configure();
  bool ok = false;
  Open(&ok);
  ASSERT_TRUE(ok);
  const std::string id = Open(&ok);
  ASSERT_TRUE(ok);
  EXPECT_TRUE(Set("Cashier", "Петрова А.В."));
  const char kInput[] = "<InputParameters><Parameters CashierName=\"Петрова А.В.\"/></InputParameters>";
  EXPECT_TRUE(CallWithTexts("OpenShift", {id, kInput}));
  const char kPackage[] =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><CheckPackage>"
      "<Parameters CashierName=\"Петрова А.В.\" PaymentType=\"1\" TaxVariant=\"0\"/><Positions>"
      "<FiscalString Name=\"Чай\" Quantity=\"1\" PriceWithDiscount=\"21\" SumWithDiscount=\"21\" Tax=\"20\""
      " SignMethodCalculation=\"4\" SignCalculationObject=\"1\"/></Positions>"
      "<Payments Cash=\"21\"/></CheckPackage>";
  EXPECT_TRUE(CallWithTexts("ProcessCheck", {id, kPackage}, 1));
  EXPECT_EQ(LastError(), 0);

  ASSERT_TRUE(BacklogEmpties());
  EXPECT_TRUE(stub.WaitLines(5, kWaitMs));
  EXPECT_EQ(stub.Lines().size(), 5u);
  EXPECT_LT(TimedDone(), std::chrono::seconds(3));
  EXPECT_EQ(FramesArrivingLater(), 0u);
}

// A USB adapter pulled out in the middle of the day and plugged back in: while the line is gone the
// host is told a code at once, and its next Open works on the line that came back, without
// restarting the host. The printer's port is a link that follows its line, as COM1 follows the
// adapter on Windows.
TEST_F(Connection, ALineCutAndBroughtBackWorksAgainAfterTheNextOpen) {
  std::ifstream in(std::string(MIREL_TESTS_DIR) + "/../tools/host/examples/cashier.xml");
  const std::string cashier((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(cashier.empty());
  auto xReport = [&](const std::string& id) { return CallWithTexts("PrintXReport", {id, cashier}); };
  TempDir dir;
  const std::string link = (dir.path() / "com61").string();
  printer.Stop();
  ASSERT_TRUE(printer.Start(link));
  ScopedEnv com61("MIREL_COM61", link.c_str());
  ConfigurePrinter();
  bool ok = false;
  const std::string first = Open(&ok);
  ASSERT_TRUE(ok);
  ASSERT_TRUE(xReport(first)) << LastError();

  printer.Stop();
  const auto start = Steady::now();
  EXPECT_FALSE(xReport(first));
  EXPECT_LT(Steady::now() - start, std::chrono::milliseconds(Device()->nReadTimeout));
  std::string text;
  EXPECT_EQ(LastError(&text), 3);
  EXPECT_EQ(text, "Превышено время ожидания - принтер недоступен");

  ASSERT_TRUE(printer.Start(link));
  const std::string second = Open(&ok);
  EXPECT_TRUE(ok) << LastError();
  EXPECT_TRUE(xReport(second)) << LastError();
}

}  // namespace
