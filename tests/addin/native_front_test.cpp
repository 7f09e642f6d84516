// The native front as the host sees it: the layout of its interfaces and values against the host's
// published description, the library's exported functions, and the calls it must refuse rather
// than read memory it does not own.
#include "host/native_front.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "addin/native/native_component.h"
#include "addin/native/native_values.h"
#include "host/host_services.h"
#include "platform/codepage.h"
#include "platform/shared_library.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace {

using namespace native;

// The vtable slot of a virtual method. Under the Itanium C++ ABI a pointer to a virtual member
// holds one more than the method's byte offset in the vtable.
template <typename M>
size_t Slot(M member) {
  struct {
    uintptr_t ptr;
    ptrdiff_t adjust;
  } raw;
  static_assert(sizeof member == sizeof raw, "a pointer to member is two words");
  std::memcpy(&raw, &member, sizeof raw);
  return (raw.ptr - 1) / sizeof(void*);
}

std::u16string U16(const WCHAR_T* text) {
  std::u16string s;
  for (const WCHAR_T* p = text; p && *p; ++p) s.push_back(*p);
  return s;
}

// The method order of the host's description, each interface after its destructor, which takes the
// first two slots on this system.
TEST(NativeLayout, MethodsSitInTheSlotsOfThePublishedOrder) {
  struct Case {
    const char* method;
    size_t slot;
    size_t documented;
  } cases[] = {
      {"IInitDoneBase::Init", Slot(&IInitDoneBase::Init), 2},
      {"IInitDoneBase::setMemManager", Slot(&IInitDoneBase::setMemManager), 3},
      {"IInitDoneBase::GetInfo", Slot(&IInitDoneBase::GetInfo), 4},
      {"IInitDoneBase::Done", Slot(&IInitDoneBase::Done), 5},
      {"ILanguageExtenderBase::RegisterExtensionAs", Slot(&ILanguageExtenderBase::RegisterExtensionAs), 2},
      {"ILanguageExtenderBase::GetNProps", Slot(&ILanguageExtenderBase::GetNProps), 3},
      {"ILanguageExtenderBase::FindProp", Slot(&ILanguageExtenderBase::FindProp), 4},
      {"ILanguageExtenderBase::GetPropName", Slot(&ILanguageExtenderBase::GetPropName), 5},
      {"ILanguageExtenderBase::GetPropVal", Slot(&ILanguageExtenderBase::GetPropVal), 6},
      {"ILanguageExtenderBase::SetPropVal", Slot(&ILanguageExtenderBase::SetPropVal), 7},
      {"ILanguageExtenderBase::IsPropReadable", Slot(&ILanguageExtenderBase::IsPropReadable), 8},
      {"ILanguageExtenderBase::IsPropWritable", Slot(&ILanguageExtenderBase::IsPropWritable), 9},
      {"ILanguageExtenderBase::GetNMethods", Slot(&ILanguageExtenderBase::GetNMethods), 10},
      {"ILanguageExtenderBase::FindMethod", Slot(&ILanguageExtenderBase::FindMethod), 11},
      {"ILanguageExtenderBase::GetMethodName", Slot(&ILanguageExtenderBase::GetMethodName), 12},
      {"ILanguageExtenderBase::GetNParams", Slot(&ILanguageExtenderBase::GetNParams), 13},
      {"ILanguageExtenderBase::GetParamDefValue", Slot(&ILanguageExtenderBase::GetParamDefValue), 14},
      {"ILanguageExtenderBase::HasRetVal", Slot(&ILanguageExtenderBase::HasRetVal), 15},
      {"ILanguageExtenderBase::CallAsProc", Slot(&ILanguageExtenderBase::CallAsProc), 16},
      {"ILanguageExtenderBase::CallAsFunc", Slot(&ILanguageExtenderBase::CallAsFunc), 17},
      {"LocaleBase::SetLocale", Slot(&LocaleBase::SetLocale), 2},
      {"IMemoryManager::AllocMemory", Slot(&IMemoryManager::AllocMemory), 2},
      {"IMemoryManager::FreeMemory", Slot(&IMemoryManager::FreeMemory), 3},
      {"IAddInDefBase::AddError", Slot(&IAddInDefBase::AddError), 2},
      {"IAddInDefBase::Read", Slot(&IAddInDefBase::Read), 3},
      {"IAddInDefBase::Write", Slot(&IAddInDefBase::Write), 4},
      {"IAddInDefBase::RegisterProfileAs", Slot(&IAddInDefBase::RegisterProfileAs), 5},
      {"IAddInDefBase::SetEventBufferDepth", Slot(&IAddInDefBase::SetEventBufferDepth), 6},
      {"IAddInDefBase::GetEventBufferDepth", Slot(&IAddInDefBase::GetEventBufferDepth), 7},
      {"IAddInDefBase::ExternalEvent", Slot(&IAddInDefBase::ExternalEvent), 8},
      {"IAddInDefBase::CleanEventBuffer", Slot(&IAddInDefBase::CleanEventBuffer), 9},
      {"IAddInDefBase::SetStatusLine", Slot(&IAddInDefBase::SetStatusLine), 10},
      {"IAddInDefBase::ResetStatusLine", Slot(&IAddInDefBase::ResetStatusLine), 11},
      {"IAddInDefBaseEx::GetInterface", Slot(&IAddInDefBaseEx::GetInterface), 12},
      // The platform information has no destructor of its own.
      {"IPlatformInfo::GetPlatformInfo", Slot(&native::IPlatformInfo::GetPlatformInfo), 0},
  };
  for (const Case& c : cases) EXPECT_EQ(c.slot, c.documented) << c.method;

  // The object as the host holds it: the three interfaces one pointer apart, in that order.
  CMirel240FNative object;
  IComponentBase* component = &object;
  const char* base = reinterpret_cast<const char*>(component);
  EXPECT_EQ(reinterpret_cast<const char*>(static_cast<IInitDoneBase*>(component)) - base, 0);
  EXPECT_EQ(reinterpret_cast<const char*>(static_cast<ILanguageExtenderBase*>(component)) - base,
            static_cast<ptrdiff_t>(sizeof(void*)));
  EXPECT_EQ(reinterpret_cast<const char*>(static_cast<LocaleBase*>(component)) - base,
            static_cast<ptrdiff_t>(2 * sizeof(void*)));
}

// The value record on Linux x86_64: the union (as large as the C library's struct tm, 56 bytes),
// then the element count and the 16-bit type; the type numbers the host sends.
TEST(NativeLayout, TheValueRecordHasTheHostsSizesAndOffsets) {
  EXPECT_EQ(sizeof(WCHAR_T), 2u);
  EXPECT_EQ(sizeof(struct tm), 56u);
  EXPECT_EQ(sizeof(tVariant), 64u);
  EXPECT_EQ(alignof(tVariant), 8u);
  EXPECT_EQ(offsetof(tVariant, lVal), 0u);
  EXPECT_EQ(offsetof(tVariant, dblVal), 0u);
  EXPECT_EQ(offsetof(tVariant, tmVal), 0u);
  EXPECT_EQ(offsetof(tVariant, pwstrVal), 0u);
  EXPECT_EQ(offsetof(tVariant, wstrLen), 8u);
  EXPECT_EQ(offsetof(tVariant, pInterfaceVal), 0u);
  EXPECT_EQ(offsetof(tVariant, InterfaceID), 8u);
  EXPECT_EQ(offsetof(tVariant, cbElements), 56u);
  EXPECT_EQ(offsetof(tVariant, vt), 60u);
  EXPECT_EQ(sizeof(TYPEVAR), 2u);
  const TYPEVAR types[] = {VTYPE_I4, VTYPE_R8, VTYPE_TM, VTYPE_BOOL, VTYPE_PWSTR, VTYPE_BLOB};
  const TYPEVAR documented[] = {3, 5, 7, 11, 22, 23};
  for (size_t i = 0; i < std::size(types); ++i) EXPECT_EQ(types[i], documented[i]);
  // The record the platform information hands out: version, application, user agent.
  EXPECT_EQ(offsetof(native::IPlatformInfo::AppInfo, Application), sizeof(void*));
  EXPECT_EQ(offsetof(native::IPlatformInfo::AppInfo, UserAgentInformation), 2 * sizeof(void*));
}

// The library built for the host: its five functions found by name, the one class created and
// destroyed through them, any other name refused.
TEST(NativeLibrary, ExportsTheHostsFunctionsAndCreatesItsClass) {
  NativeEntryPoints entry;
  std::shared_ptr<void> library;
  std::string error;
  ASSERT_TRUE(LoadNativeLibrary(MIREL_NATIVE_LIB_PATH, &entry, &library, &error)) << error;
  EXPECT_EQ(U16(entry.getClassNames()), u"Mirel240F_DRV_2003");
  EXPECT_EQ(entry.getAttachType(), eCanAttachAny);
  EXPECT_EQ(entry.setPlatformCapabilities(eAppCapabilities3), eAppCapabilities1);

  IComponentBase* object = nullptr;
  const std::u16string other = u"Mirel240F";
  EXPECT_EQ(entry.getClassObject(other.c_str(), &object), 0);
  EXPECT_EQ(entry.getClassObject(nullptr, &object), 0);
  EXPECT_EQ(object, nullptr);
  ASSERT_NE(entry.getClassObject(entry.getClassNames(), &object), 0);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(object->GetNMethods(), 24);
  EXPECT_EQ(object->GetInfo(), 2000);
  // A second object is asked for with an empty pointer.
  EXPECT_EQ(entry.getClassObject(entry.getClassNames(), &object), 0);
  EXPECT_EQ(entry.destroyObject(&object), 0);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(entry.destroyObject(&object), -1);

  const plat::SharedLibrary missing("/nonexistent/libMirel240F_DRV.so");
  EXPECT_FALSE(missing.Loaded());
  EXPECT_FALSE(missing.Error().empty());
}

// The component created and initialised as the host does it, with mirel-host's services.
class NativeFront : public ::testing::Test {
 protected:
  void SetUp() override {
    m_config = std::make_unique<ScopedEnv>("XDG_CONFIG_HOME", (m_dir.path() / "config").c_str());
    m_state = std::make_unique<ScopedEnv>("XDG_STATE_HOME", (m_dir.path() / "state").c_str());
    m_connection = std::make_unique<HostConnection>((m_dir.path() / "profile").string());
    m_services = std::make_unique<NativeHostServices>(*m_connection, memory);
    ASSERT_TRUE(object.setMemManager(&memory));
    ASSERT_TRUE(object.Init(static_cast<IAddInDefBase*>(m_services.get())));
  }
  void TearDown() override {
    object.Done();
    EXPECT_EQ(memory.Outstanding(), 0);
  }

  // A string as the host passes it: in the host's memory, with exactly `text`'s characters and no
  // terminating NUL, so that a read past its length is one the sanitizer sees.
  tVariant HostString(const std::u16string& text) {
    tVariant v{};
    void* block = nullptr;
    memory.AllocMemory(&block, static_cast<unsigned long>(text.size() * sizeof(WCHAR_T)));
    std::memcpy(block, text.data(), text.size() * sizeof(WCHAR_T));
    v.vt = VTYPE_PWSTR;
    v.pwstrVal = static_cast<WCHAR_T*>(block);
    v.wstrLen = static_cast<uint32_t>(text.size());
    return v;
  }
  static tVariant Number(int32_t value) {
    tVariant v{};
    v.vt = VTYPE_I4;
    v.lVal = value;
    return v;
  }
  // The code and text GetLastError gives, as the host calls it.
  long LastError(std::string* text) {
    tVariant description{};
    tVariant code{};
    EXPECT_TRUE(object.CallAsFunc(kMethodGetLastError, &code, &description, 1));
    EXPECT_EQ(description.vt, VTYPE_PWSTR);
    *text =
        plat::Utf16ToUtf8(std::u16string(description.pwstrVal, description.pwstrVal + description.wstrLen));
    ClearNative(&description, &memory);
    return code.vt == VTYPE_I4 ? code.lVal : -1;
  }
  void Free(std::vector<tVariant>& params) {
    for (tVariant& v : params) ClearNative(&v, &memory);
  }

  HostMemory memory;
  CMirel240FNative object;
  const NativeHostServices& Services() const { return *m_services; }

 private:
  TempDir m_dir;
  std::unique_ptr<ScopedEnv> m_config, m_state;
  std::unique_ptr<HostConnection> m_connection;
  std::unique_ptr<NativeHostServices> m_services;
};

// What the component cannot read it does not call: False, the cause through AddError (a failure
// that raises the error in the host's script, with the driver's code) and through GetLastError.
TEST_F(NativeFront, CallsItCannotReadAreRefusedThroughAddError) {
  const long close = object.FindMethod(u"Close");
  const long cash = object.FindMethod(u"CashInOutcome");
  const long check = object.FindMethod(u"ProcessCheck");
  const long setParameter = object.FindMethod(u"SetParameter");
  tVariant nullString{};
  nullString.vt = VTYPE_PWSTR;
  nullString.wstrLen = 5;
  tVariant date{};
  date.vt = VTYPE_TM;
  tVariant blob{};
  blob.vt = VTYPE_BLOB;
  struct Case {
    const char* name;
    long method;
    std::vector<tVariant> params;
    long size;  // what the host says the array holds
    const char* reason;
  } cases[] = {
      {"no array at all", close, {}, 0, "fewer parameters"},
      {"three of seven parameters",
       check,
       {HostString(u"1"), Number(0), HostString(u"<CheckPackage/>")},
       3,
       "fewer parameters"},
      {"an identifier given as a number", close, {Number(1)}, 1, "DeviceID"},
      {"an amount given as a string",
       cash,
       {HostString(u"1"), HostString(u""), HostString(u"500")},
       3,
       "Amount"},
      {"a flag given as a date",
       check,
       {HostString(u"1"), date, HostString(u""), {}, {}, {}, {}},
       7,
       "Electronically"},
      {"a setting's value given as a blob", setParameter, {HostString(u"Port"), blob}, 2, "Value"},
      {"a string without characters but with a length", close, {nullString}, 1, "DeviceID"},
  };
  for (Case& c : cases) {
    tVariant result{};
    EXPECT_FALSE(object.CallAsFunc(c.method, &result, c.params.empty() ? nullptr : c.params.data(), c.size))
        << c.name;
    const std::string& errors = Services().Errors();
    const std::string last = errors.substr(errors.rfind("error log:"));
    EXPECT_NE(last.find(MethodAt(c.method).english), std::string::npos) << c.name << ": " << last;
    EXPECT_NE(last.find(c.reason), std::string::npos) << c.name << ": " << last;
    EXPECT_NE(last.find("(1006, 133)"), std::string::npos) << c.name << ": " << last;
    std::string text;
    EXPECT_EQ(LastError(&text), 133) << c.name;
    EXPECT_FALSE(text.empty()) << c.name;
    Free(c.params);
  }
}

// Strings go to the host only through its memory manager, a string the host left in an
// out-parameter is freed its way before the element takes the new one, and a host string is read
// no further than its length.
TEST_F(NativeFront, StringsPassOnlyThroughTheHostsMemory) {
  // "Port" followed by characters beyond the length the host gives.
  std::vector<tVariant> params = {HostString(u"PortXYZ"), Number(7)};
  params[0].wstrLen = 4;
  tVariant result{};
  EXPECT_TRUE(object.CallAsFunc(object.FindMethod(u"SetParameter"), &result, params.data(), 2));
  EXPECT_EQ(result.vt, VTYPE_BOOL);
  EXPECT_TRUE(result.bVal);
  Free(params);

  // GetLastError's description element holding a string of the host's: one block before and after.
  std::vector<tVariant> description = {HostString(u"old text")};
  tVariant code{};
  EXPECT_TRUE(object.CallAsFunc(kMethodGetLastError, &code, description.data(), 1));
  EXPECT_EQ(code.vt, VTYPE_I4);
  EXPECT_EQ(memory.Outstanding(), 1);
  Free(description);

  // Names handed to the host are its to free; numbers beyond 32 bits name nothing.
  const WCHAR_T* name = object.GetMethodName(5, 1);
  EXPECT_EQ(plat::Utf16ToUtf8(U16(name)), "ОткрытьДенежныйЯщик");
  memory.FreeMemory(reinterpret_cast<void**>(const_cast<WCHAR_T**>(&name)));
  EXPECT_EQ(object.GetMethodName((1L << 32) + 1, 0), nullptr);
  tVariant ignored{};
  EXPECT_FALSE(object.CallAsFunc((1L << 32) + 1, &ignored, nullptr, 0));
  WCHAR_T* extension = nullptr;
  ASSERT_TRUE(object.RegisterExtensionAs(&extension));
  EXPECT_EQ(U16(extension), u"Mirel240F_DRV_2004");
  memory.FreeMemory(reinterpret_cast<void**>(&extension));
}

}  // namespace
