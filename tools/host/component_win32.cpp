#include <cstdio>

#include "component.h"

namespace {

constexpr wchar_t kProgID[] = L"AddIn.Mirel240F_DRV_2003";

std::string HresultText(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

}  // namespace

// The component is registered with the apartment model, and the host platform calls it from its
// single-threaded apartment; so does this host.
ComponentRuntime::ComponentRuntime() : m_hr(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}

ComponentRuntime::~ComponentRuntime() {
  if (SUCCEEDED(m_hr)) CoUninitialize();
}

bool ComponentRuntime::Ready(std::string* error) const {
  if (SUCCEEDED(m_hr)) return true;
  *error = "COM could not be initialised (" + HresultText(m_hr) + ")";
  return false;
}

bool CreateComponent(IInitDone** ppInitDone, std::string* error) {
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(kProgID, &clsid);
  if (FAILED(hr)) {
    *error = "the ProgID AddIn.Mirel240F_DRV_2003 is not registered (" + HresultText(hr) +
             "); register the DLL with regsvr32 first";
    return false;
  }
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IInitDone,
                        reinterpret_cast<void**>(ppInitDone));
  if (FAILED(hr)) {
    *error = "the component cannot be created (" + HresultText(hr) + ")";
    return false;
  }
  return true;
}
