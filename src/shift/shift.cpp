// The shift methods of the host interface (OpenShift, CloseShift, PrintXReport, GetCurrentStatus,
// ReportCurrentStatusOfSettlements) and the older methods under them (StartSession, EndSession,
// PrintReport). The shift belongs to the printer and its fiscal drive: every decision asks the
// drive first, and nothing about the shift is kept here.
#include <cstdio>
#include <string>

#include "device/bringup.h"
#include "device/clerks.h"
#include "device/command_support.h"
#include "device/device_errors.h"
#include "device/fiscal_drive.h"
#include "device/info_queries.h"
#include "device/info_records.h"
#include "device/link.h"
#include "device/receipt_commands.h"
#include "device/reports.h"
#include "device/result_codes.h"
#include "device/status.h"
#include "device/text_field.h"
#include "driver/com_text.h"
#include "driver/mirel_driver.h"
#include "receipts/document_types.h"
#include "shift/shift_documents.h"

namespace {

constexpr int kSessionStateClosed = 1;
constexpr int kSessionStateOpen = 2;
constexpr int kSessionStateExpired = 3;
constexpr int32_t kCodeShiftAlreadyOpen = 126;
constexpr int32_t kDeviceErrorNoCashier = 46;
constexpr int kClerk = 1;
constexpr size_t kVatinSize = 13;
constexpr char kSystemClerk[] = "System";

// Hands a document to the host; an empty text leaves the out parameter as it was.
void SetOutput(BSTR* out, const std::string& utf8) {
  if (out && !utf8.empty()) *out = Utf8ToBstr(utf8.c_str());
}

template <typename T>
void Assign(T* out, T value) {
  if (out) *out = value;
}

}  // namespace

bool CMirelDriver::ReadFdStatus() {
  FPContext* ctx = m_pDevice.get();
  const int r = GetStatusFiscalDrive(ctx);
  if (r < 0) ctx->nLastResult = -r;
  return r >= 0;
}

bool CMirelDriver::FinishH(const char* name, bool result) {
  LogReturnH(name, result ? "1" : "0");
  return result;
}

bool CMirelDriver::TakeInputParameters(const char* name, const char* szInputParameters, char* szVatin) {
  FPContext* ctx = m_pDevice.get();
  std::string error;
  if (!ParseInputParameters(ctx, nullptr, szInputParameters, ctx->szClerkName, sizeof ctx->szClerkName,
                            szVatin, &error)) {
    LogMessageH(name, error.c_str());
    return false;
  }
  CopyText(m_szClerkName, ctx->szClerkName);
  return true;
}

// The numbers the shift operations return: the drive's last document, and the shift's number. The
// printer counts closed shifts, so an open shift is the one after them.
void CMirelDriver::ReadShiftNumbers(const char* name, LONG* pnSessionNumber, LONG* pnDocumentNumber) {
  FPContext* ctx = m_pDevice.get();
  Assign<LONG>(pnDocumentNumber, static_cast<LONG>(ctx->FdStatus.nFdLastDocNumber));
  GetBasicSfInfo(ctx);
  const int open = ctx->FdStatus.bFdShiftOpen ? 1 : 0;
  Assign<LONG>(pnSessionNumber, ShiftRecordNumber(ctx->infoSf) + open);
  if (!ReadFdStatus()) LogMessageH(name, DriverErrorText(ctx->nLastResult));
}

bool CMirelDriver::OpenShift(const char*, const char* szInputParameters, BSTR* pbstrOutput,
                             LONG* pnSessionNumber, LONG* pnDocumentNumber) {
  static const char kName[] = "OdinS_OpenShift";
  LogEnterH(kName);
  FPContext* ctx = m_pDevice.get();
  char vatin[kVatinSize] = {};
  if (!TakeInputParameters(kName, szInputParameters, vatin)) return FinishH(kName, false);
  if (!ReadFdStatus()) return FinishH(kName, false);
  const bool wasOpen = ctx->FdStatus.bFdShiftOpen != 0;
  if (wasOpen) {
    LogMessageH(kName, "Session already been opened");
  } else {
    const int posId = ctx->anClerkSecrets[0] < 1 ? 1 : ctx->anClerkSecrets[0];
    if (StartSession(ctx->szClerkName, posId, vatin) != 0) return FinishH(kName, false);
    ReadFdStatus();
    if (devcmd::IsSupportedModel(ctx)) GetTaxVariant(ctx);
  }
  ReadShiftNumbers(kName, pnSessionNumber, pnDocumentNumber);
  SetOutput(pbstrOutput, BuildOutputParameters(ctx, OutputExtras{}));
  if (!ctx->FdStatus.bFdShiftOpen) return FinishH(kName, false);
  if (wasOpen) ctx->nLastResult = kCodeShiftAlreadyOpen;
  return FinishH(kName, !wasOpen);
}

bool CMirelDriver::CloseShift(const char*, const char* szInputParameters, BSTR* pbstrOutput,
                              LONG* pnSessionNumber, LONG* pnDocumentNumber) {
  static const char kName[] = "OdinS_CloseShift";
  LogEnterH(kName);
  FPContext* ctx = m_pDevice.get();
  char vatin[kVatinSize] = {};
  if (!TakeInputParameters(kName, szInputParameters, vatin)) return FinishH(kName, false);
  if (!ReadFdStatus()) return FinishH(kName, false);
  const bool wasClosed = !ctx->FdStatus.bFdShiftOpen;
  int32_t documents = 0;
  LONG closed = 0;
  if (wasClosed) {
    LogMessageH(kName, "Session already been closed");
  } else {
    documents = GetFiscalDocShiftCount(ctx);
    SetClerk(ctx->szClerkName);
    ProgramClerkINN(ctx, kClerk, vatin);
    closed = CloseOpenShift(kName);
  }
  ReadShiftNumbers(kName, pnSessionNumber, pnDocumentNumber);
  GetBasicShInfo(ctx);
  GetStatusInfoFiscalDrive(ctx);
  OutputExtras extras;
  extras.backlog = true;
  extras.counts = true;
  extras.numberOfChecks = documents;
  // The shift's receipts, and its opening and closing documents.
  extras.numberOfDocuments = wasClosed ? documents : documents + 2;
  SetOutput(pbstrOutput, BuildOutputParameters(ctx, extras));
  // The reports read afterwards must not hide why the shift stayed open.
  if (closed != 0) ctx->nLastResult = closed;
  return FinishH(kName, closed == 0 && !ctx->FdStatus.bFdShiftOpen);
}

bool CMirelDriver::PrintXReport(const char* szDeviceID, const char* szInputParameters) {
  static const char kName[] = "OdinS_PrintXReport";
  LogEnterH(kName);
  FPContext* ctx = m_pDevice.get();
  char vatin[kVatinSize] = {};
  if (!TakeInputParameters(kName, szInputParameters, vatin)) return FinishH(kName, false);
  const int status2 = GetStatus2(ctx);
  if (status2 != kAnswerStatus2) {
    ctx->nLastResult = MapLinkResult(ctx, status2);
    LogMessageH(kName, "Status2 not received");
    return FinishH(kName, false);
  }
  const bool open = (ctx->status2[0] & st::kShiftOpen) != 0;
  if (!open) LogMessageH(kName, "Session is closed");
  GetStatus(ctx, false);
  if (ctx->status[1] & st::kPaperEnd) {
    LogMessageH(kName, "End Of Paper. Command not sent.");
    ctx->nLastResult = kCodePaperEnd;
    return FinishH(kName, false);
  }
  if (ctx->status[1] & st::kPrintFailure) {
    LogMessageH(kName, "Printer failure. Command not sent.");
    ctx->nLastResult = kCodePrintFailure;
    return FinishH(kName, false);
  }
  if (GetDocInfo(doc::kInfoDocumentOpen) > 0) {
    LogMessageH(kName, "There is an open document. It is necessary to cancel it");
    CancelCheck(szDeviceID);
  }
  ctx->nDeviceError = 0;
  if (!m_szClerkName[0] && !ctx->szClerkName[0]) {
    ctx->nLastResult = kCodeWrongValue;
    ctx->nDeviceError = kDeviceErrorNoCashier;
    return FinishH(kName, false);
  }
  if (open) {
    // The cashier's taxpayer number is a command of its own, which leaves its result in the
    // context: the log-on's result decides.
    const LONG clerk = SetClerk(m_szClerkName[0] ? m_szClerkName : ctx->szClerkName);
    if (clerk == 0) ProgramClerkINN(ctx, kClerk, vatin);
    ctx->nLastResult = clerk;
    if (clerk != 0) return FinishH(kName, false);
  }
  ctx->nLastResult = PrintReport(open ? 1 : 2);
  return FinishH(kName, ctx->nLastResult == 0);
}

bool CMirelDriver::GetCurrentStatus(const char*, LONG* pnCheckNumber, LONG* pnSessionNumber,
                                    LONG* pnSessionState, BSTR* pbstrStatusParameters) {
  static const char kName[] = "OdinS_GetCurrentStatus";
  LogEnterH(kName);
  FPContext* ctx = m_pDevice.get();
  if (!ReadFdStatus()) return FinishH(kName, false);
  Assign<LONG>(pnCheckNumber, static_cast<LONG>(ctx->FdStatus.nFdLastDocNumber));
  int state = kSessionStateClosed;
  if (ctx->FdStatus.bFdShiftOpen) {
    bool expired = false;
    IsShiftExpired(ctx, &expired);
    state = expired ? kSessionStateExpired : kSessionStateOpen;
  }
  Assign<LONG>(pnSessionState, state);
  if (GetBasicSfInfo(ctx) != 0) {
    LogMessageH(kName, "The results of the shift are not received");
    return FinishH(kName, false);
  }
  Assign<LONG>(pnSessionNumber, ShiftRecordNumber(ctx->infoSf) + (state == kSessionStateClosed ? 0 : 1));
  const int exchange = GetStatusInfoFiscalDrive(ctx);
  if (exchange < 0) {
    ctx->nLastResult = -exchange;
    return FinishH(kName, false);
  }
  SetOutput(pbstrStatusParameters, BuildStatusParameters(ctx));
  return FinishH(kName, true);
}

bool CMirelDriver::ReportCurrentStatusOfSettlements(const char*, const char*, BSTR* pbstrOutputParameters) {
  static const char kName[] = "OdinS_ReportCurrentStatusOfSettlements";
  LogEnterH(kName);
  FPContext* ctx = m_pDevice.get();
  if (PrintReportCurrentStatusOfSettlements(ctx) != 0) return FinishH(kName, false);
  if (!ReadFdStatus()) return FinishH(kName, false);
  GetBasicShInfo(ctx);
  GetStatusInfoFiscalDrive(ctx);
  OutputExtras extras;
  extras.backlog = true;
  SetOutput(pbstrOutputParameters, BuildOutputParameters(ctx, extras));
  return FinishH(kName, true);
}

LONG CMirelDriver::StartSession(const char* szClerkName, int nPosId, const char* szClerkVatin) {
  static const char kName[] = "StartSession";
  LogEnterH(kName);
  FPContext* ctx = m_pDevice.get();
  LogMessageH(kName, ("nPOSId = " + std::to_string(nPosId)).c_str());
  if (szClerkName) LogMessageH(kName, (std::string("sClerkName = ") + szClerkName).c_str());
  ctx->nDeviceError = 0;
  ResetDocumentTotals();
  if (nPosId < 1) {
    nPosId = m_nPosId;
  } else {
    m_nPosId = nPosId;
  }
  const bool named = szClerkName && szClerkName[0];
  CopyText(m_szClerkName, named ? szClerkName : kSystemClerk);
  int32_t r = SafeOpenFP2(ctx, nPosId, kClerk, m_szClerkName, 0, szClerkVatin ? szClerkVatin : "");
  if (r == 0) {
    ::SetClerk(ctx, kClerk, m_szClerkName);
    r = ReadS3InCall(ctx);
  }
  if (r != 0) {
    LogMessageH(kName, DriverErrorText(r));
    if (ctx->nDeviceError > 0) LogMessageH(kName, DeviceErrorText(ctx->nDeviceError));
  }
  LogReturnH(kName, std::to_string(r).c_str());
  return r;
}

LONG CMirelDriver::EndSession() {
  static const char kName[] = "EndSession";
  LogEnterH(kName);
  FPContext* ctx = m_pDevice.get();
  ResetDocumentTotals();
  GetStatus(ctx, false);
  if (ctx->status[0] & (st::kReceiptOpen | st::kFiscalReceiptOpen)) {
    const int32_t reset = ResetOrder(ctx, 0);
    if (reset != 0) LogMessageH(kName, DriverErrorText(reset));
  }
  const int32_t r = CloseFP(ctx);
  if (r != 0) LogMessageH(kName, DriverErrorText(r));
  LogReturnH(kName, std::to_string(r).c_str());
  return r;
}

// A printer that restarts after its Z report, or whose answer is lost on the line, has closed the
// shift all the same: after a failure the drive is asked again while the line comes back, and a
// shift it shows closed is a success, so the host never closes a shift twice.
LONG CMirelDriver::CloseOpenShift(const char* szName) {
  FPContext* ctx = m_pDevice.get();
  const LONG closed = EndSession();
  if (closed == 0) {
    ReadFdStatus();
    return 0;
  }
  const SavedResult saved = SaveResult();
  uint32_t number = 0;
  int32_t session = 0;
  const bool shut = ReadDriveNumbers(&number, &session) >= 0 && !ctx->FdStatus.bFdShiftOpen;
  RestoreResult(saved);
  if (!shut) return closed;
  LogMessageH(szName, "The fiscal drive closed the shift");
  ctx->nLastResult = 0;
  ctx->nDeviceError = 0;
  return 0;
}

LONG CMirelDriver::PrintReport(int nType) {
  static const char kName[] = "PrintReport";
  LogEnterH(kName);
  FPContext* ctx = m_pDevice.get();
  LogMessageH(kName, ("nType = " + std::to_string(nType)).c_str());
  int32_t r = kCodeWrongValue;
  switch (nType) {
    case 1:
      r = X1Report(ctx);
      break;
    case 2:
      r = X2Report(ctx);
      break;
    case 3:
      r = Z1Report(ctx);
      break;
    case 4:
      r = Z2Report(ctx, m_szPassword);
      break;
    case 5:
    case 6:
    case 7:
      r = AccumulatedZ1Report(ctx, nType - 5);
      break;
  }
  // The reports that close the shift or sum it up end the older interface's document as well.
  if (nType >= 3 && nType <= 7) ResetDocumentTotals();
  int32_t result = r;
  if (r != 0) {
    LogMessageH(kName, DriverErrorText(r));
    if (ctx->nVersionMajor >= 3) GetStatusT(ctx);
  } else {
    result = WaitReadyStatus(ctx);
    if (result != 0) LogMessageH("PrintReport >>", DriverErrorText(result));
  }
  LogReturnH(kName, std::to_string(result).c_str());
  return result;
}
