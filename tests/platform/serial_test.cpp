// The POSIX serial port against a pseudo-terminal: the test holds the master side, the port under
// test opens the slave through MIREL_COM<N>.
#include "platform/serial.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPort = 241;  // beyond the scanned /dev/ttyS range, so only the variable names it

long MsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

std::string EnvName(int port) {
  return "MIREL_COM" + std::to_string(port);
}

class SerialPty : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    char name[128];
    ASSERT_EQ(ptsname_r(master_, name, sizeof name), 0);
    slavePath_ = name;
    setenv(EnvName(kPort).c_str(), name, 1);
  }

  void TearDown() override {
    if (port_ != nullptr) plat::SerialClose(port_);
    CloseMaster();
    unsetenv(EnvName(kPort).c_str());
  }

  void OpenPort(uint32_t intervalMs, uint32_t totalMs) {
    port_ = plat::SerialOpen(kPort);
    ASSERT_NE(port_, nullptr) << plat::SystemErrorText(plat::SystemLastError());
    plat::SerialTimeouts t;
    t.ReadIntervalTimeout = intervalMs;
    t.ReadTotalTimeoutConstant = totalMs;
    t.WriteTotalTimeoutConstant = totalMs;
    ASSERT_TRUE(plat::SerialSetTimeouts(port_, t));
  }

  // Gives the port a speed of the line, as the driver's open does; 0 leaves it without one.
  void SetSpeed(uint32_t baud) {
    if (baud == 0) return;
    plat::SerialState s;
    ASSERT_TRUE(plat::SerialGetState(port_, &s));
    s.BaudRate = baud;
    s.ByteSize = 8;
    s.Parity = plat::kEvenParity;
    s.StopBits = plat::kOneStopBit;
    ASSERT_TRUE(plat::SerialSetState(port_, s));
  }

  void MasterWrite(const std::string& bytes) {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  void CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

  // Waits (bounded) until the port reports `count` bytes queued for input: the pseudo-terminal
  // passes bytes from master to slave asynchronously.
  plat::SerialQueues WaitForInput(uint32_t count) {
    plat::SerialQueues q;
    const auto start = Clock::now();
    while (MsSince(start) < 3000) {
      uint32_t errors = 0;
      EXPECT_TRUE(plat::SerialClearError(port_, &errors, &q));
      if (q.cbInQue >= count) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return q;
  }

  int master_ = -1;
  std::string slavePath_;
  plat::PortHandle port_ = nullptr;
};

// Writes bytes to the master at given times after `start` until told to stop.
class Feeder {
 public:
  struct Step {
    int atMs;
    std::string bytes;
  };

  Feeder(int master, Clock::time_point start, std::vector<Step> steps)
      : thread_([=] {
          for (const Step& step : steps) {
            std::unique_lock<std::mutex> lock(mutex_);
            if (cv_.wait_until(lock, start + std::chrono::milliseconds(step.atMs), [this] { return stop_; }))
              return;
            if (write(master, step.bytes.data(), step.bytes.size()) < 0) return;
          }
        }) {}

  ~Feeder() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool stop_ = false;
  std::thread thread_;
};

struct ReadTiming {
  const char* name;
  uint32_t intervalMs;
  uint32_t totalMs;
  uint32_t wanted;
  std::vector<Feeder::Step> steps;
  uint32_t minGot, maxGot;
  long minMs, maxMs;  // wide margins: the suite runs in parallel on a small machine
};

std::vector<Feeder::Step> Trickle(int everyMs, int untilMs) {
  std::vector<Feeder::Step> steps;
  for (int t = 0; t <= untilMs; t += everyMs) steps.push_back({t, "x"});
  return steps;
}

// The Win32 meaning of the read time-outs: total from the call's start, interval from the last
// byte and only once a byte has come, the wanted count ending the read at once. With a speed set,
// a short read also waits for the line to carry the rest; the time-outs must end it as before.
TEST_F(SerialPty, ReadFollowsWin32TimeoutMeaning) {
  const ReadTiming cases[] = {
      {"silent line: total time-out, no bytes", 1000, 500, 10, {}, 0, 0, 480, 1300},
      {"bytes then silence: interval ends it long before the total",
       200,
       1500,
       10,
       {{0, "abc"}},
       3,
       3,
       180,
       1000},
      {"first byte late: interval not counted before it", 200, 1500, 10, {{600, "ab"}}, 2, 2, 780, 1350},
      {"slow trickle: total from the start ends it", 500, 1000, 100, Trickle(300, 2400), 3, 5, 980, 1700},
      {"full count: returns at once", 1000, 1500, 4, {{100, "wxyz"}}, 4, 4, 80, 900},
      {"answer in pieces: all of it",
       1000,
       1500,
       30,
       {{0, "0123456789"}, {20, "0123456789"}, {40, "0123456789"}},
       30,
       30,
       30,
       900},
  };
  for (uint32_t baud : {0u, 9600u}) {
    for (const ReadTiming& c : cases) {
      SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(baud) + " bit/s");
      OpenPort(c.intervalMs, c.totalMs);
      SetSpeed(baud);
      std::vector<char> buf(c.wanted);
      uint32_t got = 12345;
      const auto start = Clock::now();
      long elapsed = 0;
      {
        Feeder feeder(master_, start, c.steps);
        EXPECT_TRUE(plat::SerialRead(port_, buf.data(), c.wanted, &got));
        elapsed = MsSince(start);
      }
      EXPECT_GE(got, c.minGot);
      EXPECT_LE(got, c.maxGot);
      EXPECT_GE(elapsed, c.minMs);
      EXPECT_LE(elapsed, c.maxMs);
      EXPECT_EQ(plat::SystemLastError(), 0u);
      ASSERT_TRUE(plat::SerialClose(port_));
      port_ = nullptr;
      tcflush(master_, TCIOFLUSH);
    }
  }
}

TEST_F(SerialPty, BytesReachTheOtherSideBothWays) {
  OpenPort(100, 1000);
  uint32_t written = 0;
  ASSERT_TRUE(plat::SerialWrite(port_, "\x02PING\x03", 6, &written));
  EXPECT_EQ(written, 6u);
  std::string seen;
  char buf[16];
  for (const auto start = Clock::now(); seen.size() < 6 && MsSince(start) < 2000;) {
    struct pollfd p = {master_, POLLIN, 0};
    if (poll(&p, 1, 100) > 0) {
      const ssize_t n = read(master_, buf, sizeof buf);
      if (n > 0) seen.append(buf, static_cast<size_t>(n));
    }
  }
  EXPECT_EQ(seen, "\x02PING\x03");

  MasterWrite(std::string("\x00\xFF\x0D\x0A\x11", 5));  // raw: no translation, no flow control
  uint32_t got = 0;
  ASSERT_TRUE(plat::SerialRead(port_, buf, 5, &got));
  EXPECT_EQ(std::string(buf, got), std::string("\x00\xFF\x0D\x0A\x11", 5));
}

// Nobody reads the master: the line's buffers fill and the write ends at its time-out as a
// success with a short count.
TEST_F(SerialPty, WriteTimeOutIsSuccessWithShortCount) {
  OpenPort(100, 300);
  const std::vector<char> big(4 << 20, 'z');
  uint32_t written = 0;
  const auto start = Clock::now();
  EXPECT_TRUE(plat::SerialWrite(port_, big.data(), static_cast<uint32_t>(big.size()), &written));
  const long elapsed = MsSince(start);
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, big.size());
  EXPECT_GE(elapsed, 280);
  EXPECT_LE(elapsed, 1500);
}

// The printer side has gone (master closed): poll() reports a hang-up at once every time. The
// read must treat the line as silent until its time-out, without spinning on the hang-up.
TEST_F(SerialPty, ReadOnHungUpLineWaitsWithoutSpinning) {
  OpenPort(1000, 500);
  CloseMaster();
  char buf[8];
  uint32_t got = 99;
  const uint64_t cpuStart = plat::ThreadCpuMicros();
  const auto start = Clock::now();
  EXPECT_TRUE(plat::SerialRead(port_, buf, sizeof buf, &got));
  const long elapsed = MsSince(start);
  const double cpuMs = (plat::ThreadCpuMicros() - cpuStart) / 1000.0;
  EXPECT_EQ(got, 0u);
  EXPECT_GE(elapsed, 480);
  EXPECT_LE(elapsed, 1300);
  EXPECT_LT(cpuMs, 150.0);
}

TEST_F(SerialPty, QueueCountsAndPurge) {
  OpenPort(100, 500);
  MasterWrite("0123456789");
  plat::SerialQueues q = WaitForInput(10);
  EXPECT_EQ(q.cbInQue, 10u);
  EXPECT_EQ(q.cbOutQue, 0u);

  ASSERT_TRUE(plat::SerialPurge(port_, plat::kPurgeTxClear | plat::kPurgeRxClear));
  uint32_t errors = 7;
  ASSERT_TRUE(plat::SerialClearError(port_, &errors, &q));
  EXPECT_EQ(q.cbInQue, 0u);
  EXPECT_EQ(errors, 0u);
  char buf[10];
  uint32_t got = 99;
  ASSERT_TRUE(plat::SerialRead(port_, buf, sizeof buf, &got));
  EXPECT_EQ(got, 0u) << "purged bytes must not be read afterwards";
}

// A read takes everything waiting on the line at once; what it did not hand out is served by the
// next reads, counts as queued input, ends a wait for input at once, and goes with a purge.
TEST_F(SerialPty, BytesTakenAheadAreServedCountedAndPurged) {
  OpenPort(100, 100);
  MasterWrite("0123456789");
  WaitForInput(10);
  char buf[10];
  uint32_t got = 0;
  ASSERT_TRUE(plat::SerialRead(port_, buf, 1, &got));
  ASSERT_EQ(got, 1u);
  EXPECT_EQ(buf[0], '0');
  uint32_t errors = 0;
  plat::SerialQueues q;
  ASSERT_TRUE(plat::SerialClearError(port_, &errors, &q));
  EXPECT_EQ(q.cbInQue, 9u);
  EXPECT_TRUE(plat::SerialWaitInput(port_, 0));
  ASSERT_TRUE(plat::SerialRead(port_, buf, 4, &got));
  EXPECT_EQ(std::string(buf, got), "1234");

  ASSERT_TRUE(plat::SerialPurge(port_, plat::kPurgeRxClear));
  ASSERT_TRUE(plat::SerialClearError(port_, &errors, &q));
  EXPECT_EQ(q.cbInQue, 0u);
  EXPECT_FALSE(plat::SerialWaitInput(port_, 0));
  ASSERT_TRUE(plat::SerialRead(port_, buf, sizeof buf, &got));
  EXPECT_EQ(got, 0u) << "purged bytes must not be read afterwards";
}

TEST_F(SerialPty, ModemStatusIsUnsupportedOnPseudoTerminal) {
  OpenPort(100, 500);
  uint32_t bits = 0;
  EXPECT_FALSE(plat::SerialModemStatus(port_, &bits));
  EXPECT_NE(plat::SystemLastError(), 0u);
  EXPECT_NE(plat::SystemErrorText(plat::SystemLastError()).find("odem"), std::string::npos);
}

// The driver's open sequence: read the state, overlay 8E1 with and without handshake, write it.
// A pseudo-terminal accepts it (though it keeps 8 bits without parity); a rate the line cannot
// run at is refused.
TEST_F(SerialPty, StateIsAcceptedAndBadRatesRefused) {
  OpenPort(100, 500);
  ASSERT_TRUE(plat::SerialSetupQueues(port_, 1024, 256));
  for (uint8_t rts : {plat::kRtsControlDisable, plat::kRtsControlHandshake}) {
    plat::SerialState s;
    ASSERT_TRUE(plat::SerialGetState(port_, &s));
    s.BaudRate = 115200;
    s.ByteSize = 8;
    s.Parity = plat::kEvenParity;
    s.StopBits = plat::kOneStopBit;
    s.fRtsControl = rts;
    s.fOutxCtsFlow = rts == plat::kRtsControlHandshake;
    EXPECT_TRUE(plat::SerialSetState(port_, s)) << plat::SystemErrorText(plat::SystemLastError());
    ASSERT_TRUE(plat::SerialGetState(port_, &s));
    EXPECT_EQ(s.BaudRate, 115200u);
    EXPECT_EQ(s.ByteSize, 8);
  }
  for (uint32_t rate : {0u, 12345u}) {
    plat::SerialState s;
    ASSERT_TRUE(plat::SerialGetState(port_, &s));
    s.BaudRate = rate;
    EXPECT_FALSE(plat::SerialSetState(port_, s)) << rate;
    EXPECT_EQ(plat::SystemLastError(), static_cast<uint32_t>(EINVAL));
  }
}

TEST_F(SerialPty, SecondOpenOfAnOpenPortFails) {
  OpenPort(100, 500);
  EXPECT_EQ(plat::SerialOpen(kPort), nullptr);
  EXPECT_NE(plat::SystemLastError(), 0u);
  EXPECT_FALSE(plat::SystemErrorText(plat::SystemLastError()).empty());
  ASSERT_TRUE(plat::SerialClose(port_));
  port_ = plat::SerialOpen(kPort);
  EXPECT_NE(port_, nullptr) << "closing must release the port";
}

TEST_F(SerialPty, PortListIncludesConfiguredPort) {
  const std::vector<int> ports = plat::SerialPortNumbers();
  EXPECT_NE(std::find(ports.begin(), ports.end(), kPort), ports.end());
  EXPECT_TRUE(std::is_sorted(ports.begin(), ports.end()));
  unsetenv(EnvName(kPort).c_str());
  const std::vector<int> without = plat::SerialPortNumbers();
  EXPECT_EQ(std::find(without.begin(), without.end(), kPort), without.end());
}

TEST(SerialOpen, FailsOnWhatIsNotASerialLine) {
  char regular[] = "/tmp/mirel-serial-test-XXXXXX";
  const int fd = mkstemp(regular);
  ASSERT_GE(fd, 0);
  close(fd);
  struct Case {
    const char* path;
    int error;
  } cases[] = {
      {"/nonexistent/ttyX", ENOENT},
      {"/dev/null", ENOTTY},
      {regular, ENOTTY},
  };
  constexpr int kBadPort = 242;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    setenv(EnvName(kBadPort).c_str(), c.path, 1);
    EXPECT_EQ(plat::SerialOpen(kBadPort), nullptr);
    EXPECT_EQ(plat::SystemLastError(), static_cast<uint32_t>(c.error));
    const std::string text = plat::SystemErrorText(plat::SystemLastError());
    EXPECT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
  }
  unsetenv(EnvName(kBadPort).c_str());
  unlink(regular);
  EXPECT_EQ(plat::SerialOpen(0), nullptr);
  EXPECT_NE(plat::SystemLastError(), 0u);
}

}  // namespace
