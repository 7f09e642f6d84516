// The OFD server's answers to the relay: one relay cycle against a fiscal drive with one message
// waiting, whose answers were recorded from the virtual printer (relay_cycle.script), and the whole
// input as what the server answers, in pieces (memory_line.h).
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "fuzz/device_on_memory_line.h"
#include "ofd/fd_client.h"

namespace {

std::vector<std::string> g_cycle;

// The relay's pause after a cycle ends the cycle for the fuzzer; it lasts until Stop.
class CycleClock : public FakeClock {
 public:
  bool SleepUnless(uint32_t, plat::WakeEvent& wake) override {
    {
      std::lock_guard<std::mutex> hold(cycleMutex_);
      ended_ = true;
    }
    changed_.notify_all();
    while (!wake.WaitMs(1000)) {
    }
    return true;
  }
  void WaitCycleEnd() {
    std::unique_lock<std::mutex> hold(cycleMutex_);
    changed_.wait(hold, [this] { return ended_; });
  }

 private:
  std::mutex cycleMutex_;
  std::condition_variable changed_;
  bool ended_ = false;
};

// The relay formats its messages (the session headers among them) only for an installed writer.
void DropMessage(FPContext*, const char*, const char*) {}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_cycle = RecordedPieces("relay_cycle.script");
  return g_cycle.empty() ? 1 : 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  DeviceOnMemoryLine device(g_cycle);
  CycleClock clock;
  device.ctx.pClock = &clock;
  device.ctx.pfnLogMessageH = DropMessage;
  std::snprintf(device.ctx.szFdoAddress, sizeof device.ctx.szFdoAddress, "%s", "127.0.0.1");
  device.ctx.nFdoPort = 7777;
  memline::SetServerAnswer(memline::SplitPieces(data, size));
  CFDClient client(&device.ctx);
  client.Start();
  clock.WaitCycleEnd();
  client.Stop();
  return 0;
}
