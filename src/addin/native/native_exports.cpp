// The functions a host looks up in a native add-in library: the class names it offers, creating and
// destroying an object of the class, the host's capabilities, and where the object may run.
#include "addin/native/native_component.h"

using native::CMirel240FNative;

namespace {

// The host passes the name GetClassNames gave; compared no further than the name's own length.
bool IsOurClass(const native::WCHAR_T* name) {
  if (!name) return false;
  size_t i = 0;
  for (; native::kClassName[i]; ++i) {
    if (name[i] != native::kClassName[i]) return false;
  }
  return name[i] == 0;
}

}  // namespace

const native::WCHAR_T* GetClassNames() {
  return native::kClassName;
}

long GetClassObject(const native::WCHAR_T* wsName, native::IComponentBase** pIntf) {
  if (!pIntf || *pIntf || !IsOurClass(wsName)) return 0;
  try {
    *pIntf = new CMirel240FNative();
    return 1;
  } catch (...) {
    return 0;
  }
}

long DestroyObject(native::IComponentBase** pIntf) {
  if (!pIntf || !*pIntf) return -1;
  delete static_cast<CMirel240FNative*>(*pIntf);
  *pIntf = nullptr;
  return 0;
}

native::AppCapabilities SetPlatformCapabilities(const native::AppCapabilities capabilities) {
  native::SetHostCapabilities(capabilities);
  // The platform information is all this component asks of the first level.
  return native::eAppCapabilities1;
}

// The component may run in the host's process or in a process of its own.
native::AttachType GetAttachType() {
  return native::eCanAttachAny;
}
