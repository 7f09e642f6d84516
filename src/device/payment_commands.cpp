#include "device/payment_commands.h"

#include <cstdio>
#include <cstring>

#include "device/bringup.h"
#include "device/command_support.h"
#include "device/device_log.h"
#include "device/recode.h"
#include "device/status.h"

using devcmd::Finish;
using devcmd::kReplyDelayMs;

namespace {

constexpr int64_t kMaxAmount = 9999999999;  // ten digits of kopecks
constexpr uint32_t kFailedPaymentPauseMs = 1100;
constexpr int32_t kCodeNoAnswer = 4;
constexpr int kPhaseFrameTaken = 3;   // a transaction past this phase had its frame taken
constexpr int32_t kReturnPayOfK = 8;  // the payment type that the newer firmwares return by "K"

// Status word bits of FastStatus.
constexpr int32_t kWordFiscalReceipt = 0x20;
constexpr int32_t kWordReceipt = 0x40;

// How a doubtful outcome is looked at again.
enum class Recheck {
  kPayment,  // a receipt payment: any receipt still open means it was not taken
  kClose,    // a return payment or a total: the receipt bit alone
  kCash,     // cash in or out: the transaction's phase alone
};

bool Doubtful(int32_t r, Recheck kind) {
  return r == kCodePrintFailure || r == kCodePaperEnd || (kind != Recheck::kPayment && r == kCodeNoAnswer);
}

int32_t Outcome(FPContext* ctx, int32_t r, Recheck kind) {
  const int phase = ctx->nTransactionPhase;
  if (r == 0) return 0;
  if (!Doubtful(r, kind)) {
    ctx->pClock->SleepMs(kFailedPaymentPauseMs);
    return r;
  }
  if (kind == Recheck::kCash) return phase > kPhaseFrameTaken ? 0 : r;
  int32_t word = 0;
  if (FastStatus(ctx, &word) != 0) return phase > kPhaseFrameTaken ? 0 : r;
  const int32_t open = kind == Recheck::kPayment ? (kWordFiscalReceipt | kWordReceipt) : kWordReceipt;
  return (word & open) == 0 ? 0 : r;
}

int32_t Send(FPContext* ctx, const char* name, const char* cmd, Recheck kind) {
  WaitReadyStatus(ctx);  // a printer still busy with the last command would refuse this one
  const int32_t r = StdTransaction(ctx, cmd, kReplyDelayMs, true, false);
  return Finish(ctx, name, Outcome(ctx, r, kind));
}

bool TypeFits(int type) {
  return type >= 0 && type <= 9;
}

int32_t SendAmount(FPContext* ctx, const char* name, const char* prefix, int type, int64_t amount,
                   Recheck kind) {
  if (!TypeFits(type) || amount < 0 || amount > kMaxAmount) return Finish(ctx, name, kCodeWrongValue);
  char cmd[32];
  snprintf(cmd, sizeof cmd, "%s%1.1d%10.10lld", prefix, type, static_cast<long long>(amount));
  return Send(ctx, name, cmd, kind);
}

// The amount is rounded to whole kopecks as the field shows it; one that would need an eleventh
// digit (or is no number) is refused.
int32_t SendAmount(FPContext* ctx, const char* name, const char* prefix, int type, double amount,
                   Recheck kind) {
  if (!TypeFits(type) || !(amount >= 0 && amount < kMaxAmount + 0.5))
    return Finish(ctx, name, kCodeWrongValue);
  char cmd[32];
  snprintf(cmd, sizeof cmd, "%s%1.1d%010.0f", prefix, type, amount);
  return Send(ctx, name, cmd, kind);
}

// The newer firmwares return a payment of type 8 by "K", all others by "f".
const char* ReturnPrefix(const FPContext* ctx, int type) {
  const bool byK = devcmd::IsSupportedModel(ctx) && type == kReturnPayOfK &&
                   (ctx->nFpSubversion >= 11 || ctx->nContextKind >= 2);
  return byK ? "K" : "f";
}

}  // namespace

int32_t Pay(FPContext* ctx, int type, int64_t amount) {
  LogEnter(ctx, "Pay");
  return SendAmount(ctx, "Pay", "L", type, amount, Recheck::kPayment);
}

int32_t Pay2(FPContext* ctx, int type, double amount) {
  LogEnter(ctx, "Pay2");
  return SendAmount(ctx, "Pay2", "L", type, amount, Recheck::kPayment);
}

int32_t PayAuto(FPContext* ctx, int type) {
  LogEnter(ctx, "PayAuto");
  if (!TypeFits(type)) return Finish(ctx, "PayAuto", kCodeWrongValue);
  const char cmd[] = {'1', static_cast<char>('0' + type), '\0'};
  return Send(ctx, "PayAuto", cmd, Recheck::kPayment);
}

int32_t ReturnPay(FPContext* ctx, int type, int64_t amount) {
  LogEnter(ctx, "ReturnPay");
  return SendAmount(ctx, "ReturnPay", ReturnPrefix(ctx, type), type, amount, Recheck::kClose);
}

int32_t ReturnPay2(FPContext* ctx, int type, double amount) {
  LogEnter(ctx, "ReturnPay2");
  return SendAmount(ctx, "ReturnPay2", ReturnPrefix(ctx, type), type, amount, Recheck::kClose);
}

int32_t MoneyIn(FPContext* ctx, int type, int64_t amount) {
  LogEnter(ctx, "MoneyIn");
  return SendAmount(ctx, "MoneyIn", "91", type, amount, Recheck::kCash);
}

int32_t MoneyOut(FPContext* ctx, int type, int64_t amount) {
  LogEnter(ctx, "MoneyOut");
  return SendAmount(ctx, "MoneyOut", "90", type, amount, Recheck::kCash);
}

int32_t MoneyIn2(FPContext* ctx, int type, double amount) {
  LogEnter(ctx, "MoneyIn2");
  return SendAmount(ctx, "MoneyIn2", "91", type, amount, Recheck::kCash);
}

// Logged under the name of the integer form, as the printer's other tools know it.
int32_t MoneyOut2(FPContext* ctx, int type, double amount) {
  LogEnter(ctx, "MoneyOut");
  return SendAmount(ctx, "MoneyOut", "90", type, amount, Recheck::kCash);
}

int32_t MoneyInOutTotal(FPContext* ctx) {
  LogEnter(ctx, "MoneyInOutTotal");
  return Send(ctx, "MoneyInOutTotal", "t", Recheck::kClose);
}

int32_t CardAuthData(FPContext* ctx, const char* text1, const char* text2) {
  LogEnter(ctx, "CardAuthData");
  WaitReadyStatus(ctx);
  char cmd[64];
  snprintf(cmd, sizeof cmd, "c%-25.25s%-25.25s", text1 ? text1 : "", text2 ? text2 : "");
  RecodeToDevice(ctx, cmd, static_cast<int>(strlen(cmd)));
  return Finish(ctx, "CardAuthData", StdTransaction(ctx, cmd, kReplyDelayMs, true, false));
}

int32_t DrawerOpen(FPContext* ctx) {
  LogEnter(ctx, "DrawerOpen");
  return devcmd::Exec(ctx, "DrawerOpen", "w", devcmd::kNoPause3);
}
