#include "addin/native/native_connection.h"

#include <atomic>

#include "addin/native/native_values.h"
#include "driver/com_text.h"

namespace native {

namespace {

std::atomic<int> g_capabilities{eAppCapabilitiesInvalid};

// A writable NUL-terminated copy: the host's profile calls take their names as WCHAR_T*.
OleString Text(const OLECHAR* text) {
  OleString copy;
  for (const OLECHAR* p = text; p && *p; ++p) copy.push_back(*p);
  return copy;
}

WCHAR_T* Writable(OleString& text) {
  return &text[0];
}

// The value asked for (VT_I4 or VT_BSTR) from what the host gave or from the name's default.
bool Coerce(const VARIANT& from, VARTYPE vt, VARIANT* to) {
  if (vt == VT_I4) {
    LONG number = 0;
    if (!VariantToInt32(from, &number)) return false;
    to->lVal = number;
    return true;
  }
  if (vt != VT_BSTR || from.vt != VT_BSTR) return false;
  to->bstrVal = SysAllocStringLen(from.bstrVal, SysStringLen(from.bstrVal));
  return to->bstrVal != nullptr;
}

}  // namespace

void SetHostCapabilities(AppCapabilities capabilities) {
  g_capabilities = capabilities;
}

AppCapabilities HostCapabilities() {
  return static_cast<AppCapabilities>(g_capabilities.load());
}

HRESULT NativeConnection::QueryInterface(REFIID riid, void** ppvObject) {
  if (!ppvObject) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDispatch) {
    *ppvObject = static_cast<IDispatch*>(this);
  } else if (riid == IID_IPropertyProfile || riid == IID_IPropertyBag) {
    *ppvObject = static_cast<IPropertyProfile*>(this);
  } else if (riid == IID_IPlatformInfo) {
    *ppvObject = static_cast<::IPlatformInfo*>(this);
  } else {
    *ppvObject = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

HRESULT NativeConnection::GetTypeInfoCount(UINT* pctinfo) {
  if (!pctinfo) return E_POINTER;
  *pctinfo = 0;
  return S_OK;
}

// What the host stored under the name, as a VARIANT. The host's string and its error description
// are its allocations, freed through its memory manager once read.
bool NativeConnection::ReadStored(const OleString& name, VARIANT* value) {
  OleString key = name;
  tVariant stored{};
  long errorCode = 0;
  WCHAR_T* errorText = nullptr;
  const bool read = m_pHost->Read(Writable(key), &stored, &errorCode, &errorText);
  if (errorText && m_pMemory) m_pMemory->FreeMemory(reinterpret_cast<void**>(&errorText));
  const bool converted = read && ToVariant(stored, value);
  ClearNative(&stored, m_pMemory);
  return converted;
}

// The name carries its default after a colon ("ComPort:1"), as the add-in object asks the COM
// profile; the host's native profile knows only the name, so a value it has not stored is the
// default.
HRESULT NativeConnection::Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog*) {
  if (!pszPropName || !pVar) return E_POINTER;
  try {
    const OleString request = Text(pszPropName);
    const size_t colon = request.find(OLECHAR(':'));
    VARIANT value;
    if (!ReadStored(request.substr(0, colon), &value)) {
      const OleString fallback = colon == OleString::npos ? OleString() : request.substr(colon + 1);
      value.vt = VT_BSTR;
      value.bstrVal = SysAllocStringLen(fallback.data(), static_cast<UINT>(fallback.size()));
    }
    const bool ok = Coerce(value, pVar->vt, pVar);
    VariantClear(&value);
    return ok ? S_OK : E_FAIL;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT NativeConnection::Write(LPCOLESTR pszPropName, VARIANT* pVar) {
  if (!pszPropName || !pVar) return E_POINTER;
  try {
    OleString name = Text(pszPropName);
    tVariant value;
    if (!ToNative(*pVar, &value, m_pMemory)) return E_FAIL;
    // The host copies what it stores: the string given to it is freed after the call.
    const bool written = m_pHost->Write(Writable(name), &value);
    ClearNative(&value, m_pMemory);
    return written ? S_OK : E_FAIL;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT NativeConnection::RegisterProfileAs(BSTR bstrProfileName) {
  try {
    OleString name = Text(bstrProfileName);
    return m_pHost->RegisterProfileAs(Writable(name)) ? S_OK : E_FAIL;
  } catch (...) {
    return E_FAIL;
  }
}

// Only a host that announced capabilities has the extended connection with GetInterface.
HRESULT NativeConnection::GetPlatformInfo(const HostPlatformInfo** ppInfo) {
  if (!ppInfo) return E_POINTER;
  *ppInfo = nullptr;
  if (HostCapabilities() < eAppCapabilities1) return E_NOTIMPL;
  try {
    IInterface* service = static_cast<IAddInDefBaseEx*>(m_pHost)->GetInterface(eIPlatformInfo);
    const native::IPlatformInfo::AppInfo* info =
        service ? static_cast<native::IPlatformInfo*>(service)->GetPlatformInfo() : nullptr;
    if (!info) return E_FAIL;
    m_version = Text(info->AppVersion);
    m_info = {m_version.c_str(), static_cast<LONG>(info->Application)};
    *ppInfo = &m_info;
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace native
