// The object's life with the host: class factory, interfaces and references, Init with and
// without a property profile, GetInfo, Done, and the host's language request.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <map>

#include "addin_test_support.h"
#include "component_on_printer.h"
#include "support/process_usage.h"

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
  ASSERT_EQ(S_OK, DllGetClassObject(CLSID_Mirel240F, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
  // Any outer object is refused; the factory itself stands for one.
  EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(factory, IID_IUnknown, &p));
  EXPECT_EQ(S_OK, DllCanUnloadNow());
  IMirel240F* object = nullptr;
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IMirel240F, reinterpret_cast<void**>(&object)));
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

// A damaged profile must not put a value into the driver that no setting would take: each value out
// of its range is passed over, and the field keeps what the last good profile gave it.
TEST_F(Lifecycle, ProfileValuesOutOfRangeAreIgnored) {
  host.values = {{"ComPort", "4"}, {"Speed", "3"}, {"FDOPort", "7790"}, {"FDOAddr", "ofd.test"}};
  ASSERT_EQ(S_OK, InitDone()->Init(&host));
  ASSERT_EQ(S_OK, InitDone()->Done());
  host.values = {{"ComPort", "-2"}, {"Speed", "7"}, {"FDOPort", "65536"}, {"FDOAddr", std::string(261, 'a')}};
  ASSERT_EQ(S_OK, InitDone()->Init(&host));
  Variant port;
  ext->GetPropVal(kPropPort, &port);
  EXPECT_EQ(4, port.lVal);
  EXPECT_EQ(7790, Device()->nFdoPort);
  EXPECT_STREQ("ofd.test", Device()->szFdoAddress);
  ASSERT_EQ(S_OK, InitDone()->Done());
  EXPECT_EQ("3", host.stored["Speed"]);

  // The edges of the ranges are values like any other.
  host.values = {
      {"ComPort", "256"}, {"Speed", "0"}, {"FDOPort", "65535"}, {"FDOAddr", std::string(260, 'b')}};
  ASSERT_EQ(S_OK, InitDone()->Init(&host));
  ext->GetPropVal(kPropPort, &port);
  EXPECT_EQ(256, port.lVal);
  EXPECT_EQ(65535, Device()->nFdoPort);
  EXPECT_EQ(std::string(260, 'b'), Device()->szFdoAddress);
  ASSERT_EQ(S_OK, InitDone()->Done());
  EXPECT_EQ("0", host.stored["Speed"]);
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

// The component's whole life with the host, on the virtual printer and beside the OFD server, as a
// till lives it many times a day: what each life takes from the process, it must give back.
class LifecycleOnPrinter : public ComponentOnPrinter<65> {
 protected:
  void SetUp() override {
    ComponentOnPrinter::SetUp();
    host.values = {{"ComPort", "65"},
                   {"Speed", "1"},
                   {"FDOPort", std::to_string(stub.Port())},
                   {"FDOAddr", "127.0.0.1"}};
  }

  // One session of the host: the component created, initialised from the profile, opened (its
  // relay carries a document to the OFD server), closed, done and released.
  void Session() {
    ReleaseComponent();
    CreateComponent();
    Device()->pClock = &clock;
    ASSERT_EQ(S_OK, InitDone()->Init(&host));
    ASSERT_TRUE(Set("Password", "472913"));
    printer.ModifyState([](emu::PrinterState& s) { emu::PreloadDocuments(&s, 1); });
    bool opened = false;
    const std::string id = Open(&opened);
    ASSERT_TRUE(opened);
    ASSERT_TRUE(BacklogEmpties());
    EXPECT_TRUE(CallWithID("Close", id));
    EXPECT_EQ(S_OK, InitDone()->Done());
    EXPECT_EQ(0, host.references);
    ReleaseComponent();
    // What the printer keeps of the session is the printer's memory, not the component's.
    printer.ModifyState([](emu::PrinterState& s) {
      s.fd.documents.clear();
      s.tape.clear();
    });
    printer.ClearTrace();
  }

  FakeConnection host;
};

// The number of sessions comes from MIREL_LIFECYCLE_RUNS (scripts/lifecycle-check runs 1,000);
// the suite runs a few.
TEST_F(LifecycleOnPrinter, ManySessionsLeaveNoThreadPortSocketOrMemoryBehind) {
  const char* configured = std::getenv("MIREL_LIFECYCLE_RUNS");
  const int runs = configured ? std::atoi(configured) : 3;
  // The first sessions fill the process's tables and the allocator's pools once for all.
  for (int i = 0; i < 2; ++i) ASSERT_NO_FATAL_FAILURE(Session());
  const ProcessUsage before = ProcessUsage::Now();
  for (int i = 0; i < runs; ++i) ASSERT_NO_FATAL_FAILURE(Session()) << "session " << i;
  const ProcessUsage after = ProcessUsage::Now();
  std::cout << "after " << runs << " sessions: " << after.Text() << "\n"
            << "before them:        " << before.Text() << "\n"
            << "resident growth: " << after.residentKb - before.residentKb << " kB\n";
  EXPECT_EQ(before.threads, after.threads);
  EXPECT_EQ(before.descriptors, after.descriptors);
  EXPECT_EQ(before.sockets, after.sockets);
  EXPECT_EQ(before.ports, after.ports);
  // The allocator keeps some slack; a leak of a device context or a relay per session does not
  // fit in it over many sessions.
  EXPECT_LT(after.residentKb - before.residentKb, 4096);
  EXPECT_EQ(static_cast<size_t>(runs + 2), stub.Lines().size());
}

TEST_F(LifecycleOnPrinter, ReleaseWithoutDoneEndsTheRelayAndFreesThePort) {
  const ProcessUsage idle = ProcessUsage::Now();
  Configure();
  bool opened = false;
  Open(&opened);
  ASSERT_TRUE(opened);
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  while (line.Commands("SuF").empty() && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_FALSE(line.Commands("SuF").empty()) << "the relay never polled";
  EXPECT_EQ(idle.threads + 1, ProcessUsage::Now().threads);

  // The host lets go of the object without Done, with the relay idling between its polls.
  const auto start = std::chrono::steady_clock::now();
  ReleaseComponent();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  const ProcessUsage released = ProcessUsage::Now();
  EXPECT_EQ(idle.threads, released.threads);
  EXPECT_EQ(idle.ports, released.ports);
  EXPECT_EQ(idle.sockets, released.sockets);
  EXPECT_EQ(FramesArrivingLater(), 0u);
}

// Two tills' worth of components in one process, each on its own printer: neither sees the other's
// device, identifier or relay, and one's Done leaves the other working.
TEST_F(LifecycleOnPrinter, TwoObjectsInOneProcessKeepTheirOwnDevices) {
  PrinterLine second(66, clock);
  second.Start();
  ILanguageExtender* other = nullptr;
  IClassFactory* factory = nullptr;
  ASSERT_EQ(S_OK, DllGetClassObject(CLSID_Mirel240F, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_ILanguageExtender, reinterpret_cast<void**>(&other)));
  factory->Release();
  CMirel240F* otherObject = static_cast<CMirel240F*>(other);
  otherObject->Device()->pClock = &clock;

  Configure();
  printer.ModifyState([](emu::PrinterState& s) { emu::PreloadDocuments(&s, 1); });
  second.printer.ModifyState([](emu::PrinterState& s) { emu::PreloadDocuments(&s, 2); });
  auto setOther = [&](const char* name, const VARIANT& value) {
    LONG ok = 0;
    EXPECT_EQ(S_OK, otherObject->OdinS_SetParameter(Bstr(name), value, &ok));
    EXPECT_EQ(1, ok) << name;
  };
  Variant v;
  SetI4(&v, 66);
  setOther("Port", v);
  SetText(&v, "472913");
  setOther("Password", v);
  SetText(&v, "127.0.0.1");
  setOther("AddressFDO", v);
  SetI4(&v, stub.Port());
  setOther("PortFDO", v);

  bool opened = false;
  const std::string id = Open(&opened);
  ASSERT_TRUE(opened);
  BSTR otherID = nullptr;
  LONG otherOpened = 0;
  ASSERT_EQ(S_OK, otherObject->OdinS_Open(&otherID, &otherOpened));
  ASSERT_EQ(1, otherOpened);
  // Each relay carries its own printer's documents.
  ASSERT_TRUE(BacklogEmpties());
  ASSERT_TRUE(BacklogEmpties(second.printer));
  EXPECT_EQ(3u, stub.Lines().size());

  // The first one's identifier means nothing to the second, and its Done leaves the second alone.
  LONG ok = 1, width = 0;
  EXPECT_EQ(S_OK, otherObject->OdinS_GetLineLength(Bstr(id.c_str()), &width, &ok));
  EXPECT_EQ(0, ok);
  EXPECT_LT(TimedDone(), std::chrono::seconds(3));
  EXPECT_EQ(S_OK, otherObject->OdinS_GetLineLength(otherID, &width, &ok));
  EXPECT_EQ(1, ok);
  EXPECT_EQ(42, width);
  SysFreeString(otherID);
  other->Release();
}
