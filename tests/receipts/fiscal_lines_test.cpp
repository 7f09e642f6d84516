// The money arithmetic of items and payments, the layout of item names over printed lines and the
// cash lines of a return receipt.
#include "receipts/fiscal_lines.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

TEST(FiscalMoney, AmountsAreCheckedBeforeTheyBecomeKopecks) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double roubles;
    int64_t max;
    bool ok;
    int64_t kopecks;
  };
  const Case cases[] = {
      {0, kMaxItemPrice, true, 0},
      {5.005, kMaxItemPrice, true, 501},  // half up to the kopeck
      {22999999.77, kMaxItemPrice, true, 2299999977},
      {22999999.78, kMaxItemPrice, false, 0},
      {42949672.95, kMaxItemSum, true, 4294967295},
      {42949672.96, kMaxItemSum, false, 0},
      {99999999.99, kMaxPayment, true, 9999999999},
      {100000000.00, kMaxPayment, false, 0},
      {116402611.72, kMaxPaymentsSum, true, 11640261172},
      {1e300, kMaxPaymentsSum, false, 0},
      {inf, kMaxPayment, false, 0},
      {-inf, kMaxPayment, false, 0},
      {std::nan(""), kMaxPayment, false, 0},
      {-0.01, kMaxPayment, false, 0},
  };
  for (const Case& c : cases) {
    int64_t kopecks = -7;
    EXPECT_EQ(KopecksWithin(c.roubles, c.max, &kopecks), c.ok) << c.roubles;
    EXPECT_EQ(kopecks, c.ok ? c.kopecks : -7) << c.roubles;
  }
}

TEST(FiscalMoney, SumIsQuantityTimesPriceRoundedHalfUpToTheKopeck) {
  struct Case {
    int32_t quantity;  // thousandths
    int64_t price;     // kopecks
    int64_t sum;       // kopecks
    bool matches;
  };
  const Case cases[] = {
      {3000, 3333, 9999, true},
      {3000, 3333, 10000, false},
      {333, 1000, 333, true},
      {333, 1000, 334, false},
      {1500, 1, 2, true},
      {1499, 1, 1, true},
      {1000, 2299999977, 2299999977, true},  // the largest price stays inside 64 bits
      {99999000, 2299999977, 229997697700023, true},
      {1000, 500, -500, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ItemCostMatches(c.quantity, c.price, c.sum), c.matches) << c.quantity << " x " << c.price;
}

TEST(FiscalMoney, ItemBeforeItsDiscountComesBackToTheHostsSum) {
  struct Case {
    int32_t quantity;  // thousandths
    int64_t sum;       // kopecks, the discount in it
    int64_t discount;  // kopecks; negative: a markup
    bool ok;
    int64_t price;
    int64_t line;
  };
  const Case cases[] = {
      {1000, 40500, 4500, true, 45000, 4500},
      {3000, 10000, 1000, true, 3667, 1001},  // 3 x 36.67 = 110.01, less 10.01 is 100.00
      {1500, 100, 1, true, 67, 1},            // 1.5 x 0.67 = 1.005, half up 1.01
      {1000, 2000, -500, true, 1500, -500},   // a markup
      {1000, 500, -500, true, 0, -500},
      {1000, 500, -501, false, 0, 0},  // a markup above the sum
      {1000, 2299999977 - 1, 1, true, 2299999977, 1},
      {1000, 2299999977, 1, false, 0, 0},  // past the item command's price field
      {0, 100, 1, false, 0, 0},
  };
  for (const Case& c : cases) {
    ItemBeforeDiscount item{-1, -1};
    ASSERT_EQ(c.ok, PriceBeforeDiscount(c.quantity, c.sum, c.discount, &item)) << c.quantity << " " << c.sum;
    if (!c.ok) continue;
    EXPECT_EQ(c.price, item.price) << c.quantity << " " << c.sum;
    EXPECT_EQ(c.line, item.line) << c.quantity << " " << c.sum;
    EXPECT_EQ(c.sum, ItemCost(c.quantity, item.price) - item.line);
  }
}

TEST(ItemName, LineBreaksPadToTheNextLineAndLoneLineFeedsGo) {
  struct Case {
    const char* name;
    int width;
    int max;
    std::string laidOut;
  };
  const std::string first20 = "ab" + std::string(18, ' ');
  const Case cases[] = {
      {"plain", 20, 158, "plain"},
      {"ab\r\ncd", 20, 158, first20 + "cd"},
      {"ab\ncd", 20, 158, "abcd"},
      {"ab\rcd", 20, 158, "ab\rcd"},  // a lone CR is copied
      // Past the first line the lines are ten characters narrower: 20, 30, 40...
      {"ab\r\ncd\r\nef", 20, 158, first20 + "cd" + std::string(8, ' ') + "ef"},
      {"", 20, 158, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(LayOutItemName(c.name, c.width, c.max), c.laidOut) << c.name;
}

TEST(ItemName, TheLimitHoldsForEveryByteIncludingThePadding) {
  // Padding to the next line would pass the limit: the name goes out as given.
  EXPECT_EQ(LayOutItemName("ab\r\ncd", 20, 15), "ab\r\ncd");
  EXPECT_EQ(LayOutItemName("ab\r\ncd", 20, 20), "ab\r\ncd");
  EXPECT_EQ(LayOutItemName("ab\r\ncd", 20, 23), std::string("ab") + std::string(18, ' ') + "cd");
  // A longer name is cut to the limit; many line breaks never grow the output past it.
  EXPECT_EQ(LayOutItemName("abcdefgh", 20, 5), "abcde");
  std::string breaks;
  for (int i = 0; i < 30; ++i) breaks += "x\r\n";
  EXPECT_EQ(LayOutItemName(breaks.c_str(), 35, 158), breaks);
  EXPECT_LE(LayOutItemName(breaks.c_str(), 35, 1000).size(), 1000u);
  // Lines narrower than the amounts beside them still move forward.
  EXPECT_EQ(LayOutItemName("a\r\nb\r\nc", 3, 40), "a  b c");
}

TEST(CashLines, LabelAndAmountFillTheLine) {
  EXPECT_EQ(CashLine("PAID ", 120, 20), "PAID " + std::string(8, ' ') + "*120.00");
  EXPECT_EQ(CashLine("PAID ", 0.5, 12), "PAID " + std::string(2, ' ') + "*0.50");
  EXPECT_EQ(CashLine("PAID ", 1234567.891, 10), "PAID *1234567.89");  // never cut
  EXPECT_EQ(CashLine("PAID ", 20, 20).size(), 20u);
}

}  // namespace
