#include "receipts/correction_package.h"

#include <tinyxml.h>

#include <cstdio>
#include <cstring>
#include <optional>

#include "device/receipt_commands.h"
#include "device/result_codes.h"
#include "platform/clock.h"
#include "receipts/check_package.h"
#include "receipts/fiscal_lines.h"

namespace {

// Host text echoed into a message is cut here: one long attribute must not flood the log.
constexpr size_t kEchoLimit = 200;
constexpr int32_t kDeviceErrorTaxSystem = 291;
constexpr char kNotGiven[] = "-";
// Fiscal drives keep documents from 2016 on: no settlement a correction receipt corrects is older,
// and within this century the printer's two-digit year stays unambiguous.
constexpr int kFirstDriveYear = 2016;

// The means of payment the validation counts, in the order it looks at them.
constexpr const char* kCountedMeans[] = {"Cash", "CashLessType1", "CashLessType2", "CashLessType3"};

// An amount of the package and the limit of the command field that carries it.
struct AmountField {
  const char* name;
  int64_t CorrectionData::*amount;
  int64_t limit;
  int32_t code;
};
constexpr AmountField kParameterAmounts[] = {
    {"Sum", &CorrectionData::nSum, kMaxPaymentsSum, kCodeTotalTooLarge},
    {"SumTAXNone", &CorrectionData::nSumTaxNone, kMaxItemPrice, kCodePriceTooLarge},
    {"SumTAX0", &CorrectionData::nSumTax0, kMaxItemPrice, kCodePriceTooLarge},
    {"SumTAX10", &CorrectionData::nSumTax10, kMaxItemPrice, kCodePriceTooLarge},
    {"SumTAX20", &CorrectionData::nSumTax20, kMaxItemPrice, kCodePriceTooLarge},
    {"SumTAX18", &CorrectionData::nSumTax18, kMaxItemPrice, kCodePriceTooLarge},
    {"SumTAX110", &CorrectionData::nSumTax110, kMaxItemPrice, kCodePriceTooLarge},
    {"SumTAX120", &CorrectionData::nSumTax120, kMaxItemPrice, kCodePriceTooLarge},
    {"SumTAX118", &CorrectionData::nSumTax118, kMaxItemPrice, kCodePriceTooLarge},
};
constexpr AmountField kPaymentAmounts[] = {
    {"Cash", &CorrectionData::nCash, kMaxPayment, kCodePaymentTooLarge},
    {"ElectronicPayment", &CorrectionData::nElectronicPayment, kMaxPayment, kCodePaymentTooLarge},
    {"AdvancePayment", &CorrectionData::nAdvancePayment, kMaxPayment, kCodePaymentTooLarge},
    {"Credit", &CorrectionData::nCredit, kMaxPayment, kCodePaymentTooLarge},
    {"CashProvision", &CorrectionData::nCashProvision, kMaxPayment, kCodePaymentTooLarge},
};

// The VAT table: which amount, at what rate, in which tax group of the printer.
struct TaxRow {
  int64_t CorrectionData::*amount;
  int16_t rate;
  int16_t group;
};
constexpr TaxRow kTaxRows[kCorrectionTaxEntries] = {
    {&CorrectionData::nSumTaxNone, 0, 0}, {&CorrectionData::nSumTax18, 18, 1},
    {&CorrectionData::nSumTax10, 10, 2},  {&CorrectionData::nSumTax0, 0, 3},
    {&CorrectionData::nSumTax118, 18, 4}, {&CorrectionData::nSumTax110, 10, 5},
    {&CorrectionData::nSumTax20, 20, 1},  {&CorrectionData::nSumTax120, 20, 4},
};

int32_t Refuse(std::string* message, int32_t code, const std::string& text) {
  *message = text;
  return code;
}

std::string Echo(const std::optional<std::string>& text) {
  return text ? text->substr(0, kEchoLimit) : std::string("is absent");
}

bool Present(const std::optional<std::string>& text) {
  return text && !text->empty();
}

bool IsOneDigit(const std::optional<std::string>& text, char first, char last) {
  return text && text->size() == 1 && (*text)[0] >= first && (*text)[0] <= last;
}

// Not empty, only digits and at most one '.'.
bool IsPlainDecimal(const std::string& text) {
  if (text.empty()) return false;
  int points = 0;
  for (char c : text) {
    if (c == '.') {
      ++points;
    } else if (c < '0' || c > '9') {
      return false;
    }
  }
  return points <= 1;
}

// Kopecks as roubles with two places ("7.21").
std::string Roubles(int64_t kopecks) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld.%2.2lld", static_cast<long long>(kopecks / 100),
                static_cast<long long>(kopecks % 100));
  return text;
}

int32_t CountMeansOfPayment(const TiXmlElement* payments, std::string* message) {
  int means = 0;
  for (const char* name : kCountedMeans) {
    const std::optional<std::string> text = GetXmlAttr(payments, name);
    if (!text) continue;
    if (!IsPlainDecimal(*text)) {
      return Refuse(message, kResultBadCheckData,
                    std::string("Error value attribute \"Payments\"->\"") + name + "\": " + Echo(text));
    }
    if (ParseXmlNumber(text->c_str()) != 0) ++means;
  }
  if (means == 0) return Refuse(message, kResultBadCheckData, "Count of means of payment is null");
  if (means > 1) return Refuse(message, kResultBadCheckData, "Count of means of payment is not equal to one");
  return kResultOk;
}

// An amount of `element` in kopecks, judged before it becomes an integer: not negative, and within
// the field that carries it. A missing amount is 0.
int32_t ReadAmount(const TiXmlElement* element, const char* parent, const AmountField& field,
                   CorrectionData* data, std::string* message) {
  const std::optional<std::string> text = GetXmlAttr(element, field.name);
  const double roubles = ParseXmlNumber(text ? text->c_str() : nullptr);
  const std::string where = std::string("Error value attribute \"") + parent + "\"->\"" + field.name + "\": ";
  if (!(roubles >= 0)) return Refuse(message, kResultBadCheckData, where + Echo(text));
  if (!KopecksWithin(roubles, field.limit, &(data->*field.amount)))
    return Refuse(message, field.code, where + Echo(text));
  return kResultOk;
}

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Up to `maxDigits` decimal digits at `*p`, which moves past them; false when there are none.
bool ReadDigits(const char** p, int maxDigits, int* value) {
  int digits = 0;
  *value = 0;
  while (digits < maxDigits && **p >= '0' && **p <= '9') {
    *value = *value * 10 + (**p - '0');
    ++*p;
    ++digits;
  }
  return digits > 0;
}

// A date as a number that orders dates: 20240501.
int DateKey(int year, int month, int day) {
  return (year * 100 + month) * 100 + day;
}

// "year-month-day" with anything after the day (a time) ignored, as DDMMYY. Only a real day of the
// calendar between the fiscal drives' first year and `today` is taken, and no number can overflow
// on the way.
int32_t ReadBaseDate(const std::optional<std::string>& text, const plat::CalendarTime& today,
                     char (&date)[11], std::string* message) {
  if (!Present(text)) return Refuse(message, kCodeCorrectionDate, "Corrected settlement date is absent");
  const char* p = text->c_str();
  int year = 0;
  int month = 0;
  int day = 0;
  const bool read = ReadDigits(&p, 4, &year) && *p++ == '-' && ReadDigits(&p, 2, &month) && *p++ == '-' &&
                    ReadDigits(&p, 2, &day) && (*p < '0' || *p > '9');
  if (!read || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
    return Refuse(message, kCodeCorrectionDate, "Corrected settlement date is incorrect");
  if (year < kFirstDriveYear || DateKey(year, month, day) > DateKey(today.year, today.month, today.day))
    return Refuse(message, kCodeCorrectionDate, "Corrected settlement date is out of range");
  std::snprintf(date, sizeof date, "%2.2d%2.2d%2.2d", day, month, year % 100);
  return kResultOk;
}

// A text of the base, "-" when the package gives none.
template <size_t N>
void CopyBaseText(char (&field)[N], const std::optional<std::string>& text) {
  CopyLimited(field, Present(text) ? text : std::optional<std::string>(kNotGiven));
}

int32_t ReadKinds(FPContext* ctx, const TiXmlElement* parameters, CorrectionData* data,
                  std::string* message) {
  const std::optional<std::string> type = GetXmlAttr(parameters, "PaymentType");
  if (!IsOneDigit(type, '1', '4'))
    return Refuse(message, kCodeOperationType, "Error type operation: " + Echo(type));
  data->bIncome = (*type)[0] <= '2' ? 1 : 0;
  const std::optional<std::string> variant = GetXmlAttr(parameters, "TaxVariant");
  if (!IsOneDigit(variant, '0', '5'))
    return Refuse(message, kResultTaxSystemNotRegistered, "Error tax variant: " + Echo(variant));
  data->nTaxVariant = (*variant)[0] - '0';
  if (!(ctx->nFdTaxSystems & (1u << data->nTaxVariant))) {
    ctx->nDeviceError = kDeviceErrorTaxSystem;
    return Refuse(message, kResultTaxSystemNotRegistered,
                  "Tax variant " + std::to_string(data->nTaxVariant) + " not supported");
  }
  return kResultOk;
}

int32_t CheckSums(const CorrectionData& d, std::string* message) {
  if (d.nSum < 1)
    return Refuse(message, kResultBadCheckData, "The amount of payment by check is not established");
  const int64_t payments = d.nCash + d.nElectronicPayment + d.nAdvancePayment + d.nCredit + d.nCashProvision;
  if (payments != d.nSum) {
    return Refuse(message, kCodeSumsDiffer,
                  "The total amount (" + Roubles(d.nSum) + ") is not equal to the amount of payment types (" +
                      Roubles(payments) + ")");
  }
  int64_t taxes = 0;
  for (const TaxRow& row : kTaxRows) taxes += d.*row.amount;
  if (d.nSum < taxes) {
    return Refuse(message, kCodeSumsDiffer,
                  "The total amount (" + Roubles(d.nSum) +
                      ") is less than the amount of payments for taxes (" + Roubles(taxes) + ")");
  }
  return kResultOk;
}

}  // namespace

int32_t CheckCorrectionPackage(const TiXmlDocument* document, std::string* message) {
  if (!document) return Refuse(message, kResultBadCheckData, "Check is absent");
  const TiXmlElement* root = document->FirstChildElement("CheckCorrectionPackage");
  if (!root) return Refuse(message, kResultBadCheckData, "Tag \"CheckCorrectionPackage\" is absent");
  const TiXmlElement* parameters = root->FirstChildElement("Parameters");
  if (!parameters) return Refuse(message, kResultBadCheckData, "Tag \"Parameters\" is absent");
  const std::optional<std::string> type = GetXmlAttr(parameters, "PaymentType");
  if (!IsOneDigit(type, '1', '4')) {
    return Refuse(message, kResultBadCheckData,
                  "Error value attribute \"Parameters\"->\"PaymentType\": " + Echo(type));
  }
  const std::optional<std::string> variant = GetXmlAttr(parameters, "TaxVariant");
  if (!IsOneDigit(variant, '0', '5')) {
    return Refuse(message, kResultBadCheckData,
                  "Error value attribute \"Parameters\"->\"TaxVariant\": " + Echo(variant));
  }
  const TiXmlElement* payments = root->FirstChildElement("Payments");
  if (!payments) return Refuse(message, kResultBadCheckData, "Tag \"Payments\" is absent");
  return CountMeansOfPayment(payments, message);
}

int32_t ReadCorrectionData(FPContext* ctx, const TiXmlElement* parameters, const TiXmlElement* payments,
                           CorrectionData* data, std::string* message) {
  *data = CorrectionData();
  CopyVatin(data->szCashierVATIN, GetXmlAttr(parameters, "CashierVATIN"));
  const std::optional<std::string> type = GetXmlAttr(parameters, "CorrectionType");
  if (!Present(type)) return Refuse(message, kResultBadCheckData, "Correction type is absent");
  // 0: by the register's own decision, 1: by order of the tax authority; there is no other.
  if (*type != "0" && *type != "1")
    return Refuse(message, kResultBadInput, "Correction type error: " + Echo(type));
  data->bCorrectionType = *type == "0" ? 0 : 1;
  CopyLimited(data->szAdditionalAttribute, GetXmlAttr(parameters, "AdditionalAttribute"));
  CopyBaseText(data->szCorrectionBaseName, GetXmlAttr(parameters, "CorrectionBaseName"));
  CopyBaseText(data->szCorrectionBaseNumber, GetXmlAttr(parameters, "CorrectionBaseNumber"));
  int32_t r = ReadBaseDate(GetXmlAttr(parameters, "CorrectionBaseDate"), ctx->pClock->LocalTime(),
                           data->szCorrectionBaseDate, message);
  if (!r) r = ReadKinds(ctx, parameters, data, message);
  for (const AmountField& field : kParameterAmounts) {
    if (!r) r = ReadAmount(parameters, "Parameters", field, data, message);
  }
  if (r) return r;
  if (!payments) return Refuse(message, kResultBadCheckData, "Tag \"Payments\" is absent");
  for (const AmountField& field : kPaymentAmounts) {
    if (!r) r = ReadAmount(payments, "Payments", field, data, message);
  }
  return r ? r : CheckSums(*data, message);
}

void BuildTaxTable(const CorrectionData& data, TaxEntry (&entries)[kCorrectionTaxEntries]) {
  for (int i = 0; i < kCorrectionTaxEntries; ++i) {
    TaxEntry& e = entries[i];
    e.nTax = data.*kTaxRows[i].amount;
    e.nRate = kTaxRows[i].rate;
    e.nGroup = kTaxRows[i].group;
    e.nGross = e.nTax == 0 ? 0 : e.nRate == 0 ? e.nTax : e.nTax * 100 / e.nRate + e.nTax;
  }
}

bool BalanceCorrectionSums(TaxEntry (&entries)[kCorrectionTaxEntries], int64_t nSum, int64_t nCash) {
  int64_t items = 0;
  for (const TaxEntry& e : entries) items += e.nGross;
  if (nSum <= 0 || items <= 0) return false;
  int64_t d = nSum - items;
  if (d >= 0 && nCash >= d) return true;
  const int64_t step = d < 0 ? -1 : 1;
  while (d != 0) {
    int64_t b = d;
    for (TaxEntry& e : entries) {
      if (b == 0) break;
      if (e.nGross == 0 || e.nRate == 0) continue;
      // The VAT the gross amount would carry one kopeck further on must stay the package's.
      const double vat = static_cast<double>(e.nGross + step) / (e.nRate + 100) * e.nRate;
      if (RoundToInt64(vat) != e.nTax) continue;
      e.nGross += step;
      b -= step;
    }
    if (b == d) return false;
    d = b;
  }
  return true;
}
