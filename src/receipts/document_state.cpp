// The step-by-step document interface of the driver: the open document's type decides which
// printer command an item or a payment becomes, its running totals decide when a payment has ended
// it, and a paper end or printer failure seen after one step is cleared (or reported) before the
// next step sends anything.
#include <cstdio>
#include <cstring>
#include <functional>

#include "device/bringup.h"
#include "device/clerks.h"
#include "device/device_errors.h"
#include "device/info_queries.h"
#include "device/info_records.h"
#include "device/link.h"
#include "device/payment_commands.h"
#include "device/print_commands.h"
#include "device/receipt_commands.h"
#include "device/result_codes.h"
#include "device/status.h"
#include "device/text_field.h"
#include "driver/mirel_driver.h"
#include "receipts/check_package.h"
#include "receipts/document_types.h"

namespace {

using namespace doc;

constexpr LONG kCodeSessionClosed = 10;
constexpr LONG kCodeNoDocument = 100;
constexpr LONG kCodeNotInThisDocument = 103;
constexpr LONG kCodeCannotClose = 105;
constexpr LONG kCodePurchaseCashOnly = 120;

constexpr int kCashPaymentType = 8;
constexpr double kMaxTender2 = 9999999999.0;
constexpr uint32_t kAfterPaymentMs = 100;
constexpr uint32_t kAfterCashMoveMs = 1100;
constexpr size_t kLoggedTextLimit = 244;
constexpr size_t kClerkNameLength = 35;
constexpr int kSfDrawerAmount = 7;
constexpr int kSfAmounts = 8;
constexpr int kSIStateDigits = 26;  // the three state digits of the "SI" record, counted from its "S"
// A status poll the printer leaves unanswered says nothing about its document (it may be coming back
// from a restart): it is asked again, this many times in all, this far apart, before a step is given up.
constexpr int kStatusPolls = 4;
constexpr uint32_t kStatusPollPauseMs = 1000;

bool Given(const char* text) {
  return text && *text;
}

}  // namespace

// How a taken payment is looked at for the end of the document.
enum class CloseCheck {
  kByStatus,       // the receipt bit of a fresh status, then the totals
  kByTotals,       // the totals alone (a return: its payments close it)
  kByReceiptOpen,  // the open-receipt test, then the totals
};

// One payment as a step sends it: the command, its failure message, and how the end of the
// document is told afterwards.
struct CMirelDriver::PaymentStep {
  std::function<int32_t()> command;
  const char* failure;
  CloseCheck close;
  bool pause;             // the printer needs a moment after the payment
  bool paysRest = false;  // the printer paid the rest: the receipt closing is enough
};

LONG CMirelDriver::StartDocument(int nType, int nSection, int nCustomerId, const char* sClerkName) {
  static const char kName[] = "StartDocument";
  FPContext* ctx = m_pDevice.get();
  LogEnterH(kName);
  LogMessageHf(kName, "nType = %d", nType);
  LogMessageHf(kName, "nSection = %d", nSection);
  LogMessageHf(kName, "nCustomerId = %d", nCustomerId);
  if (sClerkName) LogMessageHf(kName, "sClerkName = %s", sClerkName);
  if (nSection < 1 || nSection > 99) return ReturnH(kName, kCodeWrongValue);

  m_bSfCacheValid = 0;
  const int status2 = GetStatus2(ctx);
  if (status2 != kAnswerStatus2) return ReturnH(kName, MapLinkResult(ctx, status2));
  // The document layer does not open a session of its own.
  if (!(ctx->status2[0] & st::kShiftOpen)) return ReturnH(kName, kCodeSessionClosed);
  const int32_t reset = ResetOrder(ctx, 0);
  if (reset != 0) return ReturnH(kName, reset);
  LONG code = ClearPendingErrors(kName);
  if (code != 0) return ReturnH(kName, code);
  code = GetBasicSeInfo(ctx);
  if (code != 0) {
    LogMessageH(kName, "Invalid attempt to execute Se command");
    return ReturnH(kName, code);
  }

  char name[kClerkNameLength + 1];
  CopyText(name, sClerkName ? sClerkName : " ");
  if (strcmp(name, m_szClerkName) != 0 || !m_bClerkSet) {
    code = ::SetClerk(ctx, 1, name);
    if (code != 0) {
      LogMessageH(kName, DriverErrorText(code));
      return ReturnH(kName, code);
    }
    CopyText(m_szClerkName, name);
    m_bClerkSet = 1;
  }

  m_bDocumentInPrinter = false;
  code = OpenDocumentOfType(kName, nType, nCustomerId);
  // A sale or a return opens in the printer with its header; a purchase with its first item.
  if (code == 0 && (nType == kSale || nType == kSaleReturn)) m_bDocumentInPrinter = true;
  ResetDocumentTotals();
  return ReturnH(kName, StatusAfterStep(kName, code, false));
}

// The commands that open a document of `nType` in the printer; the mode switch and the last
// command's result count, and the type is taken even when they fail.
LONG CMirelDriver::OpenDocumentOfType(const char* name, int nType, int nCustomerId) {
  FPContext* ctx = m_pDevice.get();
  switch (nType) {
    case kSale:
    case kSaleReturn: {
      m_nDocumentType = nType;
      // The printer keeps the mode of its last document: a switch that failed would have this
      // sale registered as a purchase, so the opening fails with it.
      const int32_t mode = SetSalePurchaseMode(ctx, 0);
      if (mode != 0) return mode;
      memset(ctx->anKeepZeroExtra, 0, sizeof ctx->anKeepZeroExtra);
      const bool sale = nType == kSale;
      if (!sale) SendCPswd(ctx, ctx->szOperatorPassword);
      if (nCustomerId == 0) {
        return sale ? SetExtraDocData(ctx, 0, 0, 0, "") : SetExtraDocDataSaleUndo(ctx, 0, 0, 0, "");
      }
      char customer[16];
      snprintf(customer, sizeof customer, "%d", nCustomerId);
      return sale ? SetExtraDocData2(ctx, customer, "", "", "")
                  : SetExtraDocDataSaleUndo2(ctx, customer, "", "", "");
    }
    case kNonFiscal:
    case kCashIn:
    case kCashOut:
      m_nDocumentType = nType;
      return 0;
    case kRefund:
      m_nDocumentType = nType;
      return SendCPswd(ctx, ctx->szOperatorPassword);
    case kOtherModels:
      LogMessageH(name, "Wrong document type: 7");
      return kResultNotSupported;
    case kPurchase:
    case kPurchaseReturn:
      m_nDocumentType = nType;
      return SetSalePurchaseMode(ctx, 1);
    default:
      LogMessageH(name, "Unknown document type!!!");
      return kCodeWrongValue;
  }
}

LONG CMirelDriver::ItemEx(int nQuantity, uint32_t nAmount, const char* sText, int nTaxGroup, int nSection,
                          const CheckPosition* pPosition) {
  static const char kName[] = "ItemEx";
  FPContext* ctx = m_pDevice.get();
  LogEnterH(kName);
  LogMessageHf(kName, "nQuantity = %d", nQuantity);
  LogMessageHf(kName, "nAmount = %u", nAmount);
  LogText(kName, sText, false);
  LogMessageHf(kName, "nTaxGroup = %d", nTaxGroup);
  LogMessageHf(kName, "nSection = %d", nSection);
  m_bSfCacheValid = 0;
  LONG code = ClearPendingErrors(kName);
  if (code != 0) return ReturnH(kName, code);
  if (m_nDocumentType == kNoDocument) {
    LogMessageH(kName, "No opened documents");
    return ReturnH(kName, kCodeNoDocument);
  }
  if (nQuantity < 0) {
    LogMessageH(kName, "Bad Value (<0) Amount or Quantity ");
    return ReturnH(kName, kCodeWrongValue);
  }
  if (m_nDocumentType == kSale || m_nDocumentType == kPurchase) {
    code = SaleItemEx2(ctx, nTaxGroup, nQuantity, nAmount, nSection, sText, pPosition);
  } else if (m_nDocumentType == kSaleReturn || m_nDocumentType == kPurchaseReturn) {
    code = ReturnItemEx(ctx, nTaxGroup, nQuantity, nAmount, nSection, sText, pPosition);
  } else {
    LogMessageH(kName, "Not supported document type");
    return ReturnH(kName, kCodeNotInThisDocument);
  }
  if (code == 0) {
    DocumentTotals& t = m_DocumentTotals;
    const int64_t cost = int64_t{nQuantity} * nAmount;
    t.DocItems += 1;
    t.AllDocItems += nQuantity;
    t.nDocItemsAmount =
        static_cast<int32_t>(static_cast<uint32_t>(t.nDocItemsAmount) + static_cast<uint32_t>(cost));
    t.dDocItemsAmount += static_cast<double>(RoundToInt64(static_cast<double>(cost) / 1000)) * 1000;
    m_bDocumentInPrinter = true;
  }
  return ReturnH(kName, StatusAfterStep(kName, code, false));
}

LONG CMirelDriver::AbsoluteCorrectionText(int nValue, const char* sText) {
  static const char kName[] = "AbsoluteCorrectionText";
  LogEnterH(kName);
  LogMessageHf(kName, "nValue = %d", nValue);
  LogText(kName, sText, true);
  m_bSfCacheValid = 0;
  const LONG code = ::AbsoluteCorrectionText(m_pDevice.get(), nValue, sText);
  if (code != 0) {
    LogMessageH(kName, DriverErrorText(code));
    return ReturnH(kName, code);
  }
  // The printer takes a discount (a positive value) off the document and adds a markup; the
  // totals follow it, so that the payments are judged against what the printer will ask for.
  DocumentTotals& t = m_DocumentTotals;
  t.nDocItemsAmount = static_cast<int32_t>(static_cast<uint32_t>(t.nDocItemsAmount) -
                                           static_cast<uint32_t>(int64_t{nValue} * 1000));
  t.dDocItemsAmount -= static_cast<double>(nValue) * 1000;
  return ReturnH(kName, ConfirmDocumentHeld(kName));
}

LONG CMirelDriver::Tender(int64_t nAmount, int nType, const char* sCardNum, const char* sAuthCode) {
  static const char kName[] = "Tender";
  LogEnterH(kName);
  LogMessageHf(kName, "nAmount = %lld", static_cast<long long>(nAmount));
  LogMessageHf(kName, "Payment Type (nType) = %d", nType);
  LogCardTexts(kName, sCardNum, sAuthCode);
  m_bSfCacheValid = 0;
  LONG code = CheckTenderArguments(kName, nType, nAmount < 0);
  if (code == 0) code = ClearPendingErrors(kName);
  const bool purchaseKind = m_nDocumentType == kPurchase || m_nDocumentType == kPurchaseReturn;
  if (code == 0) {
    code = SendCardData(kName, sCardNum, sAuthCode,
                        purchaseKind ? "Tender2 (CardAuthData)" : "Tender (CardAuthData)");
  }
  if (code == 0) code = PayDocument(kName, nType, nAmount, static_cast<double>(nAmount), false);
  return ReturnH(kName, code);
}

LONG CMirelDriver::Tender2(double dAmount, int nType, const char* sCardNum, const char* sAuthCode) {
  static const char kName[] = "Tender2";
  LogEnterH(kName);
  LogMessageHf(kName, "dAmount = %f", dAmount);
  LogMessageHf(kName, "nType = %d", nType);
  LogCardTexts(kName, sCardNum, sAuthCode);
  m_bSfCacheValid = 0;
  LONG code = CheckTenderArguments(kName, nType, !(dAmount >= 0 && dAmount <= kMaxTender2));
  if (code == 0) code = ClearPendingErrors(kName);
  if (code == 0 && m_nDocumentType == kPurchase && nType != kCashPaymentType) {
    LogMessageH(kName, "Payment type should be 8");
    code = kCodePurchaseCashOnly;
  }
  const bool saleReturn = m_nDocumentType == kSaleReturn;
  if (code == 0) {
    code = SendCardData(kName, sCardNum, sAuthCode,
                        saleReturn ? "Tender (CardAuthData)" : "Tender2 (CardAuthData)");
  }
  if (code == 0) code = PayDocument(kName, nType, static_cast<int64_t>(dAmount), dAmount, true);
  return ReturnH(kName, code);
}

// The payment command of the open document's type, in the integer or the double form of Tender
// and Tender2, then the status after the step. `whole` is the amount as the integer form counts it.
LONG CMirelDriver::PayDocument(const char* name, int nType, int64_t whole, double amount, bool doubleForm) {
  FPContext* ctx = m_pDevice.get();
  LONG code;
  switch (m_nDocumentType) {
    case kSale:
      if (doubleForm && nType == 7) {
        // The printer pays the rest itself, so the receipt closing ends the document.
        LogMessageH(name, "AllowChange = 0");
        code = TakePayment(
            name, {[&] { return PayAuto(ctx, 7); }, "Tender2 (Pay2)", CloseCheck::kByStatus, false, true},
            whole, amount);
      } else if (doubleForm) {
        LogMessageH(name, "AllowChange = 1");
        code = TakePayment(
            name, {[&] { return Pay2(ctx, nType, amount); }, "Tender2 (Pay2)", CloseCheck::kByStatus, false},
            whole, amount);
      } else {
        code = TakePayment(
            name, {[&] { return Pay(ctx, nType, whole); }, "Tender (Pay)", CloseCheck::kByStatus, false},
            whole, amount);
      }
      break;
    case kSaleReturn:
      // The whole amount goes out: a return of 42,949,672.96 roubles or more is not cut to 32 bits.
      code = TakePayment(
          name,
          {[&] { return doubleForm ? ReturnPay2(ctx, nType, amount) : ReturnPay(ctx, nType, whole); },
           "Tender (ReturnPay)", CloseCheck::kByTotals, true},
          whole, amount);
      break;
    case kCashIn:
      code = MoveCash(
          name, [&] { return doubleForm ? MoneyIn2(ctx, nType, amount) : MoneyIn(ctx, nType, whole); },
          "Tender (MoneyIn)");
      break;
    case kCashOut:
      code = MoveCash(
          name, [&] { return doubleForm ? MoneyOut2(ctx, nType, amount) : MoneyOut(ctx, nType, whole); },
          "Tender (MoneyOut)");
      break;
    case kPurchase:
      LogMessageH(name, "AllowChange = 1");
      code = TakePayment(
          name,
          {[&] { return Pay2(ctx, nType, amount); }, "Tender2 (Pay2)", CloseCheck::kByReceiptOpen, true},
          whole, amount);
      break;
    case kPurchaseReturn:
      code = TakePayment(name,
                         {[&] { return ReturnPay2(ctx, nType, amount); }, "Tender2 (ReturnPay2)",
                          CloseCheck::kByTotals, true},
                         whole, amount);
      break;
    default:
      LogMessageH(name, "Not supported document type");
      return kCodeNotInThisDocument;
  }
  return code != 0 ? code : StatusAfterStep(name, 0, true);
}

LONG CMirelDriver::EndDocument() {
  static const char kName[] = "EndDocument";
  FPContext* ctx = m_pDevice.get();
  LogEnterH(kName);
  m_bSfCacheValid = 0;
  LogMessageHf(kName, "DocumentType: %d", m_nDocumentType);
  const DocumentTotals& t = m_DocumentTotals;
  LogMessageHf(kName, "TendersCount = %d", t.TendersCount);
  LogMessageHf(kName, "nTendersAmount = %d", t.nTendersAmount);
  LogMessageHf(kName, "dTendersAmount = %f", t.dTendersAmount);
  LogMessageHf(kName, "DocItems = %d", t.DocItems);
  LogMessageHf(kName, "AllDocItems = %d", t.AllDocItems);
  LogMessageHf(kName, "nDocItemsAmount = %d", t.nDocItemsAmount);
  LogMessageHf(kName, "dDocItemsAmount = %f", t.dDocItemsAmount);
  switch (m_nDocumentType) {
    case kNoDocument:
      if (ctx->bS31) StopExtraTextLines(ctx);
      return ReturnH(kName, StatusAfterStep(kName, 0, false));
    case kSale:
    case kPurchase: {
      if (!IsFiscalReceiptOpen(ctx)) break;
      ctx->nLastResult = StdTransaction(ctx, "t", 110, true, false);
      if (ctx->nLastResult != 0) return ReturnH(kName, ctx->nLastResult);
      if (IsFiscalReceiptOpen(ctx)) return ReturnH(kName, kCodeCannotClose);
      break;
    }
    case kSaleReturn:
    case kPurchaseReturn:
      // Return receipts are closed by their payments; one still open was not closed.
      if (IsNonfiscalReceiptOpen(ctx)) return ReturnH(kName, kCodeCannotClose);
      break;
    case kCashOut:
      break;
    default:
      return ReturnH(kName, 0);
  }
  m_nDocumentType = kNoDocument;
  return ReturnH(kName, 0);
}

LONG CMirelDriver::CancelDocument() {
  static const char kName[] = "CancelDocument";
  FPContext* ctx = m_pDevice.get();
  LogEnterH(kName);
  // A cancel after a failed step often meets a printer still coming back: it is asked again
  // rather than the receipt left open.
  const LONG status = ReadFreshStatus(kName);
  if (status != 0) return ReturnH(kName, status);
  if (!(ctx->status[0] & (st::kFiscalReceiptOpen | st::kReceiptOpen))) {
    ResetDocumentTotals();
    return ReturnH(kName, 0);
  }
  // A receipt that has taken money cannot be taken back.
  if (m_DocumentTotals.nTendersAmount != 0 && m_DocumentTotals.dTendersAmount != 0) {
    return ReturnH(kName, kCodeCannotClose);
  }
  const int32_t reset = ResetOrder(ctx, 0);
  m_nDocumentType = kNoDocument;
  ResetDocumentTotals();
  if (reset != 0) LogMessageH(kName, DriverErrorText(reset));
  return ReturnH(kName, reset);
}

bool CMirelDriver::CancelCheck(const char* DeviceID) {
  static const char kName[] = "CancelCheck";
  static const char kHostName[] = "OdinS_CancelCheck";
  FPContext* ctx = m_pDevice.get();
  LogEnterH(kName);
  ctx->nLastResult = 0;
  ctx->nDeviceError = 0;
  bool done = false;
  if (!DeviceID || !*m_strOdinSDeviceID) {
    LogMessageH(kHostName, "((!strDeviceID) || (!m_strOdinSDeviceID) return FALSE");
  } else if (strcmp(DeviceID, m_strOdinSDeviceID) != 0) {
    LogMessageH(kHostName, "strDeviceID != m_strOdinSDeviceID return FALSE");
  } else if (m_nDocumentType == kNoDocument) {
    // A document the printer still holds open is left to the next StartDocument, whose reset ends it.
    LogMessageH(kHostName, "m_nDocumentType=0");
    ctx->nLastResult = kCodeNoDocument;
  } else {
    ctx->nLastResult = CancelDocument();
    LogMessageH(kHostName, "Exit");
    done = ctx->nLastResult == 0;
  }
  ReturnH(kName, done ? 1 : 0);
  return done;
}

bool CMirelDriver::CancelCheckKeepingError(const char* DeviceID) {
  FPContext* ctx = m_pDevice.get();
  const int32_t failure = ctx->nLastResult;
  const int32_t deviceError = ctx->nDeviceError;
  const bool cancelled = CancelCheck(DeviceID);
  ctx->nLastResult = failure;
  ctx->nDeviceError = deviceError;
  return cancelled;
}

int64_t CMirelDriver::GetDocInfo(int nType) {
  static const char kName[] = "GetDocInfo";
  FPContext* ctx = m_pDevice.get();
  LogEnterH(kName);
  LogMessageHf(kName, "nType = %d", nType);
  int64_t value = -1;
  if (nType == 1) {
    value = m_nDocumentType;
  } else if (nType >= 10 && nType <= 14) {
    if (GetBasicSIInfo(ctx) == 0) {
      value = nType <= 11 ? SIAmount(ctx, nType - 10) : ctx->infoSI[kSIStateDigits + nType - 12] - '0';
    }
  }
  ReturnH(kName, static_cast<LONG>(value));
  return value;
}

double CMirelDriver::GetDoubleDeviceInfo(int nType) {
  static const char kName[] = "GetDoubleDeviceInfo";
  FPContext* ctx = m_pDevice.get();
  LogEnterH(kName);
  LogMessageHf(kName, "nType = %d", nType);
  if (!m_bSfCacheValid) {
    const int32_t code = GetBasicSfInfo(ctx);
    if (code != 0) {
      LogMessageHf(kName, "GetDoubleDeviceInfo (GetBasicSfInfo) %s", DriverErrorText(code));
      LogReturnH(kName, "-1");
      return -1.0;
    }
    for (int i = 0; i < kSfAmounts; ++i)
      m_adSfAmounts[i] = static_cast<double>(ShiftRecordAmount(ctx->infoSf, i));
    m_bSfCacheValid = 1;
  }
  const double value = nType == kInfoDrawerCash ? m_adSfAmounts[kSfDrawerAmount] : -1.0;
  char text[32];
  snprintf(text, sizeof text, "%g", value);
  LogReturnH(kName, text);
  return value;
}

LONG CMirelDriver::SetClerk(const char* sClerkName) {
  static const char kName[] = "SetClerk";
  FPContext* ctx = m_pDevice.get();
  LogEnterH(kName);
  if (sClerkName) {
    LogMessageHf(kName, "sClerkName = %s", sClerkName);
    CopyText(m_szClerkName, sClerkName);
  }
  ctx->nDeviceError = 0;
  const LONG code = ::SetClerk(ctx, 1, sClerkName);
  if (code != 0) {
    LogMessageH(kName, DriverErrorText(code));
    if (ctx->nDeviceError != 0) LogMessageH(kName, DeviceErrorText(ctx->nDeviceError));
    return ReturnH(kName, code);
  }
  m_bClerkSet = 1;
  return ReturnH(kName, 0);
}

LONG CMirelDriver::OpenDrawer() {
  static const char kName[] = "OpenDrawer";
  LogEnterH(kName);
  return ReturnH(kName, DrawerOpen(m_pDevice.get()));
}

LONG CMirelDriver::PrintQRCode(int nSystemType, int ErrorLevel, int nSize, const char* sText) {
  static const char kName[] = "PrintQRCode";
  m_pDevice->nLastResult = 0;
  LogEnterH(kName);
  LogMessageHf(kName, "nSystemType = %d", nSystemType);
  LogMessageHf(kName, "ErrorLevel = %d", ErrorLevel);
  LogMessageHf(kName, "nSize = %d", nSize);
  LogMessageHf(kName, "sText = %s", sText ? sText : "");
  return ReturnH(kName, ::PrintQRCode(m_pDevice.get(), nSystemType, ErrorLevel, nSize, sText, false, false));
}

bool CMirelDriver::IsSessionOpened() {
  static const char kName[] = "IsSessionOpened";
  FPContext* ctx = m_pDevice.get();
  GetStatus2(ctx);
  const bool open = (ctx->status2[0] & st::kShiftOpen) != 0;
  LogMessageH(kName, open ? "Session is opened" : "Session is closed");
  return open;
}

void CMirelDriver::PrepareOperation() {
  m_pDevice->nLastResult = 0;
  m_pDevice->nDeviceError = 0;
  ResetDocumentTotals();
  ClearError(m_pDevice.get());
}

// ---- The steps' shared parts ----

void CMirelDriver::LogText(const char* name, const char* text, bool logEmpty) {
  if (!Given(text)) {
    if (logEmpty) LogMessageH(name, "sText = 0");
  } else if (strlen(text) > kLoggedTextLimit) {
    LogMessageH(name, "sText is longer than 244 characters");
  } else {
    LogMessageHf(name, "sText = %s", text);
  }
}

void CMirelDriver::LogCardTexts(const char* name, const char* sCardNum, const char* sAuthCode) {
  if (sCardNum) LogMessageHf(name, "sCardNum = %.244s", sCardNum);
  if (sAuthCode) LogMessageHf(name, "sAuthCode = %.244s", sAuthCode);
}

LONG CMirelDriver::ClearPendingErrors(const char* name) {
  if (!m_bPaperEndPending && !m_bPrinterFailurePending) return 0;
  FPContext* ctx = m_pDevice.get();
  const int32_t cleared = ClearError(ctx);
  if (cleared != 0) {
    LogMessageH(name, "Invalid attempt to restore from previous printer errors");
    return cleared;
  }
  GetStatus(ctx, true);
  if (ctx->status[1] & st::kPaperEnd) {
    LogMessageH(name, "End Of Paper. Command not sent.");
    return kCodePaperEnd;
  }
  if (ctx->status[1] & st::kPrintFailure) {
    LogMessageH(name, "Printer failure. Command not sent.");
    return kCodePrintFailure;
  }
  m_bPaperEndPending = 0;
  m_bPrinterFailurePending = 0;
  return 0;
}

LONG CMirelDriver::StatusAfterStep(const char* name, LONG result, bool busyCounts) {
  FPContext* ctx = m_pDevice.get();
  LONG code = ReadFreshStatus(name);
  if (code != 0) return code;
  if (ctx->status[1] & st::kPaperEnd) {
    code = kCodePaperEnd;
    m_bPaperEndPending = 1;
  } else if (ctx->status[1] & st::kPrintFailure) {
    code = kCodePrintFailure;
    m_bPrinterFailurePending = 1;
  } else if (busyCounts && (ctx->status[0] & st::kBusy)) {
    code = kCodeBusy;
    m_bPrinterFailurePending = 1;
  }
  if (code == 0) return result != 0 ? result : DocumentLost(name);
  LogMessageH(name, DriverErrorText(code));
  return code;
}

LONG CMirelDriver::ReadFreshStatus(const char* name) {
  FPContext* ctx = m_pDevice.get();
  int answer = 0;
  for (int poll = 0; poll < kStatusPolls; ++poll) {
    if (poll > 0) ctx->pClock->SleepMs(kStatusPollPauseMs);
    answer = GetStatus(ctx, true);
    if (answer == kAnswerStatus) return 0;
  }
  LogMessageH(name, "Status not received");
  return MapLinkResult(ctx, answer);
}

// Whether the last status shows the open document of its kind: the fiscal receipt bit for a sale
// or purchase (of a fiscal register), the receipt bit for a return and a cash document.
bool CMirelDriver::PrinterShowsDocument() const {
  const uint8_t b = m_pDevice->status[0];
  const bool fiscalKind = m_nDocumentType == kSale || m_nDocumentType == kPurchase;
  if (fiscalKind && (b & st::kFiscalPair) == st::kFiscalPair) return (b & st::kFiscalReceiptOpen) != 0;
  return (b & st::kReceiptOpen) != 0;
}

// A printer that restarted, lost its power or cancelled on its own no longer holds the document the
// driver is building, and whatever it would take next would go into a document of its own.
LONG CMirelDriver::DocumentLost(const char* name) {
  if (m_nDocumentType == kNoDocument || !m_bDocumentInPrinter || PrinterShowsDocument()) return 0;
  LogMessageH(name, "The printer no longer holds the open document");
  return kCodeNoDocument;
}

bool CMirelDriver::ConfirmReceiptTotal(const char* name, int64_t nPrinterTotal) {
  FPContext* ctx = m_pDevice.get();
  if (nPrinterTotal < 0) {
    LogMessageH(name, "The printer's total of the receipt is not known");
    if (ctx->nLastResult == 0) ctx->nLastResult = kCodeNoDocument;
    return false;
  }
  // Items less discount lines, each item rounded to kopecks as the printer rounds it.
  if (nPrinterTotal == RoundToInt64(m_DocumentTotals.dDocItemsAmount / 1000)) return true;
  LogMessageH(name, "The printer's receipt differs from the registered one");
  ctx->nLastResult = kCodeNoDocument;
  return false;
}

LONG CMirelDriver::ConfirmDocumentHeld(const char* name) {
  if (m_nDocumentType == kNoDocument || !m_bDocumentInPrinter) return 0;
  const LONG code = ReadFreshStatus(name);
  return code != 0 ? code : DocumentLost(name);
}

LONG CMirelDriver::CheckTenderArguments(const char* name, int nType, bool badAmount) {
  if (m_nDocumentType == kNoDocument) {
    LogMessageH(name, "No opened documents");
    return kCodeNoDocument;
  }
  if (nType < 1 || nType > 8) {
    LogMessageH(name, "Bad Value (payment type)");
    return kCodeWrongValue;
  }
  if (badAmount) {
    LogMessageH(name, "Bad Value (Amount)");
    return kCodeWrongValue;
  }
  return 0;
}

LONG CMirelDriver::SendCardData(const char* name, const char* sCardNum, const char* sAuthCode,
                                const char* failure) {
  const bool receipt = m_nDocumentType == kSale || m_nDocumentType == kSaleReturn ||
                       m_nDocumentType == kPurchase || m_nDocumentType == kPurchaseReturn;
  if (!receipt || !Given(sCardNum) || !Given(sAuthCode)) return 0;
  const LONG code = CardAuthData(m_pDevice.get(), sCardNum, sAuthCode);
  if (code != 0) LogMessageHf(name, "%s %s", failure, DriverErrorText(code));
  return code;
}

LONG CMirelDriver::TakePayment(const char* name, const PaymentStep& step, int64_t nAmount, double dAmount) {
  FPContext* ctx = m_pDevice.get();
  const LONG code = step.command();
  if (code != 0) {
    LogMessageHf(name, "%s %s", step.failure, DriverErrorText(code));
    return code;
  }
  if (step.pause) ctx->pClock->SleepMs(kAfterPaymentMs);
  DocumentTotals& t = m_DocumentTotals;
  t.TendersCount += 1;
  t.nTendersAmount =
      static_cast<int32_t>(static_cast<uint32_t>(t.nTendersAmount) + static_cast<uint32_t>(nAmount));
  t.dTendersAmount += dAmount;

  bool receiptOpen = false;
  if (step.close == CloseCheck::kByStatus) {
    GetStatus(ctx, true);
    receiptOpen = (ctx->status[0] & st::kFiscalReceiptOpen) != 0;
  } else if (step.close == CloseCheck::kByReceiptOpen) {
    receiptOpen = IsFiscalReceiptOpen(ctx) != 0;
  }
  const bool paid = t.dDocItemsAmount / 1000 <= t.dTendersAmount;
  if (!receiptOpen && (paid || step.paysRest)) {
    m_nDocumentType = kNoDocument;
    ResetDocumentTotals();
  }
  return 0;
}

LONG CMirelDriver::MoveCash(const char* name, const std::function<int32_t()>& move, const char* failure) {
  FPContext* ctx = m_pDevice.get();
  LONG code = move();
  if (code != 0) {
    LogMessageHf(name, "%s %s", failure, DriverErrorText(code));
    return code;
  }
  ctx->pClock->SleepMs(kAfterCashMoveMs);
  // The amount opened the cash document: its total goes to the printer only while it holds it.
  m_bDocumentInPrinter = true;
  code = ConfirmDocumentHeld(name);
  if (code != 0) return code;
  code = MoneyInOutTotal(ctx);
  if (code != 0) {
    LogMessageHf(name, "Tender (MoneyInOutTotal) %s", DriverErrorText(code));
    return code;
  }
  m_nDocumentType = kNoDocument;
  return 0;
}
