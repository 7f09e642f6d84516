#include "device/command_support.h"

#include <cstring>

#include "device/device_log.h"
#include "device/link.h"
#include "device/recode.h"
#include "device/status.h"

namespace devcmd {

int32_t Finish(FPContext* ctx, const char* name, int32_t code) {
  ctx->nLastResult = code;
  return LogReturn(ctx, name, code);
}

int32_t Exec(FPContext* ctx, const char* name, const std::string& cmd, int pauseMs) {
  return Finish(ctx, name, MapLinkResult(ctx, ExecTransaction(ctx, cmd.c_str(), pauseMs, true, false)));
}

int32_t Std(FPContext* ctx, const char* name, const std::string& cmd, int pauseMs) {
  // The link would refuse the text too, but StdTransaction would still ask for the status.
  if (cmd.size() > static_cast<size_t>(kMaxCommandLength)) return Finish(ctx, name, kCodeLinkRefused);
  return Finish(ctx, name, StdTransaction(ctx, cmd.c_str(), pauseMs, true, false));
}

void AppendRecoded(FPContext* ctx, std::string* cmd, const char* text) {
  const size_t start = cmd->size();
  cmd->append(text ? text : "");
  if (cmd->size() > start) RecodeToDevice(ctx, &(*cmd)[start], static_cast<int>(cmd->size() - start));
}

void AppendNibbles(std::string* cmd, const uint8_t* bytes, size_t count) {
  char pair[2];
  for (size_t i = 0; i < count; ++i) {
    ToNibbleChars(bytes[i], pair);
    cmd->append(pair, 2);
  }
}

std::string Cut(const char* text, size_t limit) {
  return text ? std::string(text, strnlen(text, limit)) : "";
}

}  // namespace devcmd
