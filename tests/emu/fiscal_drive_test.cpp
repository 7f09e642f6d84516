// The virtual fiscal drive as the line shows it: the answers' layouts, the message read and its
// acknowledgement, the reprint echo and the drive's faults.
#include "emu/fiscal_drive.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "emu/virtual_printer.h"
#include "ffd/ffd.h"
#include "line_client.h"

namespace {

using emu::Bytes;
using emu_test::LineClient;

constexpr uint8_t STX = 0x02, ETX = 0x03;

// Bytes written as nibble characters from `at`, `count` of them.
Bytes Unnibble(const Bytes& answer, size_t at, size_t count) {
  Bytes out;
  for (size_t i = 0; i < count && at + 2 * i + 1 < answer.size(); ++i) {
    out.push_back(static_cast<uint8_t>(((answer[at + 2 * i] - 0x30) << 4) | (answer[at + 2 * i + 1] - 0x30)));
  }
  return out;
}

std::string Nibbles(const Bytes& bytes) {
  std::string text;
  for (uint8_t b : bytes) {
    text.push_back(static_cast<char>(0x30 + (b >> 4)));
    text.push_back(static_cast<char>(0x30 + (b & 0x0F)));
  }
  return text;
}

bool CheckOk(const Bytes& frame) {
  if (frame.size() < 3 || frame.front() != STX || frame[frame.size() - 2] != ETX) return false;
  uint8_t x = 0;
  for (size_t i = 1; i + 1 < frame.size(); ++i) x ^= frame[i];
  return x == frame.back();
}

class VirtualFiscalDrive : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(printer.Start());
    line = std::make_unique<LineClient>(printer.PortPath());
    ASSERT_TRUE(line->IsOpen());
  }

  Bytes Command(const std::string& text, size_t answerLength) {
    line->SendFrame(text);
    return line->Read(answerLength);
  }
  // The drive message of an answer that echoes a three-character command: start, length, code,
  // data and check value.
  Bytes Message(const Bytes& answer) { return Unnibble(answer, 4, (answer.size() - 6) / 2); }
  Bytes AckContainer(uint32_t number, const std::string& drive = "9999078900012345") {
    ffd::Acknowledgement a;
    a.driveNumber = drive;
    a.documentNumber = number;
    return ffd::BuildContainer(ffd::AcknowledgementContainer(a));
  }

  emu::VirtualPrinter printer;
  std::unique_ptr<LineClient> line;
};

TEST_F(VirtualFiscalDrive, StatusAndExchangeRecordsHaveTheirLayouts) {
  printer.ModifyState([](emu::PrinterState& s) {
    s.shiftOpen = true;
    s.fd.warnings = 0x05;
    emu::PreloadDocuments(&s, 3);
  });
  const Bytes status = Command("S\"", 75);
  ASSERT_EQ(status.size(), 75u);
  ASSERT_TRUE(CheckOk(status));
  const Bytes st = Unnibble(status, 1, 36);
  EXPECT_EQ(st[0], 0x04);
  EXPECT_EQ(st[1] | (st[2] << 8), 31);
  EXPECT_EQ(st[4], 3);     // fiscal mode
  EXPECT_EQ(st[7], 1);     // shift open
  EXPECT_EQ(st[8], 0x05);  // warnings
  EXPECT_EQ(std::string(st.begin() + 14, st.begin() + 30), "9999078900012345");
  EXPECT_EQ(Bytes(st.begin() + 30, st.begin() + 34), (Bytes{3, 0, 0, 0}));

  const Bytes exchange = Command("SuF", 44);
  ASSERT_EQ(exchange.size(), 44u);
  ASSERT_TRUE(CheckOk(exchange));
  EXPECT_EQ(std::string(exchange.begin() + 1, exchange.begin() + 4), "SuF");
  const Bytes ex = Message(exchange);
  EXPECT_EQ(Bytes(ex.begin() + 6, ex.begin() + 12), (Bytes{3, 0, 1, 0, 0, 0}));  // count 3, first number 1

  const Bytes tax = Command("Su!", 10);
  ASSERT_TRUE(CheckOk(tax));
  EXPECT_EQ(std::string(tax.begin() + 1, tax.end() - 2), "Su!0001");
}

TEST_F(VirtualFiscalDrive, MessageIsReadInBlocksAndLeavesWithItsAcknowledgement) {
  printer.ModifyState([](emu::PrinterState& s) { emu::PreloadDocuments(&s, 2); });
  const emu::PrinterState state = printer.State();
  const Bytes expected = emu::MessageOf(state, state.fd.documents[0]);
  ASSERT_EQ(Bytes(expected.begin(), expected.begin() + 4), (Bytes{0x2A, 0x08, 0x41, 0x0A}));  // firmware 1.05

  Command("SuG1", 18);
  const Bytes length = Message(Command("SuH", 22));
  ASSERT_EQ(length[4] | (length[5] << 8), static_cast<int>(expected.size()));
  Bytes read;
  for (size_t offset = 0; offset < expected.size(); offset += 50) {
    const std::string request =
        "SuI" + Nibbles({static_cast<uint8_t>(offset), static_cast<uint8_t>(offset >> 8), 50});
    const Bytes answer = Command(request, 18 + 2 * std::min<size_t>(50, expected.size() - offset));
    ASSERT_TRUE(CheckOk(answer)) << offset;
    const Bytes m = Message(answer);
    read.insert(read.end(), m.begin() + 4, m.end() - 2);
  }
  EXPECT_EQ(read, expected);

  Command("SuK", 18);
  const Bytes wrong = Message(Command("SuL" + Nibbles(AckContainer(2)), 20));
  EXPECT_EQ(Bytes(wrong.begin() + 3, wrong.begin() + 5), (Bytes{0x20, emu::kFdReasonWrongDocument}));
  const Bytes foreign = Message(Command("SuL" + Nibbles(AckContainer(1, "1111222233334444")), 20));
  EXPECT_EQ(foreign[4], emu::kFdReasonWrongDrive);
  EXPECT_EQ(emu::Backlog(printer.State()).size(), 2u);

  const Bytes accepted = Message(Command("SuL" + Nibbles(AckContainer(1)), 18));
  EXPECT_EQ(accepted[3], 0x00);
  // The backlog points into the state it was taken from, so that copy must outlive it.
  const emu::PrinterState after = printer.State();
  const std::vector<const emu::FdDocument*> left = emu::Backlog(after);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0]->number, 2u);
}

TEST_F(VirtualFiscalDrive, OlderFirmwareHandsOutTheContainerAlone) {
  printer.ModifyState([](emu::PrinterState& s) {
    s.banner = emu::kBannerFfd100;
    emu::PreloadDocuments(&s, 1);
  });
  const emu::PrinterState state = printer.State();
  const Bytes message = emu::MessageOf(state, state.fd.documents[0]);
  ffd::Container c;
  ASSERT_EQ(ffd::ParseContainer(message.data(), message.size(), &c), ffd::ContainerError::kNone);
  EXPECT_EQ(c.documentNumber, 1u);
  EXPECT_EQ(c.driveNumber, state.fdNumber);
}

TEST_F(VirtualFiscalDrive, ReprintEchoesTheLinesAndEndsWithTheFinalChunk) {
  emu::FdSigned signedDoc{};
  printer.ModifyState([&](emu::PrinterState& s) { signedDoc = emu::AddDocument(&s, ffd::kReceipt, {}); });
  const Bytes echo = Command("Suq" + Nibbles({1, 0, 0, 0}), 4 * 47 + 1);
  ASSERT_EQ(echo.size(), 4 * 47 + 1u);
  for (size_t chunk = 0; chunk < 4; ++chunk) {
    EXPECT_EQ(echo[chunk * 47], STX);
    EXPECT_EQ(echo[chunk * 47 + 1], chunk == 3 ? 0x19 : 0x18);
    EXPECT_EQ(echo[chunk * 47 + 46], ETX);
  }
  const std::string signLine(echo.begin() + 2 * 47 + 2, echo.begin() + 2 * 47 + 46);
  EXPECT_NE(signLine.find("=" + std::to_string(signedDoc.fiscalSign) + " "), std::string::npos) << signLine;
  EXPECT_TRUE(line->QuietFor(100));
}

TEST_F(VirtualFiscalDrive, FaultsOfTheDrive) {
  printer.ModifyState([](emu::PrinterState& s) {
    emu::PreloadDocuments(&s, 1);
    s.fd.faults.errorAnswer = 0x14;
    s.fd.faults.stalledReads = 1;
    s.fd.faults.zeroBlocks = 1;
    s.fd.faults.overlongBlocks = 1;
    s.fd.faults.refusedReceipts = 1;
  });
  const Bytes error = Command("SuF", 18);
  ASSERT_TRUE(CheckOk(error));
  EXPECT_EQ(Message(error)[3], 0x14);

  // Each answer is read to its exact length and must be all there is.
  const std::string block = "SuI" + Nibbles({0, 0, 10});
  line->SendFrame(block);
  EXPECT_TRUE(line->QuietFor(200));
  for (size_t dataBytes : {0, 26, 10}) {  // no data, 16 bytes more than asked, faults used up
    const Bytes answer = Command(block, 18 + 2 * dataBytes);
    EXPECT_TRUE(CheckOk(answer)) << dataBytes;
    EXPECT_TRUE(line->QuietFor(50)) << dataBytes;
  }

  const Bytes refused = Message(Command("SuL" + Nibbles(AckContainer(1)), 20));
  EXPECT_EQ(Bytes(refused.begin() + 3, refused.begin() + 5), (Bytes{0x20, emu::kFdReasonOnRequest}));
  EXPECT_EQ(emu::Backlog(printer.State()).size(), 1u);
}

}  // namespace
