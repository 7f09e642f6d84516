// The IMirel240F wrappers: the single road from the host into the driver methods. Each clears the
// error state, holds the device lock for the whole driver method, converts the strings, checks the
// device identifier where the method needs an open device, and turns the driver's bool into the
// host's 1/0. No exception leaves a wrapper: a failure becomes False with its code.
#include <cstdio>
#include <string_view>

#include "addin/mirel240f.h"
#include "device/info_queries.h"
#include "device/result_codes.h"
#include "device/text_field.h"
#include "driver/com_text.h"

namespace {

// The 8-bit text buffer that GetLastError composes the description in.
constexpr size_t kErrorTextSize = 256;
// The host's version text is kept to this many characters.
constexpr size_t kHostVersionLength = 20;

// [out] parameters start cleared, so that a caller never reads what the call did not give it,
// whatever its outcome (CallAsFunc clears them itself; a direct caller of IMirel240F may not).
void ClearOut(BSTR* p) {
  if (p) *p = nullptr;
}

void ClearOut(LONG* p) {
  if (p) *p = 0;
}

template <typename... Out>
void ClearOuts(Out*... outs) {
  (ClearOut(outs), ...);
}

}  // namespace

void CMirel240F::ClearErrorState() {
  m_pDevice->nLastResult = 0;
  m_pDevice->nDeviceError = 0;
  ExplainResult(0, "");
}

bool CMirel240F::IsOpenDeviceID(const char* szDeviceID) const {
  return szDeviceID && *szDeviceID && std::string_view(szDeviceID) == m_strOdinSDeviceID;
}

// The lock is taken for every wrapper that reaches the device, whatever the model: it is re-entrant
// and uncontended without a relay, and a driver method that changes the device's version (Open)
// then still releases exactly the lock it took.
template <typename Body>
HRESULT CMirel240F::RunLocked(LONG* pboolSuccess, Body body) {
  if (!pboolSuccess) return E_POINTER;
  *pboolSuccess = 0;
  ClearErrorState();
  try {
    std::lock_guard<std::recursive_mutex> lock(m_pDevice->csDevice);
    StartHostCall(m_pDevice.get());
    *pboolSuccess = body() ? 1 : 0;
    // A method that succeeded leaves nothing for GetLastError: a refusal on the way (a device
    // error a later step got past) is not the host's concern.
    if (*pboolSuccess) ClearErrorState();
  } catch (...) {
    m_pDevice->nLastResult = kResultInternal;
    *pboolSuccess = 0;
  }
  return S_OK;
}

// For the receipt-type methods (prepare = true) the printer is first brought out of any error
// state, before any parameter is looked at.
template <typename Body>
HRESULT CMirel240F::RunWithDeviceID(BSTR bstrDeviceID, LONG* pboolSuccess, Body body, bool prepare) {
  return RunLocked(pboolSuccess, [&] {
    if (prepare) PrepareOperation();
    const TextArg id = TextArg::Cp1251(bstrDeviceID);
    if (!IsOpenDeviceID(id.Get())) {
      m_pDevice->nLastResult = kResultNoDevice;
      return false;
    }
    return body(id.Get());
  });
}

// ---- Identity and last error (no lock: they never reach the device) ----------------------------

HRESULT CMirel240F::OdinS_GetVersion(BSTR* bstrVersion) {
  if (!bstrVersion) return E_POINTER;
  ClearErrorState();
  try {
    LogEnterH("GetVersion");
    LogMessageH("GetVersion", GetVersion());
    *bstrVersion = Cp1251ToBstr(GetVersion());
    LogReturnH("GetVersion", "0");
  } catch (...) {
    *bstrVersion = nullptr;
  }
  return S_OK;
}

HRESULT CMirel240F::OdinS_GetLastError(BSTR* pbstrErrorDescription, LONG* plResult) {
  if (!pbstrErrorDescription || !plResult) return E_POINTER;
  // The only wrapper that keeps the error state: it reports it.
  char szDescription[kErrorTextSize] = {};
  try {
    *plResult = GetLastError(szDescription, sizeof szDescription);
    *pbstrErrorDescription = Cp1251ToBstr(szDescription);
  } catch (...) {
    *plResult = m_pDevice->nLastResult;
    *pbstrErrorDescription = nullptr;
  }
  return S_OK;
}

// ---- Connection ---------------------------------------------------------------------------------

void CMirel240F::CopyHostPlatformInfo() {
  const HostPlatformInfo* pInfo = nullptr;
  if (!m_pPlatformInfo || FAILED(m_pPlatformInfo->GetPlatformInfo(&pInfo)) || !pInfo) return;
  std::u16string version;
  for (const OLECHAR* p = pInfo->pszVersion; p && *p && version.size() < kHostVersionLength; ++p) {
    version.push_back(*p);
  }
  BSTR bstr =
      SysAllocStringLen(reinterpret_cast<const OLECHAR*>(version.data()), static_cast<UINT>(version.size()));
  const std::string ansi = BstrToCp1251(bstr);
  SysFreeString(bstr);
  CopyText(m_pDevice->szHostVersion, ansi.c_str());
  m_pDevice->nHostApplication = pInfo->nApplication;
}

HRESULT CMirel240F::OdinS_Open(BSTR* pbstrDeviceID, LONG* pboolSuccess) {
  ClearOuts(pbstrDeviceID);
  return RunLocked(pboolSuccess, [&] {
    CopyHostPlatformInfo();
    return Open(pbstrDeviceID);
  });
}

HRESULT CMirel240F::OdinS_Close(BSTR bstrDeviceID, LONG* pboolSuccess) {
  // Close checks the identifier itself, a missing one included.
  return RunLocked(pboolSuccess, [&] { return Close(TextArg::Cp1251(bstrDeviceID).Get()); });
}

// ---- Methods on the open device -----------------------------------------------------------------

HRESULT CMirel240F::OdinS_CashInOutcome(BSTR bstrDeviceID, BSTR InputParameters, double Amount,
                                        LONG* pboolSuccess) {
  return RunWithDeviceID(
      bstrDeviceID, pboolSuccess,
      [&](const char* id) { return CashInOutcome(id, TextArg::Utf8(InputParameters).Get(), Amount); }, true);
}

HRESULT CMirel240F::OdinS_OpenCashDrawer(BSTR bstrDeviceID, LONG* pboolSuccess) {
  return RunWithDeviceID(bstrDeviceID, pboolSuccess, [&](const char* id) { return OpenCashDrawer(id); });
}

HRESULT CMirel240F::OdinS_GetDataKKT(BSTR bstrDeviceID, BSTR* pbstrTableParametersKKT, LONG* pboolSuccess) {
  ClearOuts(pbstrTableParametersKKT);
  return RunWithDeviceID(bstrDeviceID, pboolSuccess,
                         [&](const char* id) { return GetDataKKT(id, pbstrTableParametersKKT); });
}

HRESULT CMirel240F::OdinS_OperationFN(BSTR bstrDeviceID, LONG OperationType, BSTR ParametersFiscal,
                                      LONG* pboolSuccess) {
  return RunWithDeviceID(bstrDeviceID, pboolSuccess, [&](const char* id) {
    return OperationFN(id, OperationType, TextArg::Utf8(ParametersFiscal).Get());
  });
}

HRESULT CMirel240F::OdinS_OpenShift(BSTR bstrDeviceID, BSTR InputParameters, BSTR* OutputParameters,
                                    LONG* SessionNumber, LONG* DocumentNumber, LONG* pboolSuccess) {
  ClearOuts(OutputParameters, SessionNumber, DocumentNumber);
  return RunWithDeviceID(bstrDeviceID, pboolSuccess, [&](const char* id) {
    return OpenShift(id, TextArg::Utf8(InputParameters).Get(), OutputParameters, SessionNumber,
                     DocumentNumber);
  });
}

HRESULT CMirel240F::OdinS_CloseShift(BSTR bstrDeviceID, BSTR InputParameters, BSTR* OutputParameters,
                                     LONG* SessionNumber, LONG* DocumentNumber, LONG* pboolSuccess) {
  ClearOuts(OutputParameters, SessionNumber, DocumentNumber);
  return RunWithDeviceID(bstrDeviceID, pboolSuccess, [&](const char* id) {
    return CloseShift(id, TextArg::Utf8(InputParameters).Get(), OutputParameters, SessionNumber,
                      DocumentNumber);
  });
}

HRESULT CMirel240F::OdinS_ProcessCheck(BSTR bstrDeviceID, LONG Electronically, BSTR CheckPackage,
                                       LONG* CheckNumber, LONG* SessionNumber, BSTR* FiscalSign,
                                       BSTR* AddressSiteInspections, LONG* pboolSuccess) {
  ClearOuts(CheckNumber, SessionNumber, FiscalSign, AddressSiteInspections);
  return RunWithDeviceID(
      bstrDeviceID, pboolSuccess,
      [&](const char* id) {
        return ProcessCheck(id, Electronically, TextArg::Utf8(CheckPackage).Get(), CheckNumber, SessionNumber,
                            FiscalSign, AddressSiteInspections);
      },
      true);
}

HRESULT CMirel240F::OdinS_ProcessCorrectionCheck(BSTR bstrDeviceID, BSTR CheckCorrectionPackage,
                                                 LONG* CheckNumber, LONG* SessionNumber, BSTR* FiscalSign,
                                                 BSTR* AddressSiteInspections, LONG* pboolSuccess) {
  ClearOuts(CheckNumber, SessionNumber, FiscalSign, AddressSiteInspections);
  return RunWithDeviceID(
      bstrDeviceID, pboolSuccess,
      [&](const char* id) {
        const bool made = ProcessCorrectionCheck(id, TextArg::Utf8(CheckCorrectionPackage).Get(), CheckNumber,
                                                 SessionNumber, FiscalSign, AddressSiteInspections);
        // Whatever became of it, no document of the correction stays open in the driver.
        m_nDocumentType = 0;
        return made;
      },
      true);
}

HRESULT CMirel240F::OdinS_PrintTextDocument(BSTR bstrDeviceID, BSTR DocumentPackage, LONG* pboolSuccess) {
  return RunWithDeviceID(
      bstrDeviceID, pboolSuccess,
      [&](const char* id) {
        const bool printed = PrintTextDocument(id, TextArg::Utf8(DocumentPackage).Get());
        // Whatever became of it, the text document is over.
        m_nDocumentType = 0;
        return printed;
      },
      true);
}

HRESULT CMirel240F::OdinS_GetCurrentStatus(BSTR bstrDeviceID, LONG* CheckNumber, LONG* SessionNumber,
                                           LONG* SessionState, BSTR* StatusParameters, LONG* pboolSuccess) {
  ClearOuts(CheckNumber, SessionNumber, SessionState, StatusParameters);
  return RunWithDeviceID(bstrDeviceID, pboolSuccess, [&](const char* id) {
    return GetCurrentStatus(id, CheckNumber, SessionNumber, SessionState, StatusParameters);
  });
}

HRESULT CMirel240F::OdinS_ReportCurrentStatusOfSettlements(BSTR bstrDeviceID, BSTR InputParameters,
                                                           BSTR* OutputParameters, LONG* pboolSuccess) {
  ClearOuts(OutputParameters);
  return RunWithDeviceID(bstrDeviceID, pboolSuccess, [&](const char* id) {
    return ReportCurrentStatusOfSettlements(id, TextArg::Utf8(InputParameters).Get(), OutputParameters);
  });
}

HRESULT CMirel240F::OdinS_GetLineLength(BSTR bstrDeviceID, LONG* LineLength, LONG* pboolSuccess) {
  ClearOuts(LineLength);
  return RunWithDeviceID(bstrDeviceID, pboolSuccess,
                         [&](const char* id) { return GetLineLength(id, LineLength); });
}

HRESULT CMirel240F::OdinS_PrintXReport(BSTR bstrDeviceID, BSTR InputParameters, LONG* pboolSuccess) {
  return RunWithDeviceID(bstrDeviceID, pboolSuccess, [&](const char* id) {
    return PrintXReport(id, TextArg::Utf8(InputParameters).Get());
  });
}

// ---- Methods without a device identifier ---------------------------------------------------------

HRESULT CMirel240F::OdinS_GetDescription(BSTR* bstrName, BSTR* bstrDescription, BSTR* bstrEquipmentType,
                                         LONG* InterfaceRevision, LONG* IntegrationLibrary,
                                         LONG* MainDriverInstalled, BSTR* bstrDownloadURL,
                                         LONG* pboolSuccess) {
  ClearOuts(bstrName, bstrDescription, bstrEquipmentType, InterfaceRevision, IntegrationLibrary,
            MainDriverInstalled, bstrDownloadURL);
  return RunLocked(pboolSuccess, [&] {
    return GetDescription(bstrName, bstrDescription, bstrEquipmentType, InterfaceRevision, IntegrationLibrary,
                          MainDriverInstalled, bstrDownloadURL);
  });
}

HRESULT CMirel240F::OdinS_GetParameters(BSTR* bstrTableParameters, LONG* pboolSuccess) {
  ClearOuts(bstrTableParameters);
  return RunLocked(pboolSuccess, [&] { return GetParameters(bstrTableParameters); });
}

HRESULT CMirel240F::OdinS_SetParameter(BSTR bstrName, VARIANT bstrValue, LONG* pboolSuccess) {
  return RunLocked(pboolSuccess, [&] {
    if (!bstrName) return false;
    return SetParameter(TextArg::Cp1251(bstrName).Get(), bstrValue);
  });
}

HRESULT CMirel240F::OdinS_GetAdditionalActions(BSTR* bstrTableActions, LONG* pboolSuccess) {
  ClearOuts(bstrTableActions);
  return RunLocked(pboolSuccess, [&] { return GetAdditionalActions(bstrTableActions); });
}

HRESULT CMirel240F::OdinS_DoAdditionalAction(BSTR bstrActionName, LONG* pboolSuccess) {
  return RunLocked(pboolSuccess, [&] { return DoAdditionalAction(TextArg::Cp1251(bstrActionName).Get()); });
}

HRESULT CMirel240F::OdinS_DeviceTest(BSTR* bstrDescription, BSTR* bstrReserved, LONG* pboolSuccess) {
  ClearOuts(bstrDescription, bstrReserved);
  return RunLocked(pboolSuccess, [&] { return DeviceTest(bstrDescription, bstrReserved); });
}

HRESULT CMirel240F::OdinS_SetLocale(BSTR bstrLocale, LONG* pboolSuccess) {
  return RunLocked(pboolSuccess, [&] { return SetLocale(TextArg::Cp1251(bstrLocale).Get()); });
}
