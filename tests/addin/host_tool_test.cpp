// mirel-host end to end: a script of calls, what it prints, and its exit status.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

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
          ("mirel-host-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
           "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
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
                                   "PrintXReport 123 @" + xml + "\n"
                                   "ПолучитьОшибку\n");
  const HostRun run = RunHost(Options() + " --script " + script);
  EXPECT_EQ(0, run.status) << run.output;
  EXPECT_NE(std::string::npos, run.output.find("GetVersion: 1.0.0.24\n> ПолучитьНомерВерсии\n"
                                               "GetVersion: 1.0.0.24\n"))
      << run.output;
  EXPECT_NE(std::string::npos,
            run.output.find("PrintXReport: False\n  GetLastError: 2 Фискальный принтер "
                            "отсутствует, отключен или выключен\n"))
      << run.output;
  EXPECT_NE(std::string::npos,
            run.output.find("GetLastError: 2\n  ErrorDescription: Фискальный принтер"))
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
      {"GetAdditionalActions", 0, "GetLastError: 35 Возможность не поддерживается"},
      {"--expect-ok GetAdditionalActions", 1, "GetAdditionalActions: False"},
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
  EXPECT_EQ(std::string::npos, run.output.find("> GetVersion\n", run.output.find("Open")))
      << run.output;
}
