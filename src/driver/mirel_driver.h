// CMirelDriver: the driver methods of the add-in object and the state they share, below the COM
// boundary. The add-in object CMirel240F derives from it and reaches these methods through its
// wrappers; the driver, receipt, shift and relay subsystems define them without knowing COM.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "device/fp_context.h"
#include "platform/com.h"

class CMirelDriver {
 public:
  CMirelDriver();
  virtual ~CMirelDriver();
  CMirelDriver(const CMirelDriver&) = delete;
  CMirelDriver& operator=(const CMirelDriver&) = delete;

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

  // Options, programming and the receipt template (driver front). Codes are driver result codes;
  // line numbers run 1..8.
  LONG SetDriverOpt(int nOpt, int nVal);
  LONG SetDeviceOpt(int nOpt, int nVal);
  LONG SetAccessKey(const char* szKey);
  LONG GetDeviceFlagBit(int bit, int flag, bool* pbSet);
  LONG SetDeviceFlagBit(int bit, int flag);
  LONG ClearDeviceFlagBit(int bit, int flag);
  LONG SetDate(int day, int month, int year);
  LONG SetTime(int hour, int minute, int second);
  LONG SetTemplateCheck();
  LONG SetOrderHeader(int nNumStr, const char* szText, bool bBold);
  LONG SetOrderHeaderTemplate(int nNumStr, char* szText);
  LONG SetOrderFooter(int nNumStr, char* szText);
  bool SetPaymentMeanName(int nNumber, const char* szName);
  bool SetHeaderString(int nNumber, const char* szText);
  bool SetFooterString(int nNumber, const char* szText);

  FPContext* Device() { return m_pDevice.get(); }

 protected:
  bool NotSupported();
  void LogEnterH(const char* name);
  void LogMessageH(const char* name, const char* text);
  void LogReturnH(const char* name, const char* result);

  // Identity (construction defaults).
  char m_szVersion[16] = "1.0.0.24";
  char m_strOdinSDeviceID[260] = {};

  // Settings that the properties and the host's profile reach.
  int32_t m_nComPort = 0;
  int32_t m_nSpeed = 1;
  char m_szPassword[8] = {};

  // Driver settings (SetParameter). The three "Set" marks are cleared by Open: until then a later
  // LogEnabled keeps the log directory and daily choice the host has given.
  int32_t m_bLogEnabled = 0;
  int32_t m_bDailyLogEnabled = 0;
  uint8_t m_bLogEnabledSet = 0;
  uint8_t m_bDailyLogSet = 0;
  uint8_t m_bPathLogSet = 0;
  char m_szClerkName[68] = {};
  friend struct SettingHandlers;  // the SetParameter table (driver/settings.cpp)

  std::unique_ptr<FPContext> m_pDevice;
};
