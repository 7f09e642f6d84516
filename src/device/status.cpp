#include "device/status.h"

#include "device/device_log.h"
#include "device/link.h"
#include "device/serial_port.h"

namespace {

constexpr uint8_t kNothingToReport = 0x40;  // status byte 1 without error or warning bits
constexpr int kStatusAttempts = 2;          // a protocol error is retried once after a line reset
constexpr uint32_t kStatusNewsPauseMs = 100;
constexpr uint32_t kRestartSettleMs = 3300;
constexpr uint32_t kWrongCommandPauseMs = 1000;
constexpr uint32_t kBusyPollMs = 330;
constexpr int kBusyPolls = 60;  // about 20 s of a busy printer
constexpr uint32_t kReceiptQueryPauseMs = 200;
// "e" answered by something else than ACK or a status (a data frame, a status2 frame) is sent again
// after a line reset. A printer that keeps doing so is stuck; these passes are all it gets.
constexpr int kRestartPasses = 5;
// A printer whose command error survives every accepted restart would keep WaitReadyStatus going
// for ever; after these restarts the error is reported.
constexpr int kReadyRestarts = 3;

// Status1 bits that are read together.
constexpr uint8_t kErrorClass = 0x30;  // 0x10 command error, 0x20 fiscal error
constexpr uint8_t kErrorDetail = 0x0C;
constexpr uint8_t kPaperField = 0x3C;
constexpr uint8_t kRestartRefused = 0x1C;  // command error "wrong command" as the answer to "e"

// The three requests differ only in these respects.
struct StatusRequest {
  const char* name;
  uint8_t request;
  const char* sendText;
  int expected;  // what AcceptData is told to expect
  int goodKind;
  bool presenceTest;
  bool busyClearing;
  bool pauseOnNews;  // pause after a status whose byte 1 reports something
};

constexpr StatusRequest kGetStatus = {"GetStatus", ctl::ENQ, "[05] (ENQ)", kExpectEnqStatus, kAnswerStatus,
                                      true, true, false};
constexpr StatusRequest kGetStatusNoPresenceCheck = {
    "GetStatusNoPresenceCheck", ctl::ENQ, "[05] (ENQ)", kExpectEnqStatus, kAnswerStatus, false, true, true};
constexpr StatusRequest kGetStatus2 = {"GetStatus2", ctl::ENQ2, "[11] (ENQ2)", kExpectEnq2Status, kAnswerStatus2,
                                       true, false, false};
constexpr StatusRequest kGetStatusT = {"GetStatusT", ctl::ENQT, "[1A] (ENQT)", kExpectEnqtStatus,
                                       kAnswerEnqtStatus, true, false, false};

int RequestOnce(FPContext* ctx, const StatusRequest& req) {
  if (req.presenceTest) {
    const int present = WaitFPPresent(ctx);
    if (present != kLinkOk) return present;
  }
  const int sent = SendChar(ctx, req.request);
  LogSend(ctx, req.sendText, LinkResultText(sent));
  if (sent != kLinkOk) return sent;
  const int answer = AcceptData(ctx, req.expected, true, false);
  if (answer == req.goodKind || answer < 0) return answer;
  return kLinkProtocolError;  // some other answer where a status was asked for
}

int RequestStatus(FPContext* ctx, const StatusRequest& req, bool clearBusy) {
  LogEnter(ctx, req.name);
  if (ctx->nComPort == 0) return LogReturn(ctx, req.name, kLinkNoPort);
  int result = kLinkProtocolError;
  for (int attempt = 0; attempt < kStatusAttempts && result == kLinkProtocolError; ++attempt) {
    result = RequestOnce(ctx, req);
    if (result == kLinkProtocolError) {
      ++ctx->nProtocolErrors;
      ResetSerial(ctx);
    }
  }
  if (result == req.goodKind) {
    // Without the handshake the busy bit is not trusted by callers that ask for it to be cleared.
    if (req.busyClearing && clearBusy && ctx->bMirel520Mode) ctx->status[0] &= ~st::kBusy;
    if (req.pauseOnNews && ctx->status[1] != kNothingToReport) ctx->pClock->SleepMs(kStatusNewsPauseMs);
  }
  return LogReturn(ctx, req.name, result);
}

bool IsSupportedModel(const FPContext* ctx) { return ctx->nVersionMajor == 11 && ctx->nVersionMinor == 1; }

// Command errors by the detail field 0x00, 0x04, 0x08, 0x0C; fiscal errors likewise, where 0x08
// (marked 0) names no code of its own.
constexpr int32_t kCommandErrorCodes[] = {kCodeWrongValue, kCodeWrongTaxRate, kCodeCashierNotRegistered,
                                          kCodeWrongCommand};
constexpr int32_t kFiscalErrorCodes[] = {9, 8, 0, 7};

int32_t FinishLastResult(FPContext* ctx, const char* name, int32_t code) {
  ctx->nLastResult = code;
  return LogReturn(ctx, name, code);
}

// The printer keeps two digits of the year: the latest year not after `currentYear` that ends in
// them. The current year is the local one, since the printer's clock shows local time.
int ExpandShiftYear(int currentYear, int twoDigits) {
  if (twoDigits < 0) twoDigits = 0;
  int year = currentYear;
  while (year % 100 > twoDigits) --year;
  return year;
}

int32_t ShiftExpiredByStatus2(FPContext* ctx, bool* expired) {
  const int r = GetStatus2(ctx);
  if (r != kAnswerStatus2) return FinishLastResult(ctx, "IsShiftExpired", MapLinkResult(ctx, r));
  *expired = (ctx->status2[0] & st::kShiftTimeExceeded) == st::kShiftTimeExceeded;
  ctx->nLastResult = *expired ? kCodeZ1Required : 0;
  return LogReturn(ctx, "IsShiftExpired", 0);
}

}  // namespace

int GetStatus(FPContext* ctx, bool clearBusy) { return RequestStatus(ctx, kGetStatus, clearBusy); }

int GetStatusNoPresenceCheck(FPContext* ctx, bool clearBusy) {
  return RequestStatus(ctx, kGetStatusNoPresenceCheck, clearBusy);
}

int GetStatus2(FPContext* ctx) { return RequestStatus(ctx, kGetStatus2, false); }

int GetStatusT(FPContext* ctx) { return RequestStatus(ctx, kGetStatusT, false); }

// Later rules override earlier ones: busy is the strongest.
int32_t StatusToCode(const FPContext* ctx) {
  const uint8_t s0 = ctx->status[0];
  const uint8_t s1 = ctx->status[1];
  const uint8_t s2 = ctx->status2[0];
  int32_t code = 0;
  if (s1 & st::kPrintFailure) code = kCodePrintFailure;
  if (s1 & st::kPaperEnd) code = kCodePaperEnd;
  const int detail = (s1 & kErrorDetail) >> 2;
  if ((s1 & kErrorClass) == 0x10) code = kCommandErrorCodes[detail];
  if ((s1 & kErrorClass) == 0x20 && kFiscalErrorCodes[detail] != 0) code = kFiscalErrorCodes[detail];
  switch (s1 & kPaperField) {
    case 0x0C:
      code = 38;  // paper end at the second printer
      break;
    case 0x08:
      code = kCodePaperEnd;
      break;
    case 0x30:
      code = 37;  // date not set
      break;
  }
  if (s2 & st::kZ1Required) code = kCodeZ1Required;
  if (s0 & st::kBusy) code = kCodeBusy;
  return code;
}

int32_t MapLinkResult(const FPContext* ctx, int linkResult) {
  if (linkResult <= 0) return -linkResult;
  if (linkResult == kAnswerNak) return 6;
  if (linkResult == kAnswerStatus) return StatusToCode(ctx);
  return linkResult;
}

int Restart(FPContext* ctx) {
  LogEnter(ctx, "Restart");
  if (ctx->nProtocolErrors != 0) ResetSerial(ctx);
  int result = kLinkProtocolError;
  for (int pass = 0; pass < kRestartPasses; ++pass) {
    result = ExecTransaction(ctx, "e", -3, true, false);
    if (result == kLinkOk) {
      ctx->status2[0] &= ~st::kZ1Required;
      break;
    }
    if (result == kAnswerStatus) {
      // Refused as a wrong command: the printer is still busy getting out of its error.
      if ((ctx->status[1] & kPaperField) == kRestartRefused) {
        ctx->pClock->SleepMs(kRestartSettleMs);
        GetStatus2(ctx);
      }
      break;
    }
    if (result < 0) break;
    result = kLinkProtocolError;
    if (ResetSerial(ctx) != kLinkOk) break;
  }
  return LogReturn(ctx, "Restart", result);
}

int32_t ClearError(FPContext* ctx) {
  LogEnter(ctx, "ClearError");
  return FinishLastResult(ctx, "ClearError", MapLinkResult(ctx, Restart(ctx)));
}

int32_t WaitReadyStatus(FPContext* ctx) {
  LogEnter(ctx, "WaitReadyStatus");
  int busyBudget = kBusyPolls;
  int restarts = 0;
  for (;;) {
    int r = GetStatus(ctx, true);
    if (r == kAnswerStatus) r = GetStatus2(ctx);
    // A failed request is reported as the driver code of its link result.
    if (r != kAnswerStatus2) return FinishLastResult(ctx, "WaitReadyStatus", MapLinkResult(ctx, r));
    ctx->nLastResult = StatusToCode(ctx);
    const int32_t code = ctx->nLastResult;
    if (code >= kCodeWrongCommand && code <= kCodeWrongValue) {
      if (restarts++ == kReadyRestarts || Restart(ctx) != kLinkOk) break;
      busyBudget = kBusyPolls;
    } else if (code == kCodeBusy) {
      ctx->pClock->SleepMs(kBusyPollMs);
      if (--busyBudget <= 0) break;
    } else {
      break;
    }
  }
  return LogReturn(ctx, "WaitReadyStatus", ctx->nLastResult);
}

int32_t StdTransaction(FPContext* ctx, const char* cmd, int pauseMs, bool log, bool longCommand) {
  LogEnter(ctx, "StdTransaction");
  const int32_t code = MapLinkResult(ctx, ExecTransaction(ctx, cmd, pauseMs, log, longCommand));
  GetStatusT(ctx);
  if (code == kCodeWrongCommand) {
    ctx->pClock->SleepMs(kWrongCommandPauseMs);
    // The restart's own status would replace the error code of the refused command.
    const int32_t deviceError = ctx->nDeviceError;
    Restart(ctx);
    ctx->nDeviceError = deviceError;
  }
  return FinishLastResult(ctx, "StdTransaction", code);
}

int ProbeFP(FPContext* ctx) {
  if (!ctx->hComPort) return kLinkNoPort;
  return GetStatusNoPresenceCheck(ctx, true) == kAnswerStatus ? kLinkOk : kLinkNoDevice;
}

int IsFiscalReceiptOpen(FPContext* ctx) {
  LogEnter(ctx, "IsFiscalReceiptOpen");
  ctx->pClock->SleepMs(kReceiptQueryPauseMs);
  int open = 0;
  if (GetStatus(ctx, true) == kAnswerStatus) {
    const uint8_t b = ctx->status[0];
    const uint8_t bit = (b & st::kFiscalPair) == st::kFiscalPair ? st::kFiscalReceiptOpen : st::kReceiptOpen;
    open = (b & bit) != 0;
  }
  return LogReturn(ctx, "IsFiscalReceiptOpen", open);
}

int IsNonfiscalReceiptOpen(FPContext* ctx) {
  LogEnter(ctx, "IsNonfiscalReceiptOpen");
  ctx->pClock->SleepMs(kReceiptQueryPauseMs);
  const int open = GetStatus(ctx, true) == kAnswerStatus && (ctx->status[0] & st::kReceiptOpen) != 0;
  return LogReturn(ctx, "IsNonfiscalReceiptOpen", open);
}

int32_t IsShiftExpired(FPContext* ctx, bool* expired) {
  LogEnter(ctx, "IsShiftExpired");
  if (!IsSupportedModel(ctx)) return ShiftExpiredByStatus2(ctx, expired);
  const int r = GetStatusT(ctx);
  if (r != kAnswerEnqtStatus) return FinishLastResult(ctx, "IsShiftExpired", MapLinkResult(ctx, r));
  *expired = false;
  if (ctx->nShiftOpenDay == 0 || ctx->nShiftOpenMonth == 0) return FinishLastResult(ctx, "IsShiftExpired", 0);
  const plat::CalendarTime now = ctx->pClock->LocalTime();
  ctx->nShiftOpenYear = ExpandShiftYear(now.year, ctx->nShiftOpenYear);
  // The printer's local opening time as a moment, so that the age is the real time elapsed even
  // when a daylight-saving change lies between the opening and now.
  plat::CalendarTime openedLocal;
  openedLocal.year = ctx->nShiftOpenYear;
  openedLocal.month = ctx->nShiftOpenMonth;
  openedLocal.day = ctx->nShiftOpenDay;
  openedLocal.hour = ctx->nShiftOpenHour;
  openedLocal.minute = ctx->nShiftOpenMinute;
  const int64_t opened = plat::UnixTimeOfLocal(openedLocal);
  *expired = ctx->pClock->UnixTime() - opened >= int64_t{ctx->nShiftHours} * 3600;
  return FinishLastResult(ctx, "IsShiftExpired", 0);
}
