// CMirel240F: the add-in object the host creates. One COM object with four interfaces: IInitDone
// (life cycle), ILanguageExtender (the method table), ILocale and IMirel240F (the wrappers around
// the driver methods). It owns the device context for its whole life.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "addin/host_interfaces.h"
#include "addin/imirel240f.h"
#include "device/fp_context.h"
#include "platform/com.h"

class CMirel240F final : public IInitDone,
                         public ILanguageExtender,
                         public ILocale,
                         public IMirel240F {
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

  // ILocale
  HRESULT STDMETHODCALLTYPE SetLocale(BSTR bstrLocale) override;

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

  // Driver methods. 8-bit strings are in the driver's code page, XML packages in UTF-8; a null
  // pointer stands for a null BSTR. The device identifier has been checked where the method table
  // says so. BSTR out-parameters are allocated here and are the host's to free.
  const char* GetVersion() const { return m_szVersion; }
  LONG GetLastError(char* szDescription, size_t nSize);
  bool Open(BSTR* pbstrDeviceID);
  bool Close(const char* szDeviceID);
  bool CashInOutcome(const char* szDeviceID, const char* szInputParameters, double dAmount);
  bool OpenCashDrawer(const char* szDeviceID);
  bool GetDataKKT(const char* szDeviceID, BSTR* pbstrTableParametersKKT);
  bool OperationFN(const char* szDeviceID, LONG nOperationType, const char* szParametersFiscal);
  bool OpenShift(const char* szDeviceID, const char* szInputParameters, BSTR* pbstrOutput,
                 LONG* pnSessionNumber, LONG* pnDocumentNumber);
  bool CloseShift(const char* szDeviceID, const char* szInputParameters, BSTR* pbstrOutput,
                  LONG* pnSessionNumber, LONG* pnDocumentNumber);
  bool ProcessCheck(const char* szDeviceID, LONG nElectronically, const char* szCheckPackage,
                    LONG* pnCheckNumber, LONG* pnSessionNumber, BSTR* pbstrFiscalSign,
                    BSTR* pbstrAddressSiteInspections);
  bool ProcessCorrectionCheck(const char* szDeviceID, const char* szCheckCorrectionPackage,
                              LONG* pnCheckNumber, LONG* pnSessionNumber, BSTR* pbstrFiscalSign,
                              BSTR* pbstrAddressSiteInspections);
  bool PrintTextDocument(const char* szDeviceID, const char* szDocumentPackage);
  bool GetCurrentStatus(const char* szDeviceID, LONG* pnCheckNumber, LONG* pnSessionNumber,
                        LONG* pnSessionState, BSTR* pbstrStatusParameters);
  bool ReportCurrentStatusOfSettlements(const char* szDeviceID, const char* szInputParameters,
                                        BSTR* pbstrOutputParameters);
  bool GetLineLength(const char* szDeviceID, LONG* pnLineLength);
  bool GetDescription(BSTR* pbstrName, BSTR* pbstrDescription, BSTR* pbstrEquipmentType,
                      LONG* pnInterfaceRevision, LONG* pnIntegrationLibrary,
                      LONG* pnMainDriverInstalled, BSTR* pbstrDownloadURL);
  bool GetParameters(BSTR* pbstrTableParameters);
  bool SetParameter(const char* szName, const VARIANT& value);
  bool GetAdditionalActions(BSTR* pbstrTableActions);
  bool DoAdditionalAction(const char* szActionName);
  bool DeviceTest(BSTR* pbstrDescription, BSTR* pbstrReserved);
  bool SetLocale(const char* szLocale);
  bool PrintXReport(const char* szDeviceID, const char* szInputParameters);
  // Brings the printer out of an error state before a receipt-type method.
  void PrepareOperation();
  // Leaves the device and closes the port; the driver result code.
  LONG DeinitDevice();

  FPContext* Device() { return m_pDevice.get(); }
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
  bool NotSupported();
  void NoteCall(LONG lMethodNum);
  void CopyHostPlatformInfo();
  HRESULT ReadProfile();
  void WriteProfile();
  void ReleaseServices();
  void LogEnterH(const char* name);
  void LogMessageH(const char* name, const char* text);
  void LogReturnH(const char* name, const char* result);

  std::atomic<ULONG> m_nRefCount{1};

  // Identity and the method table (construction defaults).
  char m_szVersion[16] = "1.0.0.24";
  char m_szCallName[101] = {};
  char m_strOdinSDeviceID[260] = {};

  // Settings that the properties and the host's profile reach.
  int32_t m_nComPort = 0;
  int32_t m_nSpeed = 1;
  char m_szPassword[8] = {};

  std::unique_ptr<FPContext> m_pDevice;

  // The host's services, held from Init to Done.
  IDispatch* m_pConnection = nullptr;
  IErrorLog* m_pErrorLog = nullptr;
  IAsyncEvent* m_pAsyncEvent = nullptr;
  IStatusLine* m_pStatusLine = nullptr;
  IPlatformInfo* m_pPlatformInfo = nullptr;
  IPropertyProfile* m_pProfile = nullptr;
};
