#include "emu/virtual_printer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "line_client.h"

namespace {

using emu::Bytes;
using emu::PrinterState;
using emu::VirtualPrinter;
using emu_test::LineClient;
using Clock = std::chrono::steady_clock;

constexpr uint8_t STX = 0x02, ETX = 0x03, ENQ = 0x05, ACK = 0x06, ENQ2 = 0x11, NAK = 0x15, ENQT = 0x1A;

// The frame the driver expects, built here byte by byte rather than with the printer's helpers.
Bytes Framed(const std::string& payload) {
  Bytes f{STX};
  uint8_t bcc = 0;
  for (char c : payload) {
    f.push_back(static_cast<uint8_t>(c));
    bcc ^= static_cast<uint8_t>(c);
  }
  f.push_back(ETX);
  f.push_back(bcc ^ ETX);
  return f;
}

Bytes Status(uint8_t b0, uint8_t b1) {
  return Framed(std::string{char(b0), char(b1)});
}

int64_t Now() {
  return static_cast<int64_t>(std::time(nullptr));
}

// These tests use "S3" as a plain command that the printer accepts, not as the query it is.
void AcceptS3AsPlainCommand(VirtualPrinter* printer) {
  printer->AddCommand("S3", [](PrinterState&, const std::string&) { return emu::Reply::Accept(); });
}

class VirtualPrinterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AcceptS3AsPlainCommand(&printer);
    ASSERT_TRUE(printer.Start());
    line = std::make_unique<LineClient>(printer.PortPath());
    ASSERT_TRUE(line->IsOpen());
  }

  Bytes Command(const std::string& text, size_t answerLength) {
    line->SendFrame(text);
    return line->Read(answerLength);
  }
  Bytes Request(uint8_t control, size_t answerLength) {
    line->Send({control});
    return line->Read(answerLength);
  }

  VirtualPrinter printer;
  std::unique_ptr<LineClient> line;
};

TEST_F(VirtualPrinterTest, AnswersEachCommandFrameOnceAndIgnoresNoise) {
  struct Case {
    const char* name;
    Bytes sent;
    uint8_t answer;
  } cases[] = {
      {"info query", {0x02, 0x53, 0x33, 0x03, 0x63}, ACK},
      {"wrong check character", {0x02, 0x53, 0x33, 0x03, 0x64}, NAK},
      {"any other command", Framed("X0"), ACK},
      {"noise before the frame", {0x7E, 0x41, 0x02, 0x53, 0x33, 0x03, 0x63}, ACK},
      {"frame cut short by the next", {0x02, 0x53, 0x02, 0x53, 0x33, 0x03, 0x63}, ACK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    line->Send(c.sent);
    EXPECT_EQ(line->Read(1), Bytes{c.answer});
    EXPECT_TRUE(line->QuietFor(60));
  }
}

TEST_F(VirtualPrinterTest, StatusRequestsReportTheState) {
  struct Case {
    const char* name;
    std::function<void(PrinterState&)> set;
    uint8_t request;
    Bytes answer;
  } cases[] = {
      {"idle fiscal register", [](PrinterState&) {}, ENQ, {0x02, 0x60, 0x40, 0x03, 0x23}},
      {"busy", [](PrinterState& s) { s.busy = true; }, ENQ, Status(0x64, 0x40)},
      {"fiscal receipt open", [](PrinterState& s) { s.fiscalReceiptOpen = true; }, ENQ, Status(0x61, 0x40)},
      {"non-fiscal receipt open", [](PrinterState& s) { s.receiptOpen = true; }, ENQ, Status(0x62, 0x40)},
      {"receipt on a non-fiscal register",
       [](PrinterState& s) { s.fiscal = false, s.fiscalReceiptOpen = true; }, ENQ, Status(0x42, 0x40)},
      {"paper end", [](PrinterState& s) { s.paperEnd = true; }, ENQ, Status(0x60, 0x41)},
      {"shift closed", [](PrinterState&) {}, ENQ2, Status(0x40, 0x70)},
      {"shift open 23 hours",
       [](PrinterState& s) { s.shiftOpen = true, s.shiftOpenedAt = Now() - 23 * 3600; }, ENQ2,
       Status(0x41, 0x70)},
      {"shift open 25 hours",
       [](PrinterState& s) { s.shiftOpen = true, s.shiftOpenedAt = Now() - 25 * 3600; }, ENQ2,
       Status(0x61, 0x70)},
      {"Z report required", [](PrinterState& s) { s.zReportRequired = true; }, ENQ2, Status(0x60, 0x70)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    printer.ModifyState([&](PrinterState& s) {
      s = PrinterState{};
      c.set(s);
    });
    EXPECT_EQ(Request(c.request, 5), c.answer);
    EXPECT_TRUE(line->QuietFor(30));
  }
}

TEST_F(VirtualPrinterTest, ExtendedStatusHasTheTwentySevenByteLayout) {
  std::tm opened{};
  opened.tm_year = 2024 - 1900, opened.tm_mon = 2, opened.tm_mday = 5, opened.tm_hour = 7, opened.tm_min = 9;
  opened.tm_isdst = -1;
  int64_t openedAt = std::mktime(&opened);
  printer.ModifyState([&](PrinterState& s) {
    s.shiftOpen = true, s.shiftOpenedAt = openedAt, s.documentType = 1, s.deviceError = 0x2A;
  });

  Bytes answer = Request(ENQT, 28);
  ASSERT_EQ(answer.size(), 28u);
  EXPECT_TRUE(line->QuietFor(30));
  // The shift is years old, so status2 also says its time is exceeded.
  std::string expected =
      "\x60\x40\x61"  // status 0, status 1, status2 byte 0
      "00"            // journal state
      "2:"            // error code 0x2A as nibble characters
      "1"             // open document type
      "000"
      "00"
      "00"
      "00"
      "\x35\x33\x48"  // 5 March 24
      "\x37\x39"      // 07:09
      "00"
      "\x48";  // 24 hours at most
  EXPECT_EQ(answer, Framed(expected));
}

TEST_F(VirtualPrinterTest, FaultsReplaceAnswersThenTheLineRecovers) {
  struct Case {
    const char* name;
    std::function<void(VirtualPrinter&)> inject;
    std::vector<Bytes> answers;  // to consecutive "S3" commands; empty = no answer at all
  } cases[] = {
      {"NAK twice", [](VirtualPrinter& p) { p.NakNext(2); }, {{NAK}, {NAK}}},
      {"busy once", [](VirtualPrinter& p) { p.BusyNext(1); }, {{0x02, 0x64, 0x40, 0x03, 0x27}}},
      {"silent once", [](VirtualPrinter& p) { p.IgnoreNext(1); }, {{}}},
      {"stray bytes",
       [](VirtualPrinter& p) {
         p.SendStrayBytes({0x7E, 0x41, 0x42});
       },
       {{0x7E, 0x41, 0x42, ACK}}},
      {"device ENQ", [](VirtualPrinter& p) { p.AnswerNextWithEnq(); }, {{ENQ}}},
      {"refused", [](VirtualPrinter& p) { p.RefuseNext(0x21); }, {{0x02, 0x60, 0x50, 0x03, 0x33}}},
      {"data frame", [](VirtualPrinter& p) { p.AnswerNextWithData("S1", "0;<?"); }, {Framed("S10;<?")}},
      {"queued one-shots in order",
       [](VirtualPrinter& p) {
         p.AnswerNextWithData("S2", "7");
         p.RefuseNext(3);
       },
       {Framed("S27"), Status(0x60, 0x50)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.inject(printer);
    for (const Bytes& answer : c.answers) {
      if (answer.empty()) {
        line->SendFrame("S3");
        EXPECT_TRUE(line->QuietFor(150));
      } else {
        EXPECT_EQ(Command("S3", answer.size()), answer);
      }
    }
    EXPECT_EQ(Command("S3", 1), Bytes{ACK}) << "the fault outlived its count";
    EXPECT_TRUE(line->QuietFor(30));
  }
}

TEST_F(VirtualPrinterTest, AFaultAfterACommandActsOnceItWasCarriedOut) {
  printer.AddCommand("X", [](PrinterState&, const std::string&) { return emu::Reply::Accept(); });
  printer.AfterNextCommand(
      "X", [](PrinterState& s) { s.paperEnd = true; }, 2);
  EXPECT_EQ(Command("S3", 1), Bytes{ACK}) << "another command does not trigger it";
  EXPECT_FALSE(printer.State().paperEnd);
  EXPECT_EQ(Command("X1", 1), Bytes{ACK}) << "the command itself is carried out and answered";
  EXPECT_TRUE(printer.State().paperEnd);
  // The line is dead for two units, status requests included, then answers again.
  line->Send({ENQ});
  EXPECT_TRUE(line->QuietFor(150));
  line->SendFrame("S3");
  EXPECT_TRUE(line->QuietFor(150));
  EXPECT_EQ(Command("S3", 1), Bytes{ACK});
  EXPECT_EQ(Command("X1", 1), Bytes{ACK}) << "the fault fires once";
  EXPECT_EQ(Command("S3", 1), Bytes{ACK});
}

TEST_F(VirtualPrinterTest, StatusIsAnsweredAfterADeviceEnq) {
  printer.AnswerNextWithEnq();
  ASSERT_EQ(Command("S3", 1), Bytes{ENQ});
  line->Send({ACK});
  EXPECT_EQ(line->Read(5), Status(0x60, 0x40));
  EXPECT_EQ(Request(ENQT, 28).size(), 28u);
  EXPECT_EQ(printer.DataFramesAcknowledged(), 0) << "an ACK to a device ENQ settles no data frame";
}

TEST_F(VirtualPrinterTest, RefusalLeavesItsErrorCodeUntilACommandIsAccepted) {
  printer.RefuseNext(0x21, emu::kFiscalError);
  ASSERT_EQ(Command("S3", 5), Status(0x60, 0x60));
  Bytes refused = Request(ENQT, 28);
  ASSERT_EQ(refused.size(), 28u);
  EXPECT_EQ(refused[2], 0x60);
  EXPECT_EQ(std::string(refused.begin() + 6, refused.begin() + 8), "21");

  ASSERT_EQ(Command("S3", 1), Bytes{ACK});
  Bytes accepted = Request(ENQT, 28);
  ASSERT_EQ(accepted.size(), 28u);
  EXPECT_EQ(accepted[2], 0x40);
  EXPECT_EQ(std::string(accepted.begin() + 6, accepted.begin() + 8), "00");
}

TEST_F(VirtualPrinterTest, DataFramesAreSettledByTheDriversAck) {
  printer.AnswerNextWithData("S1", "12");
  printer.AnswerNextWithBadCheck("S1", "12");

  const Bytes sound = Framed("S112");
  ASSERT_EQ(Command("S3", 7), sound);
  line->Send({ACK});
  Bytes spoiled = Command("S3", 7);
  ASSERT_EQ(spoiled.size(), 7u);
  EXPECT_TRUE(std::equal(sound.begin(), sound.end() - 1, spoiled.begin()));
  EXPECT_NE(spoiled.back(), sound.back());

  // The status answer shows that the ACK before it has been taken in.
  EXPECT_EQ(Request(ENQ, 5).size(), 5u);
  EXPECT_EQ(printer.DataFramesAcknowledged(), 1);
}

// Between a data frame and the driver's ACK nothing else may ask the printer for an answer: a second
// party on the line shows as a collision.
TEST_F(VirtualPrinterTest, RequestsBeforeTheAckCollideWithTheExchange) {
  printer.AnswerNextWithData("S1", "12");
  printer.AnswerNextWithData("S1", "12");
  ASSERT_EQ(Command("S3", 7), Framed("S112"));
  line->Send({ACK});
  EXPECT_EQ(Request(ENQ, 5).size(), 5u);
  EXPECT_EQ(printer.CollidingRequests(), 0);

  ASSERT_EQ(Command("S3", 7), Framed("S112"));
  ASSERT_EQ(Command("S3", 1), Bytes{ACK});
  EXPECT_EQ(Request(ENQ, 5).size(), 5u);
  EXPECT_EQ(printer.CollidingRequests(), 2);
}

TEST_F(VirtualPrinterTest, HandlersAreChosenByTheLongestPrefix) {
  printer.AddCommand("Q", [](PrinterState&, const std::string&) { return emu::Reply::Refuse(5); });
  printer.AddCommand("QX", [](PrinterState& s, const std::string&) {
    s.shiftOpen = true;
    return emu::Reply::Accept();
  });
  EXPECT_EQ(Command("Q1", 5), Status(0x60, 0x50));
  EXPECT_EQ(Command("QX1", 1), Bytes{ACK});
  EXPECT_TRUE(printer.State().shiftOpen);
  EXPECT_EQ(Command("~", 1), Bytes{ACK});
}

TEST_F(VirtualPrinterTest, BytesArePacedAtTheGivenSpeed) {
  const std::string body(200, '5');
  const size_t frameLength = 205;
  const double pacedMs = frameLength * 11 * 1000.0 / 9600;  // about 235 ms

  auto timeAnswer = [&] {
    printer.AnswerNextWithData("S1", body);
    auto start = Clock::now();
    Bytes answer = Command("S3", frameLength);
    EXPECT_EQ(answer.size(), frameLength);
    line->Send({ACK});
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  };
  EXPECT_LT(timeAnswer(), pacedMs / 2);
  printer.SetBaudRate(9600);
  double ms = timeAnswer();
  EXPECT_GT(ms, pacedMs * 0.8);
  EXPECT_LT(ms, pacedMs * 3);
}

// Every interval the printer spends is accounted: the bytes both ways at the line's speed, and
// the modelled time of each command with the lines it printed and the documents it wrote.
TEST_F(VirtualPrinterTest, AccountsForTheWireAndTheDeviceTime) {
  printer.AddCommand("P", [](PrinterState& s, const std::string&) {
    s.tape.push_back({"one"});
    s.tape.push_back({"two"});
    return emu::Reply::Accept();
  });
  printer.SetBaudRate(115200);
  printer.SetTiming({1000, 20, 300});
  printer.ResetAccounts();
  EXPECT_EQ(Command("S3", 1), Bytes{ACK});
  EXPECT_EQ(Command("P", 1), Bytes{ACK});
  line->Send({ENQ});
  EXPECT_EQ(line->Read(5).size(), 5u);
  const emu::Accounts a = printer.GetAccounts();
  EXPECT_EQ(a.commands, 2u);
  EXPECT_EQ(a.bytesReceived, 5u + 4u + 1u);
  EXPECT_EQ(a.bytesSent, 1u + 1u + 5u);
  EXPECT_EQ(a.wireUs, 5 * 11 * 1000000ull / 115200 + 4 * 11 * 1000000ull / 115200 + 11 * 1000000ull / 115200 +
                          2 * (11 * 1000000ull / 115200) + 5 * 11 * 1000000ull / 115200);
  EXPECT_EQ(a.printedLines, 2u);
  EXPECT_EQ(a.deviceUs, 1000u + 1000u + 2 * 20u);
  printer.ResetAccounts();
  EXPECT_EQ(printer.GetAccounts().wireUs, 0u);
}

TEST_F(VirtualPrinterTest, TraceRecordsBothDirectionsInOrder) {
  std::vector<std::string> live;
  printer.SetTraceListener([&](const emu::TraceEntry& e) { live.push_back(emu::FormatTraceEntry(e)); });
  ASSERT_EQ(Command("S3", 1), Bytes{ACK});
  ASSERT_TRUE(printer.WaitFramesReceived(1, 1000));
  EXPECT_FALSE(printer.WaitFramesReceived(2, 50));
  printer.SetTraceListener(nullptr);

  std::vector<emu::TraceEntry> entries = printer.TraceEntries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].direction, emu::TraceEntry::Direction::kRx);
  EXPECT_EQ(entries[1].direction, emu::TraceEntry::Direction::kTx);
  EXPECT_LE(entries[0].time, entries[1].time);
  EXPECT_EQ(live, (std::vector<std::string>{"<- 02 53 33 03 63  .S3.c", "-> 06  ."}));

  printer.ClearTrace();
  EXPECT_TRUE(printer.TraceEntries().empty());
  EXPECT_FALSE(printer.WaitFramesReceived(1, 10));
}

TEST(VirtualPrinterLifecycle, LinksThePortAndStopsPromptly) {
  auto link = std::filesystem::temp_directory_path() / ("mirel-emu-test-" + std::to_string(::getpid()));
  VirtualPrinter printer;
  AcceptS3AsPlainCommand(&printer);
  ASSERT_TRUE(printer.Start(link.string()));
  EXPECT_FALSE(printer.Start()) << "already running";
  EXPECT_EQ(std::filesystem::read_symlink(link).string(), printer.PortPath());

  {
    // A client still holding the port open must not keep the printer from stopping.
    LineClient client(link.string());
    ASSERT_TRUE(client.IsOpen());
    client.Send(Framed("S3"));
    EXPECT_EQ(client.Read(1), Bytes{ACK});
    auto start = Clock::now();
    printer.Stop();
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
  }
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
  EXPECT_TRUE(printer.PortPath().empty());

  ASSERT_TRUE(printer.Start()) << "a stopped printer starts again on a new port";
  LineClient again(printer.PortPath());
  again.Send({ENQ});
  EXPECT_EQ(again.Read(5).size(), 5u);
}

}  // namespace

// "e" clears what the last command and the print head left behind, but not a stuck fault.
TEST_F(VirtualPrinterTest, RestartCommandClearsTheErrorStateButNotAStuckFault) {
  printer.ModifyState([](PrinterState& s) { s.printFailure = true, s.paperEnd = true; });
  printer.RefuseNext(0x15);
  ASSERT_EQ(Command("S3", 5), Status(0x60, 0x53));  // command error, print failure, paper end
  ASSERT_EQ(Command("e", 1), Bytes{ACK});
  EXPECT_EQ(Request(ENQ, 5), Status(0x60, 0x41)) << "paper end stays until paper is loaded";

  printer.ModifyState(
      [](PrinterState& s) { s.paperEnd = false, s.stuckErrorBits = emu::kCommandError | 0x0C; });
  ASSERT_EQ(Command("e", 1), Bytes{ACK});
  EXPECT_EQ(Request(ENQ, 5), Status(0x60, 0x5C));
}
