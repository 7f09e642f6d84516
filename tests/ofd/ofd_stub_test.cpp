// The test OFD server on loopback, driven through the platform's TCP client as the relay drives it.
#include "ofd-stub/ofd_stub.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/system_error.h"
#include "support/ffd_receipt.h"

namespace {

using ffd::Bytes;
using testing_support::kReceiptDrive;
using testing_support::ReceiptContainer;
using testing_support::ReceiptMessage;
constexpr uint32_t kWaitMs = 3000;

struct Exchange {
  bool connected = false;
  Bytes answer;
  bool closed = false;
};

// One exchange as the relay makes it: connect, send, read until the server closes or waitMs pass.
// A server that closes before it has read everything resets the connection: no answer, not closed.
Exchange Send(uint16_t port, const Bytes& message, uint32_t waitMs = kWaitMs) {
  Exchange e;
  plat::TcpHandle h = plat::TcpConnect("127.0.0.1", port, kWaitMs);
  if (h == nullptr) return e;
  e.connected = true;
  EXPECT_TRUE(plat::TcpSendAll(h, message.data(), message.size(), kWaitMs));
  e.answer.resize(4096);
  size_t got = 0;
  if (!plat::TcpReceive(h, e.answer.data(), e.answer.size(), waitMs, &got, &e.closed)) got = 0;
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
  std::mutex mutex;
  std::vector<std::string> log;
  stub.SetLineListener([&](const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex);
    log.push_back(line);
  });
  const Exchange e = Send(stub.Port(), ReceiptMessage(42));
  ASSERT_TRUE(e.connected);
  EXPECT_TRUE(e.closed);
  ffd::SessionHeader header;
  ASSERT_TRUE(ffd::ParseSessionHeader(e.answer.data(), e.answer.size(), &header));
  EXPECT_EQ(header.driveNumber, kReceiptDrive);
  ASSERT_EQ(e.answer.size(), ffd::kSessionHeaderSize + header.containerLength);
  ffd::Acknowledgement ack;
  std::string why;
  ASSERT_TRUE(ffd::ParseAcknowledgement(e.answer.data() + ffd::kSessionHeaderSize, header.containerLength,
                                        &ack, &why))
      << why;
  EXPECT_EQ(ack.driveNumber, kReceiptDrive);
  EXPECT_EQ(ack.documentNumber, 42u);
  EXPECT_EQ(ack.responseCode, 0);

  ASSERT_TRUE(stub.WaitLines(1, kWaitMs));
  EXPECT_EQ(stub.Lines().at(0),
            "document 42 (receipt) drive 9999078900012345, 2026-12-09 12:00, fiscal sign 3141592653, sale, "
            "2 item(s), total 300.00 (cash 200.00, cashless 100.00)");
  // The log also shows every tag decoded, the items' tags inside their own braces.
  std::lock_guard<std::mutex> lock(mutex);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(
      log[1].rfind("  1040=42 1012=2026-12-09 12:00 1037=\"0000000001012345\" 1041=\"9999078900012345\" "
                   "1077=3141592653 1048=\"OOO Test\" 1018=\"7701234567\"",
                   0),
      0u)
      << log[1];
  EXPECT_NE(log[1].find(" 1059={1214=4 1212=1 1030=\"Milk\" 1079=150.00 1023=1.000 1199=1 1043=150.00} "),
            std::string::npos)
      << log[1];
  EXPECT_NE(log[1].find(" 1031=200.00 1081=100.00 "), std::string::npos) << log[1];
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

// A container changed by `change`, with its length field and CRC made right again unless the change
// is to them, behind a session header that announces its size.
Bytes Resealed(const std::function<void(Bytes*)>& change, bool reseal = true) {
  Bytes c = ffd::BuildContainer(ReceiptContainer(7));
  change(&c);
  if (reseal) {
    c[0] = static_cast<uint8_t>(c.size());
    c[1] = static_cast<uint8_t>(c.size() >> 8);
    const uint16_t crc = ffd::ContainerCrc(c.data(), c.size());
    c[2] = static_cast<uint8_t>(crc);
    c[3] = static_cast<uint8_t>(crc >> 8);
  }
  Bytes m = ffd::BuildSessionHeader({kReceiptDrive, static_cast<uint16_t>(c.size())});
  m.insert(m.end(), c.begin(), c.end());
  return m;
}

TEST_F(OfdStubTest, AMessageNotInThePublishedFormatIsRefusedWithItsReason) {
  const struct {
    const char* what;
    Bytes message;
    const char* reason;
  } cases[] = {
      {"protocol version 2", Resealed([](Bytes* c) { (*c)[6] = 2; }), "unknown protocol version"},
      {"message type", Resealed([](Bytes* c) { (*c)[4] = 0xA6; }), "unknown message type"},
      {"CRC", Resealed([](Bytes* c) { (*c)[40] ^= 0xFF; }, false), "container CRC does not match"},
      {"length field", Resealed([](Bytes* c) { ++(*c)[0]; }, false), "container length field does not match"},
      {"bytes after the document", Resealed([](Bytes* c) {
         c->insert(c->end(), {0, 0});
       }),
       "the document is not one tag"},
      {"document number", Resealed([](Bytes* c) { (*c)[19] = 8; }), "document numbers of container and tags"},
      {"document type", Resealed([](Bytes* c) { (*c)[5] = ffd::kShiftOpening; }),
       "the document is not one tag"},
      {"session header",
       [] {
         Bytes m = ReceiptMessage(7);
         m[7] = 2;
         return m;
       }(),
       "not a session header"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const size_t before = stub.Lines().size();
    EXPECT_TRUE(Send(stub.Port(), c.message).answer.empty());
    ASSERT_TRUE(stub.WaitLines(before + 1, kWaitMs));
    const std::string line = stub.Lines().back();
    EXPECT_EQ(line.rfind("error: ", 0), 0u) << line;
    EXPECT_NE(line.find(c.reason), std::string::npos) << line;
  }
}

TEST_F(OfdStubTest, ADocumentWithoutATagOfItsKindIsRefusedWithTheTag) {
  ffd::Container receipt = ReceiptContainer(8);
  // The same receipt without its cashier (1021), the last tag of the document.
  std::vector<ffd::Tlv> outer, tags;
  ASSERT_TRUE(ffd::ParseTlv(receipt.tlv, &outer));
  ASSERT_TRUE(ffd::ParseTlv(outer[0].value, &tags));
  ASSERT_EQ(tags.back().tag, ffd::tag::kCashier);
  tags.pop_back();
  ffd::TlvWriter inner;
  for (const ffd::Tlv& t : tags) inner.Raw(t.tag, t.value);
  receipt.tlv = ffd::TlvWriter().Stlv(ffd::kReceipt, inner).bytes();
  const Exchange e = Send(stub.Port(), ffd::BuildMessage(receipt));
  EXPECT_TRUE(e.answer.empty());
  ASSERT_TRUE(stub.WaitLines(1, kWaitMs));
  EXPECT_EQ(stub.Lines().back(), "error: document 8: tag 1021 missing");
}

TEST_F(OfdStubTest, AMessageCutShortOfWhatItsSessionHeaderSaysIsRefused) {
  const Bytes message = ReceiptMessage(9);
  plat::TcpHandle h = plat::TcpConnect("127.0.0.1", stub.Port(), kWaitMs);
  ASSERT_NE(h, nullptr);
  ASSERT_TRUE(plat::TcpSendAll(h, message.data(), message.size() - 5, kWaitMs));
  plat::TcpClose(h);
  ASSERT_TRUE(stub.WaitLines(1, kWaitMs));
  EXPECT_EQ(stub.Lines().back(), "error: message shorter than its session header says");
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
