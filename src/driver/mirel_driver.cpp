#include "driver/mirel_driver.h"

#include <cstdarg>
#include <cstdio>

#include "log/log.h"
#include "ofd/fd_client.h"

CMirelDriver::CMirelDriver() : m_pDevice(std::make_unique<FPContext>()) {}

// A host that releases the component without Done still gets the relay stopped, and its thread
// joined, before the device it uses is released. The log files close with it: a host creates and
// releases components many times in one process, and each would keep its two files open.
CMirelDriver::~CMirelDriver() {
  try {
    StopRelay();
    if (m_pDevice->hComPort != nullptr) DeinitDevice();
    CloseLogs(m_pDevice.get());
  } catch (...) {
    // Nothing may leave a destructor; the port closes with the process at the latest.
  }
}

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
