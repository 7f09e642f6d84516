#include "receipts/check_package.h"

#include <tinyxml.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>

#include "device/info_queries.h"
#include "device/result_codes.h"
#include "device/text_field.h"
#include "platform/codepage.h"

namespace {

// Host text echoed into a message is cut here: one long attribute must not flood the log.
constexpr int kEchoLimit = 200;
constexpr double kMaxQuantity = 99999;
constexpr int32_t kDefaultDepartment = 2;
// The device keeps its tax rates in hundredths of a percent (2000 for 20 %).
constexpr int kRateScale = 100;

// A required amount of an item and the code of its failures.
struct AmountField {
  const char* name;
  int32_t code;
  bool mustBePositive;  // else zero is allowed
};
constexpr AmountField kQuantity = {"Quantity", kResultBadItemQuantity, true};
constexpr AmountField kPrice = {"PriceWithDiscount", kResultBadItemPrice, false};
constexpr AmountField kSum = {"SumWithDiscount", kResultBadItemSum, false};

// An optional whole number of an item and its allowed range.
struct CodeField {
  const char* name;
  int32_t low;
  int32_t high;
  int32_t code;
  bool noteWhenAbsent;  // an absent value leaves its "missing" note in the message
};
constexpr CodeField kDepartment = {"Department", 1, 99, kResultBadCheckData, false};
constexpr CodeField kMethodCalculation = {"SignMethodCalculation", 1, 7, kResultBadMethodCalculation, true};
constexpr CodeField kCalculationObject = {"SignCalculationObject", 1, 18, kResultBadCalculationObject, true};

// A kind of payment, with the name later revisions of the host's interface give the same kind (an
// advance offset, a payment later, a counter-provision), so that a newer configuration's payment is
// never taken as none.
struct PaymentField {
  const char* name;
  const char* laterName;
  double CheckParameters::*amount;
  const char* negativeMessage;
};
constexpr PaymentField kPayments[] = {
    {"Cash", nullptr, &CheckParameters::dCash, "Cash is negative"},
    {"ElectronicPayment", nullptr, &CheckParameters::dElectronicPayment, "Electronic Payment is negative"},
    {"AdvancePayment", "PrePayment", &CheckParameters::dAdvancePayment, "Advance Payment is negative"},
    {"Credit", "PostPayment", &CheckParameters::dCredit, "Credit is negative"},
    {"CashProvision", "Barter", &CheckParameters::dCashProvision, "CashProvision is negative"},
};

// The Tax texts of an item. The standard rate is 20 % or 18 %, whichever the device is programmed for.
struct TaxText {
  const char* text;
  int32_t group;
  double rate;
  bool standardRate;  // rate: 20 or 18
};
constexpr TaxText kTaxTexts[] = {
    {"none", 0, -1, false}, {"18", 1, 0, true},     {"20", 1, 0, true},     {"10", 2, 10, false},
    {"0", 3, 0, false},     {"18/118", 4, 0, true}, {"20/120", 4, 0, true}, {"10/110", 5, 10, false},
};

struct BarcodeName {
  const char* name;
  BarcodeKind kind;
};
constexpr BarcodeName kBarcodeNames[] = {
    {"EAN13", kBarcodeEan13}, {"EAN8", kBarcodeEan8}, {"CODE39", kBarcodeCode39}, {"QR", kBarcodeQr}};

constexpr int kStampTypeDigits = 4;
constexpr size_t kGtinDigits = 15;
constexpr int kGtinBytes = 6;
constexpr int64_t kGtinLimit = int64_t{1} << 48;
constexpr size_t kSerialNumberAt = 8;

int32_t Fail(std::string* message, int32_t code, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Formats the message of a failure and gives its code back.
int32_t Fail(std::string* message, int32_t code, const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  *message = text;
  return code;
}

bool Present(const std::optional<std::string>& text) {
  return text && !text->empty();
}

// An attribute echoed into a message; a missing one shows as "(null)".
const char* Echo(const std::optional<std::string>& text) {
  return text ? text->c_str() : "(null)";
}

int32_t Missing(std::string* message, int32_t code, const TiXmlElement* element, const char* name) {
  return Fail(message, code, "Tag \"%s\"->\"%s\" missing or empty", element->Value(), name);
}

int32_t Invalid(std::string* message, int32_t code, const TiXmlElement* element, const char* name,
                const std::optional<std::string>& text) {
  return Fail(message, code, "Tag \"%s\"->\"%s\" error: %.*s", element->Value(), name, kEchoLimit,
              Echo(text));
}

// Exactly one digit in first..last.
bool IsOneDigit(const std::optional<std::string>& text, char first, char last) {
  return text && text->size() == 1 && (*text)[0] >= first && (*text)[0] <= last;
}

// A whole decimal number: an optional sign and digits, nothing else. False for any other text and for
// a value beyond int64, where C atoi's result is undefined.
bool ParseWholeNumber(std::string_view text, int64_t* value) {
  if (!text.empty() && text[0] == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text[0] == '-') return false;
  }
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, *value);
  return result.ec == std::errc() && result.ptr == end;
}

// The decimal number at the start of `text` (digits and at most one '.'), as C strtod reads it but
// with '.' as the decimal point whatever the locale: under a Russian locale strtod reads "1.5" as 1.
double LeadingDecimal(std::string_view text) {
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.remove_prefix(1);
  text = text.substr(0, text.find_first_of("+-"));  // a sign further on ends the number
  double value = 0;
  const auto result =
      std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
  if (result.ec == std::errc::result_out_of_range) {
    // Too large when the whole part has a non-zero digit; else too small.
    const bool large = text.substr(0, text.find('.')).find_first_not_of('0') != std::string_view::npos;
    value = large ? HUGE_VAL : 0;
  } else if (result.ec != std::errc()) {
    return 0;
  }
  return negative ? -value : value;
}

// Digits with at most one '.', an optional sign first: what an amount or a quantity is written as.
bool IsXmlNumber(std::string_view text) {
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) text.remove_prefix(1);
  const size_t point = text.find('.');
  const std::string_view whole = text.substr(0, point);
  const std::string_view fraction = point == std::string_view::npos ? "" : text.substr(point + 1);
  const auto digits = [](std::string_view s) { return s.find_first_not_of("0123456789") == s.npos; };
  return whole.size() + fraction.size() > 0 && digits(whole) && digits(fraction);
}

// An optional amount: 0 when absent or empty; a text that is not a number is refused.
int32_t ReadOptionalAmount(const TiXmlElement* element, const char* name,
                           const std::optional<std::string>& text, double* value, std::string* message) {
  *value = 0;
  if (!Present(text)) return kResultOk;
  if (!IsXmlNumber(*text)) return Invalid(message, kResultBadCheckData, element, name, text);
  *value = ParseXmlNumber(text->c_str());
  return kResultOk;
}

// Converts a whole-valued double to T: the nearest bound of T outside its range, 0 for NaN.
template <typename T>
T SaturatedCast(double whole) {
  constexpr double kLow = static_cast<double>(std::numeric_limits<T>::min());  // -2^31 or -2^63, exact
  if (std::isnan(whole)) return 0;
  if (whole < kLow) return std::numeric_limits<T>::min();
  if (whole >= -kLow) return std::numeric_limits<T>::max();
  return static_cast<T>(whole);
}

// StampType: up to four hexadecimal digits, left-padded with '0', into two bytes. A longer text, or
// one with anything but hexadecimal digits, leaves them zero.
void StoreStampType(const std::optional<std::string>& text, uint8_t* bytes) {
  if (!text || text->size() > kStampTypeDigits) return;
  const std::string digits = std::string(kStampTypeDigits - text->size(), '0') + *text;
  unsigned value = 0;
  const char* end = digits.data() + digits.size();
  const auto result = std::from_chars(digits.data(), end, value, 16);
  if (result.ec != std::errc() || result.ptr != end) return;
  bytes[0] = static_cast<uint8_t>(value >> 8);
  bytes[1] = static_cast<uint8_t>(value);
}

// GTIN: the number of its first 15 characters, when below 2^48, in six bytes, most significant first.
void StoreGtin(const std::optional<std::string>& text, uint8_t* bytes) {
  int64_t value = 0;
  if (!text || !ParseWholeNumber(std::string_view(*text).substr(0, kGtinDigits), &value)) return;
  if (value < 0 || value >= kGtinLimit) return;
  for (int i = kGtinBytes - 1; i >= 0; --i, value >>= 8) bytes[i] = static_cast<uint8_t>(value);
}

int32_t ReadText(const TiXmlElement* element, const char* name, int32_t code,
                 std::optional<std::string>* text, std::string* message) {
  *text = GetXmlAttr(element, name);
  return Present(*text) ? kResultOk : Missing(message, code, element, name);
}

int32_t ReadAmount(const TiXmlElement* element, const AmountField& field, double* value,
                   std::string* message) {
  const auto text = GetXmlAttr(element, field.name);
  if (!Present(text)) return Missing(message, field.code, element, field.name);
  *value = ParseXmlNumber(text->c_str());
  const bool valid = IsXmlNumber(*text) && (field.mustBePositive ? *value > 0 : *value >= 0);
  return valid ? kResultOk : Invalid(message, field.code, element, field.name, text);
}

// An absent value leaves *value as it is.
int32_t ReadCode(const TiXmlElement* element, const CodeField& field, int32_t* value, std::string* message) {
  const auto text = GetXmlAttr(element, field.name);
  if (!text) {
    if (field.noteWhenAbsent) Missing(message, kResultOk, element, field.name);
    return kResultOk;
  }
  int64_t number = 0;
  if (!ParseWholeNumber(*text, &number) || number < field.low || number > field.high) {
    return Invalid(message, field.code, element, field.name, text);
  }
  *value = static_cast<int32_t>(number);
  return kResultOk;
}

// An agent sign, when given, is one digit 0..6, kept as the bit of that number.
int32_t ReadAgentSign(const TiXmlElement* element, const char* name, uint8_t* mask, std::string* message) {
  const auto text = GetXmlAttr(element, name);
  if (!text) return kResultOk;
  if (!IsOneDigit(text, '0', '6')) return Invalid(message, kResultBadAgentSign, element, name, text);
  *mask = static_cast<uint8_t>(1u << ((*text)[0] - '0'));
  return kResultOk;
}

// The cashier's name goes to the device context, where the cashier commands take it from; a package
// without one keeps the name of the settings. The older context kind prints at most 35 characters.
int32_t ReadCashierName(FPContext* ctx, const TiXmlElement* parameters, std::string* message) {
  const auto name = GetXmlAttr(parameters, "CashierName");
  if (Present(name)) {
    const size_t size = std::min<size_t>(ctx->nContextKind < 2 ? 36 : 65, sizeof ctx->szClerkName);
    CopyText(ctx->szClerkName, size, name->c_str());
    return kResultOk;
  }
  if (ctx->szClerkName[0]) return kResultOk;
  message->clear();
  return kResultNoClerkName;
}

int32_t ReadPaymentType(const TiXmlElement* parameters, CheckParameters* params, std::string* message) {
  const auto text = GetXmlAttr(parameters, "PaymentType");
  if (!IsOneDigit(text, '1', '4')) {
    return Fail(message, kResultBadCheckData, "Error type operation: %.*s", kEchoLimit, Echo(text));
  }
  const char type = (*text)[0];
  params->bIncome = type <= '2';
  params->bReturn = type == '2' || type == '4';
  return kResultOk;
}

int32_t ReadTaxVariant(const FPContext* ctx, const TiXmlElement* parameters, CheckParameters* params,
                       std::string* message) {
  const auto text = GetXmlAttr(parameters, "TaxVariant");
  if (!IsOneDigit(text, '0', '5')) {
    return Fail(message, kResultBadCheckData, "Error tax variant: %.*s", kEchoLimit,
                text ? text->c_str() : "is absent");
  }
  params->nTaxVariant = (*text)[0] - '0';
  if (!(ctx->nFdTaxSystems & (1u << params->nTaxVariant))) {
    return Fail(message, kResultTaxSystemNotRegistered, "Tax variant %u not supported",
                static_cast<unsigned>(params->nTaxVariant));
  }
  return kResultOk;
}

void ReadCustomer(const TiXmlElement* parameters, CheckParameters* params) {
  CopyLimited(params->szCustomerEmail, GetXmlAttr(parameters, "CustomerEmail"));
  CopyLimited(params->szCustomerPhone, GetXmlAttr(parameters, "CustomerPhone"));
  CopyVatin(params->szCustomerINN, GetXmlAttr(parameters, "CustomerINN"));
  CopyLimited(params->szCustomerInfo, GetXmlAttr(parameters, "CustomerInfo"));
  CopyLimited(params->szAdditionalAttribute, GetXmlAttr(parameters, "AdditionalAttribute"));
}

int32_t ReadPayments(const TiXmlElement* payments, CheckParameters* params, std::string* message) {
  if (!payments) return Fail(message, kResultBadCheckData, "Tag \"Payments\" is absent");
  bool paid = false;
  for (const PaymentField& field : kPayments) {
    const char* name = field.name;
    std::optional<std::string> text = GetXmlAttr(payments, name);
    const std::optional<std::string> later =
        field.laterName ? GetXmlAttr(payments, field.laterName) : std::nullopt;
    if (Present(text) && Present(later)) {
      return Fail(message, kResultBadCheckData, "Tag \"Payments\": both \"%s\" and \"%s\" given", name,
                  field.laterName);
    }
    if (!Present(text) && Present(later)) {
      name = field.laterName;
      text = later;
    }
    double& amount = params->*field.amount;
    const int32_t r = ReadOptionalAmount(payments, name, text, &amount, message);
    if (r) return r;
    if (amount < 0) return Fail(message, kResultBadCheckData, "%s", field.negativeMessage);
    // None is negative, so the kopecks add up to more than 0 exactly when one of them does; testing
    // each one cannot overflow as a sum of five huge amounts would.
    paid = paid || RoundToInt64(amount * 100) > 0;
  }
  return paid ? kResultOk : Fail(message, kResultBadCheckData, "Payments not set");
}

// Name, quantity, price and sum of an item, in the order their failures are reported.
int32_t ReadItemAmounts(const TiXmlElement* element, CheckPosition* position, std::string* message) {
  std::optional<std::string> name;
  int32_t r = ReadText(element, "Name", kResultBadItemName, &name, message);
  if (r) return r;
  CopyLimited(position->szName, name);
  r = ReadAmount(element, kQuantity, &position->dQuantity, message);
  if (!r && position->dQuantity > kMaxQuantity) {
    r = Invalid(message, kResultQuantityAboveLimit, element, kQuantity.name,
                GetXmlAttr(element, kQuantity.name));
  }
  if (!r) r = ReadAmount(element, kPrice, &position->dPriceWithDiscount, message);
  if (!r) r = ReadAmount(element, kSum, &position->dSumWithDiscount, message);
  return r;
}

int32_t ReadItemTax(const FPContext* ctx, const TiXmlElement* element, CheckPosition* position,
                    std::string* message) {
  std::optional<std::string> tax;
  const int32_t r = ReadText(element, "Tax", kResultWrongTax, &tax, message);
  if (r) return r;
  if (!MapTaxAttribute(tax->c_str(), IsTaxRateProgrammed(ctx, 20), position)) {
    return Invalid(message, kResultWrongTax, element, "Tax", tax);
  }
  return kResultOk;
}

// The fields every item must have, checked before anything of the receipt is sent.
int32_t PreCheckItem(const TiXmlElement* element, std::string* message) {
  std::optional<std::string> text;
  double value = 0;
  int32_t r = ReadText(element, "Name", kResultBadItemName, &text, message);
  if (!r) r = ReadAmount(element, kQuantity, &value, message);
  if (!r) r = ReadAmount(element, kPrice, &value, message);
  if (!r) r = ReadAmount(element, kSum, &value, message);
  if (!r) r = ReadText(element, "Tax", kResultWrongTax, &text, message);
  return r;
}

int32_t PreCheck(FPContext* ctx, const TiXmlDocument* document, std::string* message) {
  if (!document) return Fail(message, kResultBadCheckData, "Check is absent");
  ctx->nLastResult = kResultOk;
  // The items' tax rates are mapped against the rates the device has now.
  const int32_t rates = ReadS3InCall(ctx);
  if (rates != kResultOk) return Fail(message, rates, "Get data S3 error");
  const TiXmlElement* package = document->FirstChildElement("CheckPackage");
  if (!package) return Fail(message, kResultBadCheckData, "Tag \"CheckPackage\" is absent");
  const TiXmlElement* positions = package->FirstChildElement("Positions");
  if (!positions) return Fail(message, kResultBadCheckData, "Tag \"Positions\" is absent");
  const TiXmlElement* item = positions->FirstChildElement("FiscalString");
  if (!item) return Fail(message, kResultBadCheckData, "Check is empty. Tags \"FiscalString\" is absent");
  for (; item; item = item->NextSiblingElement("FiscalString")) {
    const int32_t r = PreCheckItem(item, message);
    if (r) return r;
  }
  return kResultOk;
}

}  // namespace

std::optional<std::string> GetXmlAttr(const TiXmlElement* element, const char* name) {
  const char* value = element ? element->Attribute(name) : nullptr;
  if (!value) return std::nullopt;
  return plat::Utf8ToCp1251(value);
}

double ParseXmlNumber(const char* text) {
  if (!text) return 0;
  int points = 0;
  int signs = 0;
  for (const char* p = text; *p; ++p) {
    if (*p == '.') {
      ++points;
    } else if (*p == '+' || *p == '-') {
      ++signs;
    } else if (*p < '0' || *p > '9') {
      return 0;
    }
  }
  return points > 1 || signs > 1 ? 0 : LeadingDecimal(text);
}

int32_t RoundToInt(double x) {
  const double magnitude = std::trunc((std::fabs(x) * 2 + 1) / 2);
  return SaturatedCast<int32_t>(x < 0 ? -magnitude : magnitude);
}

int64_t RoundToInt64(double x) {
  return SaturatedCast<int64_t>(std::trunc((x * 2 + 1) / 2));
}

bool IsTaxRateProgrammed(const FPContext* ctx, int percent) {
  return std::find(std::begin(ctx->anTaxRates), std::end(ctx->anTaxRates), percent * kRateScale) !=
         std::end(ctx->anTaxRates);
}

bool MapTaxAttribute(const char* text, bool twentyPercent, CheckPosition* position) {
  for (const TaxText& t : kTaxTexts) {
    if (std::strcmp(text, t.text) != 0) continue;
    position->nTaxGroup = t.group;
    position->dTaxRate = t.standardRate ? (twentyPercent ? 20 : 18) : t.rate;
    return true;
  }
  return false;
}

void ParseAgentData(const TiXmlElement* element, AgentBlock* block) {
  CopyLimited(block->szPayingAgentOperation, GetXmlAttr(element, "PayingAgentOperation"));
  CopyLimited(block->szPayingAgentPhone, GetXmlAttr(element, "PayingAgentPhone"));
  CopyLimited(block->szReceivePaymentsOperatorPhone, GetXmlAttr(element, "ReceivePaymentsOperatorPhone"));
  CopyLimited(block->szMoneyTransferOperatorPhone, GetXmlAttr(element, "MoneyTransferOperatorPhone"));
  CopyLimited(block->szMoneyTransferOperatorName, GetXmlAttr(element, "MoneyTransferOperatorName"));
  CopyLimited(block->szMoneyTransferOperatorAddress, GetXmlAttr(element, "MoneyTransferOperatorAddress"));
  CopyVatin(block->szMoneyTransferOperatorVATIN, GetXmlAttr(element, "MoneyTransferOperatorVATIN"));
}

void ParsePurveyorData(const TiXmlElement* element, AgentBlock* block) {
  CopyLimited(block->szPurveyorPhone, GetXmlAttr(element, "PurveyorPhone"));
  CopyLimited(block->szPurveyorName, GetXmlAttr(element, "PurveyorName"));
  CopyVatin(block->szPurveyorVATIN, GetXmlAttr(element, "PurveyorVATIN"));
}

void ParseGoodCodeData(const TiXmlElement* element, uint8_t* code) {
  std::memset(code, 0, kGoodCodeLength);
  StoreStampType(GetXmlAttr(element, "StampType"), code);
  StoreGtin(GetXmlAttr(element, "GTIN"), code + 2);
  if (const auto serial = GetXmlAttr(element, "SerialNumber")) {
    std::memcpy(code + kSerialNumberAt, serial->data(),
                std::min(serial->size(), kGoodCodeLength - kSerialNumberAt));
  }
}

int32_t ParseCheckParameters(FPContext* ctx, const TiXmlDocument* document, CheckParameters* params,
                             std::string* message) {
  if (!document || !params) return Fail(message, kResultBadCheckData, "Check data can not be processed");
  *params = CheckParameters();
  const TiXmlElement* package = document->FirstChildElement("CheckPackage");
  const TiXmlElement* parameters = package ? package->FirstChildElement("Parameters") : nullptr;
  if (!parameters) return Fail(message, kResultBadCheckData, "Tag \"Parameters\" is absent");
  int32_t r = ReadCashierName(ctx, parameters, message);
  if (r) return r;
  CopyVatin(params->szCashierVATIN, GetXmlAttr(parameters, "CashierVATIN"));
  r = ReadPaymentType(parameters, params, message);
  if (!r) r = ReadTaxVariant(ctx, parameters, params, message);
  if (r) return r;
  ReadCustomer(parameters, params);
  r = ReadAgentSign(parameters, "AgentSign", &params->nAgentSignMask, message);
  if (r) return r;
  ParseAgentData(parameters->FirstChildElement("AgentData"), &params->agent);
  ParsePurveyorData(parameters->FirstChildElement("PurveyorData"), &params->agent);
  return ReadPayments(package->FirstChildElement("Payments"), params, message);
}

int32_t ParseFiscalString(FPContext* ctx, const TiXmlElement* element, CheckPosition* position,
                          std::string* message) {
  if (!element || !position) return Fail(message, kResultBadCheckData, "Fiscal data can not be processed");
  *position = CheckPosition();
  int32_t r = ReadItemAmounts(element, position, message);
  if (r) return r;
  r = ReadOptionalAmount(element, "DiscountSum", GetXmlAttr(element, "DiscountSum"), &position->dDiscountSum,
                         message);
  if (r) return r;
  position->nDepartment = kDefaultDepartment;
  r = ReadCode(element, kDepartment, &position->nDepartment, message);
  if (!r) r = ReadItemTax(ctx, element, position, message);
  if (!r) r = ReadCode(element, kMethodCalculation, &position->nSignMethodCalculation, message);
  if (!r) r = ReadCode(element, kCalculationObject, &position->nSignCalculationObject, message);
  if (!r) r = ReadAgentSign(element, "SignSubjectCalculationAgent", &position->nAgentSignMask, message);
  if (r) return r;
  CopyLimited(position->szMeasurementUnit, GetXmlAttr(element, "MeasurementUnit"));
  ParseAgentData(element->FirstChildElement("AgentData"), &position->agent);
  ParsePurveyorData(element->FirstChildElement("PurveyorData"), &position->agent);
  ParseGoodCodeData(element->FirstChildElement("GoodCodeData"), position->abGoodCode);
  return kResultOk;
}

BarcodeKind BarcodeKindOf(const char* type) {
  for (const BarcodeName& b : kBarcodeNames) {
    if (type && std::strcmp(type, b.name) == 0) return b.kind;
  }
  return kBarcodeNone;
}

int32_t ParseBarcode(const TiXmlElement* element, CheckBarcode* barcode, std::string* message) {
  const auto type = GetXmlAttr(element, "BarcodeType");
  if (!Present(type)) return Fail(message, kResultBadCheckData, "Tag \"Barcode\"->\"BarcodeType\" error");
  barcode->kind = BarcodeKindOf(type->c_str());
  if (barcode->kind == kBarcodeNone)
    return Invalid(message, kResultBadCheckData, element, "BarcodeType", type);
  const auto data = GetXmlAttr(element, "Barcode");
  if (!Present(data)) return Fail(message, kResultBadCheckData, "Tag \"Barcode\"->\"Barcode\" error");
  barcode->data = *data;
  return kResultOk;
}

bool TestCheckXML(FPContext* ctx, const TiXmlDocument* document) {
  std::string message;
  ctx->nLastResult = PreCheck(ctx, document, &message);
  if (ctx->nLastResult != kResultOk && ctx->pfnLogMessageH)
    ctx->pfnLogMessageH(ctx, "TestCheckXML", message.c_str());
  return ctx->nLastResult == kResultOk;
}
