#include "device/device_log.h"

#include <cstdarg>
#include <cstdio>

void LogEnter(FPContext* ctx, const char* name) {
  if (ctx->pfnLogEnter) ctx->pfnLogEnter(ctx, name);
}

int LogReturn(FPContext* ctx, const char* name, int result) {
  if (ctx->pfnLogReturn) {
    char text[16];
    snprintf(text, sizeof text, "%d", result);
    ctx->pfnLogReturn(ctx, name, text);
  }
  return result;
}

void LogMessage(FPContext* ctx, const char* name, const char* text) {
  if (ctx->pfnLogMessage) ctx->pfnLogMessage(ctx, name, text);
}

void LogMessagef(FPContext* ctx, const char* name, const char* format, ...) {
  if (!ctx->pfnLogMessage) return;
  char text[512];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  ctx->pfnLogMessage(ctx, name, text);
}

void LogSend(FPContext* ctx, const char* frameText, const char* resultText) {
  if (ctx->pfnLogSend) ctx->pfnLogSend(ctx, frameText, resultText);
}

void LogRecv(FPContext* ctx, const char* frameText, const char* kindText) {
  if (ctx->pfnLogRecv) ctx->pfnLogRecv(ctx, frameText, kindText);
}

std::string HexBytes(const char* prefix, const uint8_t* bytes, uint32_t count) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text(prefix);
  const size_t start = text.size();
  text.resize(start + 3 * static_cast<size_t>(count));
  char* out = &text[start];
  for (uint32_t i = 0; i < count; ++i) {
    *out++ = kDigits[bytes[i] >> 4];
    *out++ = kDigits[bytes[i] & 0x0F];
    *out++ = ' ';
  }
  return text;
}

void LogBytes(FPContext* ctx, const char* name, const char* prefix, const uint8_t* bytes, uint32_t count) {
  if (ctx->pfnLogMessage) ctx->pfnLogMessage(ctx, name, HexBytes(prefix, bytes, count).c_str());
}
