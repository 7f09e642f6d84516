// The host's native connection (IAddInDefBase) seen as the COM connection object the add-in object
// takes in Init: its settings profile behind IPropertyProfile, its platform information behind
// IPlatformInfo. The add-in object's own Init and Done thus read and write the same settings, by
// the same rules, through either front.
#pragma once

#include <string>

#include "addin/host_interfaces.h"
#include "addin/native/native_api.h"

namespace native {

// Host text as OLECHAR units, the character type of BSTR and WCHAR_T on every system.
using OleString = std::basic_string<OLECHAR>;

// The capabilities the host announced through SetPlatformCapabilities (one value per process, as
// the host calls it once for the library).
void SetHostCapabilities(AppCapabilities capabilities);
AppCapabilities HostCapabilities();

class NativeConnection final : public IDispatch, public IPropertyProfile, public ::IPlatformInfo {
 public:
  explicit NativeConnection(IAddInDefBase* pHost) : m_pHost(pHost) {}
  NativeConnection(const NativeConnection&) = delete;
  NativeConnection& operator=(const NativeConnection&) = delete;
  // The host's allocator, for the strings the profile hands over; set whenever the host sets it.
  void SetMemory(IMemoryManager* pMemory) { m_pMemory = pMemory; }
  ULONG References() const { return m_nRefCount; }

  // IUnknown (owned by the native object; the count is kept for checking only)
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_nRefCount; }
  ULONG STDMETHODCALLTYPE Release() override { return --m_nRefCount; }

  // IDispatch: the add-in object only queries the connection for its services.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }

  // IPropertyProfile over the host's Read, Write and RegisterProfileAs.
  HRESULT STDMETHODCALLTYPE Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog* pErrorLog) override;
  HRESULT STDMETHODCALLTYPE Write(LPCOLESTR pszPropName, VARIANT* pVar) override;
  HRESULT STDMETHODCALLTYPE RegisterProfileAs(BSTR bstrProfileName) override;

  // IPlatformInfo over the host's platform-information interface.
  HRESULT STDMETHODCALLTYPE GetPlatformInfo(const HostPlatformInfo** ppInfo) override;

 private:
  bool ReadStored(const OleString& name, VARIANT* value);

  ULONG m_nRefCount = 1;
  IAddInDefBase* m_pHost;
  IMemoryManager* m_pMemory = nullptr;
  OleString m_version;  // the host's version text, held for the record below
  HostPlatformInfo m_info{};
};

}  // namespace native
