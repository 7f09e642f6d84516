// Which files are opened where: logging off, the default directory, unopenable paths, daily files
// with their folder, names, day change and expiry.
#include <cstring>
#include <set>
#include <string>

#include "log_test_support.h"
#include "platform/codepage.h"

namespace logtest {
namespace {

std::set<std::string> NamesIn(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
  return names;
}

TEST_F(LogTest, LoggingNeverSwitchedOnCreatesNoFile) {
  EXPECT_EQ(ctx.pfnLogEnter, nullptr);
  EXPECT_EQ(ctx.pfnLogMessageH, nullptr);
  CloseLogs(&ctx);
  // Writers installed but the files never opened: still nothing on disk.
  SetLogMode(&ctx, kLogAll, 1);
  ctx.pfnLogEnterH(&ctx, "Open");
  ctx.pfnLogSend(&ctx, "[05]", "ok");
  ctx.pfnLogReturnH(&ctx, "Open", "0");
  EXPECT_TRUE(NamesIn(dir.path()).empty());
}

TEST(LogDefaults, FilesGoToThePerUserDirectoryMadeOnFirstUse) {
  TempDir state;
  ScopedEnv env("XDG_STATE_HOME", state.path().c_str());
  FPContext ctx;
  const std::string home = (state.path() / "mirel" / "").string();
  EXPECT_EQ(ctx.szLogFileH, home + "Mirel-H.log");
  EXPECT_EQ(ctx.szLogFileL, home + "Mirel-L.log");
  EXPECT_EQ(ctx.szLogPath, home);
  EXPECT_FALSE(fs::exists(home));

  SetLogMode(&ctx, kLogAll, 1);
  OpenLogs(&ctx);
  ctx.pfnLogMessageH(&ctx, "Relay", "up");
  CloseLogs(&ctx);
  EXPECT_EQ(NamesIn(home), (std::set<std::string>{"Mirel-H.log", "Mirel-L.log"}));
  EXPECT_NE(ReadAll(home + "Mirel-H.log").find("*Relay: up\n"), std::string::npos);
}

TEST_F(LogTest, UnopenableFileLeavesItsStreamNull) {
  WriteAll(dir.path() / "plain", "a file, not a folder");
  SetPath(ctx.szLogFileH, dir.path() / "plain" / "H.log");
  SwitchOn();
  EXPECT_EQ(ctx.fileLogH, nullptr);
  ASSERT_NE(ctx.fileLogL, nullptr);
  ctx.pfnLogEnterH(&ctx, "Open");
  ctx.pfnLogMessageH(&ctx, "Open", "port 1");
  ctx.pfnLogReturnH(&ctx, "Open", "0");
  ctx.pfnLogMessage(&ctx, "Port", "open");
  EXPECT_EQ(L(), "2024-03-05 09:07:03 *Port: open\n");
}

// A context in daily mode on a clock at 00:30 on 1 March in Moscow (UTC+3), still 29 February in UTC.
class DailyLogTest : public LogTest {
 protected:
  DailyLogTest() {
    ctx.bDailyLog = 1;
    SetTime(1709242200, {2024, 3, 1, 0, 30, 0, 0}, {2024, 2, 29, 21, 30, 0, 0});
  }
  void SetTime(int64_t unixTime, plat::CalendarTime local, plat::CalendarTime utc) {
    clock.unixTime = unixTime;
    clock.local = local;
    clock.utc = utc;
  }
  fs::path LogDir() const { return dir.path() / "Log"; }

  ScopedEnv zone{"TZ", "Europe/Moscow"};
};

TEST_F(DailyLogTest, NamesCarryTheUtcDate) {
  SwitchOn();
  EXPECT_STREQ(ctx.szDailyNameH, "Mirel-H-2024-02-29.log");
  EXPECT_STREQ(ctx.szDailyNameL, "Mirel-L-2024-02-29.log");
  ctx.pfnLogMessageH(&ctx, "Relay", "up");
  // The line itself carries local time.
  EXPECT_EQ(ReadAll(LogDir() / "Mirel-H-2024-02-29.log"), "2024-03-01 00:30:00 *Relay: up\n");
  EXPECT_EQ(NamesIn(LogDir()), (std::set<std::string>{"Mirel-H-2024-02-29.log", "Mirel-L-2024-02-29.log"}));
  EXPECT_FALSE(fs::exists(dir.path() / "H.log"));
}

TEST_F(DailyLogTest, FolderIsTheLogSubfolderOfThePath) {
  const std::string base = dir.path().string();
  struct Case {
    std::string logPath;
    fs::path folder;
  };
  const Case cases[] = {
      {base, dir.path() / "Log"},
      {base + "/", dir.path() / "Log"},
      {base + "/Log", dir.path() / "Log"},
      {base + "/Log/", dir.path() / "Log"},
      {base + "/logs/", dir.path() / "logs" / "Log"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.logPath);
    CloseLogs(&ctx);
    std::error_code ec;
    fs::remove_all(dir.path() / "Log", ec);
    fs::remove_all(dir.path() / "logs", ec);
    std::snprintf(ctx.szLogPath, sizeof ctx.szLogPath, "%s", c.logPath.c_str());
    SwitchOn();
    EXPECT_TRUE(fs::is_regular_file(c.folder / "Mirel-L-2024-02-29.log"));
    EXPECT_FALSE(fs::exists(c.folder / "Log"));
  }
}

TEST_F(DailyLogTest, UnusableFolderFallsBackToTheFixedFiles) {
  WriteAll(dir.path() / "plain", "a file, not a folder");
  SetPath(ctx.szLogPath, dir.path() / "plain");
  SwitchOn();
  EXPECT_EQ(ctx.bDailyLog, 0);
  ctx.pfnLogMessage(&ctx, "Port", "open");
  EXPECT_EQ(L(), "2024-03-01 00:30:00 *Port: open\n");
}

TEST_F(DailyLogTest, OpeningDeletesFilesOlderThanTheLifetime) {
  // Now: 00:30 on 10 March in Moscow. Seven days ago it was 3 March there (2 March in UTC), so the
  // files of 3 March and later stay and older ones of the two kinds go.
  SetTime(1710019800, {2024, 3, 10, 0, 30, 0, 0}, {2024, 3, 9, 21, 30, 0, 0});
  const std::set<std::string> kept = {
      "Mirel-H-2024-03-03.log",     "Mirel-L-2024-03-03.log", "Mirel-H-2024-03-05.log",
      "Mirel-H-2024-03-02.txt",  // other extension
      "Mirel-X-2024-03-02.log",  // other kind
      "Mirel-H-2024-3-2.log",    // other form
      "mirel-h-2024-03-02.log",  // other case
      "Mirel-H-2024-03-02.log.bak",
  };
  const std::set<std::string> expired = {"Mirel-H-2024-03-02.log", "Mirel-L-2024-03-02.log",
                                         "Mirel-H-2023-12-31.log", "Mirel-L-2024-01-15.log"};
  fs::create_directories(LogDir());
  for (const std::string& name : kept) WriteAll(LogDir() / name, "old\n");
  for (const std::string& name : expired) WriteAll(LogDir() / name, "old\n");
  fs::create_directories(LogDir() / "Mirel-H-2024-01-01.log");  // a folder with a daily file's name

  SwitchOn();

  std::set<std::string> expected = kept;
  expected.insert({"Mirel-H-2024-01-01.log", "Mirel-H-2024-03-09.log", "Mirel-L-2024-03-09.log"});
  EXPECT_EQ(NamesIn(LogDir()), expected);
}

TEST_F(DailyLogTest, LifetimeOutsideOneToThirtyDaysCountsAsSeven) {
  // Now: 00:30 on 10 March in Moscow; with seven days, 3 March is the oldest day kept.
  SetTime(1710019800, {2024, 3, 10, 0, 30, 0, 0}, {2024, 3, 9, 21, 30, 0, 0});
  fs::create_directories(LogDir());
  for (int lifetime : {0, -1, 31}) {
    SCOPED_TRACE(lifetime);
    CloseLogs(&ctx);
    for (const char* name : {"Mirel-H-2024-03-02.log", "Mirel-H-2024-03-03.log", "Mirel-H-2024-03-09.log"}) {
      WriteAll(LogDir() / name, "old\n");
    }
    ctx.nDailyLogLifeTime = lifetime;
    SwitchOn();
    EXPECT_FALSE(fs::exists(LogDir() / "Mirel-H-2024-03-02.log"));
    EXPECT_TRUE(fs::exists(LogDir() / "Mirel-H-2024-03-03.log"));
    EXPECT_EQ(ReadAll(LogDir() / "Mirel-H-2024-03-09.log"), "old\n");
  }
}

TEST_F(DailyLogTest, DayChangeMovesBothFilesBeforeTheLine) {
  SwitchOn();
  ctx.pfnLogEnterH(&ctx, "PrintReport");
  ctx.pfnLogMessage(&ctx, "Port", "before");
  fs::create_directories(LogDir());
  WriteAll(LogDir() / "Mirel-H-2024-02-23.log", "old\n");  // 8 days before local 2 March
  WriteAll(LogDir() / "Mirel-H-2024-02-24.log", "old\n");  // 7 days before: stays

  // A day later: 00:30 on 2 March in Moscow, 1 March in UTC.
  SetTime(1709328600, {2024, 3, 2, 0, 30, 0, 0}, {2024, 3, 1, 21, 30, 0, 0});
  ctx.pfnLogReturnH(&ctx, "PrintReport", "0");

  EXPECT_STREQ(ctx.szDailyNameH, "Mirel-H-2024-03-01.log");
  EXPECT_STREQ(ctx.szDailyNameL, "Mirel-L-2024-03-01.log");
  EXPECT_EQ(ReadAll(LogDir() / "Mirel-H-2024-02-29.log"), "2024-03-01 00:30:00 {PrintReport enter\n");
  EXPECT_EQ(ReadAll(LogDir() / "Mirel-L-2024-02-29.log"), "2024-03-01 00:30:00 *Port: before\n");
  EXPECT_EQ(ReadAll(LogDir() / "Mirel-H-2024-03-01.log"), "2024-03-02 00:30:00 }PrintReport ret 0\n\n");
  EXPECT_TRUE(fs::exists(LogDir() / "Mirel-L-2024-03-01.log"));
  EXPECT_FALSE(fs::exists(LogDir() / "Mirel-H-2024-02-23.log"));
  EXPECT_TRUE(fs::exists(LogDir() / "Mirel-H-2024-02-24.log"));
}

TEST_F(DailyLogTest, TrimAppliesToTodaysFile) {
  ctx.nLogMaxSize = 40;
  ctx.nLogTrimSize = 10;
  SwitchOn();
  ctx.pfnLogEnter(&ctx, "Fn");        // 30 bytes
  ctx.pfnLogReturn(&ctx, "Fn", "0");  // 30 bytes: 60, keep from 60 - 40 + 10 = 30
  EXPECT_EQ(ReadAll(LogDir() / "Mirel-L-2024-02-29.log"), "2024-03-01 00:30:00 }Fn ret 0\n");
  EXPECT_EQ(NamesIn(LogDir()), (std::set<std::string>{"Mirel-H-2024-02-29.log", "Mirel-L-2024-02-29.log"}));
}

// The daily files' paths (the path, "Log", a 22-character name) must fit the 259 characters a path
// may have; a longer one counts as a folder that cannot be used, and nothing is made there.
TEST_F(DailyLogTest, FolderWhoseFilePathsWouldBeTooLongIsNotUsed) {
  const std::string base = dir.path().string() + "/";
  // The path, a separator, "Log", a separator and the name: 5 + 22 characters after the path.
  const size_t longestPath = 259 - 27;
  ASSERT_LT(base.size() + 1, longestPath);
  struct Case {
    size_t pathLength;
    bool usable;
  };
  for (const Case& c : {Case{longestPath, true}, Case{longestPath + 1, false}, Case{259, false}}) {
    SCOPED_TRACE(c.pathLength);
    CloseLogs(&ctx);
    ctx.bDailyLog = 1;
    const std::string path = base + std::string(c.pathLength - base.size(), 'p');
    std::snprintf(ctx.szLogPath, sizeof ctx.szLogPath, "%s", path.c_str());
    ASSERT_EQ(std::strlen(ctx.szLogPath), c.pathLength);
    SwitchOn();
    EXPECT_EQ(ctx.bDailyLog, c.usable ? 1 : 0);
    EXPECT_EQ(fs::exists(path), c.usable);
    EXPECT_EQ(fs::exists(dir.path() / "L.log"), !c.usable) << "the fixed files instead";
    std::error_code ec;
    fs::remove_all(path, ec);
  }
}

TEST_F(DailyLogTest, DayChangeIntoAFolderWithTooLongPathsKeepsTheOpenFile) {
  SwitchOn();
  const std::string path = dir.path().string() + "/" + std::string(240, 'p');
  std::snprintf(ctx.szLogPath, sizeof ctx.szLogPath, "%s", path.c_str());
  SetTime(1709328600, {2024, 3, 2, 0, 30, 0, 0}, {2024, 3, 1, 21, 30, 0, 0});
  ctx.pfnLogMessage(&ctx, "Port", "after");
  EXPECT_EQ(ctx.bDailyLog, 0);
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(ReadAll(LogDir() / "Mirel-L-2024-02-29.log"), "2024-03-02 00:30:00 *Port: after\n");
}

// A folder with Cyrillic letters in its name (as a user's profile folder often has): the driver
// holds its path in 1251, and the daily files are written, expired and trimmed in the folder of
// that real name, not in one of its byte-for-byte twin.
TEST_F(DailyLogTest, CyrillicFolderIsUsedUnderItsRealName) {
  // Now: 00:30 on 10 March in Moscow; the lifetime of seven days keeps 3 March and later.
  SetTime(1710019800, {2024, 3, 10, 0, 30, 0, 0}, {2024, 3, 9, 21, 30, 0, 0});
  const fs::path folder = dir.path() / fs::u8path("Журнал ККТ") / "Log";
  fs::create_directories(folder);
  WriteAll(folder / "Mirel-L-2024-03-02.log", "expired\n");
  WriteAll(folder / "Mirel-L-2024-03-03.log", "kept\n");
  std::snprintf(ctx.szLogPath, sizeof ctx.szLogPath, "%s",
                plat::Utf8ToCp1251(dir.path().string() + "/Журнал ККТ").c_str());
  ctx.nLogMaxSize = 40;
  ctx.nLogTrimSize = 10;

  SwitchOn();
  ctx.pfnLogEnter(&ctx, "Fn");        // 30 bytes
  ctx.pfnLogReturn(&ctx, "Fn", "0");  // 30 bytes: 60, keep from 60 - 40 + 10 = 30

  EXPECT_EQ(ReadAll(folder / "Mirel-L-2024-03-09.log"), "2024-03-10 00:30:00 }Fn ret 0\n");
  EXPECT_EQ(NamesIn(folder), (std::set<std::string>{"Mirel-H-2024-03-09.log", "Mirel-L-2024-03-03.log",
                                                    "Mirel-L-2024-03-09.log"}));
  EXPECT_EQ(NamesIn(dir.path()), (std::set<std::string>{"Журнал ККТ"}));
}

}  // namespace
}  // namespace logtest
