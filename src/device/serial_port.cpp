#include "device/serial_port.h"

#include <algorithm>
#include <cinttypes>
#include <string>

#include "device/device_log.h"
#include "platform/deadline.h"

namespace {

constexpr uint32_t kInputQueueSize = 1024;
constexpr uint32_t kOutputQueueSize = 256;
constexpr uint32_t kDrainBlock = 256;
constexpr uint32_t kReadIntervalMs = 1000;
constexpr int kResetPasses = 5;

void LogSystemError(FPContext* ctx, const char* name, uint32_t code) {
  LogMessagef(ctx, name, "GetLastError Code: %" PRIu32, code);
  LogMessage(ctx, name, plat::SystemErrorText(code).c_str());
}

// Logs the system text of the current error, when there is one.
void LogSystemTextIfAny(FPContext* ctx, const char* name, uint32_t code) {
  if (code != 0) LogMessage(ctx, name, plat::SystemErrorText(code).c_str());
}

// A close that fails has given up the system's handle all the same; the second one releases the
// rest of the port, which nothing refers to any more.
void ReleaseHandle(FPContext* ctx) {
  if (ctx->hComPort && !plat::SerialClose(ctx->hComPort)) plat::SerialClose(ctx->hComPort);
  ctx->hComPort = nullptr;
}

// A failed call on the port: its code and the system's text, after `what`.
void LogPortFailure(FPContext* ctx, const char* name, const char* what) {
  const uint32_t error = plat::SystemLastError();
  LogMessagef(ctx, name, "%s: %" PRIu32, what, error);
  LogSystemTextIfAny(ctx, name, error);
}

// The line errors ClearCommError reported (the bytes they spoiled reach the link, which rejects
// them; the log says why they were spoiled).
void LogLineErrors(FPContext* ctx, const char* name) {
  static const struct {
    uint32_t bit;
    const char* text;
  } kErrors[] = {{plat::kLineInputOverflow, "input overflow"},
                 {plat::kLineOverrun, "overrun"},
                 {plat::kLineParity, "parity"},
                 {plat::kLineFraming, "framing"},
                 {plat::kLineBreak, "break"}};
  std::string text;
  for (const auto& e : kErrors) {
    if (ctx->dwCommErrors & e.bit) text += (text.empty() ? "" : ", ") + std::string(e.text);
  }
  if (!text.empty()) LogMessage(ctx, name, ("Line errors: " + text).c_str());
}

// ClearCommError into the context, with the line errors it reports logged under `name`.
bool ClearCommErrorFP(FPContext* ctx, const char* name) {
  if (!plat::SerialClearError(ctx->hComPort, &ctx->dwCommErrors, &ctx->comStat)) return false;
  LogLineErrors(ctx, name);
  return true;
}

// The line settings of both modes: 8 data bits, even parity, one stop bit; the usual mode adds the
// hardware handshake, the Mirel-520 mode runs without it.
void SetLineFlags(FPContext* ctx) {
  const bool usual = ctx->bMirel520Mode == 0;
  LogMessage(ctx, "OpenSerial2",
             usual ? "Open serial port in usual mode" : "Open serial port in Mirel-520 mode");
  plat::SerialState& d = ctx->dcb;
  d.fBinary = 1;
  d.fParity = usual ? 1 : 0;
  d.fOutxCtsFlow = usual ? 1 : 0;
  d.fOutxDsrFlow = usual ? 1 : 0;
  d.fDtrControl = plat::kDtrControlEnable;
  d.fDsrSensitivity = 0;
  d.fTXContinueOnXoff = 1;
  d.fOutX = 0;
  d.fInX = 0;
  d.fErrorChar = 0;
  d.fNull = 0;
  d.fRtsControl = usual ? plat::kRtsControlHandshake : plat::kRtsControlDisable;
  d.fAbortOnError = 0;
  d.ByteSize = 8;
  d.Parity = plat::kEvenParity;
  d.StopBits = plat::kOneStopBit;
}

int FailInitialization(FPContext* ctx, int port) {
  LogMessagef(ctx, "OpenSerial2", "COM%u initialization failed", static_cast<unsigned>(port));
  ReleaseHandle(ctx);
  return LogReturn(ctx, "OpenSerial2", kLinkNoPort);
}

}  // namespace

uint32_t BaudRateOfCode(int code) {
  static const uint32_t kRates[] = {4800, 9600, 19200, 38400, 57600, 76800, 115200};
  if (code < 0 || code >= static_cast<int>(sizeof kRates / sizeof kRates[0])) return 0;
  return kRates[code];
}

int OpenSerial2(FPContext* ctx, int port, int baudRateCode) {
  LogEnter(ctx, "OpenSerial2");
  LogMessagef(ctx, "OpenSerial2", "nPort = %d", port);
  LogMessagef(ctx, "OpenSerial2", "nBaudRateCode = %d", baudRateCode);
  if (ctx->nComPort != 0) {
    return LogReturn(ctx, "OpenSerial2", port == ctx->nComPort ? kLinkOk : kLinkNoPort);
  }
  ReleaseHandle(ctx);

  ctx->hComPort = plat::SerialOpen(port);
  if (!ctx->hComPort) {
    const uint32_t error = plat::SystemLastError();
    LogSystemError(ctx, "OpenSerial2", error);
    LogMessagef(ctx, "CreateFile", "COM%u open fail, error %" PRIu32, static_cast<unsigned>(port), error);
    return LogReturn(ctx, "OpenSerial2", kLinkNoPort);
  }
  LogMessagef(ctx, "CreateFile", "COM%u open Ok", static_cast<unsigned>(port));

  if (!plat::SerialSetupQueues(ctx->hComPort, kInputQueueSize, kOutputQueueSize)) {
    LogMessage(ctx, "OpenSerial2", "SetupComm failed");
    LogSystemError(ctx, "OpenSerial2", plat::SystemLastError());
    return FailInitialization(ctx, port);
  }
  if (!plat::SerialGetState(ctx->hComPort, &ctx->dcb)) {
    LogPortFailure(ctx, "OpenSerial2", "GetCommState error");
    return FailInitialization(ctx, port);
  }

  const uint32_t baud = BaudRateOfCode(baudRateCode);
  if (baud == 0) {
    ReleaseHandle(ctx);
    return LogReturn(ctx, "OpenSerial2", kLinkNoPort);
  }
  ctx->dcb.BaudRate = baud;
  SetLineFlags(ctx);
  if (!plat::SerialSetState(ctx->hComPort, ctx->dcb)) {
    LogPortFailure(ctx, "OpenSerial2", "SetCommState error");
    return FailInitialization(ctx, port);
  }
  if (SetCommTimeoutsFP(ctx, ctx->nReadTimeout, ctx->nWriteTimeout) != kLinkOk) {
    return FailInitialization(ctx, port);
  }

  ctx->nComPort = port;
  LogMessagef(ctx, "OpenSerial2", "COM%u is initialized successfully", static_cast<unsigned>(port));
  const bool purged = plat::SerialPurge(ctx->hComPort, plat::kPurgeTxClear | plat::kPurgeRxClear);
  LogMessagef(ctx, "OpenSerial2", "PurgeComm ret %u", purged ? 1u : 0u);
  return LogReturn(ctx, "OpenSerial2", kLinkOk);
}

namespace {

// A total time-out of 0 means none to the port: a read would wait for its first byte for ever and a
// write for as long as the line holds it back. A time-out of 0 or below is the shortest one instead.
uint32_t TotalTimeoutMs(int ms) {
  return ms > 0 ? static_cast<uint32_t>(ms) : 1;
}

}  // namespace

int SetCommTimeoutsFP(FPContext* ctx, int readMs, int writeMs) {
  if (!plat::SerialGetTimeouts(ctx->hComPort, &ctx->commTimeouts)) {
    LogPortFailure(ctx, "SetCommTimeoutsFP", "GetCommTimeouts error");
    return kLinkNoPort;
  }
  ctx->commTimeouts.ReadIntervalTimeout = kReadIntervalMs;
  ctx->commTimeouts.ReadTotalTimeoutMultiplier = 0;
  ctx->commTimeouts.ReadTotalTimeoutConstant = TotalTimeoutMs(readMs);
  ctx->commTimeouts.WriteTotalTimeoutMultiplier = 0;
  ctx->commTimeouts.WriteTotalTimeoutConstant = TotalTimeoutMs(writeMs);
  if (!plat::SerialSetTimeouts(ctx->hComPort, ctx->commTimeouts)) {
    LogPortFailure(ctx, "SetCommTimeoutsFP", "SetCommTimeouts error");
    return kLinkNoPort;
  }
  return kLinkOk;
}

int GetCommTimeoutsFP(FPContext* ctx, int* readMs, int* writeMs) {
  if (readMs) *readMs = ctx->nReadTimeout;
  if (writeMs) *writeMs = ctx->nWriteTimeout;
  return kLinkOk;
}

int CloseSerial(FPContext* ctx) {
  LogEnter(ctx, "CloseSerial");
  if (ctx->nComPort == 0) return LogReturn(ctx, "CloseSerial", kLinkOk);

  int result = kLinkOk;
  uint32_t error = 0;
  if (ctx->hComPort) {
    if (plat::SerialClose(ctx->hComPort)) {
      ctx->hComPort = nullptr;
    } else {
      result = kLinkNoPort;
      error = plat::SystemLastError();
    }
  }
  const unsigned port = static_cast<unsigned>(ctx->nComPort);
  if (result != kLinkOk) {
    LogMessagef(ctx, "CloseHandle", "COM%u close fail, error %" PRIu32, port, error);
    LogSystemTextIfAny(ctx, "CloseHandle", error);
  } else {
    LogMessagef(ctx, "CloseHandle", "COM%u close Ok", port);
  }
  LogMessagef(ctx, "CloseSerial", "Protocol errors: %" PRId32, ctx->nProtocolErrors);
  LogMessagef(ctx, "CloseSerial", "NAK retries: %" PRId32, ctx->nNakCount);
  LogMessagef(ctx, "CloseSerial", "Busy retries: %" PRId32, ctx->nBusyCount);
  if (result == kLinkOk) ctx->nComPort = 0;
  return LogReturn(ctx, "CloseSerial", result);
}

int ReleaseSerial(FPContext* ctx) {
  const int closed = CloseSerial(ctx);
  return closed == kLinkOk ? closed : CloseSerial(ctx);
}

int PurgeSerial(FPContext* ctx, uint32_t* inPending, uint32_t* outPending) {
  if (!ctx->hComPort) return kLinkNoPort;
  if (!ClearCommErrorFP(ctx, "PurgeSerial")) {
    LogPortFailure(ctx, "PurgeSerial", "ClearCommError error");
    return kLinkNoPort;
  }
  *inPending = ctx->comStat.cbInQue;
  *outPending = ctx->comStat.cbOutQue;
  const uint32_t all = plat::kPurgeTxAbort | plat::kPurgeRxAbort | plat::kPurgeTxClear | plat::kPurgeRxClear;
  if (plat::SerialPurge(ctx->hComPort, all)) return kLinkOk;
  LogPortFailure(ctx, "PurgeSerial", "PurgeComm error");
  return kLinkNoPort;
}

int ResetSerial(FPContext* ctx) {
  ctx->pClock->SleepMs(100);
  int result = kLinkOk;
  for (int pass = 0; pass < kResetPasses; ++pass) {
    uint32_t in = 0, out = 0;
    result = PurgeSerial(ctx, &in, &out);
    if (result != kLinkOk) break;
    LogMessagef(ctx, "ResetSerial", "bytes discarded: input %" PRIu32 ", output %" PRIu32, in, out);
    if (in == 0 && out == 0) break;
    ctx->pClock->SleepMs(1000);
  }
  if (ctx->bMirel520Mode) ctx->nProtocolErrors = 0;
  return result;
}

int ClearInputBuffer(FPContext* ctx) {
  // A closed port has nothing to drain; the caller reports the closed port itself.
  if (!ctx->hComPort) return kLinkNoPort;
  if (!ClearCommErrorFP(ctx, "ClearInputBuffer")) {
    LogPortFailure(ctx, "ClearInputBuffer", "After GetCommError");
    plat::SerialPurge(ctx->hComPort, plat::kPurgeTxClear | plat::kPurgeRxClear);
    return kLinkNoDevice;
  }
  const uint32_t queued = ctx->comStat.cbInQue;
  if (queued == 0) return 0;

  LogMessagef(ctx, "CIB", "Bytes To Read: %" PRIu32, queued);
  uint8_t buffer[kDrainBlock];
  uint32_t total = 0;
  while (total < queued) {
    const uint32_t wanted = queued - total < kDrainBlock ? queued - total : kDrainBlock;
    uint32_t got = 0;
    if (!plat::SerialRead(ctx->hComPort, buffer, wanted, &got)) {
      LogPortFailure(ctx, "CIB", "ReadFile error");
      plat::SerialPurge(ctx->hComPort, plat::kPurgeTxClear | plat::kPurgeRxClear);
      return kLinkSendTimeout;
    }
    // The queue count may shrink under us (a purge elsewhere, a driver that reports it loosely):
    // an empty read means there is nothing left to drain, not a reason to read again.
    if (got == 0) break;
    LogMessage(ctx, "CIB", "Bytes read:");
    LogBytes(ctx, "CIB", "", buffer, got);
    total += got;
  }
  return static_cast<int>(total);
}

int FP_Present(FPContext* ctx) {
  if (!ctx->hComPort) return kLinkNoPort;
  if (ctx->bMirel520Mode) return kLinkOk;
  uint32_t bits = 0;
  if (!plat::SerialModemStatus(ctx->hComPort, &bits)) {
    const uint32_t error = plat::SystemLastError();
    LogMessagef(ctx, "FP_Present", "GetCommModemStatus: 0 GetLastError: %" PRIu32, error);
    LogSystemTextIfAny(ctx, "FP_Present", error);
    return kLinkNoPort;
  }
  if (bits & plat::kModemDsrOn) return kLinkOk;
  LogMessage(ctx, "FP_Present", "MS_DSR_ON is not set");
  return kLinkNoDevice;
}

int SendBuf(FPContext* ctx, const uint8_t* bytes, int count) {
  uint32_t written = 0;
  if (ctx->hComPort && count >= 0 &&
      plat::SerialWrite(ctx->hComPort, bytes, static_cast<uint32_t>(count), &written) &&
      written == static_cast<uint32_t>(count)) {
    return kLinkOk;
  }
  LogSystemTextIfAny(ctx, "SendBuf", plat::SystemLastError());
  return kLinkSendTimeout;
}

int SendChar(FPContext* ctx, uint8_t byte) {
  uint32_t written = 0;
  if (!ctx->hComPort || !plat::SerialWrite(ctx->hComPort, &byte, 1, &written) || written != 1) {
    LogSystemTextIfAny(ctx, "SendChar", plat::SystemLastError());
    return kLinkSendTimeout;
  }
  LogMessagef(ctx, "SC", "=> %2.2X ", byte);
  return kLinkOk;
}

int AcceptChar(FPContext* ctx, uint8_t* byte) {
  uint32_t got = 0;
  if (ctx->hComPort && plat::SerialRead(ctx->hComPort, byte, 1, &got) && got == 1) {
    LogMessagef(ctx, "AC", "<= %2.2X ", *byte);
    return kLinkOk;
  }
  const uint32_t error = plat::SystemLastError();
  LogMessagef(ctx, "AcceptChar", "ReadFile error: %" PRIu32, error);
  LogSystemTextIfAny(ctx, "AcceptChar", error);
  return kLinkReceiveTimeout;
}

namespace {

// The log lines and result of a read of AcceptBuf's kind.
int FinishAcceptBuf(FPContext* ctx, bool ok, const uint8_t* buf, const uint32_t* got) {
  if (!ok) {
    const uint32_t error = plat::SystemLastError();
    LogMessagef(ctx, "AcceptBuf", "ReadFile error: %" PRIu32, error);
    LogSystemTextIfAny(ctx, "AcceptBuf", error);
  }
  if (*got > 0) LogBytes(ctx, "AB", "<= ", buf, *got);
  return ok ? kLinkOk : kLinkReceiveTimeout;
}

// How long the next byte of a read is waited for, as a read with the port's time-outs waits: the
// first until the total time-out, each later one at most the interval between bytes as well.
uint32_t NextByteWaitMs(const FPContext* ctx, const plat::Deadline& total, uint32_t got) {
  const uint32_t left = total.RemainingMs();
  const uint32_t interval = ctx->commTimeouts.ReadIntervalTimeout;
  return got == 0 || interval == 0 ? left : std::min(left, interval);
}

}  // namespace

bool WaitForInput(FPContext* ctx, uint32_t ms) {
  if (!ctx->hComPort) return false;
  if (plat::SerialWaitInput(ctx->hComPort, ms)) return true;
  if (plat::SystemLastError() != 0) LogPortFailure(ctx, "WaitForInput", "Wait for input failed");
  return false;
}

int AcceptBuf(FPContext* ctx, uint8_t* buf, uint32_t wanted, uint32_t* got) {
  *got = 0;
  const bool ok = ctx->hComPort && plat::SerialRead(ctx->hComPort, buf, wanted, got);
  return FinishAcceptBuf(ctx, ok, buf, got);
}

int AcceptBufUntil(FPContext* ctx, uint8_t* buf, uint32_t wanted, uint32_t* got, const AnswerEnd& end) {
  *got = 0;
  if (!ctx->hComPort) return FinishAcceptBuf(ctx, false, buf, got);
  // A total time-out of 0 is no limit, as in the port's time-outs.
  const uint32_t totalMs = ctx->commTimeouts.ReadTotalTimeoutConstant;
  const plat::Deadline total(totalMs != 0 ? totalMs : UINT32_MAX);
  bool ok = true;
  while (ok && *got < wanted && !end.Complete(*got)) {
    // A wait that ends without input is the time-out of a short read; one that fails is the port's
    // failure, reported as such.
    if (!plat::SerialWaitInput(ctx->hComPort, NextByteWaitMs(ctx, total, *got))) {
      ok = plat::SystemLastError() == 0;
      break;
    }
    uint32_t n = 0;
    ok = ClearCommErrorFP(ctx, "AcceptBuf") &&
         plat::SerialRead(ctx->hComPort, buf + *got,
                          std::min(std::max<uint32_t>(ctx->comStat.cbInQue, 1), wanted - *got), &n);
    *got += n;
  }
  return FinishAcceptBuf(ctx, ok, buf, got);
}
