// The register as a fiscal device: GetDataKKT reports its numbers and the registration the
// printer keeps; OperationFN registers the register with its fiscal drive, changes the
// registration's parameters or closes the fiscal drive, through RegistrationFN and CloseFN.
//
// Everything before the registration command (closing an open shift, date and time, the cashier,
// the Z report, the header lines and the registration attributes) prepares the printer; only the
// registration or closing command itself touches the fiscal drive, so every refusal before it
// leaves the drive as it was.
#include <tinyxml.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "device/clerks.h"
#include "device/fiscal_drive.h"
#include "device/info_queries.h"
#include "device/link.h"
#include "device/programming.h"
#include "device/receipt_commands.h"
#include "device/recode.h"
#include "device/reg_data.h"
#include "device/result_codes.h"
#include "device/serial_port.h"
#include "device/status.h"
#include "driver/com_text.h"
#include "driver/mirel_driver.h"
#include "receipts/check_package.h"
#include "shift/fiscal_documents.h"

namespace {

constexpr int kOperationRegistration = 1;
constexpr int kOperationChange = 2;
constexpr int kOperationClose = 3;

constexpr int32_t kCodeUnknownOperation = 127;
constexpr int32_t kCodeNoTaxSystem = 129;
constexpr int32_t kCodeModeChange = 130;
constexpr int32_t kCodeAlreadyRegistered = 131;
constexpr int32_t kCodeBadRegistrationData = 128;
constexpr int32_t kCodeShiftOpen = 124;  // "Смена открыта"
constexpr int32_t kCodeNotInContext = 105;  // "Функция неактивна в текущем контексте"
constexpr int32_t kCodeUnexpectedAnswer = 17;

constexpr int32_t kDeviceErrorBadCommand = 1;
constexpr int32_t kDeviceErrorShiftOpen = 63;
constexpr int32_t kDeviceErrorNonFiscal = 79;
constexpr int32_t kDeviceErrorActivation = 281;
constexpr int32_t kDeviceErrorNoAutomatNumber = 290;

constexpr int kClerk = 1;
constexpr int kZReportUnderPassword = 4;
constexpr int kPlaceDescriptor = 47;
constexpr int kPauseCommand = 110;
// The printer answers the registration command only once the fiscal drive has signed its report.
constexpr int kLongWriteTimeoutMs = 40000;
constexpr size_t kMaxCloseName = 35;
constexpr char kAccessCode[] = "407913";
constexpr char kReasonReplaceDrive[] = "1";

// Work-mode bits of the registration's mode byte.
constexpr uint8_t kModeEncryption = 0x01;
constexpr uint8_t kModeOffline = 0x02;
constexpr uint8_t kModeAutomatic = 0x04;
constexpr uint8_t kModeService = 0x08;
constexpr uint8_t kModeBso = 0x10;
constexpr uint8_t kModeInternet = 0x20;
// Bits a registered fiscal drive keeps whatever a change asks for.
constexpr uint8_t kModesFixed = 0xFC;

constexpr int kTagOrganizationName = 1048;
constexpr int kTagAddressSettle = 1009;
constexpr int kTagOfdName = 1046;
constexpr int kTagFnsWebSite = 1060;
constexpr int kTagSenderEmail = 1117;
constexpr int kTagAgentSigns = 1057;
constexpr int kTagExcisableGoods = 1207;
constexpr int kTagGambling = 1193;
constexpr int kTagLottery = 1126;
constexpr int kTagPrinterAutomatic = 1221;

bool IsFiscal(const FPContext* ctx) {
  return (ctx->status[0] & st::kFiscalPair) == st::kFiscalPair;
}

void TrimRight(char* text) {
  size_t n = std::strlen(text);
  while (n > 0 && text[n - 1] == ' ') text[--n] = '\0';
}

uint8_t ModeByte(const FPContext* ctx, const FnRegistrationData& d, bool fiscal) {
  uint8_t m = 0;
  // A registered drive keeps its encryption: a change cannot switch it off.
  if (d.bDataEncryption || (fiscal && (ctx->nFnWorkModes & kModeEncryption))) m |= kModeEncryption;
  if (d.bOfflineMode) m |= kModeOffline;
  if (d.bAutomaticMode) m |= kModeAutomatic;
  if (d.bServiceSign) m |= kModeService;
  if (d.bBsoSing) m |= kModeBso;
  if (d.bCalcOnline) m |= kModeInternet;
  return m;
}

void SendTextAttribute(FPContext* ctx, int tag, const char* text) {
  SetRegAttribute(ctx, tag, true, 0, text, -1);
}

void SendByteAttribute(FPContext* ctx, int tag, uint8_t value) {
  SetRegAttribute(ctx, tag, false, 1, reinterpret_cast<const char*>(&value), 1);
}

// The registration's texts and signs, which the printer takes into the registration report. A
// refused attribute leaves the printer to judge the registration.
void SendRegistrationAttributes(FPContext* ctx, const FnRegistrationData& d) {
  SetRegAttribute(ctx, 0, false, 0, nullptr, 0);
  SendTextAttribute(ctx, kTagOrganizationName, d.szOrganizationName);
  SendTextAttribute(ctx, kTagAddressSettle, d.szAddressSettle);
  SetDescriptorText(ctx, kPlaceDescriptor, d.szPlaceSettle);
  SendTextAttribute(ctx, kTagOfdName, d.szOfdName);
  SendTextAttribute(ctx, kTagFnsWebSite, d.szFnsWebSite);
  SendTextAttribute(ctx, kTagSenderEmail, d.szSenderEmail);
  SendByteAttribute(ctx, kTagAgentSigns, d.nAgentSigns);
  if (d.bExcisableGoods) SendByteAttribute(ctx, kTagExcisableGoods, 1);
  if (d.bGambling) SendByteAttribute(ctx, kTagGambling, 1);
  if (d.bLottery) SendByteAttribute(ctx, kTagLottery, 1);
  if (d.bPrinterAutomatic) SendByteAttribute(ctx, kTagPrinterAutomatic, 1);
}

}  // namespace

bool CMirelDriver::GetDataKKT(const char*, BSTR* pbstrTableParametersKKT) {
  static const char kName[] = "GetDataKKT";
  LogEnterH(kName);
  FPContext* ctx = m_pDevice.get();
  // The refreshes' results are ignored as long as the printer answered one of them: a table built
  // when it answered none would hand the host the last connection's data as the register's now.
  const int32_t info = GetBasicInfo(ctx);
  const int status = GetStatus(ctx, false);
  const int drive = GetStatusFiscalDrive(ctx);
  if (info != 0 && status != kAnswerStatus && drive < 0) {
    ctx->nLastResult = info;
    return FinishH(kName, false);
  }
  const std::string table = BuildTableParametersKKT(ctx, kName);
  if (pbstrTableParametersKKT && !table.empty()) *pbstrTableParametersKKT = Utf8ToBstr(table.c_str());
  return FinishH(kName, true);
}

bool CMirelDriver::OperationFN(const char*, LONG nOperationType, const char* szParametersFiscal) {
  static const char kName[] = "OperationFN";
  LogEnterH(kName);
  const bool done = RunOperationFN(static_cast<int>(nOperationType), szParametersFiscal);
  // A step refused only through the printer's error code still tells the host it failed.
  if (!done && m_pDevice->nLastResult == 0) m_pDevice->nLastResult = kCodeNotInContext;
  return FinishH(kName, done);
}

bool CMirelDriver::FailOperation(const char* message, int32_t code, int32_t deviceError) {
  FPContext* ctx = m_pDevice.get();
  if (message) LogMessageH("OperationFN", message);
  if (code != 0) ctx->nLastResult = code;
  if (deviceError != 0) ctx->nDeviceError = deviceError;
  return false;
}

bool CMirelDriver::RunOperationFN(int type, const char* szParametersFiscal) {
  FPContext* ctx = m_pDevice.get();
  if (type < kOperationRegistration || type > kOperationClose) {
    return FailOperation(nullptr, kCodeUnknownOperation, kDeviceErrorBadCommand);
  }
  TiXmlDocument document;
  FnRegistrationData data;
  std::string error;
  XmlFault fault;
  if (!ParseHostXml(&document, szParametersFiscal, &fault)) {
    error = std::string("Error in tag \"") + document.Value() +
            "\" of registration data XML: " + fault.description;
    return FailOperation(error.c_str(), kCodeBadRegistrationData, 0);
  }
  const int32_t parsed = ParseRegistrationData(ctx, &document, &data, &error, type != kOperationClose);
  if (parsed != 0) return FailOperation(error.c_str(), parsed, 0);

  const int status = GetStatusT(ctx);
  if (status != kAnswerEnqtStatus) {
    const int32_t code = MapLinkResult(ctx, status);
    return FailOperation(nullptr, code != 0 ? code : kCodeUnexpectedAnswer, 0);
  }
  const bool fiscal = IsFiscal(ctx);
  if (type != kOperationRegistration && !fiscal)
    return FailOperation(nullptr, kCodeNotInContext, kDeviceErrorNonFiscal);
  if (!ReadFdStatus()) return false;
  // Read now rather than kept from an earlier call: only a drive past its first phase is registered.
  const bool registered = ctx->FdStatus.nFdLifePhase >= 2;
  if (!CloseShiftForOperation(data.szCashierName) || !PrepareForOperation(type, data.szCashierName))
    return false;
  if (type == kOperationClose) return CloseFN(data.szCashierName) == 0;
  return Register(type, &data, fiscal, registered);
}

// A shift still open is closed with its Z report first: the drive registers nothing while a shift
// is open.
bool CMirelDriver::CloseShiftForOperation(const char* szCashierName) {
  FPContext* ctx = m_pDevice.get();
  if (!ctx->FdStatus.bFdShiftOpen) return true;
  const LONG clerk = SetClerk(szCashierName);
  ctx->nDeviceError = 0;
  if (clerk != 0) return FailOperation(nullptr, clerk, 0);
  const LONG closed = CloseOpenShift("CloseShiftForOperation");
  ctx->nDeviceError = 0;
  if (closed != 0) return FailOperation(nullptr, closed, 0);
  if (!ReadFdStatus()) return false;
  if (ctx->FdStatus.bFdShiftOpen) return FailOperation(nullptr, kCodeShiftOpen, kDeviceErrorShiftOpen);
  return true;
}

// Date and time (for a registration), the cashier and the Z report under the access password.
bool CMirelDriver::PrepareForOperation(int type, const char* szCashierName) {
  FPContext* ctx = m_pDevice.get();
  if (type == kOperationRegistration) {
    const plat::CalendarTime now = ctx->pClock->LocalTime();
    if (SetDate(now.day, now.month, now.year % 100) != 0) {
      return FailOperation("Set date error. Registration canceled", 0, 0);
    }
    if (SetTime(now.hour, now.minute, now.second) != 0) {
      return FailOperation("Set time error. Registration canceled", 0, 0);
    }
  }
  const int32_t clerk = SafeProgramClerk(ctx, kClerk, szCashierName);
  if (clerk != 0) return FailOperation("Set cashier failure. Registration canceled", clerk, 0);
  ctx->nLastResult = PrintReport(kZReportUnderPassword);
  if (ctx->nLastResult != 0) return FailOperation("Print Z2-report error. Registration canceled", 0, 0);
  return true;
}

// The work modes a registration or a change asks for, checked against what a registered drive
// allows; the mode byte, or -1 after a refusal.
int CMirelDriver::CheckWorkModes(const FnRegistrationData& d, bool fiscal) {
  FPContext* ctx = m_pDevice.get();
  if (d.bAutomaticMode && !d.szAutomatNumber[0]) {
    FailOperation("Set automat number failure. Registration canceled", kCodeBadRegistrationData,
                  kDeviceErrorNoAutomatNumber);
    return -1;
  }
  if (d.cTaxSystem == 0) {
    FailOperation("Set tax variant failure. Registration canceled", kCodeNoTaxSystem, 0);
    return -1;
  }
  // The modes of the registration as the printer keeps it now, not as an earlier call saw them.
  if (fiscal) GetRegData(ctx, false);
  const uint8_t m = ModeByte(ctx, d, fiscal);
  if (fiscal && !(ctx->nFnWorkModes & kModeOffline) && (m & kModeOffline)) {
    FailOperation("Set offline mode failure. Registration canceled", kCodeModeChange, 0);
    return -1;
  }
  if (fiscal && (ctx->nFnWorkModes & kModesFixed) != (m & kModesFixed)) {
    FailOperation("Set mode failure. Registration canceled", kCodeModeChange, 0);
    return -1;
  }
  return m;
}

bool CMirelDriver::Register(int type, FnRegistrationData* d, bool fiscal, bool registered) {
  FPContext* ctx = m_pDevice.get();
  const int m = CheckWorkModes(*d, fiscal);
  if (m < 0) return false;
  TrimRight(d->szOrganizationName);
  TrimRight(d->szAddressSettle);
  // The header lines hold what fits a line; the drive gets the whole texts as attributes.
  const int width = ctx->nLineWidth;
  if (!SetHeaderString(1, std::string(d->szOrganizationName).substr(0, width).c_str())) {
    return FailOperation("Set organization name failure. Registration canceled", 0, 0);
  }
  if (!SetHeaderString(2, std::string(d->szAddressSettle).substr(0, width).c_str())) {
    return FailOperation("Set address settle failure. Registration canceled", 0, 0);
  }
  const bool replaceDrive = std::strcmp(d->szReasonCode, kReasonReplaceDrive) == 0;
  if (type == kOperationRegistration && fiscal && registered && replaceDrive) {
    return FailOperation(nullptr, kCodeAlreadyRegistered, kDeviceErrorActivation);
  }
  SendRegistrationAttributes(ctx, *d);
  if (type == kOperationRegistration && !fiscal) d->szReasonCode[0] = '\0';
  return RegistrationFN(*d, static_cast<char>('0' + m)) == 0;
}

LONG CMirelDriver::RegistrationFN(const FnRegistrationData& d, char mode) {
  static const char kName[] = "RegistrationFN";
  LogEnterH(kName);
  FPContext* ctx = m_pDevice.get();
  char cmd[96];
  std::snprintf(cmd, sizeof cmd, "PM%s%6.6s%-12.12s%-20.20s%-12.12s%-20.20s%c%c%.1s", kAccessCode,
                ctx->szOperatorPassword, d.szVatin, d.szKktNumber, d.szOfdVatin, d.szAutomatNumber,
                d.cTaxSystem, mode, d.szReasonCode);
  ctx->nLastResult = 0;
  int readMs = 0;
  int writeMs = 0;
  const bool longWait = IsSupportedModel() && GetCommTimeoutsFP(ctx, &readMs, &writeMs) == 0;
  if (longWait) SetCommTimeoutsFP(ctx, kLongWriteTimeoutMs, writeMs);
  ctx->nLastResult = StdTransaction(ctx, cmd, kPauseCommand, true, false);
  if (longWait) SetCommTimeoutsFP(ctx, readMs, writeMs);
  return ReturnH(kName, ctx->nLastResult);
}

LONG CMirelDriver::CloseFN(const char* szCashierName) {
  static const char kName[] = "CloseFN";
  LogEnterH(kName);
  FPContext* ctx = m_pDevice.get();
  if (!szCashierName || !szCashierName[0]) {
    ctx->nLastResult = kCodeCashierNotRegistered;
    return ReturnH(kName, ctx->nLastResult);
  }
  std::string name(szCashierName, strnlen(szCashierName, kMaxCloseName));
  RecodeToDevice(ctx, &name[0], static_cast<int>(name.size()));
  ctx->nLastResult = StdTransaction(ctx, ("BFS" + name).c_str(), kPauseCommand, true, false);
  return ReturnH(kName, ctx->nLastResult);
}
