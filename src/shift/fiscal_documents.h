// The two documents of the register's fiscal data: the TableParametersKKT the driver returns (the
// register's numbers, the format versions and the registration as the printer keeps it) and the
// ParametersFiscal the host gives for a registration, a change of its parameters or the closing
// of the fiscal drive.
#pragma once

#include <cstdint>
#include <string>

#include "device/fp_context.h"

class TiXmlDocument;

// A ParametersFiscal package as the driver sends it on. Texts are in the driver's code page, cut
// to their fields; the taxpayer numbers are 12 characters, blank-padded.
struct FnRegistrationData {
  char szCashierName[65] = {};
  char szCashierVatin[13] = {};
  char szKktNumber[21] = {};
  char szOrganizationName[257] = {};
  char szVatin[13] = {};
  char szAddressSettle[257] = {};
  char szPlaceSettle[257] = {};
  char szAutomatNumber[21] = {};
  char szReasonCode[2] = {};
  char szOfdName[257] = {};
  char szOfdVatin[13] = {};
  char szFnsWebSite[257] = {};
  char szSenderEmail[65] = {};
  char cTaxSystem = 0;      // '0' + the mask of tax systems 0..5; 0 when none was given
  uint8_t nAgentSigns = 0;  // bit n: agent sign n (0..6)
  uint8_t bOfflineMode = 0;
  uint8_t bDataEncryption = 0;
  uint8_t bServiceSign = 0;
  uint8_t bExcisableGoods = 0;
  uint8_t bGambling = 0;
  uint8_t bLottery = 0;
  uint8_t bBsoSing = 0;     // strict-reporting forms
  uint8_t bCalcOnline = 0;  // settlements over the internet only
  uint8_t bPrinterAutomatic = 0;
  uint8_t bAutomaticMode = 0;
  uint32_t nReasonsMask = 0;  // bit k - 1: reason of change k (1..32)
};

// Reads the "Parameters" root of a parsed ParametersFiscal into `data`. `strict` (registration and
// change) requires the registration's attributes; otherwise only the cashier is required. 0, or
// the result code (46 for a missing cashier, else 128) with the reason in `error`.
int32_t ParseRegistrationData(FPContext* ctx, const TiXmlDocument* document, FnRegistrationData* data,
                              std::string* error, bool strict);

// Builds the TableParametersKKT document (UTF-8, as printed by TinyXML) from the S1 record, the
// status and the fiscal drive's status already read, asking the printer for each part of the
// registration data just before its attributes; a part that cannot be read is left out. Every
// attribute written is logged under `logName` in the high-level log.
std::string BuildTableParametersKKT(FPContext* ctx, const char* logName);
