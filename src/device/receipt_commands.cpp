#include "device/receipt_commands.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "device/clerks.h"
#include "device/command_support.h"
#include "device/device_log.h"
#include "device/fiscal_drive.h"
#include "device/info_queries.h"
#include "device/info_records.h"
#include "device/link.h"
#include "device/recode.h"
#include "device/status.h"
#include "platform/codepage.h"

using devcmd::Exec;
using devcmd::Finish;
using devcmd::IsSupportedModel;
using devcmd::kCodeNotSupported;
using devcmd::kReplyDelayMs;
using devcmd::Std;

namespace {

constexpr uint32_t kClerkRestMs = 3300;  // the printer is deaf this long after a log-on or log-off
constexpr int32_t kCodeBadClerkNumber = 22;
constexpr uint8_t kClerkLoggedOn = 0x01;  // status2 byte 0: the cashier's session is open

constexpr int kExtraTextWidth = 18;
constexpr int kExtraTextWidthLong = 17;
constexpr int kShortOrderLength = 5;
constexpr unsigned kMaxOrder = 99999;
constexpr unsigned kMaxOrderPart = 999;

constexpr int32_t kMaxTaxVariant = 5;
constexpr int kMaxCorrectionText = 50;
constexpr int kMaxTagText = 256;
constexpr int kMaxTagBytes = 128;
constexpr int kLastTag = 1295;
constexpr int kLastPlainTag = 1000;  // up to here a registration attribute is the bare "Sum"

// Where a fiscal tag's two reference bytes switch from 0xD8 to 0xDA.
constexpr int kFirstTag = 952;
constexpr int kLastNearTag = kFirstTag + 215;

int PosNumber(const FPContext* ctx) {
  const int pos = ctx->anClerkSecrets[0];
  return pos >= 1 && pos <= 98 ? pos : 1;
}

bool ClerkLoggedOn(const FPContext* ctx) {
  return (ctx->status2[0] & kClerkLoggedOn) != 0;
}

// ---- Order header ----

bool BlanksZeroNumbers(const FPContext* ctx) {
  return (ctx->nVersionMajor == 4 && ctx->nVersionMinor >= 1) || ctx->nVersionMajor >= 5;
}

// Replaces a field of zeros by blanks unless the caller keeps zeros there.
void BlankZeroField(std::string* cmd, size_t at, size_t width, unsigned value, int32_t keep) {
  if (value == 0 && !keep) cmd->replace(at, width, width, ' ');
}

int32_t SendExtraDocData(FPContext* ctx, const char* name, char letter, unsigned order, unsigned a,
                         unsigned b, const char* text, bool blank) {
  if (order > kMaxOrder || a > kMaxOrderPart || b > kMaxOrderPart)
    return Finish(ctx, name, kCodeOrderNumberRange);
  char head[32];
  snprintf(head, sizeof head, "%c%5.5u%3.3u%3.3u", letter, order, a, b);
  std::string cmd = head;
  char field[kExtraTextWidth + 1];
  snprintf(field, sizeof field, "%-18.18s", text ? text : "");
  devcmd::AppendRecoded(ctx, &cmd, field);
  if (blank) {
    BlankZeroField(&cmd, 1, 5, order, ctx->anKeepZeroExtra[0]);
    BlankZeroField(&cmd, 6, 3, a, ctx->anKeepZeroExtra[1]);
    BlankZeroField(&cmd, 9, 3, b, ctx->anKeepZeroExtra[2]);
  }
  return Exec(ctx, name, cmd, devcmd::kNoPause2);
}

// A number field given as text: "0" counts as empty unless the caller keeps zeros there.
const char* OrderField(const char* text, int32_t keep) {
  if (!text) return "";
  return strcmp(text, "0") == 0 && !keep ? "" : text;
}

int32_t SendExtraDocData2(FPContext* ctx, const char* name, char letter, const char* order, const char* a,
                          const char* b, const char* text) {
  if (ctx->nVersionMajor < 4 || (ctx->nVersionMajor == 4 && ctx->nVersionMinor == 0)) {
    return Finish(ctx, name, kCodeNotSupported);
  }
  order = OrderField(order, ctx->anKeepZeroExtra[0]);
  a = OrderField(a, ctx->anKeepZeroExtra[1]);
  b = OrderField(b, ctx->anKeepZeroExtra[2]);
  const bool longOrder = strlen(order) > kShortOrderLength &&
                         (ctx->nVersionMajor >= 5 || (ctx->nVersionMajor == 4 && ctx->nVersionMinor <= 2));
  const int width = longOrder ? kExtraTextWidthLong : kExtraTextWidth;
  char body[64];
  if (longOrder) {
    snprintf(body, sizeof body, "*%-12.12s%3.3s%3.3s%-*.*s", order, a, b, width, width, text ? text : "");
  } else {
    snprintf(body, sizeof body, "%5.5s%3.3s%3.3s%-*.*s", order, a, b, width, width, text ? text : "");
  }
  std::string cmd(1, letter);
  devcmd::AppendRecoded(ctx, &cmd, body);
  return Exec(ctx, name, cmd, devcmd::kNoPause2);
}

// ---- Items ----

// Appends fiscal tag `tag`'s reference bytes.
void AppendTag(std::string* cmd, int tag, int flag) {
  char ref[2];
  TagReference(tag, flag, ref);
  cmd->append(ref, 2);
}

void AppendByteTag(std::string* cmd, int tag, int flag, int32_t value) {
  if (value <= 0) return;
  AppendTag(cmd, tag, flag);
  const uint8_t byte = static_cast<uint8_t>(value);
  devcmd::AppendNibbles(cmd, &byte, 1);
}

void AppendTextTag(FPContext* ctx, std::string* cmd, int tag, const char* text) {
  if (!text || !*text) return;
  AppendTag(cmd, tag, 0);
  devcmd::AppendRecoded(ctx, cmd, text);
}

// The product code up to its last non-zero byte; nothing when all are zero.
void AppendGoodCode(std::string* cmd, const uint8_t (&code)[kGoodCodeLength]) {
  size_t used = kGoodCodeLength;
  while (used > 0 && code[used - 1] == 0) --used;
  if (used == 0) return;
  AppendTag(cmd, 1162, 1);
  devcmd::AppendNibbles(cmd, code, used);
}

// The item's fiscal tags, in the order the printer expects them, with nothing between them.
void AppendTagBlock(FPContext* ctx, std::string* cmd, const CheckPosition& p) {
  const AgentBlock& a = p.agent;
  AppendByteTag(cmd, 1212, 0, p.nSignCalculationObject);
  AppendByteTag(cmd, 1214, p.nSignMethodCalculation == 4 ? 0 : 1, p.nSignMethodCalculation);
  AppendTextTag(ctx, cmd, 1197, p.szMeasurementUnit);
  AppendGoodCode(cmd, p.abGoodCode);
  AppendByteTag(cmd, 1222, 0, p.nAgentSignMask);
  AppendTextTag(ctx, cmd, 1075, a.szMoneyTransferOperatorPhone);
  AppendTextTag(ctx, cmd, 1044, a.szPayingAgentOperation);
  AppendTextTag(ctx, cmd, 1073, a.szPayingAgentPhone);
  AppendTextTag(ctx, cmd, 1074, a.szReceivePaymentsOperatorPhone);
  AppendTextTag(ctx, cmd, 1026, a.szMoneyTransferOperatorName);
  AppendTextTag(ctx, cmd, 1005, a.szMoneyTransferOperatorAddress);
  AppendTextTag(ctx, cmd, 1016, a.szMoneyTransferOperatorVATIN);
  AppendTextTag(ctx, cmd, 1171, a.szPurveyorPhone);
  AppendTextTag(ctx, cmd, 1225, a.szPurveyorName);
  AppendTextTag(ctx, cmd, 1226, a.szPurveyorVATIN);
}

// Builds an item command after its operation letters: price, quantity, department, name and tags.
// False (with 39 in nLastResult) when the price does not fit its field.
bool BuildItem(FPContext* ctx, std::string* cmd, int64_t price, int64_t quantity, bool zeroQuantity,
               int department, const char* name, const CheckPosition* position) {
  char field[8];
  if (price > kMaxExtendedPrice || EncodeExtendedDigits(field, static_cast<uint32_t>(price)) != 0) {
    ctx->nLastResult = kCodePriceTooLarge;
    return false;
  }
  cmd->append(field, sizeof field);
  char numbers[32];
  if (zeroQuantity) {
    snprintf(numbers, sizeof numbers, "00000000%2.2d", department);
  } else {
    snprintf(numbers, sizeof numbers, "%8.8lld%2.2d", static_cast<long long>(quantity), department);
  }
  cmd->append(numbers);
  devcmd::AppendRecoded(ctx, cmd, devcmd::Cut(name, static_cast<size_t>(ctx->nMaxItemNameLength)).c_str());
  if (position) AppendTagBlock(ctx, cmd, *position);
  return true;
}

int64_t Magnitude(int64_t value) {
  return value < 0 ? -value : value;
}

// ---- Discount line ----

// The discount word on this model: "СКИДКА" and a blank for a discount, "НАЦЕНКА" for a markup.
std::string CorrectionWord(FPContext* ctx, bool discount) {
  static const std::string kWords = plat::Utf8ToCp1251("СКИДКАНАЦЕНКА");
  std::string words = kWords;
  RecodeToDevice(ctx, &words[0], static_cast<int>(words.size()));
  return discount ? words.substr(0, 6) + " " : words.substr(6, 7);
}

// Sixteen characters: blanks for "( )", a shorter text padded, a longer one as its first 15
// characters behind a blank.
std::string CorrectionTextField(const std::string& text) {
  if (text == "( )") return std::string(16, ' ');
  char field[20];
  if (text.size() < 16) {
    snprintf(field, sizeof field, "%-16.16s", text.c_str());
  } else {
    snprintf(field, sizeof field, "%16.16s", text.substr(0, 15).c_str());
  }
  return field;
}

// Roubles as ten digits and a point, leading zeros of the first nine shown as blanks.
std::string CorrectionRoubles(int64_t kopecks) {
  char field[24];
  snprintf(field, sizeof field, "%10.10lld.", static_cast<long long>(kopecks / 100));
  for (int i = 0; i < 9 && field[i] == '0'; ++i) field[i] = ' ';
  return field;
}

// ---- Attributes ----

// Longest text of receipt attribute 0..21; 0 for the numbers that are not attributes.
int TextAttributeLimit(int attribute) {
  static const int kLimits[] = {1,  0,  0,  19, 19, 19, 10, 64,  250, 12,  19,
                                24, 19, 24, 19, 10, 64, 64, 250, 12,  250, 12};
  return kLimits[attribute];
}

// A binary value as nibble characters, a text value recoded; `length` < 0 takes a text's length.
void AppendTagValue(FPContext* ctx, std::string* cmd, const char* data, bool isText, int length) {
  if (isText) {
    const size_t limit = length < 0 ? kMaxTagText : static_cast<size_t>(std::min(length, kMaxTagText));
    devcmd::AppendRecoded(ctx, cmd, devcmd::Cut(data, limit).c_str());
  } else {
    devcmd::AppendNibbles(cmd, reinterpret_cast<const uint8_t*>(data),
                          static_cast<size_t>(std::min(std::max(length, 0), kMaxTagBytes)));
  }
}

}  // namespace

uint32_t EncodeExtendedDigits(char out[8], uint32_t value) {
  uint32_t place = 10000000;
  for (int i = 0; i < 8; ++i, place /= 10) {
    uint32_t digit = value / place;
    if (digit > 207) digit = 207;
    out[i] = static_cast<char>('0' + digit);
    value -= digit * place;
  }
  return value;
}

void TagReference(int tag, int flag, char out[2]) {
  const int t = tag - kFirstTag;
  const bool near = tag <= kLastNearTag;
  out[0] = static_cast<char>((near ? 0xD8 : 0xDA) | (flag & 1));
  out[1] = static_cast<char>(near ? t : t - 128);
}

// ---- Cashier ----

int32_t SafeOpenFP2(FPContext* ctx, int, int clerk, const char* clerkName, int, const char* clerkVatin) {
  LogEnter(ctx, "SafeOpenFP2");
  WaitReadyStatus(ctx);
  const int32_t programmed = SafeProgramClerk(ctx, clerk, clerkName);
  if (programmed != 0) return Finish(ctx, "SafeOpenFP2", programmed);
  if (IsSupportedModel(ctx) && ctx->nContextKind == 2 && clerkVatin && *clerkVatin) {
    ProgramClerkINN(ctx, clerk, clerkVatin);  // the receipt still shows the clerk without it
  }
  return Finish(ctx, "SafeOpenFP2", OpenFP(ctx, clerk));
}

int32_t OpenFP(FPContext* ctx, int clerk) {
  LogEnter(ctx, "OpenFP");
  if (clerk < 1 || clerk > kClerkCount) return Finish(ctx, "OpenFP", kCodeBadClerkNumber);
  if (ctx->anClerkSecrets[clerk] < 0) return Finish(ctx, "OpenFP", kCodeClerkNotProgrammed);
  WaitReadyStatus(ctx);
  if (ClerkLoggedOn(ctx)) return LogReturn(ctx, "OpenFP", ctx->nLastResult);
  if (SendCPswd(ctx, ctx->szOperatorPassword) != 0) return LogReturn(ctx, "OpenFP", ctx->nLastResult);
  char cmd[32];
  snprintf(cmd, sizeof cmd, "o%2.2d%5.5ld", PosNumber(ctx), static_cast<long>(ctx->anClerkSecrets[clerk]));
  if (Exec(ctx, "OpenFP", cmd, kReplyDelayMs) != 0) return ctx->nLastResult;
  ctx->status2[0] |= kClerkLoggedOn;
  ctx->pClock->SleepMs(kClerkRestMs);
  return Finish(ctx, "OpenFP", WaitReadyStatus(ctx));
}

int32_t CloseFP(FPContext* ctx) {
  LogEnter(ctx, "CloseFP");
  if (!ClerkLoggedOn(ctx)) return Finish(ctx, "CloseFP", 0);
  if (SendCPswd(ctx, ctx->szOperatorPassword) != 0) return LogReturn(ctx, "CloseFP", ctx->nLastResult);
  int32_t code = MapLinkResult(ctx, ExecTransaction(ctx, "zz", kReplyDelayMs, true, false));
  LogMessage(ctx, "CloseFP", "Start Default Delay");
  ctx->pClock->SleepMs(kClerkRestMs);
  LogMessage(ctx, "CloseFP", "End Default Delay");
  if (code == 0) code = WaitReadyStatus(ctx);
  return Finish(ctx, "CloseFP", code);
}

// ---- Receipt header switches ----

int32_t SetTaxVariant(FPContext* ctx, int variant) {
  LogEnter(ctx, "SetTaxVariant");
  if (variant < 0 || variant > kMaxTaxVariant) {
    LogMessage(ctx, "SetTaxVariant", "Error type value");
    return Finish(ctx, "SetTaxVariant", kCodeWrongValue);
  }
  char cmd[4] = {'m', static_cast<char>('A' + variant), '\0'};
  return Exec(ctx, "SetTaxVariant", cmd, devcmd::kNoPause3);
}

int32_t SetSalePurchaseMode(FPContext* ctx, int mode) {
  LogEnter(ctx, "SetSalePurchaseMode");
  if (mode != 0 && mode != 1) return Finish(ctx, "SetSalePurchaseMode", kCodeWrongValue);
  const int major = ctx->nVersionMajor;
  if (major != 6 && major != 7 && major != 9 && !IsSupportedModel(ctx)) {
    return Finish(ctx, "SetSalePurchaseMode", kCodeNotSupported);
  }
  char cmd[4] = {'m', static_cast<char>('0' + mode), '\0'};
  return Exec(ctx, "SetSalePurchaseMode", cmd, kReplyDelayMs);
}

int32_t OpenCorrection(FPContext* ctx) {
  LogEnter(ctx, "OpenCorrection");
  if (!IsSupportedModel(ctx) || ctx->nContextKind != 2)
    return LogReturn(ctx, "OpenCorrection", ctx->nLastResult);
  return Exec(ctx, "OpenCorrection", "*@", kReplyDelayMs);
}

namespace {

// "Suc", the field's letter and its text, recoded.
int32_t SendCorrectionBaseText(FPContext* ctx, const char* name, char field, const char* text) {
  LogEnter(ctx, name);
  std::string cmd = "Suc";
  cmd += field;
  devcmd::AppendRecoded(ctx, &cmd, text);
  return Exec(ctx, name, cmd, kReplyDelayMs);
}

}  // namespace

int32_t SetCorrectionBaseName(FPContext* ctx, const char* name) {
  return SendCorrectionBaseText(ctx, "SetCorrectionBaseName", 'd', name);
}

int32_t SetCorrectionBaseNumber(FPContext* ctx, const char* number) {
  return SendCorrectionBaseText(ctx, "SetCorrectionBaseNumber", '#', number);
}

int32_t SetCorrectionBaseDate(FPContext* ctx, int type, const char* date) {
  LogEnter(ctx, "SetCorrectionBaseDate");
  std::string cmd = "SucD";
  cmd += type == 0 ? '0' : '1';
  cmd += date ? date : "";
  return Exec(ctx, "SetCorrectionBaseDate", cmd, kReplyDelayMs);
}

int32_t SetExtraDocData(FPContext* ctx, unsigned order, unsigned a, unsigned b, const char* text) {
  LogEnter(ctx, "SetExtraDocData");
  if (ctx->nVersionMajor < 3 || (ctx->nVersionMajor == 3 && ctx->nVersionMinor == 1)) {
    return Finish(ctx, "SetExtraDocData", kCodeNotSupported);
  }
  return SendExtraDocData(ctx, "SetExtraDocData", '*', order, a, b, text, BlanksZeroNumbers(ctx));
}

int32_t SetExtraDocDataSaleUndo(FPContext* ctx, unsigned order, unsigned a, unsigned b, const char* text) {
  LogEnter(ctx, "SetExtraDocDataSaleUndo");
  if (ctx->nVersionMajor < 5) return Finish(ctx, "SetExtraDocDataSaleUndo", kCodeNotSupported);
  return SendExtraDocData(ctx, "SetExtraDocDataSaleUndo", 'j', order, a, b, text, true);
}

int32_t SetExtraDocData2(FPContext* ctx, const char* order, const char* a, const char* b, const char* text) {
  LogEnter(ctx, "SetExtraDocData2");
  return SendExtraDocData2(ctx, "SetExtraDocData2", '*', order, a, b, text);
}

int32_t SetExtraDocDataSaleUndo2(FPContext* ctx, const char* order, const char* a, const char* b,
                                 const char* text) {
  LogEnter(ctx, "SetExtraDocDataSaleUndo2");
  return SendExtraDocData2(ctx, "SetExtraDocDataSaleUndo2", 'j', order, a, b, text);
}

int32_t StopExtraTextLines(FPContext* ctx) {
  LogEnter(ctx, "StopExtraTextLines");
  return Std(ctx, "StopExtraTextLines", "Pp0", kReplyDelayMs);
}

// ---- Items ----

int32_t SaleItemEx2(FPContext* ctx, int taxGroup, int32_t quantity, int64_t price, int department,
                    const char* name, const CheckPosition* position) {
  LogEnter(ctx, "SaleItemEx2");
  std::string cmd(1, static_cast<char>((price < 0 ? 0xA0 : 0x20) + taxGroup));
  if (!BuildItem(ctx, &cmd, Magnitude(price), Magnitude(quantity), false, department, name, position)) {
    return LogReturn(ctx, "SaleItemEx2", ctx->nLastResult);
  }
  return Std(ctx, "SaleItemEx2", cmd, kReplyDelayMs);
}

int32_t ReturnItemEx(FPContext* ctx, int taxGroup, int32_t quantity, int64_t price, int department,
                     const char* name, const CheckPosition* position) {
  LogEnter(ctx, "ReturnItemEx");
  std::string cmd(1, static_cast<char>(price < 0 ? 0xE4 : 'd'));
  if (IsSupportedModel(ctx) && taxGroup > 0) cmd += static_cast<char>(0x60 + taxGroup);
  if (!BuildItem(ctx, &cmd, Magnitude(price), Magnitude(quantity), quantity == 0, department, name,
                 position)) {
    return LogReturn(ctx, "ReturnItemEx", ctx->nLastResult);
  }
  if (cmd.size() > static_cast<size_t>(kMaxCommandLength)) {
    return Finish(ctx, "ReturnItemEx", devcmd::kCodeLinkRefused);
  }
  // A return outside an open receipt needs the operator password again.
  GetStatus(ctx, true);
  if (!(ctx->status[0] & st::kReceiptOpen)) SendCPswd(ctx, ctx->szOperatorPassword);
  return Std(ctx, "ReturnItemEx", cmd, kReplyDelayMs);
}

int32_t AbsoluteCorrectionText(FPContext* ctx, int32_t amount, const char* text) {
  LogEnter(ctx, "AbsoluteCorrectionText");
  if (ctx->nVersionMajor < 3) return Finish(ctx, "AbsoluteCorrectionText", kCodeNotSupported);
  std::string given = devcmd::Cut(text, kMaxCorrectionText);
  if (given.empty()) given = "\x7F";
  const int64_t a = Magnitude(amount);
  std::string cmd;
  if (IsSupportedModel(ctx)) {
    char kopecks[4];
    snprintf(kopecks, sizeof kopecks, "%2.2d", static_cast<int>(a % 100));
    cmd = " 000000000000000094" + CorrectionWord(ctx, amount > 0) + CorrectionTextField(given) +
          CorrectionRoubles(a) + kopecks;
  } else {
    char head[16];
    snprintf(head, sizeof head, "q%c%10.10u", amount < 0 ? '-' : ' ', static_cast<unsigned>(a));
    cmd = head;
    devcmd::AppendRecoded(ctx, &cmd, given.c_str());
  }
  return Exec(ctx, "AbsoluteCorrectionText", cmd, devcmd::kNoPause2);
}

// ---- Attributes ----

int32_t SetTextAttribute(FPContext* ctx, int attribute, const char* text) {
  LogEnter(ctx, "SetTextAttribute");
  if (!text || !*text) {
    ctx->nLastResult = kCodeWrongValue;
    return LogReturn(ctx, "SetTextAttribute", 0);
  }
  if (!IsSupportedModel(ctx)) return Finish(ctx, "SetTextAttribute", kCodeNotSupported);
  if (attribute > 21) {
    ctx->nLastResult = kCodeWrongValue;
    return LogReturn(ctx, "SetTextAttribute", -5);
  }
  if (attribute < 0 || TextAttributeLimit(attribute) == 0)
    return Finish(ctx, "SetTextAttribute", kCodeWrongValue);
  char head[8];
  snprintf(head, sizeof head, "P@%2.2u", static_cast<unsigned>(attribute));
  std::string cmd = head;
  devcmd::AppendRecoded(ctx, &cmd,
                        devcmd::Cut(text, static_cast<size_t>(TextAttributeLimit(attribute))).c_str());
  return Exec(ctx, "SetTextAttribute", cmd, devcmd::kNoPause2);
}

int32_t SetTagData(FPContext* ctx, int tag, const char* data, bool isText, bool modeFlag, int length) {
  LogEnter(ctx, "SetTagData");
  if (!IsSupportedModel(ctx)) return Finish(ctx, "SetTagData", kCodeNotSupported);
  if (!data) return Finish(ctx, "SetTagData", kCodeWrongValue);
  std::string cmd = "Su";
  cmd += isText ? ')' : '(';
  cmd += modeFlag ? '1' : '0';
  const uint8_t number[2] = {static_cast<uint8_t>(tag & 0xFF), static_cast<uint8_t>((tag >> 8) & 0xFF)};
  devcmd::AppendNibbles(&cmd, number, 2);
  AppendTagValue(ctx, &cmd, data, isText, length);
  return Exec(ctx, "SetTagData", cmd, devcmd::kNoPause2);
}

int32_t SetRegAttribute(FPContext* ctx, int tag, bool isText, int printFlag, const char* data, int length) {
  LogEnter(ctx, "SetRegAttribute");
  if (!IsSupportedModel(ctx)) return Finish(ctx, "SetRegAttribute", kCodeNotSupported);
  if (tag <= kLastPlainTag) return Exec(ctx, "SetRegAttribute", "Sum", devcmd::kNoPause2);
  if (isText && data && length < 0) length = static_cast<int>(strnlen(data, kMaxTagText + 1));
  if (!data || (isText && !*data) || tag > kLastTag || length <= 0 || length > kMaxTagText) {
    ctx->nLastResult = kCodeWrongValue;
    return LogReturn(ctx, "SetRegAttribute", 0);
  }
  std::string cmd = "Sum0";
  AppendTag(&cmd, tag, printFlag);
  AppendTagValue(ctx, &cmd, data, isText, length);
  return Exec(ctx, "SetRegAttribute", cmd, devcmd::kNoPause2);
}

// ---- Queries ----

int32_t GetCheckAndSession(FPContext* ctx, uint32_t* documentNumber, int32_t* sessionNumber) {
  LogEnter(ctx, "GetCheckAndSession");
  const int drive = GetStatusFiscalDrive(ctx);
  if (drive < 0) return Finish(ctx, "GetCheckAndSession", drive);
  if (documentNumber) *documentNumber = ctx->FdStatus.nFdLastDocNumber;
  GetBasicSfInfo(ctx);
  int32_t session = ShiftRecordNumber(ctx->infoSf);
  // The printer counts a session only once it has closed, so an open one is the one after them;
  // the shift operations and the status count it so too, on every firmware.
  if (ctx->FdStatus.bFdShiftOpen) ++session;
  if (sessionNumber) *sessionNumber = session;
  return LogReturn(ctx, "GetCheckAndSession", ctx->nLastResult);
}
