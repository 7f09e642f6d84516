#include "device/clerks.h"

#include <cstdio>
#include <cstring>

#include "device/device_log.h"
#include "device/link.h"
#include "device/recode.h"
#include "device/status.h"
#include "device/text_field.h"

namespace {

constexpr int kReplyDelayMs = 110;
constexpr int kNoPause = -1;
constexpr uint32_t kClerkStoreMs = 55;  // the printer writes the clerk to its memory
constexpr long kMaxSecret = 99999;
constexpr int kPasswordLength = 6;
constexpr int kMaxInnClerk = 7;
constexpr int32_t kDeviceErrorNoPassword = 41;  // "password not entered or wrong"
constexpr int32_t kDeviceErrorNoClerk = 46;     // "clerk not set"
constexpr const char kDefaultPassword[] = "472913";

// Driver result codes of this part.
constexpr int32_t kCodeNoClerkName = 11;
constexpr int32_t kCodeBadPassword = 18;
constexpr int32_t kCodeBadPosNumber = 19;
constexpr int32_t kCodeBadClerkNumber = 22;
constexpr int32_t kCodeClerkUnknown = 26;
constexpr int32_t kCodeBadSecret = 27;

// The fixed table of the secret generator: one odd, well spread value per clerk.
constexpr int32_t kSecretSeeds[kClerkCount] = {48271, 16807, 69621, 39373, 27941, 90217, 53759, 74093,
                                               11827, 62089, 35327, 81173, 24671, 97429, 58997, 43063};
constexpr int32_t kPosStep = 7919;      // prime: POS numbers 0..9999 move the secrets apart
constexpr int32_t kAttemptStep = 3571;  // prime: 20 attempts give 20 different secrets

int32_t Finish(FPContext* ctx, const char* name, int32_t code) {
  ctx->nLastResult = code;
  return LogReturn(ctx, name, code);
}

// One command as one transaction, its link result as a driver result code.
int32_t Command(FPContext* ctx, const char* cmd, int pauseMs) {
  return MapLinkResult(ctx, ExecTransaction(ctx, cmd, pauseMs, true, false));
}

bool IsVersion(const FPContext* ctx, int major, int minor) {
  return ctx->nVersionMajor == major && ctx->nVersionMinor == minor;
}
bool IsSupportedModel(const FPContext* ctx) {
  return IsVersion(ctx, 11, 1);
}
bool IsClerkNumber(int n) {
  return n >= 1 && n <= kClerkCount;
}
bool IsFiscalMode(const FPContext* ctx) {
  return (ctx->status[0] & st::kFiscalPair) == st::kFiscalPair;
}

// The POS number the secrets are generated for: the one programmed, 0 while none is.
int PosNumber(const FPContext* ctx) {
  return ctx->anClerkSecrets[0] >= 0 ? ctx->anClerkSecrets[0] : 0;
}

// The older printers and version 3.1 and 9.3 keep 16 characters of a clerk's name; clerk 1 of the
// 1.05 firmware 64, the others 35.
int ClerkNameWidth(const FPContext* ctx, int n) {
  if (ctx->nVersionMajor < 3 || IsVersion(ctx, 3, 1) || IsVersion(ctx, 9, 3)) return 16;
  if (n == 1 && ctx->nContextKind >= 2) return 64;
  return 35;
}

}  // namespace

int32_t GeneratedClerkSecret(int clerk, int posNumber, int attempt) {
  const int64_t seed = kSecretSeeds[(clerk - 1) & (kClerkCount - 1)];
  const int64_t mixed =
      seed + int64_t{posNumber % 10000} * kPosStep + int64_t{attempt % kSecretAttempts} * kAttemptStep;
  // Secret 0 is one the printer refuses to program, so the range is 1..99999.
  return static_cast<int32_t>(1 + mixed % kMaxSecret);
}

int32_t SendCPswd(FPContext* ctx, const char* password) {
  LogEnter(ctx, "SendCPswd");
  if (!password || strlen(password) != kPasswordLength) return Finish(ctx, "SendCPswd", kCodeBadPassword);
  // A supported printer not yet registered with its fiscal drive still has its factory password.
  const char* sent = IsSupportedModel(ctx) && !IsFiscalMode(ctx) ? kDefaultPassword : password;
  char cmd[16];
  snprintf(cmd, sizeof cmd, "W  %-6.6s", sent);
  int32_t code = Command(ctx, cmd, kReplyDelayMs);
  if (code == kCodeWrongValue) {
    code = kCodeBadPassword;
  } else if (code == kCodeWrongCommand) {
    code = MapLinkResult(ctx, Restart(ctx));
  } else if (ctx->nVersionMajor >= 3 && code == kCodeZ1Required &&
             ctx->nDeviceError == kDeviceErrorNoPassword) {
    code = kCodeBadPassword;
  }
  return Finish(ctx, "SendCPswd", code);
}

int32_t SetCPswd(FPContext* ctx, const char* password) {
  LogEnter(ctx, "SetCPswd");
  const int32_t code = SendCPswd(ctx, password);
  if (code == 0) {
    snprintf(ctx->szOperatorPassword, sizeof ctx->szOperatorPassword, "%-6.6s", password);
    Restart(ctx);
  }
  return Finish(ctx, "SetCPswd", code);
}

int32_t ProgramPOS_Id(FPContext* ctx, int posNumber) {
  LogEnter(ctx, "ProgramPOS_Id");
  LogMessagef(ctx, "ProgramPOS_Id", "nPOS_Id = %d", posNumber);
  const int highest = ctx->nVersionMajor >= 6 ? 9999 : 99;
  if (posNumber < 0 || posNumber > highest) return Finish(ctx, "ProgramPOS_Id", kCodeBadPosNumber);
  char cmd[16];
  snprintf(cmd, sizeof cmd, "PN%2.2u", static_cast<unsigned>(posNumber));
  const int32_t code = Command(ctx, cmd, kReplyDelayMs);
  if (code == 0) ctx->anClerkSecrets[0] = posNumber;
  return Finish(ctx, "ProgramPOS_Id", code);
}

int32_t LogOnBySecret(FPContext* ctx, long secret) {
  LogEnter(ctx, "LogOnBySecret");
  if (secret < 0 || secret > kMaxSecret) return Finish(ctx, "LogOnBySecret", kCodeBadSecret);
  char cmd[16];
  snprintf(cmd, sizeof cmd, "5%5.5ld", secret);
  const int32_t code = Command(ctx, cmd, kReplyDelayMs);
  return Finish(ctx, "LogOnBySecret", code == kCodeWrongValue ? kCodeBadSecret : code);
}

int32_t LogOffClerk(FPContext* ctx) {
  LogEnter(ctx, "LogOffClerk");
  const int32_t code = Command(ctx, "6", kNoPause);
  if (code == 0) ctx->bClerkLoggedOn = 0;
  return Finish(ctx, "LogOffClerk", code);
}

int32_t ProgramClerk(FPContext* ctx, int n, long secret, const char* name) {
  LogEnter(ctx, "ProgramClerk");
  LogMessagef(ctx, "ProgramClerk", "nClerk = %d", n);
  if (!name || !*name) return Finish(ctx, "ProgramClerk", kCodeNoClerkName);
  if (!IsClerkNumber(n)) return Finish(ctx, "ProgramClerk", kCodeBadClerkNumber);
  if (secret < 0 || secret > kMaxSecret) return Finish(ctx, "ProgramClerk", kCodeBadSecret);
  const int32_t password = SendCPswd(ctx, ctx->szOperatorPassword);
  if (password != 0) return Finish(ctx, "ProgramClerk", password);

  const int width = ClerkNameWidth(ctx, n);
  char cmd[96];
  const int head = snprintf(cmd, sizeof cmd, "PC%2.2d%5.5ld", n, secret);
  snprintf(cmd + head, sizeof cmd - head, "%-*.*s", width, width, name);
  RecodeToDevice(ctx, cmd + head, width);
  int32_t code = Command(ctx, cmd, kNoPause);
  if (code == 0) {
    ctx->pClock->SleepMs(kClerkStoreMs);
    ctx->bClerkLoggedOn = 1;
    // The caller often hands the context's own name back, which CopyText takes as it is.
    CopyText(ctx->szClerkName, name);
    ctx->anClerkSecrets[n] = static_cast<int32_t>(secret);
  } else if (code == kCodeWrongValue) {
    code = ctx->nVersionMajor >= 9 ? kCodeClerkUnknown : kCodeBadSecret;
  }
  return Finish(ctx, "ProgramClerk", code);
}

int32_t ProgramClerkINN(FPContext* ctx, int n, const char* taxpayerNumber) {
  LogEnter(ctx, "ProgramClerkINN");
  if (!IsSupportedModel(ctx)) return Finish(ctx, "ProgramClerkINN", 0);
  const bool empty = !taxpayerNumber || !*taxpayerNumber;
  // The 1.00 firmware is sent twelve blanks for an empty number; the 1.05 firmware is sent nothing.
  if (empty && ctx->nContextKind >= 2) return Finish(ctx, "ProgramClerkINN", 0);
  if (n < 1 || n > kMaxInnClerk) return Finish(ctx, "ProgramClerkINN", kCodeBadClerkNumber);
  char cmd[32];
  snprintf(cmd, sizeof cmd, "PC*%-12.12s%1.1d0%1.1d", empty ? "" : taxpayerNumber, n, n);
  return Finish(ctx, "ProgramClerkINN", Command(ctx, cmd, kNoPause));
}

int32_t SafeProgramClerk(FPContext* ctx, int n, const char* name) {
  LogEnter(ctx, "SafeProgramClerk");
  if (!IsClerkNumber(n)) return Finish(ctx, "SafeProgramClerk", kCodeBadClerkNumber);
  if (ctx->anClerkSecrets[n] >= 0 && ProgramClerk(ctx, n, ctx->anClerkSecrets[n], name) == 0) {
    return Finish(ctx, "SafeProgramClerk", 0);
  }
  int32_t code = kCodeBadSecret;
  for (int attempt = 0; attempt < kSecretAttempts && code == kCodeBadSecret; ++attempt) {
    code = ProgramClerk(ctx, n, GeneratedClerkSecret(n, PosNumber(ctx), attempt), name);
  }
  return Finish(ctx, "SafeProgramClerk", code);
}

int32_t SafeLogOn(FPContext* ctx, int n) {
  LogEnter(ctx, "SafeLogOn");
  if (!IsClerkNumber(n)) return Finish(ctx, "SafeLogOn", kCodeBadClerkNumber);
  // Model 10 clerks carry the generated secret from the start.
  if (ctx->nVersionMajor == 10 && ctx->anClerkSecrets[n] < 0) {
    ctx->anClerkSecrets[n] = GeneratedClerkSecret(n, PosNumber(ctx), 0);
  }
  if (ctx->anClerkSecrets[n] < 0) return Finish(ctx, "SafeLogOn", kCodeClerkUnknown);
  return Finish(ctx, "SafeLogOn", LogOnBySecret(ctx, ctx->anClerkSecrets[n]));
}

int32_t SetClerk(FPContext* ctx, int n, const char* name) {
  LogEnter(ctx, "SetClerk");
  if (ctx->nVersionMajor >= 9 && (!name || !*name)) {
    ctx->nDeviceError = kDeviceErrorNoClerk;
    return Finish(ctx, "SetClerk", kCodeWrongValue);
  }
  int32_t code = SafeProgramClerk(ctx, n, name);
  if (code == 0 || ctx->nVersionMajor == 10) code = SafeLogOn(ctx, n);
  return Finish(ctx, "SetClerk", code);
}

int32_t ClerkSecretsTest(FPContext* ctx, int32_t* needsProgramming) {
  LogEnter(ctx, "ClerkSecretsTest");
  int32_t needs = 0;
  int32_t code = 0;
  for (int n = 1; n <= kClerkCount && code == 0; ++n) {
    const long secret =
        ctx->anClerkSecrets[n] >= 0 ? ctx->anClerkSecrets[n] : GeneratedClerkSecret(n, PosNumber(ctx), 0);
    const int32_t logOn = LogOnBySecret(ctx, secret);
    if (logOn == kCodeBadSecret) {
      needs = 1;
      continue;
    }
    if (logOn != 0) {
      code = logOn;  // the printer is not answering as it should: stop asking it
      break;
    }
    ctx->anClerkSecrets[n] = static_cast<int32_t>(secret);
    const int r = GetStatus2(ctx);
    if (r != kAnswerStatus2) {
      code = MapLinkResult(ctx, r);
    } else if ((ctx->status2[0] & st::kShiftTimeExceeded) == st::kShiftTimeExceeded) {
      code = kCodeZ1Required;
    }
    LogOffClerk(ctx);
  }
  if (needsProgramming) *needsProgramming = needs;
  return Finish(ctx, "ClerkSecretsTest", code);
}

int32_t ProgramClerkSecrets(FPContext* ctx) {
  LogEnter(ctx, "ProgramClerkSecrets");
  const bool hasSecrets = (ctx->nVersionMajor == 9 && ctx->nVersionMinor >= 1 && ctx->nVersionMinor <= 3) ||
                          IsSupportedModel(ctx);
  if (!hasSecrets) return Finish(ctx, "ProgramClerkSecrets", 0);
  int32_t first = 0;
  for (int n = 1; n <= kClerkCount; ++n) {
    char name[8];
    snprintf(name, sizeof name, "%03d", n);
    const int32_t code = SafeProgramClerk(ctx, n, name);
    if (first == 0) first = code;  // one refused clerk does not keep the others unprogrammed
  }
  return Finish(ctx, "ProgramClerkSecrets", first);
}
