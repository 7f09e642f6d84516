// GetParameters and SetParameter through CallAsFunc as the host calls them, with the virtual
// printer on the line where a setting lives in the printer, and the settings store in a
// temporary directory.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <tinyxml.h>

#include "addin_test_support.h"
#include "device/bringup.h"
#include "device/serial_port.h"
#include "emu/programming.h"
#include "platform/serial.h"
#include "support/fake_clock.h"
#include "support/printer_line.h"
#include "support/process_usage.h"
#include "support/scoped_env.h"

namespace {

namespace fs = std::filesystem;

std::string Cp1251(const std::string& utf8) {
  return plat::Utf8ToCp1251(utf8);
}

class Settings : public ComponentTest {
 protected:
  void SetUp() override {
    ComponentTest::SetUp();
    dir = fs::temp_directory_path() /
          ("mirel-settings-" + std::to_string(getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir);
    store = std::make_unique<ScopedEnv>("XDG_CONFIG_HOME", dir.c_str());
    Device()->pClock = &clock;
  }
  void TearDown() override {
    CloseSerial(Device());
    ComponentTest::TearDown();
    store.reset();
    fs::remove_all(dir);
  }

  // The printer on the line, brought up as Open does it.
  void BringUp() {
    line.Start();
    ASSERT_EQ(0, InitFP2(Device(), line.Port(), "472913", 6, nullptr));
  }

  // SetParameter(name, value) as the host calls it; the result and GetLastError's code.
  bool Set(const char* name, void (*set)(VARIANT*, const char*), const char* text, LONG* code = nullptr) {
    ParamArray params(2);
    Variant n, v;
    SetText(&n, name);
    set(&v, text);
    params.Put(0, n);
    params.Put(1, v);
    Variant result;
    EXPECT_EQ(S_OK, ext->CallAsFunc(Find("SetParameter"), &result, params.Ptr()));
    EXPECT_EQ(VT_BOOL, result.vt);
    if (code) *code = LastError();
    return result.boolVal != VARIANT_FALSE;
  }
  bool SetString(const char* name, const std::string& utf8, LONG* code = nullptr) {
    return Set(name, [](VARIANT* v, const char* t) { SetText(v, t); }, utf8.c_str(), code);
  }
  bool SetNumber(const char* name, LONG value, LONG* code = nullptr) {
    const std::string text = std::to_string(value);
    return Set(name, [](VARIANT* v, const char* t) { SetI4(v, std::stol(t)); }, text.c_str(), code);
  }
  bool SetFlag(const char* name, bool value, LONG* code = nullptr) {
    return Set(name, [](VARIANT* v, const char* t) { SetBool(v, t[0] == '1'); }, value ? "1" : "0", code);
  }

  std::string GetParameters() {
    ParamArray params(1);
    Variant result, table;
    EXPECT_EQ(S_OK, ext->CallAsFunc(Find("GetParameters"), &result, params.Ptr()));
    EXPECT_EQ(VARIANT_TRUE, result.boolVal);
    params.Get(0, &table);
    EXPECT_EQ(VT_BSTR, table.vt);
    return BstrToUtf8(table.bstrVal);
  }

  fs::path dir;
  std::unique_ptr<ScopedEnv> store;
  FakeClock clock;
  PrinterLine line{45};
};

TEST_F(Settings, TableListsThePagesAndTheSystemsPorts) {
  TiXmlDocument doc;
  doc.Parse(GetParameters().c_str(), nullptr, TIXML_ENCODING_UTF8);
  ASSERT_FALSE(doc.Error()) << doc.ErrorDesc();
  std::vector<std::string> pages;
  for (const TiXmlElement* p = doc.RootElement()->FirstChildElement("Page"); p; p = p->NextSiblingElement("Page")) {
    pages.push_back(p->Attribute("Caption"));
  }
  EXPECT_EQ((std::vector<std::string>{"Подключение", "ККТ", "Драйвер", "Платежные средства", "Шаблон документов",
                                      "Чек", "Подключение к серверу ОФД"}),
            pages);
  std::vector<std::string> offered;
  const TiXmlElement* port = doc.RootElement()->FirstChildElement("Page")->FirstChildElement("Parameter")
                                 ->NextSiblingElement("Parameter");
  for (const TiXmlElement* i = port->FirstChildElement("ChoiceList")->FirstChildElement("Item"); i;
       i = i->NextSiblingElement("Item")) {
    offered.push_back(i->GetText());
  }
  std::vector<std::string> existing;
  for (int n : plat::SerialPortNumbers()) existing.push_back("COM" + std::to_string(n));
  EXPECT_EQ(existing, offered);
}

TEST_F(Settings, NamesAreExactAndCaseSensitive) {
  LONG code = 0;
  for (const char* name : {"Model", "port", "PORT", "HeaderString9", "Bold0c", "Bold1x", "PaymentMean10", ""}) {
    EXPECT_FALSE(SetString(name, "1", &code)) << name;
    EXPECT_EQ(13, code) << name;
  }
  EXPECT_TRUE(SetString("EquipmentType", "KKT"));
  EXPECT_FALSE(SetString("EquipmentType", "ККТ", &code));  // Cyrillic letters: another value
  EXPECT_EQ(13, code);
}

TEST_F(Settings, ValuesAreReadByTheirType) {
  LONG code = 0;
  EXPECT_FALSE(SetNumber("Cashier", 5, &code));  // a text setting given a number
  EXPECT_EQ(13, code);
  EXPECT_FALSE(SetString("DailyLogLifeTime", "many", &code));
  EXPECT_EQ(13, code);
  EXPECT_TRUE(SetString("DailyLogLifeTime", "12"));  // digits in a string still make a number
  EXPECT_EQ(12, Device()->nDailyLogLifeTime);
  EXPECT_TRUE(SetNumber("CenterCliche", 1));
  EXPECT_EQ(1, Device()->bCenterCliche);
  EXPECT_TRUE(SetFlag("CenterCliche", false));
  EXPECT_EQ(0, Device()->bCenterCliche);
}

TEST_F(Settings, NumbersOutOfRange) {
  struct Case {
    const char* name;
    LONG value;
    bool ok;
    LONG code;
    int32_t FPContext::*field;
    int32_t stored;
  } cases[] = {
      {"DailyLogLifeTime", 0, true, 0, &FPContext::nDailyLogLifeTime, 7},
      {"DailyLogLifeTime", 31, true, 0, &FPContext::nDailyLogLifeTime, 7},
      {"DailyLogLifeTime", 30, true, 0, &FPContext::nDailyLogLifeTime, 30},
      {"PortFDO", 7778, true, 0, &FPContext::nFdoPort, 7778},
      {"PortFDO", 70000, false, 118, &FPContext::nFdoPort, 0},
      {"PortFDO", 0, false, 118, &FPContext::nFdoPort, 0},
      {"PortFDO", -5, false, 118, &FPContext::nFdoPort, 0},
  };
  for (const Case& c : cases) {
    LONG code = -1;
    EXPECT_EQ(c.ok, SetNumber(c.name, c.value, &code)) << c.name << " " << c.value;
    EXPECT_EQ(c.code, code) << c.name << " " << c.value;
    EXPECT_EQ(c.stored, Device()->*c.field) << c.name << " " << c.value;
  }
}

TEST_F(Settings, PasswordRules) {
  EXPECT_TRUE(SetString("Password", "123456"));
  EXPECT_STREQ("123456", Device()->szOperatorPassword);
  EXPECT_TRUE(SetString("Password", "1234"));
  EXPECT_STREQ("1234  ", Device()->szOperatorPassword);
  for (const char* bad : {"1234567", "12a4", "", " 123"}) {
    LONG code = 0;
    EXPECT_FALSE(SetString("Password", bad, &code)) << bad;
    EXPECT_EQ(18, code) << bad;
    EXPECT_STREQ("1234  ", Device()->szOperatorPassword) << bad;
  }
}

TEST_F(Settings, TooLongTextsKeepThePreviousValue) {
  LONG code = 0;
  const std::string address = "ofd.example.ru";
  EXPECT_TRUE(SetString("AddressFDO", address));
  EXPECT_FALSE(SetString("AddressFDO", std::string(261, 'a'), &code));
  EXPECT_EQ(13, code);
  EXPECT_EQ(address, Device()->szFdoAddress);
  EXPECT_TRUE(SetString("AddressFDO", std::string(260, 'a')));
  EXPECT_EQ(260u, std::strlen(Device()->szFdoAddress));

  EXPECT_FALSE(SetString("AddressSiteInspections", std::string(261, 'a'), &code));
  EXPECT_EQ(13, code);
  EXPECT_TRUE(SetString("Cashier", "Иванова " + std::string(70, 'x')));
  EXPECT_EQ(64u, std::strlen(Device()->szClerkName));
  EXPECT_EQ(Cp1251("Иванова ") + std::string(56, 'x'), Device()->szClerkName);
}

TEST_F(Settings, PathLog) {
  const std::string good = (dir / "logs").string() + "/";
  EXPECT_TRUE(SetString("PathLog", good));
  EXPECT_TRUE(fs::is_directory(dir / "logs"));
  EXPECT_EQ(good, Device()->szLogPath);

  // The driver keeps the path in 1251; the folder is made under its real name.
  const std::string cyrillic = dir.string() + "/Журнал кассы/";
  EXPECT_TRUE(SetString("PathLog", cyrillic));
  EXPECT_TRUE(fs::is_directory(dir / fs::u8path("Журнал кассы")));
  EXPECT_EQ(Cp1251(cyrillic), Device()->szLogPath);
  ASSERT_TRUE(SetString("PathLog", good));

  LONG code = 0;
  EXPECT_FALSE(SetString("PathLog", std::string(260, 'p'), &code));  // too long for the field
  EXPECT_EQ(13, code);
  EXPECT_EQ(good, Device()->szLogPath);

  std::ofstream(dir / "plain-file") << "x";
  EXPECT_FALSE(SetString("PathLog", (dir / "plain-file" / "logs").string(), &code));
  EXPECT_EQ(119, code);
  EXPECT_STREQ("", Device()->szLogPath);
}

TEST_F(Settings, PrinterSettingsNeedTheOpenPort) {
  LONG code = 0;
  EXPECT_FALSE(SetString("PaymentMean1", "КАРТА", &code));
  EXPECT_EQ(2, code);
  EXPECT_EQ(Cp1251("КАРТА"), Device()->aszPaymentMeanName[0]);  // kept for Open
  EXPECT_FALSE(SetString("HeaderString3", "ООО Ромашка", &code));
  EXPECT_EQ(2, code);
  EXPECT_EQ(Cp1251("ООО Ромашка"), Device()->aszHeaderText[2]);
}

TEST_F(Settings, PrinterSettingsReachThePrinter) {
  BringUp();
  LONG code = 0;
  EXPECT_TRUE(SetString("PaymentMean2", "КАРТА"));
  EXPECT_TRUE(SetString("HeaderString1", "ООО Ромашка"));
  EXPECT_TRUE(SetString("HeaderString2", "г. Москва"));
  EXPECT_TRUE(SetString("FooterString1", "Спасибо"));
  EXPECT_TRUE(SetFlag("PrintDepartment", true));
  EXPECT_FALSE(SetString("PaymentMean1", "БЕЗНАЛИЧНЫМИ-15", &code));  // 15 characters
  EXPECT_EQ(13, code);
  EXPECT_EQ(Cp1251("БЕЗНАЛИЧНЫМИ-1"), Device()->aszPaymentMeanName[0]);

  const emu::PrinterState s = line.printer.State();
  EXPECT_EQ("КАРТА", s.programmed.paymentMeans[1]);
  EXPECT_EQ("ООО Ромашка", emu::TextFromDevice(s.programmed.headerLines[0]));
  EXPECT_EQ("г. Москва", emu::TextFromDevice(s.programmed.headerLines[1]));
  EXPECT_EQ("Спасибо", emu::TextFromDevice(s.programmed.footerLines[0]));
  EXPECT_EQ(0x02, s.flags[7] & 0x02);
}

TEST_F(Settings, OpenShiftKeepsThePrintersSettings) {
  BringUp();
  line.printer.ModifyState([](emu::PrinterState& s) { s.shiftOpen = true; });
  line.printer.ClearTrace();
  LONG code = -1;
  EXPECT_FALSE(SetString("PaymentMean4", "КАРТА", &code));
  EXPECT_EQ(0, code);
  EXPECT_FALSE(SetString("PaymentMean5", "КАРТА", &code));
  EXPECT_EQ(124, code);
  EXPECT_FALSE(SetString("HeaderString3", "A", &code));
  EXPECT_EQ(124, code);
  EXPECT_FALSE(SetFlag("PrintDepartment", true, &code));
  EXPECT_TRUE(line.Commands("P").empty());
  EXPECT_TRUE(line.Commands("eP").empty());
}

TEST_F(Settings, SpeedThroughTheHost) {
  BringUp();
  EXPECT_TRUE(SetNumber("Port", line.Port()));
  LONG code = 0;
  EXPECT_FALSE(SetNumber("Speed", 9, &code));
  EXPECT_EQ(13, code);
  EXPECT_TRUE(line.Commands("PR").empty());
  EXPECT_TRUE(SetNumber("Speed", 3));
  EXPECT_EQ(38400u, Device()->dcb.BaudRate);
  // The printer switches, but the port can no longer be opened: 117, and False.
  unsetenv(("MIREL_COM" + std::to_string(line.Port())).c_str());
  setenv(("MIREL_COM" + std::to_string(line.Port())).c_str(), (dir / "no-such-port").c_str(), 1);
  EXPECT_FALSE(SetNumber("Speed", 4, &code));
  EXPECT_EQ(117, code);
}

// The acceptance path: the template set through the host, a bring-up, and the template programmed;
// the printer's own state says what arrived.
TEST_F(Settings, TemplateReachesThePrinterAfterBringUp) {
  EXPECT_FALSE(SetString("HeaderString3", "МАГАЗИН"));  // stored; the port is not open yet
  EXPECT_TRUE(SetFlag("Bold3c", true));
  EXPECT_FALSE(SetString("HeaderString4", "ул. Ленина, 1"));
  EXPECT_TRUE(SetFlag("Height4c", true));
  EXPECT_FALSE(SetString("FooterString2", "СПАСИБО"));
  EXPECT_TRUE(SetFlag("Bold2b", true));
  EXPECT_TRUE(SetFlag("Height2b", true));
  BringUp();
  line.printer.ModifyState([](emu::PrinterState& s) { s.flags[4] = 0x40; });  // centring, as Open programs it
  Device()->bDeviceFlagsValid = 0;
  EXPECT_EQ(0, object->SetTemplateCheck());

  const emu::PrinterState s = line.printer.State();
  const std::string kB = "\x7F";
  std::string bold;
  for (uint8_t c : std::string("\x8D\x80\x83\x80\x88\x89\x8E")) bold += kB + char(c);  // МАГАЗИН
  EXPECT_EQ(bold, s.programmed.headerLines[2]);
  EXPECT_EQ("ул. Ленина, 1", emu::TextFromDevice(s.programmed.headerLines[3]));
  EXPECT_EQ(0x08, s.flags[15]);  // line 4 double height, line 3 not
  for (int n : {1, 2, 5, 6, 7, 8}) EXPECT_EQ("", s.programmed.headerLines[n - 1]) << n;
  // Footer 2: bold, double height, centred in half the width: (21 - 7) / 2 = 7 blanks.
  std::string footer;
  for (char c : std::string(7, ' ') + "\x92\x90\x80\x92\x89\x81\x8F") footer += kB + c;
  EXPECT_EQ(footer, s.programmed.footerLines[1]);
  EXPECT_EQ(2, s.programmed.footerAttributes[1]);

  emu::PrinterState printed = s;
  emu::PrintHeader(printed);
  emu::PrintFooter(printed);
  ASSERT_EQ(3u, printed.tape.size());
  EXPECT_TRUE(printed.tape[0].bold);
  EXPECT_TRUE(printed.tape[1].doubleHeight);
  EXPECT_EQ("       СПАСИБО", printed.tape[2].text);
}

TEST_F(Settings, StoreCarriesTheLogSettingsToANewInstance) {
  const std::string logs = (dir / "logs").string();
  EXPECT_TRUE(SetString("PathLog", logs));
  EXPECT_TRUE(SetFlag("DailyLogEnabled", true));
  // A new component: its LogEnabled takes the directory and the daily choice from the store.
  ReleaseComponent();
  CreateComponent();
  Device()->pClock = &clock;
  EXPECT_TRUE(SetFlag("LogEnabled", true));
  EXPECT_EQ(logs, Device()->szLogPath);
  EXPECT_EQ(1, Device()->bDailyLog);
  EXPECT_TRUE(SetFlag("LogEnabled", false));
  EXPECT_EQ(nullptr, Device()->fileLogH);  // switching the log off closes its files
}

TEST_F(Settings, ReleaseClosesTheLogFiles) {
  const int before = ProcessUsage::Now().descriptors;
  EXPECT_TRUE(SetString("PathLog", (dir / "logs").string()));
  EXPECT_TRUE(SetFlag("LogEnabled", true));
  ASSERT_NE(nullptr, Device()->fileLogH);
  ReleaseComponent();
  EXPECT_EQ(before, ProcessUsage::Now().descriptors);
  CreateComponent();
}

TEST_F(Settings, DamagedStoreIsIgnored) {
  EXPECT_TRUE(SetString("PathLog", (dir / "logs").string()));
  EXPECT_TRUE(SetFlag("DailyLogEnabled", true));
  // Every file of the store cut short or garbled.
  int damaged = 0;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    if (!e.is_regular_file()) continue;
    std::ofstream(e.path(), std::ios::binary | std::ios::trunc) << (damaged++ % 2 ? "\x01\xFF" : "");
  }
  ASSERT_GT(damaged, 0);
  ReleaseComponent();
  CreateComponent();
  Device()->pClock = &clock;
  const std::string before = Device()->szLogPath;
  EXPECT_TRUE(SetFlag("LogEnabled", false));
  EXPECT_EQ(before, Device()->szLogPath);
  EXPECT_EQ(0, Device()->bDailyLog);
}

}  // namespace
