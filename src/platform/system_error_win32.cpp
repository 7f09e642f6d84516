// Last error on Windows: the thread's GetLastError value. Winsock's codes (WSAGetLastError) live
// in the same slot and FormatMessage knows their texts, so sockets need nothing of their own.
#include <windows.h>

#include "platform/system_error.h"
#include "wide_text.h"

namespace plat {

uint32_t SystemLastError() {
  return GetLastError();
}

void SetSystemLastError(uint32_t code) {
  SetLastError(code);
}

// The wide text converted to 1251: the narrow call would give it in the ANSI code page, which is
// not the driver's on a Windows set up in another language.
std::string SystemErrorText(uint32_t code) {
  wchar_t* text = nullptr;
  const DWORD len = FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  std::string result;
  try {
    if (len != 0 && text != nullptr) result = Cp1251OfWide(std::wstring_view(text, len));
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r')) result.pop_back();
  } catch (...) {  // out of memory: no text rather than an exception through the platform API
    result.clear();
  }
  LocalFree(text);
  return result;
}

}  // namespace plat
