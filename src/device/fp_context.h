// FPContext: the device context record, one per add-in object, the first argument of every device
// function. Each subsystem adds the fields it owns; defaults are set here.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/serial.h"

struct FPContext;

// The device's character tables of RecodeToDevice (device/recode.cpp): 1, 2 or 3; 0 or any other
// number is "no table", with which text goes out unchanged.
const uint8_t* DeviceRecodeTable(int number);

// Logging callbacks. A null pointer means the line is not written; callers test before calling.
using PfnLogEnter = void (*)(FPContext* ctx, const char* name);
using PfnLogReturn = void (*)(FPContext* ctx, const char* name, const char* resultText);
using PfnLogMessage = void (*)(FPContext* ctx, const char* name, const char* text);
using PfnLogSend = void (*)(FPContext* ctx, const char* frameText, const char* resultText);
using PfnLogRecv = void (*)(FPContext* ctx, const char* frameText, const char* kindText);

// Puts fileName in the driver's default log directory (platform/paths.h) into field. A directory too
// long for the field leaves it empty, so that no file is ever opened at a truncated path.
template <size_t N>
bool SetDefaultLogPath(char (&field)[N], const char* fileName) {
  const std::string path = plat::DefaultLogDirectory() + fileName;
  const bool fits = path.size() < N;
  std::snprintf(field, N, "%s", fits ? path.c_str() : "");
  return fits;
}

// The fiscal drive's status answer ("S\""), 36 bytes on the line: message start, length and answer
// code, then these fields, then the drive's check value. Cleared before every request.
struct FdStatusRecord {
  uint8_t nFdLifePhase = 0;       // life phase ("State life phase")
  uint8_t nFdCurrentDoc = 0;      // type of the document being formed
  uint8_t nFdDocData = 0;         // document data received
  uint8_t bFdShiftOpen = 0;       // 0: shift closed
  uint8_t nFdWarnings = 0;        // warning flags
  uint8_t abFdDate[3] = {};       // two-digit year, month, day
  uint8_t abFdTime[2] = {};       // hour, minute
  char szFdNumber[17] = {};       // the drive's number: 16 characters as sent, always terminated here
  uint32_t nFdLastDocNumber = 0;  // number of the last fiscal document
};

// The fiscal drive's exchange status ("SuF"): the documents waiting for the OFD. Cleared before
// every request.
struct FdExchangeRecord {
  uint8_t nFdExchangeState = 0;
  uint8_t bFdReadStarted = 0;            // a message read is in progress
  uint16_t nFdBacklogCount = 0;          // messages waiting for the OFD
  uint32_t nFdBacklogFirstDoc = 0;       // number of the first waiting document
  uint8_t abFdBacklogFirstDate[5] = {};  // its two-digit year, month, day, hour, minute
};

struct FPContext {
  FPContext() = default;
  FPContext(const FPContext&) = delete;
  FPContext& operator=(const FPContext&) = delete;

  // Port.
  int32_t nComPort = 0;                // open COM port number, 0 when closed
  plat::PortHandle hComPort = nullptr; // open port, null when none
  plat::SerialState dcb;               // port state as last written
  plat::SerialTimeouts commTimeouts;   // time-outs as last written
  uint32_t dwCommErrors = 0;
  plat::SerialQueues comStat;
  int32_t nReadTimeout = 10000;
  int32_t nWriteTimeout = 10000;
  uint8_t bMirel520Mode = 1;           // no hardware handshake; the device counts as always present

  // Transaction.
  int32_t nTransactionPhase = 0;
  int32_t nNakRetries = 30;
  int32_t nNakRetryDelay = 330;
  int32_t nBusyRetries = 30;
  int32_t nBusyRetryDelay = 330;
  int32_t nProtocolErrors = 0;
  int32_t nNakCount = 0;
  int32_t nBusyCount = 0;

  // Status.
  uint8_t status[2] = {0, 0};
  uint8_t status2[2] = {0, 0};
  char extStatus[23] = {};             // positions 3..25 of the last extended status, common layout
  int32_t nDeviceError = 0;
  int32_t nShiftOpenDay = 0;
  int32_t nShiftOpenMonth = 0;
  int32_t nShiftOpenYear = 0;
  int32_t nShiftOpenHour = 0;
  int32_t nShiftOpenMinute = 0;
  int32_t nShiftHours = 0;
  int32_t nLastResult = 0;

  // Device identity (set by device recognition).
  int32_t nVersionMajor = 0;
  int32_t nVersionMinor = 0;
  int32_t nContextKind = 1;
  int32_t nLineWidth = 35;             // characters per printed line; 35 until the model is known

  // Logging (the writers are installed by the log subsystem).
  PfnLogEnter pfnLogEnterH = nullptr;
  PfnLogReturn pfnLogReturnH = nullptr;
  PfnLogMessage pfnLogMessageH = nullptr;
  PfnLogEnter pfnLogEnter = nullptr;
  PfnLogReturn pfnLogReturn = nullptr;
  PfnLogMessage pfnLogMessage = nullptr;
  PfnLogSend pfnLogSend = nullptr;
  PfnLogRecv pfnLogRecv = nullptr;
  void* pLogUser = nullptr;            // owner data for callbacks installed by tests and tools

  // ---- Log files: owned by the log subsystem (src/log) ----
  int32_t bLogAutoFlush = 0;           // nonzero: flush after every line (set by SetLogMode)
  int32_t nLogMaxSize = 10000000;      // bytes; a file past this is trimmed after a return line
  int32_t nLogTrimSize = 1000000;      // bytes dropped from the front of a file by a trim
  char szLogFileH[260] = {};           // fixed H file
  char szLogFileL[260] = {};           // fixed L file
  char szLogPath[260] = {};            // directory of the daily files (setting "PathLog")
  FILE* fileLogH = nullptr;            // open H file, null when closed
  FILE* fileLogL = nullptr;            // open L file, null when closed
  char szLogIndentH[64] = {};          // indentation prefix: ": " per nesting level
  char szLogIndentL[64] = {};
  int32_t nLogDepthH = 0;              // nesting depth, 0..31
  int32_t nLogDepthL = 0;
  uint8_t bDailyLog = 0;               // daily files instead of the fixed ones
  int32_t nDailyLogLifeTime = 7;       // days after which daily files are deleted
  char szDailyNameH[30] = {};          // name (no directory) of the daily file now open
  char szDailyNameL[30] = {};
  char szOpenLogH[260] = {};           // path of the file each stream has open (what a trim acts on)
  char szOpenLogL[260] = {};
  // Defaults of the three paths above ("c:\Mirel-H.log", "c:\Mirel-L.log", "c:\" on Windows).
  // Members are initialised in declaration order, so the fields exist when this runs.
  // A sum rather than && so that all three are set even when one does not fit.
  bool bLogPathsDefaulted = SetDefaultLogPath(szLogFileH, "Mirel-H.log") +
                                SetDefaultLogPath(szLogFileL, "Mirel-L.log") +
                                SetDefaultLogPath(szLogPath, "") ==
                            3;
  // The host thread and the relay thread both write lines, and a trim closes and reopens a stream:
  // each line, trim, open and close holds this lock, which the log takes and never calls out under.
  std::mutex csLog;
  // ---- end of log files ----

  // ---- Host platform and OFD server: filled by the add-in boundary (src/addin) ----
  char szHostVersion[21] = {};         // the host platform's version text (Open wrapper)
  int32_t nHostApplication = 0;        // the host platform's application kind (Open wrapper)
  char szFdoAddress[261] = {};         // OFD server address (profile "FDOAddr", setting "AddressFDO")
  int32_t nFdoPort = 0;                // OFD server port (profile "FDOPort", setting "PortFDO")
  // ---- end of host platform ----

  // ---- Information records: owned by the information queries (device/info_records) ----
  // Each buffer keeps the last record of its kind as received, header through check character.
  // infoS1 starts as a neutral long-form record: zero digits in every field, blanks elsewhere.
  char infoS1[124] =
      "S100 0000000000000000 00000000 0000 00000000 00000000 000000000000 00000000000000000000 "
      "00000000000000 000000 000000  ";
  int32_t nS1Length = 118;             // 118 long form, 112 short form
  uint8_t bS1ShortForm = 0;            // older printers: ask for the short form (connection logic)
  char infoS3[69] = {};
  int32_t anTaxRates[4] = {};          // hundredths of a percent
  uint8_t abDeviceFlags[23] = {};      // indexed by the flag number 1..22
  uint8_t bDeviceFlagsValid = 0;       // cleared whenever the driver programs a flag or the rates
  // The S3 record was read in the current host call and nothing the driver did since can have
  // changed it: the call's later uses of the rates and flags take that copy (ReadS3InCall).
  uint8_t bS3ReadInCall = 0;
  char infoS31[5] = {};
  uint8_t bS31 = 0;
  char infoS9[28] = {};
  char infoSV[120] = {};               // "SV" and the version banner, NUL in place of ETX once taken
  char infoSI[32] = {};
  char infoSe[26] = {};
  char infoSf[212] = {};               // also the "Sfm" answer
  char infoSg[212] = {};
  char infoSh[225] = {};
  char infoSi[200] = {};
  char infoSNZ1[7] = {};
  char infoSR[8] = {};
  char infoSF[6] = {};
  int32_t nFpSubversion = 0;
  char infoSBrace[14] = {};            // "S{" with the agent signs and activity flags
  uint8_t nAgentSigns = 0;
  uint8_t nActivityFlags = 0;
  char infoSBraceLL[30] = {};
  char infoSBraceO[106] = {};
  char infoFdMessage[76] = {};         // "04": a fiscal-drive message
  uint8_t nFdMessageResult = 0;
  // Records only other models of the family send.
  char infoS0[11] = {};
  char infoS2[36] = {};
  char infoSAA[6] = {};
  char infoSC[7] = {};
  char infoSK[64] = {};
  char infoSM[6] = {};
  char infoSNZ2[7] = {};
  char infoST[29] = {};
  char infoSW[8] = {};
  char infoSX[54] = {};
  char infoSY[25] = {};
  char infoSc[5] = {};
  char infoSm[5] = {};
  char infoSBraceAmp[12] = {};
  char infoSBraceTilde[53] = {};
  char infoSbf[79] = {};
  char info0215[50] = {};
  // RecodeToDevice's table; device recognition switches it by model while table 1 is selected.
  const uint8_t* pRecodeTable = DeviceRecodeTable(1);
  // ---- end of information records ----

  // ---- Settings, options and the receipt template: owned by the driver front (src/driver) ----
  // Texts are in the driver's 8-bit code page (Windows-1251). Numbered lines and payment means
  // 1..8 are kept at index n - 1.
  char szOperatorPassword[7] = "472913";  // operator password the printer accepted last (6 chars)
  char szClerkName[65] = "\xCA\xE0\xF1\xF1\xE8\xF0";  // "Кассир": setting "Cashier"
  char szAddressSiteInspections[261] = {};   // setting "AddressSiteInspections"
  char aszPaymentMeanName[8][15] = {};        // settings "PaymentMean1".."PaymentMean8", 14 chars
  uint8_t bCenterCliche = 0;                  // centre header and footer lines (device flag 4.6)
  uint8_t bEnablePercent = 1;                 // print the tax rate in percent (device flag 3.0)
  uint8_t abFlagImage[23][8] = {};            // wanted bits of device flags 1..22, one byte a bit
  char aszHeaderText[8][60] = {};             // header lines, at most 42 characters used
  char aszFooterText[8][60] = {};             // footer lines, at most nLineWidth characters used
  uint8_t abHeaderBold[8] = {};
  uint8_t abHeaderHeight[8] = {};
  uint8_t abFooterBold[8] = {};
  uint8_t abFooterHeight[8] = {};
  // ---- end of settings ----

  // ---- Device bring-up and access: owned by device/bringup ----
  int32_t nVersionCode = 0;            // model number in the high byte, sub-step in the low; 0 unknown
  int32_t nMaxItemNameLength = 158;    // longest item name the model accepts
  int32_t nMaxExtraLineLength = 36;    // longest extra text line the model accepts
  uint8_t nFnFfdVersion = 0;           // format version the fiscal drive reports (1 = 1.0, 2 = 1.05)
  // [0]: POS number still to be programmed (-1 when none); [1..16]: clerk secrets, -1 = unknown.
  int32_t anClerkSecrets[17] = {1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
  uint8_t bAutoClerkSecrets = 1;       // bring-up checks the clerk secrets while a shift is open
  uint8_t bClerkLoggedOn = 0;          // a clerk was programmed (and so logged on) by the driver
  uint8_t bDeviceOpen = 0;             // the host has the device open: from Open's bring-up to Close
  // ---- end of bring-up ----

  // ---- Fiscal drive: owned by the fiscal-drive commands ----
  uint8_t nFdTaxSystems = 0;           // bit n: tax system n (0..5) registered in the fiscal drive
  FdStatusRecord FdStatus;             // the last status answer
  uint8_t nFdWarningFlags = 0;         // warning flags of the last status decoded; kept on failures
  FdExchangeRecord FdExchange;         // the last exchange status
  // Bit 0x10: the printer echoes reprinted lines in 61-byte chunks instead of 47. No setting of the
  // printer is known to switch it, so the driver never sets it.
  uint8_t nFpEchoFlags = 0;
  // ---- end of fiscal drive ----

  // ---- Receipt commands: owned by device/receipt_commands ----
  // Order header: keep a zero order number, first and second number as zeros rather than blanks.
  int32_t anKeepZeroExtra[3] = {};
  // ---- end of receipt commands ----

  // ---- Registration data of the fiscal drive: owned by device/reg_data ----
  // Texts in Windows-1251, NUL-terminated; each is replaced by the answer to its query.
  char szFnRegDateTime[20] = {};  // "YYYY-MM-DDThh:mm:00"; empty when the printer's date was invalid
  char szFnUserInn[13] = {};
  char szFnKktRegNumber[21] = {};
  uint8_t nFnTaxSystems = 0;  // bit n: tax system n (0..5)
  uint8_t nFnWorkModes = 0;   // bits 0..5: encryption, offline, automatic, service, BSO, internet
  uint8_t nFnRegExtra = 0;
  uint32_t nFnRegDocNumber = 0;
  char szFnRegDocNumber[11] = {};
  uint32_t nFnRegFiscalSign = 0;
  char szFnRegFiscalSign[11] = {};
  char nRegTextSelector = '\xFF';     // selector "0".."6" of the pending text query, 0xFF when none
  char szOfdInn[13] = {};             // selector "0"
  char szRegText1[13] = {};           // selector "1"
  char szPlaceSettle[257] = {};       // selector "2"
  char szSenderEmail[65] = {};        // selector "3"
  char szOfdName[257] = {};           // selector "4"
  char szOrganizationName[257] = {};  // selector "5"
  char szAddressSettle[257] = {};     // selector "6"
  char szRegTagText[257] = {};        // the tag asked for by GetRegDataMinusInfo
  char szAutomatNumber[13] = {};
  // ---- end of registration data ----

  // Time source of every pause the device functions make.
  plat::Clock* pClock = &plat::SystemClock();

  // Serialises the host's calls and the relay thread on the port (re-entrant, like a critical section).
  std::recursive_mutex csDevice;
};
