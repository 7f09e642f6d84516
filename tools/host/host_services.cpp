// mirel-host's connection object and the services behind it.
#include "host_services.h"

#include <cstdio>
#include <fstream>
#include <iostream>

#include "driver/com_text.h"
#include "platform/codepage.h"

namespace {

// The version the host reports through its platform information.
constexpr const char kHostVersion[] = "mirel-host 1.0";

std::string NameToUtf8(LPCOLESTR name) {
  std::u16string text;
  for (const OLECHAR* p = name; p && *p; ++p) text.push_back(static_cast<char16_t>(*p));
  return plat::Utf16ToUtf8(text);
}

// "ComPort:1" asks for "ComPort" with the default "1".
void SplitDefault(const std::string& request, std::string* name, std::string* fallback) {
  const size_t colon = request.find(':');
  *name = request.substr(0, colon);
  *fallback = colon == std::string::npos ? std::string() : request.substr(colon + 1);
}

bool ParseLong(const std::string& text, LONG* out) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = Utf8ToBstr(text.c_str());
  const bool ok = VariantToInt32(v, out);
  VariantClear(&v);
  return ok;
}

}  // namespace

HostConnection::HostConnection(std::string profilePath)
    : m_profilePath(std::move(profilePath)), m_bstrVersion(Utf8ToBstr(kHostVersion)) {
  m_platformInfo = {m_bstrVersion, 0};
  Load();
}

HostConnection::~HostConnection() {
  SysFreeString(m_bstrVersion);
}

HRESULT HostConnection::QueryInterface(REFIID riid, void** ppvObject) {
  if (!ppvObject) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDispatch) {
    *ppvObject = static_cast<IDispatch*>(this);
  } else if (riid == IID_IPropertyProfile || riid == IID_IPropertyBag) {
    *ppvObject = static_cast<IPropertyProfile*>(this);
  } else if (riid == IID_IErrorLog) {
    *ppvObject = static_cast<IErrorLog*>(this);
  } else if (riid == IID_IPlatformInfo) {
    *ppvObject = static_cast<IPlatformInfo*>(this);
  } else {
    *ppvObject = nullptr;  // no status line, no asynchronous events: the host has no window
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

HRESULT HostConnection::GetTypeInfoCount(UINT* pctinfo) {
  if (!pctinfo) return E_POINTER;
  *pctinfo = 0;
  return S_OK;
}

// ---- Property profile: one "name=value" line per value, UTF-8 -------------------------------------

void HostConnection::Load() {
  std::ifstream in(m_profilePath);
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
    m_values[line.substr(0, eq)] = line.substr(eq + 1);
  }
}

bool HostConnection::Save() const {
  // Written aside and renamed, so an interrupted run never leaves half a profile.
  const std::string temp = m_profilePath + ".tmp";
  {
    std::ofstream out(temp, std::ios::trunc);
    out << "# mirel-host property profile " << m_profileName << "\n";
    for (const auto& [name, value] : m_values) out << name << '=' << value << '\n';
    if (!out) return false;
  }
  return std::rename(temp.c_str(), m_profilePath.c_str()) == 0;
}

HRESULT HostConnection::Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog*) {
  if (!pszPropName || !pVar) return E_POINTER;
  std::string name, text;
  SplitDefault(NameToUtf8(pszPropName), &name, &text);
  Lookup(name, &text);
  switch (pVar->vt) {
    case VT_I4: {
      LONG value = 0;
      if (!ParseLong(text, &value)) return E_FAIL;
      pVar->lVal = value;
      return S_OK;
    }
    case VT_BSTR:
      pVar->bstrVal = Utf8ToBstr(text.c_str());
      return pVar->bstrVal ? S_OK : E_OUTOFMEMORY;
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

HRESULT HostConnection::Write(LPCOLESTR pszPropName, VARIANT* pVar) {
  if (!pszPropName || !pVar) return E_POINTER;
  std::string text;
  LONG number = 0;
  if (pVar->vt == VT_BSTR) {
    text = BstrToUtf8(pVar->bstrVal);
  } else if (VariantToInt32(*pVar, &number)) {
    text = std::to_string(number);
  } else {
    return DISP_E_TYPEMISMATCH;
  }
  return Store(NameToUtf8(pszPropName), text) ? S_OK : E_FAIL;
}

HRESULT HostConnection::RegisterProfileAs(BSTR bstrProfileName) {
  NameProfile(BstrToUtf8(bstrProfileName));
  return S_OK;
}

bool HostConnection::Lookup(const std::string& name, std::string* value) const {
  const auto stored = m_values.find(name);
  if (stored == m_values.end()) return false;
  *value = stored->second;
  return true;
}

bool HostConnection::Store(const std::string& name, const std::string& value) {
  m_values[name] = value;
  return Save();
}

// ---- Error log and platform information -------------------------------------------------------------

HRESULT HostConnection::AddError(LPCOLESTR pszPropName, EXCEPINFO* pExcepInfo) {
  std::cerr << "error log: " << NameToUtf8(pszPropName);
  if (pExcepInfo) std::cerr << ": " << BstrToUtf8(pExcepInfo->bstrDescription);
  std::cerr << '\n';
  return S_OK;
}

HRESULT HostConnection::GetPlatformInfo(const HostPlatformInfo** ppInfo) {
  if (!ppInfo) return E_POINTER;
  *ppInfo = &m_platformInfo;
  return S_OK;
}
