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

  // 64-bit Windows shows its 32-bit and its 64-bit processes each a view of the class roots of its
  // own: some keys are the same in both (ProgIDs, AppID), others are redirected, so that each
  // bitness has its own (CLSID). A registry is one view; the other view is the other bitness's.
  // Called before anything is written, so that this view's redirected keys are its own.
  virtual HRESULT PrepareView() = 0;
  // A string value as the other bitness's processes see it; a failure when it is absent or when
  // the system has one view only (32-bit Windows).
  virtual HRESULT ReadOtherView(const std::u16string& key, const std::u16string& name,
                                std::u16string* data) = 0;
  // Whether the key, as this view sees it, is the very key the other view sees (a shared key).
  virtual bool SharedWithOtherView(const std::u16string& key) = 0;
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
// again and the step's failure is returned. A registry that would put this module into the class
// key the other bitness's module is registered in is refused with kOtherBitnessRegistered, and
// nothing is written: each bitness's host must keep finding its own module.
HRESULT RegisterServer(ClassRegistry& registry, const std::u16string& modulePath);

// HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS).
constexpr HRESULT kOtherBitnessRegistered = static_cast<HRESULT>(0x800700B7u);

// Removes the type library, every value the entries name and then each of their keys that is left
// empty; values or subkeys added by others stay. While the other bitness's module stays registered
// in its own view, the keys both views share stay too (they are that registration's as well).
// Every step is tried; the first failure is returned.
HRESULT UnregisterServer(ClassRegistry& registry, const std::u16string& modulePath);

// DllInstall: install or uninstall; the command line "user" (any case) selects the user's own
// registration, anything else the machine's. A failed install is undone.
HRESULT InstallServer(bool bInstall, const std::u16string& commandLine, ClassRegistry& machine,
                      ClassRegistry& user, const std::u16string& modulePath);
