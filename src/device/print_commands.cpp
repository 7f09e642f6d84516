#include "device/print_commands.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "device/command_support.h"
#include "device/device_log.h"
#include "device/link.h"
#include "device/recode.h"
#include "device/status.h"

using devcmd::Finish;
using devcmd::kCodeNotSupported;

namespace {

constexpr size_t kMaxCode39 = 140;
constexpr size_t kMaxQrData = 252;

// "80" starts a text line outside a receipt, "81" the last one of its document.
std::string OutsidePrefix(bool finalLine) {
  return finalLine ? "81" : "80";
}

int32_t SendBeforeEnd(FPContext* ctx, const char* name, const char* prefix, const char* text) {
  LogEnter(ctx, name);
  if (ctx->nVersionMajor < 3) return Finish(ctx, name, kCodeNotSupported);
  if (!text || !*text) return Finish(ctx, name, 0);
  std::string cmd = prefix;
  devcmd::AppendRecoded(ctx, &cmd, devcmd::Cut(text, static_cast<size_t>(ctx->nLineWidth)).c_str());
  return devcmd::Exec(ctx, name, cmd, devcmd::kNoPause2);
}

// The barcode's own result: the transaction's, unmapped.
int32_t SendCode(FPContext* ctx, const char* name, const std::string& cmd) {
  return Finish(ctx, name, ExecTransaction(ctx, cmd.c_str(), devcmd::kNoPause1, true, false));
}

// A barcode of kind `kind` ("12" EAN-13, "13" EAN-8, "14" CODE39) between quotes.
int32_t SendBarcode(FPContext* ctx, const char* name, const char* kind, const char* data, bool fits,
                    bool finalLine, bool inReceipt) {
  if (!fits) return Finish(ctx, name, kCodeWrongValue);
  std::string cmd = inReceipt ? "1\"" : OutsidePrefix(finalLine);
  cmd += "9032";
  cmd += kind;
  cmd += data;
  cmd += '"';
  return SendCode(ctx, name, cmd);
}

size_t Length(const char* text, size_t limit) {
  return text ? strnlen(text, limit + 1) : 0;
}

}  // namespace

int32_t PrintLine(FPContext* ctx, const char* text, bool finalLine, bool alternativeEnd) {
  LogEnter(ctx, "PrintLine");
  int width = ctx->nLineWidth;
  if (ctx->nVersionMajor >= 7 && !devcmd::IsSupportedModel(ctx)) width -= 2;
  if (width < 0) width = 0;
  char line[512];
  snprintf(line, sizeof line, "%-*.*s", width, width, text ? text : "");
  std::string cmd = OutsidePrefix(finalLine);
  devcmd::AppendRecoded(ctx, &cmd, line);
  cmd += alternativeEnd ? '1' : '0';
  return devcmd::Exec(ctx, "PrintLine", cmd, devcmd::kNoPause3);
}

int32_t TextBeforeEndCheck(FPContext* ctx, const char* text) {
  return SendBeforeEnd(ctx, "TextBeforeEndCheck", "1!", text);
}

int32_t TextBeforeEndCheckUndo(FPContext* ctx, const char* text) {
  return SendBeforeEnd(ctx, "TextBeforeEndCheckUndo", "f!", text);
}

int32_t PrintEAN13Code(FPContext* ctx, const char* digits, bool finalLine, bool inReceipt) {
  LogEnter(ctx, "PrintEAN13Code");
  const size_t n = Length(digits, 13);
  return SendBarcode(ctx, "PrintEAN13Code", "12", digits, n == 12 || n == 13, finalLine, inReceipt);
}

int32_t PrintEAN8Code(FPContext* ctx, const char* digits, bool finalLine, bool inReceipt) {
  LogEnter(ctx, "PrintEAN8Code");
  const size_t n = Length(digits, 8);
  return SendBarcode(ctx, "PrintEAN8Code", "13", digits, n == 7 || n == 8, finalLine, inReceipt);
}

int32_t PrintCODE39Code(FPContext* ctx, const char* data, bool finalLine, bool inReceipt) {
  LogEnter(ctx, "PrintCODE39Code");
  const bool fits = data && Length(data, kMaxCode39) <= kMaxCode39;
  return SendBarcode(ctx, "PrintCODE39Code", "14", data, fits, finalLine, inReceipt);
}

int32_t PrintQRCode(FPContext* ctx, int systemType, int errorLevel, int size, const char* data,
                    bool finalLine, bool inReceipt) {
  LogEnter(ctx, "PrintQRCode");
  LogMessagef(ctx, "SystemType", "%d", systemType);
  LogMessagef(ctx, "ErrorLevel", "%d", errorLevel);
  LogMessagef(ctx, "Size", "%d", size);
  const bool valid = (systemType == 1 || systemType == 2) && errorLevel >= 0 && errorLevel <= 3 &&
                     size >= 0 && size <= 15 && data && Length(data, kMaxQrData) <= kMaxQrData;
  if (!valid) return Finish(ctx, "PrintQRCode", kCodeWrongValue);
  // The parameter byte, whose high bit is always set, closes the data.
  const int system = systemType == 1 ? 1 : 0;
  const char parameters = static_cast<char>(0x80 | system << 6 | errorLevel << 4 | size);
  std::string cmd = inReceipt ? "1\"" : OutsidePrefix(finalLine);
  cmd += data;
  cmd += parameters;
  return SendCode(ctx, "PrintQRCode", cmd);
}
