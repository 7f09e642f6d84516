// CMirelDriver: the driver methods of the add-in object and the state they share, below the COM
// boundary. The add-in object CMirel240F derives from it and reaches these methods through its
// wrappers; the driver, receipt, shift and relay subsystems define them without knowing COM.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "device/check_position.h"
#include "device/fp_context.h"
#include "platform/com.h"

struct CheckParameters;
struct CorrectionData;
struct TaxEntry;
struct FnRegistrationData;
class TiXmlDocument;
class TiXmlElement;
class CFDClient;

class CMirelDriver {
 public:
  // The first line of a freshly opened log: which driver wrote it.
  static constexpr const char kVersionBanner[] = "Mirel240F_DRV_2.4.dll version 1.0.0.24 of 2019-03-03 09:52";

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
                      LONG* pnInterfaceRevision, LONG* pnIntegrationLibrary, LONG* pnMainDriverInstalled,
                      BSTR* pbstrDownloadURL);
  bool GetParameters(BSTR* pbstrTableParameters);
  bool SetParameter(const char* szName, const VARIANT& value);
  bool GetAdditionalActions(BSTR* pbstrTableActions);
  bool DoAdditionalAction(const char* szActionName);
  bool DeviceTest(BSTR* pbstrDescription, BSTR* pbstrReserved);
  bool SetLocale(const char* szLocale);
  // The self-test on the open device the identifier names.
  bool OdinS_TestDevice(const char* szDeviceID);
  // Close that leaves nLastResult and nDeviceError as they were: after a failed action the host
  // learns why the action failed, not how the closing went.
  void CloseKeepingCodes(const char* szDeviceID);
  // The printer's restart and the copy of its last document; driver result codes.
  LONG ResetPrinter();
  LONG PrintDuplicate();
  bool PrintXReport(const char* szDeviceID, const char* szInputParameters);
  // Brings the printer out of an error state before a receipt-type method.
  void PrepareOperation();
  // Opens the port and brings the printer up with the settings; the driver result code.
  LONG InitDevice();
  // Leaves the device and closes the port; the driver result code.
  LONG DeinitDevice();
  // Stops the OFD relay and waits for its thread, then DeinitDevice: the relay never uses the
  // line while the device is released.
  LONG ReleaseDevice();

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

  // The step-by-step document interface beneath the receipt methods (receipts/document_state.cpp).
  // Prices and amounts are kopecks, quantities thousandths; results are driver result codes. The
  // document types are those of StartDocument: 1 sale, 2 sale return, 3 non-fiscal, 4 cash in,
  // 5 cash out, 6 refund, 8 purchase, 9 purchase return.
  virtual LONG StartDocument(int nType, int nSection, int nCustomerId, const char* sClerkName);
  virtual LONG ItemEx(int nQuantity, uint32_t nAmount, const char* sText, int nTaxGroup, int nSection,
                      const CheckPosition* pPosition);
  virtual LONG AbsoluteCorrectionText(int nValue, const char* sText);
  virtual LONG Tender(int64_t nAmount, int nType, const char* sCardNum, const char* sAuthCode);
  virtual LONG Tender2(double dAmount, int nType, const char* sCardNum, const char* sAuthCode);
  virtual LONG EndDocument();
  virtual LONG CancelDocument();
  virtual bool CancelCheck(const char* DeviceID);
  // CancelCheck after a failed step: the codes of the failure stay what GetLastError reports.
  bool CancelCheckKeepingError(const char* DeviceID);
  virtual int64_t GetDocInfo(int nType);
  virtual double GetDoubleDeviceInfo(int nType);
  virtual LONG SetClerk(const char* sClerkName);
  virtual LONG OpenDrawer();
  virtual LONG PrintQRCode(int nSystemType, int ErrorLevel, int nSize, const char* sText);
  virtual bool IsSessionOpened();

  // Receipt-level operations (receipts/check_operations.cpp). OpenCheck opens a receipt (not
  // fiscal, sale, return, purchase) and gives the numbers it will print; PrintFiscalString prints
  // one item with its discount line; PaymentCheck pays the open receipt from the package's five
  // kinds; EndCheck closes it; TestCashOut gives 114 when the drawer holds less than the amount,
  // else `nCode`.
  bool OpenCheck(const char* szDeviceID, bool bFiscal, bool bReturn, bool bPurchase, bool bCancelOpenedCheck,
                 LONG* pnCheckNumber, LONG* pnSessionNumber);
  bool PrintFiscalString(const char* szDeviceID, const CheckPosition& position);
  bool PaymentCheck(const CheckParameters& params);
  bool EndCheck();
  int32_t TestCashOut(double dAmount, int32_t nCode);

  // Shift (src/shift): the older methods the shift operations build on. Driver result codes.
  // StartSession opens the shift for the cashier (null or empty: "System") at POS number nPosId
  // (below 1: the one used last); EndSession closes it with the Z report; PrintReport prints report
  // nType: 1 X, 2 X of a closed shift, 3 Z, 4 Z under the access password, 5..7 accumulated.
  LONG StartSession(const char* szClerkName, int nPosId, const char* szClerkVatin);
  LONG EndSession();
  // EndSession on a shift the drive has open; after a failure the drive decides whether it closed.
  LONG CloseOpenShift(const char* szName);
  LONG PrintReport(int nType);

  // Fiscal drive (src/shift): the registration command with the registration data and its mode
  // character ('0' + the work-mode bits), and the closing of the fiscal drive by the cashier.
  // Driver result codes.
  LONG RegistrationFN(const FnRegistrationData& data, char mode);
  LONG CloseFN(const char* szCashierName);

  FPContext* Device() { return m_pDevice.get(); }

 protected:
  bool NotSupported();
  bool IsSupportedModel() const;
  void SwitchLogOn();
  void SetDeviceOpen(bool open);
  void NewDeviceID();
  void ApplyFlagSetting(const char* name, int bit, int flag);
  void ApplySupportedModelSettings();
  void StartRelay();
  void StopRelay();
  // The shift methods' common steps (src/shift).
  bool TakeInputParameters(const char* name, const char* szInputParameters, char* szVatin);
  void ReadShiftNumbers(const char* name, LONG* pnSessionNumber, LONG* pnDocumentNumber);
  // The fiscal drive's status; a failed read leaves its link code, negated, as the driver result.
  bool ReadFdStatus();
  bool FinishH(const char* name, bool result);
  void LogEnterH(const char* name);
  void LogMessageH(const char* name, const char* text);
  void LogReturnH(const char* name, const char* result);
  void LogMessageHf(const char* name, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // Writes the return line with the code in decimal and returns the code.
  LONG ReturnH(const char* name, LONG code);
  // A refusal whose code's own text does not say what is wrong: GetLastError adds `detail` (UTF-8;
  // nothing when empty) to that text for as long as nLastResult is `nCode`.
  void ExplainResult(int32_t nCode, const std::string& detail);

  // Identity (construction defaults).
  char m_szVersion[16] = "1.0.0.24";
  char m_strOdinSDeviceID[260] = {};
  uint32_t m_nLastDeviceIDTick = 0;  // the tick the last identifier was made of
  bool m_bDeviceIDIssued = false;

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
  int32_t m_nPosId = 1;           // POS number of the last StartSession
  friend struct SettingHandlers;  // the SetParameter table (driver/settings.cpp)

  // The open document of the step-by-step interface. Amounts of the items are in thousandths of a
  // kopeck; the integer fields keep the low 32 bits.
  struct DocumentTotals {
    int32_t TendersCount = 0;
    int32_t nTendersAmount = 0;
    double dTendersAmount = 0;
    int32_t DocItems = 0;
    int32_t AllDocItems = 0;
    int32_t nDocItemsAmount = 0;
    double dDocItemsAmount = 0;
  };
  int32_t m_nDocumentType = 0;  // 0: no document open
  int32_t m_bClerkSet = 0;      // the printer took m_szClerkName through SetClerk or StartDocument
  // The open document has been opened in the printer (a header, an item or an amount it took), so
  // the printer must show it open after every step until it ends.
  bool m_bDocumentInPrinter = false;
  // A step ended with paper end / a printer failure or busy printer: the next step clears it first.
  int32_t m_bPaperEndPending = 0;
  int32_t m_bPrinterFailurePending = 0;
  DocumentTotals m_DocumentTotals;
  // What ExplainResult gave for the last refusal (Windows-1251), and its code; the wrappers clear it.
  std::string m_strResultDetail;
  int32_t m_nResultDetailCode = 0;
  double m_adSfAmounts[8] = {};  // the amounts of the last "Sf" record, kopecks
  int32_t m_bSfCacheValid = 0;
  void ResetDocumentTotals() { m_DocumentTotals = DocumentTotals(); }

 private:
  // The additional actions (driver/actions.cpp).
  bool OpenPrivately(char* szDeviceID, size_t nSize);
  const char* RunAction(const char* szActionName);

  // The parts the document steps share (receipts/document_state.cpp).
  struct PaymentStep;
  LONG OpenDocumentOfType(const char* name, int nType, int nCustomerId);
  void LogText(const char* name, const char* text, bool logEmpty);
  void LogCardTexts(const char* name, const char* sCardNum, const char* sAuthCode);
  LONG ClearPendingErrors(const char* name);
  LONG StatusAfterStep(const char* name, LONG result, bool busyCounts);
  // A fresh status, asked again within a bound when a poll goes unanswered; 0 or the link's code.
  LONG ReadFreshStatus(const char* name);
  bool PrinterShowsDocument() const;
  // 100 when the last status shows the printer without the document it holds for the driver.
  LONG DocumentLost(const char* name);
  // A fresh status and DocumentLost: 0 while the printer still holds the open document (or none is
  // open in it yet).
  LONG ConfirmDocumentHeld(const char* name);
  // The printer's total of the open receipt against the driver's own; false (with 100) when they differ.
  bool ConfirmReceiptTotal(const char* name, int64_t nPrinterTotal);
  LONG CheckTenderArguments(const char* name, int nType, bool badAmount);
  LONG SendCardData(const char* name, const char* sCardNum, const char* sAuthCode, const char* failure);
  LONG PayDocument(const char* name, int nType, int64_t whole, double amount, bool doubleForm);
  LONG TakePayment(const char* name, const PaymentStep& step, int64_t nAmount, double dAmount);
  LONG MoveCash(const char* name, const std::function<int32_t()>& move, const char* failure);

  // Driver codes kept across a cancel or a restore, so that the host learns the failing step's.
  struct SavedResult {
    int32_t nLastResult;
    int32_t nDeviceError;
  };
  SavedResult SaveResult() const;
  void RestoreResult(const SavedResult& saved);

  // The steps of the receipt operations and of ProcessCheck (src/receipts).
  bool IsDeviceIDOf(const char* szName, const char* szDeviceID);
  void NotePaymentProgramming();
  bool FailItem(const char* szMessage, int32_t nCode);
  bool RegisterItem(int32_t q, int64_t p, int64_t s, const char* szName, const CheckPosition& position,
                    int32_t nDiscount);
  bool FailPayment(const char* szMessage, int32_t nCode);
  bool TenderLogged(int64_t nAmount, int nType, const char* szName);
  bool SwitchCheckPrinting(bool bElectronically, int* pnRestore);
  void RestoreCheckPrinting(int nRestore);
  bool FailCheck(const char* szMessage, int32_t nCode);
  // Logs `szMessage` under `szName`, leaves `nCode` for GetLastError and gives false.
  bool FailH(const char* szName, const char* szMessage, int32_t nCode);
  void CancelReceipt(const char* szDeviceID);
  bool CheckReadyForReceipt(const char* szName, uint32_t* pnBefore, LONG* pnSessionNumber);
  bool IsShiftUsable(const char* szName);
  bool IsPrinterReady(const char* szName);
  bool ReadCheckPackage(TiXmlDocument* document, const char* szCheckPackage, bool bElectronically,
                        CheckParameters* params);
  bool SetCheckCashier(const CheckParameters& params);
  bool SendReceiptAttributes(const CheckParameters& params);
  bool ConfirmReceiptHeld(const char* szName);
  bool PrintCheckItems(const char* szDeviceID, const TiXmlElement* positions, double* pdPositions);
  bool BalancePayments(CheckParameters* params, double dPositions, double* pdCashBefore);
  bool ReturnCash(const CheckParameters& params, double dCashBefore);
  bool PrintTextsAndBarcodes(const TiXmlElement* positions);
  bool PrintCheckBarcode(const TiXmlElement* element);
  int32_t SendBarcode(int nKind, const char* szData, bool bInReceipt);
  int32_t ReadDriveNumbers(uint32_t* pnNumber, int32_t* pnSession);
  bool ReceiptMadeByDrive(const char* szName, uint32_t nBefore);
  bool ReadReceiptNumbers(const char* szName, uint32_t nBefore, LONG* pnCheckNumber, LONG* pnSessionNumber,
                          BSTR* pbstrFiscalSign);
  bool RunCheck(const char* szDeviceID, bool bElectronically, const char* szCheckPackage, LONG* pnCheckNumber,
                LONG* pnSessionNumber, BSTR* pbstrFiscalSign, BSTR* pbstrAddressSiteInspections);
  bool PrintCheck(const char* szDeviceID, bool bElectronically, const char* szCheckPackage,
                  LONG* pnCheckNumber, LONG* pnSessionNumber, BSTR* pbstrFiscalSign);
  bool SettleFailedClosing(const char* szName, const char* szDeviceID, uint32_t nBefore, LONG* pnCheckNumber,
                           LONG* pnSessionNumber, BSTR* pbstrFiscalSign);
  bool ReceiptMadeAfterAll(const char* szName, uint32_t nBefore, LONG* pnCheckNumber, LONG* pnSessionNumber,
                           BSTR* pbstrFiscalSign, bool* pbReported);

  // Correction receipts (receipts/correction.cpp). OpenCheckCorr gives 0 when the correction
  // receipt was made, else how it failed.
  bool PrintCorrection(const char* szDeviceID, const char* szPackage, LONG* pnCheckNumber,
                       LONG* pnSessionNumber, BSTR* pbstrFiscalSign, BSTR* pbstrAddressSiteInspections);
  bool ReadCorrectionPackage(const char* szPackage, CorrectionData* pData);
  bool PrepareCorrection(const CorrectionData& data);
  int OpenCheckCorr(const CorrectionData& data);
  int FailOpen(const char* szMessage, int32_t nCode);
  bool SendCorrectionItems(const TaxEntry (&entries)[8]);
  bool SendCorrectionTags(const CorrectionData& data);
  bool PayCorrection(const CorrectionData& data);
  bool FailCorrection(const char* szDeviceID, int nFailure, uint32_t nBefore, LONG* pnCheckNumber,
                      LONG* pnSessionNumber, BSTR* pbstrFiscalSign);

  // Text documents, cash in and out, the drawer (receipts/text_documents.cpp).
  bool FinishExplained(const char* szName, bool bResult);
  bool PrintTextPackage(const char* szDeviceID, const char* szDocumentPackage);
  bool PrintTextPositions(const TiXmlElement* positions);
  bool PrintTextString(const TiXmlElement* element);
  bool PrintTextBarcode(const TiXmlElement* element, int* pnPrintable);
  bool MoveDrawerCash(const char* szDeviceID, const char* szInputParameters, double dAmount);
  bool SettleFailedCashMove(const char* szDeviceID, bool bCashOut, double dAmount);
  bool OpenDrawerForClerk();

  // The steps of OperationFN (src/shift/fiscal_operations.cpp). FailOperation logs the message
  // (when given) and sets the codes that are not 0; it returns false.
  bool RunOperationFN(int type, const char* szParametersFiscal);
  bool FailOperation(const char* message, int32_t code, int32_t deviceError);
  bool CloseShiftForOperation(const char* szCashierName);
  bool PrepareForOperation(int type, const char* szCashierName);
  int CheckWorkModes(const FnRegistrationData& data, bool fiscal);
  bool Register(int type, FnRegistrationData* data, bool fiscal, bool registered);

 protected:
  std::unique_ptr<FPContext> m_pDevice;
  // The running OFD relay, from the first Open of the supported model to Done. Declared after the
  // device context it uses, and stopped by the destructor before that goes.
  std::unique_ptr<CFDClient> m_pFDClient;
};
