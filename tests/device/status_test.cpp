// Printer status and result codes: the status bits and link results as driver codes, the error
// texts, the extended status of every firmware, and the operations built on the status requests,
// against the virtual printer on a pseudo-terminal.
#include "device/status.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <string>
#include <vector>

#include "device/device_errors.h"
#include "device/link.h"
#include "device/result_codes.h"
#include "device/serial_port.h"
#include "emu/virtual_printer.h"
#include "platform/codepage.h"
#include "platform/pty.h"
#include "support/device_on_line.h"
#include "support/scoped_env.h"

namespace {

// Status byte 1 without its base bit 0x40, 0x00..0x3F in order, as StatusToCode reads it. Rows are
// the error class and detail (bits 0x3C), columns the paper end and print failure bits (0x03).
constexpr int32_t kCodeOfStatus1[64] = {
    0,  15, 14, 15,  // no error
    0,  15, 14, 15,  // detail without a class
    15, 15, 15, 15,  // paper end
    38, 38, 38, 38,  // paper end at the second printer
    13, 13, 13, 13,  // command error: wrong value
    12, 12, 12, 12,  //   wrong tax rate
    11, 11, 11, 11,  //   cashier not registered
    10, 10, 10, 10,  //   wrong command
    9,  9,  9,  9,   // fiscal error
    8,  8,  8,  8,   //   fiscal memory
    0,  15, 14, 15,  //   detail 0x08 names no code
    7,  7,  7,  7,   //   fiscal memory full
    37, 37, 37, 37,  // date not set
    0,  15, 14, 15,  // both class bits with a detail: no class
    0,  15, 14, 15,
    0,  15, 14, 15,
};

TEST(StatusCodes, EveryStatusBitCombinationMapsToItsCode) {
  for (uint8_t s0 : {0x40, 0x60, 0x61, 0x62, 0x44, 0x64}) {
    for (uint8_t s2 : {0x40, 0x41, 0x60, 0x61}) {
      for (int low = 0; low < 64; ++low) {
        FPContext ctx;
        ctx.status[0] = s0;
        ctx.status[1] = static_cast<uint8_t>(0x40 | low);
        ctx.status2[0] = s2;
        const bool busy = s0 & 0x04;
        const bool z1 = s2 & 0x20;
        const int32_t expected = busy ? 16 : z1 ? 20 : kCodeOfStatus1[low];
        ASSERT_EQ(StatusToCode(&ctx), expected) << std::hex << "s0 " << int{s0} << " s1 " << (0x40 | low)
                                                << " s2 " << int{s2};
      }
    }
  }
}

TEST(StatusCodes, LinkResultsMapToDriverCodes) {
  FPContext ctx;
  ctx.status[0] = 0x60;
  ctx.status[1] = 0x41;  // paper end
  const struct {
    int link;
    int32_t code;
  } cases[] = {{-5, 5}, {-4, 4}, {-3, 3}, {-2, 2}, {-1, 1}, {0, 0}, {1, 6}, {2, 15}, {5, 5}, {7, 7}, {16, 16}};
  for (const auto& c : cases) EXPECT_EQ(MapLinkResult(&ctx, c.link), c.code) << c.link;
}

TEST(StatusCodes, TextsOfDriverAndDeviceCodesAreInTheDriversCodePage) {
  const struct {
    const char* (*text)(int32_t);
    int32_t code;
    const char* utf8;
  } cases[] = {
      {DriverErrorText, 10, "Неправильная команда"},
      {DriverErrorText, 43, "Ошибка не установлена"},
      {DriverErrorText, 152, "Ошибка не установлена"},
      {DeviceErrorText, 0, " "},
      {DeviceErrorText, 1, "Некорректный формат или параметр команды"},
      {DeviceErrorText, 41, "Пароль не введен, или неверный"},
      {DeviceErrorText, 262, "СКНО не выходит из режима \"занято\""},
      {DeviceErrorText, 264, ""},
      {DeviceErrorText, 293, ""},
      {DeviceErrorText, 323, "Некорректный ФФД. Требуется перерегистрация аппарата"},
      {DeviceErrorText, 324, "Ошибка не установлена"},
      {DeviceErrorText, -1, "Ошибка не установлена"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.text(c.code), plat::Utf8ToCp1251(c.utf8)) << c.code;
}

// A line of our own on a pseudo-terminal, for frames the virtual printer does not send.
class ExtendedStatusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.Open());
    setenv("MIREL_COM42", pty.SlavePath().c_str(), 1);
    ctx.pClock = &clock;
    ASSERT_EQ(OpenSerial2(&ctx, 42, 6), 0);
    ASSERT_EQ(SetCommTimeoutsFP(&ctx, 300, 300), 0);
  }
  void TearDown() override {
    CloseSerial(&ctx);
    unsetenv("MIREL_COM42");
  }

  plat::Pty pty;
  FakeClock clock;
  FPContext ctx;
};

// Positions 0..21 as every firmware sends them: status bytes, journal "00", error code "13" (19),
// document type 2, F, N1, N2, PPIOCD, PSTATUS, shift opened on 5.3.24 at 07:09.
const std::string kSharedFields = std::string("\x60\x40\x41") + "00" + "13" + "2" + "000" + "00" + "00" + "00" +
                                  "53H" + "79";

TEST_F(ExtendedStatusTest, EveryFrameLengthDecodesToTheCommonLayout) {
  const struct {
    int major, minor;
    std::string tail;     // after position 21, up to ETX
    char commonSeconds;   // position 22 of the common layout
  } cases[] = {
      {11, 1, "?>H", '\0'},  // an unused byte, then 24 hours at most
      {10, 3, "?>H", '\0'},
      {9, 0, "?>H", '\0'},
      {5, 2, "?>H", '\0'},
      {3, 1, "H", '0'},      // no seconds
      {9, 1, "ZH", 'Z'},     // the common layout: seconds, then the hours
      {11, 0, "ZH", 'Z'},
      {4, 0, "ZH", 'Z'},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.major) + "." + std::to_string(c.minor));
    ctx.nVersionMajor = c.major;
    ctx.nVersionMinor = c.minor;
    ctx.nDeviceError = 5;
    std::string frame = "\x02" + kSharedFields + c.tail + "\x03";
    uint8_t bcc = 0;
    for (size_t i = 1; i < frame.size(); ++i) bcc ^= static_cast<uint8_t>(frame[i]);
    frame += static_cast<char>(bcc);
    ASSERT_TRUE(pty.Write(reinterpret_cast<const uint8_t*>(frame.data()), frame.size(), 1000));

    ASSERT_EQ(AcceptData(&ctx, kExpectEnqtStatus, true, false), kAnswerEnqtStatus);
    const std::string common = kSharedFields.substr(3) + std::string(1, c.commonSeconds) + "H\x03" +
                               std::string(1, static_cast<char>(bcc));
    EXPECT_EQ(std::string(ctx.extStatus, sizeof ctx.extStatus), common);
    EXPECT_EQ(ctx.status[0], 0x60);
    EXPECT_EQ(ctx.status[1], 0x40);
    EXPECT_EQ(ctx.status2[0], 0x41);
    EXPECT_EQ(ctx.nDeviceError, 19);
    const std::vector<int> shift = {ctx.nShiftOpenDay,  ctx.nShiftOpenMonth,  ctx.nShiftOpenYear,
                                    ctx.nShiftOpenHour, ctx.nShiftOpenMinute, ctx.nShiftHours};
    EXPECT_EQ(shift, (std::vector<int>{5, 3, 24, 7, 9, 24}));
    EXPECT_EQ(ClearInputBuffer(&ctx), 0) << "the whole frame was read";
  }
}

class StatusTest : public DeviceOnLine {
 protected:
  StatusTest() : DeviceOnLine(43, 300) {}

  std::vector<std::string> Commands() const { return line.Commands(); }
};

TEST_F(StatusTest, StatusRequestsSendTheirByteAndStoreTheAnswer) {
  const int64_t now = clock.unix_;
  printer.ModifyState([now](emu::PrinterState& s) {
    s.busy = true, s.shiftOpen = true, s.shiftOpenedAt = now, s.deviceError = 41, s.paperEnd = true;
  });
  const struct {
    const char* name;
    int (*request)(FPContext*);
    int expected;
    const char* sendLine;
  } cases[] = {
      {"GetStatus", [](FPContext* c) { return GetStatus(c, false); }, 2, "<send [05] (ENQ) ok"},
      {"GetStatus2", GetStatus2, 5, "<send [11] (ENQ2) ok"},
      {"GetStatusT", GetStatusT, 16, "<send [1A] (ENQT) ok"},
      {"GetStatusNoPresenceCheck", [](FPContext* c) { return GetStatusNoPresenceCheck(c, false); }, 2,
       "<send [05] (ENQ) ok"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    log.lines.clear();
    EXPECT_EQ(c.request(&ctx), c.expected);
    EXPECT_EQ(log.lines.front(), std::string("{") + c.name);
    EXPECT_TRUE(log.Has(c.sendLine)) << log.Text();
    EXPECT_EQ(log.lines.back(), std::string("}") + c.name + " ret " + std::to_string(c.expected));
  }
  EXPECT_EQ(ctx.status[0], 0x64);  // busy, left as reported
  EXPECT_EQ(ctx.status[1], 0x41);
  EXPECT_EQ(ctx.status2[0], 0x41);
  EXPECT_EQ(ctx.nDeviceError, 41);
  EXPECT_EQ(clock.CountSleeps(100), 1) << "only the request without presence test pauses after news";

  EXPECT_EQ(GetStatus(&ctx, true), 2);
  EXPECT_EQ(ctx.status[0], 0x60) << "busy cleared on request in the mode without handshake";
}

TEST_F(StatusTest, StatusRequestRetriesAProtocolErrorOnceAfterALineReset) {
  printer.SendStrayBytes({0x7E});  // spoils the first answer
  EXPECT_EQ(GetStatus(&ctx, false), 2);
  int requests = 0;
  for (const auto& e : printer.TraceEntries()) {
    requests += e.direction == emu::TraceEntry::Direction::kRx && e.bytes == emu::Bytes{ctl::ENQ};
  }
  EXPECT_EQ(requests, 2);
  EXPECT_EQ(clock.CountSleeps(100), 1) << "one line reset";
  EXPECT_EQ(log.Count(">recv ~"), 1) << log.Text();
}

// A refused command reports the printer's error code next to the driver code; a command refused as
// wrong also restarts the printer, and the restart's own status does not replace that code.
TEST_F(StatusTest, StdTransactionReportsTheRefusalWithTheDeviceErrorCode) {
  const struct {
    const char* name;
    uint8_t errorBits;
    uint8_t deviceError;
    int32_t code;
    std::vector<std::string> commands;
  } cases[] = {
      {"wrong command", emu::kCommandError | 0x0C, 41, 10, {"P1", "e"}},
      {"fiscal error", emu::kFiscalError, 0x21, 9, {"P1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    printer.ClearTrace();
    printer.RefuseNext(c.deviceError, c.errorBits);
    EXPECT_EQ(StdTransaction(&ctx, "P1", 110, true, false), c.code);
    EXPECT_EQ(ctx.nLastResult, c.code);
    EXPECT_EQ(ctx.nDeviceError, c.deviceError);
    EXPECT_EQ(Commands(), c.commands);
  }
  EXPECT_EQ(clock.CountSleeps(1000), 1) << "the pause before the restart";
  EXPECT_EQ(DriverErrorText(10), plat::Utf8ToCp1251("Неправильная команда"));
  EXPECT_EQ(DeviceErrorText(41), plat::Utf8ToCp1251("Пароль не введен, или неверный"));

  printer.ClearTrace();
  EXPECT_EQ(StdTransaction(&ctx, "P1", 110, true, false), 0);
  EXPECT_EQ(ctx.nDeviceError, 0) << "an accepted command clears the code";
}

TEST_F(StatusTest, RestartEndsOnAcceptanceOrRefusalAndGivesUpOnAStuckPrinter) {
  const struct {
    const char* name;
    int refusals;  // of "e", each with the error bits below
    uint8_t errorBits;
    int result;
    size_t restarts;
    int settlePauses;
  } cases[] = {
      {"accepted", 0, 0, 0, 1, 0},
      {"refused as wrong", 1, emu::kCommandError | 0x0C, 2, 1, 1},
      {"refused otherwise", 1, emu::kFiscalError, 2, 1, 0},
      // Both class bits make the refusal read as a status2 frame: an unexpected answer every time.
      {"stuck", 100, 0x30, -5, 5, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    printer.ClearTrace();
    const int settled = clock.CountSleeps(3300);
    for (int i = 0; i < c.refusals; ++i) printer.RefuseNext(1, c.errorBits);
    ctx.status2[0] = 0x61;  // Z1 report required, as last seen
    EXPECT_EQ(Restart(&ctx), c.result);
    EXPECT_EQ(Commands(), std::vector<std::string>(c.restarts, "e"));
    EXPECT_EQ(clock.CountSleeps(3300) - settled, c.settlePauses);
    if (c.result == 0) {
      EXPECT_EQ(ctx.status2[0], 0x41) << "the Z1 flag is cleared";
    }
  }
  // The printer is still stuck: ClearError reports the restart's failure as a driver code.
  EXPECT_EQ(ClearError(&ctx), 5);
  EXPECT_EQ(ctx.nLastResult, 5);
}

TEST_F(StatusTest, WaitReadyStatusGivesUpOnACommandErrorThatSurvivesRestarts) {
  printer.ModifyState([](emu::PrinterState& s) { s.stuckErrorBits = emu::kCommandError | 0x0C; });
  EXPECT_EQ(WaitReadyStatus(&ctx), 10);
  EXPECT_EQ(ctx.nLastResult, 10);
  EXPECT_EQ(Commands(), std::vector<std::string>(3, "e"));

  printer.ModifyState([](emu::PrinterState& s) { s.stuckErrorBits = 0; });
  printer.ClearTrace();
  EXPECT_EQ(WaitReadyStatus(&ctx), 0);
  EXPECT_TRUE(Commands().empty());
}

TEST_F(StatusTest, WaitReadyStatusReportsAFailedRequestAsADriverCode) {
  CloseSerial(&ctx);
  EXPECT_EQ(WaitReadyStatus(&ctx), 1);
  EXPECT_EQ(ctx.nLastResult, 1);
}

TEST_F(StatusTest, ReceiptOpenChecksReadStatusByteZero) {
  const struct {
    const char* name;
    bool fiscalRegister, receipt, fiscalReceipt;
    int fiscalOpen, nonfiscalOpen;
  } cases[] = {
      {"none", true, false, false, 0, 0},
      {"fiscal receipt", true, false, true, 1, 0},
      {"non-fiscal receipt", true, true, false, 0, 1},
      {"receipt on a non-fiscal register", false, true, false, 1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    printer.ModifyState([&c](emu::PrinterState& s) {
      s.fiscal = c.fiscalRegister, s.receiptOpen = c.receipt, s.fiscalReceiptOpen = c.fiscalReceipt;
    });
    EXPECT_EQ(IsFiscalReceiptOpen(&ctx), c.fiscalOpen);
    EXPECT_EQ(IsNonfiscalReceiptOpen(&ctx), c.nonfiscalOpen);
  }
  CloseSerial(&ctx);
  EXPECT_EQ(IsFiscalReceiptOpen(&ctx), 0);
}

// The printer keeps the two-digit year of the shift opening in local time; just after local New
// Year it is already the new year there while UTC is still in the old one.
TEST_F(StatusTest, ShiftAgeIsMeasuredFromThePrintersOpeningTime) {
  ScopedEnv zone{"TZ", "EAST-3"};  // three hours east of UTC
  struct tm utc {};
  utc.tm_year = 2026 - 1900, utc.tm_mon = 11, utc.tm_mday = 31, utc.tm_hour = 21, utc.tm_min = 30;
  clock.unix_ = timegm(&utc);  // 00:30 on 1 January 2027 in the zone
  clock.utc_ = {2026, 12, 31, 21, 30, 0, 0};
  clock.local_ = plat::LocalTimeOf(clock.unix_);
  ASSERT_EQ(clock.local_.year, 2027);

  const struct {
    const char* name;
    int64_t openedAgo;  // seconds; 0 = no shift was ever opened
    int maxHours;
    bool expired;
    int year;
  } cases[] = {
      {"opened after midnight", 20 * 60, 24, false, 2027},
      {"opened last year, within its hours", 23 * 3600, 24, false, 2026},
      {"exactly at its maximum", 24 * 3600, 24, true, 2026},
      {"past a short maximum", 2 * 3600, 1, true, 2026},
      {"never opened", 0, 24, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int64_t openedAt = c.openedAgo ? clock.unix_ - c.openedAgo : 0;
    printer.ModifyState([&](emu::PrinterState& s) {
      s.shiftOpen = c.openedAgo != 0, s.shiftOpenedAt = openedAt, s.maxShiftHours = uint8_t(c.maxHours);
    });
    bool expired = !c.expired;
    EXPECT_EQ(IsShiftExpired(&ctx, &expired), 0);
    EXPECT_EQ(expired, c.expired);
    if (c.year) {
      EXPECT_EQ(ctx.nShiftOpenYear, c.year);
    }
  }
}

// The age is real time, not the difference of the wall clock's readings: a shift opened at 01:30
// before the spring change is 23 hours old at 01:30 the next day, one opened before the autumn
// change 25 hours.
TEST_F(StatusTest, ShiftAgeIsRealTimeAcrossADaylightSavingChange) {
  ScopedEnv zone{"TZ", "CET-1CEST,M3.5.0,M10.5.0/3"};  // the change on the last Sundays of March and October
  const struct {
    const char* name;
    int64_t openedAt;  // 01:30 local on the day of the change
    int64_t now;       // 01:30 local the next day, and an hour later
    int maxHours;
    bool expired;
  } cases[] = {
      {"spring, 23 hours at 01:30", 1711845000, 1711927800, 24, false},
      {"spring, 24 hours at 02:30", 1711845000, 1711931400, 24, true},
      {"autumn, 25 hours at 01:30", 1729985400, 1730075400, 25, true},
      {"autumn, 24 hours at 00:30", 1729985400, 1730071800, 25, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    clock.unix_ = c.now;
    clock.local_ = plat::LocalTimeOf(c.now);
    printer.ModifyState([&](emu::PrinterState& s) {
      s.shiftOpen = true, s.shiftOpenedAt = c.openedAt, s.maxShiftHours = uint8_t(c.maxHours);
    });
    bool expired = !c.expired;
    EXPECT_EQ(IsShiftExpired(&ctx, &expired), 0);
    EXPECT_EQ(ctx.nShiftOpenHour, 1);
    EXPECT_EQ(expired, c.expired);
  }
}

TEST_F(StatusTest, ShiftAgeOfOtherModelsComesFromStatus2) {
  ctx.nVersionMinor = 0;
  for (bool overdue : {false, true}) {
    const int64_t openedAt = clock.unix_ - (overdue ? 25 : 1) * 3600;
    printer.ModifyState([openedAt](emu::PrinterState& s) { s.shiftOpen = true, s.shiftOpenedAt = openedAt; });
    bool expired = !overdue;
    EXPECT_EQ(IsShiftExpired(&ctx, &expired), 0);
    EXPECT_EQ(expired, overdue);
    EXPECT_EQ(ctx.nLastResult, overdue ? 20 : 0);
  }
  CloseSerial(&ctx);
  bool expired = false;
  EXPECT_EQ(IsShiftExpired(&ctx, &expired), 1);
}

}  // namespace
