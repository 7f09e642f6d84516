// The driver's serial port functions on a pseudo-terminal whose other side the test holds.
#include "device/serial_port.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "platform/pty.h"
#include "support/fake_clock.h"
#include "support/log_capture.h"

namespace {

class SerialPortTest : public ::testing::Test {
 public:
  void SetUp() override {
    ASSERT_TRUE(line.Open());
    ASSERT_TRUE(other.Open());
    setenv("MIREL_COM51", line.SlavePath().c_str(), 1);
    setenv("MIREL_COM52", other.SlavePath().c_str(), 1);
    setenv("MIREL_COM53", "/dev/null", 1);
    setenv("MIREL_COM54", "/nonexistent/tty", 1);
    ctx.pClock = &clock;
    log.Install(&ctx);
  }
  void TearDown() override {
    CloseSerial(&ctx);
    for (const char* name : {"MIREL_COM51", "MIREL_COM52", "MIREL_COM53", "MIREL_COM54"}) unsetenv(name);
  }
  void Feed(const std::string& bytes) {
    ASSERT_TRUE(line.Write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 1000));
  }
  // Waits (bounded) until the driver's side sees `count` bytes queued.
  void AwaitQueued(uint32_t count) {
    for (int i = 0; i < 200; ++i) {
      if (plat::SerialClearError(ctx.hComPort, &ctx.dwCommErrors, &ctx.comStat) &&
          ctx.comStat.cbInQue >= count) {
        return;
      }
      usleep(5000);
    }
    FAIL() << "bytes did not arrive";
  }

  plat::Pty line, other;
  FakeClock clock;
  FPContext ctx;
  LogCapture log;
};

TEST_F(SerialPortTest, OpenOnlyOnceAndOnlyTheOpenPort) {
  ASSERT_EQ(OpenSerial2(&ctx, 51, 6), 0);
  EXPECT_EQ(ctx.nComPort, 51);
  EXPECT_EQ(ctx.dcb.BaudRate, 115200u);
  EXPECT_EQ(ctx.dcb.Parity, plat::kEvenParity);
  EXPECT_EQ(ctx.commTimeouts.ReadIntervalTimeout, 1000u);
  EXPECT_EQ(ctx.commTimeouts.ReadTotalTimeoutConstant, 10000u);
  EXPECT_TRUE(log.Has("*OpenSerial2: Open serial port in Mirel-520 mode"));
  EXPECT_TRUE(log.Has("*CreateFile: COM51 open Ok"));
  EXPECT_TRUE(log.Has("*OpenSerial2: COM51 is initialized successfully"));
  EXPECT_TRUE(log.Has("*OpenSerial2: PurgeComm ret 1"));
  const plat::PortHandle handle = ctx.hComPort;

  EXPECT_EQ(OpenSerial2(&ctx, 51, 6), 0);
  EXPECT_EQ(ctx.hComPort, handle);
  EXPECT_EQ(OpenSerial2(&ctx, 52, 6), -1);
  EXPECT_EQ(ctx.hComPort, handle);
  EXPECT_EQ(ctx.nComPort, 51);
}

// A host that closes the port and opens it again (Close, then Open) finds it as the first time.
TEST_F(SerialPortTest, TheSamePortOpensAgainAfterClose) {
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    ASSERT_EQ(OpenSerial2(&ctx, 51, 6), 0);
    EXPECT_EQ(ctx.dcb.Parity, plat::kEvenParity);
    EXPECT_EQ(SendChar(&ctx, 0x05), 0);
    EXPECT_EQ(CloseSerial(&ctx), 0);
  }
}

TEST_F(SerialPortTest, OpenFailuresLeaveThePortClosed) {
  struct Case {
    int port;
    int baudCode;
    const char* what;
  };
  for (const Case& c : {Case{51, 7, "baud code 7"}, Case{51, -1, "negative baud code"},
                        Case{53, 6, "not a terminal"}, Case{54, 6, "no such device"}}) {
    SCOPED_TRACE(c.what);
    log.lines.clear();
    EXPECT_EQ(OpenSerial2(&ctx, c.port, c.baudCode), -1);
    EXPECT_EQ(ctx.nComPort, 0);
    EXPECT_EQ(ctx.hComPort, nullptr);
    EXPECT_EQ(log.lines.back(), "}OpenSerial2 ret -1");
  }
  // The failed open names the system's error.
  EXPECT_EQ(log.Count("*OpenSerial2: GetLastError Code: "), 1);
  EXPECT_EQ(log.Count("*CreateFile: COM54 open fail, error "), 1);
  // The port is free again afterwards.
  EXPECT_EQ(OpenSerial2(&ctx, 51, 1), 0);
  EXPECT_EQ(ctx.dcb.BaudRate, 9600u);
}

TEST_F(SerialPortTest, CloseReportsStatisticsAndClosedCloseIsQuiet) {
  EXPECT_EQ(CloseSerial(&ctx), 0);
  EXPECT_EQ(log.lines, (std::vector<std::string>{"{CloseSerial", "}CloseSerial ret 0"}));

  ASSERT_EQ(OpenSerial2(&ctx, 51, 6), 0);
  ctx.nNakCount = 4;
  log.lines.clear();
  EXPECT_EQ(CloseSerial(&ctx), 0);
  EXPECT_EQ(ctx.nComPort, 0);
  EXPECT_EQ(ctx.hComPort, nullptr);
  EXPECT_EQ(log.lines,
            (std::vector<std::string>{"{CloseSerial", "*CloseHandle: COM51 close Ok",
                                      "*CloseSerial: Protocol errors: 0", "*CloseSerial: NAK retries: 4",
                                      "*CloseSerial: Busy retries: 0", "}CloseSerial ret 0"}));
}

TEST_F(SerialPortTest, ClearInputBufferDiscardsAndLogsStaleBytes) {
  ASSERT_EQ(OpenSerial2(&ctx, 51, 6), 0);
  log.lines.clear();
  EXPECT_EQ(ClearInputBuffer(&ctx), 0);
  EXPECT_TRUE(log.lines.empty());

  Feed("\x01\x02\x03\x04\x05\x06\x07\x08\x09\xAA");
  AwaitQueued(10);
  EXPECT_EQ(ClearInputBuffer(&ctx), 10);
  EXPECT_EQ(log.lines, (std::vector<std::string>{"*CIB: Bytes To Read: 10", "*CIB: Bytes read:",
                                                 "*CIB: 01 02 03 04 05 06 07 08 09 AA "}));
  EXPECT_EQ(ClearInputBuffer(&ctx), 0);
}

TEST_F(SerialPortTest, ClearInputBufferDrainsMoreThanOneBlock) {
  ASSERT_EQ(OpenSerial2(&ctx, 51, 6), 0);
  Feed(std::string(300, 'x'));
  AwaitQueued(300);
  EXPECT_EQ(ClearInputBuffer(&ctx), 300);
  EXPECT_EQ(log.Count("*CIB: Bytes read:"), 2);
}

TEST_F(SerialPortTest, ResetSerialGivesUpAfterFivePassesOfArrivingData) {
  ASSERT_EQ(OpenSerial2(&ctx, 51, 6), 0);
  // Every pass finds new input: the line keeps talking while the driver tries to quiet it.
  static SerialPortTest* self;
  self = this;
  ctx.pfnLogMessage = [](FPContext*, const char* name, const char*) {
    if (std::string(name) == "ResetSerial") {
      self->Feed("noise");
      self->AwaitQueued(5);
    }
  };
  Feed("noise");
  AwaitQueued(5);
  ctx.nProtocolErrors = 3;
  EXPECT_EQ(ResetSerial(&ctx), 0);
  EXPECT_EQ(clock.Sleeps(), (std::vector<uint32_t>{100, 1000, 1000, 1000, 1000, 1000}));
  EXPECT_EQ(ctx.nProtocolErrors, 0);
}

TEST_F(SerialPortTest, ResetSerialStopsOnAQuietLine) {
  ASSERT_EQ(OpenSerial2(&ctx, 51, 6), 0);
  log.lines.clear();
  EXPECT_EQ(ResetSerial(&ctx), 0);
  EXPECT_EQ(clock.Sleeps(), std::vector<uint32_t>{100});
  EXPECT_EQ(log.lines, std::vector<std::string>{"*ResetSerial: bytes discarded: input 0, output 0"});
}

TEST_F(SerialPortTest, PresenceDependsOnTheMode) {
  EXPECT_EQ(FP_Present(&ctx), -1);  // no port
  ASSERT_EQ(OpenSerial2(&ctx, 51, 6), 0);
  EXPECT_EQ(FP_Present(&ctx), 0);  // Mirel-520 mode: the device counts as present
  ctx.bMirel520Mode = 0;
  log.lines.clear();
  // A pseudo-terminal has no modem lines to read.
  EXPECT_EQ(FP_Present(&ctx), -1);
  EXPECT_EQ(log.Count("*FP_Present: GetCommModemStatus: 0 GetLastError: "), 1);
}

TEST_F(SerialPortTest, ByteIoAndShortReads) {
  ASSERT_EQ(OpenSerial2(&ctx, 51, 6), 0);
  ASSERT_EQ(SetCommTimeoutsFP(&ctx, 300, 300), 0);
  Feed("abc");
  uint8_t buf[5];
  uint32_t got = 0;
  EXPECT_EQ(AcceptBuf(&ctx, buf, 5, &got), 0);
  EXPECT_EQ(got, 3u);
  EXPECT_TRUE(log.Has("*AB: <= 61 62 63 "));

  uint8_t byte = 0;
  EXPECT_EQ(AcceptChar(&ctx, &byte), -4);  // silence
  Feed("Z");
  EXPECT_EQ(AcceptChar(&ctx, &byte), 0);
  EXPECT_EQ(byte, 'Z');

  EXPECT_EQ(SendChar(&ctx, 0x06), 0);
  EXPECT_TRUE(log.Has("*SC: => 06 "));
  const uint8_t frame[] = {0x02, 'S', '3', 0x03, 0x63};
  EXPECT_EQ(SendBuf(&ctx, frame, 5), 0);
  // The two writes may reach the other side in two pieces.
  uint8_t seen[6] = {};
  size_t seenCount = 0;
  while (seenCount < sizeof seen) {
    const int n = line.Read(seen + seenCount, sizeof seen - seenCount, 1000);
    if (n <= 0) break;
    seenCount += static_cast<size_t>(n);
  }
  EXPECT_EQ(std::string(reinterpret_cast<char*>(seen), seenCount), std::string("\x06\x02S3\x03\x63", 6));

  int readMs = 0, writeMs = 0;
  EXPECT_EQ(GetCommTimeoutsFP(&ctx, &readMs, nullptr), 0);
  EXPECT_EQ(readMs, 10000);  // the open-time value, not the temporary one
  EXPECT_EQ(GetCommTimeoutsFP(&ctx, nullptr, &writeMs), 0);
  EXPECT_EQ(writeMs, 10000);
}

}  // namespace
