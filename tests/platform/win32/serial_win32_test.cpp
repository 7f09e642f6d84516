// The Windows serial port (src/platform/serial_win32.cpp, built here against the fake calls of
// windows.h) under the device link, one test per case of the table.
#include <gtest/gtest.h>

#include <cctype>

#include "comm_device.h"
#include "platform/serial_cases.h"
#include "support/fake_clock.h"
#include "support/log_capture.h"

namespace {

using serial_cases::Case;
using serial_cases::Gone;
using serial_cases::Op;

class SerialOnWin32 : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    comm_device::Reset();
    clock.waitForReadiness = true;
    ctx.pClock = &clock;
    log.Install(&ctx);
  }

  FakeClock clock;
  FPContext ctx;
  LogCapture log;
};

TEST_P(SerialOnWin32, ReportsWhatThePortMust) {
  const Case& c = GetParam();
  comm_device::Device& device = comm_device::TheDevice();
  ctx.nReadTimeout = c.readMs;
  if (c.op != Op::kOpen) {
    ASSERT_EQ(OpenSerial2(&ctx, 1, 6), 0) << log.Text();
  }
  log.lines.clear();
  device.Load(c.line);
  device.Arm(c.script);

  uint32_t count = 0;
  EXPECT_EQ(serial_cases::RunOp(&ctx, c.op, 1, &count), c.expect.result) << log.Text();
  if (c.op == Op::kAccept) {
    EXPECT_EQ(count, static_cast<uint32_t>(c.expect.count));
  }
  if (c.expect.logged != nullptr) {
    EXPECT_GT(log.Count(c.expect.logged), 0) << log.Text();
  }
  // No read may wait without a bound, nor longer than the read time-out, nor at all for an adapter
  // that has gone.
  EXPECT_EQ(device.foreverWaits, 0);
  EXPECT_LE(device.longestWaitMs, static_cast<DWORD>(std::max(c.readMs, 1)));
  if (c.line.gone == Gone::kAtStart) {
    EXPECT_EQ(device.longestWaitMs, 0u);
  }

  // However the operation ended, the port closes, and its handle is closed once and only once.
  device.Arm({});
  EXPECT_EQ(ReleaseSerial(&ctx), 0) << log.Text();
  EXPECT_EQ(ctx.nComPort, 0);
  EXPECT_TRUE(device.open.empty());
  EXPECT_EQ(device.closedTwice, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, SerialOnWin32, ::testing::ValuesIn(serial_cases::Cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.name);
                         });

// An adapter plugged back in is reached by a fresh open of the same port after the old one is closed.
TEST(SerialOnWin32Recovery, PortOpensAgainOnceTheAdapterIsBack) {
  comm_device::Reset();
  FakeClock clock;
  FPContext ctx;
  ctx.pClock = &clock;
  comm_device::Device& device = comm_device::TheDevice();
  ASSERT_EQ(OpenSerial2(&ctx, 1, 6), 0);
  device.Load({"", "", false, Gone::kAtStart, serial_cases::kBadCommand});
  device.Arm({});
  EXPECT_EQ(ExecTransaction(&ctx, "S3", 110, true, false), -3);

  device.Load({"", "\x06", false, Gone::kNever, 0});
  device.Arm({});
  EXPECT_EQ(ReleaseSerial(&ctx), 0);
  ASSERT_EQ(OpenSerial2(&ctx, 1, 6), 0);
  EXPECT_EQ(ExecTransaction(&ctx, "S3", 110, true, false), 0);
  EXPECT_EQ(ReleaseSerial(&ctx), 0);
  EXPECT_EQ(device.closedTwice, 0);
}

}  // namespace
