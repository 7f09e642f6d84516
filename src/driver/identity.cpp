// What the component is, and why the last call failed: GetLastError, GetDescription and
// GetLineLength (GetVersion is inline).
#include <cstdio>
#include <cstring>
#include <string>

#include "device/device_errors.h"
#include "device/result_codes.h"
#include "device/text_field.h"
#include "driver/com_text.h"
#include "driver/mirel_driver.h"
#include "platform/codepage.h"

namespace {

constexpr LONG kInterfaceRevision = 2004;
constexpr const char* kDownloadUrl = "https://drivers.mirel.example/mirel-240-f/";

// Log names are written in the driver's 8-bit code page, like the texts they introduce.
const char* InternalErrorName() {
  static const std::string name = plat::Utf8ToCp1251("Внутренняя ошибка");
  return name.c_str();
}

const char* PrinterErrorName() {
  static const std::string name = plat::Utf8ToCp1251("Ошибка ФР");
  return name.c_str();
}

// Appends `text` to the NUL-terminated buffer, cutting it at the buffer's end.
void Append(char* buffer, size_t size, const char* text) {
  const size_t used = std::strlen(buffer);
  if (used + 1 < size) CopyText(buffer + used, size - used, text);
}

void Assign(BSTR* out, const char* utf8) {
  if (out) *out = Utf8ToBstr(utf8);
}

void Assign(LONG* out, LONG value) {
  if (out) *out = value;
}

}  // namespace

LONG CMirelDriver::GetLastError(char* szDescription, size_t nSize) {
  const LONG code = m_pDevice->nLastResult;
  const LONG deviceError = m_pDevice->nDeviceError;
  LogEnterH("OdinS_GetLastError");
  CopyText(szDescription, nSize, DriverErrorText(code));
  const std::string codeText = std::to_string(code);
  LogMessageH(InternalErrorName(), codeText.c_str());
  LogMessageH(InternalErrorName(), szDescription);
  if (code != kResultOk && code == m_nResultDetailCode && !m_strResultDetail.empty()) {
    Append(szDescription, nSize, ". ");
    Append(szDescription, nSize, m_strResultDetail.c_str());
  }
  if (deviceError != 0) {
    // The text of code 0 is one blank: nothing to separate from.
    if (std::strlen(szDescription) > 1) Append(szDescription, nSize, ". ");
    Append(szDescription, nSize, DeviceErrorText(deviceError));
    LogMessageH(PrinterErrorName(), std::to_string(deviceError).c_str());
    LogMessageH(PrinterErrorName(), szDescription);
  }
  LogReturnH("OdinS_GetLastError", codeText.c_str());
  return code;
}

void CMirelDriver::ExplainResult(int32_t nCode, const std::string& detail) {
  m_nResultDetailCode = nCode;
  m_strResultDetail = plat::Utf8ToCp1251(detail);
}

bool CMirelDriver::GetDescription(BSTR* pbstrName, BSTR* pbstrDescription, BSTR* pbstrEquipmentType,
                                  LONG* pnInterfaceRevision, LONG* pnIntegrationLibrary,
                                  LONG* pnMainDriverInstalled, BSTR* pbstrDownloadURL) {
  LogEnterH("GetDescription");
  Assign(pbstrName, "Универсальный драйвер ККМ Мирел-240-Ф вер. 1.05");
  Assign(pbstrDescription, "Обеспечивает работу совместно с ККМ Мирел-240-Ф вер. 1.05");
  Assign(pbstrEquipmentType, "ФискальныйРегистратор");
  Assign(pnInterfaceRevision, kInterfaceRevision);
  Assign(pnIntegrationLibrary, 0);
  Assign(pnMainDriverInstalled, 0);
  Assign(pbstrDownloadURL, kDownloadUrl);
  LogReturnH("GetDescription", "1");
  return true;
}

bool CMirelDriver::GetLineLength(const char*, LONG* pnLineLength) {
  LogEnterH("GetLineLength");
  const LONG width = m_pDevice->nLineWidth;
  Assign(pnLineLength, width);
  char text[32];
  std::snprintf(text, sizeof text, "LineLength = %u", static_cast<unsigned>(width));
  LogMessageH("GetLineLength", text);
  LogReturnH("GetLineLength", "1");
  return true;
}
