// The settings key in the registry under HKEY_CURRENT_USER, through the wide API: names and
// strings are the driver's 1251 text converted to UTF-16, so the registry holds the real letters
// and a value reads back byte for byte whatever the system's ANSI code page is.
#include <windows.h>

#include <algorithm>
#include <utility>

#include "platform/settings_store.h"
#include "wide_text.h"

namespace plat {

namespace {

class Key {
 public:
  ~Key() {
    if (m_h) RegCloseKey(m_h);
  }
  HKEY* Out() { return &m_h; }
  HKEY Get() const { return m_h; }

 private:
  HKEY m_h = nullptr;
};

bool OpenForWriting(const std::string& path, Key* key) {
  return RegCreateKeyExW(HKEY_CURRENT_USER, WideOf1251(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                         KEY_WRITE, nullptr, key->Out(), nullptr) == ERROR_SUCCESS;
}

bool OpenForReading(const std::string& path, Key* key) {
  return RegOpenKeyExW(HKEY_CURRENT_USER, WideOf1251(path).c_str(), 0, KEY_READ, key->Out()) == ERROR_SUCCESS;
}

}  // namespace

bool SettingsStore::WriteNumber(const std::string& name, uint32_t value) {
  Key key;
  if (!OpenForWriting(m_keyPath, &key)) return false;
  const DWORD data = value;
  return RegSetValueExW(key.Get(), WideOf1251(name).c_str(), 0, REG_DWORD,
                        reinterpret_cast<const BYTE*>(&data), sizeof data) == ERROR_SUCCESS;
}

bool SettingsStore::WriteString(const std::string& name, const std::string& value) {
  Key key;
  if (!OpenForWriting(m_keyPath, &key)) return false;
  const std::wstring text = WideOf1251(value);
  // The terminating NUL is part of the stored value.
  return RegSetValueExW(key.Get(), WideOf1251(name).c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool SettingsStore::ReadNumber(const std::string& name, uint32_t* value) const {
  Key key;
  if (!OpenForReading(m_keyPath, &key)) return false;
  DWORD type = 0, data = 0, size = sizeof data;
  if (RegQueryValueExW(key.Get(), WideOf1251(name).c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data),
                       &size) != ERROR_SUCCESS ||
      type != REG_DWORD) {
    return false;
  }
  *value = data;
  return true;
}

bool SettingsStore::ReadString(const std::string& name, std::string* value) const {
  Key key;
  if (!OpenForReading(m_keyPath, &key)) return false;
  const std::wstring wideName = WideOf1251(name);
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key.Get(), wideName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_SZ) {
    return false;
  }
  std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
  if (size > 0 && RegQueryValueExW(key.Get(), wideName.c_str(), nullptr, &type,
                                   reinterpret_cast<BYTE*>(&data[0]), &size) != ERROR_SUCCESS) {
    return false;
  }
  // A value written without its NUL by another program ends where its data ends.
  data.resize(std::min<size_t>(size / sizeof(wchar_t), data.size()));
  const size_t nul = data.find(L'\0');
  if (nul != std::wstring::npos) data.resize(nul);
  *value = Cp1251OfWide(data);
  return true;
}

}  // namespace plat
