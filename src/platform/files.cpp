// What the file facility builds from its own calls, the same on every system.
#include "platform/files.h"

#include "platform/paths.h"

namespace plat {
namespace {

// '/' separates components on Windows as well as the native '\'.
bool IsSeparator(char c) {
  return c == '/' || c == PathSeparator();
}

}  // namespace

bool MakeDirectories(const std::string& path) {
  if (IsDirectory(path)) return true;
  // Every leading part is made in turn. One that cannot be made (a drive root, a parent that is
  // already there) is no error of its own: only the whole path decides.
  for (size_t i = 1; i < path.size(); ++i) {
    if (IsSeparator(path[i]) && !IsSeparator(path[i - 1])) MakeDirectory(path.substr(0, i));
  }
  return MakeDirectory(path);
}

}  // namespace plat
