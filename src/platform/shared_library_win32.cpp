#include <windows.h>

#include "platform/codepage.h"
#include "platform/shared_library.h"

namespace plat {

// The path reaches the system through the wide API, whatever the ANSI code page.
SharedLibrary::SharedLibrary(const std::string& path) {
  const std::u16string wide16 = Utf8ToUtf16(path);
  const std::wstring wide(wide16.begin(), wide16.end());
  m_handle = LoadLibraryW(wide.c_str());
  if (!m_handle) m_error = "LoadLibrary failed with error " + std::to_string(GetLastError());
}

SharedLibrary::~SharedLibrary() {
  if (m_handle) FreeLibrary(static_cast<HMODULE>(m_handle));
}

void* SharedLibrary::Symbol(const char* name) const {
  return m_handle ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(m_handle), name)) : nullptr;
}

}  // namespace plat
