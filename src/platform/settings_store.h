// The driver's settings key: named values, each a 32-bit number or a string in Windows-1251. On
// Windows this is a registry key under HKEY_CURRENT_USER, strings stored in UTF-16 with their
// terminating NUL. Elsewhere each key is one small file under the user's configuration directory
// ("$XDG_CONFIG_HOME/mirel/" when that variable holds an absolute path, else
// "$HOME/.config/mirel/"), the key path's components as directories; every write replaces the file
// through a temporary file and a rename, so a crash never leaves it half written.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace plat {

class SettingsStore {
 public:
  // keyPath: relative to the user's root, components separated by '\', e.g.
  // "Software\Velbor\FP Mirel Driver\Settings". The key is created by the first write.
  explicit SettingsStore(std::string keyPath) : m_keyPath(std::move(keyPath)) {}

  // False when the value cannot be stored; a value of the other kind under the name is replaced.
  bool WriteNumber(const std::string& name, uint32_t value);
  bool WriteString(const std::string& name, const std::string& value);
  // False when the key or the value is missing, or the value is of the other kind.
  bool ReadNumber(const std::string& name, uint32_t* value) const;
  bool ReadString(const std::string& name, std::string* value) const;

 private:
  std::string m_keyPath;
};

}  // namespace plat
