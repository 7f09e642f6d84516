// The lines of the two files: formats, indentation, flushing, and the categories of SetLogMode.
#include <string>
#include <vector>

#include "log_test_support.h"

namespace logtest {
namespace {

constexpr char kStamp[] = "2024-03-05 09:07:03 ";  // the fixed clock's local time

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST_F(LogTest, LowLevelCallWithLineTraffic) {
  SwitchOn();
  ctx.pfnLogEnter(&ctx, "ExecTransaction");
  ctx.pfnLogSend(&ctx, "[02]PING[03]1C", "ok");
  ctx.pfnLogRecv(&ctx, "[15]", "(NAK)");
  ctx.pfnLogMessage(&ctx, "ReadFrame", "timeout");
  ctx.pfnLogReturn(&ctx, "ExecTransaction", "0");
  ctx.pfnLogMessage(&ctx, "ClosePort", "done");

  EXPECT_EQ(L(), std::string(kStamp) + "{ExecTransaction enter\n" +  //
                     kStamp + " : <send [02]PING[03]1C ok\n" +       //
                     kStamp + " : >recv [15] (NAK)\n" +              //
                     kStamp + ": *ReadFrame: timeout\n" +            //
                     kStamp + "}ExecTransaction ret 0\n" +           //
                     kStamp + "*ClosePort: done\n");
  EXPECT_EQ(H(), "");
}

TEST_F(LogTest, HighLevelReturnIsFollowedByAnEmptyLine) {
  SwitchOn();
  ctx.pfnLogEnterH(&ctx, "Open");
  ctx.pfnLogMessageH(&ctx, "Open", "port 3");
  ctx.pfnLogReturnH(&ctx, "Open", "-1");
  ctx.pfnLogEnterH(&ctx, "Close");
  ctx.pfnLogReturnH(&ctx, "Close", "0");

  EXPECT_EQ(H(), std::string(kStamp) + "{Open enter\n" +  //
                     kStamp + ": *Open: port 3\n" +       //
                     kStamp + "}Open ret -1\n\n" +        //
                     kStamp + "{Close enter\n" +          //
                     kStamp + "}Close ret 0\n\n");
  EXPECT_EQ(L(), "");
}

TEST_F(LogTest, TimeFieldsAreZeroPadded) {
  clock.local = {987, 12, 31, 23, 59, 58, 999};
  SwitchOn();
  ctx.pfnLogMessage(&ctx, "A", "b");
  EXPECT_EQ(L(), "0987-12-31 23:59:58 *A: b\n");
}

TEST_F(LogTest, NullTextsAreWrittenEmpty) {
  SwitchOn();
  ctx.pfnLogMessage(&ctx, nullptr, nullptr);
  EXPECT_EQ(L(), std::string(kStamp) + "*: \n");
}

TEST_F(LogTest, EachFileKeepsItsOwnNesting) {
  SwitchOn();
  ctx.pfnLogEnterH(&ctx, "PrintReport");
  ctx.pfnLogEnter(&ctx, "A");
  ctx.pfnLogEnter(&ctx, "B");
  ctx.pfnLogEnter(&ctx, "C");
  ctx.pfnLogReturn(&ctx, "C", "0");
  ctx.pfnLogReturn(&ctx, "B", "0");
  ctx.pfnLogReturn(&ctx, "A", "0");
  ctx.pfnLogReturnH(&ctx, "PrintReport", "0");

  // A call three deep is written with two levels on both its lines.
  EXPECT_EQ(Lines(L()), (std::vector<std::string>{
                            std::string(kStamp) + "{A enter",
                            std::string(kStamp) + ": {B enter",
                            std::string(kStamp) + ": : {C enter",
                            std::string(kStamp) + ": : }C ret 0",
                            std::string(kStamp) + ": }B ret 0",
                            std::string(kStamp) + "}A ret 0",
                        }));
  EXPECT_EQ(Lines(H())[0], std::string(kStamp) + "{PrintReport enter");
  EXPECT_EQ(Lines(H())[1], std::string(kStamp) + "}PrintReport ret 0");
  EXPECT_EQ(ctx.nLogDepthH, 0);
  EXPECT_EQ(ctx.nLogDepthL, 0);
}

// Counts the ": " levels between the time stamp and the line's marker.
int LevelsOf(const std::string& line) {
  int levels = 0;
  for (size_t at = sizeof kStamp - 1; line.compare(at, 2, ": ") == 0; at += 2) ++levels;
  return levels;
}

TEST_F(LogTest, NestingStopsAt31LevelsAndReturnsStopAtZero) {
  SwitchOn();
  for (int i = 0; i < 33; ++i) ctx.pfnLogEnter(&ctx, "F");
  EXPECT_EQ(ctx.nLogDepthL, 31);
  EXPECT_EQ(std::string(ctx.szLogIndentL).size(), 62u);
  for (int i = 0; i < 33; ++i) ctx.pfnLogReturn(&ctx, "F", "0");
  ctx.pfnLogMessage(&ctx, "after", "all");

  std::vector<int> expected;
  for (int i = 0; i < 33; ++i) expected.push_back(i < 31 ? i : 31);  // enters: the 32nd and 33rd add nothing
  for (int i = 30; i >= 0; --i) expected.push_back(i);               // returns remove one level each
  expected.insert(expected.end(), {0, 0, 0});                        // two returns at depth 0, the message
  std::vector<int> levels;
  for (const std::string& line : Lines(L())) levels.push_back(LevelsOf(line));
  EXPECT_EQ(levels, expected);
  EXPECT_EQ(ctx.nLogDepthL, 0);
  EXPECT_STREQ(ctx.szLogIndentL, "");
}

TEST_F(LogTest, ReturnAtDepthZeroRemovesNothing) {
  SwitchOn();
  ctx.pfnLogReturn(&ctx, "Stray", "1");
  ctx.pfnLogEnter(&ctx, "Next");
  ctx.pfnLogMessage(&ctx, "Next", "inside");
  EXPECT_EQ(L(), std::string(kStamp) + "}Stray ret 1\n" +  //
                     kStamp + "{Next enter\n" +            //
                     kStamp + ": *Next: inside\n");
}

TEST_F(LogTest, NestingFollowsCallsWhileTheFilesAreClosed) {
  SwitchOn();
  ctx.pfnLogEnterH(&ctx, "SetOption");
  CloseLogs(&ctx);
  ctx.pfnLogReturnH(&ctx, "SetOption", "0");
  OpenLogs(&ctx);
  ctx.pfnLogMessageH(&ctx, "Relay", "idle");
  EXPECT_EQ(H(), std::string(kStamp) + "{SetOption enter\n" + kStamp + "*Relay: idle\n");
}

TEST_F(LogTest, SetLogModeInstallsWritersByCategory) {
  struct Case {
    int mask;
    bool enterReturn, message, sendRecv, enterReturnH, messageH;
  };
  const Case cases[] = {
      {0, false, false, false, false, false},      {0x1, true, false, false, false, false},
      {0x2, false, true, false, false, false},     {0x4, false, false, true, false, false},
      {0x10000, false, false, false, true, false}, {0x20000, false, false, false, false, true},
      {0x30007, true, true, true, true, true},     {0x30007 & ~0x4, true, true, false, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mask);
    SetLogMode(&ctx, 0x30007, 0);  // everything installed first, so a clear bit must store null
    SetLogMode(&ctx, c.mask, 1);
    EXPECT_EQ(ctx.pfnLogEnter == WriteLogEnter, c.enterReturn);
    EXPECT_EQ(ctx.pfnLogReturn == WriteLogReturn, c.enterReturn);
    EXPECT_EQ(ctx.pfnLogMessage == WriteLogMessage, c.message);
    EXPECT_EQ(ctx.pfnLogSend == WriteLogSend, c.sendRecv);
    EXPECT_EQ(ctx.pfnLogRecv == WriteLogRecv, c.sendRecv);
    EXPECT_EQ(ctx.pfnLogEnterH == WriteLogEnterH, c.enterReturnH);
    EXPECT_EQ(ctx.pfnLogReturnH == WriteLogReturnH, c.enterReturnH);
    EXPECT_EQ(ctx.pfnLogMessageH == WriteLogMessageH, c.messageH);
    EXPECT_EQ(ctx.pfnLogEnter == nullptr, !c.enterReturn);
    EXPECT_EQ(ctx.pfnLogMessageH == nullptr, !c.messageH);
    EXPECT_EQ(ctx.bLogAutoFlush, 1);
  }
}

// Whether a line has reached the disk is read from outside the stream.
TEST_F(LogTest, FlushRules) {
  struct Case {
    const char* what;
    int autoFlush;
    int depth;  // enter lines written before the line under test (flushed by a return afterwards)
    void (*write)(FPContext*);
    bool flushed;
  };
  const Case cases[] = {
      {"enter, auto-flush", 1, 0, [](FPContext* c) { c->pfnLogEnter(c, "X"); }, true},
      {"enter, no auto-flush", 0, 0, [](FPContext* c) { c->pfnLogEnter(c, "X"); }, false},
      {"message in a call, auto-flush", 1, 1, [](FPContext* c) { c->pfnLogMessage(c, "X", "y"); }, true},
      {"message in a call", 0, 1, [](FPContext* c) { c->pfnLogMessage(c, "X", "y"); }, false},
      {"send in a call", 0, 1, [](FPContext* c) { c->pfnLogSend(c, "[05]", "ok"); }, false},
      {"message outside any call", 0, 0, [](FPContext* c) { c->pfnLogMessage(c, "X", "y"); }, true},
      {"receive outside any call", 0, 0, [](FPContext* c) { c->pfnLogRecv(c, "[06]", "ok"); }, true},
      {"return", 0, 1, [](FPContext* c) { c->pfnLogReturn(c, "X", "0"); }, true},
      {"H return", 0, 1, [](FPContext* c) { c->pfnLogReturnH(c, "X", "0"); }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CloseLogs(&ctx);
    std::error_code ec;
    fs::remove(dir.path() / "H.log", ec);
    fs::remove(dir.path() / "L.log", ec);
    SetLogMode(&ctx, kLogAll, 1);
    OpenLogs(&ctx);
    for (int i = 0; i < c.depth; ++i) {
      ctx.pfnLogEnter(&ctx, "Outer");
      ctx.pfnLogEnterH(&ctx, "Outer");
    }
    const size_t before = H().size() + L().size();
    ctx.bLogAutoFlush = c.autoFlush;
    c.write(&ctx);
    EXPECT_EQ(H().size() + L().size() > before, c.flushed);
    // Leave the nesting at zero for the next case.
    ctx.nLogDepthH = ctx.nLogDepthL = 0;
    ctx.szLogIndentH[0] = ctx.szLogIndentL[0] = '\0';
  }
}

}  // namespace
}  // namespace logtest
