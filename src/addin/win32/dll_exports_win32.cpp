// The DLL's own entry points: DllMain keeps the module handle for the registration's module path;
// the registration exports run the common registration rules on the Windows registry.
// DllGetClassObject and DllCanUnloadNow live with the class factory.
#include <string>

#include "addin/win32/class_registry_win32.h"

namespace {

HMODULE g_hModule = nullptr;

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(g_hModule, &path[0], static_cast<DWORD>(path.size()));
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);  // truncated: a long path
  }
}

std::u16string Utf16(const std::wstring& text) {
  return std::u16string(text.begin(), text.end());
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID) {
  if (dwReason == DLL_PROCESS_ATTACH) {
    g_hModule = hInstance;
    DisableThreadLibraryCalls(hInstance);
  }
  return TRUE;
}

STDAPI DllRegisterServer() {
  const std::wstring path = ModulePath();
  WindowsClassRegistry machine(HKEY_LOCAL_MACHINE, path);
  return RegisterServer(machine, Utf16(path));
}

STDAPI DllUnregisterServer() {
  const std::wstring path = ModulePath();
  WindowsClassRegistry machine(HKEY_LOCAL_MACHINE, path);
  return UnregisterServer(machine, Utf16(path));
}

STDAPI DllInstall(BOOL bInstall, LPCWSTR pszCmdLine) {
  const std::wstring path = ModulePath();
  WindowsClassRegistry machine(HKEY_LOCAL_MACHINE, path);
  WindowsClassRegistry user(HKEY_CURRENT_USER, path);
  const std::u16string commandLine = pszCmdLine ? Utf16(pszCmdLine) : std::u16string();
  return InstallServer(bInstall != FALSE, commandLine, machine, user, Utf16(path));
}
