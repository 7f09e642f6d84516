// The file facility: paths are 1251 text and reach the disk under their real (UTF-8) names, the
// listing gives names back in 1251, and each call reports its failure.
#include "platform/files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/system_error.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// A path under the temporary directory: its name on disk (UTF-8) and as the driver holds it (1251).
struct Named {
  fs::path onDisk;
  std::string cp1251;
};

class FilesTest : public ::testing::Test {
 protected:
  Named Under(const std::string& utf8) const {
    return {dir.path() / fs::u8path(utf8), plat::Utf8ToCp1251(dir.path().string() + "/" + utf8)};
  }

  TempDir dir;
};

TEST_F(FilesTest, CyrillicNamesReachTheDiskUnderTheirRealNames) {
  const Named folder = Under("Журнал кассы/Смена №1");
  ASSERT_TRUE(plat::MakeDirectories(folder.cp1251 + "/"));
  EXPECT_TRUE(fs::is_directory(folder.onDisk));
  EXPECT_TRUE(plat::IsDirectory(folder.cp1251));

  const Named file = Under("Журнал кассы/Смена №1/Протокол.log");
  std::FILE* out = plat::OpenFile(file.cp1251, "a");
  ASSERT_NE(out, nullptr);
  std::fputs("line\n", out);
  std::fclose(out);
  EXPECT_TRUE(fs::is_regular_file(file.onDisk));
  uint64_t size = 0;
  ASSERT_TRUE(plat::FileSize(file.cp1251, &size));
  EXPECT_EQ(size, 5u);

  std::vector<plat::DirectoryEntry> entries;
  ASSERT_TRUE(plat::ListDirectory(Under("Журнал кассы").cp1251, &entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, plat::Utf8ToCp1251("Смена №1"));
  EXPECT_TRUE(entries[0].directory);
  ASSERT_TRUE(plat::ListDirectory(folder.cp1251 + "/", &entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, plat::Utf8ToCp1251("Протокол.log"));
  EXPECT_FALSE(entries[0].directory);

  const Named renamed = Under("Журнал кассы/Смена №1/Протокол.lo_");
  ASSERT_TRUE(plat::RenameFile(file.cp1251, renamed.cp1251));
  EXPECT_FALSE(plat::PathExists(file.cp1251));
  EXPECT_TRUE(fs::exists(renamed.onDisk));
  ASSERT_TRUE(plat::RemoveFile(renamed.cp1251));
  EXPECT_FALSE(fs::exists(renamed.onDisk));
}

TEST_F(FilesTest, RenameReplacesAFileUnderTheNewName) {
  std::ofstream(dir.path() / "from") << "new";
  std::ofstream(dir.path() / "to") << "old, longer";
  ASSERT_TRUE(plat::RenameFile(Under("from").cp1251, Under("to").cp1251));
  uint64_t size = 0;
  ASSERT_TRUE(plat::FileSize(Under("to").cp1251, &size));
  EXPECT_EQ(size, 3u);
}

TEST_F(FilesTest, MakingADirectoryThatIsThereSucceedsAndAFileInTheWayFails) {
  std::ofstream(dir.path() / "plain") << "a file";
  EXPECT_TRUE(plat::MakeDirectory(Under("").cp1251));
  EXPECT_TRUE(plat::MakeDirectories(Under("").cp1251));
  EXPECT_FALSE(plat::MakeDirectory(Under("plain").cp1251));
  EXPECT_FALSE(plat::MakeDirectories(Under("plain/sub/").cp1251));
  EXPECT_FALSE(plat::MakeDirectory(Under("missing/sub").cp1251)) << "one level only";
  EXPECT_FALSE(fs::exists(dir.path() / "missing"));
}

TEST_F(FilesTest, FailuresLeaveTheSystemsErrorCode) {
  const std::string missing = Under("missing").cp1251;
  std::vector<plat::DirectoryEntry> entries;
  uint64_t size = 0;
  const struct Case {
    const char* call;
    std::function<bool()> run;
  } cases[] = {
      {"OpenFile", [&] { return plat::OpenFile(missing, "r") != nullptr; }},
      {"RemoveFile", [&] { return plat::RemoveFile(missing); }},
      {"RenameFile", [&] { return plat::RenameFile(missing, Under("other").cp1251); }},
      {"ListDirectory", [&] { return plat::ListDirectory(missing, &entries); }},
      {"FileSize", [&] { return plat::FileSize(missing, &size); }},
      {"MakeDirectory", [&] { return plat::MakeDirectory(Under("missing/sub").cp1251); }},
  };
  for (const Case& c : cases) {
    plat::SetSystemLastError(0);
    EXPECT_FALSE(c.run()) << c.call;
    EXPECT_EQ(plat::SystemLastError(), static_cast<uint32_t>(ENOENT)) << c.call;
  }
}

}  // namespace
