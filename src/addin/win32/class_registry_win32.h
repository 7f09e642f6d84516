// ClassRegistry on the Windows registry: the machine's classes (HKLM\Software\Classes, what
// regsvr32 writes) or the user's own (HKCU\Software\Classes, what DllInstall with "user" writes).
// HKEY_CLASSES_ROOT shows the two merged, so a host finds the component either way.
#pragma once

#include <string>

#include "addin/registration.h"

class WindowsClassRegistry final : public ClassRegistry {
 public:
  WindowsClassRegistry(HKEY hRoot, std::wstring modulePath);

  HRESULT CreateKey(const std::u16string& key) override;
  HRESULT SetValue(const std::u16string& key, const std::u16string& name,
                   const std::u16string& data) override;
  HRESULT DeleteValue(const std::u16string& key, const std::u16string& name) override;
  HRESULT DeleteKeyIfEmpty(const std::u16string& key) override;
  HRESULT RegisterTypeLibrary() override;
  HRESULT UnregisterTypeLibrary() override;
  HRESULT PrepareView() override;
  HRESULT ReadOtherView(const std::u16string& key, const std::u16string& name, std::u16string* data) override;
  bool SharedWithOtherView(const std::u16string& key) override;

 private:
  std::wstring FullPath(const std::u16string& key) const;
  bool IsPerUser() const { return m_hRoot == HKEY_CURRENT_USER; }

  HKEY m_hRoot;
  std::wstring m_modulePath;
};
