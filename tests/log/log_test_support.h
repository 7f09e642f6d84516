// Shared pieces of the log tests: a clock fixed by the test and a context whose files live in a
// temporary directory.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "device/fp_context.h"
#include "log/log.h"
#include "platform/clock.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace logtest {

namespace fs = std::filesystem;

class FixedClock : public plat::Clock {
 public:
  uint32_t TickMs() override { return 0; }
  void SleepMs(uint32_t) override {}
  plat::CalendarTime LocalTime() override { return local; }
  plat::CalendarTime UtcTime() override { return utc; }
  int64_t UnixTime() override { return unixTime; }

  plat::CalendarTime local{2024, 3, 5, 9, 7, 3, 0};
  plat::CalendarTime utc{2024, 3, 5, 6, 7, 3, 0};
  int64_t unixTime = 1709618823;  // 2024-03-05 06:07:03 UTC
};

inline std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteAll(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// A context on the fixed clock with its fixed files H.log and L.log in a temporary directory.
class LogTest : public ::testing::Test {
 protected:
  LogTest() {
    ctx.pClock = &clock;
    SetPath(ctx.szLogFileH, dir.path() / "H.log");
    SetPath(ctx.szLogFileL, dir.path() / "L.log");
    SetPath(ctx.szLogPath, dir.WithSeparator());
  }
  ~LogTest() override { CloseLogs(&ctx); }

  template <size_t N>
  static void SetPath(char (&field)[N], const fs::path& path) {
    std::snprintf(field, N, "%s", path.string().c_str());
  }

  // Logging switched on as the driver does it: every category, flush after every line.
  void SwitchOn() {
    SetLogMode(&ctx, kLogAll, 1);
    OpenLogs(&ctx);
  }

  std::string H() const { return ReadAll(dir.path() / "H.log"); }
  std::string L() const { return ReadAll(dir.path() / "L.log"); }

  TempDir dir;
  FixedClock clock;
  FPContext ctx;
};

}  // namespace logtest
