// The size limit: a return line that takes a file past nLogMaxSize trims it to its newest part.
#include <string>

#include "log_test_support.h"

namespace logtest {
namespace {

constexpr char kReturnLine[] = "2024-03-05 09:07:03 }Fn ret 0\n";
constexpr size_t kReturnLength = sizeof kReturnLine - 1;

// Numbered lines, so that any offset of the text is recognisable; cut to exactly `size` bytes.
std::string Filler(size_t size) {
  std::string text;
  text.reserve(size + 32);
  char line[32];
  for (int i = 0; text.size() < size; ++i) {
    std::snprintf(line, sizeof line, "line %09d\n", i);
    text += line;
  }
  text.resize(size);
  return text;
}

TEST_F(LogTest, ReturnLinePastTheLimitKeepsTheNewestPart) {
  struct Case {
    size_t sizeAfterReturn;
    size_t keptFrom;  // offset of the old text the file keeps; 0: untouched
  };
  // At the limit nothing happens; one byte past it the file keeps everything from
  // size - nLogMaxSize + nLogTrimSize = 1,000,001 on: 9,000,000 bytes.
  const Case cases[] = {{10000000, 0}, {10000001, 1000001}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sizeAfterReturn);
    CloseLogs(&ctx);
    const std::string before = Filler(c.sizeAfterReturn - kReturnLength);
    WriteAll(dir.path() / "L.log", before);
    SwitchOn();
    ctx.pfnLogReturn(&ctx, "Fn", "0");

    const std::string whole = before + kReturnLine;
    const std::string after = L();
    EXPECT_EQ(after.size(), whole.size() - c.keptFrom);
    EXPECT_TRUE(after == whole.substr(c.keptFrom));  // not EXPECT_EQ: a failure would print megabytes
    EXPECT_FALSE(fs::exists(dir.path() / "L.lo_"));
  }
  // The stream in the context is the new file: the next line follows the kept part.
  ctx.pfnLogMessage(&ctx, "Next", "line");
  const std::string next = "2024-03-05 09:07:03 *Next: line\n";
  const std::string after = L();
  EXPECT_EQ(after.size(), 9000000u + next.size());
  EXPECT_EQ(after.substr(after.size() - next.size()), next);
}

TEST_F(LogTest, TrimAppliesToTheHighLevelFileToo) {
  ctx.nLogMaxSize = 100;
  ctx.nLogTrimSize = 40;
  SwitchOn();
  ctx.pfnLogEnterH(&ctx, "First");         // 33 bytes
  ctx.pfnLogReturnH(&ctx, "First", "0");   // 34 bytes: 67 in all, under the limit
  ctx.pfnLogEnterH(&ctx, "Second");        // 34 bytes
  ctx.pfnLogReturnH(&ctx, "Second", "0");  // 35 bytes: 136, past 100 -> keep from 136 - 100 + 40 = 76
  // Offset 76 lies nine bytes into the "Second" enter line: the cut line's tail is kept as it is.
  EXPECT_EQ(H(), "5 09:07:03 {Second enter\n2024-03-05 09:07:03 }Second ret 0\n\n");
}

// The rename to the backup fails when something stands in its place: a directory, or the backup an
// earlier trim kept because it could not finish (the only copy of its lines, never replaced).
TEST_F(LogTest, FailedRenameLeavesTheFileGrowingWithAnErrorLine) {
  const std::string keptBackup = "lines an earlier trim could not copy\n";
  for (bool directory : {true, false}) {
    SCOPED_TRACE(directory ? "directory" : "kept backup");
    CloseLogs(&ctx);
    fs::remove_all(dir.path() / "L.log");
    fs::remove_all(dir.path() / "L.lo_");
    if (directory) {
      fs::create_directories(dir.path() / "L.lo_" / "keep");
    } else {
      WriteAll(dir.path() / "L.lo_", keptBackup);
    }
    ctx.nLogMaxSize = 50;
    ctx.nLogTrimSize = 10;
    SwitchOn();
    ctx.pfnLogEnter(&ctx, "Fn");
    ctx.pfnLogReturn(&ctx, "Fn", "0");
    ctx.pfnLogMessage(&ctx, "Next", "line");

    EXPECT_EQ(L(),
              "2024-03-05 09:07:03 {Fn enter\n"
              "2024-03-05 09:07:03 }Fn ret 0\n"
              "2024-03-05 09:07:03 *Log Error : Failed to rename file\n"
              "2024-03-05 09:07:03 *Next: line\n");
    if (!directory) {
      EXPECT_EQ(ReadAll(dir.path() / "L.lo_"), keptBackup);
    }
  }
}

// A trim acts on the file the stream has open, even when the log folder setting has changed since
// that file was opened.
TEST_F(LogTest, TrimActsOnTheOpenFileAfterTheFolderChanged) {
  ctx.bDailyLog = 1;
  ctx.nLogMaxSize = 50;
  ctx.nLogTrimSize = 10;
  SwitchOn();
  const fs::path dailyFile = dir.path() / "Log" / "Mirel-L-2024-03-05.log";
  ASSERT_TRUE(fs::exists(dailyFile));
  const fs::path other = dir.path() / "elsewhere";
  SetPath(ctx.szLogPath, other / "");
  ctx.pfnLogEnter(&ctx, "Fn");
  ctx.pfnLogReturn(&ctx, "Fn", "0");  // 60 bytes: kept from 60 - 50 + 10 = 20 on
  EXPECT_EQ(ReadAll(dailyFile), "{Fn enter\n2024-03-05 09:07:03 }Fn ret 0\n");
  EXPECT_FALSE(fs::exists(other));
}

}  // namespace
}  // namespace logtest
