// Self-registration against an in-memory registry: what is written, that a failure at any step
// leaves the registry as it was, that unregistration removes only what registration wrote, and
// which root DllInstall's command line selects.
#include "addin/registration.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <utility>

namespace {

constexpr HRESULT kDenied = static_cast<HRESULT>(0x80070005u);  // access denied
constexpr HRESULT kAbsent = static_cast<HRESULT>(0x80070002u);  // file not found
const std::u16string kModule = u"C:\\1C\\Mirel240F_DRV_2.4.dll";

// A registry root: keys, and values by (key, name). Every call that would change something counts
// as one step; the step numbered failAt fails without changing anything.
class FakeRegistry final : public ClassRegistry {
 public:
  std::set<std::u16string> keys;
  std::map<std::pair<std::u16string, std::u16string>, std::u16string> values;
  bool typeLibRegistered = false;
  int steps = 0;
  int failAt = -1;

  bool operator==(const FakeRegistry& o) const {
    return keys == o.keys && values == o.values && typeLibRegistered == o.typeLibRegistered;
  }

  HRESULT CreateKey(const std::u16string& key) override {
    if (Fails()) return kDenied;
    AddKey(key);
    return S_OK;
  }
  HRESULT SetValue(const std::u16string& key, const std::u16string& name,
                   const std::u16string& data) override {
    if (Fails()) return kDenied;
    AddKey(key);
    values[{key, name}] = data;
    return S_OK;
  }
  HRESULT DeleteValue(const std::u16string& key, const std::u16string& name) override {
    values.erase({key, name});
    return S_OK;
  }
  HRESULT DeleteKeyIfEmpty(const std::u16string& key) override {
    for (const auto& v : values) {
      if (v.first.first == key) return S_OK;
    }
    for (const std::u16string& k : keys) {
      if (k.size() > key.size() && k.compare(0, key.size() + 1, key + u'\\') == 0) return S_OK;
    }
    keys.erase(key);
    return S_OK;
  }
  HRESULT RegisterTypeLibrary() override {
    if (Fails()) return kDenied;
    typeLibRegistered = true;
    return S_OK;
  }
  HRESULT UnregisterTypeLibrary() override {
    typeLibRegistered = false;
    return S_OK;
  }
  // One view: the system of a 32-bit Windows.
  HRESULT PrepareView() override { return S_OK; }
  HRESULT ReadOtherView(const std::u16string&, const std::u16string&, std::u16string*) override {
    return kAbsent;
  }
  bool SharedWithOtherView(const std::u16string&) override { return false; }

  bool HasKey(const std::u16string& key) const { return keys.count(key) != 0; }
  const std::u16string* Value(const std::u16string& key, const std::u16string& name) const {
    auto it = values.find({key, name});
    return it == values.end() ? nullptr : &it->second;
  }

 private:
  bool Fails() { return steps++ == failAt; }
  void AddKey(const std::u16string& key) {
    for (size_t sep = key.find(u'\\'); sep != std::u16string::npos; sep = key.find(u'\\', sep + 1)) {
      keys.insert(key.substr(0, sep));
    }
    keys.insert(key);
  }
};

// A machine that already has other classes, and a value another program keeps in our class key.
FakeRegistry PopulatedRegistry() {
  FakeRegistry r;
  r.SetValue(u"CLSID\\{00000001-0000-0000-0000-000000000000}", u"", u"Other Class");
  r.SetValue(u"AppID\\{00000002-0000-0000-0000-000000000000}", u"", u"Other App");
  r.steps = 0;
  return r;
}

const std::u16string kClassKey = u"CLSID\\{9AD3A8FF-B9C9-4B4F-8CD9-CAA0DDF036E3}";

TEST(Registration, WritesTheProgIDsClassKeyAppIDAndTypeLibrary) {
  FakeRegistry r;
  ASSERT_EQ(S_OK, RegisterServer(r, kModule));

  const std::u16string clsid = u"{9AD3A8FF-B9C9-4B4F-8CD9-CAA0DDF036E3}";
  const std::u16string appid = u"{5E42E11B-373C-42B7-A6F1-E4D873D150F0}";
  const std::map<std::pair<std::u16string, std::u16string>, std::u16string> expected = {
      {{u"AddIn.Mirel240F_DRV_2003.1", u""}, u"Mirel240F Class"},
      {{u"AddIn.Mirel240F_DRV_2003.1\\CLSID", u""}, clsid},
      {{u"AddIn.Mirel240F_DRV_2003", u""}, u"Mirel240F Class"},
      {{u"AddIn.Mirel240F_DRV_2003\\CLSID", u""}, clsid},
      {{u"AddIn.Mirel240F_DRV_2003\\CurVer", u""}, u"AddIn.Mirel240F_DRV_2003.1"},
      {{kClassKey, u""}, u"Mirel240F Class"},
      {{kClassKey + u"\\ProgID", u""}, u"AddIn.Mirel240F_DRV_2003.1"},
      {{kClassKey + u"\\VersionIndependentProgID", u""}, u"AddIn.Mirel240F_DRV_2003"},
      {{kClassKey + u"\\InprocServer32", u""}, kModule},
      {{kClassKey + u"\\InprocServer32", u"ThreadingModel"}, u"Apartment"},
      {{kClassKey + u"\\TypeLib", u""}, u"{59AC691F-C80C-4369-9506-79EBE2E62800}"},
      {{kClassKey + u"\\Version", u""}, u"1.0"},
      {{u"AppID\\" + appid, u""}, u"Mirel240F_DRV_2.4"},
      {{u"AppID\\Mirel240F_DRV_2.4.DLL", u"AppID"}, appid},
  };
  EXPECT_EQ(expected, r.values);
  EXPECT_EQ(1u, r.keys.count(kClassKey + u"\\Programmable"));  // a bare key
  EXPECT_TRUE(r.typeLibRegistered);
}

TEST(Registration, UnregistrationRemovesWhatWasWrittenAndKeepsWhatOthersAdded) {
  FakeRegistry r = PopulatedRegistry();
  const FakeRegistry before = r;
  ASSERT_EQ(S_OK, RegisterServer(r, kModule));
  ASSERT_EQ(S_OK, UnregisterServer(r, kModule));
  EXPECT_TRUE(r == before);

  // Another program's subkey under our class key keeps that key, and only that much of it.
  ASSERT_EQ(S_OK, RegisterServer(r, kModule));
  r.CreateKey(kClassKey + u"\\Implemented Categories");
  ASSERT_EQ(S_OK, UnregisterServer(r, kModule));
  FakeRegistry expected = before;
  expected.CreateKey(kClassKey + u"\\Implemented Categories");
  EXPECT_TRUE(r == expected);
}

TEST(Registration, UnregisteringWhatIsNotRegisteredSucceeds) {
  FakeRegistry r = PopulatedRegistry();
  const FakeRegistry before = r;
  EXPECT_EQ(S_OK, UnregisterServer(r, kModule));
  EXPECT_TRUE(r == before);
}

TEST(Registration, AFailedStepReturnsItsFailureAndLeavesNothingBehind) {
  FakeRegistry probe;
  ASSERT_EQ(S_OK, RegisterServer(probe, kModule));
  const int stepCount = probe.steps;  // every entry and the type library
  ASSERT_EQ(static_cast<int>(ServerEntries(kModule).size()) + 1, stepCount);

  for (int step = 0; step < stepCount; ++step) {
    SCOPED_TRACE("failing step " + std::to_string(step));
    FakeRegistry r = PopulatedRegistry();
    const FakeRegistry before = r;
    r.failAt = step;
    EXPECT_EQ(kDenied, RegisterServer(r, kModule));
    EXPECT_TRUE(r == before);
  }
}

TEST(Registration, DllInstallChoosesTheUsersRootByCommandLine) {
  struct Case {
    bool bUser;
    std::u16string commandLine;
  };
  const Case cases[] = {
      {true, u"user"}, {true, u"USER"}, {true, u"User"}, {false, u""}, {false, u"users"}, {false, u"machine"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.commandLine.begin(), c.commandLine.end()));
    const FakeRegistry before = PopulatedRegistry();
    FakeRegistry machine = before, user = before;
    ASSERT_EQ(S_OK, InstallServer(true, c.commandLine, machine, user, kModule));
    FakeRegistry& chosen = c.bUser ? user : machine;
    FakeRegistry& other = c.bUser ? machine : user;
    EXPECT_TRUE(chosen.typeLibRegistered);
    EXPECT_TRUE(other == before);

    ASSERT_EQ(S_OK, InstallServer(false, c.commandLine, machine, user, kModule));
    EXPECT_TRUE(chosen == before);
  }
}

TEST(Registration, AFailedInstallIsUndone) {
  const FakeRegistry before = PopulatedRegistry();
  FakeRegistry machine = before, user = before;
  user.failAt = 5;
  EXPECT_EQ(kDenied, InstallServer(true, u"user", machine, user, kModule));
  EXPECT_TRUE(user == before);
  EXPECT_TRUE(machine == before);
}

// A 64-bit system's class root, seen by its two bitnesses: one store of keys, in which the 32-bit
// view finds its redirected keys under Wow6432Node.
struct TwoViewRoot {
  enum class Redirects {
    kNothing,     // one set of keys for both (a registry that shares the user's classes)
    kClassKeys,   // CLSID redirected, ProgIDs and AppID shared, as 64-bit Windows does
    kEverything,  // every key redirected
  };
  FakeRegistry store;
  Redirects redirects;
  // Once Wow6432Node exists, every key is redirected (as Wine does with the user's classes).
  bool bRedirectsOnceWow6432NodeExists = false;

  std::u16string Physical(const std::u16string& key, bool b32) const {
    const bool bRedirected = redirects == Redirects::kEverything ||
                             (redirects == Redirects::kClassKeys && key.compare(0, 6, u"CLSID\\") == 0);
    return b32 && bRedirected ? u"Wow6432Node\\" + key : key;
  }
};

class View final : public ClassRegistry {
 public:
  View(TwoViewRoot* root, bool b32) : m_root(root), m_b32(b32) {}
  HRESULT CreateKey(const std::u16string& key) override { return Store().CreateKey(Own(key)); }
  HRESULT SetValue(const std::u16string& key, const std::u16string& name,
                   const std::u16string& data) override {
    return Store().SetValue(Own(key), name, data);
  }
  HRESULT DeleteValue(const std::u16string& key, const std::u16string& name) override {
    return Store().DeleteValue(Own(key), name);
  }
  HRESULT DeleteKeyIfEmpty(const std::u16string& key) override { return Store().DeleteKeyIfEmpty(Own(key)); }
  HRESULT RegisterTypeLibrary() override { return S_OK; }
  HRESULT UnregisterTypeLibrary() override { return S_OK; }
  HRESULT PrepareView() override {
    if (m_b32 && m_root->bRedirectsOnceWow6432NodeExists) {
      Store().CreateKey(u"Wow6432Node");
      m_root->redirects = TwoViewRoot::Redirects::kEverything;
    }
    return S_OK;
  }
  HRESULT ReadOtherView(const std::u16string& key, const std::u16string& name,
                        std::u16string* data) override {
    const std::u16string* value = Store().Value(m_root->Physical(key, !m_b32), name);
    if (!value) return kAbsent;
    *data = *value;
    return S_OK;
  }
  bool SharedWithOtherView(const std::u16string& key) override {
    return Store().HasKey(Own(key)) && Own(key) == m_root->Physical(key, !m_b32);
  }

  // The module a host of this bitness creates by the ProgID; empty when it finds none.
  std::u16string ModuleByProgID() const {
    const std::u16string* clsid = Store().Value(Own(u"AddIn.Mirel240F_DRV_2003\\CLSID"), u"");
    if (!clsid) return u"";
    const std::u16string* module = Store().Value(Own(u"CLSID\\" + *clsid + u"\\InprocServer32"), u"");
    return module ? *module : u"";
  }

 private:
  FakeRegistry& Store() const { return m_root->store; }
  std::u16string Own(const std::u16string& key) const { return m_root->Physical(key, m_b32); }

  TwoViewRoot* m_root;
  bool m_b32;
};

const std::u16string kModule64 = u"C:\\Users\\k\\AppData\\Local\\Mirel240F_DRV\\x64\\Mirel240F_DRV_2.4.dll";
const std::u16string kModule32 = u"C:\\Users\\k\\AppData\\Local\\Mirel240F_DRV\\x86\\Mirel240F_DRV_2.4.dll";

// Both bitnesses registered side by side: each bitness's host creates its own module, unregistering
// one leaves the other whole, and unregistering both leaves the root as it was. A registry that
// shows both bitnesses the same class key refuses the second registration instead of taking the
// component away from the first one's hosts.
TEST(Registration, BothBitnessesStandSideBySide) {
  using R = TwoViewRoot::Redirects;
  struct Case {
    const char* name;
    R redirects;
    bool bRedirectsOnceWow6432NodeExists;
    bool bFirst32;
  };
  const Case cases[] = {
      {"64-bit Windows, the 64-bit DLL first", R::kClassKeys, false, false},
      {"64-bit Windows, the 32-bit DLL first", R::kClassKeys, false, true},
      {"redirection once Wow6432Node exists, the 64-bit DLL first", R::kNothing, true, false},
      {"redirection once Wow6432Node exists, the 32-bit DLL first", R::kNothing, true, true},
      {"every key redirected", R::kEverything, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TwoViewRoot root{PopulatedRegistry(), c.redirects, c.bRedirectsOnceWow6432NodeExists};
    const FakeRegistry before = root.store;
    View v64(&root, false), v32(&root, true);
    View& first = c.bFirst32 ? v32 : v64;
    View& second = c.bFirst32 ? v64 : v32;
    const std::u16string& firstModule = c.bFirst32 ? kModule32 : kModule64;
    const std::u16string& secondModule = c.bFirst32 ? kModule64 : kModule32;

    ASSERT_EQ(S_OK, RegisterServer(first, firstModule));
    ASSERT_EQ(S_OK, RegisterServer(second, secondModule));
    EXPECT_EQ(kModule64, v64.ModuleByProgID());
    EXPECT_EQ(kModule32, v32.ModuleByProgID());

    ASSERT_EQ(S_OK, UnregisterServer(first, firstModule));
    EXPECT_EQ(u"", first.ModuleByProgID());
    EXPECT_EQ(secondModule, second.ModuleByProgID());
    ASSERT_EQ(S_OK, UnregisterServer(second, secondModule));
    // Nothing of ours is left; the 32-bit view's containers are the system's and stay.
    FakeRegistry expected = before;
    if (root.store.HasKey(u"Wow6432Node")) expected.CreateKey(u"Wow6432Node\\CLSID");
    if (root.store.HasKey(u"Wow6432Node\\AppID")) expected.CreateKey(u"Wow6432Node\\AppID");
    EXPECT_TRUE(root.store == expected);
  }

  TwoViewRoot shared{PopulatedRegistry(), R::kNothing};
  View v64(&shared, false), v32(&shared, true);
  ASSERT_EQ(S_OK, RegisterServer(v64, kModule64));
  const FakeRegistry registered = shared.store;
  EXPECT_EQ(kOtherBitnessRegistered, RegisterServer(v32, kModule32));
  EXPECT_TRUE(shared.store == registered);
  EXPECT_EQ(S_OK, RegisterServer(v64, kModule64));  // registering the same module again is no overwrite
}

TEST(Registration, GuidTextKeepsLeadingZerosInEveryGroup) {
  const GUID guid = {0x00020424, 0x0000, 0x0A00, {0x0C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
  EXPECT_EQ(u"{00020424-0000-0A00-0C00-000000000046}", GuidText(guid));
}

}  // namespace
