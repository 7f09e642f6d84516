// Files and directories, named by the driver's own path text: Windows-1251 on every system, as
// settings such as the log folder arrive. Every call converts the path to the system's own form
// of names (UTF-16 for the wide API on Windows, UTF-8 on POSIX), so a folder with Cyrillic letters
// in its name is the same folder whichever call reaches it, whatever the system's code page is.
//
// The calls that act (all but IsDirectory and PathExists) leave the system's error code for
// SystemLastError() when they fail.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace plat {

// A C stream on the file, with fopen's mode letters ("a", "r", "wb"); null when it cannot be opened.
std::FILE* OpenFile(const std::string& path, const char* mode);

bool IsDirectory(const std::string& path);
bool PathExists(const std::string& path);
// One directory whose parent exists; true also when a directory of that name is already there.
bool MakeDirectory(const std::string& path);
// A directory and every missing parent; true also when it is already there.
bool MakeDirectories(const std::string& path);

// Renames a file, replacing a file already under the new name.
bool RenameFile(const std::string& from, const std::string& to);
bool RemoveFile(const std::string& path);
bool FileSize(const std::string& path, uint64_t* size);

struct DirectoryEntry {
  std::string name;  // the name alone, in Windows-1251 ('?' for what 1251 cannot hold)
  bool directory;
};
// The entries of a directory, without "." and "..".
bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>* entries);

}  // namespace plat
