// CMirel240F: construction, reference counting, the host's life cycle (IInitDone) and ILocale.
#include "addin/mirel240f.h"

#include <cstdio>
#include <string>

#include "driver/com_text.h"
#include "device/result_codes.h"
#include "device/text_field.h"

namespace {

std::atomic<LONG> g_nLiveObjects{0};

// The interface version of the add-in protocol this component implements (IInitDone::GetInfo).
constexpr LONG kAddinInterfaceVersion = 2000;

constexpr const char kProfileName[] = "Mirel240F_DRV_2003";

// The ranges of the profile's numbers: COM port numbers, the speed codes 0..6 of the settings
// table, IP ports.
constexpr LONG kMaxComPort = 256;
constexpr LONG kMaxSpeedCode = 6;
constexpr LONG kMaxIpPort = 65535;

// Releases an interface pointer if set and clears it.
template <typename T>
void ReleaseAndClear(T*& p) {
  if (p) p->Release();
  p = nullptr;
}

// Asks the connection for a service; a refused query leaves the field null, which is not an error.
template <typename T>
void QueryService(IDispatch* pConnection, REFIID iid, T*& field) {
  void* pService = nullptr;
  field = SUCCEEDED(pConnection->QueryInterface(iid, &pService)) ? static_cast<T*>(pService)
                                                                  : nullptr;
}

}  // namespace

CMirel240F::CMirel240F() {
  CompleteLimitTexts();
  ++g_nLiveObjects;
}

CMirel240F::~CMirel240F() {
  ReleaseServices();
  --g_nLiveObjects;
}

LONG CMirel240F::LiveObjects() { return g_nLiveObjects.load(); }

// ---- IUnknown ----------------------------------------------------------------------------------

HRESULT CMirel240F::QueryInterface(REFIID riid, void** ppvObject) {
  if (!ppvObject) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IInitDone) {
    *ppvObject = static_cast<IInitDone*>(this);
  } else if (riid == IID_ILanguageExtender) {
    *ppvObject = static_cast<ILanguageExtender*>(this);
  } else if (riid == IID_ILocale) {
    *ppvObject = static_cast<ILocale*>(this);
  } else if (riid == IID_IMirel240F) {
    *ppvObject = static_cast<IMirel240F*>(this);
  } else {
    *ppvObject = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG CMirel240F::AddRef() { return ++m_nRefCount; }

ULONG CMirel240F::Release() {
  const ULONG count = --m_nRefCount;
  if (count == 0) delete this;
  return count;
}

// ---- IInitDone ---------------------------------------------------------------------------------

HRESULT CMirel240F::Init(IDispatch* pConnection) {
  if (!pConnection) return E_FAIL;
  try {
    // A second Init without Done must not leak the services of the first.
    ReleaseServices();
    pConnection->AddRef();
    m_pConnection = pConnection;
    QueryService(pConnection, IID_IErrorLog, m_pErrorLog);
    QueryService(pConnection, IID_IAsyncEvent, m_pAsyncEvent);
    QueryService(pConnection, IID_IStatusLine, m_pStatusLine);
    QueryService(pConnection, IID_IPlatformInfo, m_pPlatformInfo);
    QueryService(pConnection, IID_IPropertyProfile, m_pProfile);
    return m_pProfile ? ReadProfile() : S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT CMirel240F::Done() {
  try {
    ReleaseAndClear(m_pStatusLine);
    // The device is released whether or not the host gave a profile: nothing may keep using the
    // printer once the host is done with the component. The relay stops first.
    m_pDevice->nLastResult = ReleaseDevice();
    if (m_pProfile) {
      WriteProfile();
      ReleaseAndClear(m_pProfile);
    }
  } catch (...) {
    // Done always succeeds for the host; what failed stays in nLastResult.
  }
  ReleaseServices();
  return S_OK;
}

HRESULT CMirel240F::GetInfo(SAFEARRAY** pInfo) {
  if (!pInfo || !*pInfo) return E_POINTER;
  VARIANT version;
  VariantInit(&version);
  version.vt = VT_I4;
  version.lVal = kAddinInterfaceVersion;
  LONG index = 0;
  LONG lower = 0;
  if (SUCCEEDED(SafeArrayGetLBound(*pInfo, 1, &lower))) index = lower;
  return SUCCEEDED(SafeArrayPutElement(*pInfo, &index, &version)) ? S_OK : E_INVALIDARG;
}

void CMirel240F::ReleaseServices() {
  ReleaseAndClear(m_pStatusLine);
  ReleaseAndClear(m_pProfile);
  ReleaseAndClear(m_pAsyncEvent);
  ReleaseAndClear(m_pErrorLog);
  ReleaseAndClear(m_pPlatformInfo);
  ReleaseAndClear(m_pConnection);
}

// ---- The host's property profile ---------------------------------------------------------------

namespace {

// Reads one profile value of the given type. The name carries its default after a colon, as the
// profile expects. A value of another type than asked for counts as a failed read.
bool ReadProfileValue(IPropertyProfile* pProfile, const char* name, VARTYPE vt, VARIANT* value) {
  VariantInit(value);
  value->vt = vt;
  BSTR bstrName = Cp1251ToBstr(name);
  const HRESULT hr = bstrName ? pProfile->Read(bstrName, value, nullptr) : E_OUTOFMEMORY;
  SysFreeString(bstrName);
  if (FAILED(hr) || value->vt != vt) {
    VariantClear(value);
    return false;
  }
  return true;
}

void WriteProfileValue(IPropertyProfile* pProfile, const char* name, VARIANT* value) {
  BSTR bstrName = Cp1251ToBstr(name);
  if (bstrName) pProfile->Write(bstrName, value);
  SysFreeString(bstrName);
  VariantClear(value);
}

}  // namespace

HRESULT CMirel240F::ReadProfile() {
  BSTR profileName = Cp1251ToBstr(kProfileName);
  m_pProfile->RegisterProfileAs(profileName);
  SysFreeString(profileName);

  VARIANT comPort, speed, fdoPort, fdoAddr;
  const bool ok = ReadProfileValue(m_pProfile, "ComPort:1", VT_I4, &comPort) &&
                  ReadProfileValue(m_pProfile, "Speed:1", VT_I4, &speed) &&
                  ReadProfileValue(m_pProfile, "FDOPort:7777", VT_I4, &fdoPort) &&
                  ReadProfileValue(m_pProfile, "FDOAddr:1", VT_BSTR, &fdoAddr);
  if (!ok) return E_FAIL;  // the values read before the failure own nothing

  // A value outside its range is a damaged profile, not a setting: the field keeps what it holds.
  if (comPort.lVal >= 1 && comPort.lVal <= kMaxComPort) m_nComPort = comPort.lVal;
  if (speed.lVal >= 0 && speed.lVal <= kMaxSpeedCode) m_nSpeed = speed.lVal;
  if (fdoPort.lVal >= 1 && fdoPort.lVal <= kMaxIpPort) m_pDevice->nFdoPort = fdoPort.lVal;
  // The profile's default "1" is a placeholder, not an address; one too long for the field is
  // refused like the setting "AddressFDO" refuses it, rather than cut into another address.
  const std::string address = BstrToCp1251(fdoAddr.bstrVal);
  if (address.size() > 1 && address.size() < sizeof m_pDevice->szFdoAddress) {
    CopyText(m_pDevice->szFdoAddress, address.c_str());
  }
  VariantClear(&fdoAddr);
  return S_OK;
}

void CMirel240F::WriteProfile() {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_I4;
  value.lVal = m_nComPort;
  WriteProfileValue(m_pProfile, "ComPort", &value);
  value.vt = VT_I4;
  value.lVal = m_nSpeed;
  WriteProfileValue(m_pProfile, "Speed", &value);
  value.vt = VT_I4;
  value.lVal = m_pDevice->nFdoPort;
  WriteProfileValue(m_pProfile, "FDOPort", &value);
  value.vt = VT_BSTR;
  value.bstrVal = Cp1251ToBstr(m_pDevice->szFdoAddress);
  WriteProfileValue(m_pProfile, "FDOAddr", &value);
}

// ---- ILocale -----------------------------------------------------------------------------------

HRESULT CMirel240F::SetLocale(BSTR bstrLocale) {
  try {
    std::lock_guard<std::recursive_mutex> lock(m_pDevice->csDevice);
    const TextArg locale = TextArg::Cp1251(bstrLocale);
    SetLocale(locale.Get());
  } catch (...) {
    // The host's language request has no result to report.
  }
  return S_OK;
}
