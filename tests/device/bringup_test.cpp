// Device bring-up and access end to end: InitFP2 and the functions under it through the serial code
// on a pseudo-terminal, against the virtual printer (or against a line nobody answers).
#include "device/bringup.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "device/clerks.h"
#include "device/info_records.h"
#include "device/serial_port.h"
#include "device/status.h"
#include "emu/records.h"
#include "emu/virtual_printer.h"
#include "platform/codepage.h"
#include "platform/pty.h"
#include "support/fake_clock.h"
#include "support/log_capture.h"

namespace {

constexpr int kPort = 43;
constexpr const char kPassword[] = "472913";

class BringUpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx.pClock = &clock;
    // Failures that wait for an answer should not take the default ten seconds each.
    ctx.nReadTimeout = 1500;
    ctx.nWriteTimeout = 1500;
    log.Install(&ctx);
  }
  void TearDown() override {
    CloseSerial(&ctx);
    unsetenv("MIREL_COM43");
  }

  // Each test's printer starts from the state it is given, on a pseudo-terminal of its own.
  void StartPrinter(const emu::PrinterState& state = emu::PrinterState()) {
    printer = std::make_unique<emu::VirtualPrinter>();
    printer->ModifyState([&](emu::PrinterState& s) { s = state; });
    ASSERT_TRUE(printer->Start());
    setenv("MIREL_COM43", printer->PortPath().c_str(), 1);
  }
  int32_t BringUp(const char* password = kPassword) { return InitFP2(&ctx, kPort, password, 6, nullptr); }
  // The port open as after bring-up, without bring-up's exchanges.
  void OpenPort() {
    ASSERT_EQ(OpenSerial2(&ctx, kPort, 6), 0);
    ASSERT_EQ(SetCommTimeoutsFP(&ctx, 1500, 1500), 0);
  }
  void SetVersion(int major, int minor) {
    ctx.nVersionMajor = major;
    ctx.nVersionMinor = minor;
  }

  // The command texts the printer received, in order.
  std::vector<std::string> Commands() const {
    std::vector<std::string> texts;
    for (const emu::TraceEntry& e : printer->TraceEntries()) {
      if (e.direction != emu::TraceEntry::Direction::kRx || e.bytes.size() < 3 || e.bytes[0] != 0x02)
        continue;
      texts.emplace_back(e.bytes.begin() + 1, e.bytes.end() - 2);
    }
    return texts;
  }
  int CountCommands(const std::string& prefix) const {
    int n = 0;
    for (const std::string& c : Commands()) n += c.compare(0, prefix.size(), prefix) == 0;
    return n;
  }

  std::unique_ptr<emu::VirtualPrinter> printer;
  FakeClock clock;
  FPContext ctx;
  LogCapture log;
};

TEST_F(BringUpTest, DefaultPrinterIsTheSupportedModelWithTheNewerFirmware) {
  StartPrinter();
  ASSERT_EQ(BringUp(), 0) << log.Text();
  EXPECT_EQ(ctx.nVersionCode, 0xB01);
  EXPECT_EQ(ctx.nVersionMajor, 11);
  EXPECT_EQ(ctx.nVersionMinor, 1);
  EXPECT_EQ(ctx.nContextKind, 2);
  EXPECT_EQ(ctx.nLineWidth, 42);
  EXPECT_EQ(ctx.nMaxItemNameLength, 64);
  EXPECT_EQ(ctx.pRecodeTable, DeviceRecodeTable(3));
  EXPECT_EQ(ctx.nFnFfdVersion, 2);
  // The password went out, the POS number was programmed, and the port is back at its own time-outs.
  EXPECT_EQ(CountCommands("W  472913"), 1);
  EXPECT_EQ(printer->State().posNumber, 1);
  EXPECT_EQ(ctx.anClerkSecrets[0], 1);
  EXPECT_EQ(ctx.commTimeouts.ReadTotalTimeoutConstant, 1500u);
  EXPECT_TRUE(log.Has("*ResetFP: Device detected: 11"));
  // Bring-up read the identity record on the way.
  char text[32];
  S1Text(&ctx, S1Field::kFiscalDrive, text, sizeof text);
  EXPECT_STREQ(text, "9999078900012345");
  S1Text(&ctx, S1Field::kSerial, text, sizeof text);
  EXPECT_STREQ(text, "00240000012345");
}

TEST_F(BringUpTest, SmallFontWidensTheLineOfTheNewerFirmwareOnly) {
  struct Case {
    const char* banner;
    int expectedWidth;
  };
  const Case cases[] = {{emu::kBannerFfd105, 56}, {emu::kBannerFfd100, 42}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.banner);
    emu::PrinterState state;
    state.banner = c.banner;
    state.flags[21] = 0x10;
    StartPrinter(state);
    FPContext fresh;
    fresh.pClock = &clock;
    ASSERT_EQ(InitFP2(&fresh, kPort, kPassword, 6, nullptr), 0);
    EXPECT_EQ(fresh.nLineWidth, c.expectedWidth);
    CloseSerial(&fresh);
  }
}

// Every row whose banner fits the version record, recognised from the printer's own bytes.
TEST_F(BringUpTest, EveryModelRowIsRecognisedByItsBanner) {
  struct Row {
    const char* banner;
    int32_t code, major, minor, line, extra, name, table, kind;
  };
  // kind and extra as the context starts (1 and 36) where the row leaves them; table 1 likewise.
  const Row rows[] = {
      {"ФР  М И Р Е Л - 3 8 0 Т К вер. 2.20", 0x400, 4, 0, 35, 29, 232, 1, 1},
      {"ФР  М И Р Е Л - 3 8 0 Т К вер. 3.20", 0x400, 4, 0, 35, 29, 232, 1, 1},
      {"ФР  М И Р Е Л - 3 8 0 Т Ф v.2.00 BY", 0x400, 4, 3, 35, 29, 48, 1, 1},
      {"ФР  М И Р Е Л - 4 5 0 Т К вер. 2.00", 0x400, 4, 2, 48, 42, 232, 1, 1},
      {"ФР  М И Р Е Л - 4 5 0 Т К вер. 1.00", 0x400, 4, 1, 35, 29, 232, 1, 1},
      {"ФР  М И Р Е Л - 5 2 0 Т К вер. 1.0", 0x601, 6, 1, 47, 41, 158, 2, 1},
      {" М И Р Е Л - Ф Р 1 6 0 К вер. 1.00", 0x600, 6, 0, 40, 34, 158, 2, 1},
      {"ФР  М И Р Е Л - 3 8 0 Т Ф v.2.34 KZ", 0x301, 3, 1, 35, 36, 48, 1, 1},
      {"ФР  М И Р Е Л - 3 8 0 Т Ф v.3.00 BY", 0x800, 8, 0, 35, 29, 48, 1, 1},
      {"   М И Р Е Л - 2 4 0 К  вер. 1.00  ", 0x900, 9, 0, 42, 36, 158, 3, 1},
      {"  М И Р Е Л - 2 4 0 Т Ф  вер. 1.00 ", 0x901, 9, 1, 42, 36, 158, 3, 1},
      {"   М И Р Е Л - 2 6 0 К  вер. 1.00  ", 0xA01, 10, 1, 35, 29, 158, 2, 1},
      {"  М И Р Е Л - 2 4 0 Т Ф  вер. 2.00 ", 0x902, 9, 2, 42, 36, 158, 3, 1},
      {"  М И Р Е Л - 2 4 0 Т Ф  вер. 3.00 ", 0x903, 9, 3, 42, 36, 158, 3, 1},
      {"  М И Р Е Л - 2 4 0 - Ф  вер. 1.00 ", 0xB03, 11, 1, 42, 36, 64, 3, 1},
      {"  М И Р Е Л - 2 4 0 - Ф  вер. 1.05 ", 0xB01, 11, 1, 42, 36, 64, 3, 2},
      // Trailing blanks count: one blank short of the supported model is an unknown printer->
      {"  М И Р Е Л - 2 4 0 - Ф  вер. 1.05", 0x900, 9, 0, 42, 36, 158, 3, 1},
      {"  М И Р Е Л - 9 9 9 - Ф  вер. 1.05 ", 0x900, 9, 0, 42, 36, 158, 3, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.banner);
    emu::PrinterState state;
    state.banner = row.banner;
    StartPrinter(state);
    FPContext fresh;
    fresh.pClock = &clock;
    ASSERT_EQ(OpenSerial2(&fresh, kPort, 6), 0);
    EXPECT_EQ(FixDeviceVersion(&fresh), row.code);
    EXPECT_EQ(fresh.nLastResult, 0);
    EXPECT_EQ(fresh.nVersionCode, row.code);
    EXPECT_EQ(fresh.nVersionMajor, row.major);
    EXPECT_EQ(fresh.nVersionMinor, row.minor);
    EXPECT_EQ(fresh.nLineWidth, row.line);
    EXPECT_EQ(fresh.nMaxExtraLineLength, row.extra);
    EXPECT_EQ(fresh.nMaxItemNameLength, row.name);
    EXPECT_EQ(fresh.pRecodeTable, DeviceRecodeTable(row.table));
    EXPECT_EQ(fresh.nContextKind, row.kind);
    EXPECT_EQ(std::string(fresh.infoSV + 2), plat::Utf8ToCp1251(row.banner));
    CloseSerial(&fresh);
  }
}

TEST_F(BringUpTest, ACharacterTableChosenByTheHostIsKept) {
  StartPrinter();
  ctx.pRecodeTable = DeviceRecodeTable(2);
  ASSERT_EQ(BringUp(), 0);
  EXPECT_EQ(ctx.pRecodeTable, DeviceRecodeTable(2));
}

TEST_F(BringUpTest, FiscalDriveFormatComesFromTheDrivesAnswer) {
  StartPrinter();
  printer->ModifyState([](emu::PrinterState& s) { s.fdFfdVersion = 1; });
  ASSERT_EQ(BringUp(), 0);
  EXPECT_EQ(ctx.nFnFfdVersion, 1);
}

// Nobody answers on the line: a pseudo-terminal whose other side is open but silent.
TEST_F(BringUpTest, SilentLine) {
  plat::Pty line, second;
  ASSERT_TRUE(line.Open());
  ASSERT_TRUE(second.Open());
  setenv("MIREL_COM43", line.SlavePath().c_str(), 1);

  ASSERT_EQ(OpenSerial2(&ctx, kPort, 6), 0);
  ctx.nReadTimeout = 300;  // restored afterwards: not the probe's 1000 ms
  ctx.nVersionCode = 0xB01;
  EXPECT_EQ(FixDeviceVersion(&ctx), 0);
  EXPECT_EQ(ctx.nVersionCode, 0);
  EXPECT_EQ(ctx.nLastResult, 4);  // receive time-out
  EXPECT_EQ(log.Count("}GetStatus ret -4"), 2);
  EXPECT_EQ(ctx.commTimeouts.ReadTotalTimeoutConstant, 300u);
  CloseSerial(&ctx);

  setenv("MIREL_COM43", second.SlavePath().c_str(), 1);
  EXPECT_EQ(BringUp(), 2);
  EXPECT_EQ(ctx.nLastResult, 2);
  EXPECT_EQ(ctx.nComPort, 0);
  EXPECT_EQ(ctx.hComPort, nullptr);
}

TEST_F(BringUpTest, MissingPortIsReportedAndLeavesTheVersionUnknown) {
  setenv("MIREL_COM43", "/nonexistent/port", 1);
  ctx.nVersionCode = 0xB01;
  EXPECT_EQ(BringUp(), 1);
  EXPECT_EQ(ctx.nVersionCode, 0);
}

TEST_F(BringUpTest, OpenReceiptIsCancelledByBringUp) {
  StartPrinter();
  printer->ModifyState([](emu::PrinterState& s) {
    s.fiscalReceiptOpen = true;
    s.documentType = 1;
  });
  ASSERT_EQ(BringUp(), 0) << log.Text();
  const emu::PrinterState s = printer->State();
  EXPECT_FALSE(s.fiscalReceiptOpen);
  EXPECT_EQ(s.documentType, 0);
  EXPECT_EQ(CountCommands("7"), 1);
  EXPECT_EQ(CountCommands("81="), 0);  // the first reset command was enough
  EXPECT_GE(clock.CountSleeps(3000), 1);
  EXPECT_GE(clock.CountSleeps(5000), 1);
}

TEST_F(BringUpTest, ResetCommandsAreTriedInTurn) {
  StartPrinter();
  OpenPort();
  SetVersion(11, 1);
  const std::vector<std::string> order = {"7", "81", "t", "18", "f8", "c", "f7"};
  struct Case {
    size_t acceptedAt;  // index into `order` of the first command the printer takes; npos: none
    int32_t expected;
  };
  const Case cases[] = {{1, 0}, {4, 0}, {6, 0}, {std::string::npos, 23}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.acceptedAt);
    printer->ModifyState([](emu::PrinterState& s) { s.receiptOpen = true; });
    for (size_t i = 0; i < order.size(); ++i) {
      const bool accept = i == c.acceptedAt;
      printer->AddCommand(order[i], [accept](emu::PrinterState& s, const std::string&) {
        if (!accept) return emu::Reply::Refuse(47);
        s.receiptOpen = false;
        return emu::Reply::Accept();
      });
    }
    printer->ClearTrace();
    EXPECT_EQ(ResetOrder(&ctx, 0), c.expected);
    std::vector<std::string> resets;
    for (const std::string& cmd : Commands()) {
      for (const std::string& prefix : order) {
        if (cmd.compare(0, prefix.size(), prefix) == 0 && (prefix != "18" || cmd == "18")) {
          resets.push_back(prefix);
          break;
        }
      }
    }
    const size_t sent = c.acceptedAt == std::string::npos ? order.size() : c.acceptedAt + 1;
    EXPECT_EQ(resets, std::vector<std::string>(order.begin(), order.begin() + sent));
  }
}

TEST_F(BringUpTest, CardDetailsOfTheLastResetAreRecodedAndPadded) {
  StartPrinter();
  OpenPort();
  SetVersion(11, 1);
  ctx.pRecodeTable = DeviceRecodeTable(3);
  for (const char* prefix : {"7", "81", "t", "18", "f8"}) {
    printer->AddCommand(prefix,
                        [](emu::PrinterState&, const std::string&) { return emu::Reply::Refuse(47); });
  }
  printer->ModifyState([](emu::PrinterState& s) { s.receiptOpen = true; });
  ResetOrder(&ctx, 0);
  std::string card;
  for (const std::string& cmd : Commands()) {
    if (cmd[0] == 'c') card = cmd;
  }
  const emu::Bytes first = emu::DeviceText("Безналичная");
  const emu::Bytes second = emu::DeviceText("оплата");
  std::string expected = "c" + std::string(first.begin(), first.end());
  expected.resize(26, ' ');
  expected += std::string(second.begin(), second.end());
  expected.resize(51, ' ');
  EXPECT_EQ(card, expected);
}

TEST_F(BringUpTest, PrinterThatNeedsAZReportStopsBringUpBeforeThePassword) {
  StartPrinter();
  printer->ModifyState([](emu::PrinterState& s) { s.zReportRequired = true; });
  EXPECT_EQ(BringUp(), 20);
  EXPECT_EQ(ctx.nVersionCode, 0xB01);  // recognised all the same
  EXPECT_EQ(CountCommands("W"), 0);
  EXPECT_EQ(CountCommands("PN"), 0);
  EXPECT_TRUE(log.Has("*ResetFP: Z1 Report Required"));
}

TEST_F(BringUpTest, PasswordIsChecked) {
  StartPrinter();
  OpenPort();
  SetVersion(11, 1);
  ASSERT_EQ(GetStatus(&ctx, true), 2);  // the printer is in the fiscal mode: it wants its own password
  // Not six characters: refused before anything goes out.
  for (const char* bad : {"47291", "4729131", "", static_cast<const char*>(nullptr)}) {
    SCOPED_TRACE(bad ? bad : "null");
    printer->ClearTrace();
    EXPECT_EQ(SendCPswd(&ctx, bad), 18);
    EXPECT_EQ(ctx.nLastResult, 18);
    EXPECT_TRUE(Commands().empty());
  }
  // Six characters the printer does not take: its refusal is the whole answer. No extended status
  // is asked for after it, so the printer error the host is told stays what it was.
  printer->ClearTrace();
  ctx.nDeviceError = 0;
  EXPECT_EQ(SetCPswd(&ctx, "000000"), 18);
  EXPECT_STREQ(ctx.szOperatorPassword, "472913");
  EXPECT_FALSE(printer->State().passwordEntered);
  EXPECT_EQ(ctx.nDeviceError, 0);
  for (const emu::TraceEntry& e : printer->TraceEntries()) {
    if (e.direction == emu::TraceEntry::Direction::kRx) {
      EXPECT_NE(e.bytes, emu::Bytes{0x1A}) << "ENQT";
    }
  }
  // A new password once the printer has one.
  printer->ModifyState([](emu::PrinterState& s) { s.operatorPassword = "135790"; });
  EXPECT_EQ(SetCPswd(&ctx, "135790"), 0);
  EXPECT_STREQ(ctx.szOperatorPassword, "135790");
  EXPECT_TRUE(printer->State().passwordEntered);
}

TEST_F(BringUpTest, PrinterOutsideTheFiscalModeIsSentItsFactoryPassword) {
  StartPrinter();
  OpenPort();
  SetVersion(11, 1);
  printer->ModifyState([](emu::PrinterState& s) { s.fiscal = false; });
  ASSERT_EQ(GetStatus(&ctx, true), 2);
  EXPECT_EQ(SendCPswd(&ctx, "111111"), 0);
  EXPECT_EQ(CountCommands("W  472913"), 1);
}

TEST_F(BringUpTest, WrongPasswordFailsBringUpAfterTheModelIsKnown) {
  StartPrinter();
  EXPECT_EQ(BringUp("123456"), 18);
  EXPECT_EQ(ctx.nVersionMajor, 11);
  EXPECT_EQ(BringUp("12345"), 18);
}

TEST_F(BringUpTest, PosNumberRangeDependsOnTheModel) {
  StartPrinter();
  OpenPort();
  SetVersion(4, 0);
  EXPECT_EQ(ProgramPOS_Id(&ctx, 100), 19);
  EXPECT_EQ(ProgramPOS_Id(&ctx, -1), 19);
  EXPECT_TRUE(Commands().empty());

  ASSERT_EQ(BringUp(), 0);  // on the port already open
  EXPECT_EQ(ProgramPOS_Id(&ctx, 100), 0);
  EXPECT_EQ(printer->State().posNumber, 100);
  EXPECT_EQ(ctx.anClerkSecrets[0], 100);
  EXPECT_EQ(ProgramPOS_Id(&ctx, 10000), 19);
  EXPECT_EQ(CountCommands("PN100"), 1);
}

TEST(ClerkSecretGenerator, FiveDigitsDistinctPerClerkAndPerAttempt) {
  for (int pos : {0, 1, 99, 9999}) {
    std::set<int32_t> all;
    for (int attempt = 0; attempt < kSecretAttempts; ++attempt) {
      for (int clerk = 1; clerk <= kClerkCount; ++clerk) {
        const int32_t secret = GeneratedClerkSecret(clerk, pos, attempt);
        EXPECT_GE(secret, 1);
        EXPECT_LE(secret, 99999);
        EXPECT_EQ(secret, GeneratedClerkSecret(clerk, pos, attempt));
        all.insert(secret);
      }
    }
    // Within one attempt the clerks never share a secret, and no attempt repeats one of a clerk.
    for (int clerk = 1; clerk <= kClerkCount; ++clerk) {
      std::set<int32_t> attempts;
      for (int attempt = 0; attempt < kSecretAttempts; ++attempt) {
        attempts.insert(GeneratedClerkSecret(clerk, pos, attempt));
      }
      EXPECT_EQ(attempts.size(), static_cast<size_t>(kSecretAttempts));
    }
    for (int attempt = 0; attempt < kSecretAttempts; ++attempt) {
      std::set<int32_t> clerks;
      for (int clerk = 1; clerk <= kClerkCount; ++clerk)
        clerks.insert(GeneratedClerkSecret(clerk, pos, attempt));
      EXPECT_EQ(clerks.size(), static_cast<size_t>(kClerkCount));
    }
  }
  EXPECT_NE(GeneratedClerkSecret(1, 1, 0), GeneratedClerkSecret(1, 2, 0));
}

TEST_F(BringUpTest, OpenShiftGetsItsClerksProgrammedOnceAndRememberedAfter) {
  emu::PrinterState open;
  open.shiftOpen = true;
  open.shiftOpenedAt = plat::SystemClock().UnixTime();  // the printer's clock: a fresh shift
  StartPrinter(open);
  ASSERT_EQ(BringUp(), 0) << log.Text();
  const emu::PrinterState s = printer->State();
  for (int n = 1; n <= kClerkCount; ++n) {
    SCOPED_TRACE(n);
    EXPECT_EQ(s.clerks[n].secret, GeneratedClerkSecret(n, 1, 0));
    EXPECT_EQ(ctx.anClerkSecrets[n], s.clerks[n].secret);
    char name[4];
    snprintf(name, sizeof name, "%03d", n);
    EXPECT_EQ(s.clerks[n].name, name);
  }
  EXPECT_EQ(CountCommands("PC"), kClerkCount);

  // A second driver finds every clerk answering to its secret and programs none.
  CloseSerial(&ctx);
  StartPrinter(printer->State());
  FPContext second;
  second.pClock = &clock;
  ASSERT_EQ(InitFP2(&second, kPort, kPassword, 6, nullptr), 0);
  EXPECT_EQ(CountCommands("PC"), 0);
  EXPECT_EQ(CountCommands("5"), kClerkCount);
  EXPECT_EQ(second.anClerkSecrets[16], GeneratedClerkSecret(16, 1, 0));
  EXPECT_EQ(printer->State().clerk, 0);  // each was logged off again
  CloseSerial(&second);
}

TEST_F(BringUpTest, ClosedShiftLeavesTheClerksAlone) {
  StartPrinter();
  ASSERT_EQ(BringUp(), 0);
  EXPECT_EQ(CountCommands("5"), 0);
  EXPECT_EQ(CountCommands("PC"), 0);
  EXPECT_EQ(ctx.anClerkSecrets[1], -1);
}

TEST_F(BringUpTest, SetClerkProgramsAndLogsOnAndDeinitLogsOff) {
  StartPrinter();
  ASSERT_EQ(BringUp(), 0);
  EXPECT_EQ(SafeLogOn(&ctx, 2), 26);  // no secret known yet
  const std::string name = plat::Utf8ToCp1251("Иванова");
  ASSERT_EQ(SetClerk(&ctx, 2, name.c_str()), 0) << log.Text();
  emu::PrinterState s = printer->State();
  const emu::Bytes deviceName = emu::DeviceText("Иванова");
  EXPECT_EQ(s.clerks[2].name, std::string(deviceName.begin(), deviceName.end()));
  EXPECT_EQ(s.clerk, 2);
  EXPECT_EQ(ctx.anClerkSecrets[2], s.clerks[2].secret);
  EXPECT_EQ(ctx.bClerkLoggedOn, 1);
  EXPECT_EQ(std::string(ctx.szClerkName), name);

  EXPECT_EQ(DeinitFP(&ctx), 0);
  EXPECT_EQ(printer->State().clerk, 0);
  EXPECT_EQ(ctx.nComPort, 0);
}

TEST_F(BringUpTest, ClerkWithASecretOfItsOwnIsNotTakenOver) {
  StartPrinter();
  ASSERT_EQ(BringUp(), 0);
  printer->ModifyState([](emu::PrinterState& s) { s.clerks[5].secret = 4242; });
  // The supported model reads the refusal as "not programmed before" and stops at the first one.
  EXPECT_EQ(SafeProgramClerk(&ctx, 5, "X"), 26);
  EXPECT_EQ(CountCommands("PC05"), 1);
  EXPECT_EQ(ctx.anClerkSecrets[5], -1);
  // Older models read it as a wrong secret and try the next generated ones.
  SetVersion(4, 0);
  printer->ClearTrace();
  EXPECT_EQ(SafeProgramClerk(&ctx, 5, "X"), 27);
  EXPECT_EQ(CountCommands("PC05"), kSecretAttempts);
  // The known secret is used first.
  ctx.anClerkSecrets[5] = 4242;
  printer->ClearTrace();
  EXPECT_EQ(SafeProgramClerk(&ctx, 5, "X"), 0);
  EXPECT_EQ(Commands().back().substr(0, 9), "PC0504242");
}

TEST_F(BringUpTest, ClerkArgumentsAreCheckedBeforeSending) {
  StartPrinter();
  OpenPort();
  SetVersion(11, 1);
  struct Case {
    const char* what;
    int32_t (*call)(FPContext*);
    int32_t expected;
  };
  const Case cases[] = {
      {"no name", [](FPContext* c) { return ProgramClerk(c, 1, 1, ""); }, 11},
      {"null name", [](FPContext* c) { return ProgramClerk(c, 1, 1, nullptr); }, 11},
      {"clerk 0", [](FPContext* c) { return ProgramClerk(c, 0, 1, "A"); }, 22},
      {"clerk 17", [](FPContext* c) { return ProgramClerk(c, 17, 1, "A"); }, 22},
      {"secret 100000", [](FPContext* c) { return ProgramClerk(c, 1, 100000, "A"); }, 27},
      {"negative secret", [](FPContext* c) { return LogOnBySecret(c, -1); }, 27},
      {"safe clerk 17", [](FPContext* c) { return SafeProgramClerk(c, 17, "A"); }, 22},
      {"log on clerk 0", [](FPContext* c) { return SafeLogOn(c, 0); }, 22},
      {"empty name", [](FPContext* c) { return SetClerk(c, 1, ""); }, 13},
      {"taxpayer clerk 8", [](FPContext* c) { return ProgramClerkINN(c, 8, "7701234567"); }, 22},
      {"taxpayer empty", [](FPContext* c) { return ProgramClerkINN(c, 1, ""); }, 0},
  };
  ctx.nContextKind = 2;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    printer->ClearTrace();
    EXPECT_EQ(c.call(&ctx), c.expected);
    EXPECT_EQ(ctx.nLastResult, c.expected);
    EXPECT_TRUE(Commands().empty());
  }
  EXPECT_EQ(SetClerk(&ctx, 1, ""), 13);
  EXPECT_EQ(ctx.nDeviceError, 46);
}

TEST_F(BringUpTest, ClerkNameWidthFollowsTheModel) {
  StartPrinter();
  OpenPort();
  printer->ModifyState([](emu::PrinterState& s) { s.passwordEntered = true; });
  struct Case {
    int major, minor, kind, clerk;
    size_t width;
  };
  const Case cases[] = {
      {11, 1, 2, 1, 64}, {11, 1, 2, 2, 35}, {11, 1, 1, 1, 35},
      {9, 3, 2, 1, 16},  {3, 1, 1, 2, 16},  {2, 0, 1, 2, 16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.major << "." << c.minor << " kind " << c.kind << " clerk "
                                    << c.clerk);
    SetVersion(c.major, c.minor);
    ctx.nContextKind = c.kind;
    ctx.anClerkSecrets[c.clerk] = -1;
    printer->ModifyState([&](emu::PrinterState& s) { s.clerks[c.clerk].secret = -1; });
    printer->ClearTrace();
    ASSERT_EQ(ProgramClerk(&ctx, c.clerk, 100 + c.clerk, "Name"), 0);
    EXPECT_EQ(Commands().back().size(), 9 + c.width);
    EXPECT_GT(clock.CountSleeps(55), 0);
  }
}

TEST_F(BringUpTest, ClerkTaxpayerNumberOnlyOnTheSupportedModel) {
  StartPrinter();
  OpenPort();
  SetVersion(11, 1);
  ctx.nContextKind = 1;
  EXPECT_EQ(ProgramClerkINN(&ctx, 3, ""), 0);  // the older firmware is sent the blanks
  EXPECT_EQ(Commands().back(), "PC*" + std::string(12, ' ') + "303");
  EXPECT_EQ(ProgramClerkINN(&ctx, 3, "7701234567"), 0);
  EXPECT_EQ(printer->State().clerks[3].taxpayerNumber, "7701234567");
  SetVersion(9, 1);
  printer->ClearTrace();
  EXPECT_EQ(ProgramClerkINN(&ctx, 3, "7701234567"), 0);
  EXPECT_TRUE(Commands().empty());
}

TEST_F(BringUpTest, RawResetBringsABusyPrinterBack) {
  StartPrinter();
  OpenPort();
  SetVersion(4, 0);
  EXPECT_EQ(ResetFPMirel(&ctx), 35);
  EXPECT_TRUE(printer->TraceEntries().empty());

  SetVersion(11, 1);
  printer->ModifyState([](emu::PrinterState& s) {
    s.busy = true;
    s.receiptOpen = true;
  });
  EXPECT_EQ(ResetFPMirel(&ctx), 0);
  EXPECT_FALSE(printer->State().busy);
  EXPECT_FALSE(printer->State().receiptOpen);
  EXPECT_EQ(clock.CountSleeps(3000), 1);
}

TEST_F(BringUpTest, FastStatusWord) {
  StartPrinter();
  OpenPort();
  SetVersion(11, 1);
  struct Case {
    const char* what;
    void (*setUp)(emu::PrinterState&);
    int32_t expected;
  };
  const Case cases[] = {
      {"idle fiscal printer", [](emu::PrinterState&) {}, 0x2},
      {"fiscal receipt", [](emu::PrinterState& s) { s.fiscalReceiptOpen = true; }, 0x2 | 0x20},
      {"receipt", [](emu::PrinterState& s) { s.receiptOpen = true; }, 0x2 | 0x40},
      {"paper end", [](emu::PrinterState& s) { s.paperEnd = true; }, 0x2 | 0x400},
      // The restart clears a print failure before the status is read again.
      {"print failure", [](emu::PrinterState& s) { s.printFailure = true; }, 0x2},
      {"stuck error", [](emu::PrinterState& s) { s.stuckErrorBits = 0x20; },
       static_cast<int32_t>(0xFFFFF002u)},
      {"not fiscal", [](emu::PrinterState& s) { s.fiscal = false; }, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    printer->ModifyState([&](emu::PrinterState& s) {
      s = emu::PrinterState();
      c.setUp(s);
    });
    int32_t word = -1;
    EXPECT_EQ(FastStatus(&ctx, &word), 0);
    EXPECT_EQ(word, c.expected);
  }
  EXPECT_EQ(FastStatus(&ctx, nullptr), 0);
}

TEST_F(BringUpTest, DeinitWithoutAKnownModelOnlyClosesThePort) {
  StartPrinter();
  OpenPort();
  EXPECT_EQ(DeinitFP(&ctx), 0);
  EXPECT_TRUE(Commands().empty());
  EXPECT_EQ(ctx.nComPort, 0);
}

}  // namespace
