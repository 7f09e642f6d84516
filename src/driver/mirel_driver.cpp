#include "driver/mirel_driver.h"

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
