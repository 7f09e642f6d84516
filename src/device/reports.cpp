#include "device/reports.h"

#include <cstdio>
#include <string>

#include "device/clerks.h"
#include "device/command_support.h"
#include "device/device_log.h"
#include "device/fiscal_drive.h"
#include "device/info_queries.h"
#include "device/info_records.h"
#include "device/link.h"
#include "device/status.h"

namespace {

constexpr int kPauseCommand = 110;
// The copy of a drive document is printed from the drive: the printer answers later than usual.
constexpr int kPauseDocumentCopy = 1000;
// The printer needs this long to print its reports before it answers again.
constexpr uint32_t kXReportPrintMs = 3000;
constexpr uint32_t kZReportPrintMs = 300;
constexpr uint32_t kZReportPrintOldMs = 3000;  // models before 5 print more slowly
constexpr uint32_t kPasswordSettleMs = 1100;
constexpr uint32_t kZ2ReportPrintMs = 10000;

constexpr int32_t kCodeReportRefused = 23;
constexpr int32_t kDeviceErrorNoCashier = 111;

// Report texts: "I", the letter "а" or "б" of code page 1251, and the report's letter.
const char kX1Text[] = "I\xE0X";
const char kX2Text[] = "I\xE1X";
const char kZ1Text[] = "I\xE0Z";
const char kZ2Text[] = "I\xE1Z";

// One command through ExecTransaction with the usual pause; the mapped result in nLastResult.
int32_t Execute(FPContext* ctx, const char* cmd) {
  ctx->nLastResult = MapLinkResult(ctx, ExecTransaction(ctx, cmd, kPauseCommand, true, false));
  return ctx->nLastResult;
}

int32_t XReport(FPContext* ctx, const char* name, const char* cmd) {
  LogEnter(ctx, name);
  Execute(ctx, cmd);
  ctx->pClock->SleepMs(kXReportPrintMs);
  return LogReturn(ctx, name, ctx->nLastResult);
}

}  // namespace

int32_t X1Report(FPContext* ctx) {
  return XReport(ctx, "X1Report", kX1Text);
}

int32_t X2Report(FPContext* ctx) {
  return XReport(ctx, "X2Report", kX2Text);
}

int32_t Z1Report(FPContext* ctx) {
  static const char kName[] = "Z1Report";
  LogEnter(ctx, kName);
  Execute(ctx, kZ1Text);
  ctx->pClock->SleepMs(ctx->nVersionMajor < 5 ? kZReportPrintOldMs : kZReportPrintMs);
  if (ctx->nLastResult == kCodeZ1Required) {
    const bool noCashier = ctx->nVersionMajor >= 3 && ctx->nDeviceError == kDeviceErrorNoCashier;
    ctx->nLastResult = noCashier ? kCodeCashierNotRegistered : kCodeReportRefused;
  }
  return LogReturn(ctx, kName, ctx->nLastResult);
}

int32_t Z2Report(FPContext* ctx, const char* password) {
  static const char kName[] = "Z2Report";
  LogEnter(ctx, kName);
  char cmd[16];
  std::snprintf(cmd, sizeof cmd, "WFA%-6.6s", password ? password : "");
  // The password's own answer decides, unmapped: only an acknowledged password lets the report go.
  ctx->nLastResult = ExecTransaction(ctx, cmd, kPauseCommand, true, false);
  ctx->pClock->SleepMs(kPasswordSettleMs);
  if (ctx->nLastResult == 0) {
    Execute(ctx, kZ2Text);
    ctx->pClock->SleepMs(kZ2ReportPrintMs);
  }
  return LogReturn(ctx, kName, ctx->nLastResult);
}

int32_t AccumulatedZ1Report(FPContext* ctx, int n) {
  static const char kName[] = "AccumulatedZ1Report";
  LogEnter(ctx, kName);
  if (n < 0 || n > 2) {
    ctx->nLastResult = kCodeWrongValue;
    return LogReturn(ctx, kName, ctx->nLastResult);
  }
  // The report needs the operator's password; a refused one shows in the report's own answer.
  SendCPswd(ctx, ctx->szOperatorPassword);
  char cmd[8];
  std::snprintf(cmd, sizeof cmd, "PALL%d", n);
  return LogReturn(ctx, kName, Execute(ctx, cmd));
}

int32_t PrintReportCurrentStatusOfSettlements(FPContext* ctx) {
  static const char kName[] = "PrintReportCurrentStatusOfSettlements";
  LogEnter(ctx, kName);
  return LogReturn(ctx, kName, Execute(ctx, "SuW"));
}

int32_t PrintDuplicate(FPContext* ctx) {
  static const char kName[] = "PrintDuplicate";
  LogEnter(ctx, kName);
  return LogReturn(ctx, kName, StdTransaction(ctx, "R", kPauseCommand, true, false));
}

int32_t PrintLastDoc(FPContext* ctx) {
  static const char kName[] = "PrintLastDoc";
  LogEnter(ctx, kName);
  const int drive = GetStatusFiscalDrive(ctx);
  if (drive != 0) return devcmd::Finish(ctx, kName, drive < 0 ? -drive : drive);
  // The document's number goes least significant byte first.
  const uint32_t number = ctx->FdStatus.nFdLastDocNumber;
  const uint8_t bytes[4] = {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
                            static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 24)};
  std::string cmd = "SuV";
  devcmd::AppendNibbles(&cmd, bytes, sizeof bytes);
  return devcmd::Std(ctx, kName, cmd, kPauseDocumentCopy);
}

int32_t GetFiscalDocShiftCount(FPContext* ctx) {
  static const char kName[] = "GetFiscalDocShiftCount";
  LogEnter(ctx, kName);
  if (ReadInfo1(ctx) != 0) return LogReturn(ctx, kName, 0);
  const int64_t count = S1Number(ctx, S1Field::kDocuments);
  LogMessagef(ctx, kName, "Total FD: %lld", static_cast<long long>(count));
  return LogReturn(ctx, kName, static_cast<int32_t>(count));
}
