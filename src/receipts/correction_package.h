// The host's correction package: the "CheckCorrectionPackage" XML document of one correction
// receipt, its validation, the CorrectionData record read from it, and the arithmetic that turns
// its VAT amounts back into one gross item per rate adding up to the correction's sum. Texts are
// Windows-1251; amounts are kopecks in 64 bits, each checked against the field of the printer
// command that carries it before anything is sent.
#pragma once

#include <cstdint>
#include <string>

#include "device/fp_context.h"

class TiXmlDocument;
class TiXmlElement;

enum CorrectionCode : int32_t {
  kCodeCorrectionTaxes = 135,  // the VAT amounts give no items adding up to the sum
  kCodeCorrectionDate = 136,   // the base date missing or not a real day
  kCodeOperationType = 137,    // PaymentType not 1..4
  kCodeSumsDiffer = 138,       // payments or VAT amounts do not match the sum
};

struct CorrectionData {
  char szCashierVATIN[13] = {};  // 10 or 12 characters, blank-padded to 12, else empty
  uint8_t bCorrectionType = 0;   // 0 by the register's own decision, 1 by order
  int32_t nTaxVariant = 0;
  uint8_t bIncome = 0;                   // PaymentType 1 and 2
  char szCorrectionBaseName[257] = {};   // "-" when not given
  char szCorrectionBaseDate[11] = {};    // DDMMYY
  char szCorrectionBaseNumber[33] = {};  // "-" when not given
  char szAdditionalAttribute[17] = {};
  int64_t nSum = 0;
  int64_t nSumTax18 = 0;
  int64_t nSumTax20 = 0;
  int64_t nSumTax10 = 0;
  int64_t nSumTax0 = 0;
  int64_t nSumTaxNone = 0;
  int64_t nSumTax110 = 0;
  int64_t nSumTax118 = 0;
  int64_t nSumTax120 = 0;
  int64_t nCash = 0;
  int64_t nElectronicPayment = 0;
  int64_t nAdvancePayment = 0;
  int64_t nCredit = 0;
  int64_t nCashProvision = 0;
};

// One VAT rate of the correction: the package's amount, the item it becomes (0: no item), the rate
// in percent and the printer's tax group.
struct TaxEntry {
  int64_t nTax = 0;
  int64_t nGross = 0;
  int16_t nRate = 0;
  int16_t nGroup = 0;
};
constexpr int kCorrectionTaxEntries = 8;

// The shape of the package: root, Parameters with a PaymentType and TaxVariant of one digit,
// Payments with exactly one means of payment among Cash and CashLessType1..3. 0, or 121 with the
// message.
int32_t CheckCorrectionPackage(const TiXmlDocument* document, std::string* message);

// Parameters and Payments (after CheckCorrectionPackage) into `data`, the cashier aside. 0, or the
// code of the first refusal with its message (a tax system the fiscal drive was not registered for
// also leaves its device error).
int32_t ReadCorrectionData(FPContext* ctx, const TiXmlElement* parameters, const TiXmlElement* payments,
                           CorrectionData* data, std::string* message);

// The eight entries in the order the items go out, with their gross amounts: the amount itself at
// rate 0, else the amount grossed up by the rate (the division truncates).
void BuildTaxTable(const CorrectionData& data, TaxEntry (&entries)[kCorrectionTaxEntries]);

// Moves single kopecks between the gross amounts of rated entries, never changing the VAT any of
// them carries, until the items add up to `nSum` (or the cash covers what they lack). False when
// that cannot be done.
bool BalanceCorrectionSums(TaxEntry (&entries)[kCorrectionTaxEntries], int64_t nSum, int64_t nCash);
