#include "driver/mirel_driver.h"

#include <cstdarg>
#include <cstdio>

CMirelDriver::CMirelDriver() : m_pDevice(std::make_unique<FPContext>()) {}

CMirelDriver::~CMirelDriver() = default;

void CMirelDriver::LogEnterH(const char* name) {
  if (m_pDevice->pfnLogEnterH) m_pDevice->pfnLogEnterH(m_pDevice.get(), name);
}

void CMirelDriver::LogMessageH(const char* name, const char* text) {
  if (m_pDevice->pfnLogMessageH) m_pDevice->pfnLogMessageH(m_pDevice.get(), name, text);
}

void CMirelDriver::LogReturnH(const char* name, const char* result) {
  if (m_pDevice->pfnLogReturnH) m_pDevice->pfnLogReturnH(m_pDevice.get(), name, result);
}

void CMirelDriver::LogMessageHf(const char* name, const char* format, ...) {
  if (!m_pDevice->pfnLogMessageH) return;
  char text[512];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  m_pDevice->pfnLogMessageH(m_pDevice.get(), name, text);
}

LONG CMirelDriver::ReturnH(const char* name, LONG code) {
  char text[16];
  snprintf(text, sizeof text, "%ld", static_cast<long>(code));
  LogReturnH(name, text);
  return code;
}
