// The host thread and the relay thread write the same files while trims and reopenings happen:
// every line must come out whole, in a stream that is open.
#include <atomic>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "log_test_support.h"

namespace logtest {
namespace {

TEST_F(LogTest, LinesOfTwoThreadsStayWholeThroughTrimsAndReopening) {
  ctx.nLogMaxSize = 4000;  // a trim every few dozen lines
  ctx.nLogTrimSize = 1000;
  SwitchOn();
  constexpr int kCalls = 2000;
  std::atomic<bool> hostDone{false};
  std::thread host([&] {
    for (int i = 0; i < kCalls; ++i) {
      ctx.pfnLogEnterH(&ctx, "ProcessCheck");
      ctx.pfnLogReturnH(&ctx, "ProcessCheck", "1");
    }
    hostDone = true;
  });
  std::thread relay([&] {
    while (!hostDone) ctx.pfnLogMessageH(&ctx, "FDClient", "document sent");
  });
  // Switching logging off and on meanwhile, as a settings change does.
  for (int i = 0; i < 200; ++i) {
    CloseLogs(&ctx);
    OpenLogs(&ctx);
  }
  host.join();
  relay.join();
  // The threads may have finished while the files were closed: one last call, so that the file
  // surely holds lines to check.
  ctx.pfnLogEnterH(&ctx, "ProcessCheck");
  ctx.pfnLogReturnH(&ctx, "ProcessCheck", "1");
  CloseLogs(&ctx);

  const std::regex whole(
      "2024-03-05 09:07:03 (: )?(\\{ProcessCheck enter|\\}ProcessCheck ret 1|\\*FDClient: document sent)|");
  std::istringstream lines(H());
  std::string line;
  std::getline(lines, line);  // a trim keeps the file from an offset: the first line may be cut
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    ASSERT_TRUE(std::regex_match(line, whole)) << line;
  }
  EXPECT_GT(count, 0);
  EXPECT_EQ(ctx.nLogDepthH, 0) << "every enter met its return";
}

}  // namespace
}  // namespace logtest
