#include <dlfcn.h>

#include "platform/shared_library.h"

namespace plat {

// RTLD_LOCAL: the component's symbols stay its own, as a host loading several add-ins needs.
SharedLibrary::SharedLibrary(const std::string& path)
    : m_handle(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
  if (!m_handle) {
    const char* reason = dlerror();
    m_error = reason ? reason : "the library cannot be loaded";
  }
}

SharedLibrary::~SharedLibrary() {
  if (m_handle) dlclose(m_handle);
}

void* SharedLibrary::Symbol(const char* name) const {
  return m_handle ? dlsym(m_handle, name) : nullptr;
}

}  // namespace plat
