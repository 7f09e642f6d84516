// IMirel240F: the component's own interface, the single road from the host's method table into
// the driver. It derives from IUnknown directly; the method order is fixed (slots 1..24 after the
// three IUnknown methods). Every method returns S_OK; the last parameter receives the result: the
// version (GetVersion), the error code (GetLastError), or the success flag, 1 or 0.
#pragma once

#include "platform/com.h"

extern const IID IID_IMirel240F;
extern const CLSID CLSID_Mirel240F;

struct IMirel240F : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE OdinS_GetVersion(BSTR* bstrVersion) = 0;
  virtual HRESULT STDMETHODCALLTYPE OdinS_GetLastError(BSTR* pbstrErrorDescription,
                                                       LONG* plResult) = 0;
  virtual HRESULT STDMETHODCALLTYPE OdinS_Open(BSTR* pbstrDeviceID, LONG* pboolSuccess) = 0;
  virtual HRESULT STDMETHODCALLTYPE OdinS_Close(BSTR bstrDeviceID, LONG* pboolSuccess) = 0;
  virtual HRESULT STDMETHODCALLTYPE OdinS_CashInOutcome(BSTR bstrDeviceID, BSTR InputParameters,
                                                        double Amount, LONG* pboolSuccess) = 0;
  virtual HRESULT STDMETHODCALLTYPE OdinS_OpenCashDrawer(BSTR bstrDeviceID,
                                                         LONG* pboolSuccess) = 0;
  virtual HRESULT STDMETHODCALLTYPE OdinS_GetDataKKT(BSTR bstrDeviceID,
                                                     BSTR* pbstrTableParametersKKT,
                                                     LONG* pboolSuccess) = 0;
  virtual HRESULT STDMETHODCALLTYPE OdinS_OperationFN(BSTR bstrDeviceID, LONG OperationType,
                                                      BSTR ParametersFiscal,
                                                      LONG* pboolSuccess) = 0;
  virtual HRESULT STDMETHODCALLTYPE OdinS_OpenShift(BSTR bstrDeviceID, BSTR InputParameters,
                                                    BSTR* OutputParameters, LONG* SessionNumber,
                                                    LONG* DocumentNumber, LONG* pboolSuccess) = 0;
  virtual HRESULT STDMETHODCALLTYPE OdinS_CloseShift(BSTR bstrDeviceID, BSTR InputParameters,
                                                     BSTR* OutputParameters, LONG* SessionNumber,
                                                     LONG* DocumentNumber, LONG* pboolSuccess) = 0;
  virtual HRESULT STDMETHODCALLTYPE OdinS_ProcessCheck(BSTR bstrDeviceID, LONG Electronically,
                                                       BSTR CheckPackage, LONG* CheckNumber,
                                                       LONG* SessionNumber, BSTR* FiscalSign,
                                                       BSTR* AddressSiteInspections,
                                                       LONG* pboolSuccess) = 0;
  virtual HRESULT STDMETHODCALLTYPE OdinS_ProcessCorrectionCheck(
      BSTR bstrDeviceID, BSTR CheckCorrectionPackage, LONG* CheckNumber, LONG* SessionNumber,
      BSTR* FiscalSign, BSTR* AddressSiteInspections, LONG* pboolSuccess) = 0;
  virtual HRESULT STDMETHODCALLTYPE OdinS_PrintTextDocument(BSTR bstrDeviceID,
                                                            BSTR DocumentPackage,
                                                            LONG* pboolSuccess) = 0;
  virtual HRESULT STDMETHODCALLTYPE OdinS_GetCurrentStatus(BSTR bstrDeviceID, LONG* CheckNumber,
                                                           LONG* SessionNumber,
                                                           LONG* SessionState,
                                                           BSTR* StatusParameters,
                                                           LONG* pboolSuccess) = 0;
  virtual HRESULT STDMETHODCALLTYPE OdinS_ReportCurrentStatusOfSettlements(
      BSTR bstrDeviceID, BSTR InputParameters, BSTR* OutputParameters, LONG* pboolSuccess) = 0;
  virtual HRESULT STDMETHODCALLTYPE OdinS_GetLineLength(BSTR bstrDeviceID, LONG* LineLength,
                                                        LONG* pboolSuccess) = 0;
  virtual HRESULT STDMETHODCALLTYPE OdinS_GetDescription(BSTR* bstrName, BSTR* bstrDescription,
                                                         BSTR* bstrEquipmentType,
                                                         LONG* InterfaceRevision,
                                                         LONG* IntegrationLibrary,
                                                         LONG* MainDriverInstalled,
                                                         BSTR* bstrDownloadURL,
                                                         LONG* pboolSuccess) = 0;
  virtual HRESULT STDMETHODCALLTYPE OdinS_GetParameters(BSTR* bstrTableParameters,
                                                        LONG* pboolSuccess) = 0;
  virtual HRESULT STDMETHODCALLTYPE OdinS_SetParameter(BSTR bstrName, VARIANT bstrValue,
                                                       LONG* pboolSuccess) = 0;
  virtual HRESULT STDMETHODCALLTYPE OdinS_GetAdditionalActions(BSTR* bstrTableActions,
                                                               LONG* pboolSuccess) = 0;
  virtual HRESULT STDMETHODCALLTYPE OdinS_DoAdditionalAction(BSTR bstrActionName,
                                                             LONG* pboolSuccess) = 0;
  virtual HRESULT STDMETHODCALLTYPE OdinS_DeviceTest(BSTR* bstrDescription, BSTR* bstrReserved,
                                                     LONG* pboolSuccess) = 0;
  virtual HRESULT STDMETHODCALLTYPE OdinS_SetLocale(BSTR bstrLocale, LONG* pboolSuccess) = 0;
  virtual HRESULT STDMETHODCALLTYPE OdinS_PrintXReport(BSTR bstrDeviceID, BSTR InputParameters,
                                                       LONG* pboolSuccess) = 0;
};
