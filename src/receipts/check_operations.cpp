// The receipt-level operations between check processing and the document layer: opening a
// receipt, one item with its discount line, the payments of the package, the closing, and the
// drawer's cash test of a cash-out.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "device/bringup.h"
#include "device/info_queries.h"
#include "device/info_records.h"
#include "device/receipt_commands.h"
#include "device/result_codes.h"
#include "device/status.h"
#include "driver/mirel_driver.h"
#include "receipts/check_package.h"
#include "receipts/document_types.h"
#include "receipts/fiscal_lines.h"

namespace {

// The printer programs its payment means from the settings only on model codes from 6 on; the NZ1
// record tells whether they still need programming.
constexpr int kFirstModelWithPaymentMeans = 6;
constexpr int kNZ1PaymentsMark = 4;

// The discount line of an item: the printer prints the one character 0x7F as the word "discount".
constexpr char kDiscountText[] = "\x7F";

constexpr int kTenderCash = 8;

// The cashless kinds of the package in the order they are tendered, with their payment types.
struct CashlessKind {
  double CheckParameters::*amount;
  int type;
  const char* name;
};
constexpr CashlessKind kCashless[] = {
    {&CheckParameters::dElectronicPayment, 1, "lCashless1"},
    {&CheckParameters::dAdvancePayment, 5, "lCashless2"},
    {&CheckParameters::dCashProvision, 6, "lCashless3"},
    {&CheckParameters::dCredit, 7, "lCashless4"},
};

int DocumentType(bool fiscal, bool isReturn, bool purchase) {
  if (!fiscal) return doc::kNonFiscal;
  if (purchase) return isReturn ? doc::kPurchaseReturn : doc::kPurchase;
  return isReturn ? doc::kSaleReturn : doc::kSale;
}

}  // namespace

bool CMirelDriver::IsDeviceIDOf(const char* szName, const char* szDeviceID) {
  if (!szDeviceID || !*szDeviceID || !*m_strOdinSDeviceID) {
    LogMessageH(szName, "((!strDeviceID) || (!m_strOdinSDeviceID) return FALSE");
    return false;
  }
  if (std::strcmp(szDeviceID, m_strOdinSDeviceID) != 0) {
    LogMessageH(szName, "strDeviceID != m_strOdinSDeviceID return FALSE");
    return false;
  }
  return true;
}

// Whether the printer still waits for its payment means; nothing is sent for them here.
void CMirelDriver::NotePaymentProgramming() {
  FPContext* ctx = m_pDevice.get();
  bool program = true;
  if ((ctx->nVersionCode >> 8) >= kFirstModelWithPaymentMeans) {
    const int32_t read = GetBasicSNZ1Info(ctx);
    if (read != kResultOk) {
      LogMessageHf("OpenCheck", "GetBasicSNZ1Info(OpenCheck) error %s", DriverErrorText(read));
      program = false;
    }
    if (ctx->infoSNZ1[kNZ1PaymentsMark] == '0') program = true;
    if (ctx->infoSNZ1[kNZ1PaymentsMark] == '1') program = false;
  }
  if (program) LogMessageH("OpenCheck", "Program payments");
}

bool CMirelDriver::OpenCheck(const char* szDeviceID, bool bFiscal, bool bReturn, bool bPurchase,
                             bool bCancelOpenedCheck, LONG* pnCheckNumber, LONG* pnSessionNumber) {
  FPContext* ctx = m_pDevice.get();
  LogEnterH("OpenCheck");
  if (!IsDeviceIDOf("OpenCheck", szDeviceID)) return false;
  NotePaymentProgramming();
  ctx->nDeviceError = 0;
  const int status2 = GetStatus2(ctx);
  if (status2 != 5) {
    ctx->nLastResult = MapLinkResult(ctx, status2);
    LogMessageH("OpenCheck", "Status2 not received");
    return false;
  }
  if ((ctx->status2[0] & 0x01) == 0) {
    LogMessageH("OpenCheck", "Start session");
    FixDeviceVersion(ctx);
    return false;
  }
  if (m_nDocumentType != 0) {
    if (!bCancelOpenedCheck) {
      ctx->nLastResult = kCodeDocumentAlreadyOpen;
      LogMessageH("OpenCheck", "Open document found, CancelOpenedCheck=false");
      return false;
    }
    if (!CancelCheck(szDeviceID)) {
      LogMessageH("OpenCheck", "Error canceling opened document");
      return false;
    }
  }
  ctx->nLastResult = GetBasicInfo(ctx);
  if (ctx->nLastResult != kResultOk) {
    LogMessageH("OpenCheck", "S1 Info not received");
    return false;
  }
  LogMessageH("OpenCheck", "S1 Info received");
  const LONG checkNumber = static_cast<LONG>(S1Number(ctx, S1Field::kLastReceipt) + 1);
  const LONG sessionNumber = static_cast<LONG>(S1Number(ctx, S1Field::kShift));
  if (pnCheckNumber) *pnCheckNumber = checkNumber;
  if (pnSessionNumber) *pnSessionNumber = sessionNumber;
  LogMessageHf("OpenCheck", "CheckNumber = %d", static_cast<int>(checkNumber));
  LogMessageHf("OpenCheck", "SessionNumber = %d", static_cast<int>(sessionNumber));
  ctx->nLastResult = StartDocument(DocumentType(bFiscal, bReturn, bPurchase), 1, 0, m_szClerkName);
  LogMessageH("OpenCheck", "Exit");
  return ctx->nLastResult == kResultOk;
}

// The failure of one check of PrintFiscalString: its message and code.
bool CMirelDriver::FailItem(const char* szMessage, int32_t nCode) {
  LogMessageH("OdinS_PrintFiscalString", szMessage);
  m_pDevice->nLastResult = nCode;
  return false;
}

bool CMirelDriver::PrintFiscalString(const char* szDeviceID, const CheckPosition& position) {
  static const char kName[] = "OdinS_PrintFiscalString";
  FPContext* ctx = m_pDevice.get();
  LogEnterH(kName);
  if (!IsDeviceIDOf(kName, szDeviceID)) return false;
  LogMessageHf(kName, "strName = %s", position.szName);
  LogMessageHf(kName, "Quantity = %f", position.dQuantity);
  LogMessageHf(kName, "PriceWithDiscount = %f", position.dPriceWithDiscount);
  LogMessageHf(kName, "SumWithDiscount = %f", position.dSumWithDiscount);
  LogMessageHf(kName, "Department = %d", position.nDepartment);
  LogMessageHf(kName, "Tax = %f", position.dTaxRate);
  const double sum = static_cast<double>(RoundToInt64(position.dSumWithDiscount * 100)) / 100;
  LogMessageHf(kName, "SumWithDiscount rounded = %f", sum);
  const std::string name = LayOutItemName(position.szName, ctx->nLineWidth, ctx->nMaxItemNameLength);
  ctx->nDeviceError = 0;
  if (m_nDocumentType == 0) return FailItem("DocumentType = 0", kCodeNoOpenDocument);

  // The item's rate is judged against the rates the printer has now.
  ctx->nLastResult = ReadS3InCall(ctx);
  ItemAmounts amounts;
  std::string failure;
  const int32_t judged = CheckItemAmounts(ctx, position, &amounts, &failure);
  if (judged != kResultOk) return FailItem(failure.c_str(), judged);
  LogMessageHf(kName, "dTotal = %f", position.dSumWithDiscount);
  LogMessageHf(kName, "dTotal rounded = %f", sum);
  LogMessageHf(kName, "dDiscountValue = %f", position.dDiscountSum);
  if (!RegisterItem(amounts.quantity, amounts.price, amounts.sum, name.c_str(), position, amounts.discount))
    return false;
  LogMessageHf(kName, "LastErrorCode = %d", ctx->nLastResult);
  LogMessageH(kName, "Exit");
  return ctx->nLastResult == kResultOk;
}

// The item command of the open document, and the discount line of a sale or purchase: the item
// at its price before the discount, so that the printer's sum after the line is the host's sum.
bool CMirelDriver::RegisterItem(int32_t q, int64_t p, int64_t s, const char* szName,
                                const CheckPosition& position, int32_t nDiscount) {
  static const char* const kKinds[] = {nullptr, "Sale",  "Sale undo", nullptr,    nullptr,
                                       nullptr, nullptr, nullptr,     "Purchase", "Purchase undo"};
  FPContext* ctx = m_pDevice.get();
  const bool known =
      m_nDocumentType >= 0 && m_nDocumentType <= doc::kPurchaseReturn && kKinds[m_nDocumentType];
  if (!known) return FailItem("Unsupported doc type; Exit", kCodeUnsupportedDocument);
  LogMessageH("OdinS_PrintFiscalString", kKinds[m_nDocumentType]);
  const bool discountLine =
      (m_nDocumentType == doc::kSale || m_nDocumentType == doc::kPurchase) && nDiscount != 0;
  ItemBeforeDiscount item{p, 0};
  if (discountLine && !PriceBeforeDiscount(q, s, nDiscount, &item))
    return FailItem("Price exceeded the maximum value", kCodePriceTooLarge);
  ctx->nLastResult = ItemEx(q, static_cast<uint32_t>(item.price), szName, position.nTaxGroup,
                            position.nDepartment, &position);
  if (ctx->nLastResult != kResultOk) return false;
  if (item.line != 0) ctx->nLastResult = AbsoluteCorrectionText(static_cast<int>(item.line), kDiscountText);
  return ctx->nLastResult == kResultOk;
}

bool CMirelDriver::FailPayment(const char* szMessage, int32_t nCode) {
  LogMessageH("PaymentCheck", szMessage);
  m_pDevice->nLastResult = nCode;
  return false;
}

// One tender of the package's payments, with its log lines.
bool CMirelDriver::TenderLogged(int64_t nAmount, int nType, const char* szName) {
  LogMessageHf("PaymentCheck", "Tender(%s)", szName);
  m_pDevice->nLastResult = Tender(nAmount, nType, "", "");
  if (m_pDevice->nLastResult == kResultOk) return true;
  LogMessageHf("PaymentCheck", "Error in Tender(%s)", szName);
  return false;
}

bool CMirelDriver::PaymentCheck(const CheckParameters& params) {
  FPContext* ctx = m_pDevice.get();
  LogEnterH("PaymentCheck");
  ctx->nDeviceError = 0;
  if (m_nDocumentType == 0) return FailPayment("DocumentType = 0", kCodeNoOpenDocument);
  int64_t cash = 0;
  if (!KopecksWithin(params.dCash, kMaxPayment, &cash))
    return FailPayment("Type of payment value error", kCodePaymentTooLarge);
  LogMessageHf("PaymentCheck", "%lld", static_cast<long long>(cash));
  int64_t cashless[4] = {};
  int64_t sum = cash;
  for (size_t i = 0; i < 4; ++i) {
    if (!KopecksWithin(params.*kCashless[i].amount, kMaxPayment, &cashless[i]))
      return FailPayment("Type of payment value error", kCodePaymentTooLarge);
    LogMessageHf("PaymentCheck", "%lld", static_cast<long long>(cashless[i]));
    sum += cashless[i];
  }
  const int64_t total = GetDocInfo(doc::kInfoDocumentTotal);
  LogMessageHf("PaymentCheck", "%lld", static_cast<long long>(sum));
  LogMessageHf("PaymentCheck", "%lld", static_cast<long long>(total));
  if (sum > kMaxPaymentsSum) return FailPayment("Total check value error", kCodeTotalTooLarge);
  // Nothing is paid into a receipt that is not the one the items went into.
  if (!ConfirmReceiptTotal("PaymentCheck", total)) return false;
  // A sale return and a purchase pay cash out of the drawer.
  if (m_nDocumentType == doc::kSaleReturn || m_nDocumentType == doc::kPurchase) {
    if (RoundToInt64(GetDoubleDeviceInfo(doc::kInfoDrawerCash)) < cash)
      return FailPayment("lSessionCash < lCash", kCodeNotEnoughCash);
  }
  if (m_nDocumentType == doc::kSaleReturn && sum != total)
    return FailPayment("Exact Payment Required", kCodeExactPaymentRequired);
  for (size_t i = 0; i < 4; ++i) {
    if (cashless[i] > 0 && !TenderLogged(cashless[i], kCashless[i].type, kCashless[i].name)) return false;
  }
  const int status = GetStatus(ctx, true);
  if (status != 2) {
    ctx->nLastResult = MapLinkResult(ctx, status);
    return false;
  }
  // The cashless tenders may have paid the whole receipt, which the printer then closed.
  if (m_nDocumentType == doc::kSale && IsFiscalReceiptOpen(ctx) == 0) return true;
  if (m_nDocumentType == doc::kSaleReturn && IsNonfiscalReceiptOpen(ctx) == 0) return true;
  if (cash > 0 || sum == 0) return TenderLogged(cash, kTenderCash, "lCash");
  return true;
}

bool CMirelDriver::EndCheck() {
  LogEnterH("EndCheck");
  m_pDevice->nLastResult = EndDocument();
  return m_pDevice->nLastResult == kResultOk;
}

int32_t CMirelDriver::TestCashOut(double dAmount, int32_t nCode) {
  LogEnterH("TestCashOut");
  // No amount at all is not a question of the drawer's cash; one past any payment is more than it holds.
  if (!std::isfinite(dAmount) || dAmount < 0) return nCode;
  int64_t amount = 0;
  const bool fits = KopecksWithin(dAmount, kMaxPayment, &amount);
  const int64_t drawer = RoundToInt64(GetDoubleDeviceInfo(doc::kInfoDrawerCash));
  if (fits && drawer >= amount) return nCode;
  LogMessageH("TestCashOut", "lSessionCash < lCash");
  return kCodeNotEnoughCash;
}
