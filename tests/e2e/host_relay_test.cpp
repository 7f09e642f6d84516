// Open and the OFD relay as the host meets them, on the virtual printer with the test OFD server:
// the README's settings, the host's calls going on while the relay works the same line, the host's
// error state kept from the relay, and Done while the relay waits for a silent printer.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "e2e/host_on_printer.h"
#include "emu/fiscal_drive.h"
#include "ofd-stub/ofd_stub.h"
#include "support/check_package_text.h"

namespace {

using Steady = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr int kWaitMs = 20000;

class HostRelay : public HostOnPrinter<RelayClock>, public ::testing::WithParamInterface<Front> {
 protected:
  HostRelay() : HostOnPrinter(65, GetParam()) {}

  void SetUp() override {
    HostOnPrinter::SetUp();
    ASSERT_TRUE(stub.Start());
  }
  void TearDown() override {
    HostOnPrinter::TearDown();
    stub.Stop();
  }

  // The settings the README asks of a new installation, then Open.
  HostResult OpenWithTheReadmeSettings() {
    const std::vector<std::string> settings = {
        "Port " + std::to_string(line.Port()),
        "Speed 6",
        "Password \"472913\"",
        "Cashier \"Иванова И.И.\"",
        "AddressFDO \"127.0.0.1\"",
        "PortFDO " + std::to_string(stub.Port()),
    };
    for (const std::string& s : settings) EXPECT_TRUE(Call("SetParameter " + s).ok) << s;
    return Call("Open");
  }
  // The receipt header is programmed into the printer, so it is given once the printer is open.
  void SetTheReceiptHeader() {
    EXPECT_TRUE(Call("SetParameter HeaderString1 \"ООО Ромашка\"").ok);
    EXPECT_TRUE(Call("SetParameter HeaderString2 \"Москва, ул. Ленина, 1\"").ok);
  }
  std::vector<uint32_t> Waiting() const {
    std::vector<uint32_t> numbers;
    const emu::PrinterState state = printer.State();
    for (const emu::FdDocument* d : emu::Backlog(state)) numbers.push_back(d->number);
    return numbers;
  }
  // The documents the stub logged, by number, in the order they came.
  std::vector<uint32_t> Delivered() const {
    std::vector<uint32_t> numbers;
    for (const std::string& l : stub.Lines())
      numbers.push_back(static_cast<uint32_t>(std::stoul(l.substr(9))));
    return numbers;
  }
  template <typename Reached>
  static bool WaitFor(Reached reached) {
    const auto end = Steady::now() + milliseconds(kWaitMs);
    while (!reached() && Steady::now() < end) std::this_thread::sleep_for(milliseconds(20));
    return reached();
  }
  // Frames that reach the printer within a short while after this call.
  size_t FramesArrivingLater() {
    const size_t before = line.Commands().size();
    std::this_thread::sleep_for(milliseconds(300));
    return line.Commands().size() - before;
  }

  ofdstub::OfdStub stub;
};

TEST_P(HostRelay, OpenWithTheReadmeSettingsAndEveryWaitingDocumentDelivered) {
  printer.ModifyState([](emu::PrinterState& s) { emu::PreloadDocuments(&s, 5); });
  const std::vector<uint32_t> waiting = Waiting();
  const HostResult opened = OpenWithTheReadmeSettings();
  ASSERT_TRUE(opened.ok) << opened.printed;
  EXPECT_FALSE(opened.out.at("DeviceID").empty());
  SetTheReceiptHeader();

  ASSERT_TRUE(WaitFor([&] { return Waiting().empty() && stub.Lines().size() >= 5; }));
  EXPECT_EQ(Delivered(), waiting);
  for (const emu::FdDocument& d : printer.State().fd.documents) EXPECT_TRUE(d.acknowledged) << d.number;
  EXPECT_EQ(printer.CollidingRequests(), 0);

  // A second Open hands out a new identifier and the old one is refused; after Close the device
  // opens again.
  const HostResult again = Call("Open");
  ASSERT_TRUE(again.ok) << again.printed;
  EXPECT_NE(again.out.at("DeviceID"), opened.out.at("DeviceID"));
  const HostResult old = Call("GetLineLength " + Quoted(opened.out.at("DeviceID")));
  EXPECT_FALSE(old.ok);
  EXPECT_EQ(old.code, 2) << old.printed;
  EXPECT_TRUE(Call("GetLineLength $DeviceID").ok);
  EXPECT_TRUE(Call("Close $DeviceID").ok);
  EXPECT_TRUE(Call("Open").ok);
}

// The host's calls while the relay carries its documents: each call is served whole between the
// relay's turns, so the printer never sees a request in the middle of another exchange, and every
// document still arrives once.
TEST_P(HostRelay, HostCallsAndTheRelayTakeTurnsOnTheLine) {
  printer.ModifyState([](emu::PrinterState& s) { emu::PreloadDocuments(&s, 8); });
  const std::vector<uint32_t> waiting = Waiting();
  ASSERT_TRUE(OpenWithTheReadmeSettings().ok);
  ASSERT_TRUE(WaitFor([&] { return !stub.Lines().empty(); }));

  int rounds = 0;
  while (stub.Lines().size() < waiting.size() && rounds < 4) {
    ++rounds;
    const HostResult opened = Call("Open");
    EXPECT_TRUE(opened.ok) << opened.printed;
    const HostResult speed = Call("SetParameter Speed 6");
    EXPECT_TRUE(speed.ok) << speed.printed;
    const HostResult error = Call("GetLastError");
    EXPECT_EQ(error.result, "0") << error.printed;
  }
  EXPECT_EQ(printer.CollidingRequests(), 0);
  ASSERT_TRUE(WaitFor([&] { return Waiting().empty(); }));
  const std::vector<uint32_t> delivered = Delivered();
  EXPECT_EQ(std::set<uint32_t>(delivered.begin(), delivered.end()),
            std::set<uint32_t>(waiting.begin(), waiting.end()));
  EXPECT_EQ(delivered.size(), waiting.size());
}

// The relay's own commands between a failed host call and the host's GetLastError leave the
// host's code alone: here the relay's next block read meets a silent printer and fails.
TEST_P(HostRelay, GetLastErrorReportsTheHostsCallWhateverTheRelayDidSince) {
  printer.ModifyState([](emu::PrinterState& s) { emu::PreloadDocuments(&s, 2); });
  // The first document's receipt comes slowly, so the host's call falls while the relay is away.
  stub.SetSegmentPauseMs(300);
  stub.SetFault(ofdstub::Fault::kSegments);
  ASSERT_TRUE(OpenWithTheReadmeSettings().ok);
  ASSERT_TRUE(WaitFor([&] { return !stub.Lines().empty(); }));
  printer.ModifyState([](emu::PrinterState& s) { s.fd.faults.stalledReads = 1; });

  const HostResult refused =
      Call("ProcessCheck $DeviceID false " + Quoted(Package("1", Item("1", "5", "5"), "")));
  ASSERT_FALSE(refused.ok);
  ASSERT_EQ(refused.code, 115) << refused.printed;  // no shift open
  ASSERT_TRUE(WaitFor([&] { return line.Commands("SuI").size() >= 2; }));
  // The device lock is free again once the relay has given up on the silent printer.
  { std::lock_guard<std::recursive_mutex> relayTurnOver(object->Device()->csDevice); }
  EXPECT_EQ(Call("GetLastError").result, "115");
}

// Done while the relay waits for a printer that has stopped answering in the middle of reading a
// message: the relay gives up its turn within a bound, Done returns, and nothing more is sent.
TEST_P(HostRelay, DoneWhileTheRelayWaitsForASilentPrinter) {
  printer.ModifyState([](emu::PrinterState& s) {
    emu::PreloadDocuments(&s, 1);
    s.fd.faults.stalledReads = 1000;
  });
  ASSERT_TRUE(OpenWithTheReadmeSettings().ok);
  ASSERT_TRUE(WaitFor([&] { return !line.Commands("SuI").empty(); }));
  const auto start = Steady::now();
  EndSession();
  EXPECT_LT(Steady::now() - start, seconds(5));
  EXPECT_EQ(FramesArrivingLater(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Fronts, HostRelay, kBothFronts, FrontName);

}  // namespace
