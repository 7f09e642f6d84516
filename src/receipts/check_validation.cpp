#include "receipts/check_validation.h"

#include <tinyxml.h>

#include <cstdio>

#include "device/receipt_commands.h"
#include "device/result_codes.h"
#include "receipts/check_package.h"
#include "receipts/fiscal_lines.h"

namespace {

// A package field the steps would refuse: its code and message.
int32_t Refuse(std::string* message, int32_t code, const char* text) {
  *message = text;
  return code;
}

// An electronic receipt reaches the buyer only through the phone or e-mail it carries (fiscal tag
// 1008).
int32_t CheckBuyerContact(const CheckParameters& params, bool electronically, std::string* message,
                          std::string* detail) {
  if (!electronically || params.szCustomerPhone[0] || params.szCustomerEmail[0]) return kResultOk;
  *detail =
      "Для электронного чека нужен телефон или адрес электронной почты покупателя "
      "(CustomerPhone или CustomerEmail)";
  return Refuse(message, kResultBadInput, "Electronic check without CustomerPhone or CustomerEmail");
}

// Each FiscalString as the item step reads and judges it; `*total` receives the items' sum in
// kopecks.
int32_t CheckItems(FPContext* ctx, const TiXmlElement* positions, const CheckParameters& params,
                   int64_t* total, std::string* message) {
  for (const TiXmlElement* e = positions->FirstChildElement("FiscalString"); e;
       e = e->NextSiblingElement("FiscalString")) {
    CheckPosition position;
    int32_t r = ParseFiscalString(ctx, e, &position, message);
    ItemAmounts amounts;
    if (!r) r = CheckItemAmounts(ctx, position, &amounts, message);
    if (r) return r;
    // A sale or purchase prints a discount as its own line after the item at its full price.
    ItemBeforeDiscount item{};
    if (!params.bReturn && amounts.discount != 0 &&
        !PriceBeforeDiscount(amounts.quantity, amounts.sum, amounts.discount, &item)) {
      return Refuse(message, kCodePriceTooLarge, "Price exceeded the maximum value");
    }
    *total += amounts.sum;
  }
  return kResultOk;
}

// The payments against the items' total, in kopecks. A sale or a purchase must be paid in full, and
// its change can come only from cash; a return pays back exactly its total, what cash is given
// beyond it being handed back as change.
int32_t CheckPayments(const CheckParameters& params, int64_t total, std::string* message) {
  int64_t cash = 0;
  int64_t cashless = 0;
  for (const double CheckParameters::*kind :
       {&CheckParameters::dElectronicPayment, &CheckParameters::dAdvancePayment, &CheckParameters::dCredit,
        &CheckParameters::dCashProvision}) {
    int64_t kopecks = 0;
    if (!KopecksWithin(params.*kind, kMaxPayment, &kopecks))
      return Refuse(message, kCodePaymentTooLarge, "Type of payment value error");
    cashless += kopecks;
  }
  if (!KopecksWithin(params.dCash, kMaxPayment, &cash))
    return Refuse(message, kCodePaymentTooLarge, "Type of payment value error");
  const int64_t paid = cash + cashless;
  if (paid > kMaxPaymentsSum) return Refuse(message, kCodeTotalTooLarge, "Total check value error");
  if (params.bReturn) {
    const int64_t change = paid - total;
    if (change != 0 && (change < 0 || change >= cash))
      return Refuse(message, kCodeExactPaymentRequired, "Exact Payment Required");
    return kResultOk;
  }
  if (paid < total) {
    char text[96];
    std::snprintf(text, sizeof text, "Payments %lld below the total %lld", static_cast<long long>(paid),
                  static_cast<long long>(total));
    return Refuse(message, kCodePaymentBelowTotal, text);
  }
  if (cashless > total) return Refuse(message, kCodeCashlessAboveTotal, "Error Payment");
  return kResultOk;
}

}  // namespace

int32_t ValidateCheckPackage(FPContext* ctx, const TiXmlDocument* document, const CheckParameters& params,
                             bool electronically, std::string* message, std::string* detail) {
  int32_t r = CheckBuyerContact(params, electronically, message, detail);
  if (r) return r;
  const TiXmlElement* package = document->FirstChildElement("CheckPackage");
  const TiXmlElement* positions = package ? package->FirstChildElement("Positions") : nullptr;
  if (!positions) return Refuse(message, kResultBadCheckData, "Tag \"Positions\" is absent");
  int64_t total = 0;
  r = CheckItems(ctx, positions, params, &total, message);
  return r ? r : CheckPayments(params, total, message);
}
