#include "device/programming.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "device/device_log.h"
#include "device/info_queries.h"
#include "device/link.h"
#include "device/recode.h"
#include "device/status.h"
#include "device/text_field.h"

namespace {

// Answer pauses of ExecTransaction: programming answers are read at once; the commands that change
// printed or clock state get the usual working pause.
constexpr int kNoPause = -1;
constexpr int kPauseCommand = 110;
// The printer needs this long to store a programmed flag, time limit or marker.
constexpr uint32_t kStorePauseMs = 55;

constexpr int32_t kCodeHeaderLine = 21;
constexpr int32_t kCodeDescriptor = 33;
constexpr int32_t kCodeNotSupported = 35;

constexpr int kMaxFlag = 22;
constexpr uint8_t kBitMask[8] = {1, 2, 4, 8, 16, 32, 64, 128};

bool IsSupportedModel(const FPContext* ctx) { return ctx->nVersionMajor == 11 && ctx->nVersionMinor == 1; }

// A refused argument: the code is stored and returned with the return line.
int32_t Refuse(FPContext* ctx, const char* name, int32_t code) {
  ctx->nLastResult = code;
  return LogReturn(ctx, name, code);
}

// Sends one command with the common shape of the programming functions: ExecTransaction with
// logging on, the mapped result in nLastResult and the return line.
int32_t Program(FPContext* ctx, const char* name, const char* cmd, int pauseMs) {
  ctx->nLastResult = MapLinkResult(ctx, ExecTransaction(ctx, cmd, pauseMs, true, false));
  return LogReturn(ctx, name, ctx->nLastResult);
}

// A value as two decimal digits; negative values wrap into 0..99 too, so that "%2.2u" never
// receives a huge unsigned number.
unsigned TwoDigits(int value) { return static_cast<unsigned>((value % 100 + 100) % 100); }

// Appends `text` to the command and recodes the appended part only: the command letters and
// digits before it are ASCII already.
void AppendRecoded(FPContext* ctx, char* cmd, size_t size, const char* text) {
  const size_t start = std::strlen(cmd);
  CopyText(cmd + start, size - start, text);
  RecodeToDevice(ctx, cmd + start, static_cast<int>(std::strlen(cmd + start)));
}

int32_t ProgramFlagValue(FPContext* ctx, const char* name, int n, int value, bool storePause) {
  LogEnter(ctx, name);
  char cmd[16];
  std::snprintf(cmd, sizeof cmd, "PJ%2.2u%2.2X", TwoDigits(n), static_cast<unsigned>(value & 0xFF));
  ctx->nLastResult = MapLinkResult(ctx, ExecTransaction(ctx, cmd, kNoPause, true, false));
  if (ctx->nLastResult == 0 && storePause) ctx->pClock->SleepMs(kStorePauseMs);
  ctx->bDeviceFlagsValid = 0;
  ctx->bS3ReadInCall = 0;
  return LogReturn(ctx, name, ctx->nLastResult);
}

// Descriptors of a model: the numbers it has, as ranges, with the longest text each takes.
struct DescriptorRange {
  int first;
  int last;
  int maxLength;
};

constexpr DescriptorRange kSupportedModelDescriptors[] = {
    {16, 23, 14}, {28, 28, 14}, {30, 30, 14}, {40, 40, 14}, {42, 42, 14}, {45, 46, 14},
    {52, 52, 14}, {65, 65, 14}, {77, 77, 14}, {80, 82, 14}, {39, 39, 42}, {47, 47, 42},
};
constexpr DescriptorRange kOtherModelDescriptors[] = {
    {16, 23, 20}, {25, 30, 20}, {40, 40, 20}, {42, 43, 20}, {45, 52, 20}, {54, 55, 20},
    {60, 61, 20}, {63, 68, 20}, {71, 73, 20}, {75, 79, 20}, {82, 83, 20}, {89, 89, 20},
    {91, 91, 20},
};

// The longest text of descriptor n on this model, 0 when the model has no such descriptor.
template <size_t N>
int DescriptorMax(const DescriptorRange (&ranges)[N], int n) {
  for (const DescriptorRange& r : ranges) {
    if (n >= r.first && n <= r.last) return r.maxLength;
  }
  return 0;
}

int32_t ChangeFlagBit(FPContext* ctx, const char* name, int b, int n, bool set) {
  LogEnter(ctx, name);
  if (!IsDeviceFlagBit(b, n)) return Refuse(ctx, name, kCodeWrongValue);
  const int32_t read = EnsureDeviceFlags(ctx);
  if (read != 0) return LogReturn(ctx, name, read);
  const uint8_t flag = ctx->abDeviceFlags[n];
  const int value = set ? (flag | kBitMask[b]) : (flag & ~kBitMask[b]);
  return LogReturn(ctx, name, SetFlag(ctx, n, value));
}

}  // namespace

int32_t ProgramHeaderLine(FPContext* ctx, int n, const char* text) {
  static const char kName[] = "ProgramHeaderLine";
  LogEnter(ctx, kName);
  if (n < 1 || n > 8) return Refuse(ctx, kName, kCodeHeaderLine);
  if (!text) text = "";
  const size_t length = std::strlen(text);
  if (length > static_cast<size_t>(ctx->nLineWidth)) return Refuse(ctx, kName, kCodeWrongValue);
  char cmd[kMaxCommandLength + 1];
  if (ctx->nVersionMajor == 1) {
    // The oldest printers take a fixed field of 40 characters.
    std::snprintf(cmd, sizeof cmd, "PH%1.1u%-40.40s", static_cast<unsigned>(n), text);
    RecodeToDevice(ctx, cmd + 3, 40);
  } else {
    std::snprintf(cmd, sizeof cmd, "PH%1.1u", static_cast<unsigned>(n));
    AppendRecoded(ctx, cmd, sizeof cmd, text);
  }
  return Program(ctx, kName, cmd, kNoPause);
}

int32_t ProgramDate(FPContext* ctx, int day, int month, int year) {
  static const char kName[] = "ProgramDate";
  LogEnter(ctx, kName);
  char cmd[16];
  std::snprintf(cmd, sizeof cmd, "PG%2.2u%2.2u%2.2u", TwoDigits(day), TwoDigits(month), TwoDigits(year));
  int r = ExecTransaction(ctx, cmd, kNoPause, true, false);
  // A status instead of the acknowledgement: the printer was still settling; one more try.
  if (r == kAnswerStatus) r = ExecTransaction(ctx, cmd, kNoPause, true, false);
  ctx->nLastResult = MapLinkResult(ctx, r);
  return LogReturn(ctx, kName, ctx->nLastResult);
}

int32_t ProgramTime(FPContext* ctx, int hour, int minute, int second) {
  static const char kName[] = "ProgramTime";
  LogEnter(ctx, kName);
  char cmd[16];
  std::snprintf(cmd, sizeof cmd, "PF%2.2u%2.2u%2.2u", TwoDigits(hour), TwoDigits(minute), TwoDigits(second));
  return Program(ctx, kName, cmd, kNoPause);
}

int32_t ProgramFlag(FPContext* ctx, int n, int value) { return ProgramFlagValue(ctx, "ProgramFlag", n, value, true); }

int32_t SetFlag(FPContext* ctx, int n, int value) { return ProgramFlagValue(ctx, "SetFlag", n, value, false); }

int32_t ProgramFlagRR(FPContext* ctx, int value) {
  static const char kName[] = "ProgramFlagRR";
  LogEnter(ctx, kName);
  char cmd[16];
  std::snprintf(cmd, sizeof cmd, "PJRR%2.2X", static_cast<unsigned>(value & 0xFF));
  Program(ctx, kName, cmd, kNoPause);
  if (ctx->nLastResult == 0) ctx->pClock->SleepMs(kStorePauseMs);
  return ctx->nLastResult;
}

int32_t ProgramTimeLimit(FPContext* ctx, int hours) {
  static const char kName[] = "ProgramTimeLimit";
  LogEnter(ctx, kName);
  char cmd[16];
  std::snprintf(cmd, sizeof cmd, "PZ%2.2u", TwoDigits(hours));
  Program(ctx, kName, cmd, kNoPause);
  if (ctx->nLastResult == 0) ctx->pClock->SleepMs(kStorePauseMs);
  return ctx->nLastResult;
}

int32_t SetDescriptorText(FPContext* ctx, int n, const char* text) {
  static const char kName[] = "SetDescriptorText";
  LogEnter(ctx, kName);
  const int maxLength = IsSupportedModel(ctx) ? DescriptorMax(kSupportedModelDescriptors, n)
                                              : DescriptorMax(kOtherModelDescriptors, n);
  if (maxLength == 0) return Refuse(ctx, kName, kCodeDescriptor);
  char cmd[kMaxCommandLength + 1];
  std::snprintf(cmd, sizeof cmd, "PK%3.3u", static_cast<unsigned>(n));
  char field[64];
  // A 14-character descriptor is a fixed field, padded with blanks; the longer ones are not.
  if (maxLength == 14) {
    std::snprintf(field, sizeof field, "%-14.14s", text ? text : "");
  } else {
    CopyText(field, text, static_cast<size_t>(maxLength));
  }
  AppendRecoded(ctx, cmd, sizeof cmd, field);
  return Program(ctx, kName, cmd, kNoPause);
}

int32_t SetPaymentMean(FPContext* ctx, int n, int type, const char* name) {
  static const char kName[] = "SetPaymentMean";
  LogEnter(ctx, kName);
  char cmd[32];
  std::snprintf(cmd, sizeof cmd, "PE%1u%1u%-14.14s", static_cast<unsigned>(n % 10),
                static_cast<unsigned>(type % 10), name ? name : "");
  RecodeToDevice(ctx, cmd, static_cast<int>(std::strlen(cmd)));
  ctx->nLastResult = StdTransaction(ctx, cmd, kPauseCommand, true, false);
  return LogReturn(ctx, kName, ctx->nLastResult);
}

int32_t SetFooterRow(FPContext* ctx, int n, int attribute, const char* text) {
  static const char kName[] = "SetFooterRow";
  LogEnter(ctx, kName);
  char cmd[kMaxCommandLength + 1];
  std::snprintf(cmd, sizeof cmd, "eP%c%c", static_cast<char>('0' + n), static_cast<char>('0' + attribute % 10));
  AppendRecoded(ctx, cmd, sizeof cmd, text ? text : "");
  LogMessage(ctx, kName, cmd);
  return LogReturn(ctx, kName, StdTransaction(ctx, cmd, kPauseCommand, true, false));
}

int32_t SwitchClock(FPContext* ctx, int on) {
  static const char kName[] = "SwitchClock";
  LogEnter(ctx, kName);
  if (ctx->nVersionMajor < 6) return Refuse(ctx, kName, kCodeNotSupported);
  if (on != 0 && on != 1) return Refuse(ctx, kName, kCodeWrongValue);
  char cmd[16];
  std::snprintf(cmd, sizeof cmd, "PRcR%1.1u", static_cast<unsigned>(on));
  return Program(ctx, kName, cmd, kPauseCommand);
}

int32_t ProgramDailyClockCorrection(FPContext* ctx, int seconds) {
  static const char kName[] = "ProgramDailyClockCorrection";
  LogEnter(ctx, kName);
  if (ctx->nVersionMajor != 6) return Refuse(ctx, kName, kCodeNotSupported);
  if (seconds < -31 || seconds > 31) return Refuse(ctx, kName, kCodeWrongValue);
  char cmd[16];
  std::snprintf(cmd, sizeof cmd, "PRC%c%2.2u", seconds < 0 ? '-' : ' ', static_cast<unsigned>(std::abs(seconds)));
  return Program(ctx, kName, cmd, kPauseCommand);
}

int32_t SetBaudRate(FPContext* ctx, int code) {
  static const char kName[] = "SetBaudRate";
  LogEnter(ctx, kName);
  LogMessagef(ctx, kName, "nBaudRateCode = %d", code);
  char cmd[16];
  std::snprintf(cmd, sizeof cmd, "PR%d", code);
  return Program(ctx, kName, cmd, kNoPause);
}

int32_t EnsureDeviceFlags(FPContext* ctx) { return ctx->bDeviceFlagsValid ? 0 : GetBasicS3Info(ctx); }

bool IsDeviceFlagBit(int b, int n) { return b >= 0 && b < 8 && n >= 1 && n <= kMaxFlag; }

int32_t SetFlagBitFP(FPContext* ctx, int b, int n) { return ChangeFlagBit(ctx, "SetFlagBitFP", b, n, true); }

int32_t ClearFlagBitFP(FPContext* ctx, int b, int n) { return ChangeFlagBit(ctx, "ClearFlagBitFP", b, n, false); }
