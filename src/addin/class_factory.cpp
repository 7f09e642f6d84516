// The class factory of the in-process server and its two entry points. The host (or mirel-host)
// asks DllGetClassObject for the factory of CLSID_Mirel240F and creates the add-in object with it.
#include <atomic>

#include "addin/mirel240f.h"

const IID IID_IMirel240F = {0xB072A4E1, 0x3460, 0x4595,
                            {0xB3, 0x35, 0x00, 0x7B, 0x00, 0xA0, 0xF9, 0xA1}};
const CLSID CLSID_Mirel240F = {0x9AD3A8FF, 0xB9C9, 0x4B4F,
                               {0x8C, 0xD9, 0xCA, 0xA0, 0xDD, 0xF0, 0x36, 0xE3}};

namespace {

std::atomic<LONG> g_nServerLocks{0};

// One factory for the process: it has no state, so its reference count is not tracked.
class CMirel240FFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override {
    if (!ppvObject) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppvObject = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *ppvObject = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                           void** ppvObject) override {
    if (!ppvObject) return E_POINTER;
    *ppvObject = nullptr;
    if (pUnkOuter) return CLASS_E_NOAGGREGATION;
    CMirel240F* pObject = nullptr;
    try {
      pObject = new CMirel240F();
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    // The object starts with one reference; the query adds the caller's, the release drops ours.
    const HRESULT hr = pObject->QueryInterface(riid, ppvObject);
    pObject->Release();
    return hr;
  }

  HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override {
    if (fLock) {
      ++g_nServerLocks;
    } else {
      --g_nServerLocks;
    }
    return S_OK;
  }
};

CMirel240FFactory g_factory;

}  // namespace

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (rclsid != CLSID_Mirel240F) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow() {
  return (CMirel240F::LiveObjects() == 0 && g_nServerLocks == 0) ? S_OK : S_FALSE;
}
