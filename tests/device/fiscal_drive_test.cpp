// The fiscal-drive commands against the virtual printer's fiscal drive: the status records, the
// message read in blocks and the operator's receipt written back, the fiscal sign from the reprint
// echo, and every answer of the drive whose lengths or counts do not add up.
#include "device/fiscal_drive.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "device/link.h"
#include "ffd/ffd.h"
#include "support/device_on_line.h"

namespace {

using emu::Bytes;

// The drive's message of an answer, as nibble characters: start, length, code, data, check value.
std::string MessageText(uint8_t code, const Bytes& data, uint16_t length) {
  Bytes m{0x04, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8), code};
  m.insert(m.end(), data.begin(), data.end());
  m.insert(m.end(), {0x12, 0x34});
  std::string text;
  for (uint8_t b : m) {
    text.push_back(static_cast<char>(0x30 + (b >> 4)));
    text.push_back(static_cast<char>(0x30 + (b & 0x0F)));
  }
  return text;
}
std::string MessageText(uint8_t code, const Bytes& data = {}) {
  return MessageText(code, data, static_cast<uint16_t>(data.size() + 1));
}

class FiscalDriveTest : public DeviceOnLine {
 protected:
  FiscalDriveTest() : DeviceOnLine(47, 300) {}

  void SetUp() override {
    DeviceOnLine::SetUp();
    ctx.pRecodeTable = DeviceRecodeTable(3);
  }

  // Reads the first waiting message as the relay does: its length, blocks of 200, the end of the read.
  Bytes ReadMessage() {
    uint32_t code = 99, length = 0;
    EXPECT_EQ(ExecSuG(&ctx, false, &code), 0);
    EXPECT_EQ(ExecSuH(&ctx, &length, &code), 0);
    EXPECT_EQ(code, 0u);
    Bytes message(length);
    for (uint32_t got = 0; got < length;) {
      int count = 0;
      EXPECT_EQ(
          ExecSuI(&ctx, message.data() + got, 200, static_cast<int>(got), &count, &code, nullptr, nullptr),
          0);
      EXPECT_EQ(code, 0u);
      if (count <= 0) break;
      got += static_cast<uint32_t>(count);
    }
    EXPECT_EQ(ExecSuK(&ctx, &code), 0);
    return message;
  }
  Bytes Acknowledgement(uint32_t number) {
    ffd::Acknowledgement a;
    a.driveNumber = printer.State().fdNumber;
    a.documentNumber = number;
    return ffd::BuildContainer(ffd::AcknowledgementContainer(a));
  }
  std::vector<const emu::FdDocument*> Backlog() {
    m_state = printer.State();
    return emu::Backlog(m_state);
  }

 private:
  emu::PrinterState m_state;
};

TEST_F(FiscalDriveTest, StatusDecodesToTheDrivesValues) {
  printer.ModifyState([](emu::PrinterState& s) {
    s.shiftOpen = true;
    s.fd.warnings = 0x09;
    emu::PreloadDocuments(&s, 10);
  });
  ASSERT_EQ(GetStatusFiscalDrive(&ctx), 0);
  const Bytes sent = printer.TraceEntries().front().bytes;
  EXPECT_EQ(sent, (Bytes{0x02, 0x53, 0x22, 0x03, 0x72}));
  EXPECT_EQ(ctx.FdStatus.nFdLifePhase, 3);
  EXPECT_EQ(ctx.FdStatus.bFdShiftOpen, 1);
  EXPECT_EQ(ctx.FdStatus.nFdWarnings, 0x09);
  EXPECT_EQ(ctx.nFdWarningFlags, 0x09);
  EXPECT_STREQ(ctx.FdStatus.szFdNumber, "9999078900012345");
  EXPECT_EQ(ctx.FdStatus.nFdLastDocNumber, 10u);
  EXPECT_EQ(log.Count("*ADFD22: Decoded: [02h](STX) [04h] Len:[31] Code:[00h] State life phase:[03h]"), 1)
      << log.Text();
  EXPECT_TRUE(log.Has("{GetStatusFiscalDrive"));
  EXPECT_TRUE(log.Has("}ExecTransactionFD22 ret 0"));

  ASSERT_EQ(GetStatusInfoFiscalDrive(&ctx), 0);
  EXPECT_GE(printer.DataFramesAcknowledged(), 1);  // the status answer's, taken before this answer came
  EXPECT_EQ(ctx.FdExchange.nFdBacklogCount, 10);
  EXPECT_EQ(ctx.FdExchange.nFdBacklogFirstDoc, 1u);
  EXPECT_EQ(ctx.FdExchange.abFdBacklogFirstDate[1], 12);  // the fake clock's December

  printer.ModifyState([](emu::PrinterState& s) { s.fd.taxSystems = 0x21; });
  ASSERT_EQ(GetTaxVariant(&ctx), 0);
  EXPECT_EQ(ctx.nFdTaxSystems, 0x21);
  const struct {
    int n;
    bool allowed;
  } taxes[] = {{0, true}, {1, false}, {5, true}, {6, false}, {-1, false}, {8, false}, {INT_MIN, false}};
  for (const auto& t : taxes) EXPECT_EQ(IsTaxSystemAllowed(&ctx, t.n), t.allowed) << t.n;
}

TEST_F(FiscalDriveTest, SpoiledStatusAnswersAreProtocolErrorsAndLeaveTheRecordsEmpty) {
  ASSERT_EQ(GetStatusFiscalDrive(&ctx), 0);
  ASSERT_NE(ctx.FdStatus.szFdNumber[0], '\0');
  const std::string status = MessageText(0, Bytes(30, 0x31));
  printer.AnswerNextWithBadCheck("", status);
  EXPECT_EQ(GetStatusFiscalDrive(&ctx), -5);
  EXPECT_EQ(ctx.FdStatus.szFdNumber[0], '\0');
  EXPECT_EQ(ctx.FdStatus.nFdLastDocNumber, 0u);
  EXPECT_EQ(printer.DataFramesAcknowledged(), 1);  // the first answer only

  printer.AnswerNextWithData("SuG", MessageText(0, Bytes(15, 0)));  // right length, wrong echo
  EXPECT_EQ(ReadInfoSuF(&ctx), -5);
  printer.AnswerNextWithData("", "");  // far too short
  EXPECT_EQ(GetTaxVariant(&ctx), -4);
  EXPECT_EQ(ctx.nFdTaxSystems, 0);
}

TEST_F(FiscalDriveTest, ExchangeErrorAnswerIsLoggedWithTheExtendedStatus) {
  printer.ModifyState([](emu::PrinterState& s) { s.fd.faults.errorAnswer = 0x14; });
  EXPECT_EQ(ReadInfoSuF(&ctx), -4);
  EXPECT_EQ(log.Count("*ADFDSuF: Decoded: [02h](STX) SuF [04h] Len:[1] Error code:[14h]"), 1) << log.Text();
  EXPECT_EQ(log.Count("{GetStatusT"), 1);
  EXPECT_EQ(ctx.FdExchange.nFdBacklogCount, 0);
}

TEST_F(FiscalDriveTest, NothingIsSentOnOtherModelsOrWithThePortClosed) {
  ctx.nVersionMajor = 7;
  uint32_t code = 0, length = 0;
  uint8_t block[200];
  int count = 0;
  char sign[11] = {};
  EXPECT_EQ(ReadInfoSuF(&ctx), 0);
  EXPECT_EQ(GetTaxVariant(&ctx), 0);
  EXPECT_EQ(ExecSuG(&ctx, true, &code), 0);
  EXPECT_EQ(ExecSuH(&ctx, &length, &code), 0);
  EXPECT_EQ(ExecSuI(&ctx, block, 200, 0, &count, &code, nullptr, nullptr), 0);
  EXPECT_EQ(GetFiscalP(&ctx, 1, sign), 35);
  EXPECT_TRUE(line.Commands().empty());

  ctx.nVersionMajor = 11;
  CloseSerial(&ctx);
  EXPECT_EQ(GetStatusFiscalDrive(&ctx), -1);
  EXPECT_EQ(ExecSuJ(&ctx, &code), -1);
  EXPECT_EQ(ExecSuL(&ctx, block, 10, &code), -1);
  EXPECT_EQ(GetFiscalP(&ctx, 1, sign), -1);
  EXPECT_EQ(ctx.nLastResult, 1);
}

TEST_F(FiscalDriveTest, RequestTexts) {
  uint32_t code = 0;
  uint8_t block[200];
  int count = 0;
  printer.ModifyState([](emu::PrinterState& s) { emu::AddRawMessage(&s, Bytes(600, 0x55)); });
  ExecSuG(&ctx, true, &code);
  ExecSuG(&ctx, false, &code);
  ExecSuI(&ctx, block, 200, 400, &count, &code, nullptr, nullptr);
  EXPECT_EQ(line.Commands(), (std::vector<std::string>{"SuG0", "SuG1", "SuI9001<8"}));
  EXPECT_TRUE(log.Has("*ExecSuG: [02]SuG0[03][52]")) << log.Text();
  EXPECT_TRUE(log.Has("<send [02]SuI9001<8[03][60] (SuI Info)")) << log.Text();
}

TEST_F(FiscalDriveTest, MessagesAreReadExactlyAndLeaveWithTheOperatorsReceipt) {
  for (size_t size : {1, 199, 200, 201, 5000}) {
    Bytes message(size);
    for (size_t i = 0; i < size; ++i) message[i] = static_cast<uint8_t>(i * 7 + size);
    uint32_t number = 0;
    printer.ModifyState([&](emu::PrinterState& s) { number = emu::AddRawMessage(&s, message); });
    EXPECT_EQ(ReadMessage(), message) << size;

    const Bytes ack = Acknowledgement(number);
    uint32_t reason = 99;
    ASSERT_EQ(ExecSuL(&ctx, ack.data(), static_cast<int>(ack.size()), &reason), 0);
    EXPECT_EQ(reason, 0u) << size;
    EXPECT_TRUE(Backlog().empty()) << size;
  }
}

TEST_F(FiscalDriveTest, ARefusedReceiptLeavesTheMessageWaiting) {
  printer.ModifyState([](emu::PrinterState& s) {
    emu::PreloadDocuments(&s, 2);
    s.fd.faults.refusedReceipts = 1;
  });
  const emu::PrinterState state = printer.State();
  EXPECT_EQ(ReadMessage(), emu::MessageOf(state, state.fd.documents[0]));

  struct Case {
    uint32_t acknowledged;
    uint32_t reason;
  } cases[] = {{1, 0x0E}, {2, emu::kFdReasonWrongDocument}};
  for (const Case& c : cases) {
    const Bytes ack = Acknowledgement(c.acknowledged);
    uint32_t reason = 0;
    ASSERT_EQ(ExecSuL(&ctx, ack.data(), static_cast<int>(ack.size()), &reason), 0);
    EXPECT_EQ(reason, c.reason);
    EXPECT_EQ(Backlog().size(), 2u);
  }
  EXPECT_TRUE(log.Has("*ExecSuL: Refusal to accept a receipt from the FDO server: [0E]")) << log.Text();

  const Bytes ack = Acknowledgement(1);
  uint32_t reason = 99;
  ASSERT_EQ(ExecSuL(&ctx, ack.data(), static_cast<int>(ack.size()), &reason), 0);
  EXPECT_EQ(reason, 0u);
  ASSERT_EQ(ReadInfoSuF(&ctx), 0);
  EXPECT_EQ(ctx.FdExchange.nFdBacklogCount, 1);
  EXPECT_EQ(ctx.FdExchange.nFdBacklogFirstDoc, 2u);

  // Nothing to write: an operator answer no longer than its session header.
  EXPECT_EQ(ExecSuL(&ctx, ack.data(), 0, &reason), -5);
  EXPECT_EQ(ExecSuL(&ctx, nullptr, 10, &reason), -5);
}

TEST_F(FiscalDriveTest, BlockAnswersWhoseCountsDoNotAddUp) {
  printer.ModifyState([](emu::PrinterState& s) { emu::AddRawMessage(&s, Bytes(300, 0x5A)); });
  struct Case {
    const char* what;
    std::function<void()> stage;
    int result;
    int count;
    uint32_t code;
  } cases[] = {
      {"zero-byte block",
       [&] { printer.ModifyState([](emu::PrinterState& s) { s.fd.faults.zeroBlocks = 1; }); }, 0, 0, 0},
      {"over-long block",
       [&] { printer.ModifyState([](emu::PrinterState& s) { s.fd.faults.overlongBlocks = 1; }); }, -6, 0, 0},
      {"stalled read",
       [&] { printer.ModifyState([](emu::PrinterState& s) { s.fd.faults.stalledReads = 1; }); }, -4, 0, 0},
      {"more to come", [&] { printer.AnswerNextWithData("SuI", MessageText(0x80, Bytes(10, 0x11))); }, 0, 10,
       0},
      {"length field 0", [&] { printer.AnswerNextWithData("SuI", MessageText(0, {}, 0)); }, -5, 0, 0},
      {"length beyond the bytes", [&] { printer.AnswerNextWithData("SuI", MessageText(0, Bytes(4, 1), 60)); },
       -5, 0, 0},
      {"block beyond the buffer", [&] { printer.AnswerNextWithData("SuI", MessageText(0, Bytes(250, 1))); },
       -6, 0, 0},
      {"drive error", [&] { printer.AnswerNextWithData("SuI", MessageText(0x23)); }, 0, 0, 0x23},
  };
  for (const Case& c : cases) {
    c.stage();
    uint8_t block[200] = {};
    int count = -1;
    uint32_t code = 99;
    EXPECT_EQ(ExecSuI(&ctx, block, 20, 0, &count, &code, nullptr, nullptr), c.result) << c.what;
    EXPECT_EQ(count, c.count) << c.what;
    if (c.result == 0) {
      EXPECT_EQ(code, c.code) << c.what;
    }
    // Whatever came, the line is clean for the next block.
    EXPECT_EQ(ExecSuI(&ctx, block, 20, 20, &count, &code, nullptr, nullptr), 0) << c.what;
    EXPECT_EQ(count, 20) << c.what;
  }
  int count = 0;
  uint32_t code = 0;
  uint8_t block[1];
  EXPECT_EQ(ExecSuI(&ctx, nullptr, 20, 0, &count, &code, nullptr, nullptr), -5);
  EXPECT_EQ(ExecSuI(&ctx, block, 0, 0, &count, &code, nullptr, nullptr), -5);
  EXPECT_EQ(ExecSuI(&ctx, block, 256, 0, &count, &code, nullptr, nullptr), -5);
  EXPECT_EQ(ExecSuI(&ctx, block, 1, 0x10000, &count, &code, nullptr, nullptr), -5);
  EXPECT_EQ(ExecSuI(&ctx, block, 1, 0, nullptr, &code, nullptr, nullptr), -5);
}

TEST_F(FiscalDriveTest, RawCopyOfABlockAnswerNeverPassesItsSize) {
  printer.ModifyState([](emu::PrinterState& s) { emu::AddRawMessage(&s, Bytes(10, 0x41)); });
  const int answer = 18 + 2 * 10;  // 38 bytes on the line
  struct Case {
    int size;
    int sizeAfter;
    bool framed;
  } cases[] = {
      {10, 10, false}, {answer, answer, false}, {answer + 9, answer, false}, {answer + 10, answer + 9, true}};
  for (const Case& c : cases) {
    std::vector<char> raw(static_cast<size_t>(c.size) + 8, '#');
    int size = c.size;
    uint8_t block[10];
    int count = 0;
    uint32_t code = 0;
    ASSERT_EQ(ExecSuI(&ctx, block, 10, 0, &count, &code, raw.data(), &size), 0) << c.size;
    EXPECT_EQ(size, c.sizeAfter) << c.size;
    EXPECT_EQ(std::string(raw.begin() + c.size, raw.end()), std::string(8, '#')) << c.size;
    if (c.framed) {
      EXPECT_EQ(std::string(raw.data(), 7), "[02]SuI");
      EXPECT_EQ(std::string(raw.data() + answer + 1, 5), "[03][") << std::string(raw.data(), size);
    }
  }
}

TEST_F(FiscalDriveTest, FiscalSignComesFromTheReprintEcho) {
  emu::FdSigned doc{};
  printer.ModifyState([&](emu::PrinterState& s) { doc = emu::AddDocument(&s, ffd::kReceipt, {}); });
  char sign[20] = {};
  EXPECT_EQ(GetFiscalP(&ctx, doc.number, sign), 0);
  EXPECT_EQ(std::string(sign), std::to_string(doc.fiscalSign));
  EXPECT_EQ(ctx.nLastResult, 0);
  EXPECT_TRUE(log.Has("*GetFiscalP: Fiscal sign: " + std::to_string(doc.fiscalSign))) << log.Text();
  EXPECT_EQ(line.Commands("Suq"), (std::vector<std::string>{"Suq01000000"}));

  char none[20] = "untouched";
  EXPECT_EQ(GetFiscalP(&ctx, 99, none), 0);
  EXPECT_STREQ(none, "untouched");

  // The line is clean afterwards: the final chunk's extra byte was read.
  EXPECT_EQ(GetStatusFiscalDrive(&ctx), 0);
}

TEST_F(FiscalDriveTest, AnEchoWithoutEndIsGivenUpOn) {
  emu::FdSigned doc{};
  printer.ModifyState([&](emu::PrinterState& s) {
    doc = emu::AddDocument(&s, ffd::kReceipt, {});
    s.fd.faults.endlessEcho = true;
  });
  char sign[20] = {};
  EXPECT_EQ(GetFiscalP(&ctx, doc.number, sign), 0);
  EXPECT_EQ(std::string(sign), std::to_string(doc.fiscalSign));
  EXPECT_TRUE(log.Has("*GetFiscalP: Echo without end, given up")) << log.Text();
}

TEST_F(FiscalDriveTest, StatusTextOfTheDrive) {
  char text[601];
  ASSERT_EQ(ExecSu5(&ctx, text, sizeof text), 0);
  EXPECT_EQ(std::string(text, 3), "Su5");
  EXPECT_EQ(strlen(text), 3 + 2 * 36u);

  char small[8];
  ASSERT_EQ(ExecSu5(&ctx, small, sizeof small), 0);
  EXPECT_STREQ(small, "Su5041?");  // start 04, length 31

  printer.AddCommand("Su5", [](emu::PrinterState&, const std::string&) {
    return emu::Reply::Raw({0x02, 0x03});
  });
  strcpy(text, "old");
  EXPECT_EQ(ExecSu5(&ctx, text, sizeof text), 0);
  EXPECT_STREQ(text, "");
}

}  // namespace
