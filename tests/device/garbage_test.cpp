// Whatever the line brings instead of an answer, a transaction ends within its time-outs without
// a crash, and the next command on the line goes through.
#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "device/link.h"
#include "support/device_on_line.h"

namespace {

class GarbageOnTheLine : public DeviceOnLine {
 protected:
  GarbageOnTheLine() : DeviceOnLine(46, 300) {}
};

// Bytes that look like the start of answers half the time: control bytes, record headers, digits.
emu::Bytes Garbage(std::mt19937& random) {
  static const uint8_t kLikely[] = {ctl::STX, ctl::ETX, ctl::ENQ, ctl::ACK, ctl::NAK, 'S', '1', '3', 'e', '0', '4'};
  std::uniform_int_distribution<int> length(1, 160), coin(0, 1), likely(0, sizeof kLikely - 1), any(0, 255);
  emu::Bytes bytes(length(random));
  for (uint8_t& b : bytes) b = coin(random) ? kLikely[likely(random)] : static_cast<uint8_t>(any(random));
  return bytes;
}

TEST_F(GarbageOnTheLine, EndsWithinItsTimeOutsAndTheLineRecovers) {
  std::mt19937 random(20261209);
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    printer.SendStrayBytes(Garbage(random));
    printer.IgnoreNext(1);
    const auto start = std::chrono::steady_clock::now();
    const int result = ExecTransaction(&ctx, "S1", -3, true, false);
    const auto took = std::chrono::steady_clock::now() - start;
    // At most a record read to its interval time-out, then a line reset of five passes.
    EXPECT_LT(took, std::chrono::seconds(8)) << "result " << result;
    EXPECT_GE(result, -5);
    // The next command finds a clean line.
    printer.AddCommand("e", [](emu::PrinterState&, const std::string&) { return emu::Reply::Accept(); });
    EXPECT_EQ(ExecTransaction(&ctx, "e", -3, true, false), 0);
  }
}

}  // namespace
