// The method and property tables through ILanguageExtender, exactly as the host asks them.
#include <gtest/gtest.h>

#include "addin_test_support.h"

using MethodTable = ComponentTest;

TEST_F(MethodTable, FindMethodMatchesLatinCaseButNotCyrillicCase) {
  struct Case {
    const char* name;
    LONG number;
  } cases[] = {
      {"GetVersion", 1},
      {"getversion", 1},
      {"GETVERSION", 1},
      {"gEtVeRsIoN", 1},
      {"ПолучитьНомерВерсии", 1},
      {"получитьномерверсии", -1},  // Cyrillic letters must match in case
      {"ПОЛУЧИТЬНОМЕРВЕРСИИ", -1},
      {"SetLocale", 22},
      {"setlocale", 22},
      {"ОтчетОТекущемСостоянииРасчетов", 14},
      {"PrintXReport", 23},
      {"НапечататьОтчетБезГашения", 23},
      {"GetVersion ", -1},
      {"", -1},
      {"Get", -1},
  };
  for (const Case& c : cases) {
    Bstr name(c.name);
    LONG n = -2;
    EXPECT_EQ(c.number >= 0 ? S_OK : S_FALSE, ext->FindMethod(name, &n)) << c.name;
    EXPECT_EQ(c.number, n) << c.name;
  }
  LONG n = -2;
  EXPECT_EQ(S_FALSE, ext->FindMethod(nullptr, &n));
  EXPECT_EQ(-1, n);
}

TEST_F(MethodTable, EveryMethodIsFoundByBothNamesAndReportsItsCount) {
  const LONG expectedParams[kMethodCount] = {1, 0, 1, 1, 3, 1, 2, 3, 5, 5, 7, 6,
                                             2, 5, 3, 2, 7, 1, 2, 1, 1, 2, 1, 2};
  LONG count = 0;
  EXPECT_EQ(S_OK, ext->GetNMethods(&count));
  EXPECT_EQ(kMethodCount, count);
  for (LONG n = 0; n < kMethodCount; ++n) {
    for (LONG alias : {0, 1}) {
      BSTR name = nullptr;
      ASSERT_EQ(S_OK, ext->GetMethodName(n, alias, &name));
      LONG found = -1;
      EXPECT_EQ(S_OK, ext->FindMethod(name, &found));
      EXPECT_EQ(n, found) << BstrToUtf8(name);
      SysFreeString(name);
    }
    LONG params = -1;
    EXPECT_EQ(S_OK, ext->GetNParams(n, &params));
    EXPECT_EQ(expectedParams[n], params) << n;
    BOOL hasRet = FALSE;
    EXPECT_EQ(S_OK, ext->HasRetVal(n, &hasRet));
    EXPECT_TRUE(hasRet);
  }
  LONG params = -1;
  EXPECT_EQ(S_FALSE, ext->GetNParams(24, &params));
  EXPECT_EQ(0, params);
  EXPECT_EQ(S_FALSE, ext->GetNParams(-1, &params));
}

TEST_F(MethodTable, NamesByAlias) {
  struct Case {
    LONG number, alias;
    HRESULT hr;
    const char* name;
  } cases[] = {
      {5, 0, S_OK, "OpenCashDrawer"},
      {5, 1, S_OK, "ОткрытьДенежныйЯщик"},
      {5, 7, S_OK, "ОткрытьДенежныйЯщик"},  // any alias but 0 is the Russian name
      {22, 0, S_OK, "SetLocale"},
      {22, 1, S_OK, "SetLocale"},
      {0, 1, S_OK, "ПолучитьОшибку"},
      {24, 0, S_FALSE, ""},
      {-1, 1, S_FALSE, ""},
  };
  for (const Case& c : cases) {
    BSTR name = nullptr;
    EXPECT_EQ(c.hr, ext->GetMethodName(c.number, c.alias, &name)) << c.number;
    EXPECT_EQ(c.name, BstrToUtf8(name)) << c.number;
    SysFreeString(name);
  }
}

TEST_F(MethodTable, ParamDefValueBounds) {
  struct Case {
    LONG method, param;
    HRESULT hr;
  } cases[] = {
      {10, 0, S_OK}, {10, 6, S_OK},     {10, 7, S_FALSE}, {10, -1, S_FALSE},
      {1, 0, S_FALSE},                   // GetVersion has no parameters
      {24, 0, S_FALSE}, {-1, 0, S_FALSE}, {23, 1, S_OK},
  };
  for (const Case& c : cases) {
    Variant value;
    SetI4(&value, 99);
    EXPECT_EQ(c.hr, ext->GetParamDefValue(c.method, c.param, &value)) << c.method << "/" << c.param;
    if (c.hr == S_OK) {
      EXPECT_EQ(VT_EMPTY, value.vt);
    }
  }
}

TEST_F(MethodTable, PropertiesByNameAndNumber) {
  struct Case {
    const char* name;
    LONG number;
  } cases[] = {
      {"Port", 0},          {"порт", -1},         {"Порт", 0},
      {"SPEED", 1},         {"Скорость", 1},      {"userpassword", 2},
      {"ПарольПользователя", 2}, {"AdminPassword", 3}, {"ПарольАдминистратора", 3},
      {"Timeout", 4},       {"Таймаут", 4},       {"Password", -1},
  };
  for (const Case& c : cases) {
    Bstr name(c.name);
    LONG n = -2;
    EXPECT_EQ(c.number >= 0 ? S_OK : S_FALSE, ext->FindProp(name, &n)) << c.name;
    EXPECT_EQ(c.number, n) << c.name;
  }
  LONG count = 0;
  EXPECT_EQ(S_OK, ext->GetNProps(&count));
  EXPECT_EQ(5, count);

  BSTR name = nullptr;
  EXPECT_EQ(S_OK, ext->GetPropName(2, 1, &name));  // English whatever the alias
  EXPECT_EQ("UserPassword", BstrToUtf8(name));
  SysFreeString(name);
  EXPECT_EQ(S_FALSE, ext->GetPropName(5, 0, &name));
  EXPECT_EQ("", BstrToUtf8(name));
  SysFreeString(name);

  for (LONG n = -1; n <= 5; ++n) {
    const HRESULT expected = (n >= 0 && n < 5) ? S_OK : S_FALSE;
    BOOL flag = FALSE;
    EXPECT_EQ(expected, ext->IsPropReadable(n, &flag)) << n;
    EXPECT_EQ(expected, ext->IsPropWritable(n, &flag)) << n;
  }
}

TEST_F(MethodTable, ExtensionNameAndProcedureCalls) {
  BSTR name = nullptr;
  EXPECT_EQ(S_OK, ext->RegisterExtensionAs(&name));
  EXPECT_EQ("Mirel240F_DRV_2004", BstrToUtf8(name));
  SysFreeString(name);
  ParamArray params(1);
  EXPECT_EQ(S_FALSE, ext->CallAsProc(1, params.Ptr()));  // every method is a function
}
