#include "addin/win32/class_registry_win32.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

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

// Every key is opened in the view of this build's bitness, named explicitly; the other view is
// the other bitness's. On 32-bit Windows both flags are ignored and name the one view there is.
constexpr bool k64Bit = sizeof(void*) == 8;
constexpr REGSAM kOwnView = k64Bit ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
constexpr REGSAM kOtherView = k64Bit ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

// A 64-bit system has a view for each bitness: always for a 64-bit build, and for a 32-bit one
// when it runs under WOW64.
bool TwoViews() {
  BOOL bWow64 = FALSE;
  return k64Bit || (IsWow64Process(GetCurrentProcess(), &bWow64) && bWow64);
}

// The registry's own name of an open key, the same whichever view it was opened through; empty
// when it cannot be asked. The call is ntdll's (key name information, class 3), reached by name
// since no import library of the cross compiler declares it.
std::wstring KeyName(HKEY hKey) {
  using NtQueryKeyFn = LONG(WINAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
  static const auto query = reinterpret_cast<NtQueryKeyFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryKey")));
  if (!query) return std::wstring();
  std::vector<unsigned char> buffer(4096);
  ULONG length = 0;
  if (query(hKey, 3, buffer.data(), static_cast<ULONG>(buffer.size()), &length) != 0) return std::wstring();
  ULONG bytes = 0;
  std::memcpy(&bytes, buffer.data(), sizeof(bytes));
  const size_t chars = std::min<size_t>(bytes, buffer.size() - sizeof(bytes)) / sizeof(wchar_t);
  std::wstring name(chars, L'\0');
  std::memcpy(&name[0], buffer.data() + sizeof(bytes), chars * sizeof(wchar_t));
  return name;
}

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
                                   KEY_SET_VALUE | kOwnView, nullptr, k.Out(), nullptr));
}

HRESULT WindowsClassRegistry::SetValue(const std::u16string& key, const std::u16string& name,
                                       const std::u16string& data) {
  Key k;
  const LONG created = RegCreateKeyExW(m_hRoot, FullPath(key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                       KEY_SET_VALUE | kOwnView, nullptr, k.Out(), nullptr);
  if (created != ERROR_SUCCESS) return FromWin32(created);
  const std::wstring text = Wide(data);
  const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  return FromWin32(RegSetValueExW(k.Get(), name.empty() ? nullptr : Wide(name).c_str(), 0, REG_SZ,
                                  reinterpret_cast<const BYTE*>(text.c_str()), bytes));
}

HRESULT WindowsClassRegistry::DeleteValue(const std::u16string& key, const std::u16string& name) {
  Key k;
  const LONG opened = RegOpenKeyExW(m_hRoot, FullPath(key).c_str(), 0, KEY_SET_VALUE | kOwnView, k.Out());
  if (opened != ERROR_SUCCESS) return IgnoringAbsent(opened);
  return IgnoringAbsent(RegDeleteValueW(k.Get(), name.empty() ? nullptr : Wide(name).c_str()));
}

HRESULT WindowsClassRegistry::DeleteKeyIfEmpty(const std::u16string& key) {
  const std::wstring path = FullPath(key);
  DWORD subkeys = 0, values = 0;
  {
    Key k;
    const LONG opened = RegOpenKeyExW(m_hRoot, path.c_str(), 0, KEY_QUERY_VALUE | kOwnView, k.Out());
    if (opened != ERROR_SUCCESS) return IgnoringAbsent(opened);
    const LONG queried = RegQueryInfoKeyW(k.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                          &values, nullptr, nullptr, nullptr, nullptr);
    if (queried != ERROR_SUCCESS) return FromWin32(queried);
  }
  if (subkeys != 0 || values != 0) return S_OK;
  return IgnoringAbsent(RegDeleteKeyExW(m_hRoot, path.c_str(), kOwnView, 0));
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

HRESULT WindowsClassRegistry::PrepareView() {
  if (k64Bit || !TwoViews()) return S_OK;
  // The 32-bit view's redirected class keys live under Wow6432Node of the 64-bit view. Windows
  // keeps that key; a registry that redirects only once it exists (Wine) would otherwise show
  // this 32-bit registration the 64-bit one's keys, and overwrite them.
  Key k;
  return FromWin32(RegCreateKeyExW(m_hRoot, L"Software\\Classes\\Wow6432Node", 0, nullptr,
                                   REG_OPTION_NON_VOLATILE, KEY_CREATE_SUB_KEY | KEY_WOW64_64KEY, nullptr,
                                   k.Out(), nullptr));
}

HRESULT WindowsClassRegistry::ReadOtherView(const std::u16string& key, const std::u16string& name,
                                            std::u16string* data) {
  if (!TwoViews()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  Key k;
  const LONG opened = RegOpenKeyExW(m_hRoot, FullPath(key).c_str(), 0, KEY_QUERY_VALUE | kOtherView, k.Out());
  if (opened != ERROR_SUCCESS) return FromWin32(opened);
  std::wstring text(1024, L'\0');
  DWORD type = 0, bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  const LONG read = RegQueryValueExW(k.Get(), name.empty() ? nullptr : Wide(name).c_str(), nullptr, &type,
                                     reinterpret_cast<BYTE*>(&text[0]), &bytes);
  if (read != ERROR_SUCCESS) return FromWin32(read);
  if (type != REG_SZ) return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
  text.resize(bytes / sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  data->assign(text.begin(), text.end());
  return S_OK;
}

bool WindowsClassRegistry::SharedWithOtherView(const std::u16string& key) {
  Key own, other;
  const std::wstring path = FullPath(key);
  if (RegOpenKeyExW(m_hRoot, path.c_str(), 0, KEY_QUERY_VALUE | kOwnView, own.Out()) != ERROR_SUCCESS ||
      RegOpenKeyExW(m_hRoot, path.c_str(), 0, KEY_QUERY_VALUE | kOtherView, other.Out()) != ERROR_SUCCESS) {
    return false;
  }
  const std::wstring name = KeyName(own.Get());
  return !name.empty() && name == KeyName(other.Get());
}
