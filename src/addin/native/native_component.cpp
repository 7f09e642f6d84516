#include "addin/native/native_component.h"

#include <cstdint>
#include <string>

#include "addin/native/native_values.h"
#include "device/result_codes.h"
#include "platform/codepage.h"

namespace native {

const WCHAR_T kClassName[] = {'M', 'i', 'r', 'e', 'l', '2', '4', '0', 'F', '_',
                              'D', 'R', 'V', '_', '2', '0', '0', '3', 0};

namespace {

// The source the host shows beside a refusal's text.
constexpr const char kErrorSource[] = "Mirel240F_DRV";

// The host's numbers are long, 64-bit on Linux; the table's are 32-bit. A number beyond 32 bits is
// no number of the table, rather than the one its low half would name.
LONG TableNumber(long n) {
  return n < 0 || n > INT32_MAX ? -1 : static_cast<LONG>(n);
}

bool IsOut(ParamKind kind) {
  return kind == ParamKind::kOutString || kind == ParamKind::kOutInteger;
}

// Whether the call hands the host a string, which only its memory manager may allocate.
bool ReturnsText(const MethodInfo& method) {
  if (method.result == ResultKind::kText) return true;
  for (int i = 0; i < method.nParams; ++i) {
    if (method.params[i].kind == ParamKind::kOutString) return true;
  }
  return false;
}

OleString Utf8ToOle(const std::string& text) {
  const std::u16string wide = plat::Utf8ToUtf16(text);
  return OleString(wide.begin(), wide.end());
}

// The parameter array of one call through the method table, destroyed with what it holds.
class ParamArray {
 public:
  explicit ParamArray(int n) : m_psa(SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(n))) {}
  ~ParamArray() { SafeArrayDestroy(m_psa); }
  ParamArray(const ParamArray&) = delete;
  ParamArray& operator=(const ParamArray&) = delete;
  SAFEARRAY*& Get() { return m_psa; }
  // Takes the element's contents.
  void Put(int i, VARIANT* v) {
    LONG index = i;
    SafeArrayPutElement(m_psa, &index, v);
    VariantClear(v);
  }
  // A copy of element i, the caller's to clear.
  void Take(int i, VARIANT* v) {
    LONG index = i;
    VariantInit(v);
    SafeArrayGetElement(m_psa, &index, v);
  }

 private:
  SAFEARRAY* m_psa;
};

}  // namespace

CMirel240FNative::CMirel240FNative() : m_pObject(new CMirel240F()) {}

CMirel240FNative::~CMirel240FNative() {
  // The object releases the host's services, the connection among them, before it goes.
  m_pObject->Release();
  delete m_pConnection;
}

// ---- IInitDoneBase -----------------------------------------------------------------------------

bool CMirel240FNative::Init(void* disp) {
  if (!disp) return false;
  try {
    m_pHost = static_cast<IAddInDefBase*>(disp);
    NativeConnection* previous = m_pConnection;
    m_pConnection = new NativeConnection(m_pHost);
    m_pConnection->SetMemory(m_pMemory);
    const HRESULT hr = m_pObject->Init(static_cast<IDispatch*>(m_pConnection));
    // A second Init without Done: the object has let the first connection go.
    delete previous;
    return SUCCEEDED(hr);
  } catch (...) {
    return false;
  }
}

bool CMirel240FNative::setMemManager(void* mem) {
  m_pMemory = static_cast<IMemoryManager*>(mem);
  if (m_pConnection) m_pConnection->SetMemory(m_pMemory);
  return m_pMemory != nullptr;
}

long CMirel240FNative::GetInfo() {
  ParamArray info(1);
  VARIANT version;
  if (FAILED(m_pObject->GetInfo(&info.Get()))) return 0;
  info.Take(0, &version);
  const long value = version.vt == VT_I4 ? version.lVal : 0;
  VariantClear(&version);
  return value;
}

void CMirel240FNative::Done() {
  m_pObject->Done();
}

// ---- Properties ------------------------------------------------------------------------------------

const WCHAR_T* CMirel240FNative::HostName(HRESULT hr, BSTR name) {
  const WCHAR_T* copy = hr == S_OK ? AllocText(m_pMemory, name, SysStringLen(name)) : nullptr;
  SysFreeString(name);
  return copy;
}

bool CMirel240FNative::RegisterExtensionAs(WCHAR_T** wsExtensionName) {
  if (!wsExtensionName) return false;
  BSTR name = nullptr;
  const HRESULT hr = m_pObject->RegisterExtensionAs(&name);
  *wsExtensionName = const_cast<WCHAR_T*>(HostName(hr, name));
  return *wsExtensionName != nullptr;
}

long CMirel240FNative::GetNProps() {
  LONG n = 0;
  m_pObject->GetNProps(&n);
  return n;
}

long CMirel240FNative::FindProp(const WCHAR_T* wsPropName) {
  BSTR name = NameToBstr(wsPropName);
  LONG n = -1;
  m_pObject->FindProp(name, &n);
  SysFreeString(name);
  return n;
}

const WCHAR_T* CMirel240FNative::GetPropName(long lPropNum, long lPropAlias) {
  BSTR name = nullptr;
  const HRESULT hr = m_pObject->GetPropName(TableNumber(lPropNum), lPropAlias != 0, &name);
  return HostName(hr, name);
}

bool CMirel240FNative::GetPropVal(const long lPropNum, tVariant* pvarPropVal) {
  if (!pvarPropVal) return false;
  VARIANT value;
  VariantInit(&value);
  const bool ok =
      m_pObject->GetPropVal(TableNumber(lPropNum), &value) == S_OK && ToNative(value, pvarPropVal, m_pMemory);
  VariantClear(&value);
  return ok;
}

bool CMirel240FNative::SetPropVal(const long lPropNum, tVariant* varPropVal) {
  VARIANT value;
  if (!varPropVal || !FitsParam(varPropVal->vt, ParamKind::kVariant) || !ToVariant(*varPropVal, &value)) {
    return false;
  }
  const bool ok = m_pObject->SetPropVal(TableNumber(lPropNum), &value) == S_OK;
  VariantClear(&value);
  return ok;
}

bool CMirel240FNative::IsPropReadable(const long lPropNum) {
  BOOL flag = FALSE;
  return HostBool(m_pObject->IsPropReadable(TableNumber(lPropNum), &flag), flag);
}

bool CMirel240FNative::IsPropWritable(const long lPropNum) {
  BOOL flag = FALSE;
  return HostBool(m_pObject->IsPropWritable(TableNumber(lPropNum), &flag), flag);
}

// ---- Methods ---------------------------------------------------------------------------------------

long CMirel240FNative::GetNMethods() {
  LONG n = 0;
  m_pObject->GetNMethods(&n);
  return n;
}

long CMirel240FNative::FindMethod(const WCHAR_T* wsMethodName) {
  BSTR name = NameToBstr(wsMethodName);
  LONG n = -1;
  m_pObject->FindMethod(name, &n);
  SysFreeString(name);
  return n;
}

const WCHAR_T* CMirel240FNative::GetMethodName(const long lMethodNum, const long lMethodAlias) {
  BSTR name = nullptr;
  const HRESULT hr = m_pObject->GetMethodName(TableNumber(lMethodNum), lMethodAlias != 0, &name);
  return HostName(hr, name);
}

long CMirel240FNative::GetNParams(const long lMethodNum) {
  LONG n = 0;
  m_pObject->GetNParams(TableNumber(lMethodNum), &n);
  return n;
}

bool CMirel240FNative::GetParamDefValue(const long lMethodNum, const long lParamNum,
                                        tVariant* pvarParamDefValue) {
  if (!pvarParamDefValue) return false;
  VARIANT value;
  VariantInit(&value);
  const bool ok =
      m_pObject->GetParamDefValue(TableNumber(lMethodNum), TableNumber(lParamNum), &value) == S_OK &&
      ToNative(value, pvarParamDefValue, m_pMemory);
  VariantClear(&value);
  return ok;
}

bool CMirel240FNative::HasRetVal(const long lMethodNum) {
  BOOL flag = FALSE;
  return HostBool(m_pObject->HasRetVal(TableNumber(lMethodNum), &flag), flag);
}

bool CMirel240FNative::CallAsProc(const long lMethodNum, tVariant*, const long) {
  return m_pObject->CallAsProc(TableNumber(lMethodNum), nullptr) == S_OK;
}

// A call the component cannot read is not made: False for the host, with the driver's code and
// text for a parameter of the wrong kind, both through AddError (which raises the error in the
// host's script) and through GetLastError.
bool CMirel240FNative::Refuse(long lMethodNum, const char* what) {
  FPContext* device = m_pObject->Device();
  device->nLastResult = kResultBadInput;
  device->nDeviceError = 0;
  BSTR description = nullptr;
  LONG code = 0;
  m_pObject->OdinS_GetLastError(&description, &code);
  const OleString source =
      Utf8ToOle(std::string(kErrorSource) + ": " + MethodAt(lMethodNum).english + ": " + what);
  OleString text;
  if (description) text.assign(description, SysStringLen(description));
  if (m_pHost) m_pHost->AddError(ADDIN_E_FAIL, source.c_str(), text.c_str(), code);
  SysFreeString(description);
  return false;
}

// The out-parameters back into the host's array. A string the host left in an element is its
// allocation and is freed the host's way before the element takes the new value. False when a
// string could not be allocated (its element is then empty).
bool CMirel240FNative::StoreOuts(const MethodInfo& method, SAFEARRAY* psa, tVariant* paParams) {
  bool complete = true;
  for (int i = 0; i < method.nParams; ++i) {
    if (!IsOut(method.params[i].kind)) continue;
    VARIANT value;
    VariantInit(&value);
    LONG index = i;
    SafeArrayGetElement(psa, &index, &value);
    ClearNative(&paParams[i], m_pMemory);
    complete = ToNative(value, &paParams[i], m_pMemory) && complete;
    VariantClear(&value);
  }
  return complete;
}

bool CMirel240FNative::CallAsFunc(const long lMethodNum, tVariant* pvarRetValue, tVariant* paParams,
                                  const long lSizeArray) {
  const LONG n = TableNumber(lMethodNum);
  try {
    if (n < 0 || n >= kMethodCount) {
      // The table logs the unknown number and refuses it.
      VARIANT ignored;
      m_pObject->CallAsFunc(n, &ignored, nullptr);
      VariantClear(&ignored);
      return false;
    }
    const MethodInfo& method = MethodAt(n);
    if (!pvarRetValue) return Refuse(n, "no place for the result");
    if (method.nParams > 0 && (!paParams || lSizeArray < method.nParams)) {
      return Refuse(n, "fewer parameters than the method takes");
    }
    if (!m_pMemory && ReturnsText(method)) return Refuse(n, "the host gave no memory manager");

    ParamArray params(method.nParams);
    for (int i = 0; i < method.nParams; ++i) {
      const ParamInfo& param = method.params[i];
      if (IsOut(param.kind)) continue;
      VARIANT value;
      if (!FitsParam(paParams[i].vt, param.kind) || !ToVariant(paParams[i], &value)) {
        return Refuse(n, param.name);
      }
      params.Put(i, &value);
    }

    VARIANT result;
    VariantInit(&result);
    if (m_pObject->CallAsFunc(n, &result, &params.Get()) != S_OK) {
      VariantClear(&result);
      return false;
    }
    // The call has been made and its outcome stands (a receipt is printed): a string the host's
    // memory manager refused is reported, not turned into a failure the host might repeat.
    const bool outsStored = StoreOuts(method, params.Get(), paParams);
    const bool resultStored = ToNative(result, pvarRetValue, m_pMemory);
    VariantClear(&result);
    if (!(outsStored && resultStored) && m_pHost) {
      const OleString source = Utf8ToOle(std::string(kErrorSource) + ": " + method.english);
      const OleString text = Utf8ToOle("не хватило памяти для строкового результата");
      m_pHost->AddError(ADDIN_E_ATTENTION, source.c_str(), text.c_str(), 0);
    }
    return true;
  } catch (...) {
    m_pObject->Device()->nLastResult = kResultInternal;
    return false;
  }
}

// ---- LocaleBase --------------------------------------------------------------------------------------

void CMirel240FNative::SetLocale(const WCHAR_T* loc) {
  BSTR locale = NameToBstr(loc);
  m_pObject->SetLocale(locale);
  SysFreeString(locale);
}

}  // namespace native
