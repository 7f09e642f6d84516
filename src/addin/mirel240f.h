// CMirel240F: the add-in object the host creates. One COM object with four interfaces: IInitDone
// (life cycle), ILanguageExtender (the method table), ILocale and IMirel240F (the wrappers around
// the driver methods of its base CMirelDriver).
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "addin/host_interfaces.h"
#include "addin/imirel240f.h"
#include "driver/mirel_driver.h"
#include "platform/com.h"

class CMirel240F final : public IInitDone,
                         public ILanguageExtender,
                         public ILocale,
                         public IMirel240F,
                         public CMirelDriver {
 public:
  CMirel240F();
  ~CMirel240F();
  CMirel240F(const CMirel240F&) = delete;
  CMirel240F& operator=(const CMirel240F&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IInitDone
  HRESULT STDMETHODCALLTYPE Init(IDispatch* pConnection) override;
  HRESULT STDMETHODCALLTYPE Done() override;
  HRESULT STDMETHODCALLTYPE GetInfo(SAFEARRAY** pInfo) override;

  // ILanguageExtender
  HRESULT STDMETHODCALLTYPE RegisterExtensionAs(BSTR* bstrExtensionName) override;
  HRESULT STDMETHODCALLTYPE GetNProps(LONG* plProps) override;
  HRESULT STDMETHODCALLTYPE FindProp(BSTR bstrPropName, LONG* plPropNum) override;
  HRESULT STDMETHODCALLTYPE GetPropName(LONG lPropNum, LONG lPropAlias,
                                        BSTR* pbstrPropName) override;
  HRESULT STDMETHODCALLTYPE GetPropVal(LONG lPropNum, VARIANT* pvarPropVal) override;
  HRESULT STDMETHODCALLTYPE SetPropVal(LONG lPropNum, VARIANT* varPropVal) override;
  HRESULT STDMETHODCALLTYPE IsPropReadable(LONG lPropNum, BOOL* pboolPropRead) override;
  HRESULT STDMETHODCALLTYPE IsPropWritable(LONG lPropNum, BOOL* pboolPropWrite) override;
  HRESULT STDMETHODCALLTYPE GetNMethods(LONG* plMethods) override;
  HRESULT STDMETHODCALLTYPE FindMethod(BSTR bstrMethodName, LONG* plMethodNum) override;
  HRESULT STDMETHODCALLTYPE GetMethodName(LONG lMethodNum, LONG lMethodAlias,
                                          BSTR* pbstrMethodName) override;
  HRESULT STDMETHODCALLTYPE GetNParams(LONG lMethodNum, LONG* plParams) override;
  HRESULT STDMETHODCALLTYPE GetParamDefValue(LONG lMethodNum, LONG lParamNum,
                                             VARIANT* pvarParamDefValue) override;
  HRESULT STDMETHODCALLTYPE HasRetVal(LONG lMethodNum, BOOL* pboolRetValue) override;
  HRESULT STDMETHODCALLTYPE CallAsProc(LONG lMethodNum, SAFEARRAY** paParams) override;
  HRESULT STDMETHODCALLTYPE CallAsFunc(LONG lMethodNum, VARIANT* pvarRetValue,
                                       SAFEARRAY** paParams) override;

  // ILocale (the driver's own SetLocale stays reachable beside it)
  HRESULT STDMETHODCALLTYPE SetLocale(BSTR bstrLocale) override;
  using CMirelDriver::SetLocale;

  // IMirel240F
  HRESULT STDMETHODCALLTYPE OdinS_GetVersion(BSTR* bstrVersion) override;
  HRESULT STDMETHODCALLTYPE OdinS_GetLastError(BSTR* pbstrErrorDescription,
                                               LONG* plResult) override;
  HRESULT STDMETHODCALLTYPE OdinS_Open(BSTR* pbstrDeviceID, LONG* pboolSuccess) override;
  HRESULT STDMETHODCALLTYPE OdinS_Close(BSTR bstrDeviceID, LONG* pboolSuccess) override;
  HRESULT STDMETHODCALLTYPE OdinS_CashInOutcome(BSTR bstrDeviceID, BSTR InputParameters,
                                                double Amount, LONG* pboolSuccess) override;
  HRESULT STDMETHODCALLTYPE OdinS_OpenCashDrawer(BSTR bstrDeviceID, LONG* pboolSuccess) override;
  HRESULT STDMETHODCALLTYPE OdinS_GetDataKKT(BSTR bstrDeviceID, BSTR* pbstrTableParametersKKT,
                                             LONG* pboolSuccess) override;
  HRESULT STDMETHODCALLTYPE OdinS_OperationFN(BSTR bstrDeviceID, LONG OperationType,
                                              BSTR ParametersFiscal, LONG* pboolSuccess) override;
  HRESULT STDMETHODCALLTYPE OdinS_OpenShift(BSTR bstrDeviceID, BSTR InputParameters,
                                            BSTR* OutputParameters, LONG* SessionNumber,
                                            LONG* DocumentNumber, LONG* pboolSuccess) override;
  HRESULT STDMETHODCALLTYPE OdinS_CloseShift(BSTR bstrDeviceID, BSTR InputParameters,
                                             BSTR* OutputParameters, LONG* SessionNumber,
                                             LONG* DocumentNumber, LONG* pboolSuccess) override;
  HRESULT STDMETHODCALLTYPE OdinS_ProcessCheck(BSTR bstrDeviceID, LONG Electronically,
                                               BSTR CheckPackage, LONG* CheckNumber,
                                               LONG* SessionNumber, BSTR* FiscalSign,
                                               BSTR* AddressSiteInspections,
                                               LONG* pboolSuccess) override;
  HRESULT STDMETHODCALLTYPE OdinS_ProcessCorrectionCheck(BSTR bstrDeviceID,
                                                         BSTR CheckCorrectionPackage,
                                                         LONG* CheckNumber, LONG* SessionNumber,
                                                         BSTR* FiscalSign,
                                                         BSTR* AddressSiteInspections,
                                                         LONG* pboolSuccess) override;
  HRESULT STDMETHODCALLTYPE OdinS_PrintTextDocument(BSTR bstrDeviceID, BSTR DocumentPackage,
                                                    LONG* pboolSuccess) override;
  HRESULT STDMETHODCALLTYPE OdinS_GetCurrentStatus(BSTR bstrDeviceID, LONG* CheckNumber,
                                                   LONG* SessionNumber, LONG* SessionState,
                                                   BSTR* StatusParameters,
                                                   LONG* pboolSuccess) override;
  HRESULT STDMETHODCALLTYPE OdinS_ReportCurrentStatusOfSettlements(BSTR bstrDeviceID,
                                                                   BSTR InputParameters,
                                                                   BSTR* OutputParameters,
                                                                   LONG* pboolSuccess) override;
  HRESULT STDMETHODCALLTYPE OdinS_GetLineLength(BSTR bstrDeviceID, LONG* LineLength,
                                                LONG* pboolSuccess) override;
  HRESULT STDMETHODCALLTYPE OdinS_GetDescription(BSTR* bstrName, BSTR* bstrDescription,
                                                 BSTR* bstrEquipmentType, LONG* InterfaceRevision,
                                                 LONG* IntegrationLibrary,
                                                 LONG* MainDriverInstalled, BSTR* bstrDownloadURL,
                                                 LONG* pboolSuccess) override;
  HRESULT STDMETHODCALLTYPE OdinS_GetParameters(BSTR* bstrTableParameters,
                                                LONG* pboolSuccess) override;
  HRESULT STDMETHODCALLTYPE OdinS_SetParameter(BSTR bstrName, VARIANT bstrValue,
                                               LONG* pboolSuccess) override;
  HRESULT STDMETHODCALLTYPE OdinS_GetAdditionalActions(BSTR* bstrTableActions,
                                                       LONG* pboolSuccess) override;
  HRESULT STDMETHODCALLTYPE OdinS_DoAdditionalAction(BSTR bstrActionName,
                                                     LONG* pboolSuccess) override;
  HRESULT STDMETHODCALLTYPE OdinS_DeviceTest(BSTR* bstrDescription, BSTR* bstrReserved,
                                             LONG* pboolSuccess) override;
  HRESULT STDMETHODCALLTYPE OdinS_SetLocale(BSTR bstrLocale, LONG* pboolSuccess) override;
  HRESULT STDMETHODCALLTYPE OdinS_PrintXReport(BSTR bstrDeviceID, BSTR InputParameters,
                                               LONG* pboolSuccess) override;

  // Objects alive in this process (the class factory's unload test).
  static LONG LiveObjects();
  const char* CallName() const { return m_szCallName; }

 private:
  template <typename Body>
  HRESULT RunLocked(LONG* pboolSuccess, Body body);
  template <typename Body>
  HRESULT RunWithDeviceID(BSTR bstrDeviceID, LONG* pboolSuccess, Body body, bool prepare = false);
  void ClearErrorState();
  bool IsOpenDeviceID(const char* szDeviceID) const;
  void NoteCall(LONG lMethodNum);
  void CopyHostPlatformInfo();
  HRESULT ReadProfile();
  void WriteProfile();
  void ReleaseServices();

  std::atomic<ULONG> m_nRefCount{1};

  char m_szCallName[101] = {};

  // The host's services, held from Init to Done.
  IDispatch* m_pConnection = nullptr;
  IErrorLog* m_pErrorLog = nullptr;
  IAsyncEvent* m_pAsyncEvent = nullptr;
  IStatusLine* m_pStatusLine = nullptr;
  IPlatformInfo* m_pPlatformInfo = nullptr;
  IPropertyProfile* m_pProfile = nullptr;
};
