#include "addin/win32/class_registry_win32.h"

#include <utility>

// Exported by oleaut32 (and in its import library) since Windows Vista, but not declared by the
// cross compiler's headers.
extern "C" {
HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* ptlib, OLECHAR* szFullPath, OLECHAR* szHelpDir);
HRESULT WINAPI UnRegisterTypeLibForUser(REFGUID libID, WORD wMajorVerNum, WORD wMinorVerNum, LCID lcid,
                                        SYSKIND syskind);
}

namespace {

// The library was registered for the system kind of this build.
constexpr SYSKIND kSysKind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;

std::wstring Wide(const std::u16string& text) {
  return std::wstring(text.begin(), text.end());
}

HRESULT FromWin32(LONG error) {
  return error == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(error));
}

// Deleting what is already gone is not a failure of unregistration.
HRESULT IgnoringAbsent(LONG error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? S_OK : FromWin32(error);
}

class Key {
 public:
  Key() = default;
  ~Key() {
    if (m_h) RegCloseKey(m_h);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY* Out() { return &m_h; }
  HKEY Get() const { return m_h; }

 private:
  HKEY m_h = nullptr;
};

}  // namespace

WindowsClassRegistry::WindowsClassRegistry(HKEY hRoot, std::wstring modulePath)
    : m_hRoot(hRoot), m_modulePath(std::move(modulePath)) {}

std::wstring WindowsClassRegistry::FullPath(const std::u16string& key) const {
  return L"Software\\Classes\\" + Wide(key);
}

HRESULT WindowsClassRegistry::CreateKey(const std::u16string& key) {
  Key k;
  return FromWin32(RegCreateKeyExW(m_hRoot, FullPath(key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_SET_VALUE, nullptr, k.Out(), nullptr));
}

HRESULT WindowsClassRegistry::SetValue(const std::u16string& key, const std::u16string& name,
                                       const std::u16string& data) {
  Key k;
  const LONG created = RegCreateKeyExW(m_hRoot, FullPath(key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                       KEY_SET_VALUE, nullptr, k.Out(), nullptr);
  if (created != ERROR_SUCCESS) return FromWin32(created);
  const std::wstring text = Wide(data);
  const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  return FromWin32(RegSetValueExW(k.Get(), name.empty() ? nullptr : Wide(name).c_str(), 0, REG_SZ,
                                  reinterpret_cast<const BYTE*>(text.c_str()), bytes));
}

HRESULT WindowsClassRegistry::DeleteValue(const std::u16string& key, const std::u16string& name) {
  Key k;
  const LONG opened = RegOpenKeyExW(m_hRoot, FullPath(key).c_str(), 0, KEY_SET_VALUE, k.Out());
  if (opened != ERROR_SUCCESS) return IgnoringAbsent(opened);
  return IgnoringAbsent(RegDeleteValueW(k.Get(), name.empty() ? nullptr : Wide(name).c_str()));
}

HRESULT WindowsClassRegistry::DeleteKeyIfEmpty(const std::u16string& key) {
  const std::wstring path = FullPath(key);
  DWORD subkeys = 0, values = 0;
  {
    Key k;
    const LONG opened = RegOpenKeyExW(m_hRoot, path.c_str(), 0, KEY_QUERY_VALUE, k.Out());
    if (opened != ERROR_SUCCESS) return IgnoringAbsent(opened);
    const LONG queried = RegQueryInfoKeyW(k.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                          &values, nullptr, nullptr, nullptr, nullptr);
    if (queried != ERROR_SUCCESS) return FromWin32(queried);
  }
  if (subkeys != 0 || values != 0) return S_OK;
  return IgnoringAbsent(RegDeleteKeyW(m_hRoot, path.c_str()));
}

HRESULT WindowsClassRegistry::RegisterTypeLibrary() {
  ITypeLib* pTypeLib = nullptr;
  HRESULT hr = LoadTypeLibEx(m_modulePath.c_str(), REGKIND_NONE, &pTypeLib);
  if (FAILED(hr)) return hr;
  // The path is that of the module: the library is its resource 1.
  std::wstring path = m_modulePath;
  hr = IsPerUser() ? RegisterTypeLibForUser(pTypeLib, &path[0], nullptr)
                   : RegisterTypeLib(pTypeLib, &path[0], nullptr);
  pTypeLib->Release();
  return hr;
}

HRESULT WindowsClassRegistry::UnregisterTypeLibrary() {
  // The system's unregistration fails for a library it does not know; nothing to remove is no
  // failure here. The merged view is asked, not this root: Wine registers a library "for the
  // user" in the machine's classes, and its per-user unregistration removes it from there.
  Key k;
  const std::wstring key = L"TypeLib\\" + Wide(GuidText(LIBID_Mirel240FLib));
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE, k.Out()) != ERROR_SUCCESS) {
    return S_OK;
  }
  return IsPerUser() ? UnRegisterTypeLibForUser(LIBID_Mirel240FLib, 1, 0, LOCALE_NEUTRAL, kSysKind)
                     : UnRegisterTypeLib(LIBID_Mirel240FLib, 1, 0, LOCALE_NEUTRAL, kSysKind);
}
