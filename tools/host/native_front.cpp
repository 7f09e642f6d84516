// The host platform's side of a native component, for mirel-host and the tests.
#include "native_front.h"

#include <cstdlib>
#include <iostream>
#include <vector>

#include "addin/native/native_values.h"
#include "driver/com_text.h"
#include "platform/codepage.h"
#include "platform/shared_library.h"

using native::tVariant;
using native::WCHAR_T;

namespace {

std::string TextOf(const WCHAR_T* text) {
  std::u16string wide;
  for (const WCHAR_T* p = text; p && *p; ++p) wide.push_back(static_cast<char16_t>(*p));
  return plat::Utf16ToUtf8(wide);
}

std::basic_string<WCHAR_T> HostText(const std::string& utf8) {
  const std::u16string wide = plat::Utf8ToUtf16(utf8);
  return std::basic_string<WCHAR_T>(wide.begin(), wide.end());
}

// The component's tVariant as a VARIANT, then freed the host's way: the component allocated its
// strings through the host's memory manager for the host to free.
void TakeValue(tVariant* value, VARIANT* out, HostMemory& memory) {
  if (!native::ToVariant(*value, out)) VariantInit(out);
  native::ClearNative(value, &memory);
}

// A native component behind the COM interfaces mirel-host's session calls.
class NativeFront final : public IInitDone, public ILanguageExtender {
 public:
  NativeFront(const NativeEntryPoints& entry, std::shared_ptr<void> keep, native::IComponentBase* object,
              HostConnection& connection, HostMemory& memory)
      : m_entry(entry),
        m_keep(std::move(keep)),
        m_pObject(object),
        m_memory(memory),
        m_services(connection, memory) {}
  ~NativeFront() { m_entry.destroyObject(&m_pObject); }

  native::IComponentBase* Object() const { return m_pObject; }
  const NativeHostServices& Services() const { return m_services; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override {
    if (!ppvObject) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IInitDone) {
      *ppvObject = static_cast<IInitDone*>(this);
    } else if (riid == IID_ILanguageExtender) {
      *ppvObject = static_cast<ILanguageExtender*>(this);
    } else {
      *ppvObject = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_nRefCount; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG count = --m_nRefCount;
    if (count == 0) delete this;
    return count;
  }

  // The host platform gives the memory manager, then the connection.
  HRESULT STDMETHODCALLTYPE Init(IDispatch*) override {
    m_pObject->setMemManager(&m_memory);
    return m_pObject->Init(static_cast<native::IAddInDefBase*>(&m_services)) ? S_OK : E_FAIL;
  }
  HRESULT STDMETHODCALLTYPE Done() override {
    m_pObject->Done();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetInfo(SAFEARRAY** pInfo) override {
    if (!pInfo || !*pInfo) return E_POINTER;
    VARIANT version;
    VariantInit(&version);
    version.vt = VT_I4;
    version.lVal = static_cast<LONG>(m_pObject->GetInfo());
    LONG index = 0;
    return SafeArrayPutElement(*pInfo, &index, &version);
  }

  HRESULT STDMETHODCALLTYPE FindMethod(BSTR bstrMethodName, LONG* plMethodNum) override {
    if (!plMethodNum) return E_POINTER;
    std::basic_string<WCHAR_T> name;
    if (bstrMethodName) name.assign(bstrMethodName, SysStringLen(bstrMethodName));
    *plMethodNum = static_cast<LONG>(m_pObject->FindMethod(name.c_str()));
    return *plMethodNum >= 0 ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE GetNParams(LONG lMethodNum, LONG* plParams) override {
    if (!plParams) return E_POINTER;
    *plParams = static_cast<LONG>(m_pObject->GetNParams(lMethodNum));
    return S_OK;
  }
  // The parameters as the host platform passes them: one tVariant each, strings in its memory;
  // what the component left in them afterwards is read back and freed.
  HRESULT STDMETHODCALLTYPE CallAsFunc(LONG lMethodNum, VARIANT* pvarRetValue,
                                       SAFEARRAY** paParams) override {
    if (!pvarRetValue || !paParams || !*paParams) return E_POINTER;
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(*paParams, 1, &lower);
    SafeArrayGetUBound(*paParams, 1, &upper);
    const LONG n = upper - lower + 1;
    std::vector<tVariant> params(static_cast<size_t>(n));
    for (LONG i = 0; i < n; ++i) {
      VARIANT element;
      SafeArrayGetElement(*paParams, &i, &element);
      if (!native::ToNative(element, &params[i], &m_memory)) native::ClearNative(&params[i], &m_memory);
      VariantClear(&element);
    }
    tVariant result{};
    const bool called = m_pObject->CallAsFunc(lMethodNum, &result, params.data(), n);
    for (LONG i = 0; i < n; ++i) {
      VARIANT element;
      TakeValue(&params[i], &element, m_memory);
      SafeArrayPutElement(*paParams, &i, &element);
      VariantClear(&element);
    }
    TakeValue(&result, pvarRetValue, m_memory);
    return called ? S_OK : S_FALSE;
  }

  // Not asked for by mirel-host's session.
  HRESULT STDMETHODCALLTYPE RegisterExtensionAs(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetNProps(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FindProp(BSTR, LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPropName(LONG, LONG, BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetPropVal(LONG, VARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetPropVal(LONG, VARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsPropReadable(LONG, BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsPropWritable(LONG, BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetNMethods(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMethodName(LONG, LONG, BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetParamDefValue(LONG, LONG, VARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE HasRetVal(LONG, BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CallAsProc(LONG, SAFEARRAY**) override { return E_NOTIMPL; }

 private:
  ULONG m_nRefCount = 1;
  NativeEntryPoints m_entry;
  std::shared_ptr<void> m_keep;
  native::IComponentBase* m_pObject;
  HostMemory& m_memory;
  NativeHostServices m_services;
};

template <typename T>
bool Find(const plat::SharedLibrary& library, const char* name, T* out, std::string* error) {
  *out = reinterpret_cast<T>(library.Symbol(name));
  if (!*out) *error = std::string("the library exports no ") + name;
  return *out != nullptr;
}

}  // namespace

// ---- Memory ----------------------------------------------------------------------------------------

bool HostMemory::AllocMemory(void** pMemory, unsigned long ulCountByte) {
  if (!pMemory) return false;
  *pMemory = std::malloc(ulCountByte ? ulCountByte : 1);
  if (*pMemory) ++m_nOutstanding;
  return *pMemory != nullptr;
}

void HostMemory::FreeMemory(void** pMemory) {
  if (!pMemory || !*pMemory) return;
  std::free(*pMemory);
  *pMemory = nullptr;
  --m_nOutstanding;
}

// ---- The connection ----------------------------------------------------------------------------------

NativeHostServices::NativeHostServices(HostConnection& connection, HostMemory& memory)
    : m_connection(connection), m_memory(memory) {
  m_appInfo = {connection.PlatformInfo().pszVersion,
               static_cast<AppType>(connection.PlatformInfo().nApplication), nullptr};
}

bool NativeHostServices::AddError(unsigned short wcode, const WCHAR_T* source, const WCHAR_T* descr,
                                  long scode) {
  const std::string line = "error log: " + TextOf(source) + ": " + TextOf(descr) + " (" +
                           std::to_string(wcode) + ", " + std::to_string(scode) + ")";
  std::cerr << line << '\n';
  m_errors += line + '\n';
  return true;
}

// A stored number comes back as VTYPE_I4, anything else as a string in the host's memory; a value
// never stored is a failed read with a description the component frees.
bool NativeHostServices::Read(WCHAR_T* wszPropName, tVariant* pVal, long* pErrCode, WCHAR_T** errDescriptor) {
  if (!wszPropName || !pVal) return false;
  std::string text;
  if (!m_connection.Lookup(TextOf(wszPropName), &text)) {
    if (pErrCode) *pErrCode = 1;
    if (errDescriptor) {
      const std::basic_string<WCHAR_T> reason = HostText("no such value");
      *errDescriptor = native::AllocText(&m_memory, reason.data(), reason.size());
    }
    return false;
  }
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = Utf8ToBstr(text.c_str());
  LONG number = 0;
  const bool isNumber = VariantToInt32(value, &number);
  if (isNumber) {
    VariantClear(&value);
    value.vt = VT_I4;
    value.lVal = number;
  }
  const bool ok = native::ToNative(value, pVal, &m_memory);
  VariantClear(&value);
  return ok;
}

bool NativeHostServices::Write(WCHAR_T* wszPropName, tVariant* pVar) {
  if (!wszPropName || !pVar) return false;
  VARIANT value;
  if (!native::ToVariant(*pVar, &value)) return false;
  LONG number = 0;
  const std::string text = value.vt == VT_BSTR              ? BstrToUtf8(value.bstrVal)
                           : VariantToInt32(value, &number) ? std::to_string(number)
                                                            : std::string();
  const bool known = value.vt == VT_BSTR || value.vt == VT_I4;
  VariantClear(&value);
  return known && m_connection.Store(TextOf(wszPropName), text);
}

bool NativeHostServices::RegisterProfileAs(WCHAR_T* wszProfileName) {
  m_connection.NameProfile(TextOf(wszProfileName));
  return true;
}

native::IInterface* NativeHostServices::GetInterface(native::Interfaces iface) {
  return iface == native::eIPlatformInfo ? static_cast<native::IPlatformInfo*>(this) : nullptr;
}

// ---- Creating the component -----------------------------------------------------------------------------

bool CreateNativeComponent(const NativeEntryPoints& entry, std::shared_ptr<void> keep,
                           HostConnection& connection, HostMemory& memory, IInitDone** ppInitDone,
                           std::string* error) {
  // The host announces its capabilities first, then creates the first class the library names.
  entry.setPlatformCapabilities(native::eAppCapabilities1);
  std::basic_string<WCHAR_T> name;
  for (const WCHAR_T* p = entry.getClassNames(); p && *p && *p != '|'; ++p) name.push_back(*p);
  native::IComponentBase* object = nullptr;
  if (name.empty() || !entry.getClassObject(name.c_str(), &object) || !object) {
    *error = "the library creates no component";
    return false;
  }
  *ppInitDone = new NativeFront(entry, std::move(keep), object, connection, memory);
  return true;
}

bool LoadNativeLibrary(const std::string& path, NativeEntryPoints* entry, std::shared_ptr<void>* keep,
                       std::string* error) {
  auto library = std::make_shared<plat::SharedLibrary>(path);
  if (!library->Loaded()) {
    *error = "cannot load " + path + ": " + library->Error();
    return false;
  }
  if (!Find(*library, "GetClassNames", &entry->getClassNames, error) ||
      !Find(*library, "GetClassObject", &entry->getClassObject, error) ||
      !Find(*library, "DestroyObject", &entry->destroyObject, error) ||
      !Find(*library, "SetPlatformCapabilities", &entry->setPlatformCapabilities, error) ||
      !Find(*library, "GetAttachType", &entry->getAttachType, error)) {
    return false;
  }
  *keep = library;
  return true;
}

native::IComponentBase* NativeObjectOf(IInitDone* component) {
  return static_cast<NativeFront*>(component)->Object();
}

const NativeHostServices& NativeServicesOf(IInitDone* component) {
  return static_cast<NativeFront*>(component)->Services();
}
