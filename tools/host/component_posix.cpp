#include "addin/imirel240f.h"
#include "component.h"

// The component is part of this program: there is no runtime to start.
ComponentRuntime::ComponentRuntime() : m_hr(S_OK) {}
ComponentRuntime::~ComponentRuntime() = default;
bool ComponentRuntime::Ready(std::string*) const {
  return true;
}

bool CreateComponent(IInitDone** ppInitDone, std::string* error) {
  IClassFactory* pFactory = nullptr;
  if (FAILED(DllGetClassObject(CLSID_Mirel240F, IID_IClassFactory, reinterpret_cast<void**>(&pFactory)))) {
    *error = "the component's class factory is not available";
    return false;
  }
  const HRESULT hr = pFactory->CreateInstance(nullptr, IID_IInitDone, reinterpret_cast<void**>(ppInitDone));
  pFactory->Release();
  if (FAILED(hr)) {
    *error = "the component cannot be created";
    return false;
  }
  return true;
}
