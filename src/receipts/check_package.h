// The host's check package: the "CheckPackage" XML document of one receipt, read into the receipt's
// CheckParameters and one CheckPosition per item, and the pre-check over all items that runs before
// anything is printed. Attribute values arrive as UTF-8 and are stored in Windows-1251; numbers are
// read the same whatever the process locale is (1C runs with a Russian one, whose decimal separator
// is a comma, and the package always uses a point).
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "device/check_position.h"
#include "device/fp_context.h"
#include "receipts/host_xml.h"

class TiXmlDocument;
class TiXmlElement;

// The receipt as a whole. Texts are Windows-1251, zero-terminated, empty when not given.
struct CheckParameters {
  char szCashierVATIN[13] = {};  // 10 or 12 characters, blank-padded to 12, else empty
  char szCustomerEmail[65] = {};
  char szCustomerPhone[20] = {};
  char szCustomerINN[13] = {};  // as szCashierVATIN
  char szCustomerInfo[251] = {};
  char szAdditionalAttribute[17] = {};
  uint8_t nAgentSignMask = 0;  // 1 << agent sign, 0 when none
  AgentBlock agent;
  int32_t nTaxVariant = -1;  // tax system 0..5
  bool bIncome = true;       // sale or sale return (PaymentType 1, 2); purchases are not income
  bool bReturn = false;      // sale return or purchase return (PaymentType 2, 4)
  // Payments in roubles.
  double dCash = 0;
  double dElectronicPayment = 0;
  double dAdvancePayment = 0;
  double dCredit = 0;
  double dCashProvision = 0;
};

// The printer's barcode kinds by the names of the package's BarcodeType; kBarcodeNone for any other.
enum BarcodeKind : int32_t {
  kBarcodeNone = 0,
  kBarcodeEan13 = 2,
  kBarcodeEan8 = 3,
  kBarcodeCode39 = 4,
  kBarcodeQr = 9,
};

// A "Barcode" element of Positions, printed inside the receipt after its payments.
struct CheckBarcode {
  BarcodeKind kind = kBarcodeNone;
  std::string data;  // Windows-1251
};

// The attribute `name` of `element` in Windows-1251; nothing when the element or the attribute is
// missing. An attribute that is present but empty is an empty text.
std::optional<std::string> GetXmlAttr(const TiXmlElement* element, const char* name);

// Copies at most N - 1 characters; a missing text leaves the field empty.
template <size_t N>
void CopyLimited(char (&field)[N], const std::optional<std::string>& text) {
  std::snprintf(field, N, "%s", text ? text->c_str() : "");
}

// A VATIN is taken only with 10 or 12 characters, and kept blank-padded to 12; else the field is empty.
template <size_t N>
void CopyVatin(char (&field)[N], const std::optional<std::string>& text) {
  static_assert(N == 13, "a VATIN field holds 12 characters");
  field[0] = '\0';
  if (text && (text->size() == 10 || text->size() == 12)) std::snprintf(field, N, "%-12s", text->c_str());
}

// An amount or quantity of the package: digits, at most one '.' and at most one sign. Anything else
// (a decimal comma, an exponent, blanks) reads as 0, which the range checks then judge. Digits past
// the largest double read as infinity. Null reads as 0.
double ParseXmlNumber(const char* text);

// Rounding of amounts to kopecks and of quantities to thousandths: RoundToInt half away from zero,
// RoundToInt64 half up. A value beyond the integer's range gives its nearest bound (so that the
// callers' range checks refuse it) and NaN gives 0, instead of an undefined conversion.
int32_t RoundToInt(double x);
int64_t RoundToInt64(double x);

// True when one of the four tax rates programmed in the device is `percent`.
bool IsTaxRateProgrammed(const FPContext* ctx, int percent);

// The Tax attribute of an item into its device tax group and rate in percent (-1 without VAT).
// `twentyPercent`: the 18/20 % texts mean 20 %, else 18 %. False for an unknown text, which leaves
// the position as it was.
bool MapTaxAttribute(const char* text, bool twentyPercent, CheckPosition* position);

// The agent or supplier part of `block` from an "AgentData" or "PurveyorData" element; a null
// element leaves that part empty.
void ParseAgentData(const TiXmlElement* element, AgentBlock* block);
void ParsePurveyorData(const TiXmlElement* element, AgentBlock* block);
// The value of fiscal tag 1162 (kGoodCodeLength bytes) from a "GoodCodeData" element; all zero for
// a null element.
void ParseGoodCodeData(const TiXmlElement* element, uint8_t* code);

// Reads Parameters and Payments of the package into `params` (cleared first) and the cashier's name
// into the device context. 0 on success, else the driver result code with the English message of
// the first failure in `message` (the caller logs it).
int32_t ParseCheckParameters(FPContext* ctx, const TiXmlDocument* document, CheckParameters* params,
                             std::string* message);

// Reads one "FiscalString" element into `position` (cleared first). 0 on success, else the driver
// result code with its message, as ParseCheckParameters.
int32_t ParseFiscalString(FPContext* ctx, const TiXmlElement* element, CheckPosition* position,
                          std::string* message);

BarcodeKind BarcodeKindOf(const char* type);

// Reads one "Barcode" element into `barcode`. 0 on success; else 121 with the message of a missing or
// unknown type or missing data, and the caller passes the element over.
int32_t ParseBarcode(const TiXmlElement* element, CheckBarcode* barcode, std::string* message);

// The pre-check before a receipt is opened: reads the device's tax rates, then checks that the
// package has items and that every item has its required fields. False with the code in
// nLastResult and the message in the high-level log at the first failure; nothing is printed.
bool TestCheckXML(FPContext* ctx, const TiXmlDocument* document);
