// The cases of serial_cases.h that mean something on POSIX, against the POSIX port on a
// pseudo-terminal: the line's bytes are written on its other side, and an adapter that has gone is
// the other side closed.
#include "platform/serial_cases.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/pty.h"
#include "support/fake_clock.h"
#include "support/log_capture.h"
#include "support/scoped_env.h"

namespace {

using serial_cases::Case;
using serial_cases::Gone;
using serial_cases::Op;

constexpr int kPort = 61;

std::vector<Case> PosixCases() {
  std::vector<Case> cases;
  for (const Case& c : serial_cases::Cases()) {
    if (c.posix) cases.push_back(c);
  }
  return cases;
}

class SerialOnPosix : public ::testing::TestWithParam<Case> {};

TEST_P(SerialOnPosix, ReportsWhatThePortMust) {
  const Case& c = GetParam();
  // Only a line's content and a closed other side can be enacted here.
  ASSERT_TRUE(c.script.empty() && c.line.answer.empty() && c.line.gone != Gone::kAfterRead);
  plat::Pty line;
  ASSERT_TRUE(line.Open());
  ScopedEnv port(("MIREL_COM" + std::to_string(kPort)).c_str(), line.SlavePath().c_str());
  FakeClock clock;
  clock.waitForReadiness = true;
  FPContext ctx;
  ctx.pClock = &clock;
  LogCapture log;
  log.Install(&ctx);
  ctx.nReadTimeout = c.readMs;
  if (c.op != Op::kOpen) {
    ASSERT_EQ(OpenSerial2(&ctx, kPort, 6), 0);
  }
  log.lines.clear();
  if (!c.line.queued.empty()) {
    ASSERT_TRUE(
        line.Write(reinterpret_cast<const uint8_t*>(c.line.queued.data()), c.line.queued.size(), 1000));
  }
  if (c.line.gone == Gone::kAtStart) line.Close();

  const auto start = std::chrono::steady_clock::now();
  uint32_t count = 0;
  EXPECT_EQ(serial_cases::RunOp(&ctx, c.op, kPort, &count), c.expect.result) << log.Text();
  if (c.op == Op::kAccept) {
    EXPECT_EQ(count, static_cast<uint32_t>(c.expect.count));
  }
  if (c.expect.logged != nullptr) {
    EXPECT_GT(log.Count(c.expect.logged), 0) << log.Text();
  }
  // Bounded by the read time-out, with a wide margin for a loaded machine.
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, std::chrono::milliseconds(std::max(c.readMs, 1) + 5000));
  EXPECT_EQ(ReleaseSerial(&ctx), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, SerialOnPosix, ::testing::ValuesIn(PosixCases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
