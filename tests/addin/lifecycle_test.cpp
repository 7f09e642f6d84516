// The object's life with the host: class factory, interfaces and references, Init with and
// without a property profile, GetInfo, Done, and the host's language request.
#include <gtest/gtest.h>

#include <map>

#include "addin_test_support.h"

namespace {

// A connection object offering the services a test chooses; it counts the references it hands out.
class FakeConnection final : public IDispatch, public IPropertyProfile, public IPlatformInfo {
 public:
  bool offerProfile = true;
  bool failReads = false;
  std::map<std::string, std::string> stored;  // what the component wrote
  std::map<std::string, std::string> values;  // what a read returns, by name without default
  std::string profileName;
  LONG references = 0;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
      *ppv = static_cast<IDispatch*>(this);
    } else if (offerProfile && riid == IID_IPropertyProfile) {
      *ppv = static_cast<IPropertyProfile*>(this);
    } else if (riid == IID_IPlatformInfo) {
      *ppv = static_cast<IPlatformInfo*>(this);
    } else {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }

  HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* v, IErrorLog*) override {
    if (failReads) return E_FAIL;
    std::string key = Text(name), fallback;
    const size_t colon = key.find(':');
    if (colon != std::string::npos) {
      fallback = key.substr(colon + 1);
      key.resize(colon);
    }
    const std::string text = values.count(key) ? values[key] : fallback;
    if (v->vt == VT_I4) {
      v->lVal = std::stoi(text);
    } else {
      v->bstrVal = Utf8ToBstr(text.c_str());
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT* v) override {
    stored[Text(name)] = v->vt == VT_I4 ? std::to_string(v->lVal) : BstrToUtf8(v->bstrVal);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE RegisterProfileAs(BSTR name) override {
    profileName = BstrToUtf8(name);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPlatformInfo(const HostPlatformInfo** info) override {
    *info = &m_info;
    return S_OK;
  }

 private:
  static std::string Text(LPCOLESTR name) {
    std::u16string s;
    for (; *name; ++name) s.push_back(static_cast<char16_t>(*name));
    return plat::Utf16ToUtf8(s);
  }
  HostPlatformInfo m_info{u"8.3.99.1234567890123456", 1};
};

}  // namespace

class Lifecycle : public ComponentTest {
 protected:
  IInitDone* InitDone() {
    IInitDone* p = nullptr;
    EXPECT_EQ(S_OK, ext->QueryInterface(IID_IInitDone, reinterpret_cast<void**>(&p)));
    p->Release();  // the fixture's reference keeps the object alive
    return p;
  }
  FakeConnection host;
};

TEST_F(Lifecycle, InterfacesShareOneObjectAndItsCount) {
  const IID* offered[] = {&IID_IUnknown, &IID_IInitDone, &IID_ILanguageExtender, &IID_ILocale,
                          &IID_IMirel240F};
  for (const IID* iid : offered) {
    IUnknown* p = nullptr;
    ASSERT_EQ(S_OK, ext->QueryInterface(*iid, reinterpret_cast<void**>(&p)));
    IUnknown* identity = nullptr;
    ASSERT_EQ(S_OK, p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)));
    IUnknown* first = nullptr;
    ext->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&first));
    EXPECT_EQ(first, identity);
    first->Release();
    identity->Release();
    p->Release();
  }
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(E_NOINTERFACE, ext->QueryInterface(IID_IDispatch, &p));
  EXPECT_EQ(nullptr, p);
}

TEST(ClassFactory, RefusesOtherClassesAndAggregationAndTracksUnloading) {
  void* p = nullptr;
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, DllGetClassObject(IID_IMirel240F, IID_IClassFactory, &p));
  IClassFactory* factory = nullptr;
  ASSERT_EQ(S_OK, DllGetClassObject(CLSID_Mirel240F, IID_IClassFactory,
                                    reinterpret_cast<void**>(&factory)));
  // Any outer object is refused; the factory itself stands for one.
  EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(factory, IID_IUnknown, &p));
  EXPECT_EQ(S_OK, DllCanUnloadNow());
  IMirel240F* object = nullptr;
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IMirel240F,
                                          reinterpret_cast<void**>(&object)));
  EXPECT_EQ(S_FALSE, DllCanUnloadNow());
  object->Release();
  EXPECT_EQ(S_OK, DllCanUnloadNow());
  factory->Release();
}

TEST_F(Lifecycle, InitReadsTheProfileAndDoneWritesItBackAndLetsGo) {
  host.values = {{"ComPort", "4"}, {"Speed", "3"}, {"FDOPort", "70000"}, {"FDOAddr", "ofd.test"}};
  ASSERT_EQ(S_OK, InitDone()->Init(&host));
  EXPECT_EQ("Mirel240F_DRV_2003", host.profileName);
  EXPECT_GT(host.references, 0);
  Variant port;
  ext->GetPropVal(kPropPort, &port);
  EXPECT_EQ(4, port.lVal);
  EXPECT_EQ(0, Device()->nFdoPort);  // outside 1..65535
  EXPECT_STREQ("ofd.test", Device()->szFdoAddress);

  ASSERT_EQ(S_OK, InitDone()->Done());
  EXPECT_EQ(0, host.references);
  const std::map<std::string, std::string> written = {
      {"ComPort", "4"}, {"Speed", "3"}, {"FDOPort", "0"}, {"FDOAddr", "ofd.test"}};
  EXPECT_EQ(written, host.stored);
}

// What the host sets during a session reaches the profile at Done, and the next session's Init
// reads it back.
TEST_F(Lifecycle, OfdSettingsOfOneSessionReachTheNextThroughTheProfile) {
  host.values = {{"ComPort", "1"}, {"Speed", "1"}, {"FDOPort", "7777"}, {"FDOAddr", "1"}};
  ASSERT_EQ(S_OK, InitDone()->Init(&host));
  auto set = [&](const char* setting, const VARIANT& value) {
    ParamArray params(2);
    Variant name;
    SetText(&name, setting);
    params.Put(0, name);
    params.Put(1, value);
    Variant result;
    ASSERT_EQ(S_OK, ext->CallAsFunc(Find("SetParameter"), &result, params.Ptr()));
    EXPECT_EQ(VARIANT_TRUE, result.boolVal) << setting;
  };
  Variant address, port;
  SetText(&address, "ofd.example.test");
  port.vt = VT_I4;
  port.lVal = 7790;
  set("AddressFDO", address);
  set("PortFDO", port);
  ASSERT_EQ(S_OK, InitDone()->Done());
  EXPECT_EQ("ofd.example.test", host.stored["FDOAddr"]);
  EXPECT_EQ("7790", host.stored["FDOPort"]);

  // The next session: a new component, the same profile.
  ILanguageExtender* next = nullptr;
  IClassFactory* factory = nullptr;
  ASSERT_EQ(S_OK, DllGetClassObject(CLSID_Mirel240F, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_ILanguageExtender, reinterpret_cast<void**>(&next)));
  factory->Release();
  FakeConnection nextHost;
  nextHost.values = host.stored;
  IInitDone* nextInit = nullptr;
  ASSERT_EQ(S_OK, next->QueryInterface(IID_IInitDone, reinterpret_cast<void**>(&nextInit)));
  ASSERT_EQ(S_OK, nextInit->Init(&nextHost));
  FPContext* device = static_cast<CMirel240F*>(next)->Device();
  EXPECT_STREQ("ofd.example.test", device->szFdoAddress);
  EXPECT_EQ(7790, device->nFdoPort);
  nextInit->Done();
  nextInit->Release();
  next->Release();
}

TEST_F(Lifecycle, InitWithoutProfileKeepsDefaultsAndFailedReadFails) {
  host.offerProfile = false;
  ASSERT_EQ(S_OK, InitDone()->Init(&host));
  Variant port;
  ext->GetPropVal(kPropPort, &port);
  EXPECT_EQ(0, port.lVal);
  EXPECT_STREQ("", Device()->szFdoAddress);
  EXPECT_EQ(S_OK, InitDone()->Done());
  EXPECT_TRUE(host.stored.empty());
  EXPECT_EQ(0, host.references);

  host.offerProfile = true;
  host.failReads = true;
  EXPECT_EQ(E_FAIL, InitDone()->Init(&host));
  EXPECT_EQ(S_OK, InitDone()->Done());
  EXPECT_EQ(0, host.references);
  EXPECT_EQ(E_FAIL, InitDone()->Init(nullptr));
}

TEST_F(Lifecycle, OpenTakesTheHostVersionBoundedToTwentyCharacters) {
  host.offerProfile = false;
  ASSERT_EQ(S_OK, InitDone()->Init(&host));
  ParamArray params(1);
  Variant result;
  ext->CallAsFunc(kMethodOpen, &result, params.Ptr());
  EXPECT_STREQ("8.3.99.1234567890123", Device()->szHostVersion);
  EXPECT_EQ(1, Device()->nHostApplication);
  InitDone()->Done();
}

TEST_F(Lifecycle, GetInfoWritesOnlyElementZero) {
  ParamArray info(2);
  Variant marker;
  SetText(&marker, "untouched");
  info.Put(1, marker);
  ASSERT_EQ(S_OK, InitDone()->GetInfo(info.Ptr()));
  Variant v;
  info.Get(0, &v);
  EXPECT_EQ(VT_I4, v.vt);
  EXPECT_EQ(2000, v.lVal);
  info.Get(1, &v);
  EXPECT_EQ("untouched", BstrToUtf8(v.bstrVal));
}

TEST_F(Lifecycle, LocaleRequestLeavesTheErrorStateAlone) {
  ILocale* locale = nullptr;
  ASSERT_EQ(S_OK, ext->QueryInterface(IID_ILocale, reinterpret_cast<void**>(&locale)));
  Device()->nLastResult = 15;
  Device()->nDeviceError = 41;
  Bstr code("ru_RU");
  EXPECT_EQ(S_OK, locale->SetLocale(code));
  EXPECT_EQ(S_OK, locale->SetLocale(nullptr));
  EXPECT_EQ(15, Device()->nLastResult);
  EXPECT_EQ(41, Device()->nDeviceError);
  locale->Release();
}
