// The test OFD server on loopback, driven through the platform's TCP client as the relay drives it.
#include "ofd-stub/ofd_stub.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <string>

#include "platform/system_error.h"

namespace {

using ffd::Bytes;

const char kDrive[] = "9999078900012345";
constexpr uint32_t kWaitMs = 3000;

Bytes ReceiptMessage(uint32_t number) {
  ffd::DocumentHeader h;
  h.type = ffd::kReceipt;
  h.number = number;
  h.dateTime = 1796817600;  // 2026-12-09 12:00
  h.registrationNumber = "0000000001012345";
  h.driveNumber = kDrive;
  h.fiscalSign = 3141592653u;
  ffd::TlvWriter item;
  item.String(ffd::tag::kItemName, "Milk").Vln(ffd::tag::kItemPrice, 15000).Vln(ffd::tag::kItemSum, 15000);
  ffd::TlvWriter body;
  body.U8(ffd::tag::kOperationType, 1)
      .Stlv(ffd::tag::kItem, item)
      .Stlv(ffd::tag::kItem, item)
      .Vln(ffd::tag::kTotal, 30000)
      .Vln(ffd::tag::kCash, 20000)
      .Vln(ffd::tag::kCashless, 10000);
  return ffd::BuildMessage(ffd::DocumentContainer(h, body.bytes()));
}

struct Exchange {
  bool connected = false;
  Bytes answer;
  bool closed = false;
};

// One exchange as the relay makes it: connect, send, read until the server closes or waitMs pass.
Exchange Send(uint16_t port, const Bytes& message, uint32_t waitMs = kWaitMs) {
  Exchange e;
  plat::TcpHandle h = plat::TcpConnect("127.0.0.1", port, kWaitMs);
  if (h == nullptr) return e;
  e.connected = true;
  EXPECT_TRUE(plat::TcpSendAll(h, message.data(), message.size(), kWaitMs));
  e.answer.resize(4096);
  size_t got = 0;
  EXPECT_TRUE(plat::TcpReceive(h, e.answer.data(), e.answer.size(), waitMs, &got, &e.closed));
  e.answer.resize(got);
  plat::TcpClose(h);
  return e;
}

class OfdStubTest : public ::testing::Test {
 protected:
  void SetUp() override {
    stub.SetSegmentPauseMs(20);
    ASSERT_TRUE(stub.Start());
  }
  ofdstub::OfdStub stub;
};

TEST_F(OfdStubTest, AnswersAReceiptWithTheAcknowledgementOfItsDocument) {
  const Exchange e = Send(stub.Port(), ReceiptMessage(42));
  ASSERT_TRUE(e.connected);
  EXPECT_TRUE(e.closed);
  ffd::SessionHeader header;
  ASSERT_TRUE(ffd::ParseSessionHeader(e.answer.data(), e.answer.size(), &header));
  EXPECT_EQ(header.driveNumber, kDrive);
  ASSERT_EQ(e.answer.size(), ffd::kSessionHeaderSize + header.containerLength);
  ffd::Acknowledgement ack;
  std::string why;
  ASSERT_TRUE(ffd::ParseAcknowledgement(e.answer.data() + ffd::kSessionHeaderSize, header.containerLength,
                                        &ack, &why))
      << why;
  EXPECT_EQ(ack.driveNumber, kDrive);
  EXPECT_EQ(ack.documentNumber, 42u);

  ASSERT_TRUE(stub.WaitLines(1, kWaitMs));
  EXPECT_EQ(stub.Lines().at(0),
            "document 42 (receipt) drive 9999078900012345, 2026-12-09 12:00, fiscal sign 3141592653, sale, "
            "2 item(s), total 300.00 (cash 200.00, cashless 100.00)");
}

TEST_F(OfdStubTest, FaultsSpoilTheAnswerForAsManyExchangesAsAskedThenItIsWhole) {
  const Bytes whole = Send(stub.Port(), ReceiptMessage(1)).answer;
  ASSERT_GT(whole.size(), ffd::kSessionHeaderSize);
  struct Case {
    ofdstub::Fault fault;
    size_t size;  // of the answer
    bool acknowledgement;
  };
  const Case cases[] = {
      {ofdstub::Fault::kClose, 0, false},
      {ofdstub::Fault::kShort, ffd::kSessionHeaderSize, false},
      {ofdstub::Fault::kGarbage, whole.size(), false},
      {ofdstub::Fault::kSegments, whole.size(), true},
  };
  for (const Case& c : cases) {
    stub.SetFault(c.fault, 1);
    const Exchange spoilt = Send(stub.Port(), ReceiptMessage(2));
    EXPECT_TRUE(spoilt.closed) << static_cast<int>(c.fault);
    EXPECT_EQ(spoilt.answer.size(), c.size) << static_cast<int>(c.fault);
    ffd::Acknowledgement ack;
    const bool isAck = spoilt.answer.size() > ffd::kSessionHeaderSize &&
                       ffd::ParseAcknowledgement(spoilt.answer.data() + ffd::kSessionHeaderSize,
                                                 spoilt.answer.size() - ffd::kSessionHeaderSize, &ack);
    EXPECT_EQ(isAck, c.acknowledgement) << static_cast<int>(c.fault);
    EXPECT_EQ(Send(stub.Port(), ReceiptMessage(3)).answer.size(), whole.size()) << static_cast<int>(c.fault);
  }
}

TEST_F(OfdStubTest, AStalledExchangeKeepsTheConnectionOpenUntilTheServerStops) {
  stub.SetFault(ofdstub::Fault::kStall);
  const Exchange e = Send(stub.Port(), ReceiptMessage(5), 300);
  EXPECT_TRUE(e.answer.empty());
  EXPECT_FALSE(e.closed);

  plat::TcpHandle h = plat::TcpConnect("127.0.0.1", stub.Port(), kWaitMs);
  ASSERT_NE(h, nullptr);
  const Bytes message = ReceiptMessage(6);
  ASSERT_TRUE(plat::TcpSendAll(h, message.data(), message.size(), kWaitMs));
  ASSERT_TRUE(stub.WaitLines(2, kWaitMs));
  const auto start = std::chrono::steady_clock::now();
  stub.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  plat::TcpClose(h);
}

TEST_F(OfdStubTest, WhatIsNoMessageIsLoggedAsAnErrorAndNotAnswered) {
  Bytes spoilt = ReceiptMessage(7);
  spoilt[ffd::kSessionHeaderSize + 10] ^= 0xFF;  // inside the container: its CRC no longer fits
  const Bytes noHeader(ffd::kSessionHeaderSize, 0x55);
  for (const Bytes& message : {spoilt, noHeader}) {
    const Exchange e = Send(stub.Port(), message);
    EXPECT_TRUE(e.answer.empty());
    EXPECT_TRUE(e.closed);
  }
  ASSERT_TRUE(stub.WaitLines(2, kWaitMs));
  for (const std::string& line : stub.Lines()) EXPECT_EQ(line.rfind("error: ", 0), 0u) << line;
}

TEST_F(OfdStubTest, AFaultSetsTheAnswerOfEveryExchange) {
  const Bytes whole = Send(stub.Port(), ReceiptMessage(1)).answer;
  struct Case {
    const char* text;
    size_t size;  // of the answer
    bool acknowledgement;
    int minMs;  // the answer took at least this long
  };
  const Case cases[] = {
      {"-", whole.size(), true, 0},
      {"close", 0, false, 0},
      {"short", 30, false, 0},
      {"short:7", 7, false, 0},
      {"short:0", 0, false, 0},
      {"garbage", whole.size(), false, 0},
      {"pieces:100", whole.size(), true, 200},
      {"slow:300", whole.size(), true, 300},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ofdstub::FaultSettings settings;
    std::string error;
    ASSERT_TRUE(ofdstub::ParseFault(c.text, &settings, &error)) << error;
    EXPECT_FALSE(settings.refuse);
    stub.ApplyFault(settings);
    const auto start = std::chrono::steady_clock::now();
    const Exchange e = Send(stub.Port(), ReceiptMessage(2));
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count();
    EXPECT_TRUE(e.closed);
    EXPECT_EQ(e.answer.size(), c.size);
    ffd::Acknowledgement ack;
    EXPECT_EQ(e.answer.size() > ffd::kSessionHeaderSize &&
                  ffd::ParseAcknowledgement(e.answer.data() + ffd::kSessionHeaderSize,
                                            e.answer.size() - ffd::kSessionHeaderSize, &ack),
              c.acknowledgement);
    EXPECT_GE(ms, c.minMs);
  }
}

TEST(OfdStubFault, DownRefusesAndWhatIsNoFaultIsRefusedWithItsReason) {
  ofdstub::FaultSettings settings;
  std::string error;
  ASSERT_TRUE(ofdstub::ParseFault("down", &settings, &error)) << error;
  EXPECT_TRUE(settings.refuse);
  ASSERT_TRUE(ofdstub::ParseFault("stall", &settings, &error)) << error;
  EXPECT_FALSE(settings.refuse);
  EXPECT_EQ(settings.fault, ofdstub::Fault::kStall);

  const struct {
    const char* text;
    const char* reason;
  } bad[] = {
      {"", "unknown OFD fault"},         {"slowly", "unknown OFD fault"},
      {"stall:5", "takes no argument"},  {"down:1", "takes no argument"},
      {"short:31", "from 0 to 30"},      {"slow:", "from 0 to 600000"},
      {"pieces:-5", "from 0 to 600000"}, {"slow:600001", "from 0 to 600000"},
      {"slow:1x", "from 0 to 600000"},   {"slow:99999999999999999999", "from 0 to 600000"},
  };
  for (const auto& b : bad) {
    ofdstub::FaultSettings untouched;
    untouched.slowAnswerMs = 7;
    error.clear();
    EXPECT_FALSE(ofdstub::ParseFault(b.text, &untouched, &error)) << b.text;
    EXPECT_NE(error.find(b.reason), std::string::npos) << b.text << ": " << error;
    EXPECT_EQ(untouched.slowAnswerMs, 7) << b.text;
  }
}

TEST(OfdStubRefusing, HoldsItsPortButRefusesEveryConnection) {
  ofdstub::OfdStub stub;
  ASSERT_TRUE(stub.Start(0, true));
  ASSERT_NE(stub.Port(), 0);
  EXPECT_EQ(plat::TcpConnect("127.0.0.1", stub.Port(), kWaitMs), nullptr);
  EXPECT_EQ(plat::SystemLastError(), static_cast<uint32_t>(ECONNREFUSED));
}

}  // namespace
