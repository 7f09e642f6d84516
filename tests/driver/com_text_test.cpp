// Numbers from the host's VARIANTs: every numeric type reads as its value, whatever width or form
// the host chose; strings and booleans only where a number may come as one.
#include "driver/com_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace {

VARIANT Make(VARTYPE vt, const std::function<void(VARIANT&)>& fill) {
  VARIANT v;
  std::memset(&v, 0, sizeof v);
  fill(v);
  v.vt = vt;  // after the fill: a DECIMAL's first field lies where the type is kept
  return v;
}

VARIANT Decimal(ULONG hi, ULONGLONG lo, BYTE scale, bool negative) {
  return Make(VT_DECIMAL, [&](VARIANT& v) {
    v.decVal.Hi32 = hi;
    v.decVal.Lo64 = lo;
    v.decVal.scale = scale;
    v.decVal.sign = negative ? DECIMAL_NEG : 0;
  });
}

VARIANT Currency(LONGLONG tenThousandths) {
  return Make(VT_CY, [&](VARIANT& v) { v.cyVal.int64 = tenThousandths; });
}

TEST(HostNumbers, EveryNumericTypeReadsAsItsValue) {
  const struct Case {
    const char* name;
    VARIANT value;
    bool isInt32;
    LONG int32;
    double amount;
  } cases[] = {
      {"VT_I1", Make(VT_I1, [](VARIANT& v) { v.cVal = -5; }), true, -5, -5},
      {"VT_UI1", Make(VT_UI1, [](VARIANT& v) { v.bVal = 200; }), true, 200, 200},
      {"VT_INT", Make(VT_INT, [](VARIANT& v) { v.intVal = -70000; }), true, -70000, -70000},
      {"VT_UINT", Make(VT_UINT, [](VARIANT& v) { v.uintVal = 70000; }), true, 70000, 70000},
      {"VT_UINT above 32 bits signed", Make(VT_UINT, [](VARIANT& v) { v.uintVal = 0x80000000u; }), false, 0,
       2147483648.0},
      {"VT_UI8", Make(VT_UI8, [](VARIANT& v) { v.ullVal = 12; }), true, 12, 12},
      {"VT_R4 rounds", Make(VT_R4, [](VARIANT& v) { v.fltVal = 2.75f; }), true, 3, 2.75},
      {"VT_CY 123.4567", Currency(1234567), true, 123, 123.4567},
      {"VT_CY -0.5 rounds to even", Currency(-5000), true, 0, -0.5},
      {"VT_DECIMAL 1500.25", Decimal(0, 150025, 2, false), true, 1500, 1500.25},
      {"VT_DECIMAL -7", Decimal(0, 7, 0, true), true, -7, -7},
      {"VT_DECIMAL 2^64 over 10^10", Decimal(1, 0, 10, false), true, 1844674407, 1844674407.3709551616},
      {"VT_DECIMAL 2^64", Decimal(1, 0, 0, false), false, 0, 18446744073709551616.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LONG int32 = 99;
    EXPECT_EQ(VariantToInt32(c.value, &int32), c.isInt32);
    if (c.isInt32) {
      EXPECT_EQ(int32, c.int32);
    }
    double amount = 0;
    EXPECT_TRUE(VariantToAmount(c.value, &amount));
    EXPECT_DOUBLE_EQ(amount, c.amount);
  }
}

TEST(HostNumbers, WhatIsNoNumberIsRefused) {
  const struct Case {
    const char* name;
    VARIANT value;
    bool isInt32;  // a string of digits and a boolean still count where an integer is read
  } cases[] = {
      {"VT_EMPTY", Make(VT_EMPTY, [](VARIANT&) {}), false},
      {"VT_BOOL", Make(VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_TRUE; }), true},
      {"VT_DECIMAL with a scale above 28", Decimal(0, 5, 29, false), false},
      {"VT_UNKNOWN", Make(VT_UNKNOWN, [](VARIANT&) {}), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LONG int32 = 0;
    EXPECT_EQ(VariantToInt32(c.value, &int32), c.isInt32);
    double amount = 0;
    EXPECT_FALSE(VariantToAmount(c.value, &amount));
  }
}

}  // namespace
