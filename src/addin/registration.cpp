// The server's registry entries and the rules for writing and removing them.
#include "addin/registration.h"

#include <algorithm>

#include "addin/imirel240f.h"

// Chosen once for this component; hosts and installed systems know it by them, so they never change.
const GUID LIBID_Mirel240FLib = {
    0x59AC691F, 0xC80C, 0x4369, {0x95, 0x06, 0x79, 0xEB, 0xE2, 0xE6, 0x28, 0x00}};
const GUID APPID_Mirel240F = {0x5E42E11B, 0x373C, 0x42B7, {0xA6, 0xF1, 0xE4, 0xD8, 0x73, 0xD1, 0x50, 0xF0}};

namespace {

constexpr char16_t kProgID[] = u"AddIn.Mirel240F_DRV_2003.1";
constexpr char16_t kIndependentProgID[] = u"AddIn.Mirel240F_DRV_2003";
constexpr char16_t kClassDescription[] = u"Mirel240F Class";
constexpr char16_t kAppName[] = u"Mirel240F_DRV_2.4";
constexpr char16_t kModuleName[] = u"Mirel240F_DRV_2.4.DLL";

void AppendHex(std::u16string* out, unsigned long value, int digits) {
  static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
    out->push_back(kDigits[(value >> shift) & 0xF]);
  }
}

size_t Depth(const std::u16string& key) {
  return std::count(key.begin(), key.end(), u'\\');
}

// The entries' keys, deepest first, so that a key is looked at after its subkeys are gone.
std::vector<std::u16string> KeysDeepestFirst(const std::vector<RegistryEntry>& entries) {
  std::vector<std::u16string> keys;
  for (const RegistryEntry& e : entries) {
    if (std::find(keys.begin(), keys.end(), e.key) == keys.end()) keys.push_back(e.key);
  }
  std::stable_sort(keys.begin(), keys.end(),
                   [](const std::u16string& a, const std::u16string& b) { return Depth(a) > Depth(b); });
  return keys;
}

bool IsUser(const std::u16string& commandLine) {
  static constexpr char16_t kUser[] = u"user";
  if (commandLine.size() != 4) return false;
  for (size_t i = 0; i < 4; ++i) {
    char16_t c = commandLine[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != kUser[i]) return false;
  }
  return true;
}

std::u16string InprocKey() {
  return u"CLSID\\" + GuidText(CLSID_Mirel240F) + u"\\InprocServer32";
}

// The module the other bitness's hosts find in their view of the class key; empty when none.
std::u16string OtherViewModule(ClassRegistry& registry) {
  std::u16string module;
  return SUCCEEDED(registry.ReadOtherView(InprocKey(), u"", &module)) ? module : std::u16string();
}

// The other bitness's module is registered in a class key of its own view.
bool OtherBitnessRegistered(ClassRegistry& registry) {
  return !OtherViewModule(registry).empty() && !registry.SharedWithOtherView(InprocKey());
}

// This view's class key is the one the other bitness's module is registered in: writing ours
// would take the component away from the other bitness's hosts.
bool WouldOverwriteOtherBitness(ClassRegistry& registry, const std::u16string& modulePath) {
  const std::u16string module = OtherViewModule(registry);
  return !module.empty() && module != modulePath && registry.SharedWithOtherView(InprocKey());
}

}  // namespace

std::u16string GuidText(const GUID& guid) {
  std::u16string text = u"{";
  AppendHex(&text, guid.Data1, 8);
  text += u'-';
  AppendHex(&text, guid.Data2, 4);
  text += u'-';
  AppendHex(&text, guid.Data3, 4);
  text += u'-';
  for (int i = 0; i < 8; ++i) {
    if (i == 2) text += u'-';
    AppendHex(&text, guid.Data4[i], 2);
  }
  return text + u'}';
}

std::vector<RegistryEntry> ServerEntries(const std::u16string& modulePath) {
  const std::u16string clsid = GuidText(CLSID_Mirel240F);
  const std::u16string appid = GuidText(APPID_Mirel240F);
  const std::u16string classKey = u"CLSID\\" + clsid;
  const std::u16string progID = kProgID;
  const std::u16string independent = kIndependentProgID;
  return {
      {progID, u"", kClassDescription},
      {progID + u"\\CLSID", u"", clsid},
      {independent, u"", kClassDescription},
      {independent + u"\\CLSID", u"", clsid},
      {independent + u"\\CurVer", u"", progID},
      {classKey, u"", kClassDescription},
      {classKey + u"\\ProgID", u"", progID},
      {classKey + u"\\VersionIndependentProgID", u"", independent},
      {classKey + u"\\Programmable", u"", u"", true},
      {classKey + u"\\InprocServer32", u"", modulePath},
      {classKey + u"\\InprocServer32", u"ThreadingModel", u"Apartment"},
      {classKey + u"\\TypeLib", u"", GuidText(LIBID_Mirel240FLib)},
      {classKey + u"\\Version", u"", u"1.0"},
      {u"AppID\\" + appid, u"", kAppName},
      {u"AppID\\" + std::u16string(kModuleName), u"AppID", appid},
  };
}

HRESULT RegisterServer(ClassRegistry& registry, const std::u16string& modulePath) {
  HRESULT hr = registry.PrepareView();
  if (FAILED(hr)) return hr;
  if (WouldOverwriteOtherBitness(registry, modulePath)) return kOtherBitnessRegistered;
  for (const RegistryEntry& e : ServerEntries(modulePath)) {
    hr = e.bKeyOnly ? registry.CreateKey(e.key) : registry.SetValue(e.key, e.name, e.data);
    if (FAILED(hr)) break;
  }
  if (SUCCEEDED(hr)) hr = registry.RegisterTypeLibrary();
  // A host must find either the whole registration or none of it.
  if (FAILED(hr)) UnregisterServer(registry, modulePath);
  return hr;
}

HRESULT UnregisterServer(ClassRegistry& registry, const std::u16string& modulePath) {
  // Asked before anything is removed: which keys are still the other registration's too.
  const bool bOtherStays = OtherBitnessRegistered(registry);
  HRESULT first = registry.UnregisterTypeLibrary();
  auto keep = [&first](HRESULT hr) {
    if (SUCCEEDED(first) && FAILED(hr)) first = hr;
  };
  auto ours = [&](const std::u16string& key) { return !bOtherStays || !registry.SharedWithOtherView(key); };
  const std::vector<RegistryEntry> entries = ServerEntries(modulePath);
  for (const RegistryEntry& e : entries) {
    if (!e.bKeyOnly && ours(e.key)) keep(registry.DeleteValue(e.key, e.name));
  }
  for (const std::u16string& key : KeysDeepestFirst(entries)) {
    if (ours(key)) keep(registry.DeleteKeyIfEmpty(key));
  }
  return first;
}

HRESULT InstallServer(bool bInstall, const std::u16string& commandLine, ClassRegistry& machine,
                      ClassRegistry& user, const std::u16string& modulePath) {
  ClassRegistry& registry = IsUser(commandLine) ? user : machine;
  return bInstall ? RegisterServer(registry, modulePath) : UnregisterServer(registry, modulePath);
}
