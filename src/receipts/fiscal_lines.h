// The money arithmetic of a receipt's items and payments, and the layout of an item's name over the
// printed lines. Amounts arrive as roubles in doubles and go to the printer as whole kopecks,
// quantities as thousandths; every amount is checked finite and within its command's limit before
// it is converted, so that a NaN, an infinity or a huge value never reaches an integer.
#pragma once

#include <cstdint>
#include <string>

#include "device/check_position.h"
#include "device/fp_context.h"

// The limits of the amounts the printer takes, in kopecks, and their driver result codes (whose
// texts end with the limit).
constexpr int64_t kMaxItemPrice = 2299999977;     // the widest price of the item command: 39
constexpr int64_t kMaxItemSum = 4294967295;       // 42
constexpr int64_t kMaxPayment = 9999999999;       // one kind of payment: 41
constexpr int64_t kMaxPaymentsSum = 11640261172;  // all payments of a receipt together: 40

enum FiscalLineCode : int32_t {
  kCodeUnsupportedDocument = 10,
  kCodeTotalTooLarge = 40,
  kCodePaymentTooLarge = 41,
  kCodeItemSumTooLarge = 42,
  kCodeNoOpenDocument = 100,
  kCodeDocumentAlreadyOpen = 112,
  kCodeExactPaymentRequired = 113,
  kCodeNotEnoughCash = 114,
};

// `roubles` in whole kopecks (half up) into *kopecks when it is finite, not negative and at most
// `maxKopecks` once rounded; false otherwise, and *kopecks is left alone.
bool KopecksWithin(double roubles, int64_t maxKopecks, int64_t* kopecks);

// An item's quantity (thousandths) times its price (kopecks), rounded half up to the kopeck, as the
// printer reckons the item's sum.
int64_t ItemCost(int32_t quantity, int64_t price);
// Whether an item's sum matches its quantity times its price.
bool ItemCostMatches(int32_t quantity, int64_t price, int64_t sum);

// An item's amounts as its command carries them: thousandths, kopecks, and the discount in kopecks
// (negative: a markup).
struct ItemAmounts {
  int32_t quantity = 0;
  int64_t price = 0;
  int64_t sum = 0;
  int32_t discount = 0;
};

// Judges an item as the printer would take it and converts its amounts: a quantity, price, sum and
// discount its command can carry, a VAT rate among the printer's programmed rates (`ctx`'s
// anTaxRates as last read) and a sum that is the quantity times the price. 0, or the driver result
// code with the English message of the first failure.
int32_t CheckItemAmounts(const FPContext* ctx, const CheckPosition& position, ItemAmounts* amounts,
                         std::string* message);

// An item with a discount as the printer takes it: the printer takes a discount line off the item
// it follows, while the host's price and sum already have the discount in them. So the item goes
// in at its price before the discount, and the line (negative: a markup) takes off exactly what
// brings the item back to the host's sum, whatever the rounding of the quantity times that price.
struct ItemBeforeDiscount {
  int64_t price;  // kopecks
  int64_t line;   // kopecks the discount line takes off
};
// False when no price up to kMaxItemPrice gives the item back (a markup above the sum itself, or a
// price past the item command's field).
bool PriceBeforeDiscount(int32_t quantity, int64_t sum, int64_t discount, ItemBeforeDiscount* item);

// The item name as the item command receives it. A CR LF pair moves the rest of the name to the
// start of the next printed line of `lineWidth` characters (the lines after the first are ten
// characters narrower, beside the amounts) by padding with blanks; a lone LF is dropped. A name
// whose layout would reach `maxLength` characters goes out as given (the item command cuts it), a
// longer name is cut to `maxLength`: no byte is ever written past the limit.
std::string LayOutItemName(const char* name, int lineWidth, int maxLength);

// A line of exactly `lineWidth` characters (when the two fit): `label`, blanks, and the amount as
// "*12.34". The cash lines of a return receipt paid with more cash than its items cost.
std::string CashLine(const char* label, double roubles, int lineWidth);
