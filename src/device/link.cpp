#include "device/link.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "device/device_log.h"
#include "device/frame_decoders.h"
#include "device/status.h"

namespace {

constexpr int kDrainAttempts = 5;
constexpr uint8_t kBusyBit = 0x04;
constexpr uint32_t kStrayReadLimit = 127;
constexpr uint32_t kEnqtDelayMs = 500;
constexpr int kEnqtFromMajorVersion = 3;
// A long command is awaited while the device reports busy; the device normally finishes within
// seconds, so a device that stays busy this long is treated as hung rather than waited on forever.
constexpr uint32_t kLongCommandLimitMs = 120000;

struct TransactionMode {
  const char* name;
  bool readAnswer;     // false: the frame is sent and the answer left for the caller
  bool singleAttempt;  // true: no retries, a failed presence test reports "no device"
};

const TransactionMode kExecTransaction = {"ExecTransaction", true, false};
const TransactionMode kExecTransactionHZRR520 = {"ExecTransactionHZRR520", false, false};
const TransactionMode kStartLongTransaction = {"StartLongTransaction", false, true};

// Reading stale input can fail as well as find nothing; a failure does not improve by repeating
// it, so the drain stops at the first result that is not a count of discarded bytes.
void DrainInput(FPContext* ctx) {
  for (int i = 0; i < kDrainAttempts; ++i) {
    if (ClearInputBuffer(ctx) <= 0) break;
  }
}

void SleepMs(FPContext* ctx, int ms) {
  if (ms > 0) ctx->pClock->SleepMs(static_cast<uint32_t>(ms));
}

// Input queued on the port: what the pause before an answer waits for.
class PortInput : public plat::Readiness {
 public:
  explicit PortInput(FPContext* ctx) : ctx_(ctx) {}
  bool WaitMs(uint32_t ms) override { return WaitForInput(ctx_, ms); }

 private:
  FPContext* ctx_;
};

// The pause a command gives the device before its answer is read ends as soon as the answer
// starts to arrive: a read then waits the port's time-outs, so an answer is awaited for the pause
// plus those, as when the pause was slept out, and an early one is taken at once. Returns the
// part of the pause that was not waited.
uint32_t AwaitAnswer(FPContext* ctx, int pauseMs) {
  if (pauseMs <= 0) return 0;
  const uint32_t pause = static_cast<uint32_t>(pauseMs);
  const uint32_t start = ctx->pClock->TickMs();
  PortInput input(ctx);
  ctx->pClock->SleepUntilReady(pause, input);
  const uint32_t waited = ctx->pClock->TickMs() - start;
  return waited < pause ? pause - waited : 0;
}

// Sends the frame once and, after the pause, tests that the device is still there. When the
// answer is read next, the pause ends early once it starts to arrive (see AwaitAnswer) and
// *pauseLeftMs receives what was left of it; the send-only forms sleep it out.
int SendFrame(FPContext* ctx, const uint8_t* frame, int frameLength, int pauseMs, bool readAnswer,
              uint32_t* pauseLeftMs) {
  *pauseLeftMs = 0;
  ctx->nTransactionPhase = 2;
  const int sent = SendBuf(ctx, frame, frameLength);
  if (sent != kLinkOk) return sent;
  ctx->nTransactionPhase = 3;
  if (pauseMs < 0) {
    ctx->nTransactionPhase = 4;
  } else {
    if (readAnswer) {
      *pauseLeftMs = AwaitAnswer(ctx, pauseMs);
    } else {
      SleepMs(ctx, pauseMs);
    }
    if (FP_Present(ctx) == kLinkOk) ctx->nTransactionPhase = 4;
  }
  return sent;
}

int ReceiveAnswer(FPContext* ctx, int expected, bool log, bool longCommand, uint32_t pauseLeftMs);

int RunTransaction(FPContext* ctx, const TransactionMode& mode, const char* cmd, int pauseMs, bool log,
                   bool longCommand) {
  if (log) LogEnter(ctx, mode.name);
  DrainInput(ctx);
  ctx->nTransactionPhase = 0;
  if (ctx->nComPort == 0) return LogReturn(ctx, mode.name, kLinkNoPort);
  const size_t length = cmd ? strnlen(cmd, kMaxCommandLength + 1) : kMaxCommandLength + 1;
  if (length > static_cast<size_t>(kMaxCommandLength)) {
    return LogReturn(ctx, mode.name, kLinkProtocolError);
  }

  uint8_t frame[kMaxCommandLength + 3];
  frame[0] = ctl::STX;
  memcpy(frame + 1, cmd, length);
  frame[length + 1] = ctl::ETX;
  frame[length + 2] = CalcBCC(frame + 1, static_cast<int>(length) + 1);
  const int frameLength = static_cast<int>(length) + 3;
  ctx->nTransactionPhase = 1;

  int nakBudget = ctx->nNakRetries;
  int busyBudget = ctx->nBusyRetries;
  int result;
  for (;;) {
    result = WaitFPPresent(ctx);
    if (result != kLinkOk) {
      if (mode.singleAttempt) result = kLinkNoDevice;
      break;
    }
    uint32_t pauseLeftMs = 0;
    const int sent = SendFrame(ctx, frame, frameLength, pauseMs, mode.readAnswer, &pauseLeftMs);
    if (log) LogSentFrame(ctx, cmd, static_cast<int>(length), frame[length + 2], sent);
    result = sent;
    if (mode.singleAttempt) break;
    if (sent == kLinkOk && mode.readAnswer) {
      result = ReceiveAnswer(ctx, kExpectCommandAnswer, log, longCommand, pauseLeftMs);
    }

    if (result == kLinkProtocolError) {
      ++ctx->nProtocolErrors;
      ResetSerial(ctx);
    } else if (result == kAnswerNak) {
      ++ctx->nNakCount;
      if (--nakBudget > 0) {
        SleepMs(ctx, ctx->nNakRetryDelay);
        continue;
      }
    } else if (result == kAnswerStatus && (ctx->status[0] & kBusyBit)) {
      ++ctx->nBusyCount;
      if (--busyBudget > 0) {
        SleepMs(ctx, ctx->nBusyRetryDelay);
        continue;
      }
    } else if (result == kLinkOk) {
      ctx->nTransactionPhase = 5;
    }
    break;
  }
  if (log || mode.singleAttempt) LogReturn(ctx, mode.name, result);
  return result;
}

// A long command answers only when it is done: until bytes arrive, the device is polled and given
// time while it reports busy. Returns 0 when an answer is waiting, else the result to report.
int AwaitLongCommand(FPContext* ctx) {
  LogMessage(ctx, "AcceptData", "bLongCommand");
  const uint32_t start = ctx->pClock->TickMs();
  for (;;) {
    if (plat::SerialClearError(ctx->hComPort, &ctx->dwCommErrors, &ctx->comStat) &&
        ctx->comStat.cbInQue > 0) {
      return kLinkOk;
    }
    ctx->pClock->SleepMs(300);
    // The busy bit is what is waited on, so it is left as the device reported it.
    const int status = GetStatus(ctx, false);
    if (status != kAnswerStatus) {
      LogMessage(ctx, "AcceptData", "Error: Status not received in AcceptData.");
      return status;
    }
    if (!(ctx->status[0] & kBusyBit)) return kAnswerStatus;
    if (ctx->pClock->TickMs() - start > kLongCommandLimitMs) return kLinkReceiveTimeout;
    ctx->pClock->SleepMs(200);
  }
}

int AcceptFrame(FPContext* ctx, int expected, bool log) {
  uint8_t header[4];
  uint32_t got = 0;
  const int read = AcceptBuf(ctx, header, sizeof header, &got);
  if (read != kLinkOk || got != sizeof header) {
    LogRecv(ctx, "[02][]", LinkResultText(read != kLinkOk ? read : kLinkReceiveTimeout));
    // A short header is a broken answer; a failed port is reported as the failure it is.
    return read != kLinkOk ? read : kLinkProtocolError;
  }
  if (expected == kExpectEnqtStatus) return DecodeExtendedStatus(ctx, header, log);
  if (IsShortStatusHeader(header)) return DecodeShortStatus(ctx, header, expected == kExpectEnq2Status);
  if (expected == kExpectCommandAnswer) {
    if (FrameDecoderFn decode = FindFrameDecoder(header)) return decode(ctx, header, log);
  }
  LogUnknownHeader(ctx, header);
  return kLinkProtocolError;
}

// Bytes that start no known answer: read what follows (bounded) and log it all in one line. The
// rest of a pause cut short by these bytes is waited first, so that the line shows what it showed
// when the whole pause was slept before reading.
int RejectStrayBytes(FPContext* ctx, uint8_t first, uint32_t pauseLeftMs) {
  SleepMs(ctx, static_cast<int>(pauseLeftMs));
  uint8_t bytes[1 + kStrayReadLimit];
  bytes[0] = first;
  uint32_t got = 0;
  AcceptBuf(ctx, bytes + 1, kStrayReadLimit, &got);
  std::string text;
  char piece[8];
  for (uint32_t i = 0; i < got + 1; ++i) {
    if (bytes[i] >= 0x20 && bytes[i] <= 0x7F) {
      snprintf(piece, sizeof piece, "%c", bytes[i]);
    } else {
      snprintf(piece, sizeof piece, "[%2.2X]", bytes[i]);
    }
    text += piece;
  }
  LogRecv(ctx, text.c_str(), LinkResultText(kLinkProtocolError));
  return kLinkProtocolError;
}

}  // namespace

uint8_t CalcBCC(const uint8_t* bytes, int count) {
  uint8_t bcc = 0;
  for (int i = 0; i < count; ++i) bcc ^= bytes[i];
  return bcc;
}

const char* LinkResultText(int code) {
  static const char* const kTexts[] = {"protocol error",
                                       "receive time out",
                                       "transmit time out",
                                       "no device connected",
                                       "COM port not available",
                                       "ok",
                                       "(NAK)",
                                       "(Status)",
                                       "(Info1)",
                                       "(Info9)",
                                       "(Status2)",
                                       "(Info2)",
                                       "(Info3)",
                                       "(Tax Chain Info)",
                                       "(Version Info)",
                                       "(Se Info)",
                                       "(SI Info)",
                                       "(Sf Info)",
                                       "(Sg Info)",
                                       "(Sh Info)",
                                       "(Si Info)",
                                       "(ENQT Status)",
                                       "(S\" Info)",
                                       "(Header line)",
                                       "(SNZ1 Info)",
                                       "(SNZ2 Info)",
                                       "(SX Info)",
                                       "(SM Info)",
                                       "(SR Info)",
                                       "(SY Info)",
                                       "(Sm Info)",
                                       "(S0 Info)",
                                       "",
                                       "",
                                       "",
                                       "",
                                       "(SAA Info)",
                                       "(SA Info)",
                                       "(S31 Info)",
                                       "(S|bf3 Info)",
                                       "(S{& Info)",
                                       "(S{&0 Info)",
                                       "(S{~ Info)",
                                       "(S{LL Info)",
                                       "(S{O Info)",
                                       "(S{O? Info)",
                                       "(S{O@ Info)",
                                       "(S}M Info)"};
  constexpr int kFirst = -5;
  const int index = code - kFirst;
  if (index < 0 || index >= static_cast<int>(sizeof kTexts / sizeof kTexts[0])) return "";
  return kTexts[index];
}

void ToNibbleChars(uint8_t value, char* out) {
  out[0] = static_cast<char>(0x30 + (value >> 4));
  out[1] = static_cast<char>(0x30 + (value & 0x0F));
}

// A damaged answer brings characters below 0x30 too: the arithmetic is unsigned, so that they wrap
// to a byte like any other instead of shifting a negative number.
uint8_t FromNibbleChars(const char* in) {
  const uint32_t high = static_cast<uint8_t>(in[0]) - 0x30u;
  const uint32_t low = static_cast<uint8_t>(in[1]) - 0x30u;
  return static_cast<uint8_t>((high << 4) + low);
}

int WaitFPPresent(FPContext* ctx) {
  return FP_Present(ctx);
}

// The device asked for attention instead of answering: acknowledge, read its status and, on
// printers that keep an error code, the extended status. The command then counts as refused or
// busy, like a status answer.
int HandleDeviceEnq(FPContext* ctx) {
  const int acked = SendChar(ctx, ctl::ACK);
  LogSend(ctx, "[06] (ACK)", LinkResultText(acked));
  if (acked != kLinkOk) return acked;

  const int status = AcceptData(ctx, kExpectEnqStatus, true, false);
  if (status < 0) return status;
  if (status != kAnswerStatus) return kLinkProtocolError;

  if (ctx->nVersionMajor >= kEnqtFromMajorVersion) {
    ctx->pClock->SleepMs(kEnqtDelayMs);
    const int sent = SendChar(ctx, ctl::ENQT);
    LogSend(ctx, "[1A] (ENQT)", LinkResultText(sent));
    if (sent == kLinkOk) AcceptData(ctx, kExpectEnqtStatus, true, false);
  }
  return kAnswerStatus;
}

void LogSentFrame(FPContext* ctx, const char* cmd, int length, uint8_t bcc, int sendResult) {
  if (!ctx->pfnLogSend) return;
  char text[kMaxCommandLength + 32];
  snprintf(text, sizeof text, "[02]%*.*s[03][%2.2X]", length, length, cmd, bcc);
  LogSend(ctx, text, LinkResultText(sendResult));
}

int ExecTransaction(FPContext* ctx, const char* cmd, int pauseMs, bool log, bool longCommand) {
  return RunTransaction(ctx, kExecTransaction, cmd, pauseMs, log, longCommand);
}

int ExecTransactionHZRR520(FPContext* ctx, const char* cmd, int pauseMs, bool log, bool longCommand) {
  return RunTransaction(ctx, kExecTransactionHZRR520, cmd, pauseMs, log, longCommand);
}

int StartLongTransaction(FPContext* ctx, const char* cmd, int pauseMs, bool log, bool longCommand) {
  return RunTransaction(ctx, kStartLongTransaction, cmd, pauseMs, log, longCommand);
}

int AcceptData(FPContext* ctx, int expected, bool log, bool longCommand) {
  return ReceiveAnswer(ctx, expected, log, longCommand, 0);
}

namespace {

// AcceptData after a pause that ended `pauseLeftMs` early because bytes arrived.
int ReceiveAnswer(FPContext* ctx, int expected, bool log, bool longCommand, uint32_t pauseLeftMs) {
  if (ctx->nComPort == 0) return LogReturn(ctx, "AcceptData", kLinkNoPort);
  if (longCommand) {
    const int waited = AwaitLongCommand(ctx);
    if (waited != kLinkOk) return waited;
  }
  const int present = WaitFPPresent(ctx);
  if (present != kLinkOk) return LogReturn(ctx, "AcceptData", present);

  uint8_t first = 0;
  const int read = AcceptChar(ctx, &first);
  if (read != kLinkOk) {
    LogRecv(ctx, "[]", LinkResultText(read));
    return read;
  }
  switch (first) {
    case ctl::ACK:
      LogRecv(ctx, "[06]", "(ACK)");
      return expected == kExpectCommandAnswer ? kLinkOk : kLinkProtocolError;
    case ctl::NAK:
      LogRecv(ctx, "[15]", "(NAK)");
      return kAnswerNak;
    case ctl::ENQ:
      LogRecv(ctx, "[05]", "(ENQ)");
      return expected == kExpectCommandAnswer ? HandleDeviceEnq(ctx) : kLinkProtocolError;
    case ctl::STX:
      return AcceptFrame(ctx, expected, log);
    default:
      return RejectStrayBytes(ctx, first, pauseLeftMs);
  }
}

}  // namespace
