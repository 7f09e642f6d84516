// mirel-host end to end: a script of calls, what it prints, and its exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/printer_line.h"

namespace {

namespace fs = std::filesystem;

struct HostRun {
  int status = -1;
  std::string output;
};

HostRun RunHost(const std::string& arguments) {
  HostRun run;
  const std::string command = std::string(MIREL_HOST_PATH) + " " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[512];
  size_t n = 0;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
  const int raw = pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return run;
}

class HostTool : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("mirel-host-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  std::string Write(const char* name, const std::string& text) {
    const fs::path path = dir / name;
    std::ofstream(path) << text;
    return path.string();
  }
  std::string Options() { return "--profile " + (dir / "profile").string(); }

  fs::path dir;
};

}  // namespace

TEST_F(HostTool, RunsAScriptAndPrintsWhatTheHostSees) {
  const std::string xml = Write("in.xml", "<InputParameters/>");
  const std::string script = Write("calls.txt",
                                   "# the component's identity\n"
                                   "GetVersion\n"
                                   "ПолучитьНомерВерсии\n"
                                   "\n"
                                   "PrintXReport 123 @" +
                                       xml +
                                       "\n"
                                       "ПолучитьОшибку\n");
  const HostRun run = RunHost(Options() + " --script " + script);
  EXPECT_EQ(0, run.status) << run.output;
  EXPECT_NE(std::string::npos, run.output.find("GetVersion: 1.0.0.24\n> ПолучитьНомерВерсии\n"
                                               "GetVersion: 1.0.0.24\n"))
      << run.output;
  EXPECT_NE(std::string::npos, run.output.find("PrintXReport: False\n  GetLastError: 2 Фискальный принтер "
                                               "отсутствует, отключен или выключен\n"))
      << run.output;
  EXPECT_NE(std::string::npos, run.output.find("GetLastError: 2\n  ErrorDescription: Фискальный принтер"))
      << run.output;
  // Done wrote the component's settings back into the host's profile.
  std::ifstream profile(dir / "profile");
  const std::string saved((std::istreambuf_iterator<char>(profile)), {});
  EXPECT_NE(std::string::npos, saved.find("ComPort=1\n")) << saved;
}

TEST_F(HostTool, ExitStatusTellsFailuresAndMistakesApart) {
  struct Case {
    std::string arguments;
    int status;
    const char* printed;
  } cases[] = {
      {"GetVersion", 0, "GetVersion: 1.0.0.24"},
      {"--expect-ok GetVersion", 0, "GetVersion: 1.0.0.24"},
      {"--info GetVersion", 0, "GetInfo: 2000\nGetVersion: 1.0.0.24"},
      {"GetLineLength 123", 0, "GetLastError: 2 Фискальный принтер отсутствует"},
      {"--expect-ok GetLineLength 123", 1, "GetLineLength: False"},
      {"NoSuchMethod", 2, "no such method"},
      {"GetLineLength", 2, "takes 1 argument(s), 0 given"},
      {"--bogus", 2, "unknown option"},
      {"--help", 0, "ReportCurrentStatusOfSettlements (ОтчетОТекущемСостоянииРасчетов)"},
  };
  for (const Case& c : cases) {
    const HostRun run = RunHost(Options() + " " + c.arguments);
    EXPECT_EQ(c.status, run.status) << c.arguments << "\n" << run.output;
    EXPECT_NE(std::string::npos, run.output.find(c.printed)) << c.arguments << "\n" << run.output;
  }
}

TEST_F(HostTool, ExpectOkStopsAtTheFirstFailingLine) {
  const std::string script = Write("calls.txt", "GetVersion\nOpen\nGetVersion\n");
  const HostRun run = RunHost(Options() + " --expect-ok --script " + script);
  EXPECT_EQ(1, run.status);
  EXPECT_NE(std::string::npos, run.output.find("line 2: the call failed")) << run.output;
  EXPECT_EQ(std::string::npos, run.output.find("> GetVersion\n", run.output.find("Open"))) << run.output;
}

TEST_F(HostTool, EnvironmentValuesWaitsAndDocumentsInScripts) {
  ScopedEnv speed("MIREL_TEST_SPEED", "6");
  struct Case {
    std::string calls;
    int status;
    const char* printed;
  } cases[] = {
      // $NAME takes the environment's value as a word; an unknown name is a mistake in the script.
      {"SetParameter Speed $MIREL_TEST_SPEED", 0, "SetParameter: True"},
      {"SetParameter Speed $MIREL_TEST_NO_SUCH", 2, "$MIREL_TEST_NO_SUCH: no such variable"},
      // An XML document goes below its parameter's name, each line indented.
      {"GetParameters", 0,
       "  TableParameters:\n    <?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n    <Settings>\n"},
      {"wait 5 \"1.0.0.24\" GetVersion", 0, "GetVersion: 1.0.0.24\n  (seen after 0 s)\n"},
      {"wait 1 \"2.0\" GetVersion", 1, "GetVersion: 1.0.0.24\n  (not seen after 1 s)\n"},
      {"wait 1 \"2.0\"", 2, "wait: takes SECONDS TEXT METHOD [ARG...]"},
  };
  for (const Case& c : cases) {
    const std::string script = Write("calls.txt", c.calls + "\n");
    const HostRun run = RunHost(Options() + " --expect-ok --script " + script);
    EXPECT_EQ(c.status, run.status) << c.calls << "\n" << run.output;
    EXPECT_NE(std::string::npos, run.output.find(c.printed)) << c.calls << "\n" << run.output;
  }
  // Done kept the speed the first script gave, for the host's next start.
  std::ifstream profile(dir / "profile");
  const std::string saved((std::istreambuf_iterator<char>(profile)), {});
  EXPECT_NE(std::string::npos, saved.find("Speed=6\n")) << saved;
}

// The check packages shipped as examples (the demo's receipts) print on the virtual printer through
// the host: each receipt comes back True and the printer closed it as the kind of receipt it is,
// for the sum the package asks.
TEST_F(HostTool, ExamplePackagesPrintTheirReceipts) {
  const fs::path examples = fs::path(MIREL_TESTS_DIR) / ".." / "tools" / "host" / "examples";
  PrinterLine line(57);
  line.Start();
  ScopedEnv config("XDG_CONFIG_HOME", (dir / "config").c_str());
  ScopedEnv logs("XDG_STATE_HOME", (dir / "state").c_str());
  struct Receipt {
    const char* package;
    uint8_t kind;
    bool purchase;
    int64_t total;  // kopecks: the sum of the package's items, discounts in them
  } receipts[] = {
      {"sale.xml", emu::kSaleReceipt, false, 86730},
      {"sale-return.xml", emu::kReturnReceipt, false, 8990},
      {"purchase.xml", emu::kSaleReceipt, true, 90000},
      {"purchase-return.xml", emu::kReturnReceipt, true, 6000},
  };
  std::string calls =
      "SetParameter Port 57\nSetParameter Password \"472913\"\nOpen\n"
      "OpenShift $DeviceID @cashier.xml\n";
  for (const Receipt& r : receipts) calls += std::string("ProcessCheck $DeviceID false @") + r.package + "\n";
  calls += "CloseShift $DeviceID @cashier.xml\nClose $DeviceID\n";
  // Beside the packages, so that their names resolve as in the demo's script.
  const fs::path script = dir / "day.host";
  std::ofstream(script) << calls;
  for (const char* name :
       {"cashier.xml", "sale.xml", "sale-return.xml", "purchase.xml", "purchase-return.xml"}) {
    fs::copy_file(examples / name, dir / name);
  }

  const HostRun run = RunHost(Options() + " --expect-ok --script " + script.string());
  ASSERT_EQ(0, run.status) << run.output;
  // Every receipt belongs to the shift opened first, and the host is told so.
  EXPECT_EQ(std::string::npos, run.output.find("SessionNumber: 0")) << run.output;
  const emu::PrinterState s = line.printer.State();
  ASSERT_EQ(std::size(receipts), s.closedReceipts.size()) << run.output;
  for (size_t i = 0; i < std::size(receipts); ++i) {
    EXPECT_EQ(receipts[i].kind, s.closedReceipts[i].kind) << receipts[i].package;
    EXPECT_EQ(receipts[i].purchase, s.closedReceipts[i].purchase) << receipts[i].package;
    EXPECT_EQ(receipts[i].total, s.closedReceipts[i].total) << receipts[i].package;
    EXPECT_NE(0u, s.closedReceipts[i].fiscalSign) << receipts[i].package;
  }
  EXPECT_FALSE(s.shiftOpen);
}

// The same day through the native library, loaded as 1C on Linux loads it, and through the COM
// component, each on a virtual printer of its own: the host sees the same results, out-parameters
// and GetLastError codes and texts, and each printer the same commands; only what the printer
// makes anew each time differs (the identifier Open gives, the fiscal signs, the times).
TEST_F(HostTool, TheNativeLibraryRunsTheSameDayAsTheComComponent) {
  const fs::path examples = fs::path(MIREL_TESTS_DIR) / ".." / "tools" / "host" / "examples";
  for (const char* name : {"cashier.xml", "sale.xml", "sale-return.xml", "correction-check.xml"}) {
    fs::copy_file(examples / name, dir / name);
  }
  const std::string script = Write("day.host",
                                   "SetParameter Port 58\nSetParameter Password \"472913\"\nOpen\n"
                                   "OpenShift $DeviceID @cashier.xml\n"
                                   "ProcessCheck $DeviceID false @sale.xml\n"
                                   "ProcessCheck $DeviceID false @sale-return.xml\n"
                                   "ProcessCorrectionCheck $DeviceID @correction-check.xml\n"
                                   "CashInOutcome $DeviceID @cashier.xml 100.5\n"
                                   "GetCurrentStatus $DeviceID\n"
                                   "PrintXReport 123 @cashier.xml\n"
                                   "CloseShift $DeviceID @cashier.xml\n"
                                   "Close $DeviceID\nGetLastError\n");
  ScopedEnv config("XDG_CONFIG_HOME", (dir / "config").c_str());
  ScopedEnv logs("XDG_STATE_HOME", (dir / "state").c_str());
  // What the host saw, without the values the printer makes anew for every run.
  const auto seen = [](const std::string& output) {
    std::istringstream in(output);
    std::string kept;
    for (std::string line; std::getline(in, line);) {
      const bool fresh = line.find("DeviceID: ") != std::string::npos ||
                         line.find("FiscalSign: ") != std::string::npos ||
                         line.find("DateTime") != std::string::npos;
      if (!fresh) kept += line + '\n';
    }
    return kept;
  };
  std::vector<std::string> outputs, commands;
  for (const std::string front : {"", " --native " MIREL_NATIVE_LIB_PATH}) {
    PrinterLine line(58);
    line.Start();
    fs::remove(dir / "profile");
    const HostRun run = RunHost(Options() + front + " --script " + script);
    ASSERT_EQ(0, run.status) << front << ": " << run.output;
    outputs.push_back(seen(run.output));
    std::string sent;
    for (const std::string& c : line.Commands()) sent += c + '\n';
    commands.push_back(sent);
  }
  EXPECT_EQ(outputs[0], outputs[1]);
  EXPECT_EQ(commands[0], commands[1]);
  EXPECT_NE(outputs[1].find("ProcessCorrectionCheck: True"), std::string::npos) << outputs[1];
  EXPECT_NE(outputs[1].find("CloseShift: True"), std::string::npos) << outputs[1];
  EXPECT_NE(outputs[1].find("PrintXReport: False\n  GetLastError: 2 "), std::string::npos) << outputs[1];
}
