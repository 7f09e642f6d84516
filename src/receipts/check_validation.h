// The whole check package judged before the receipt is opened: every item as the item steps would
// judge it, the payments against the items' total, and what an electronic receipt needs. A package
// the receipt would refuse half-way is refused here with the same code and message, so that the
// refusal costs no time at the printer and prints nothing; the steps keep their own checks.
#pragma once

#include <cstdint>
#include <string>

#include "device/fp_context.h"

struct CheckParameters;
class TiXmlDocument;

enum CheckValidationCode : int32_t {
  kCodePaymentBelowTotal = 111,   // the payments do not cover the items
  kCodeCashlessAboveTotal = 149,  // more paid without cash than the items cost
};

// After TestCheckXML and ParseCheckParameters took `document` into `params`: 0, or the driver
// result code of the first refusal with its English message. `detail` receives, in UTF-8, what the
// host is told besides the code's own text when that text does not say what is missing.
int32_t ValidateCheckPackage(FPContext* ctx, const TiXmlDocument* document, const CheckParameters& params,
                             bool electronically, std::string* message, std::string* detail);
