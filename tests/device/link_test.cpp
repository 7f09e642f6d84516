// The link protocol end to end: the driver's transactions through the POSIX serial port on a
// pseudo-terminal, against the virtual printer.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>

#include <string>

#include "device/frame_decoders.h"
#include "device/link.h"
#include "device/serial_port.h"
#include "emu/records.h"
#include "emu/virtual_printer.h"
#include "support/device_on_line.h"

namespace {

emu::Bytes BytesOf(std::initializer_list<uint8_t> list) { return emu::Bytes(list); }

class LinkTest : public DeviceOnLine {
 protected:
  LinkTest() : DeviceOnLine(41, 1500) {
    // These tests use "S3" as a plain command that the printer accepts, not as the query it is.
    printer.AddCommand("S3", [](emu::PrinterState&, const std::string&) { return emu::Reply::Accept(); });
  }

  // The command frames the printer received, in order.
  std::vector<emu::Bytes> FramesReceived() {
    std::vector<emu::Bytes> frames;
    for (const auto& e : printer.TraceEntries()) {
      if (e.direction == emu::TraceEntry::Direction::kRx && !e.bytes.empty() && e.bytes[0] == ctl::STX) {
        frames.push_back(e.bytes);
      }
    }
    return frames;
  }
  // Every byte the driver put on the line, in order.
  emu::Bytes BytesReceived() {
    emu::Bytes all;
    for (const auto& e : printer.TraceEntries()) {
      if (e.direction == emu::TraceEntry::Direction::kRx) all.insert(all.end(), e.bytes.begin(), e.bytes.end());
    }
    return all;
  }
};

TEST_F(LinkTest, CommandGoesOutAsOneFrameAndAckCompletesIt) {
  EXPECT_EQ(ExecTransaction(&ctx, "S3", 110, true, false), 0);
  EXPECT_EQ(ctx.nTransactionPhase, 5);
  ASSERT_EQ(FramesReceived().size(), 1u);
  EXPECT_EQ(FramesReceived()[0], BytesOf({0x02, 0x53, 0x33, 0x03, 0x63}));
  EXPECT_EQ(clock.CountSleeps(110), 1);
  EXPECT_TRUE(log.Has("<send [02]S3[03][63] ok"));
  EXPECT_TRUE(log.Has(">recv [06] (ACK)"));
  EXPECT_EQ(log.lines.front(), "{ExecTransaction");
  EXPECT_EQ(log.lines.back(), "}ExecTransaction ret 0");
}

TEST_F(LinkTest, CommandLengthLimit) {
  const std::string longest(296, 'A');
  EXPECT_EQ(ExecTransaction(&ctx, longest.c_str(), -3, true, false), 0);
  ASSERT_EQ(FramesReceived().size(), 1u);
  EXPECT_EQ(FramesReceived()[0].size(), 299u);

  printer.ClearTrace();
  log.lines.clear();
  const std::string tooLong(297, 'A');
  EXPECT_EQ(ExecTransaction(&ctx, tooLong.c_str(), -3, false, false), -5);
  EXPECT_TRUE(BytesReceived().empty());
  EXPECT_TRUE(log.Has("}ExecTransaction ret -5"));  // written even with the log flag clear
  EXPECT_EQ(ctx.nProtocolErrors, 0);
}

TEST_F(LinkTest, NakIsRetriedAfterThePause) {
  printer.NakNext(2);
  EXPECT_EQ(ExecTransaction(&ctx, "S3", -3, true, false), 0);
  EXPECT_EQ(ctx.nNakCount, 2);
  EXPECT_EQ(clock.CountSleeps(330), 2);
  EXPECT_EQ(FramesReceived().size(), 3u);
  EXPECT_EQ(log.Count(">recv [15] (NAK)"), 2);
}

TEST_F(LinkTest, PersistentNakGivesUpAfterThirtySends) {
  printer.NakNext(1000);
  EXPECT_EQ(ExecTransaction(&ctx, "S3", -3, true, false), 1);
  EXPECT_EQ(FramesReceived().size(), 30u);
  EXPECT_EQ(ctx.nNakCount, 30);
  EXPECT_EQ(clock.CountSleeps(330), 29);
}

TEST_F(LinkTest, BusyStatusIsRetriedAndARefusalEndsAtOnce) {
  printer.BusyNext(1);
  EXPECT_EQ(ExecTransaction(&ctx, "S3", -3, true, false), 0);
  EXPECT_EQ(ctx.nBusyCount, 1);
  EXPECT_EQ(clock.CountSleeps(330), 1);
  EXPECT_EQ(FramesReceived().size(), 2u);

  printer.ClearTrace();
  printer.RefuseNext(3);
  EXPECT_EQ(ExecTransaction(&ctx, "S3", -3, true, false), 2);
  EXPECT_EQ(FramesReceived().size(), 1u);
  EXPECT_EQ(ctx.nBusyCount, 1);
  EXPECT_EQ(ctx.status[0] & 0x04, 0);
  EXPECT_EQ(ctx.status[1] & 0x30, 0x10);  // command error
}

TEST_F(LinkTest, StrayBytesAreAProtocolErrorAndResetTheLine) {
  int errorsDuringReset = -1;
  static int* seen;
  seen = &errorsDuringReset;
  ctx.pfnLogMessage = [](FPContext* c, const char* name, const char*) {
    if (std::string(name) == "ResetSerial" && *seen < 0) *seen = c->nProtocolErrors;
  };
  printer.SendStrayBytes(BytesOf({0x7E, 0x41, 0x42}));
  printer.IgnoreNext(1);
  EXPECT_EQ(ExecTransaction(&ctx, "S3", -3, true, false), -5);
  EXPECT_EQ(log.Count(">recv "), 1);
  EXPECT_TRUE(log.Has(">recv ~AB protocol error")) << log.Text();
  EXPECT_EQ(clock.CountSleeps(100), 1);  // one line reset
  EXPECT_EQ(errorsDuringReset, 1);       // counted, then cleared by the reset in this mode
  EXPECT_EQ(ctx.nProtocolErrors, 0);
}

// Both a record the driver reads to its end (the S1 record, whose check character is then wrong)
// and a header no decoder takes are refused without an ACK.
TEST_F(LinkTest, DataFrameWithWrongCheckCharacterIsNotAcknowledged) {
  const emu::Bytes s1 = emu::S1Record(printer.State());
  const struct {
    std::string header, body;
  } cases[] = {
      {std::string(s1.begin(), s1.begin() + 2), std::string(s1.begin() + 2, s1.end())},
      {"SQ", "0123456789"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.header);
    printer.ClearTrace();
    printer.AnswerNextWithBadCheck(c.header, c.body);
    EXPECT_EQ(ExecTransaction(&ctx, c.header.c_str(), -3, true, false), -5);
    EXPECT_EQ(printer.DataFramesAcknowledged(), 0);
    const emu::Bytes sent = BytesReceived();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), ctl::ACK), 0);
  }
}

// A short status frame whose second byte carries both bits 0x30 is the second status, also when it
// answers a command.
TEST_F(LinkTest, Status2FrameAsACommandAnswer) {
  printer.AnswerNextWithData("\x40\x70", "");
  EXPECT_EQ(ExecTransaction(&ctx, "S3", -3, true, false), 5);
  EXPECT_EQ(ctx.status2[0], 0x40);
  EXPECT_EQ(ctx.status2[1], 0x70);
  EXPECT_TRUE(log.Has(">recv [02][40h][70h][03][33h] (Status2)")) << log.Text();
}

// The common reception of a data frame: body, terminator and check character, then the ACK.
TEST_F(LinkTest, DataFrameBodyIsCheckedAndAcknowledged) {
  struct Case {
    bool badCheck;
    int expected;
  };
  for (const Case& c : {Case{false, 0}, Case{true, -5}}) {
    SCOPED_TRACE(c.badCheck);
    if (c.badCheck) {
      printer.AnswerNextWithBadCheck("SQ", "0123456789");
    } else {
      printer.AnswerNextWithData("SQ", "0123456789");
    }
    uint8_t command[] = {ctl::STX, 'S', 'Q', ctl::ETX, 0};
    command[4] = CalcBCC(command + 1, 3);
    ASSERT_EQ(SendBuf(&ctx, command, 5), 0);
    uint8_t stx = 0;
    ASSERT_EQ(AcceptChar(&ctx, &stx), 0);
    ASSERT_EQ(stx, ctl::STX);
    uint8_t header[4];
    uint32_t got = 0;
    ASSERT_EQ(AcceptBuf(&ctx, header, 4, &got), 0);
    ASSERT_EQ(got, 4u);
    uint8_t body[10];  // "23456789" after the header's "01", then ETX and BCC
    EXPECT_EQ(ReadFrameBody(&ctx, header, body, sizeof body), c.expected);
    if (c.expected == 0) {
      EXPECT_EQ(AcknowledgeFrame(&ctx, 77, 30), 77);
      EXPECT_EQ(clock.CountSleeps(30), 1);
    }
    ClearInputBuffer(&ctx);
  }
  // The printer counts the ACK when it reads it; give it a bounded moment.
  for (int i = 0; i < 100 && printer.DataFramesAcknowledged() == 0; ++i) usleep(10000);
  EXPECT_EQ(printer.DataFramesAcknowledged(), 1);
}

TEST_F(LinkTest, DeviceEnqIsAcknowledgedAndFollowedByTheStatus) {
  printer.ModifyState([](emu::PrinterState& s) { s.deviceError = 19; });
  printer.AnswerNextWithEnq();
  EXPECT_EQ(ExecTransaction(&ctx, "S3", -3, true, false), 2);
  EXPECT_EQ(clock.CountSleeps(500), 1);
  EXPECT_EQ(ctx.nDeviceError, 19);
  const emu::Bytes sent = BytesReceived();
  const emu::Bytes tail(sent.end() - 2, sent.end());
  EXPECT_EQ(tail, BytesOf({ctl::ACK, ctl::ENQT}));
  EXPECT_TRUE(log.Has("<send [06] (ACK) ok"));
  EXPECT_TRUE(log.Has("<send [1A] (ENQT) ok"));
  EXPECT_EQ(log.Count(">recv [02]"), 2) << log.Text();  // the short status and the extended status
  EXPECT_EQ(log.Count(">recv Decoded: "), 1);
}

// After a device ENQ the command counts as answered by the status that followed: a busy printer
// gets the command again after the busy pause, as after a busy status answer.
TEST_F(LinkTest, BusyStatusAfterADeviceEnqIsRetried) {
  printer.AnswerNextWithEnq();
  printer.ModifyState([](emu::PrinterState& s) { s.busy = true; });
  EXPECT_EQ(ExecTransaction(&ctx, "S3", -3, true, false), 2);
  EXPECT_EQ(ctx.nBusyCount, 30);
  EXPECT_EQ(clock.CountSleeps(330), 29);
  EXPECT_EQ(FramesReceived().size(), 30u);
}

TEST_F(LinkTest, OlderPrintersGetNoExtendedStatusAfterADeviceEnq) {
  ctx.nVersionMajor = 2;
  printer.AnswerNextWithEnq();
  EXPECT_EQ(ExecTransaction(&ctx, "S3", -3, true, false), 2);
  EXPECT_EQ(clock.CountSleeps(500), 0);
  EXPECT_EQ(BytesReceived().back(), ctl::ACK);
}

TEST_F(LinkTest, StatusPollsAnswerWithTheirKinds) {
  struct Case {
    uint8_t request;
    int expected;
    int kind;
  };
  printer.ModifyState([](emu::PrinterState& s) { s.shiftOpen = true; });
  for (const Case& c : {Case{ctl::ENQ, kExpectEnqStatus, 2}, Case{ctl::ENQ2, kExpectEnq2Status, 5},
                        Case{ctl::ENQT, kExpectEnqtStatus, 16}}) {
    SCOPED_TRACE(c.request);
    ASSERT_EQ(SendChar(&ctx, c.request), 0);
    EXPECT_EQ(AcceptData(&ctx, c.expected, true, false), c.kind);
  }
  EXPECT_EQ(ctx.status2[0] & 0x01, 0x01);
}

// The device's ENQ is a request for attention only in place of a command's answer; where a status
// frame was asked for it is a protocol error, and the driver does not acknowledge it.
TEST_F(LinkTest, EnqWhereAStatusWasExpectedIsAProtocolError) {
  struct Case {
    uint8_t request;
    int expected;
    int kind;  // of the status that follows the ENQ
  };
  for (const Case& c : {Case{ctl::ENQ, kExpectEnqStatus, 2}, Case{ctl::ENQ2, kExpectEnq2Status, 5},
                        Case{ctl::ENQT, kExpectEnqtStatus, 16}}) {
    SCOPED_TRACE(c.request);
    printer.ClearTrace();
    log.lines.clear();
    printer.SendStrayBytes(BytesOf({ctl::ENQ}));
    ASSERT_EQ(SendChar(&ctx, c.request), 0);
    EXPECT_EQ(AcceptData(&ctx, c.expected, true, false), -5);
    EXPECT_TRUE(log.Has(">recv [05] (ENQ)"));
    // The status that followed is read whole, so that nothing of it is left for the next case.
    EXPECT_EQ(AcceptData(&ctx, c.expected, true, false), c.kind);
    EXPECT_EQ(BytesReceived(), BytesOf({c.request})) << "no ACK, no ENQT";
  }
}

// A long command answers when it is done; until then the driver polls the status every 500 ms
// while the device reports busy, and reads the status once it no longer does.
TEST_F(LinkTest, LongCommandIsAwaitedWhileTheDeviceIsBusy) {
  int polls = 0;
  printer.SetTraceListener([&](const emu::TraceEntry& e) {
    if (e.direction == emu::TraceEntry::Direction::kRx && e.bytes == BytesOf({ctl::ENQ}) && ++polls == 5) {
      printer.ModifyState([](emu::PrinterState& s) { s.busy = false; });
    }
  });
  printer.IgnoreNext(1);
  printer.ModifyState([](emu::PrinterState& s) { s.busy = true; });
  EXPECT_EQ(ExecTransaction(&ctx, "S3", -3, true, true), 2);
  printer.SetTraceListener(nullptr);
  EXPECT_EQ(polls, 5);
  EXPECT_EQ(clock.CountSleeps(300), 5);
  EXPECT_EQ(clock.CountSleeps(200), 4);
  EXPECT_EQ(FramesReceived().size(), 1u);
  EXPECT_TRUE(log.Has("*AcceptData: bLongCommand"));
}

// A device that never stops being busy is not waited on forever: after two minutes the wait ends
// as a time-out, and the command is not sent again.
TEST_F(LinkTest, LongCommandWaitEndsAfterTwoMinutesOfBusy) {
  printer.IgnoreNext(1);
  printer.ModifyState([](emu::PrinterState& s) { s.busy = true; });
  const uint32_t start = clock.TickMs();
  EXPECT_EQ(ExecTransaction(&ctx, "S3", -3, true, true), -4);
  const uint32_t waited = clock.TickMs() - start;
  EXPECT_GE(waited, 120000u);
  EXPECT_LT(waited, 122000u);
  EXPECT_EQ(FramesReceived().size(), 1u);
  EXPECT_TRUE(log.Has("}ExecTransaction ret -4"));
}

TEST_F(LinkTest, ClosedPortFailsWithoutTouchingTheLine) {
  ASSERT_EQ(CloseSerial(&ctx), 0);
  log.lines.clear();
  EXPECT_EQ(ExecTransaction(&ctx, "S3", 110, false, false), -1);
  EXPECT_EQ(log.lines, std::vector<std::string>{"}ExecTransaction ret -1"});
  EXPECT_TRUE(BytesReceived().empty());
}

TEST_F(LinkTest, SilentPrinterTimesOut) {
  ASSERT_EQ(SetCommTimeoutsFP(&ctx, 200, 200), 0);
  printer.IgnoreNext(1);
  EXPECT_EQ(ExecTransaction(&ctx, "S3", -3, true, false), -4);
  EXPECT_TRUE(log.Has(">recv [] receive time out"));
}

// The pause before a command's answer ends when the answer starts to arrive. Whatever comes, the
// transaction hears what it heard when the whole pause was slept before reading: the same result
// and the same log, also with garbage ahead of the answer or an answer after the pause.
TEST_F(LinkTest, AnswerDrivenPauseHearsWhatTheSleptPauseHeard) {
  struct Case {
    const char* name;
    std::function<void(emu::VirtualPrinter&)> stage;
  };
  const Case cases[] = {
      {"an answer at once", [](emu::VirtualPrinter&) {}},
      {"garbage before the answer",
       [](emu::VirtualPrinter& p) {
         p.SendStrayBytes(BytesOf({0x7E, 0x41, 0x42}));
       }},
      {"an answer after the pause",
       [](emu::VirtualPrinter& p) {
         p.SetTiming({300000, 0, 0});
       }},
      {"a record after the pause",
       [](emu::VirtualPrinter& p) {
         p.SetTiming({300000, 0, 0});
         p.AnswerNextWithData("SQ", "0123456789");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> logs[2];
    int results[2];
    for (bool answerDriven : {false, true}) {
      clock.waitForReadiness = answerDriven;
      c.stage(printer);
      log.lines.clear();
      results[answerDriven] = ExecTransaction(&ctx, "S3", 110, true, false);
      logs[answerDriven] = log.lines;
      printer.SetTiming({});
    }
    EXPECT_EQ(results[0], results[1]);
    EXPECT_EQ(logs[0], logs[1]);
  }
  EXPECT_EQ(clock.ReadinessWaits().size(), sizeof cases / sizeof cases[0]) << "each answer-driven run waited";
  clock.waitForReadiness = false;
}

// An answer that comes before the pause is over is read at once: a long pause is not waited out,
// yet it is still the longest the answer is waited for before the read's own time-outs.
TEST_F(LinkTest, EarlyAnswerEndsThePause) {
  clock.waitForReadiness = true;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ExecTransaction(&ctx, "S3", 5000, true, false), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
  EXPECT_EQ(clock.ReadinessWaits(), std::vector<uint32_t>{5000});
  EXPECT_EQ(clock.CountSleeps(5000), 0);
  EXPECT_EQ(ctx.nTransactionPhase, 5);
}

TEST(LinkHelpers, CheckCharacterTextsAndNibbles) {
  const uint8_t s3[] = {0x53, 0x33, 0x03};
  EXPECT_EQ(CalcBCC(s3, 3), 0x63);
  EXPECT_STREQ(LinkResultText(-5), "protocol error");
  EXPECT_STREQ(LinkResultText(0), "ok");
  EXPECT_STREQ(LinkResultText(16), "(ENQT Status)");
  EXPECT_STREQ(LinkResultText(17), "(S\" Info)");
  EXPECT_STREQ(LinkResultText(28), "");
  EXPECT_STREQ(LinkResultText(34), "(S|bf3 Info)");
  EXPECT_STREQ(LinkResultText(42), "(S}M Info)");
  EXPECT_STREQ(LinkResultText(43), "");
  EXPECT_STREQ(LinkResultText(-6), "");
  char two[2];
  ToNibbleChars(0xAF, two);
  EXPECT_EQ(std::string(two, 2), ":?");
  EXPECT_EQ(FromNibbleChars(two), 0xAF);
  // A damaged answer's characters below '0' wrap to a byte like the others (the sanitizer run
  // catches a negative shift here).
  const char damaged[][2] = {{'\x12', '0'}, {'0', '\x02'}, {'\0', '\0'}};
  EXPECT_EQ(FromNibbleChars(damaged[0]), 0x20);
  EXPECT_EQ(FromNibbleChars(damaged[1]), 0xD2);
  EXPECT_EQ(FromNibbleChars(damaged[2]), 0xD0);
}

}  // namespace
