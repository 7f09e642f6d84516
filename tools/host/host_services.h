// The services mirel-host offers the component through its connection object, as the host platform
// does: a property profile kept in a file, an error log that prints, and platform information.
#pragma once

#include <map>
#include <string>

#include "addin/host_interfaces.h"

class HostConnection final : public IDispatch,
                             public IPropertyProfile,
                             public IErrorLog,
                             public IPlatformInfo {
 public:
  // profilePath: the file the profile is read from and written back to (missing = empty profile).
  explicit HostConnection(std::string profilePath);
  ~HostConnection();
  HostConnection(const HostConnection&) = delete;
  HostConnection& operator=(const HostConnection&) = delete;

  // IUnknown (one object; its life is the host's, so the count is kept only for checking)
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_nRefCount; }
  ULONG STDMETHODCALLTYPE Release() override { return --m_nRefCount; }

  // IDispatch: the connection is passed as one, but the component only queries it for services.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }

  // IPropertyProfile
  HRESULT STDMETHODCALLTYPE Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog* pErrorLog) override;
  HRESULT STDMETHODCALLTYPE Write(LPCOLESTR pszPropName, VARIANT* pVar) override;
  HRESULT STDMETHODCALLTYPE RegisterProfileAs(BSTR bstrProfileName) override;

  // IErrorLog
  HRESULT STDMETHODCALLTYPE AddError(LPCOLESTR pszPropName, EXCEPINFO* pExcepInfo) override;

  // IPlatformInfo
  HRESULT STDMETHODCALLTYPE GetPlatformInfo(const HostPlatformInfo** ppInfo) override;

  ULONG References() const { return m_nRefCount; }

  // The profile's stored values by UTF-8 name, for a front that reaches the profile its own way
  // (the native one). Store writes the file back; false when that fails.
  bool Lookup(const std::string& name, std::string* value) const;
  bool Store(const std::string& name, const std::string& value);
  void NameProfile(const std::string& name) { m_profileName = name; }
  // The version text and application number this host reports about itself.
  const HostPlatformInfo& PlatformInfo() const { return m_platformInfo; }

 private:
  void Load();
  bool Save() const;

  ULONG m_nRefCount = 1;
  std::string m_profilePath;
  std::string m_profileName;
  std::map<std::string, std::string> m_values;  // UTF-8 name -> UTF-8 value text
  BSTR m_bstrVersion;
  HostPlatformInfo m_platformInfo;
};
