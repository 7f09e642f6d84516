// Files and directories on Windows, through the wide API with the driver's 1251 path converted to
// UTF-16. The narrow calls would read the same bytes in the ANSI code page, and the C runtime's
// narrow functions read them in yet another, so a Cyrillic folder name would be made under one
// name and written under another.
#include <windows.h>

#include <cstdio>

#include "platform/files.h"
#include "wide_text.h"

namespace plat {
namespace {

DWORD Attributes(const std::string& path) {
  return GetFileAttributesW(WideOf1251(path).c_str());
}

}  // namespace

std::FILE* OpenFile(const std::string& path, const char* mode) {
  return _wfopen(WideOf1251(path).c_str(), WideOf1251(mode).c_str());
}

bool IsDirectory(const std::string& path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool PathExists(const std::string& path) {
  return Attributes(path) != INVALID_FILE_ATTRIBUTES;
}

bool MakeDirectory(const std::string& path) {
  if (CreateDirectoryW(WideOf1251(path).c_str(), nullptr)) return true;
  const DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS && IsDirectory(path)) return true;
  SetLastError(error);
  return false;
}

bool RenameFile(const std::string& from, const std::string& to) {
  return MoveFileExW(WideOf1251(from).c_str(), WideOf1251(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool RemoveFile(const std::string& path) {
  return DeleteFileW(WideOf1251(path).c_str()) != 0;
}

bool FileSize(const std::string& path, uint64_t* size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(WideOf1251(path).c_str(), GetFileExInfoStandard, &data)) return false;
  *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>* entries) {
  std::wstring pattern = WideOf1251(path);
  if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  try {
    entries->clear();
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      entries->push_back(
          {Cp1251OfWide(found.cFileName), (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileW(search, &found));
  } catch (...) {  // out of memory: a failed listing rather than an exception through the platform API
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    ok = false;
  }
  FindClose(search);
  return ok;
}

}  // namespace plat
