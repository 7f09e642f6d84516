#include "device/receipt_commands.h"

#include <cstdio>
#include <cstring>

#include "device/device_log.h"
#include "device/recode.h"
#include "device/status.h"

namespace {

constexpr int kReplyDelayMs = 110;

}  // namespace

int32_t CardAuthData(FPContext* ctx, const char* text1, const char* text2) {
  LogEnter(ctx, "CardAuthData");
  WaitReadyStatus(ctx);  // a printer still busy with the last command would refuse this one
  char cmd[64];
  snprintf(cmd, sizeof cmd, "c%-25.25s%-25.25s", text1 ? text1 : "", text2 ? text2 : "");
  RecodeToDevice(ctx, cmd, static_cast<int>(strlen(cmd)));
  const int32_t code = StdTransaction(ctx, cmd, kReplyDelayMs, true, false);
  ctx->nLastResult = code;
  return LogReturn(ctx, "CardAuthData", code);
}
