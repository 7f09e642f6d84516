// CallAsFunc and the properties as the host uses them: conversions by type, out-parameters,
// the device-identifier check, the error state, refused arrays and the device lock.
#include <gtest/gtest.h>

#include <future>
#include <map>
#include <set>
#include <thread>

#include "addin_test_support.h"
#include "device/result_codes.h"

namespace {

std::string Cp1251(const char* utf8) {
  return plat::Utf8ToCp1251(utf8);
}

// Whether another thread could take the device lock right now.
bool LockIsFree(FPContext* ctx) {
  return std::async(std::launch::async, [ctx] {
           if (!ctx->csDevice.try_lock()) return false;
           ctx->csDevice.unlock();
           return true;
         }).get();
}

}  // namespace

using Properties = ComponentTest;

TEST_F(Properties, PortIsReadByTheValuesType) {
  struct Case {
    void (*set)(VARIANT*);
    HRESULT hr;
    LONG port;
  } cases[] = {
      {[](VARIANT* v) { SetR8(v, 3.0); }, S_OK, 3},
      {[](VARIANT* v) { SetI2(v, 4); }, S_OK, 4},
      {[](VARIANT* v) { SetI4(v, 5); }, S_OK, 5},
      {[](VARIANT* v) { SetText(v, "6"); }, S_OK, 6},
      {[](VARIANT* v) { SetText(v, "COM7"); }, S_FALSE, 6},  // refused, value kept
      {[](VARIANT* v) { SetR8(v, 1e12); }, S_FALSE, 6},
      {[](VARIANT* v) { VariantClear(v); }, S_FALSE, 6},
  };
  for (const Case& c : cases) {
    Variant value;
    c.set(&value);
    EXPECT_EQ(c.hr, ext->SetPropVal(kPropPort, &value));
    Variant port;
    EXPECT_EQ(S_OK, ext->GetPropVal(kPropPort, &port));
    EXPECT_EQ(VT_I4, port.vt);
    EXPECT_EQ(c.port, port.lVal);
  }
}

TEST_F(Properties, PasswordsShareOneValidatedBuffer) {
  Variant value, read;
  SetText(&value, "123456");
  EXPECT_EQ(S_OK, ext->SetPropVal(kPropUserPassword, &value));
  EXPECT_EQ(S_OK, ext->GetPropVal(kPropAdminPassword, &read));
  ASSERT_EQ(VT_BSTR, read.vt);
  EXPECT_EQ("123456", BstrToUtf8(read.bstrVal));

  struct Case {
    const char* text;
    bool isText;
  } refused[] = {{"1234567", true}, {"", true}, {"12a4", true}, {" 123", true}, {"１２", true},
                 {nullptr, false}};
  for (const Case& c : refused) {
    Device()->nLastResult = 0;
    if (c.isText) {
      SetText(&value, c.text);
    } else {
      SetI4(&value, 1234);  // a number is not a password, whatever its digits
    }
    for (LONG prop : {kPropUserPassword, kPropAdminPassword}) {
      EXPECT_EQ(S_FALSE, ext->SetPropVal(prop, &value)) << (c.text ? c.text : "VT_I4");
      EXPECT_EQ(kResultBadPassword, Device()->nLastResult);
    }
  }
  VariantClear(&read);  // an out VARIANT is the caller's to clear before it is used again
  EXPECT_EQ(S_OK, ext->GetPropVal(kPropUserPassword, &read));
  EXPECT_EQ("123456", BstrToUtf8(read.bstrVal));
}

TEST_F(Properties, SpeedAndTimeoutAcceptWritesAndKeepTheirValues) {
  Variant value, read;
  SetI4(&value, 115200);
  EXPECT_EQ(S_OK, ext->SetPropVal(kPropSpeed, &value));
  EXPECT_EQ(S_OK, ext->GetPropVal(kPropSpeed, &read));
  EXPECT_EQ(9600, read.lVal);

  const LONG timeout = Device()->nReadTimeout;
  SetI4(&value, 1);
  EXPECT_EQ(S_OK, ext->SetPropVal(kPropTimeout, &value));
  EXPECT_EQ(S_OK, ext->GetPropVal(kPropTimeout, &read));
  EXPECT_EQ(VT_I4, read.vt);
  EXPECT_EQ(timeout, read.lVal);

  EXPECT_EQ(S_FALSE, ext->GetPropVal(5, &read));
  EXPECT_EQ(S_FALSE, ext->SetPropVal(-1, &value));
}

using CallAsFunc = ComponentTest;

TEST_F(CallAsFunc, GetVersionAndGetLastErrorResultTypes) {
  Variant version;
  EXPECT_EQ(S_OK, ext->CallAsFunc(kMethodGetVersion, &version, nullptr));  // no parameters
  ASSERT_EQ(VT_BSTR, version.vt);
  EXPECT_EQ("1.0.0.24", BstrToUtf8(version.bstrVal));
  EXPECT_STREQ("GetVersion (ПолучитьНомерВерсии)", plat::Cp1251ToUtf8(object->CallName()).c_str());

  std::string text;
  EXPECT_EQ(0, LastError(&text));
  EXPECT_EQ(" ", text);  // success reads as one blank
}

TEST_F(CallAsFunc, IdentifierCheckedMethodsFailWithCodeTwoBeforeOpen) {
  // Every method whose first parameter is the device identifier, with no device open, with an
  // empty, a foreign and a missing (VT_EMPTY) identifier.
  for (LONG n = 0; n < kMethodCount; ++n) {
    const MethodInfo& m = MethodAt(n);
    if (n == 3 || m.nParams == 0 || std::string(m.params[0].name) != "DeviceID" ||
        m.params[0].kind != ParamKind::kString) {
      continue;  // Close checks the identifier itself
    }
    for (const char* id : {"", "12345", static_cast<const char*>(nullptr)}) {
      ParamArray params(m.nParams);
      Variant arg;
      if (id) SetText(&arg, id);
      params.Put(0, arg);
      for (int p = 1; p < m.nParams; ++p) {
        if (m.params[p].kind == ParamKind::kNumber || m.params[p].kind == ParamKind::kInteger) {
          SetI4(&arg, 1);
          params.Put(p, arg);
        }
      }
      Device()->nLastResult = 77;
      Variant result;
      EXPECT_EQ(S_OK, ext->CallAsFunc(n, &result, params.Ptr())) << m.english;
      EXPECT_EQ(VT_BOOL, result.vt);
      EXPECT_EQ(VARIANT_FALSE, result.boolVal);
      std::string text;
      EXPECT_EQ(kResultNoDevice, LastError(&text)) << m.english;
      EXPECT_EQ("Фискальный принтер отсутствует, отключен или выключен", text);
    }
  }
}

// Every method that can fail, in a state where it does (no device open, no port or password set,
// a name the driver does not know): the host is told a code and a text, never False with 0.
TEST_F(CallAsFunc, EveryFalseCarriesACodeAndItsText) {
  // These give their answer whatever the state.
  const std::set<std::string> cannotFail = {"GetLastError",  "GetVersion", "GetDescription",
                                            "GetParameters", "SetLocale",  "GetAdditionalActions"};
  // The text argument that makes a method without a device identifier fail.
  const std::map<std::string, const char*> failingText = {{"SetParameter", "NoSuchSetting"},
                                                          {"DoAdditionalAction", "NoSuchAction"}};
  int walked = 0;
  for (LONG n = 0; n < kMethodCount; ++n) {
    const MethodInfo& m = MethodAt(n);
    if (cannotFail.count(m.english)) continue;
    SCOPED_TRACE(m.english);
    ParamArray params(m.nParams);
    for (int p = 0; p < m.nParams; ++p) {
      Variant arg;
      const auto text = failingText.find(m.english);
      if (m.params[p].kind == ParamKind::kString) {
        SetText(&arg, p == 0 && text != failingText.end() ? text->second : "12345");
      } else if (m.params[p].kind == ParamKind::kNumber || m.params[p].kind == ParamKind::kInteger) {
        SetI4(&arg, 1);
      } else if (m.params[p].kind == ParamKind::kVariant) {
        SetText(&arg, "1");
      }
      params.Put(p, arg);
    }
    Variant result;
    EXPECT_EQ(S_OK, ext->CallAsFunc(n, &result, params.Ptr()));
    EXPECT_EQ(VT_BOOL, result.vt);
    EXPECT_EQ(VARIANT_FALSE, result.boolVal);
    std::string text;
    EXPECT_NE(0, LastError(&text));
    EXPECT_NE(" ", text);
    EXPECT_FALSE(text.empty());
    ++walked;
  }
  EXPECT_EQ(walked + static_cast<int>(cannotFail.size()), kMethodCount);
}

TEST_F(CallAsFunc, AmountIsReadFromAnyNumberButNotFromTextOrBoolean) {
  struct Case {
    void (*set)(VARIANT*);
    LONG code;  // 2: the wrapper ran and checked the identifier; 133: refused before it
  } cases[] = {
      {[](VARIANT* v) { SetI2(v, 500); }, kResultNoDevice},
      {[](VARIANT* v) { SetI4(v, 500); }, kResultNoDevice},
      {[](VARIANT* v) { SetR8(v, 500.0); }, kResultNoDevice},
      {[](VARIANT* v) { v->vt = VT_CY, v->cyVal.int64 = 5000000; }, kResultNoDevice},
      {[](VARIANT* v) { v->decVal.Lo64 = 500, v->vt = VT_DECIMAL; }, kResultNoDevice},
      {[](VARIANT* v) { SetText(v, "500"); }, kResultBadInput},
      {[](VARIANT* v) { SetBool(v, true); }, kResultBadInput},
      {[](VARIANT* v) { VariantClear(v); }, kResultBadInput},
  };
  for (const Case& c : cases) {
    ParamArray params(3);
    Variant amount;
    c.set(&amount);
    params.Put(2, amount);
    Variant result;
    EXPECT_EQ(S_OK, ext->CallAsFunc(4, &result, params.Ptr()));
    EXPECT_EQ(VT_BOOL, result.vt);
    EXPECT_EQ(VARIANT_FALSE, result.boolVal);
    EXPECT_EQ(c.code, LastError());
  }
}

TEST_F(CallAsFunc, OutParametersAreRetypedWhateverTheHostPassed) {
  // GetCurrentStatus: 1..3 integers out, 4 string out. The host passes the wrong types, one of
  // them an old string that must be freed, not read as a number.
  ParamArray params(5);
  Variant v;
  SetText(&v, "old string");
  params.Put(1, v);
  SetR8(&v, 2.5);
  params.Put(2, v);
  SetI4(&v, 42);
  params.Put(4, v);
  Variant result;
  EXPECT_EQ(S_OK, ext->CallAsFunc(13, &result, params.Ptr()));
  for (LONG p : {1, 2, 3}) {
    Variant out;
    params.Get(p, &out);
    EXPECT_EQ(VT_I4, out.vt) << p;
  }
  Variant out;
  params.Get(4, &out);
  EXPECT_EQ(VT_BSTR, out.vt);
}

TEST_F(CallAsFunc, RefusedArraysDoNotReachTheMethod) {
  SAFEARRAYBOUND twoDims[2] = {{3, 0}, {3, 0}};
  // An array whose elements are not VARIANTs (a host passing an array of strings, say).
  SAFEARRAY* notVariants = SafeArrayCreateVector(VT_VARIANT, 0, 3);
  notVariants->fFeatures = 0;
  struct Case {
    const char* what;
    SAFEARRAY* psa;
    bool passPointer;
  } cases[] = {
      {"null array", nullptr, true},
      {"null pointer to array", nullptr, false},
      {"two dimensions", SafeArrayCreate(VT_VARIANT, 2, twoDims), true},
      {"too short", SafeArrayCreateVector(VT_VARIANT, 0, 2), true},
      {"empty", SafeArrayCreateVector(VT_VARIANT, 0, 0), true},
      {"elements not VARIANTs", notVariants, true},
  };
  for (Case& c : cases) {
    Device()->nLastResult = 77;  // a wrapper would clear this first
    Variant result;
    EXPECT_EQ(S_FALSE, ext->CallAsFunc(4, &result, c.passPointer ? &c.psa : nullptr)) << c.what;
    EXPECT_EQ(VT_BOOL, result.vt) << c.what;
    EXPECT_EQ(VARIANT_FALSE, result.boolVal) << c.what;
    EXPECT_EQ(77, Device()->nLastResult) << c.what;
    if (c.psa) c.psa->fFeatures = FADF_VARIANT;  // so that it is destroyed as it was made
    SafeArrayDestroy(c.psa);
  }
}

// A caller of the component's own interface gets every [out] parameter cleared, whatever it held
// before and whether or not the call got as far as the method.
TEST_F(CallAsFunc, OutParametersOfTheComponentInterfaceStartCleared) {
  IMirel240F* direct = nullptr;
  ASSERT_EQ(S_OK, ext->QueryInterface(IID_IMirel240F, reinterpret_cast<void**>(&direct)));
  BSTR id = SysAllocString(u"no-such-device");
  BSTR output = reinterpret_cast<BSTR>(0x1);  // garbage the caller left in place
  LONG session = 99, document = 99, ok = 1;
  EXPECT_EQ(S_OK, direct->OdinS_OpenShift(id, nullptr, &output, &session, &document, &ok));
  EXPECT_EQ(nullptr, output);
  EXPECT_EQ(0, session);
  EXPECT_EQ(0, document);
  EXPECT_EQ(0, ok);
  EXPECT_EQ(kResultNoDevice, Device()->nLastResult);
  SysFreeString(id);
  direct->Release();
}

TEST_F(CallAsFunc, UnknownNumberIsNamedInTheLog) {
  std::string logged;
  Device()->pLogUser = &logged;
  Device()->pfnLogMessageH = [](FPContext* ctx, const char* name, const char* text) {
    *static_cast<std::string*>(ctx->pLogUser) += std::string(name) + ": " + text + "\n";
  };
  ParamArray params(1);
  for (LONG n : {24L, -3L}) {
    Variant result;
    EXPECT_EQ(S_FALSE, ext->CallAsFunc(n, &result, params.Ptr()));
    EXPECT_EQ(VT_BOOL, result.vt);
  }
  EXPECT_EQ("CallAsFunc: Unknown method: 24\nCallAsFunc: Unknown method: -3\n", logged);
}

TEST_F(CallAsFunc, LockHeldForDeviceMethodsOnlyAndAlwaysReleased) {
  // The log callbacks run inside the wrappers; from there, ask whether the lock is held.
  struct Probe {
    FPContext* ctx;
    std::vector<bool> freeDuringCall;
  } probe{Device(), {}};
  Device()->pLogUser = &probe;
  Device()->pfnLogEnterH = [](FPContext* ctx, const char*) {
    auto* p = static_cast<Probe*>(ctx->pLogUser);
    p->freeDuringCall.push_back(LockIsFree(p->ctx));
  };
  Variant result;
  ParamArray none(1);
  EXPECT_EQ(S_OK, ext->CallAsFunc(kMethodGetVersion, &result, none.Ptr()));
  VariantClear(&result);
  ParamArray locale(1);
  Variant code;
  SetText(&code, "ru");
  locale.Put(0, code);
  EXPECT_EQ(S_OK, ext->CallAsFunc(22, &result, locale.Ptr()));
  EXPECT_EQ(VARIANT_TRUE, result.boolVal);
  ASSERT_EQ(2u, probe.freeDuringCall.size());
  EXPECT_TRUE(probe.freeDuringCall[0]);   // GetVersion never takes the lock
  EXPECT_FALSE(probe.freeDuringCall[1]);  // SetLocale holds it for the driver method

  // After every method, whatever its outcome, the lock is free again.
  for (LONG n = 0; n < kMethodCount; ++n) {
    ParamArray params(7);
    EXPECT_EQ(S_OK, ext->CallAsFunc(n, &result, params.Ptr())) << n;
    EXPECT_TRUE(LockIsFree(Device())) << MethodAt(n).english;
    VariantClear(&result);
  }
}

TEST(ResultCodes, TextsOfBothRangesAndTheGaps) {
  struct Case {
    int32_t code;
    const char* text;
  } cases[] = {
      {0, " "},
      {1, "COM-порт недоступен"},
      {35, "Возможность не поддерживается"},
      {38, "Конец бумаги у второго принтера"},
      {43, "Ошибка не установлена"},
      {60, "Ошибка не установлена"},
      {100, "Нет открытых документов"},
      {133, "Некорректные исходные данные"},
      {151, "Итог чека превысил максимально допустимое значение"},
      {152, "Ошибка не установлена"},
      {-1, "Ошибка не установлена"},
  };
  for (const Case& c : cases) EXPECT_EQ(Cp1251(c.text), DriverErrorText(c.code)) << c.code;
}

TEST(ResultCodes, LimitTextsAreCompletedOnceForAllObjects) {
  CMirel240F* first = new CMirel240F();
  CMirel240F* second = new CMirel240F();
  const char* expected[] = {
      "Цена в позиции чека слишком велика (2299999977 максимум)",
      "Величина расчета по чеку слишком велика (11640261172 максимум)",
      "Величина расчета по виду оплаты слишком велика (9999999999 максимум)",
      "Стоимость позиции чека слишком велика (4294967295 максимум)",
  };
  for (int code = 39; code <= 42; ++code) {
    EXPECT_EQ(Cp1251(expected[code - 39]), DriverErrorText(code)) << code;
  }
  first->Release();
  second->Release();
}
