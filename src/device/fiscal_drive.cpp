#include "device/fiscal_drive.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "device/device_log.h"
#include "device/link.h"
#include "device/recode.h"
#include "device/result_codes.h"
#include "device/serial_port.h"
#include "device/status.h"
#include "device/text_field.h"

namespace {

// Positions in an answer that echoes a three-character command: STX, the echo, then the drive's
// message as nibble characters (start byte, length, answer code, data).
constexpr int kEchoAt = 1;
constexpr int kEchoLength = 3;
constexpr int kLengthAt = 6;
constexpr int kCodeAt = 10;
constexpr int kDataAt = 12;
// The answer up to and including the length field, and what follows the data: the drive's check
// value (four characters), ETX and the check character.
constexpr int kHeadLength = 10;
constexpr int kTailLength = 6;
constexpr int kShortAnswerLength = 18;  // an answer with the answer code and no data
constexpr uint8_t kMessageStart = 0x04;

constexpr uint8_t kCodeMoreToCome = 0x80;
constexpr uint8_t kCodeReceiptRefused = 0x20;

constexpr int kMaxBlockSize = 255;
constexpr int kMaxOffset = 0xFFFF;
constexpr int kSuIAnswerMax = 512;
constexpr int kSuLAnswerMax = 20;
constexpr int kSu5AnswerMax = 599;
constexpr int kMaxReceiptLength = 0xFFFF;
constexpr uint32_t kDrainChunk = 100;
// Results of this family beyond the link's: an answer longer than its buffer, memory exhausted.
constexpr int kAnswerTooLong = -6;
constexpr int kNoMemory = -7;

// The reprint echo: chunks of STX, a kind byte, the line and ETX; the last has the kind 0x19 and
// one byte more.
constexpr int kEchoChunk = 47;
constexpr int kWideEchoChunk = 61;
constexpr uint8_t kWideEchoBit = 0x10;
constexpr int kEchoBuffer = 65;
constexpr int kEchoTextAt = 2;
constexpr int kEchoText = 44;
constexpr uint8_t kEchoEnd = 0x19;
constexpr int kSignDigits = 10;
// A printer that never ends its echo is given up on after this many chunks or this long.
constexpr int kEchoChunkLimit = 200;
constexpr uint32_t kEchoTimeLimitMs = 120000;

bool IsSupportedModel(const FPContext* ctx) {
  return ctx->nVersionMajor == 11 && ctx->nVersionMinor == 1;
}

uint8_t ByteAt(const uint8_t* answer, int at) {
  return FromNibbleChars(reinterpret_cast<const char*>(answer + at));
}

// A little-endian number of `bytes` bytes written as nibble characters from `at`.
uint32_t NumberAt(const uint8_t* answer, int at, int bytes) {
  uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | ByteAt(answer, at + 2 * i);
  return value;
}

// STX, text, ETX and the check character over text and ETX; the frame's length.
int BuildFrame(const char* text, int length, uint8_t* frame) {
  frame[0] = ctl::STX;
  memcpy(frame + 1, text, static_cast<size_t>(length));
  frame[length + 1] = ctl::ETX;
  frame[length + 2] = CalcBCC(frame + 1, length + 1);
  return length + 3;
}

void AppendNibbles(std::string* text, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) {
    char pair[2];
    ToNibbleChars(static_cast<uint8_t>(value >> (8 * i)), pair);
    text->append(pair, 2);
  }
}

// One read of the port. A failure logs the system's code and text and the bytes that came; with
// `dump` the bytes of a successful read are logged as well.
bool ReadOnce(FPContext* ctx, const char* name, uint8_t* buffer, uint32_t count, uint32_t* got, bool dump) {
  *got = 0;
  const bool ok = plat::SerialRead(ctx->hComPort, buffer, count, got);
  if (!ok) {
    const uint32_t error = plat::SystemLastError();
    LogMessagef(ctx, name, "ReadFile error: %" PRIu32, error);
    LogMessage(ctx, name, plat::SystemErrorText(error).c_str());
  }
  if ((!ok || dump) && *got > 0) LogBytes(ctx, "AB", "<= ", buffer, *got);
  return ok;
}

// Reads on until `*got` bytes of `buffer` reach `until` or the line falls quiet.
bool ReadMore(FPContext* ctx, uint8_t* buffer, int until, int* got, bool dump) {
  if (*got >= until) return true;
  uint32_t n = 0;
  const bool ok =
      ReadOnce(ctx, "AcceptBufFDMSG", buffer + *got, static_cast<uint32_t>(until - *got), &n, dump);
  *got += static_cast<int>(n);
  return ok;
}

// The length of an answer whose head (kHeadLength bytes) carries a drive message: head, two
// characters per byte of answer code and data, and the tail. 0 when the head holds no message.
int AnswerLengthOf(const uint8_t* head) {
  if (ByteAt(head, 4) != kMessageStart) return 0;
  for (int i = kLengthAt; i < kHeadLength; ++i) {
    if (head[i] < 0x30 || head[i] > 0x3F) return 0;
  }
  return kHeadLength + 2 * static_cast<int>(NumberAt(head, kLengthAt, 2)) + kTailLength;
}

// The echo of the command at positions 1..3; otherwise "Illegal <name> answer ..." and false.
bool EchoMatches(FPContext* ctx, const char* logName, const char* echo, const uint8_t* answer) {
  if (memcmp(answer + kEchoAt, echo, kEchoLength) == 0) return true;
  LogMessagef(ctx, logName, "Illegal %s answer %3.3s", echo, reinterpret_cast<const char*>(answer + kEchoAt));
  return false;
}

// The request of an exchange command as the send-log line shows it: STX, text, ETX, LRC.
void LogRequest(FPContext* ctx, const uint8_t* frame, int textLength, const char* kind) {
  char line[64];
  snprintf(line, sizeof line, "[%2.2X]%.*s[%2.2X][%2.2X]", frame[0], textLength,
           reinterpret_cast<const char*>(frame + 1), frame[textLength + 1], frame[textLength + 2]);
  LogSend(ctx, line, kind);
}

// ---- Status transports ----

struct FdStatusTransport {
  const char* name;
  const char* decoderName;
  const char* prefix;  // echoed before the nibble characters ("" for the status answer)
  int dataBytes;       // bytes written as nibble characters
  void (*clear)(FPContext* ctx);
  void (*store)(FPContext* ctx, const uint8_t* bytes);
  std::string (*describe)(const uint8_t* bytes);
  bool errorAnswer;  // an answer of 18 bytes is the drive's error message
};

void ClearStatus(FPContext* ctx) {
  ctx->FdStatus = FdStatusRecord();
}
void ClearExchange(FPContext* ctx) {
  ctx->FdExchange = FdExchangeRecord();
}
void ClearTaxSystems(FPContext* ctx) {
  ctx->nFdTaxSystems = 0;
}

uint16_t U16(const uint8_t* b) {
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}
uint32_t U32(const uint8_t* b) {
  return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

void StoreStatus(FPContext* ctx, const uint8_t* b) {
  FdStatusRecord& r = ctx->FdStatus;
  r.nFdLifePhase = b[4];
  r.nFdCurrentDoc = b[5];
  r.nFdDocData = b[6];
  r.bFdShiftOpen = b[7];
  r.nFdWarnings = b[8];
  memcpy(r.abFdDate, b + 9, sizeof r.abFdDate);
  memcpy(r.abFdTime, b + 12, sizeof r.abFdTime);
  memcpy(r.szFdNumber, b + 14, sizeof r.szFdNumber - 1);
  r.szFdNumber[sizeof r.szFdNumber - 1] = '\0';
  r.nFdLastDocNumber = U32(b + 30);
  ctx->nFdWarningFlags = r.nFdWarnings;
}

std::string DescribeStatus(const uint8_t* b) {
  char text[400];
  snprintf(
      text, sizeof text,
      "[%2.2Xh] Len:[%u] Code:[%2.2Xh] State life phase:[%2.2Xh] Current doc:[%2.2Xh] Data doc:[%2.2Xh] "
      "Session state:[%u] Warning flags:[%2.2Xh] Date:[%2.2u.%2.2u.%2.2u] Time:[%2.2u:%2.2u] FN:[%16.16s] "
      "Last doc:[%" PRIu32 "] CRC:[%2.2Xh][%2.2Xh]",
      b[0], U16(b + 1), b[3], b[4], b[5], b[6], b[7], b[8], b[11], b[10], b[9], b[12], b[13],
      reinterpret_cast<const char*>(b + 14), U32(b + 30), b[34], b[35]);
  return text;
}

void StoreExchange(FPContext* ctx, const uint8_t* b) {
  FdExchangeRecord& r = ctx->FdExchange;
  r.nFdExchangeState = b[4];
  r.bFdReadStarted = b[5];
  r.nFdBacklogCount = U16(b + 6);
  r.nFdBacklogFirstDoc = U32(b + 8);
  memcpy(r.abFdBacklogFirstDate, b + 12, sizeof r.abFdBacklogFirstDate);
}

std::string DescribeExchange(const uint8_t* b) {
  char text[300];
  snprintf(text, sizeof text,
           "SuF [%2.2Xh] Len:[%u] Code:[%2.2Xh] St. info:[%2.2Xh] Start read:[%u] Count msg:[%u] "
           "Num first doc:[%" PRIu32 "] Date first doc:[%2.2u.%2.2u.%2.2u %2.2u:%2.2u] CRC:[%2.2Xh][%2.2Xh]",
           b[0], U16(b + 1), b[3], b[4], b[5], U16(b + 6), U32(b + 8), b[14], b[13], b[12], b[15], b[16],
           b[17], b[18]);
  return text;
}

void StoreTaxSystems(FPContext* ctx, const uint8_t* b) {
  ctx->nFdTaxSystems = b[1];
}

std::string DescribeTaxSystems(const uint8_t* b) {
  char text[80];
  snprintf(text, sizeof text, "Su! Current tax:[%2.2Xh] Tax systems:[%2.2Xh]", b[0], b[1]);
  return text;
}

const FdStatusTransport kFd22 = {"ExecTransactionFD22", "ADFD22",       "",   36, ClearStatus,
                                 StoreStatus,           DescribeStatus, false};
const FdStatusTransport kFdSuF = {"ExecTransactionFDSuF", "ADFDSuF",        "SuF", 19, ClearExchange,
                                  StoreExchange,          DescribeExchange, true};
const FdStatusTransport kFdSu21 = {"ExecTransactionFDSu21", "ADFD21",           "Su!", 2, ClearTaxSystems,
                                   StoreTaxSystems,         DescribeTaxSystems, false};

// The largest status answer: the 36 bytes of the status as 72 characters, STX, ETX and LRC.
constexpr int kMaxStatusAnswer = 75;

// An exchange status answer of 18 bytes is the drive's error message alone: it is logged, and the
// extended status tells the printer's side.
void LogExchangeError(FPContext* ctx, const uint8_t* answer) {
  uint8_t b[6];
  for (int i = 0; i < 6; ++i) b[i] = ByteAt(answer, 4 + 2 * i);
  LogMessagef(ctx, "ADFDSuF",
              "Decoded: [02h](STX) SuF [%2.2Xh] Len:[%u] Error code:[%2.2Xh] CRC:[%2.2Xh][%2.2Xh]", b[0],
              U16(b + 1), b[3], b[4], b[5]);
  GetStatusT(ctx);
}

int DecodeFdAnswer(FPContext* ctx, const FdStatusTransport& t) {
  const int prefixLength = static_cast<int>(strlen(t.prefix));
  const int length = 1 + prefixLength + 2 * t.dataBytes + 2;
  uint8_t answer[kMaxStatusAnswer] = {};
  int got = 0;
  const int read = AcceptBufFD(ctx, answer, length, &got, true);
  if (read != kLinkOk) {
    if (!t.errorAnswer) return read;
    if (got < kShortAnswerLength) return kLinkProtocolError;
    LogExchangeError(ctx, answer);
    return read;
  }
  const int etxAt = length - 2;
  if (answer[0] != ctl::STX || memcmp(answer + 1, t.prefix, static_cast<size_t>(prefixLength)) != 0 ||
      answer[etxAt] != ctl::ETX || CalcBCC(answer + 1, etxAt) != answer[length - 1]) {
    return kLinkProtocolError;
  }
  uint8_t bytes[36];
  for (int i = 0; i < t.dataBytes; ++i) bytes[i] = ByteAt(answer, 1 + prefixLength + 2 * i);
  t.store(ctx, bytes);
  LogMessagef(ctx, t.decoderName, "Decoded: [02h](STX) %s [03h](ETX) [%2.2Xh](LRC)",
              t.describe(bytes).c_str(), answer[length - 1]);
  const int acked = SendCharFD(ctx, ctl::ACK);
  LogSend(ctx, "[06] (ACK)", LinkResultText(acked));
  if (ctx->nProtocolErrors != 0) ResetSerial(ctx);
  return kLinkOk;
}

int RunFdTransaction(FPContext* ctx, const FdStatusTransport& t, const char* cmd, bool log) {
  if (log) LogEnter(ctx, t.name);
  t.clear(ctx);
  ctx->nTransactionPhase = 0;
  auto finish = [&](int result) { return log ? LogReturn(ctx, t.name, result) : result; };
  if (ctx->nComPort == 0) return finish(kLinkNoPort);
  const size_t length = cmd ? strnlen(cmd, kMaxCommandLength + 1) : kMaxCommandLength + 1;
  if (length > static_cast<size_t>(kMaxCommandLength)) return finish(kLinkProtocolError);

  uint8_t frame[kMaxCommandLength + 3];
  const int frameLength = BuildFrame(cmd, static_cast<int>(length), frame);
  ctx->nTransactionPhase = 1;
  int result = WaitFPPresent(ctx);
  if (result != kLinkOk) return finish(result);
  ctx->nTransactionPhase = 2;
  result = SendBuf(ctx, frame, frameLength);
  if (log) LogSentFrame(ctx, cmd, static_cast<int>(length), frame[frameLength - 1], result);
  if (result == kLinkOk) result = DecodeFdAnswer(ctx, t);
  if (result == kLinkProtocolError) {
    ++ctx->nProtocolErrors;
    ResetSerial(ctx);
  } else if (result == kLinkOk) {
    ctx->nTransactionPhase = 5;
  }
  return finish(result);
}

int Logged(FPContext* ctx, const char* name, int (*call)(FPContext*)) {
  LogEnter(ctx, name);
  return LogReturn(ctx, name, call(ctx));
}

// ---- Exchange commands ----

struct ShortCommand {
  const char* logName;
  const char* text;
  const char* echo;
  const char* kind;         // the send-log kind of the request; null: the request is a message line
  const char* errorFormat;  // the message of a nonzero answer code; null: none
  int answerLength;
};

const ShortCommand kSuG0 = {"ExecSuG(0)", "SuG0", "SuG", nullptr, "SuG0 error %d", kShortAnswerLength};
const ShortCommand kSuG1 = {"ExecSuG(1)", "SuG1", "SuG", nullptr, "SuG1 error %d", kShortAnswerLength};
const ShortCommand kSuJ = {"ExecSuJ", "SuJ", "SuJ", "(SuJ Info)", "SuJ error %d", kShortAnswerLength};
const ShortCommand kSuH = {"ExecSuH", "SuH", "SuH", "(SuH Info)", "SuH error %d", kShortAnswerLength + 4};
const ShortCommand kSuK = {"ExecSuK", "SuK", "SuK", "(SuK Info)", nullptr, kShortAnswerLength};

// The port is open and the device there: 0, or the result to give.
int ReadyToSend(FPContext* ctx) {
  return ctx->nComPort == 0 ? kLinkNoPort : WaitFPPresent(ctx);
}

int SendRequest(FPContext* ctx, const char* text, uint8_t* frame) {
  return SendBuf(ctx, frame, BuildFrame(text, static_cast<int>(strlen(text)), frame));
}

// Reads and drops what is left of an answer longer than its buffer, by its length field.
void DrainRest(FPContext* ctx, const uint8_t* answer, int got) {
  const int rest = AnswerLengthOf(answer) - got;
  if (rest > 0) AcceptToEnd(ctx, static_cast<uint32_t>(rest));
}

// Sends the command and reads its fixed answer; the answer code (and the data word of "SuH") out.
int ExecShort(FPContext* ctx, const ShortCommand& c, uint32_t* code, uint32_t* dataWord) {
  if (code) *code = 0;
  if (!IsSupportedModel(ctx)) return 0;
  LogEnter(ctx, c.logName);
  int result = ReadyToSend(ctx);
  if (result != kLinkOk) return LogReturn(ctx, c.logName, result);

  uint8_t frame[16];
  result = SendRequest(ctx, c.text, frame);
  const int textLength = static_cast<int>(strlen(c.text));
  if (c.kind) {
    LogRequest(ctx, frame, textLength, c.kind);
  } else {
    LogMessagef(ctx, "ExecSuG", "[%2.2X]%4.4s[%2.2X][%2.2X]", frame[0], c.text, frame[textLength + 1],
                frame[textLength + 2]);
  }
  if (result != kLinkOk) return LogReturn(ctx, c.logName, result);

  uint8_t answer[kShortAnswerLength + 4] = {};
  int got = 0;
  result = AcceptBufFD(ctx, answer, c.answerLength, &got, true);
  if (result != kLinkOk) return LogReturn(ctx, c.logName, result);
  if (!EchoMatches(ctx, c.logName, c.echo, answer)) return LogReturn(ctx, c.logName, kLinkNoPort);
  const uint8_t answerCode = ByteAt(answer, kCodeAt);
  if (answerCode != 0 && c.errorFormat) LogMessagef(ctx, c.logName, c.errorFormat, answerCode);
  if (code) *code = answerCode;
  if (dataWord) *dataWord = NumberAt(answer, kDataAt, 2);
  return LogReturn(ctx, c.logName, kLinkOk);
}

// The copy of an "SuI" answer for the caller's log: framed when it fits, else as much as fits.
void CopyRawAnswer(const uint8_t* answer, int got, char* raw, int* rawSize) {
  if (!raw || !rawSize || *rawSize <= 0) return;
  const int framed = got + 9;  // "[02]", the bytes between STX and ETX, "[03]", "[%2.2X]"
  if (got >= 3 && *rawSize >= framed + 1) {
    int at = snprintf(raw, static_cast<size_t>(*rawSize), "[%2.2X]", answer[0]);
    memcpy(raw + at, answer + 1, static_cast<size_t>(got - 3));
    at += got - 3;
    snprintf(raw + at, static_cast<size_t>(*rawSize - at), "[%2.2X][%2.2X]", answer[got - 2],
             answer[got - 1]);
    *rawSize = framed;
    return;
  }
  const int copied = got < *rawSize ? got : *rawSize;
  memcpy(raw, answer, static_cast<size_t>(copied));
  *rawSize = copied;
}

bool ValidBlockRequest(const uint8_t* buffer, int blockSize, int offset, const int* count) {
  return buffer && count && blockSize > 0 && blockSize <= kMaxBlockSize && offset >= 0 &&
         offset <= kMaxOffset;
}

// ---- Fiscal sign ----

// The fiscal sign in one echoed line: the characters after "ФП=" (or "ФП "), up to a blank, at
// most ten. Empty when the line has none.
std::string FindSign(std::string_view line) {
  static const char kSignEq[] = "\xD4\xCF=";   // "ФП=" in Windows-1251
  static const char kSignGap[] = "\xD4\xCF ";  // "ФП "
  size_t at = line.find(kSignEq);
  if (at == std::string_view::npos) at = line.find(kSignGap);
  if (at == std::string_view::npos) return {};
  const std::string_view rest = line.substr(at + 3, kSignDigits);
  return std::string(rest.substr(0, rest.find(' ')));
}

// Looks for the sign in one echoed chunk; copies it to `sign` and logs it when found.
bool TakeSign(FPContext* ctx, const uint8_t* chunk, char* sign) {
  char line[kEchoText];
  memcpy(line, chunk + kEchoTextAt, kEchoText);
  RecodeFromDevice(ctx, line, kEchoText);
  const std::string digits = FindSign(std::string_view(line, kEchoText));
  if (digits.empty()) return false;
  CopyText(sign, kSignDigits + 1, digits.c_str());
  LogMessagef(ctx, "GetFiscalP", "Fiscal sign: %s", sign);
  return true;
}

int FailFiscalP(FPContext* ctx, int32_t code, int result) {
  ctx->nLastResult = code;
  return LogReturn(ctx, "GetFiscalP", result);
}

}  // namespace

// ---- Status ----

int ExecTransactionFD22(FPContext* ctx, const char* cmd, int, bool log, bool) {
  return RunFdTransaction(ctx, kFd22, cmd, log);
}

int ExecTransactionFDSuF(FPContext* ctx, const char* cmd, int, bool log, bool) {
  return RunFdTransaction(ctx, kFdSuF, cmd, log);
}

int ExecTransactionFDSu21(FPContext* ctx, const char* cmd, int, bool log, bool) {
  return RunFdTransaction(ctx, kFdSu21, cmd, log);
}

int ReadInfo22(FPContext* ctx) {
  LogEnter(ctx, "ReadInfo22");
  return LogReturn(ctx, "ReadInfo22", ExecTransactionFD22(ctx, "S\"", 0, true, false));
}

int ReadInfoSuF(FPContext* ctx) {
  LogEnter(ctx, "ReadInfoSuF");
  const int result = IsSupportedModel(ctx) ? ExecTransactionFDSuF(ctx, "SuF", 0, true, false) : 0;
  return LogReturn(ctx, "ReadInfoSuF", result);
}

int ReadInfoSu21(FPContext* ctx) {
  LogEnter(ctx, "ReadInfoSu21");
  const int result = IsSupportedModel(ctx) ? ExecTransactionFDSu21(ctx, "Su!", 0, true, false) : 0;
  return LogReturn(ctx, "ReadInfoSu21", result);
}

int GetStatusFiscalDrive(FPContext* ctx) {
  return Logged(ctx, "GetStatusFiscalDrive", ReadInfo22);
}
int GetStatusInfoFiscalDrive(FPContext* ctx) {
  return Logged(ctx, "GetStatusInfoFiscalDrive", ReadInfoSuF);
}
int GetTaxVariant(FPContext* ctx) {
  return Logged(ctx, "GetTaxVariant", ReadInfoSu21);
}

bool IsTaxSystemAllowed(const FPContext* ctx, int n) {
  return n >= 0 && n <= 5 && (ctx->nFdTaxSystems >> n) & 1;
}

// ---- The OFD exchange ----

int ExecSuG(FPContext* ctx, bool flag, uint32_t* code) {
  return ExecShort(ctx, flag ? kSuG0 : kSuG1, code, nullptr);
}
int ExecSuJ(FPContext* ctx, uint32_t* code) {
  return ExecShort(ctx, kSuJ, code, nullptr);
}
int ExecSuH(FPContext* ctx, uint32_t* length, uint32_t* code) {
  if (length) *length = 0;
  return ExecShort(ctx, kSuH, code, length);
}
int ExecSuK(FPContext* ctx, uint32_t* code) {
  return ExecShort(ctx, kSuK, code, nullptr);
}

int ExecSuI(FPContext* ctx, uint8_t* buffer, int blockSize, int offset, int* count, uint32_t* code, char* raw,
            int* rawSize) {
  if (count) *count = 0;
  if (code) *code = 0;
  if (!ValidBlockRequest(buffer, blockSize, offset, count)) return kLinkProtocolError;
  if (!IsSupportedModel(ctx)) return 0;
  LogEnter(ctx, "ExecSuI");
  int result = ReadyToSend(ctx);
  if (result != kLinkOk) return LogReturn(ctx, "ExecSuI", result);

  std::string text = "SuI";
  AppendNibbles(&text, static_cast<uint32_t>(offset), 2);
  AppendNibbles(&text, static_cast<uint32_t>(blockSize), 1);
  uint8_t frame[16];
  result = SendRequest(ctx, text.c_str(), frame);
  LogRequest(ctx, frame, static_cast<int>(text.size()), "(SuI Info)");
  if (result != kLinkOk) return LogReturn(ctx, "ExecSuI", result);

  uint8_t answer[kSuIAnswerMax + 1] = {};
  int got = 0;
  result = AcceptBufFDMSG(ctx, answer, kSuIAnswerMax, &got, false);
  CopyRawAnswer(answer, got, raw, rawSize);
  if (result != kLinkOk && result != kAnswerTooLong) return LogReturn(ctx, "ExecSuI", result);
  if (result == kAnswerTooLong) DrainRest(ctx, answer, got);
  if (!EchoMatches(ctx, "ExecSuI", "SuI", answer)) return LogReturn(ctx, "ExecSuI", kLinkNoPort);

  // The length counts the answer code; a message always has one, and its data must have come.
  const int length = static_cast<int>(NumberAt(answer, kLengthAt, 2));
  if (length < 1 || got < kDataAt + 2 * (length - 1)) return LogReturn(ctx, "ExecSuI", kLinkProtocolError);
  const uint8_t answerCode = ByteAt(answer, kCodeAt);
  if (code) *code = answerCode == kCodeMoreToCome ? 0 : answerCode;
  const int blockCount = length - 1;
  if (blockCount > blockSize) return LogReturn(ctx, "ExecSuI", kAnswerTooLong);
  for (int i = 0; i < blockCount; ++i) buffer[i] = ByteAt(answer, kDataAt + 2 * i);
  *count = blockCount;
  return LogReturn(ctx, "ExecSuI", kLinkOk);
}

int ExecSuL(FPContext* ctx, const uint8_t* bytes, int count, uint32_t* reason) {
  if (reason) *reason = 0;
  if (!IsSupportedModel(ctx)) return 0;
  LogEnter(ctx, "ExecSuL");
  // An operator answer no longer than its session header leaves nothing to write.
  if (!bytes || count < 1 || count > kMaxReceiptLength) return LogReturn(ctx, "ExecSuL", kLinkProtocolError);
  std::vector<uint8_t> frame;
  try {
    frame.resize(2 * static_cast<size_t>(count) + 6);
  } catch (const std::bad_alloc&) {
    LogMessagef(ctx, "ExecSuL", "Error memory allocate: %d bytes", 2 * count + 6);
    return LogReturn(ctx, "ExecSuL", kNoMemory);
  }
  int result = ReadyToSend(ctx);
  if (result != kLinkOk) return LogReturn(ctx, "ExecSuL", result);

  std::string text = "SuL";
  for (int i = 0; i < count; ++i) AppendNibbles(&text, bytes[i], 1);
  result = SendBuf(ctx, frame.data(), BuildFrame(text.data(), static_cast<int>(text.size()), frame.data()));
  if (result != kLinkOk) return LogReturn(ctx, "ExecSuL", result);

  uint8_t answer[kSuLAnswerMax + 1] = {};
  int got = 0;
  result = AcceptBufFDMSG(ctx, answer, kSuLAnswerMax, &got, true);
  if (result != kLinkOk && result != kAnswerTooLong) return LogReturn(ctx, "ExecSuL", result);
  if (!EchoMatches(ctx, "ExecSuL", "SuL", answer)) return LogReturn(ctx, "ExecSuL", kLinkNoPort);
  if (result == kAnswerTooLong) DrainRest(ctx, answer, got);

  const uint8_t answerCode = ByteAt(answer, kCodeAt);
  const bool hasData = NumberAt(answer, kLengthAt, 2) >= 2 && got >= kDataAt + 2;
  const uint8_t firstData = hasData ? ByteAt(answer, kDataAt) : 0;
  if (answerCode == kCodeReceiptRefused) {
    LogMessagef(ctx, "ExecSuL", "Refusal to accept a receipt from the FDO server: [%2.2X]", firstData);
  } else if (answerCode != 0) {
    LogMessagef(ctx, "ExecSuL", "SuL error %d", answerCode);
  }
  // A refusal without its reason, or any other failure of the drive, still must not read as taken.
  if (reason && answerCode != 0)
    *reason = answerCode == kCodeReceiptRefused && firstData ? firstData : answerCode;
  return LogReturn(ctx, "ExecSuL", kLinkOk);
}

int ExecSu5(FPContext* ctx, char* text, int size) {
  if (text && size > 0) text[0] = '\0';
  if (!IsSupportedModel(ctx)) return 0;
  LogEnter(ctx, "ExecSu5");
  if (!text || size <= 0) return LogReturn(ctx, "ExecSu5", kLinkProtocolError);
  std::vector<uint8_t> answer;
  try {
    answer.assign(kSu5AnswerMax + 1, 0);
  } catch (const std::bad_alloc&) {
    LogMessage(ctx, "ExecSu5", "Error memory allocate");
    return LogReturn(ctx, "ExecSu5", kNoMemory);
  }
  int result = ReadyToSend(ctx);
  if (result != kLinkOk) return LogReturn(ctx, "ExecSu5", result);
  uint8_t frame[16];
  result = SendRequest(ctx, "Su5", frame);
  LogRequest(ctx, frame, 3, "(Su5 Info)");
  if (result != kLinkOk) return LogReturn(ctx, "ExecSu5", result);

  int got = 0;
  result = AcceptBufFDMSG(ctx, answer.data(), kSu5AnswerMax, &got, false);
  if (result == kAnswerTooLong) {
    DrainRest(ctx, answer.data(), got);
  } else if (result != kLinkOk) {
    return LogReturn(ctx, "ExecSu5", result);
  }
  // Everything between STX and ETX; an answer too short to have both leaves the text empty.
  const int length = got >= 3 ? got - 3 : 0;
  CopyText(text, static_cast<size_t>(size), reinterpret_cast<const char*>(answer.data() + 1),
           static_cast<size_t>(length));
  return LogReturn(ctx, "ExecSu5", kLinkOk);
}

// ---- Fiscal sign ----

int32_t GetFiscalP(FPContext* ctx, uint32_t number, char* sign) {
  LogEnter(ctx, "GetFiscalP");
  if (!IsSupportedModel(ctx)) return FailFiscalP(ctx, kResultNotSupported, kResultNotSupported);
  if (ctx->nComPort == 0) return FailFiscalP(ctx, -kLinkNoPort, kLinkNoPort);
  int result = WaitFPPresent(ctx);
  if (result != kLinkOk) return FailFiscalP(ctx, -result, result);

  std::string text = "Suq";
  AppendNibbles(&text, number, 4);
  uint8_t frame[16];
  result = SendRequest(ctx, text.c_str(), frame);
  LogRequest(ctx, frame, static_cast<int>(text.size()), "(Suq Info)");
  if (result != kLinkOk) return FailFiscalP(ctx, -result, result);

  const uint32_t chunk = (ctx->nFpEchoFlags & kWideEchoBit) ? kWideEchoChunk : kEchoChunk;
  const uint32_t start = ctx->pClock->TickMs();
  bool found = false;
  bool ended = false;
  for (int chunks = 0; !ended; ++chunks) {
    if (chunks >= kEchoChunkLimit || ctx->pClock->TickMs() - start >= kEchoTimeLimitMs) {
      // A printer that keeps echoing: what it still sends is dropped rather than read as answers.
      LogMessage(ctx, "GetFiscalP", "Echo without end, given up");
      ResetSerial(ctx);
      break;
    }
    uint8_t buffer[kEchoBuffer] = {};
    uint32_t got = 0;
    if (!ReadOnce(ctx, "GetFiscalP", buffer, chunk, &got, false))
      return FailFiscalP(ctx, 4, kLinkReceiveTimeout);
    if (got == 0) break;
    ended = buffer[1] == kEchoEnd;
    if (ended) {
      uint8_t check = 0;
      AcceptChar(ctx, &check);
    }
    if (!found) found = TakeSign(ctx, buffer, sign);
  }
  ctx->nLastResult = kResultOk;
  return LogReturn(ctx, "GetFiscalP", kResultOk);
}

// ---- Readers ----

int AcceptBufFD(FPContext* ctx, uint8_t* buffer, int count, int* got, bool dump) {
  *got = 0;
  const int present = WaitFPPresent(ctx);
  if (present != kLinkOk) return present;
  uint32_t n = 0;
  const bool ok = count > 0 && ReadOnce(ctx, "AcceptBuf", buffer, static_cast<uint32_t>(count), &n, dump);
  *got = static_cast<int>(n);
  return ok && *got == count ? kLinkOk : kLinkReceiveTimeout;
}

int AcceptBufFDMSG(FPContext* ctx, uint8_t* buffer, int count, int* got, bool dump) {
  *got = 0;
  const int present = WaitFPPresent(ctx);
  if (present != kLinkOk) return present;
  if (count <= 0) return kLinkReceiveTimeout;
  const int head = count < kHeadLength ? count : kHeadLength;
  if (!ReadMore(ctx, buffer, head, got, dump)) return kLinkReceiveTimeout;
  // Nothing at all is a time-out; a shorter answer is for the caller to judge.
  if (*got == 0) return kLinkReceiveTimeout;
  if (*got < head) return kLinkOk;

  const int length = *got == kHeadLength ? AnswerLengthOf(buffer) : 0;
  if (length > 0 && length <= count) {
    if (!ReadMore(ctx, buffer, length, got, dump)) return kLinkReceiveTimeout;
    if (*got < length || buffer[length - 2] == ctl::ETX) return kLinkOk;
  }
  // No length field, one that runs past the buffer, or one that does not end where the frame
  // does: the answer is read until the line falls quiet or the buffer is full.
  if (!ReadMore(ctx, buffer, count, got, dump)) return kLinkReceiveTimeout;
  return length > count ? kAnswerTooLong : kLinkOk;
}

int AcceptToEnd(FPContext* ctx, uint32_t count) {
  const int present = WaitFPPresent(ctx);
  if (present != kLinkOk) return present;
  uint8_t chunk[kDrainChunk];
  while (count > 0) {
    const uint32_t wanted = count < kDrainChunk ? count : kDrainChunk;
    uint32_t got = 0;
    if (!plat::SerialRead(ctx->hComPort, chunk, wanted, &got)) {
      LogMessagef(ctx, "AcceptToEnd", "COM-port error: %s",
                  plat::SystemErrorText(plat::SystemLastError()).c_str());
      return kLinkReceiveTimeout;
    }
    if (got < kDrainChunk) break;
    count -= got;
  }
  return kLinkOk;
}

int SendCharFD(FPContext* ctx, uint8_t byte) {
  const int present = WaitFPPresent(ctx);
  if (present != kLinkOk) return present;
  uint32_t written = 0;
  if (plat::SerialWrite(ctx->hComPort, &byte, 1, &written) && written == 1) return kLinkOk;
  LogMessage(ctx, "SendCharFD", plat::SystemErrorText(plat::SystemLastError()).c_str());
  return kLinkSendTimeout;
}
