// Self-registration of the in-process server: the registry entries that let a host create the
// component by its ProgID, and the order in which they are written and removed. The registry itself
// is reached through ClassRegistry, so that the rules (undo on failure, remove exactly what was
// written, per-user on request) are the same code on every build and are tested without Windows.
#pragma once

#include <string>
#include <vector>

#include "platform/com.h"

extern const GUID LIBID_Mirel240FLib;
extern const GUID APPID_Mirel240F;

// A class registration root: HKEY_CLASSES_ROOT's machine part or the user's Software\Classes.
// Key paths are relative to that root and use '\' between components.
class ClassRegistry {
 public:
  virtual ~ClassRegistry() = default;
  // Creates the key and its missing parents.
  virtual HRESULT CreateKey(const std::u16string& key) = 0;
  // Creates the key as needed and sets a string value; an empty name is the key's default value.
  virtual HRESULT SetValue(const std::u16string& key, const std::u16string& name,
                           const std::u16string& data) = 0;
  // S_OK also when the key or the value does not exist.
  virtual HRESULT DeleteValue(const std::u16string& key, const std::u16string& name) = 0;
  // Deletes the key when it has neither values nor subkeys; S_OK when it is absent or still used.
  virtual HRESULT DeleteKeyIfEmpty(const std::u16string& key) = 0;
  // The type library embedded in the module; unregistering one that is not registered is S_OK.
  virtual HRESULT RegisterTypeLibrary() = 0;
  virtual HRESULT UnregisterTypeLibrary() = 0;
};

// One thing registration writes: a value (an empty name is the default value), or a bare key.
struct RegistryEntry {
  std::u16string key;
  std::u16string name;
  std::u16string data;
  bool bKeyOnly = false;
};

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case, as the registry spells GUIDs.
std::u16string GuidText(const GUID& guid);

// Everything registration writes, in writing order, for the module at modulePath.
std::vector<RegistryEntry> ServerEntries(const std::u16string& modulePath);

// Writes the entries, then registers the type library. When a step fails, everything is removed
// again and the step's failure is returned.
HRESULT RegisterServer(ClassRegistry& registry, const std::u16string& modulePath);

// Removes the type library, every value the entries name and then each of their keys that is left
// empty; values or subkeys added by others stay. Every step is tried; the first failure is returned.
HRESULT UnregisterServer(ClassRegistry& registry, const std::u16string& modulePath);

// DllInstall: install or uninstall; the command line "user" (any case) selects the user's own
// registration, anything else the machine's. A failed install is undone.
HRESULT InstallServer(bool bInstall, const std::u16string& commandLine, ClassRegistry& machine,
                      ClassRegistry& user, const std::u16string& modulePath);
