// The settings key on POSIX: values survive between store objects, kinds are kept apart, the file
// sits under the user's configuration directory, and a write never leaves a partial file.
#include "platform/settings_store.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/scoped_env.h"

namespace {

namespace fs = std::filesystem;

constexpr const char kKey[] = "Software\\Velbor\\FP Mirel Driver\\Settings";

class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("mirel-settings-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  fs::path KeyFile() const { return dir / "mirel" / "Software" / "Velbor" / "FP Mirel Driver" / "Settings"; }

  fs::path dir;
};

TEST_F(SettingsStoreTest, ValuesSurviveInTheKeyFileUnderTheConfigDirectory) {
  ScopedEnv config("XDG_CONFIG_HOME", dir.c_str());
  struct Case {
    const char* name;
    std::string text;
  } strings[] = {
      {"Cashier", "\xCA\xE0\xF1\xF1\xE8\xF0"},  // "Кассир" in Windows-1251
      {"LogPath", "c:\\logs\\"},
      {"FDOAddress", ""},
      {"Odd", "line\nbreak\r\\n=x"},
  };
  {
    plat::SettingsStore store(kKey);
    for (const Case& c : strings) ASSERT_TRUE(store.WriteString(c.name, c.text)) << c.name;
    ASSERT_TRUE(store.WriteNumber("ComPort", 3));
    ASSERT_TRUE(store.WriteNumber("FDOPort", 4294967295u));
  }
  EXPECT_TRUE(fs::is_regular_file(KeyFile()));

  const plat::SettingsStore store(kKey);
  for (const Case& c : strings) {
    std::string text;
    EXPECT_TRUE(store.ReadString(c.name, &text)) << c.name;
    EXPECT_EQ(c.text, text) << c.name;
  }
  uint32_t number = 0;
  EXPECT_TRUE(store.ReadNumber("ComPort", &number));
  EXPECT_EQ(3u, number);
  EXPECT_TRUE(store.ReadNumber("FDOPort", &number));
  EXPECT_EQ(4294967295u, number);
  // Nothing but the key file is left in its folder: the temporary file was renamed.
  EXPECT_EQ(1, std::distance(fs::directory_iterator(KeyFile().parent_path()), {}));
}

TEST_F(SettingsStoreTest, MissingValuesAndOtherKindsAreNotRead) {
  ScopedEnv config("XDG_CONFIG_HOME", dir.c_str());
  plat::SettingsStore store(kKey);
  std::string text;
  uint32_t number = 0;
  EXPECT_FALSE(store.ReadString("LogPath", &text));  // no key yet
  ASSERT_TRUE(store.WriteString("LogPath", "x"));
  ASSERT_TRUE(store.WriteNumber("EnableDailyLog", 1));
  EXPECT_FALSE(store.ReadString("Cashier", &text));
  EXPECT_FALSE(store.ReadNumber("LogPath", &number));
  EXPECT_FALSE(store.ReadString("EnableDailyLog", &text));
  // Writing the other kind replaces the value; the others stay.
  ASSERT_TRUE(store.WriteNumber("LogPath", 7));
  EXPECT_TRUE(store.ReadNumber("LogPath", &number));
  EXPECT_EQ(7u, number);
  EXPECT_TRUE(store.ReadNumber("EnableDailyLog", &number));
  EXPECT_EQ(1u, number);
}

TEST_F(SettingsStoreTest, RootFollowsTheBaseDirectoryRules) {
  ScopedEnv home("HOME", dir.c_str());
  {
    ScopedEnv relative("XDG_CONFIG_HOME", "relative/config");  // ignored: not absolute
    ASSERT_TRUE(plat::SettingsStore(kKey).WriteNumber("ComPort", 1));
  }
  EXPECT_TRUE(fs::is_regular_file(dir / ".config" / "mirel" / "Software" / "Velbor" / "FP Mirel Driver" /
                                  "Settings"));
  EXPECT_FALSE(fs::exists("relative"));
}

TEST_F(SettingsStoreTest, AWriteThatCannotBeStoredFailsAndKeepsTheOldFile) {
  ScopedEnv config("XDG_CONFIG_HOME", dir.c_str());
  plat::SettingsStore store(kKey);
  ASSERT_TRUE(store.WriteNumber("ComPort", 2));
  // A directory where the temporary file would go makes the write fail before the rename.
  fs::path blocker = KeyFile();
  blocker += ".tmp." + std::to_string(::getpid());
  fs::create_directories(blocker / "inside");
  EXPECT_FALSE(store.WriteNumber("ComPort", 5));
  uint32_t number = 0;
  EXPECT_TRUE(store.ReadNumber("ComPort", &number));
  EXPECT_EQ(2u, number);

  // Key paths that would leave the root, and names the file cannot hold, are refused.
  EXPECT_FALSE(plat::SettingsStore("Software\\..\\..\\etc").WriteNumber("x", 1));
  EXPECT_FALSE(plat::SettingsStore("Software\\\\Settings").WriteNumber("x", 1));
  EXPECT_FALSE(store.WriteString("a=b", "x"));
  EXPECT_FALSE(store.WriteString("", "x"));
}

}  // namespace
