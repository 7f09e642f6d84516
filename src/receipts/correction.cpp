// ProcessCorrectionCheck: a correction receipt from the host's correction package. The package is
// validated and read whole before anything is sent; its VAT amounts become one item per rate whose
// gross amounts add up to the correction's sum; the base of the correction goes out as its fiscal
// tags, then the payments and the closing. The fiscal drive has the last word, as for a receipt:
// the numbers and fiscal sign are read back from it, and after a failed step it decides whether
// the correction receipt exists.
#include <tinyxml.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "device/info_queries.h"
#include "device/link.h"
#include "device/payment_commands.h"
#include "device/receipt_commands.h"
#include "device/result_codes.h"
#include "device/status.h"
#include "device/text_field.h"
#include "driver/com_text.h"
#include "driver/mirel_driver.h"
#include "receipts/check_package.h"
#include "receipts/correction_package.h"
#include "receipts/document_types.h"
#include "receipts/fiscal_lines.h"

namespace {

constexpr char kName[] = "OdinS_ProcessCorrectionCheck";
constexpr char kOpen[] = "OpenCheckCorr";
constexpr char kValidation[] = "CheckCorrectionPackage";

constexpr int32_t kCodeOldFirmware = 134;
constexpr int kItemQuantity = 1000;  // one piece
constexpr int kSection = 1;
constexpr int kTagAdditionalAttribute = 1192;
constexpr int kAttributeCashierVatin = 19;
constexpr size_t kCashierNameLength = 64;
constexpr size_t kMaxPasswordLength = 6;
constexpr int kReplyDelayMs = 110;

// How OpenCheckCorr failed: the correction could not be opened or completed, a VAT rate the
// printer does not have, or VAT amounts that give no items adding up to the sum.
enum CorrectionFailure : int {
  kOpenFailed = 1,
  kRateMissing = 12,
  kTaxesUnbalanced = 135,
};

// The payments in the order they go out, with their payment types.
struct CorrectionPayment {
  int64_t CorrectionData::*amount;
  int type;
};
constexpr CorrectionPayment kPayments[] = {
    {&CorrectionData::nElectronicPayment, 1},
    {&CorrectionData::nAdvancePayment, 5},
    {&CorrectionData::nCashProvision, 6},
    {&CorrectionData::nCredit, 7},
    {&CorrectionData::nCash, 8},
};

}  // namespace

bool CMirelDriver::ProcessCorrectionCheck(const char* szDeviceID, const char* szCheckCorrectionPackage,
                                          LONG* pnCheckNumber, LONG* pnSessionNumber, BSTR* pbstrFiscalSign,
                                          BSTR* pbstrAddressSiteInspections) {
  LogEnterH(kName);
  const bool made = PrintCorrection(szDeviceID, szCheckCorrectionPackage, pnCheckNumber, pnSessionNumber,
                                    pbstrFiscalSign, pbstrAddressSiteInspections);
  return FinishExplained(kName, made);
}

bool CMirelDriver::PrintCorrection(const char* szDeviceID, const char* szPackage, LONG* pnCheckNumber,
                                   LONG* pnSessionNumber, BSTR* pbstrFiscalSign,
                                   BSTR* pbstrAddressSiteInspections) {
  FPContext* ctx = m_pDevice.get();
  if (ctx->nContextKind < 2) return FailH(kName, "Current FFD version is not supported", kCodeOldFirmware);
  if (pbstrAddressSiteInspections) {
    SysFreeString(*pbstrAddressSiteInspections);
    *pbstrAddressSiteInspections = Cp1251ToBstr(ctx->szAddressSiteInspections);
  }
  uint32_t before = 0;
  if (!CheckReadyForReceipt(kName, &before, pnSessionNumber)) return false;
  CorrectionData data;
  if (!ReadCorrectionPackage(szPackage, &data)) return false;
  if (!PrepareCorrection(data)) return false;
  const int failure = OpenCheckCorr(data);
  if (failure != 0)
    return FailCorrection(szDeviceID, failure, before, pnCheckNumber, pnSessionNumber, pbstrFiscalSign);
  EndCheck();
  return ReadReceiptNumbers(kName, before, pnCheckNumber, pnSessionNumber, pbstrFiscalSign);
}

// The package parsed, validated and read into `*pData`, with the cashier it names (or the one of
// the settings) in the device context.
bool CMirelDriver::ReadCorrectionPackage(const char* szPackage, CorrectionData* pData) {
  FPContext* ctx = m_pDevice.get();
  TiXmlDocument document;
  XmlFault fault;
  if (!ParseHostXml(&document, szPackage, &fault)) {
    LogMessageHf(kName, "Error in row \"%d\" and column \"%d\" of check XML: %s", fault.row, fault.column,
                 fault.description.c_str());
    ctx->nLastResult = kResultBadCheckData;
    return false;
  }
  std::string message;
  int32_t code = CheckCorrectionPackage(&document, &message);
  if (code != kResultOk) {
    LogMessageH(kValidation, message.c_str());
    return FailH(kName, "Check data can not be processed", code);
  }
  const TiXmlElement* root = document.FirstChildElement("CheckCorrectionPackage");
  const TiXmlElement* parameters = root->FirstChildElement("Parameters");
  const std::optional<std::string> cashier = GetXmlAttr(parameters, "CashierName");
  if (cashier && !cashier->empty()) {
    CopyText(ctx->szClerkName, cashier->c_str(), kCashierNameLength);
    CopyText(m_szClerkName, ctx->szClerkName);
  } else if (!ctx->szClerkName[0]) {
    // No cashier anywhere: the printer's own code for it, with a driver code that says a value is
    // wrong, so that the host is never told False without a reason.
    ctx->nDeviceError = kResultNoClerkName;
    return FailH(kName, "Cashier is absent", kCodeWrongValue);
  }
  code = ReadCorrectionData(ctx, parameters, root->FirstChildElement("Payments"), pData, &message);
  if (code != kResultOk) return FailH(kName, message.c_str(), code);
  return true;
}

// The cashier, the kind of settlement and the tax system, ahead of the correction receipt.
bool CMirelDriver::PrepareCorrection(const CorrectionData& data) {
  FPContext* ctx = m_pDevice.get();
  const size_t password = strnlen(ctx->szOperatorPassword, sizeof ctx->szOperatorPassword);
  if (password < 1 || password > kMaxPasswordLength)
    return FailH(kName, "Manage password not setting", kResultBadPassword);
  const LONG clerk = SetClerk(ctx->szClerkName);
  if (clerk != kResultOk) return FailH(kName, "Error set cashier", clerk);
  if (SetSalePurchaseMode(ctx, data.bIncome ? 0 : 1) != kResultOk)
    return FailH(kName, "Set type operation error", ctx->nLastResult);
  if (SetTaxVariant(ctx, data.nTaxVariant) != kResultOk) {
    LogMessageHf(kName, "Error state tax variant %u", static_cast<unsigned>(data.nTaxVariant));
    return false;
  }
  return true;
}

// The correction receipt in the printer: items, the base's tags, the cashier's taxpayer number, the
// additional attribute, payments and closing. 0 when it was made, else how it failed.
int CMirelDriver::OpenCheckCorr(const CorrectionData& data) {
  FPContext* ctx = m_pDevice.get();
  LogMessageH(kOpen, "Enter");
  if (!IsSupportedModel() || ctx->nContextKind != 2) {
    LogMessageH(kOpen, "Exit");
    return kOpenFailed;
  }
  m_nDocumentType = data.bIncome ? doc::kSale : doc::kPurchase;
  m_bDocumentInPrinter = false;
  TaxEntry entries[kCorrectionTaxEntries];
  BuildTaxTable(data, entries);
  ctx->nLastResult = ReadS3InCall(ctx);
  for (const TaxEntry& e : entries) {
    if (e.nGross == 0 || IsTaxRateProgrammed(ctx, e.nRate)) continue;
    ctx->nLastResult = e.nRate;
    LogMessageH(kOpen, "Tax incorrect or not supported");
    LogMessageH(kOpen, "Exit");
    return kRateMissing;
  }
  if (!BalanceCorrectionSums(entries, data.nSum, data.nCash)) return kTaxesUnbalanced;
  // An item the price field cannot carry is refused before the receipt opens.
  for (const TaxEntry& e : entries) {
    if (e.nGross > kMaxItemPrice) return FailOpen("Price exceeded the maximum value", kCodePriceTooLarge);
  }
  // A refused opening would have the items open a plain receipt of the printer's own.
  ctx->nLastResult = OpenCorrection(ctx);
  m_bDocumentInPrinter = ctx->nLastResult == kResultOk;
  if (!m_bDocumentInPrinter || !ConfirmReceiptHeld(kOpen) || !SendCorrectionItems(entries) ||
      !SendCorrectionTags(data) || !ConfirmReceiptTotal(kOpen, GetDocInfo(doc::kInfoDocumentTotal)) ||
      !PayCorrection(data)) {
    LogMessageH(kOpen, "Exit");
    return kOpenFailed;
  }
  ctx->nLastResult = MapLinkResult(ctx, ExecTransaction(ctx, "t", kReplyDelayMs, true, false));
  LogMessageH(kOpen, "Exit");
  return ctx->nLastResult == kResultOk ? 0 : kOpenFailed;
}

int CMirelDriver::FailOpen(const char* szMessage, int32_t nCode) {
  FailH(kOpen, szMessage, nCode);
  LogMessageH(kOpen, "Exit");
  return kOpenFailed;
}

// One item of one piece per used VAT rate, named by its VAT amount.
bool CMirelDriver::SendCorrectionItems(const TaxEntry (&entries)[kCorrectionTaxEntries]) {
  FPContext* ctx = m_pDevice.get();
  for (const TaxEntry& e : entries) {
    if (e.nGross == 0) continue;
    ctx->nLastResult = kResultOk;
    char name[24];
    std::snprintf(name, sizeof name, "@%10.10lld", static_cast<long long>(e.nTax));
    ctx->nLastResult =
        ItemEx(kItemQuantity, static_cast<uint32_t>(e.nGross), name, e.nGroup, kSection, nullptr);
    if (ctx->nLastResult != kResultOk) return false;
  }
  return true;
}

// The base of the correction, the cashier's taxpayer number and the additional attribute.
bool CMirelDriver::SendCorrectionTags(const CorrectionData& data) {
  FPContext* ctx = m_pDevice.get();
  // Each tag only into the correction receipt the printer still holds.
  if (SetCorrectionBaseName(ctx, data.szCorrectionBaseName) != kResultOk || !ConfirmReceiptHeld(kOpen) ||
      SetCorrectionBaseNumber(ctx, data.szCorrectionBaseNumber) != kResultOk || !ConfirmReceiptHeld(kOpen) ||
      SetCorrectionBaseDate(ctx, data.bCorrectionType, data.szCorrectionBaseDate) != kResultOk ||
      !ConfirmReceiptHeld(kOpen)) {
    return false;
  }
  if (data.szCashierVATIN[0]) {
    if (SetTextAttribute(ctx, kAttributeCashierVatin, data.szCashierVATIN) != kResultOk) {
      LogMessageH(kOpen, "Error set VATIN");
      return false;
    }
    if (!ConfirmReceiptHeld(kOpen)) return false;
  }
  if (data.szAdditionalAttribute[0]) {
    if (SetTagData(ctx, kTagAdditionalAttribute, data.szAdditionalAttribute, true, false, -1) != kResultOk)
      LogMessageH(kOpen, "Error Additional Attribute set");
    if (!ConfirmReceiptHeld(kOpen)) return false;
  }
  return true;
}

bool CMirelDriver::PayCorrection(const CorrectionData& data) {
  FPContext* ctx = m_pDevice.get();
  for (const CorrectionPayment& p : kPayments) {
    const int64_t amount = data.*p.amount;
    if (amount <= 0) continue;
    if (Pay(ctx, p.type, amount) == kResultOk) {
      // The correction stays open after its payments, until its closing.
      if (!ConfirmReceiptHeld(kOpen)) return false;
      continue;
    }
    char name[32];
    std::snprintf(name, sizeof name, "%s (Pay \xB9 %d)", kOpen, p.type);
    LogMessageH(name, DriverErrorText(ctx->nLastResult));
    return false;
  }
  return true;
}

// The correction receipt failed. When the printer may have made it all the same (an answer lost
// after the payments), the fiscal drive decides, and a receipt it made is reported with its numbers
// so that the correction is never made twice. Otherwise the receipt is cancelled and the document
// ended, and the host learns the first cause.
bool CMirelDriver::FailCorrection(const char* szDeviceID, int nFailure, uint32_t nBefore, LONG* pnCheckNumber,
                                  LONG* pnSessionNumber, BSTR* pbstrFiscalSign) {
  FPContext* ctx = m_pDevice.get();
  bool reported = false;
  if (nFailure == kOpenFailed &&
      ReceiptMadeAfterAll(kName, nBefore, pnCheckNumber, pnSessionNumber, pbstrFiscalSign, &reported)) {
    return reported;
  }
  const SavedResult saved = SaveResult();
  CancelCheck(szDeviceID);
  EndCheck();
  RestoreResult(saved);
  if (nFailure == kTaxesUnbalanced)
    return FailH(kName, "Error calculating tax rates of check correction", kCodeCorrectionTaxes);
  if (nFailure == kRateMissing) {
    LogMessageHf(kName, "Error tax value: %u", static_cast<unsigned>(ctx->nLastResult));
    ctx->nLastResult = kResultWrongTax;
    return false;
  }
  LogMessageH(kName, "Open correction check error");
  return false;
}
