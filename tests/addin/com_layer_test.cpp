// The COM layer's own semantics that the add-in relies on: BSTR length prefix and ownership,
// VARIANT deep copies, SAFEARRAY bounds and element copies.
#include <gtest/gtest.h>

#include "addin_test_support.h"

TEST(Bstr, KeepsLengthPrefixAndEmbeddedNul) {
  const OLECHAR text[] = {'a', 0, 'b'};
  BSTR s = SysAllocStringLen(text, 3);
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(3u, SysStringLen(s));
  EXPECT_EQ(6u, SysStringByteLen(s));
  EXPECT_EQ(OLECHAR('b'), s[2]);
  EXPECT_EQ(OLECHAR(0), s[3]);  // terminated after the counted characters
  SysFreeString(s);

  BSTR zeroed = SysAllocStringLen(nullptr, 4);
  ASSERT_NE(nullptr, zeroed);
  EXPECT_EQ(4u, SysStringLen(zeroed));
  EXPECT_EQ(OLECHAR(0), zeroed[0]);
  SysFreeString(zeroed);
}

TEST(Bstr, NullIsAnEmptyString) {
  EXPECT_EQ(nullptr, SysAllocString(nullptr));
  EXPECT_EQ(0u, SysStringLen(nullptr));
  SysFreeString(nullptr);  // no effect
  BSTR empty = Utf8ToBstr("");
  ASSERT_NE(nullptr, empty);
  EXPECT_EQ(0u, SysStringLen(empty));
  SysFreeString(empty);
}

TEST(Variant, CopyOwnsItsOwnStringAndClearFreesIt) {
  Variant source, copy;
  SetText(&source, "Кассир");
  ASSERT_EQ(S_OK, VariantCopy(&copy, &source));
  ASSERT_EQ(VT_BSTR, copy.vt);
  EXPECT_NE(source.bstrVal, copy.bstrVal);
  EXPECT_EQ("Кассир", BstrToUtf8(copy.bstrVal));
  // Copying over a string frees the old one (the sanitizer run would report the leak).
  SetI4(&source, 7);
  ASSERT_EQ(S_OK, VariantCopy(&copy, &source));
  EXPECT_EQ(VT_I4, copy.vt);
  EXPECT_EQ(7, copy.lVal);
  ASSERT_EQ(S_OK, VariantClear(&copy));
  EXPECT_EQ(VT_EMPTY, copy.vt);
}

TEST(SafeArray, VectorBoundsAndElementCopies) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, 1, 3);
  ASSERT_NE(nullptr, psa);
  LONG lower = 0, upper = 0;
  EXPECT_EQ(1u, SafeArrayGetDim(psa));
  EXPECT_EQ(S_OK, SafeArrayGetLBound(psa, 1, &lower));
  EXPECT_EQ(S_OK, SafeArrayGetUBound(psa, 1, &upper));
  EXPECT_EQ(1, lower);
  EXPECT_EQ(3, upper);
  EXPECT_EQ(DISP_E_BADINDEX, SafeArrayGetLBound(psa, 2, &lower));

  Variant text, back;
  SetText(&text, "x");
  LONG index = 3;
  EXPECT_EQ(S_OK, SafeArrayPutElement(psa, &index, &text));
  EXPECT_EQ(S_OK, SafeArrayPutElement(psa, &index, &text));  // replaces, frees the old copy
  EXPECT_EQ(S_OK, SafeArrayGetElement(psa, &index, &back));
  EXPECT_EQ("x", BstrToUtf8(back.bstrVal));
  EXPECT_NE(text.bstrVal, back.bstrVal);

  for (LONG outside : {0, 4}) {
    EXPECT_EQ(DISP_E_BADINDEX, SafeArrayPutElement(psa, &outside, &text)) << outside;
  }
  EXPECT_EQ(S_OK, SafeArrayDestroy(psa));  // frees the element's string
}

TEST(SafeArray, TwoDimensionsKeepTheirOwnBounds) {
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {3, 10}};
  SAFEARRAY* psa = SafeArrayCreate(VT_VARIANT, 2, bounds);
  ASSERT_NE(nullptr, psa);
  EXPECT_EQ(2u, SafeArrayGetDim(psa));
  LONG lower = 0, upper = 0;
  EXPECT_EQ(S_OK, SafeArrayGetLBound(psa, 2, &lower));
  EXPECT_EQ(S_OK, SafeArrayGetUBound(psa, 2, &upper));
  EXPECT_EQ(10, lower);
  EXPECT_EQ(12, upper);

  // Every cell is distinct: write each, read each back.
  for (LONG i = 0; i < 2; ++i) {
    for (LONG j = 10; j < 13; ++j) {
      Variant v;
      SetI4(&v, i * 100 + j);
      LONG at[2] = {i, j};
      ASSERT_EQ(S_OK, SafeArrayPutElement(psa, at, &v));
    }
  }
  for (LONG i = 0; i < 2; ++i) {
    for (LONG j = 10; j < 13; ++j) {
      Variant v;
      LONG at[2] = {i, j};
      ASSERT_EQ(S_OK, SafeArrayGetElement(psa, at, &v));
      EXPECT_EQ(i * 100 + j, v.lVal);
    }
  }
  EXPECT_EQ(S_OK, SafeArrayDestroy(psa));
}

TEST(SafeArray, LockedArrayIsNotDestroyed) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, 0, 1);
  ASSERT_EQ(S_OK, SafeArrayLock(psa));
  EXPECT_EQ(DISP_E_ARRAYISLOCKED, SafeArrayDestroy(psa));
  ASSERT_EQ(S_OK, SafeArrayUnlock(psa));
  EXPECT_EQ(S_OK, SafeArrayDestroy(psa));
}
