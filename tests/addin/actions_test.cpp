// The settings dialog's service actions and device test as the host calls them by name, on the
// virtual printer: the actions table, the three actions with and without the host's Open, the
// self-test and the printer states that stop it, and the host's language request.
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <algorithm>
#include <string>
#include <vector>

#include "component_on_printer.h"
#include "emu/fiscal_drive.h"
#include "support/log_capture.h"

namespace {

using Commands = std::vector<std::string>;

class Actions : public ComponentOnPrinter<64> {
 protected:
  void SetUp() override {
    ComponentOnPrinter::SetUp();
    ConfigurePrinter();
  }

  // DeviceTest by name: its result, and the description it gives.
  bool DeviceTest(std::string* description) {
    ParamArray params(2);
    Variant result;
    EXPECT_EQ(S_OK, ext->CallAsFunc(Find("DeviceTest"), &result, params.Ptr()));
    Variant text;
    params.Get(0, &text);
    *description = text.vt == VT_BSTR ? BstrToUtf8(text.bstrVal) : "(none)";
    return result.boolVal == VARIANT_TRUE;
  }
  bool Action(const char* name) { return CallWithText("DoAdditionalAction", name); }

  // The commands the printer received since `from` (an earlier Commands().size()).
  Commands CommandsSince(size_t from) {
    const Commands all = line.Commands();
    return Commands(all.begin() + static_cast<long>(from), all.end());
  }
  bool TapeHas(const std::string& text) {
    for (const emu::TapeLine& l : printer.State().tape) {
      if (l.text == text) return true;
    }
    return false;
  }
  // The high-level lines of the driver methods, in the capture's compact form.
  void CaptureHighLevelLog() {
    FPContext* ctx = Device();
    log.Install(ctx);
    ctx->pfnLogEnterH = ctx->pfnLogEnter;
    ctx->pfnLogMessageH = ctx->pfnLogMessage;
    ctx->pfnLogReturnH = ctx->pfnLogReturn;
  }

  LogCapture log;
};

TEST_F(Actions, TheTableListsTheThreeActionsInOrder) {
  ParamArray params(1);
  Variant result;
  ASSERT_EQ(S_OK, ext->CallAsFunc(Find("GetAdditionalActions"), &result, params.Ptr()));
  EXPECT_EQ(VARIANT_TRUE, result.boolVal);
  Variant table;
  params.Get(0, &table);
  ASSERT_EQ(VT_BSTR, table.vt);
  const std::string xml = BstrToUtf8(table.bstrVal);
  EXPECT_EQ(0u, xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>", 0)) << xml;

  TiXmlDocument doc;
  doc.Parse(xml.c_str(), nullptr, TIXML_ENCODING_UTF8);
  ASSERT_FALSE(doc.Error()) << xml;
  ASSERT_STREQ("Actions", doc.RootElement()->Value());
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"Restart", "Перезапустить ККТ"},
      {"SetCurrentDateTime", "Установить текущие дату и время в ККТ"},
      {"PrintLastDocDouble", "Напечатать дубликат последнего фискального документа"},
  };
  std::vector<std::pair<std::string, std::string>> listed;
  for (const TiXmlElement* e = doc.RootElement()->FirstChildElement(); e; e = e->NextSiblingElement()) {
    EXPECT_STREQ("Action", e->Value());
    listed.emplace_back(e->Attribute("Name"), e->Attribute("Caption"));
  }
  EXPECT_EQ(expected, listed);
  // Listing opens nothing.
  EXPECT_TRUE(line.Commands().empty());
}

TEST_F(Actions, AnUnknownNameIsRefusedWithoutTouchingThePrinter) {
  CaptureHighLevelLog();
  for (const char* name : {"restart", "RESTART", "Restart ", "SetCurrentDate", "", "Перезапустить ККТ"}) {
    EXPECT_FALSE(Action(name)) << name;
    std::string text;
    EXPECT_EQ(13, LastError(&text)) << name;
    EXPECT_EQ("Ошибочное значение", text);
  }
  LONG ok = 1;
  EXPECT_EQ(S_OK, object->OdinS_DoAdditionalAction(nullptr, &ok));
  EXPECT_EQ(0, ok);
  EXPECT_EQ(13, Device()->nLastResult);
  EXPECT_TRUE(line.Commands().empty());
  EXPECT_TRUE(log.Has("*ActionName: restart")) << log.Text();
  EXPECT_TRUE(log.Has("*Name: Unknown action")) << log.Text();
  EXPECT_TRUE(log.Has("}OdinS_DoAdditionalAction ret 0")) << log.Text();
}

TEST_F(Actions, SetCurrentDateTimeSendsTheComputersClock) {
  clock.local_ = {2026, 3, 3, 14, 5, 9, 0};
  bool opened = false;
  const std::string hostID = Open(&opened);
  ASSERT_TRUE(opened);
  EXPECT_TRUE(Action("SetCurrentDateTime"));
  EXPECT_EQ(Commands{"PG030326"}, line.Commands("PG"));
  EXPECT_EQ(Commands{"PF140509"}, line.Commands("PF"));
  const Commands all = line.Commands();
  EXPECT_LT(std::find(all.begin(), all.end(), "PG030326"), std::find(all.begin(), all.end(), "PF140509"));
  const emu::Programmed set = printer.State().programmed;
  EXPECT_EQ((std::vector<int>{3, 3, 26, 14, 5, 9}),
            (std::vector<int>{set.day, set.month, set.year, set.hour, set.minute, set.second}));
  // The action opened the device for itself: the host's earlier identifier is spent.
  EXPECT_FALSE(CallWithID("GetLineLength", hostID));
  EXPECT_EQ(2, LastError());
}

TEST_F(Actions, ADateThePrinterRefusesFailsTheActionWithItsCode) {
  CaptureHighLevelLog();
  // The printer refuses the date every time, as it refuses one before its last document's.
  printer.AddCommand("PG", [](emu::PrinterState&, const std::string&) { return emu::Reply::Refuse(25); });
  EXPECT_FALSE(Action("SetCurrentDateTime"));
  EXPECT_TRUE(line.Commands("PF").empty());
  EXPECT_TRUE(log.Has("*Name: Set date error")) << log.Text();
  EXPECT_NE(0, LastError());
  EXPECT_EQ(0, Device()->bDeviceOpen);
}

TEST_F(Actions, RestartSendsTheRawResetAndLeavesThePrinterRestarted) {
  CaptureHighLevelLog();
  EXPECT_TRUE(Action("Restart"));
  EXPECT_TRUE(log.Has("{ResetPrinter")) << log.Text();
  EXPECT_TRUE(log.Has("}ResetPrinter ret 0")) << log.Text();
  // The bring-up entered the operator's password; the restart forgets it.
  EXPECT_FALSE(printer.State().passwordEntered);
  EXPECT_EQ(0, LastError());
}

TEST_F(Actions, PrintLastDocDoubleFallsBackToTheDrivesLastDocument) {
  printer.ModifyState([](emu::PrinterState& s) {
    s.fd.lastDocumentNumber = 257;
    emu::PreloadDocuments(&s, 1);  // number 258: bytes 02 01 00 00
  });
  struct Case {
    bool refuseDuplicate;
    Commands copies;  // "R" and "SuV" commands sent
    const char* printed;
  };
  const Case cases[] = {
      {false, {"R"}, "ДУБЛИКАТ"},
      {true, {"R", "SuV02010000"}, "КОПИЯ ДОКУМЕНТА"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.printed);
    printer.ModifyState([](emu::PrinterState& s) { s.tape.clear(); });
    printer.ClearTrace();
    if (c.refuseDuplicate) printer.RefuseNextOf("R", 1);
    EXPECT_TRUE(Action("PrintLastDocDouble"));
    Commands copies;
    for (const std::string& t : line.Commands()) {
      if (t == "R" || t.rfind("SuV", 0) == 0) copies.push_back(t);
    }
    EXPECT_EQ(c.copies, copies);
    EXPECT_TRUE(TapeHas(c.printed));
    EXPECT_EQ(0, LastError());
  }
}

TEST_F(Actions, PrintLastDocDoubleFailsOnlyWhenTheCopyFailsToo) {
  CaptureHighLevelLog();
  // A drive with no document: neither the duplicate nor the copy can be printed.
  EXPECT_FALSE(Action("PrintLastDocDouble"));
  EXPECT_EQ(1u, line.Commands("SuV").size());
  EXPECT_TRUE(log.Has("*Name: Print duplicate error")) << log.Text();
  // The closing after the failure keeps the codes of the copy's refusal, the printer's own included.
  std::string text;
  EXPECT_NE(0, LastError(&text));
  EXPECT_NE(0, Device()->nDeviceError);
  EXPECT_NE(std::string::npos, text.find(". ")) << text;
}

TEST_F(Actions, AnOlderPrinterIsNotAskedForADuplicateAndSaysSo) {
  bool opened = false;
  Open(&opened);
  ASSERT_TRUE(opened);
  // A printer before major version 5 keeps no copy of its last document.
  Device()->nVersionMajor = 4;
  EXPECT_EQ(35, object->PrintDuplicate());
  EXPECT_EQ(35, Device()->nLastResult);
  EXPECT_TRUE(line.Commands("R").empty());
}

TEST_F(Actions, DeviceTestOpensAClosedDeviceAndClosesItAgain) {
  std::string description;
  EXPECT_TRUE(DeviceTest(&description));
  EXPECT_EQ("Тест выполнен", description);
  EXPECT_EQ(Commands{"E"}, line.Commands("E"));
  EXPECT_TRUE(TapeHas("ТЕСТ ПРОЙДЕН"));
  EXPECT_EQ(0, Device()->bDeviceOpen);
}

TEST_F(Actions, DeviceTestOnAnOpenDeviceUsesItAsItIs) {
  bool opened = false;
  const std::string id = Open(&opened);
  ASSERT_TRUE(opened);
  const size_t before = line.Commands().size();
  std::string description;
  EXPECT_TRUE(DeviceTest(&description));
  EXPECT_EQ("Тест выполнен", description);
  // No second bring-up: only the test itself went out.
  EXPECT_EQ(Commands{"E"}, CommandsSince(before));
  EXPECT_EQ(1, Device()->bDeviceOpen);
  EXPECT_TRUE(CallWithID("GetLineLength", id));
}

TEST_F(Actions, DeviceTestIsNotSentToAPrinterThatCannotPrint) {
  struct Case {
    void (*fault)(emu::PrinterState&);
    LONG code;
    const char* text;
  };
  const Case cases[] = {
      {[](emu::PrinterState& s) { s.paperEnd = true; }, 15, "Конец бумаги"},
      {[](emu::PrinterState& s) { s.printFailure = true; }, 14, "Отказ печати"},
  };
  bool opened = false;
  Open(&opened);
  ASSERT_TRUE(opened);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    printer.ModifyState(c.fault);
    std::string description;
    EXPECT_FALSE(DeviceTest(&description));
    std::string text;
    EXPECT_EQ(c.code, LastError(&text));
    EXPECT_EQ(text, description);
    EXPECT_EQ(0u, text.rfind(c.text, 0)) << text;
    EXPECT_TRUE(line.Commands("E").empty());
    printer.ModifyState([](emu::PrinterState& s) { s.paperEnd = s.printFailure = false; });
  }
}

TEST_F(Actions, DeviceTestOutOfPaperOnAClosedDeviceReportsThePaperEnd) {
  printer.ModifyState([](emu::PrinterState& s) { s.paperEnd = true; });
  std::string description;
  EXPECT_FALSE(DeviceTest(&description));
  std::string text;
  EXPECT_EQ(15, LastError(&text));
  EXPECT_EQ(text, description);
  EXPECT_TRUE(line.Commands("E").empty());
  EXPECT_EQ(0, Device()->bDeviceOpen);
}

TEST_F(Actions, DeviceTestTellsWhyItFailed) {
  // The printer refuses the test; GetLastError afterwards still tells the printer's reason.
  printer.RefuseNextOf("E", 62);
  std::string description;
  EXPECT_FALSE(DeviceTest(&description));
  std::string text;
  EXPECT_NE(0, LastError(&text));
  EXPECT_EQ(text, description);
  EXPECT_NE(0, Device()->nDeviceError);

  // Without the settings the device cannot be opened: the description is Open's reason.
  ReleaseComponent();
  CreateComponent();
  Device()->pClock = &clock;
  ASSERT_TRUE(Set("Port", 64));
  EXPECT_FALSE(DeviceTest(&description));
  EXPECT_EQ("Пароль управления не установлен", description);
  EXPECT_EQ(109, LastError());
}

TEST_F(Actions, SetLocaleTakesAnyText) {
  for (const char* code : {"ru", "en_US", "", "что угодно"}) {
    EXPECT_TRUE(CallWithText("SetLocale", code)) << code;
  }
  EXPECT_TRUE(line.Commands().empty());
}

}  // namespace
