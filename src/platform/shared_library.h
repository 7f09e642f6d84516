// A shared library loaded at run time (dlopen on POSIX, LoadLibrary on Windows) and the addresses
// of the functions it exports: how a host loads a native add-in component.
#pragma once

#include <string>

namespace plat {

class SharedLibrary {
 public:
  // Loads the library at `path` (UTF-8). Loaded() tells whether it worked, Error() why not.
  explicit SharedLibrary(const std::string& path);
  ~SharedLibrary();
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  bool Loaded() const { return m_handle != nullptr; }
  const std::string& Error() const { return m_error; }
  // The exported function of this name, or null.
  void* Symbol(const char* name) const;

 private:
  void* m_handle = nullptr;
  std::string m_error;
};

}  // namespace plat
