// The add-in interfaces of the host platform: the ones the component implements (IInitDone,
// ILanguageExtender, ILocale) and the services the host offers through its connection object
// (property profile, status line, asynchronous events, platform information). Declared once for
// every system; the method order is the host's vtable order and must not change.
#pragma once

#include "platform/com.h"

extern const IID IID_IInitDone;
extern const IID IID_IPropertyProfile;
extern const IID IID_ILanguageExtender;
extern const IID IID_IAsyncEvent;
extern const IID IID_IStatusLine;
extern const IID IID_ILocale;
extern const IID IID_IPlatformInfo;

struct IInitDone : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Init(IDispatch* pConnection) = 0;
  virtual HRESULT STDMETHODCALLTYPE Done() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetInfo(SAFEARRAY** pInfo) = 0;
};

struct ILanguageExtender : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE RegisterExtensionAs(BSTR* bstrExtensionName) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNProps(LONG* plProps) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindProp(BSTR bstrPropName, LONG* plPropNum) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPropName(LONG lPropNum, LONG lPropAlias,
                                                BSTR* pbstrPropName) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPropVal(LONG lPropNum, VARIANT* pvarPropVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPropVal(LONG lPropNum, VARIANT* varPropVal) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsPropReadable(LONG lPropNum, BOOL* pboolPropRead) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsPropWritable(LONG lPropNum, BOOL* pboolPropWrite) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNMethods(LONG* plMethods) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindMethod(BSTR bstrMethodName, LONG* plMethodNum) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMethodName(LONG lMethodNum, LONG lMethodAlias,
                                                  BSTR* pbstrMethodName) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNParams(LONG lMethodNum, LONG* plParams) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetParamDefValue(LONG lMethodNum, LONG lParamNum,
                                                     VARIANT* pvarParamDefValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE HasRetVal(LONG lMethodNum, BOOL* pboolRetValue) = 0;
  virtual HRESULT STDMETHODCALLTYPE CallAsProc(LONG lMethodNum, SAFEARRAY** paParams) = 0;
  virtual HRESULT STDMETHODCALLTYPE CallAsFunc(LONG lMethodNum, VARIANT* pvarRetValue,
                                               SAFEARRAY** paParams) = 0;
};

struct ILocale : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetLocale(BSTR bstrLocale) = 0;
};

// The host's settings store for the component: IPropertyBag's Read and Write on a profile that
// RegisterProfileAs names. Read fills the VARIANT with a value of the type the caller set, or fails.
struct IPropertyProfile : IPropertyBag {
  virtual HRESULT STDMETHODCALLTYPE RegisterProfileAs(BSTR bstrProfileName) = 0;
};

struct IAsyncEvent : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetEventBufferDepth(LONG lDepth) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetEventBufferDepth(LONG* plDepth) = 0;
  virtual HRESULT STDMETHODCALLTYPE ExternalEvent(BSTR bstrSource, BSTR bstrMessage,
                                                  BSTR bstrData) = 0;
  virtual HRESULT STDMETHODCALLTYPE CleanBuffer() = 0;
};

struct IStatusLine : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetStatusLine(BSTR bstrStatusLine) = 0;
  virtual HRESULT STDMETHODCALLTYPE ResetStatusLine() = 0;
};

// What the host tells about itself: its version text and the kind of application it runs.
struct HostPlatformInfo {
  const OLECHAR* pszVersion;  // NUL-terminated, owned by the host
  LONG nApplication;
};

struct IPlatformInfo : IUnknown {
  // On success *ppInfo points at a record owned by the host, valid while the service is held.
  virtual HRESULT STDMETHODCALLTYPE GetPlatformInfo(const HostPlatformInfo** ppInfo) = 0;
};
