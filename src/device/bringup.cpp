#include "device/bringup.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "device/clerks.h"
#include "device/device_log.h"
#include "device/info_queries.h"
#include "device/info_records.h"
#include "device/link.h"
#include "device/payment_commands.h"
#include "device/serial_port.h"
#include "device/status.h"
#include "device/text_field.h"
#include "platform/codepage.h"

namespace {

constexpr int kProbeTimeoutMs = 1000;
constexpr uint32_t kSettleBeforeProbeMs = 100;
constexpr uint32_t kDocumentSettleMs = 3000;
constexpr uint32_t kAfterResetMs = 5000;
constexpr uint32_t kRawResetMs = 3000;
constexpr int kSelfTestMs = 5000;
constexpr uint32_t kBeforeCloseMs = 50;
constexpr int kStatusPolls = 2;
constexpr int kNoPause = -1;
constexpr int kVersionTextScan = 116;  // 0x7F marks within the banner print as blanks
constexpr int kClerkForModel10 = 1;

constexpr uint8_t kDocumentOpen = 0x03;  // status 0: a fiscal or a non-fiscal receipt
constexpr uint8_t kErrorBits = 0x3C;     // status 1: error class and detail
constexpr uint8_t kSmallFontBit = 0x10;  // device flag 21
constexpr int kSmallFontFlag = 21;
constexpr int kSmallFontWidth = 56;

constexpr int32_t kCodeNoDevice = 2;
constexpr int32_t kCodeRestartByHand = 23;
constexpr int32_t kCodeNotSupported = 35;

constexpr int kUnchanged = -1;

// A row of the model table. Texts are compared byte for byte with the banner after "SV",
// blanks included; `lineWidthSmallFont` is the width with the small font switched on.
struct DeviceModel {
  const char* text;  // UTF-8 here; compared in the driver's code page
  int32_t code;
  int32_t major;
  int32_t minor;
  int32_t lineWidth;
  int32_t lineWidthSmallFont;
  int32_t extraLength;  // kUnchanged keeps the current value
  int32_t nameLength;
  int recodeTable;      // replaces table 1 only; kUnchanged keeps it
  int32_t contextKind;  // kUnchanged keeps it
};

const DeviceModel kModels[] = {
    {"ФР  М И Р Е Л - 3 8 0 Т К вер. 2.20", 0x400, 4, 0, 35, 35, 29, 232, kUnchanged, kUnchanged},
    {"ФР  М И Р Е Л - 3 8 0 Т К вер. 3.20", 0x400, 4, 0, 35, 35, 29, 232, kUnchanged, kUnchanged},
    {"ФР  М И Р Е Л - 3 8 0 Т Ф v.2.00 BY", 0x400, 4, 3, 35, 35, 29, 48, kUnchanged, kUnchanged},
    {"ФР  М И Р Е Л - 4 5 0 Т К вер. 2.00", 0x400, 4, 2, 48, 48, 42, 232, kUnchanged, kUnchanged},
    {"ФР  М И Р Е Л - 4 5 0 Т К вер. 1.00", 0x400, 4, 1, 35, 35, 29, 232, kUnchanged, kUnchanged},
    {"ФР  М И Р Е Л - 5 2 0 Т К вер. 1.0", 0x601, 6, 1, 47, 47, 41, 158, 2, kUnchanged},
    {" М И Р Е Л - Ф Р 1 6 0 К вер. 1.00", 0x600, 6, 0, 40, 40, 34, 158, 2, kUnchanged},
    {" М И Р Е Л - 1 9 0 К Вер. 1.00", 0x700, 7, 0, 48, 48, 42, 158, 2, kUnchanged},
    {"ФР  М И Р Е Л - 3 8 0 Т Ф v.2.34 KZ", 0x301, 3, 1, 35, 35, kUnchanged, 48, kUnchanged, kUnchanged},
    {"ФР  М И Р Е Л - 3 8 0 Т Ф v.3.00 BY", 0x800, 8, 0, 35, 35, 29, 48, kUnchanged, kUnchanged},
    {"   М И Р Е Л - 2 4 0 К  вер. 1.00  ", 0x900, 9, 0, 42, 42, 36, 158, 3, kUnchanged},
    {"  М И Р Е Л - 2 4 0 Т Ф  вер. 1.00 ", 0x901, 9, 1, 42, 42, 36, 158, 3, kUnchanged},
    {"   М И Р Е Л - 2 6 0 К  вер. 1.00  ", 0xA01, 10, 1, 35, 35, 29, 158, 2, kUnchanged},
    {"  М И Р Е Л - 2 4 0 Т Ф  вер. 2.00 ", 0x902, 9, 2, 42, 42, 36, 158, 3, kUnchanged},
    {"  М И Р Е Л - 2 4 0 Т Ф  вер. 3.00 ", 0x903, 9, 3, 42, 42, 36, 158, 3, kUnchanged},
    {"  М И Р Е Л - 2 4 0 - Ф  вер. 1.00 ", 0xB03, 11, 1, 42, 42, 36, 64, 3, 1},
    {"  М И Р Е Л - 2 4 0 - Ф  вер. 1.05 ", 0xB01, 11, 1, 42, kSmallFontWidth, 36, 64, 3, 2},
};
// Any other banner: the driver goes on as with the cash register of the 9.0 row.
const DeviceModel kUnknownModel = {"", 0x900, 9, 0, 42, 42, 36, 158, 3, kUnchanged};

// The model texts in the driver's code page, converted once.
const std::vector<std::string>& ModelTexts() {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> t;
    for (const DeviceModel& m : kModels) t.push_back(plat::Utf8ToCp1251(m.text));
    return t;
  }();
  return texts;
}

int32_t Finish(FPContext* ctx, const char* name, int32_t code) {
  ctx->nLastResult = code;
  return LogReturn(ctx, name, code);
}

const DeviceModel& FindModel(const char* modelText) {
  const std::vector<std::string>& texts = ModelTexts();
  for (size_t i = 0; i < texts.size(); ++i) {
    if (texts[i] == modelText) return kModels[i];
  }
  return kUnknownModel;
}

bool SmallFontOn(FPContext* ctx) {
  if (!ctx->bDeviceFlagsValid) GetBasicS3Info(ctx);
  return ctx->bDeviceFlagsValid && (ctx->abDeviceFlags[kSmallFontFlag] & kSmallFontBit) != 0;
}

void ApplyModel(FPContext* ctx, const DeviceModel& m) {
  ctx->nVersionCode = m.code;
  ctx->nVersionMajor = m.major;
  ctx->nVersionMinor = m.minor;
  ctx->nMaxItemNameLength = m.nameLength;
  if (m.extraLength != kUnchanged) ctx->nMaxExtraLineLength = m.extraLength;
  if (m.recodeTable != kUnchanged && ctx->pRecodeTable == DeviceRecodeTable(1)) {
    ctx->pRecodeTable = DeviceRecodeTable(m.recodeTable);
  }
  if (m.contextKind != kUnchanged) ctx->nContextKind = m.contextKind;
  // The flags are read for the model just set, whose records have their own lengths.
  const bool smallFont = m.lineWidthSmallFont != m.lineWidth && SmallFontOn(ctx);
  ctx->nLineWidth = smallFont ? m.lineWidthSmallFont : m.lineWidth;
}

// Up to two polls; true once a status frame came, else the mapped link result is in nLastResult.
bool PollStatus(FPContext* ctx) {
  int r = kLinkReceiveTimeout;
  for (int i = 0; i < kStatusPolls && r != kAnswerStatus; ++i) r = GetStatus(ctx, true);
  if (r == kAnswerStatus) return true;
  ctx->nLastResult = MapLinkResult(ctx, r);
  return false;
}

// Printers before the extended status: the "S9" record tells the second step of the first model.
void RecogniseFirstModel(FPContext* ctx) {
  GetStatus(ctx, true);
  if (ExecTransaction(ctx, "S9", kNoPause, true, false) == kRecordS9) ctx->nVersionCode = 0x102;
  GetStatus(ctx, true);
}

void RecogniseByBanner(FPContext* ctx) {
  ReadInfo1(ctx);
  const int r = ExecTransaction(ctx, "SV", kNoPause, true, false);
  for (int i = 0; i < kVersionTextScan && ctx->infoSV[i] != '\0'; ++i) {
    if (ctx->infoSV[i] == '\x7F') ctx->infoSV[i] = ' ';
  }
  if (r == kRecordVersion) ApplyModel(ctx, FindModel(ctx->infoSV + 2));
  ClearError(ctx);
  GetStatus(ctx, true);
  GetStatus2(ctx);
}

// The fiscal drive's format version. The drive's answer code follows its message: a drive that
// answers with an error gets format 1 (1.0).
void ReadFdFormat(FPContext* ctx) {
  memset(ctx->infoFdMessage, 0, sizeof ctx->infoFdMessage);
  if (ExecTransaction(ctx, "S\":", kNoPause, true, false) != kLinkOk) return;
  // A printer without a fiscal drive acknowledges the query without a message: nothing to read.
  if (memcmp(ctx->infoFdMessage, "04", 2) != 0) return;
  ctx->nFnFfdVersion = (ctx->nFdMessageResult & 0x7F) ? 1 : FromNibbleChars(ctx->infoFdMessage + 4);
}

int32_t Recognise(FPContext* ctx) {
  ctx->nVersionMajor = 0;
  ctx->nVersionMinor = 0;
  if (!PollStatus(ctx)) return 0;
  ctx->nVersionCode = 0x101;
  ctx->nVersionMajor = 1;
  const int32_t cleared = ClearError(ctx);
  static const std::string kShiftTooLong =
      plat::Utf8ToCp1251("SVФР Мирел. Превышена продолжительность смены.");
  static const std::string kStateError = plat::Utf8ToCp1251("SVФР Мирел. Ошибка состояния");
  static const std::string kFirstModel = plat::Utf8ToCp1251("SVФР Мирел-380 вер. 1");
  if (cleared == kCodeZ1Required) {
    LogMessage(ctx, "FixDeviceVersion", kShiftTooLong.c_str());
  } else if (cleared != 0) {
    LogMessage(ctx, "FixDeviceVersion", kStateError.c_str());
  }
  CopyText(ctx->infoSV, kFirstModel.c_str());

  if (GetStatus2(ctx) != kAnswerStatus2) {
    RecogniseFirstModel(ctx);
  } else {
    RecogniseByBanner(ctx);
  }
  ReadFdFormat(ctx);
  return ctx->nVersionCode;
}

bool DocumentOpen(const FPContext* ctx) {
  return (ctx->status[0] & kDocumentOpen) != 0;
}

// The commands that end an open document, tried in this order until the printer accepts one. The
// last entry, null, stands for the card details followed by the cancel of the card payment.
const char* const kResetCommands[] = {
    "7", "81=========== Text mode reset ============1", "t", "18", "f80000000000", nullptr,
};
constexpr const char kCancelPayment[] = "f70000000000";

int SendResetCommand(FPContext* ctx, const char* cmd) {
  if (!cmd) {
    static const std::string kCard = plat::Utf8ToCp1251("Безналичная");
    static const std::string kPayment = plat::Utf8ToCp1251("оплата");
    CardAuthData(ctx, kCard.c_str(), kPayment.c_str());
    cmd = kCancelPayment;
  }
  return ExecTransaction(ctx, cmd, kNoPause, true, false);
}

}  // namespace

int32_t FixDeviceVersion(FPContext* ctx) {
  LogEnter(ctx, "FixDeviceVersion");
  ctx->nVersionCode = 0;
  int readMs = 0, writeMs = 0;
  GetCommTimeoutsFP(ctx, &readMs, &writeMs);
  if (SetCommTimeoutsFP(ctx, kProbeTimeoutMs, kProbeTimeoutMs) != kLinkOk) {
    ctx->nLastResult = MapLinkResult(ctx, kLinkNoPort);
    return LogReturn(ctx, "FixDeviceVersion", 0);
  }
  ctx->nLastResult = 0;
  const int32_t code = Recognise(ctx);
  const int restored = SetCommTimeoutsFP(ctx, readMs, writeMs);
  if (restored != kLinkOk) {
    ctx->nLastResult = MapLinkResult(ctx, restored);
  } else if (code != 0) {
    ClearError(ctx);
  }
  return LogReturn(ctx, "FixDeviceVersion", code);
}

int32_t ResetOrder(FPContext* ctx, int /*flag*/) {
  LogEnter(ctx, "ResetOrder");
  int r = GetStatus(ctx, true);
  if (r != kAnswerStatus) return Finish(ctx, "ResetOrder", MapLinkResult(ctx, r));
  if (!DocumentOpen(ctx)) return Finish(ctx, "ResetOrder", 0);

  // The printer may still be finishing the document's last command.
  ctx->pClock->SleepMs(kDocumentSettleMs);
  const int32_t cleared = ClearError(ctx);
  if (cleared != 0) return Finish(ctx, "ResetOrder", cleared);
  r = GetStatus(ctx, true);
  // Not knowing whether the document is still open is a failure, not a success.
  if (r != kAnswerStatus) return Finish(ctx, "ResetOrder", MapLinkResult(ctx, r));
  if (!DocumentOpen(ctx)) return Finish(ctx, "ResetOrder", 0);

  if (ctx->nVersionMajor == 10) SetClerk(ctx, kClerkForModel10, ctx->szClerkName);
  for (const char* cmd : kResetCommands) {
    r = SendResetCommand(ctx, cmd);
    if (r == kLinkOk) {
      ctx->pClock->SleepMs(kAfterResetMs);
      return Finish(ctx, "ResetOrder", ClearError(ctx));
    }
  }
  // Every command was refused: a refusal without an error reason must not read as success.
  int32_t code = MapLinkResult(ctx, r);
  if (code == kCodeWrongValue || code == 0) code = kCodeRestartByHand;
  return Finish(ctx, "ResetOrder", code);
}

int32_t ResetFPMirel(FPContext* ctx) {
  LogEnter(ctx, "ResetFPMirel");
  if (ctx->nVersionMajor != 7 && !(ctx->nVersionMajor == 11 && ctx->nVersionMinor == 1)) {
    return Finish(ctx, "ResetFPMirel", kCodeNotSupported);
  }
  int r = GetStatus(ctx, true);
  if (r != kAnswerStatus) return Finish(ctx, "ResetFPMirel", MapLinkResult(ctx, r));
  // Sent without framing: the printer recognises the sequence on its line as such.
  static const uint8_t kRawReset[] = {0x06, 0x03, 0x00, 0x03, 0x00, 0x03, 0x00, 0x03, 0x00, 0x03, 0x06};
  r = SendBuf(ctx, kRawReset, sizeof kRawReset);
  LogBytes(ctx, "ResetFPMirel", "=> ", kRawReset, sizeof kRawReset);
  if (r != kLinkOk) return Finish(ctx, "ResetFPMirel", MapLinkResult(ctx, r));
  ctx->pClock->SleepMs(kRawResetMs);
  // The busy bit is what is asked for here, so the poll keeps it.
  r = GetStatus(ctx, false);
  if (r != kAnswerStatus) return Finish(ctx, "ResetFPMirel", MapLinkResult(ctx, r));
  return Finish(ctx, "ResetFPMirel", (ctx->status[0] & st::kBusy) ? kCodeBusy : 0);
}

int32_t KKMTest(FPContext* ctx) {
  LogEnter(ctx, "KKMTest");
  // A printer still busy with the last command would refuse the test; how the wait ends is for
  // the test's own answer to tell.
  WaitReadyStatus(ctx);
  return Finish(ctx, "KKMTest", StdTransaction(ctx, "E", kSelfTestMs, true, false));
}

int32_t ResetFP(FPContext* ctx, const char* password) {
  LogEnter(ctx, "ResetFP");
  ctx->nVersionCode = 0;
  uint32_t in = 0, out = 0;
  const int purged = PurgeSerial(ctx, &in, &out);
  if (purged != kLinkOk) return Finish(ctx, "ResetFP", MapLinkResult(ctx, purged));

  FixDeviceVersion(ctx);
  if (ctx->nLastResult != 0) return Finish(ctx, "ResetFP", ctx->nLastResult);

  int r = GetStatus(ctx, true);
  if (r == kAnswerStatus) r = GetStatus2(ctx);
  if (r != kAnswerStatus2) return Finish(ctx, "ResetFP", MapLinkResult(ctx, r));
  if (ctx->status2[0] & st::kZ1Required) {
    LogMessage(ctx, "ResetFP", "Z1 Report Required");
    LogMessagef(ctx, "ResetFP", " CT[2]: %x", ctx->status2[0]);
    return Finish(ctx, "ResetFP", kCodeZ1Required);
  }

  ctx->nDeviceError = 0;
  int32_t reset = ResetOrder(ctx, 0);
  if (ctx->nDeviceError != 0) reset = ResetFPMirel(ctx);
  if (reset != 0) reset = StdTransaction(ctx, kCancelPayment, static_cast<int>(kAfterResetMs), true, false);

  LogMessagef(ctx, "ResetFP", "Device detected: %li", static_cast<long>(ctx->nVersionCode >> 8));
  LogMessagef(ctx, "ResetFP", "ROM step: %li", static_cast<long>(ctx->nVersionCode & 0xFF));
  LogMessage(ctx, "ResetFP", "Cable type: 0");
  LogMessagef(ctx, "ResetFP", "FP Major version: %d", ctx->nVersionMajor);
  LogMessagef(ctx, "ResetFP", "FP Minor version: %d", ctx->nVersionMinor);
  if (ctx->nVersionCode == 0) return Finish(ctx, "ResetFP", reset);

  const int32_t accepted = SetCPswd(ctx, password);
  if (accepted != 0) return Finish(ctx, "ResetFP", accepted);

  if (ctx->anClerkSecrets[0] >= 0) {
    const int pos = ctx->anClerkSecrets[0];
    ctx->anClerkSecrets[0] = -1;
    const int32_t programmed = ProgramPOS_Id(ctx, pos);
    if (programmed != 0) return Finish(ctx, "ResetFP", programmed);
  }

  if ((ctx->status2[0] & st::kShiftOpen) && ctx->bAutoClerkSecrets) {
    int32_t needed = 0;
    if (ClerkSecretsTest(ctx, &needed) != 0 || needed) ProgramClerkSecrets(ctx);
  }
  // A document that could not be closed leaves the printer unusable for receipts: say so, even
  // though the password and the clerks went through.
  return Finish(ctx, "ResetFP", reset != 0 ? reset : ctx->nLastResult);
}

int32_t InitFP2(FPContext* ctx, int port, const char* password, int baudRateCode, void* /*reserved*/) {
  LogEnter(ctx, "InitFP2");
  // A port still open from an earlier bring-up is opened afresh: behind it may be a USB adapter that
  // was pulled out and plugged back in, which only a new handle reaches (the old one fails every
  // call for good).
  if (ctx->nComPort != 0) ReleaseSerial(ctx);
  const int opened = OpenSerial2(ctx, port, baudRateCode);
  if (opened != kLinkOk) {
    ctx->nVersionCode = 0;
    return Finish(ctx, "InitFP2", MapLinkResult(ctx, opened));
  }
  int r = SetCommTimeoutsFP(ctx, kProbeTimeoutMs, kProbeTimeoutMs);
  if (r != kLinkOk) return Finish(ctx, "InitFP2", MapLinkResult(ctx, r));

  ctx->pClock->SleepMs(kSettleBeforeProbeMs);
  // Without the handshake (and on lines that cannot show DSR) the modem lines say nothing about a
  // device: it must also answer a status poll.
  if (FP_Present(ctx) == kLinkNoDevice || ProbeFP(ctx) == kLinkNoDevice) {
    CloseSerial(ctx);
    return Finish(ctx, "InitFP2", kCodeNoDevice);
  }

  r = SetCommTimeoutsFP(ctx, ctx->nReadTimeout, ctx->nWriteTimeout);
  if (r != kLinkOk) return Finish(ctx, "InitFP2", MapLinkResult(ctx, r));
  return Finish(ctx, "InitFP2", ResetFP(ctx, password));
}

int32_t DeinitFP(FPContext* ctx) {
  LogEnter(ctx, "DeinitFP");
  if (ctx->nVersionCode != 0 && ResetOrder(ctx, 0) != kCodeZ1Required && ctx->bClerkLoggedOn) {
    char clerk[3];
    if (GetBasicInfo(ctx) == 0) {
      S1Text(ctx, S1Field::kClerk, clerk, sizeof clerk);
      if (strcmp(clerk, "00") != 0) LogOffClerk(ctx);
    }
  }
  ctx->pClock->SleepMs(kBeforeCloseMs);
  return Finish(ctx, "DeinitFP", MapLinkResult(ctx, CloseSerial(ctx)));
}

int32_t FastStatus(FPContext* ctx, int32_t* status) {
  LogEnter(ctx, "FastStatus");
  if (status) *status = 0;
  int r = GetStatus(ctx, true);
  if (r != kAnswerStatus) return Finish(ctx, "FastStatus", MapLinkResult(ctx, r));
  // A printer blocked until its Z report gets nothing from a restart.
  if (!(ctx->status2[0] & st::kZ1Required)) Restart(ctx);
  r = GetStatus(ctx, true);
  if (r != kAnswerStatus) return Finish(ctx, "FastStatus", MapLinkResult(ctx, r));

  struct BitMove {
    int byte;
    uint8_t from;
    uint32_t to;
  };
  static const BitMove kMoves[] = {
      {0, 0x20, 1u << 1}, {0, 0x10, 1u << 2}, {0, 0x01, 1u << 5},  {0, 0x02, 1u << 6},
      {0, 0x04, 1u << 8}, {1, 0x02, 1u << 9}, {1, 0x01, 1u << 10}, {1, kErrorBits, 0xFFFFF000u},
  };
  uint32_t word = 0;
  for (const BitMove& m : kMoves) {
    if (ctx->status[m.byte] & m.from) word |= m.to;
  }
  if (status) *status = static_cast<int32_t>(word);
  return Finish(ctx, "FastStatus", 0);
}
