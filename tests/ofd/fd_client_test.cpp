// The relay client: its checks of the server settings, one exchange with the test OFD server, and
// the relay cycle against the virtual printer's fiscal drive with faults on either side.
#include "ofd/fd_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "emu/fiscal_drive.h"
#include "log/log.h"
#include "ofd-stub/ofd_stub.h"
#include "support/device_on_line.h"
#include "support/ffd_receipt.h"

namespace {

using Steady = std::chrono::steady_clock;
constexpr int kWaitMs = 10000;

// The relay's messages ("name: text"), written from its thread and read from the test's.
struct RelayLog {
  std::mutex mutex;
  std::vector<std::string> lines;

  void Install(FPContext* ctx) {
    ctx->pLogUser = this;
    ctx->pfnLogMessageH = [](FPContext* c, const char* name, const char* text) {
      RelayLog& log = *static_cast<RelayLog*>(c->pLogUser);
      std::lock_guard<std::mutex> lock(log.mutex);
      log.lines.push_back(std::string(name) + ": " + text);
    };
  }
  bool Has(const std::string& prefix) {
    std::lock_guard<std::mutex> lock(mutex);
    for (const std::string& l : lines) {
      if (l.compare(0, prefix.size(), prefix) == 0) return true;
    }
    return false;
  }
  bool WaitFor(const std::string& prefix) {
    const auto end = Steady::now() + std::chrono::milliseconds(kWaitMs);
    while (!Has(prefix) && Steady::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return Has(prefix);
  }
};

std::unique_ptr<CFDClient> ClientFor(FPContext* ctx, const char* address, int port) {
  std::snprintf(ctx->szFdoAddress, sizeof ctx->szFdoAddress, "%s", address);
  ctx->nFdoPort = port;
  return std::make_unique<CFDClient>(ctx);
}

TEST(FdClient, RefusesAMissingAddressOrAPortOutOfRange) {
  struct Case {
    const char* address;
    int port;
    const char* logged;
  };
  const Case cases[] = {
      {"", 7777, "ChangeFD: FDO-Address is not specified"},
      {"127.0.0.1", 0, "ChangeFD: The port number is outside the permitted range: 0"},
      {"127.0.0.1", 65536, "ChangeFD: The port number is outside the permitted range: 65536"},
  };
  for (const Case& c : cases) {
    FPContext ctx;
    RelayLog log;
    log.Install(&ctx);
    auto client = ClientFor(&ctx, c.address, c.port);
    EXPECT_TRUE(client->HasFailed()) << c.logged;
    EXPECT_FALSE(client->Start()) << c.logged;
    EXPECT_TRUE(log.Has(c.logged)) << c.logged;
  }
}

TEST(FdClient, OneExchangeTakesTheAnswerHoweverTheServerGivesIt) {
  ofdstub::OfdStub stub;
  stub.SetSegmentPauseMs(30);
  ASSERT_TRUE(stub.Start());
  FPContext ctx;
  auto client = ClientFor(&ctx, "localhost", stub.Port());
  ASSERT_FALSE(client->HasFailed());
  char dotted[20];
  EXPECT_NE(client->getIPAddr(dotted, sizeof dotted), 0u);
  EXPECT_STREQ(dotted, "127.0.0.1");

  const ffd::Bytes message = testing_support::ReceiptMessage(9);
  struct Case {
    ofdstub::Fault fault;
    bool answered;  // a whole acknowledgement came
    int length;     // otherwise the bytes that came
  };
  const Case cases[] = {{ofdstub::Fault::kNone, true, 0},
                        {ofdstub::Fault::kSegments, true, 0},
                        {ofdstub::Fault::kClose, false, 0},
                        {ofdstub::Fault::kShort, false, 30}};
  for (const Case& c : cases) {
    stub.SetFault(c.fault, 1);
    ASSERT_TRUE(client->TransmitToOfd(message.data(), static_cast<int>(message.size())))
        << client->LastError();
    ffd::Acknowledgement ack;
    const int n = client->ReceivedLength();
    const bool answered = n > 30 && ffd::ParseAcknowledgement(client->Received() + 30, n - 30, &ack);
    EXPECT_EQ(answered, c.answered) << static_cast<int>(c.fault);
    if (!c.answered) {
      EXPECT_EQ(n, c.length) << static_cast<int>(c.fault);
    }
  }
  EXPECT_FALSE(client->TransmitToOfd(nullptr, 0));
  EXPECT_STREQ(client->LastError(), "No data to transmit");

  ofdstub::OfdStub refusing;
  ASSERT_TRUE(refusing.Start(0, true));
  auto refused = ClientFor(&ctx, "127.0.0.1", refusing.Port());
  EXPECT_FALSE(refused->TransmitToOfd(message.data(), static_cast<int>(message.size())));
  EXPECT_STRNE(refused->LastError(), "");
}

class Relay : public DeviceOnLine {
 protected:
  Relay() : DeviceOnLine(63, 1000) {}
  void SetUp() override {
    DeviceOnLine::SetUp();
    // The relay's messages are what these tests read; the low-level capture shares the context's
    // owner pointer and is not made for two threads, so it is switched off.
    SetLogMode(&ctx, kLogMessageH, 0);
    relayLog.Install(&ctx);
    ctx.nContextKind = 2;  // the virtual drive's 1.05 firmware hands out the session header
    ASSERT_TRUE(stub.Start());
  }
  void TearDown() override {
    client.reset();
    stub.Stop();
    DeviceOnLine::TearDown();
  }
  void StartRelay() {
    client = ClientFor(&ctx, "127.0.0.1", stub.Port());
    ASSERT_FALSE(client->HasFailed());
    ASSERT_TRUE(client->Start());
  }
  bool BacklogEmpties() {
    const auto end = Steady::now() + std::chrono::milliseconds(kWaitMs);
    while (!emu::Backlog(printer.State()).empty() && Steady::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return emu::Backlog(printer.State()).empty();
  }

  RelayLog relayLog;
  ofdstub::OfdStub stub;
  std::unique_ptr<CFDClient> client;
};

TEST_F(Relay, WithTheOlderFirmwareItWritesTheSessionHeaderItself) {
  printer.ModifyState([](emu::PrinterState& s) {
    s.banner = emu::kBannerFfd100;
    emu::PreloadDocuments(&s, 2);
  });
  ctx.nContextKind = 1;
  StartRelay();
  ASSERT_TRUE(BacklogEmpties());
  ASSERT_TRUE(stub.WaitLines(2, kWaitMs));
  for (const std::string& line : stub.Lines()) EXPECT_EQ(line.rfind("document ", 0), 0u) << line;
  EXPECT_TRUE(relayLog.Has("ChangeFD: Loaded ticket to Fiscal Drive"));
}

TEST_F(Relay, AFaultEndsTheCycleWithoutWritingATicket) {
  struct Case {
    const char* where;
    void (*arrange)(emu::VirtualPrinter& printer, ofdstub::OfdStub& stub);
    const char* logged;
    const char* neverSent;
  };
  const Case cases[] = {
      {"an answer of the session header alone",
       [](emu::VirtualPrinter&, ofdstub::OfdStub& stub) { stub.SetFault(ofdstub::Fault::kShort); },
       "ChangeFD: FDO server answer of 30 bytes carries no ticket", "SuL"},
      {"a server that closes without answering",
       [](emu::VirtualPrinter&, ofdstub::OfdStub& stub) { stub.SetFault(ofdstub::Fault::kClose); },
       "ChangeFD: FDO server returned a zero bytes", "SuL"},
      {"blocks without data",
       [](emu::VirtualPrinter& printer, ofdstub::OfdStub&) {
         printer.ModifyState([](emu::PrinterState& s) { s.fd.faults.zeroBlocks = 1000; });
       },
       "ChangeFD: Fiscal Drive returned no data for block 1 3 times", "SuK"},
      {"a block longer than asked",
       [](emu::VirtualPrinter& printer, ofdstub::OfdStub&) {
         printer.ModifyState([](emu::PrinterState& s) { s.fd.faults.overlongBlocks = 1000; });
       },
       "ChangeFD: Error reading block of Fiscal Drive message (SuI) number 1", "SuK"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.where);
    printer.ModifyState([](emu::PrinterState& s) {
      s.fd.faults = emu::FdFaults();
      emu::PreloadDocuments(&s, 1);
    });
    c.arrange(printer, stub);
    printer.ClearTrace();
    StartRelay();
    EXPECT_TRUE(relayLog.WaitFor(c.logged));
    client.reset();
    EXPECT_TRUE(line.Commands(c.neverSent).empty());
    EXPECT_FALSE(emu::Backlog(printer.State()).empty());
    printer.ModifyState([](emu::PrinterState& s) { s.fd.documents.clear(); });
  }
}

}  // namespace
