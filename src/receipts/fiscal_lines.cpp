#include "receipts/fiscal_lines.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "device/receipt_commands.h"
#include "device/result_codes.h"
#include "receipts/check_package.h"

namespace {

// The lines after the first of an item leave this many characters to the amounts beside them.
constexpr int kAmountColumn = 10;

// The start of the printed line after output position `at`.
size_t NextLineStart(size_t at, int lineWidth) {
  const size_t first = static_cast<size_t>(std::max(lineWidth, 1));
  if (at < first) return first;
  const size_t narrow = static_cast<size_t>(std::max(lineWidth - kAmountColumn, 1));
  return first + ((at - first) / narrow + 1) * narrow;
}

}  // namespace

bool KopecksWithin(double roubles, int64_t maxKopecks, int64_t* kopecks) {
  if (!std::isfinite(roubles) || roubles < 0) return false;
  // Compared as a double first: RoundToInt64 of a value past the integer's range gives its bound.
  const double scaled = roubles * 100;
  if (scaled >= static_cast<double>(maxKopecks) + 0.5) return false;
  const int64_t value = RoundToInt64(scaled);
  if (value > maxKopecks) return false;
  *kopecks = value;
  return true;
}

int64_t ItemCost(int32_t quantity, int64_t price) {
  // Thousandths of a kopeck: quantity below 10^8 and price below 2.3 * 10^9 stay far inside int64.
  const int64_t cost = int64_t{quantity} * price;
  return cost / 1000 + (cost % 1000 > 499 ? 1 : 0);
}

bool ItemCostMatches(int32_t quantity, int64_t price, int64_t sum) {
  if (quantity < 0 || price < 0 || sum < 0) return false;
  return ItemCost(quantity, price) == sum;
}

int32_t CheckItemAmounts(const FPContext* ctx, const CheckPosition& position, ItemAmounts* amounts,
                         std::string* message) {
  // Every amount is judged before it becomes an integer: a NaN or an infinity has no kopecks.
  const double quantity = position.dQuantity * 1000;
  if (!std::isfinite(quantity) || quantity < 0 || quantity > INT32_MAX) {
    *message = "The quantity of the item is set incorrectly";
    return kResultBadItemQuantity;
  }
  amounts->quantity = RoundToInt(quantity);
  if (!KopecksWithin(position.dPriceWithDiscount, kMaxItemPrice, &amounts->price)) {
    *message = "Price exceeded the maximum value";
    return kCodePriceTooLarge;
  }
  if (!KopecksWithin(position.dSumWithDiscount, kMaxItemSum, &amounts->sum)) {
    *message = "Cost exceeded the maximum value";
    return kCodeItemSumTooLarge;
  }
  // "No VAT" always passes, a rate only when the printer has it programmed.
  const int32_t rate = RoundToInt(position.dTaxRate);
  if (position.dTaxRate >= 0 && !IsTaxRateProgrammed(ctx, rate)) {
    char text[64];
    std::snprintf(text, sizeof text, "Tax %.2f%% not supported", static_cast<double>(rate));
    *message = text;
    return kResultWrongTax;
  }
  if (!ItemCostMatches(amounts->quantity, amounts->price, amounts->sum)) {
    *message = "The cost of the item is set incorrectly";
    return kResultBadItemSum;
  }
  int64_t discount = 0;
  if (!KopecksWithin(std::fabs(position.dDiscountSum), INT32_MAX, &discount)) {
    *message = "Discount exceeded the maximum value";
    return kCodeItemSumTooLarge;
  }
  amounts->discount = static_cast<int32_t>(position.dDiscountSum < 0 ? -discount : discount);
  return kResultOk;
}

bool PriceBeforeDiscount(int32_t quantity, int64_t sum, int64_t discount, ItemBeforeDiscount* item) {
  const int64_t before = sum + discount;
  if (quantity <= 0 || sum < 0 || before < 0) return false;
  // The price nearest to the sum before the discount over the quantity, half up.
  const int64_t price = (before * 1000 * 2 + quantity) / (int64_t{quantity} * 2);
  if (price > kMaxItemPrice) return false;
  const int64_t line = ItemCost(quantity, price) - sum;
  if (line > INT32_MAX || line < -INT32_MAX) return false;  // the discount command's amount
  item->price = price;
  item->line = line;
  return true;
}

std::string LayOutItemName(const char* name, int lineWidth, int maxLength) {
  if (!name) return std::string();
  const size_t limit = static_cast<size_t>(std::max(maxLength, 0));
  const size_t length = std::strlen(name);
  if (length > limit) return std::string(name, limit);
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    const bool lineBreak = name[i] == '\r' && name[i + 1] == '\n';
    if (name[i] == '\n') continue;  // a lone LF; the LF of a pair was taken with its CR
    const size_t end = lineBreak ? NextLineStart(out.size(), lineWidth) : out.size() + 1;
    if (end >= limit) return std::string(name, length);
    out.append(end - out.size(), lineBreak ? ' ' : name[i]);
    if (lineBreak) ++i;
  }
  return out;
}

std::string CashLine(const char* label, double roubles, int lineWidth) {
  char amount[64];
  std::snprintf(amount, sizeof amount, "*%0#1.2f", roubles);
  std::string line = label;
  const size_t used = line.size() + std::strlen(amount);
  if (lineWidth > 0 && used < static_cast<size_t>(lineWidth)) line.append(lineWidth - used, ' ');
  return line + amount;
}
