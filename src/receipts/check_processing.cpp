// ProcessCheck: one fiscal receipt from the host's check package, from the printer's state through
// the package, the receipt's attributes, items, payments, texts and barcodes to the closing, and
// the receipt's numbers and fiscal sign read back from the fiscal drive. The fiscal drive has the
// last word: a receipt is reported made exactly when the drive made a document for it.
#include <tinyxml.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "device/bringup.h"
#include "device/fiscal_drive.h"
#include "device/info_queries.h"
#include "device/print_commands.h"
#include "device/receipt_commands.h"
#include "device/result_codes.h"
#include "device/status.h"
#include "driver/com_text.h"
#include "driver/mirel_driver.h"
#include "receipts/check_package.h"
#include "receipts/check_validation.h"
#include "receipts/document_types.h"
#include "receipts/fiscal_lines.h"

namespace {

// Device flag 3, bit 5: the printer keeps its receipts to the fiscal drive and prints nothing.
constexpr int kPrintingOffFlag = 3;
constexpr int kPrintingOffBit = 5;
// What the printing switch has to put back after the receipt.
constexpr int kPrintingKept = 0;
constexpr int kPrintingClearAfter = 1;
constexpr int kPrintingSetAfter = 2;

constexpr char kProcessCheck[] = "ProcessCheck";
constexpr int kReplyDelayMs = 110;

enum CheckCode : int32_t {
  kCodeReceiptNotInDrive = 9,  // the printer closed the receipt but its fiscal drive made no document
  kCodeShiftClosed = 115,
  kCodeShiftExpired = 116,
  kCodeNoPositions = 139,
  kCodePrintingNotOff = 140,
  kCodePrintingNotOn = 141,
  kCodeCashlessAboveSum = 149,
};

// Status byte 1 of the printer.
constexpr uint8_t kStatusPaperEnd = 0x01;
constexpr uint8_t kStatusPrinterFailure = 0x02;

// The fiscal sign as the fiscal drive gives it: at most 20 characters.
constexpr size_t kFiscalSignSize = 21;

// When the answer to a payment or to the closing is lost, the line is asked this many times, this
// far apart, whether the fiscal drive made the receipt: the printer needs seconds to come back
// after a restart, and the host must not wait without bound.
constexpr int kDriveQueries = 6;
constexpr int kDriveQueryPauseMs = 2000;

// A payment balance below half a kopeck is no difference.
constexpr double kHalfKopeck = 0.005;

// The cash lines of a return receipt paid with more cash than its items cost, in Windows-1251:
// "ВЫДАНО ИЗ КАССЫ " and "ПРИНЯТО В КАССУ ".
constexpr char kCashIssued[] = "\xC2\xDB\xC4\xC0\xCD\xCE \xC8\xC7 \xCA\xC0\xD1\xD1\xDB ";
constexpr char kCashTaken[] = "\xCF\xD0\xC8\xCD\xDF\xD2\xCE \xC2 \xCA\xC0\xD1\xD1\xD3 ";

// The receipt attributes of the package, sent before its items.
struct TextAttribute {
  const char* (*text)(const CheckParameters&);
  int attribute;
  const char* failure;
};
const TextAttribute kCustomerAttributes[] = {
    {[](const CheckParameters& p) -> const char* { return p.szCashierVATIN; }, 19,
     "Error cashier VATIN set: %s"},
    {[](const CheckParameters& p) -> const char* { return p.szCustomerPhone; }, 16,
     "Error Customer Phone set: %s"},
    {[](const CheckParameters& p) -> const char* { return p.szCustomerPhone[0] ? "" : p.szCustomerEmail; },
     16, "Error Customer Email set: %s"},
    {[](const CheckParameters& p) -> const char* { return p.szCustomerInfo; }, 20,
     "Error Customer Info set: %s"},
    {[](const CheckParameters& p) -> const char* { return p.szCustomerINN; }, 21,
     "Error Customer VATIN set: %s"},
};
const TextAttribute kAgentAttributes[] = {
    {[](const CheckParameters& p) -> const char* { return p.agent.szPayingAgentOperation; }, 11,
     "Error Paying Agent Operation set: %s"},
    {[](const CheckParameters& p) -> const char* { return p.agent.szPayingAgentPhone; }, 12,
     "Error Paying Agent Phone set: %s"},
    {[](const CheckParameters& p) -> const char* { return p.agent.szReceivePaymentsOperatorPhone; }, 4,
     "Error Receive Payments Operator Phone set: %s"},
    {[](const CheckParameters& p) -> const char* { return p.agent.szMoneyTransferOperatorPhone; }, 10,
     "Error Money Transfer Operator Phone set: %s"},
    {[](const CheckParameters& p) -> const char* { return p.agent.szMoneyTransferOperatorName; }, 7,
     "Error Money Transfer Operator Name set: %s"},
    {[](const CheckParameters& p) -> const char* { return p.agent.szMoneyTransferOperatorAddress; }, 8,
     "Error Money Transfer Operator Address set: %s"},
    {[](const CheckParameters& p) -> const char* { return p.agent.szMoneyTransferOperatorVATIN; }, 9,
     "Error Money Transfer Operator VATIN set: %s"},
};
struct TagAttribute {
  const char* (*text)(const CheckParameters&);
  int tag;
  bool modeFlag;
  const char* failure;
};
const TagAttribute kTagAttributes[] = {
    {[](const CheckParameters& p) -> const char* { return p.agent.szPurveyorPhone; }, 1171, false,
     "Error Purveyor Phone set: %s"},
    {[](const CheckParameters& p) -> const char* { return p.agent.szPurveyorName; }, 1225, false,
     "Error Purveyor Name set: %s"},
    {[](const CheckParameters& p) -> const char* { return p.agent.szPurveyorVATIN; }, 1226, false,
     "Error Purveyor VATIN set: %s"},
    {[](const CheckParameters& p) -> const char* { return p.szAdditionalAttribute; }, 1192, true,
     "Error Additional Attribute set: %s"},
};
constexpr int kTagAgentSign = 1057;
constexpr int kAttributeBlank = 0;
constexpr int kAttributeInspectionsSite = 18;

bool IsSaleOrPurchase(const CheckParameters& p) {
  return !p.bReturn;
}

}  // namespace

bool CMirelDriver::ProcessCheck(const char* szDeviceID, LONG nElectronically, const char* szCheckPackage,
                                LONG* pnCheckNumber, LONG* pnSessionNumber, BSTR* pbstrFiscalSign,
                                BSTR* pbstrAddressSiteInspections) {
  int printing = kPrintingKept;
  if (!SwitchCheckPrinting(nElectronically != 0, &printing)) return false;
  const bool made = RunCheck(szDeviceID, nElectronically != 0, szCheckPackage, pnCheckNumber, pnSessionNumber,
                             pbstrFiscalSign, pbstrAddressSiteInspections);
  RestoreCheckPrinting(printing);
  return made;
}

// An electronic receipt is kept from the paper by the printer's printing flag, a printed one needs
// it clear; the flag is put back after the receipt, whatever its outcome.
bool CMirelDriver::SwitchCheckPrinting(bool bElectronically, int* pnRestore) {
  bool off = false;
  if (GetDeviceFlagBit(kPrintingOffBit, kPrintingOffFlag, &off) != kResultOk) return true;
  if (bElectronically && !off) {
    if (SetDeviceFlagBit(kPrintingOffBit, kPrintingOffFlag) != kResultOk)
      return FailCheck("Cannot disable check printing", kCodePrintingNotOff);
    *pnRestore = kPrintingClearAfter;
  } else if (!bElectronically && off) {
    if (ClearDeviceFlagBit(kPrintingOffBit, kPrintingOffFlag) != kResultOk)
      return FailCheck("Cannot enable check printing", kCodePrintingNotOn);
    *pnRestore = kPrintingSetAfter;
  }
  return true;
}

// Putting the flag back must not hide the receipt's own outcome from the host.
void CMirelDriver::RestoreCheckPrinting(int nRestore) {
  if (nRestore == kPrintingKept) return;
  const SavedResult saved = SaveResult();
  if (nRestore == kPrintingClearAfter) ClearDeviceFlagBit(kPrintingOffBit, kPrintingOffFlag);
  if (nRestore == kPrintingSetAfter) SetDeviceFlagBit(kPrintingOffBit, kPrintingOffFlag);
  RestoreResult(saved);
}

bool CMirelDriver::FailCheck(const char* szMessage, int32_t nCode) {
  return FailH(kProcessCheck, szMessage, nCode);
}

bool CMirelDriver::FailH(const char* szName, const char* szMessage, int32_t nCode) {
  LogMessageH(szName, szMessage);
  m_pDevice->nLastResult = nCode;
  return false;
}

CMirelDriver::SavedResult CMirelDriver::SaveResult() const {
  return SavedResult{m_pDevice->nLastResult, m_pDevice->nDeviceError};
}

void CMirelDriver::RestoreResult(const SavedResult& saved) {
  m_pDevice->nLastResult = saved.nLastResult;
  m_pDevice->nDeviceError = saved.nDeviceError;
}

// Cancels the open receipt and leaves the failing step's codes for the host, never a False with 0.
void CMirelDriver::CancelReceipt(const char* szDeviceID) {
  if (m_pDevice->nLastResult == kResultOk) m_pDevice->nLastResult = kResultInternal;
  CancelCheckKeepingError(szDeviceID);
}

// The state a receipt needs: the fiscal drive's shift open and young enough, paper, a working
// printer. `*pnBefore` receives the fiscal drive's last document number.
bool CMirelDriver::CheckReadyForReceipt(const char* szName, uint32_t* pnBefore, LONG* pnSessionNumber) {
  FPContext* ctx = m_pDevice.get();
  int32_t session = 0;
  int r = GetCheckAndSession(ctx, pnBefore, &session);
  if (pnSessionNumber) *pnSessionNumber = session;
  // GetCheckAndSession has just read the fiscal drive's status the shift test needs.
  if (r < 0) return FailH(szName, "GetCheckAndSession error", -r);
  if ((r = GetStatus(ctx, true)) < 0) return FailH(szName, "GetStatus error", -r);
  return IsShiftUsable(szName) && IsPrinterReady(szName);
}

// The fiscal drive's shift, as the last drive status gave it: open, and not past its 24 hours.
bool CMirelDriver::IsShiftUsable(const char* szName) {
  FPContext* ctx = m_pDevice.get();
  if (!ctx->FdStatus.bFdShiftOpen) return FailH(szName, "Session is closed", kCodeShiftClosed);
  bool expired = false;
  if (IsShiftExpired(ctx, &expired) != kResultOk)
    return FailH(szName, "Error getting state session", ctx->nLastResult);
  if (expired) return FailH(szName, "Session is overdue", kCodeShiftExpired);
  return true;
}

// Paper and a working printer, as the last status gave them; the faults a step left pending are
// then history, since the printer has been asked afresh.
bool CMirelDriver::IsPrinterReady(const char* szName) {
  FPContext* ctx = m_pDevice.get();
  if (ctx->status[1] & kStatusPaperEnd)
    return FailH(szName, "End Of Paper. Command not sent.", kCodePaperEnd);
  if (ctx->status[1] & kStatusPrinterFailure)
    return FailH(szName, "Printer failure. Command not sent.", kCodePrintFailure);
  m_bPaperEndPending = 0;
  m_bPrinterFailurePending = 0;
  return true;
}

// The package read and checked into `params`; the document keeps the Positions for later.
bool CMirelDriver::ReadCheckPackage(TiXmlDocument* document, const char* szCheckPackage, bool bElectronically,
                                    CheckParameters* params) {
  FPContext* ctx = m_pDevice.get();
  XmlFault fault;
  if (!ParseHostXml(document, szCheckPackage, &fault)) {
    LogMessageHf("ProcessCheck", "Error in row \"%d\" and column \"%d\" of check XML: %s", fault.row,
                 fault.column, fault.description.c_str());
    ctx->nLastResult = kResultBadCheckData;
    return false;
  }
  const TiXmlElement* root = document->FirstChildElement("CheckPackage");
  if (!root) return FailCheck("Check failure. Printing canceled.", kResultBadCheckData);
  if (!root->FirstChildElement("Parameters"))
    return FailCheck("Tag \"Parameters\" is absent", kResultBadCheckData);
  if (!TestCheckXML(ctx, document)) {
    LogMessageH("ProcessCheck", "Error check data");
    return false;
  }
  std::string message;
  const int32_t parsed = ParseCheckParameters(ctx, document, params, &message);
  if (parsed != kResultOk) return FailCheck(message.c_str(), parsed);
  std::string detail;
  const int32_t judged = ValidateCheckPackage(ctx, document, *params, bElectronically, &message, &detail);
  ExplainResult(judged, detail);
  if (judged != kResultOk) return FailCheck(message.c_str(), judged);
  return true;
}

// The cashier of the package (or of the settings) and the receipt's tax system.
bool CMirelDriver::SetCheckCashier(const CheckParameters& params) {
  FPContext* ctx = m_pDevice.get();
  // SetClerk keeps the name it was given as m_szClerkName.
  if (SetClerk(ctx->szClerkName) != kResultOk) {
    LogMessageH("ProcessCheck", "Error");
    return false;
  }
  if (SetTaxVariant(ctx, params.nTaxVariant) != kResultOk) {
    LogMessageHf("ProcessCheck", "Error state tax variant %u", static_cast<unsigned>(params.nTaxVariant));
    return false;
  }
  return true;
}

// The receipt's attributes; a refused attribute is logged and the receipt goes on without it. False
// when the printer no longer holds the receipt after one of them.
bool CMirelDriver::SendReceiptAttributes(const CheckParameters& params) {
  FPContext* ctx = m_pDevice.get();
  SetTextAttribute(ctx, kAttributeBlank, " ");
  if (!ConfirmReceiptHeld(kProcessCheck)) return false;
  auto sendText = [&](const TextAttribute& a) {
    const char* text = a.text(params);
    if (!*text) return true;
    if (SetTextAttribute(ctx, a.attribute, text) != kResultOk) LogMessageHf("ProcessCheck", a.failure, text);
    return ConfirmReceiptHeld(kProcessCheck);
  };
  for (const TextAttribute& a : kCustomerAttributes) {
    if (!sendText(a)) return false;
  }
  if (params.nAgentSignMask != 0) {
    const char mask = static_cast<char>(params.nAgentSignMask);
    if (SetTagData(ctx, kTagAgentSign, &mask, false, false, 1) != kResultOk)
      LogMessageHf("ProcessCheck", "Error Agent Sign set: %2.2X", params.nAgentSignMask);
    if (!ConfirmReceiptHeld(kProcessCheck)) return false;
  }
  for (const TextAttribute& a : kAgentAttributes) {
    if (!sendText(a)) return false;
  }
  for (const TagAttribute& a : kTagAttributes) {
    const char* text = a.text(params);
    if (!*text) continue;
    if (SetTagData(ctx, a.tag, text, true, a.modeFlag, -1) != kResultOk)
      LogMessageHf("ProcessCheck", a.failure, text);
    if (!ConfirmReceiptHeld(kProcessCheck)) return false;
  }
  if (ctx->szAddressSiteInspections[0]) {
    SetTextAttribute(ctx, kAttributeInspectionsSite, ctx->szAddressSiteInspections);
    if (!ConfirmReceiptHeld(kProcessCheck)) return false;
  }
  return true;
}

// Whether the printer still holds the receipt after a step of ProcessCheck's own; the code stays
// for the host when it does not.
bool CMirelDriver::ConfirmReceiptHeld(const char* szName) {
  const LONG code = ConfirmDocumentHeld(szName);
  if (code == kResultOk) return true;
  m_pDevice->nLastResult = code;
  return false;
}

// Every FiscalString of Positions as an item; `*pdPositions` receives the sum of the items in
// roubles, rounded to kopecks one by one.
bool CMirelDriver::PrintCheckItems(const char* szDeviceID, const TiXmlElement* positions,
                                   double* pdPositions) {
  FPContext* ctx = m_pDevice.get();
  if (!positions) {
    FailCheck("Tag \"Positions\" is absent", kCodeNoPositions);
    CancelReceipt(szDeviceID);
    return false;
  }
  ctx->nLastResult = ReadS3InCall(ctx);
  int items = 0;
  for (const TiXmlElement* e = positions->FirstChildElement("FiscalString"); e; e = e->NextSiblingElement()) {
    if (std::strcmp(e->Value(), "FiscalString") != 0) continue;
    ++items;
    CheckPosition position;
    std::string message;
    const int32_t parsed = ParseFiscalString(ctx, e, &position, &message);
    if (parsed == kResultOk) {
      *pdPositions += static_cast<double>(RoundToInt64(position.dSumWithDiscount * 100)) / 100;
      if (PrintFiscalString(szDeviceID, position)) continue;
      message = "Error PrintFiscalString";
    } else {
      ctx->nLastResult = parsed;
    }
    LogMessageH("ProcessCheck", message.c_str());
    CancelReceipt(szDeviceID);
    return false;
  }
  if (items > 0) return true;
  LogMessageH("ProcessCheck", "Check is empty");
  CancelCheck(szDeviceID);
  ctx->nLastResult = kResultBadCheckData;
  return false;
}

// The payments against the items. A return paid with more cash than it costs pays back only the
// cost in cash; `*pdCashBefore` keeps the cash given for the cash lines (0 when nothing changed).
bool CMirelDriver::BalancePayments(CheckParameters* params, double dPositions, double* pdCashBefore) {
  const double payments = params->dCash + params->dElectronicPayment + params->dCashProvision +
                          params->dCredit + params->dAdvancePayment;
  const double surplus = payments - dPositions;
  if (surplus < kHalfKopeck) return true;
  if (params->bReturn) {
    if (surplus < params->dCash) {
      *pdCashBefore = params->dCash;
      params->dCash -= surplus;
    }
    return true;
  }
  if (surplus > params->dCash) return FailCheck("Error Payment", kCodeCashlessAboveSum);
  return true;
}

// The two cash lines of a return paid with too much cash, then the command that pays the cash.
bool CMirelDriver::ReturnCash(const CheckParameters& params, double dCashBefore) {
  FPContext* ctx = m_pDevice.get();
  if (dCashBefore > 0) {
    const double surplus = dCashBefore - params.dCash;
    const bool sale = params.bIncome;
    const std::string lines[] = {CashLine(kCashIssued, sale ? dCashBefore : surplus, ctx->nLineWidth),
                                 CashLine(kCashTaken, sale ? surplus : dCashBefore, ctx->nLineWidth)};
    for (const std::string& line : lines) {
      if (TextBeforeEndCheckUndo(ctx, line.c_str()) != kResultOk) {
        LogMessageHf("ProcessCheck", "Print text error: %s", line.c_str());
        ctx->nLastResult = kResultBadCheckData;
      }
      if (!ConfirmReceiptHeld(kProcessCheck)) return false;
    }
  }
  if (!params.bReturn || params.dCash <= 0) return true;
  ctx->nLastResult = StdTransaction(ctx, "t", kReplyDelayMs, true, false);
  return ctx->nLastResult == kResultOk;
}

// The TextString and Barcode elements of Positions, printed in document order before the closing.
// False when a barcode command failed.
bool CMirelDriver::PrintTextsAndBarcodes(const TiXmlElement* positions) {
  FPContext* ctx = m_pDevice.get();
  for (const TiXmlElement* e = positions->FirstChildElement(); e; e = e->NextSiblingElement()) {
    if (std::strcmp(e->Value(), "TextString") == 0) {
      const std::optional<std::string> text = GetXmlAttr(e, "Text");
      if (!text || text->empty()) {
        LogMessageH("ProcessCheck", "Tag \"TextString\"->\"Text\" error");
      } else {
        if (TextBeforeEndCheck(ctx, text->c_str()) != kResultOk) {
          LogMessageHf("ProcessCheck", "Tag \"TextString\"->\"Text\" error: %s", text->c_str());
          ctx->nLastResult = kResultBadCheckData;
        }
        if (!ConfirmReceiptHeld(kProcessCheck)) return false;
      }
    } else if (std::strcmp(e->Value(), "Barcode") == 0 &&
               (!PrintCheckBarcode(e) || !ConfirmReceiptHeld(kProcessCheck))) {
      return false;
    }
  }
  return true;
}

bool CMirelDriver::PrintCheckBarcode(const TiXmlElement* element) {
  CheckBarcode barcode;
  std::string message;
  if (ParseBarcode(element, &barcode, &message) != kResultOk) {
    FailCheck(message.c_str(), kResultBadCheckData);
    return true;  // the element is passed over
  }
  return SendBarcode(barcode.kind, barcode.data.c_str(), true) == kResultOk;
}

// One barcode of a known kind, in the open receipt or on its own outside one; the QR code is of
// system type 2, error level 2 and size 3 either way. The raw result of the barcode command.
int32_t CMirelDriver::SendBarcode(int nKind, const char* szData, bool bInReceipt) {
  FPContext* ctx = m_pDevice.get();
  switch (nKind) {
    case kBarcodeEan8:
      return PrintEAN8Code(ctx, szData, false, bInReceipt);
    case kBarcodeEan13:
      return PrintEAN13Code(ctx, szData, false, bInReceipt);
    case kBarcodeCode39:
      return PrintCODE39Code(ctx, szData, false, bInReceipt);
    default:
      return bInReceipt ? ::PrintQRCode(ctx, 2, 2, 3, szData, false, true) : PrintQRCode(2, 2, 3, szData);
  }
}

// The fiscal drive's last document and the shift, asked again a few times while the line comes
// back after a lost answer: the printer needs seconds after a restart, and the host must not wait
// without bound. The last result of GetCheckAndSession.
int32_t CMirelDriver::ReadDriveNumbers(uint32_t* pnNumber, int32_t* pnSession) {
  FPContext* ctx = m_pDevice.get();
  int32_t r = 0;
  for (int query = 0; query < kDriveQueries; ++query) {
    if (query > 0) ctx->pClock->SleepMs(kDriveQueryPauseMs);
    r = GetCheckAndSession(ctx, pnNumber, pnSession);
    if (r >= 0) break;
  }
  return r;
}

// After a lost answer to a payment or to the closing the printer may still have closed the receipt:
// the fiscal drive's last document is newer than `nBefore` exactly when it did. False also when the
// drive could not be asked; the failure's codes stay.
bool CMirelDriver::ReceiptMadeByDrive(const char* szName, uint32_t nBefore) {
  const SavedResult saved = SaveResult();
  uint32_t number = nBefore;
  int32_t session = 0;
  const bool made = ReadDriveNumbers(&number, &session) >= 0 && number != nBefore;
  LogMessageH(szName, made ? "The fiscal drive made the receipt" : "The fiscal drive made no receipt");
  RestoreResult(saved);
  return made;
}

// The receipt's numbers after the closing and its fiscal sign. A closing after which the fiscal
// drive still shows the number from before made no fiscal document: that is a failure.
bool CMirelDriver::ReadReceiptNumbers(const char* szName, uint32_t nBefore, LONG* pnCheckNumber,
                                      LONG* pnSessionNumber, BSTR* pbstrFiscalSign) {
  FPContext* ctx = m_pDevice.get();
  uint32_t number = 0;
  int32_t session = 0;
  const int32_t r = ReadDriveNumbers(&number, &session);
  if (r < 0) return FailH(szName, "GetCheckAndSession error", -r);
  if (pnCheckNumber) *pnCheckNumber = static_cast<LONG>(number);
  if (pnSessionNumber) *pnSessionNumber = session;
  if (number == nBefore) {
    LogMessageH(szName, "Operation failed");
    ResetOrder(ctx, 0);
    ctx->nLastResult = kCodeReceiptNotInDrive;
    return false;
  }
  char sign[kFiscalSignSize] = {};
  GetFiscalP(ctx, number, sign);
  if (pbstrFiscalSign) {
    SysFreeString(*pbstrFiscalSign);
    *pbstrFiscalSign = Cp1251ToBstr(sign);
  }
  ctx->nLastResult = kResultOk;
  return true;
}

bool CMirelDriver::RunCheck(const char* szDeviceID, bool bElectronically, const char* szCheckPackage,
                            LONG* pnCheckNumber, LONG* pnSessionNumber, BSTR* pbstrFiscalSign,
                            BSTR* pbstrAddressSiteInspections) {
  FPContext* ctx = m_pDevice.get();
  LogEnterH("ProcessCheck");
  if (pbstrAddressSiteInspections) {
    SysFreeString(*pbstrAddressSiteInspections);
    *pbstrAddressSiteInspections = Cp1251ToBstr(ctx->szAddressSiteInspections);
  }
  const bool made = PrintCheck(szDeviceID, bElectronically, szCheckPackage, pnCheckNumber, pnSessionNumber,
                               pbstrFiscalSign);
  LogReturnH("ProcessCheck", made ? "1" : "0");
  return made;
}

bool CMirelDriver::PrintCheck(const char* szDeviceID, bool bElectronically, const char* szCheckPackage,
                              LONG* pnCheckNumber, LONG* pnSessionNumber, BSTR* pbstrFiscalSign) {
  uint32_t before = 0;
  if (!CheckReadyForReceipt(kProcessCheck, &before, pnSessionNumber)) return false;
  if (GetDocInfo(doc::kInfoDocumentOpen) != 0) {
    LogMessageH("ProcessCheck", "There is an open document. It is necessary to cancel it");
    CancelCheck(szDeviceID);
  }
  TiXmlDocument document;
  CheckParameters params;
  if (!ReadCheckPackage(&document, szCheckPackage, bElectronically, &params)) return false;
  if (!SetCheckCashier(params)) return false;
  if (!OpenCheck(szDeviceID, true, params.bReturn, !params.bIncome, true, pnCheckNumber, pnSessionNumber)) {
    LogMessageH("OdinS_OpenCheck", "Error OpenCheck");
    // The opening may have reached the printer although its answer did not come back.
    if (m_nDocumentType != 0) CancelCheckKeepingError(szDeviceID);
    return false;
  }
  if (!SendReceiptAttributes(params)) {
    CancelReceipt(szDeviceID);
    return false;
  }
  const TiXmlElement* positions = document.FirstChildElement("CheckPackage")->FirstChildElement("Positions");
  double positionsSum = 0;
  if (!PrintCheckItems(szDeviceID, positions, &positionsSum)) return false;
  double cashBefore = 0;
  if (!BalancePayments(&params, positionsSum, &cashBefore)) {
    CancelReceipt(szDeviceID);
    return false;
  }
  if (!PaymentCheck(params)) {
    LogMessageH("ProcessCheck", "Error Payment");
    return SettleFailedClosing(kProcessCheck, szDeviceID, before, pnCheckNumber, pnSessionNumber,
                               pbstrFiscalSign);
  }
  if (!ReturnCash(params, cashBefore))
    return SettleFailedClosing(kProcessCheck, szDeviceID, before, pnCheckNumber, pnSessionNumber,
                               pbstrFiscalSign);
  if (IsSaleOrPurchase(params)) {
    if (!PrintTextsAndBarcodes(positions))
      return SettleFailedClosing(kProcessCheck, szDeviceID, before, pnCheckNumber, pnSessionNumber,
                                 pbstrFiscalSign);
    if (!EndCheck()) {
      LogMessageH("EndCheck", "Error");
      return SettleFailedClosing(kProcessCheck, szDeviceID, before, pnCheckNumber, pnSessionNumber,
                                 pbstrFiscalSign);
    }
  }
  return ReadReceiptNumbers(kProcessCheck, before, pnCheckNumber, pnSessionNumber, pbstrFiscalSign);
}

// A step after the first payment failed: the printer may have closed the receipt all the same (its
// answer was lost, or the payments ended it). When the fiscal drive made the receipt it is reported
// with its numbers, so that the cashier never makes it twice; otherwise the receipt is cancelled
// and the failure stands.
bool CMirelDriver::SettleFailedClosing(const char* szName, const char* szDeviceID, uint32_t nBefore,
                                       LONG* pnCheckNumber, LONG* pnSessionNumber, BSTR* pbstrFiscalSign) {
  bool reported = false;
  if (ReceiptMadeAfterAll(szName, nBefore, pnCheckNumber, pnSessionNumber, pbstrFiscalSign, &reported))
    return reported;
  CancelReceipt(szDeviceID);
  return false;
}

// True when the fiscal drive made the receipt although a step failed; `*pbReported` is then whether
// its numbers and fiscal sign could be read back.
bool CMirelDriver::ReceiptMadeAfterAll(const char* szName, uint32_t nBefore, LONG* pnCheckNumber,
                                       LONG* pnSessionNumber, BSTR* pbstrFiscalSign, bool* pbReported) {
  if (!ReceiptMadeByDrive(szName, nBefore)) return false;
  // The printer closed the receipt: the document layer has nothing open any more.
  m_nDocumentType = 0;
  ResetDocumentTotals();
  *pbReported = ReadReceiptNumbers(szName, nBefore, pnCheckNumber, pnSessionNumber, pbstrFiscalSign);
  return true;
}
