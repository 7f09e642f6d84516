// Files and directories on POSIX. Names on disk are UTF-8, as the rest of the system reads them;
// the driver's 1251 path is converted on every call.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/system_error.h"

namespace plat {
namespace {

std::string Native(const std::string& path) {
  return Cp1251ToUtf8(path);
}

bool Fail() {
  SetSystemLastError(static_cast<uint32_t>(errno));
  return false;
}

bool Stat(const std::string& path, struct stat* info) {
  return stat(Native(path).c_str(), info) == 0;
}

}  // namespace

std::FILE* OpenFile(const std::string& path, const char* mode) {
  std::FILE* file = std::fopen(Native(path).c_str(), mode);
  if (file == nullptr) Fail();
  return file;
}

bool IsDirectory(const std::string& path) {
  struct stat info;
  return Stat(path, &info) && S_ISDIR(info.st_mode);
}

bool PathExists(const std::string& path) {
  struct stat info;
  return Stat(path, &info);
}

bool MakeDirectory(const std::string& path) {
  if (mkdir(Native(path).c_str(), 0777) == 0) return true;
  const int error = errno;
  if (error == EEXIST && IsDirectory(path)) return true;
  errno = error;
  return Fail();
}

bool RenameFile(const std::string& from, const std::string& to) {
  return std::rename(Native(from).c_str(), Native(to).c_str()) == 0 || Fail();
}

bool RemoveFile(const std::string& path) {
  return unlink(Native(path).c_str()) == 0 || Fail();
}

bool FileSize(const std::string& path, uint64_t* size) {
  struct stat info;
  if (!Stat(path, &info)) return Fail();
  *size = static_cast<uint64_t>(info.st_size);
  return true;
}

bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>* entries) {
  const std::string native = Native(path);
  DIR* dir = opendir(native.c_str());
  if (dir == nullptr) return Fail();
  bool ok = true;
  try {
    entries->clear();
    const std::string prefix = native.empty() || native.back() == '/' ? native : native + '/';
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      // lstat: a link is not followed into a directory it points at; d_type is not filled on
      // every file system.
      struct stat info;
      const bool directory = lstat((prefix + name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
      entries->push_back({Utf8ToCp1251(name), directory});
    }
  } catch (...) {  // out of memory: a failed listing rather than an exception through the platform API
    errno = ENOMEM;
    ok = Fail();
  }
  closedir(dir);
  return ok;
}

}  // namespace plat
