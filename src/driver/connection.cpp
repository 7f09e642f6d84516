// Device connection: Open brings the printer up with the settings, applies the settings that live
// in the printer, starts the OFD relay and hands out the device identifier; Close ends the host's
// use of the identifier; InitDevice and DeinitDevice open and release the port.
#include <cstdio>
#include <cstring>
#include <string>

#include "device/bringup.h"
#include "device/fiscal_drive.h"
#include "device/info_queries.h"
#include "device/link.h"
#include "device/programming.h"
#include "device/receipt_commands.h"
#include "device/result_codes.h"
#include "device/status.h"
#include "driver/com_text.h"
#include "driver/mirel_driver.h"
#include "log/log.h"
#include "ofd/fd_client.h"

namespace {

constexpr int32_t kSupportedMajor = 11;
constexpr int32_t kSupportedMinor = 1;
// The printer of major version 6 prints its lines in the small font.
constexpr int32_t kSmallFontMajor = 6;
constexpr int kAddressSiteInspectionsAttribute = 18;
constexpr int32_t kSupportedItemNameLength = 64;
constexpr int kWideLineWidth = 56;
constexpr int kNarrowLineWidth = 42;

// Device flags and bits the settings put into the printer.
constexpr int kFlagShiftPrinting = 5;
constexpr int kShiftPrintingValue = 0x80;
constexpr int kFlagDepartment = 7, kBitDepartment = 1;
constexpr int kFlagSmallFont = 21, kBitSmallFont = 4;
constexpr int kFlagCliche = 4, kBitCenterCliche = 6;
constexpr int kFlagTaxPrinting = 3, kBitPercent = 0, kBitSiteInspections = 4;

bool ShiftClosed(const FPContext* ctx) {
  return (ctx->status2[0] & st::kShiftOpen) == 0;
}

// A bit of a device flag set or cleared by a device-level flag function; the result is the
// printer's business and goes to nLastResult only.
void PutFlagBitFP(FPContext* ctx, int bit, int flag, bool set) {
  if (set) {
    SetFlagBitFP(ctx, bit, flag);
  } else {
    ClearFlagBitFP(ctx, bit, flag);
  }
}

}  // namespace

bool CMirelDriver::IsSupportedModel() const {
  return m_pDevice->nVersionMajor == kSupportedMajor && m_pDevice->nVersionMinor == kSupportedMinor;
}

void CMirelDriver::SwitchLogOn() {
  if (!m_bLogEnabled) return;
  SetLogMode(m_pDevice.get(), kLogAll, 1);
  OpenLogs(m_pDevice.get());
}

void CMirelDriver::SetDeviceOpen(bool open) {
  m_pDevice->bDeviceOpen = open ? 1 : 0;
  // Older models give the shorter "S1" record while the host has them open.
  m_pDevice->bS1ShortForm = open && !IsSupportedModel() ? 1 : 0;
}

// The identifier is the tick count in decimal, made later than the last one handed out when two
// Opens fall in the same tick, so that an identifier of an earlier Open is never accepted again.
void CMirelDriver::NewDeviceID() {
  uint32_t tick = m_pDevice->pClock->TickMs();
  if (m_bDeviceIDIssued && static_cast<int32_t>(tick - m_nLastDeviceIDTick) <= 0)
    tick = m_nLastDeviceIDTick + 1;
  m_nLastDeviceIDTick = tick;
  m_bDeviceIDIssued = true;
  std::snprintf(m_strOdinSDeviceID, sizeof m_strOdinSDeviceID, "%d", static_cast<int32_t>(tick));
}

// Sets or clears a bit of a device flag after the add-in setting's image, and says which.
void CMirelDriver::ApplyFlagSetting(const char* name, int bit, int flag) {
  const bool on = m_pDevice->abFlagImage[flag][bit] != 0;
  if (on) {
    SetDeviceFlagBit(bit, flag);
  } else {
    ClearDeviceFlagBit(bit, flag);
  }
  LogMessageH(name, on ? "TRUE" : "FALSE");
}

LONG CMirelDriver::InitDevice() {
  FPContext* ctx = m_pDevice.get();
  if (m_bLogEnabled) {
    SwitchLogOn();
    LogMessageH("InitDevice", kVersionBanner);
  }
  LogEnterH("InitDevice");
  LONG r = kResultOk;
  if (m_szPassword[0] == '\0') {
    r = kResultNoPassword;
  } else if (m_nComPort == 0) {
    r = kResultNoPort;
  }
  if (r != kResultOk) {
    LogReturnH("InitDevice", std::to_string(r).c_str());
    return r;
  }
  r = InitFP2(ctx, m_nComPort, m_szPassword, m_nSpeed, nullptr);
  if (r == kResultOk || r == kCodeZ1Required) GetBasicS31Info(ctx);
  // The version record keeps "SV" in front of the banner.
  LogMessageH("InitDevice", ctx->infoSV[0] != '\0' ? ctx->infoSV + 2 : "");
  LogMessageH("InitDevice", ("Device major version: " + std::to_string(ctx->nVersionMajor)).c_str());
  LogMessageH("InitDevice", ("Device minor version: " + std::to_string(ctx->nVersionMinor)).c_str());
  m_szClerkName[0] = '\0';
  if (r != kResultOk) LogMessageH("InitDevice", DriverErrorText(r));
  if (ctx->nVersionMajor == kSmallFontMajor) r = SetDeviceFlagBit(kBitSmallFont, kFlagSmallFont);
  LogReturnH("InitDevice", std::to_string(r).c_str());
  return r;
}

LONG CMirelDriver::DeinitDevice() {
  LogEnterH("DeinitDevice");
  const LONG r = DeinitFP(m_pDevice.get());
  m_szClerkName[0] = '\0';
  if (r == kResultOk) {
    std::memset(m_strOdinSDeviceID, 0, sizeof m_strOdinSDeviceID);
  } else {
    LogMessageH("DeinitDevice", DriverErrorText(r));
  }
  LogReturnH("DeinitDevice", std::to_string(r).c_str());
  return r;
}

bool CMirelDriver::Open(BSTR* pbstrDeviceID) {
  FPContext* ctx = m_pDevice.get();
  m_bLogEnabledSet = m_bDailyLogSet = m_bPathLogSet = 0;
  SwitchLogOn();
  LogEnterH("Open");
  LogMessageH("DriverPath", "");
  std::memset(m_strOdinSDeviceID, 0, sizeof m_strOdinSDeviceID);
  std::memset(ctx->infoSV, 0, sizeof ctx->infoSV);
  ctx->nVersionMajor = ctx->nVersionMinor = ctx->nDeviceError = 0;

  ctx->nLastResult = InitDevice();
  // A printer that waits for its Z1 report is opened all the same.
  if (ctx->nLastResult != kResultOk && ctx->nLastResult != kCodeZ1Required) {
    if (pbstrDeviceID) *pbstrDeviceID = Cp1251ToBstr("");
    LogReturnH("Open", "0");
    return false;
  }
  SetDeviceOpen(true);
  NewDeviceID();
  const int status = GetStatus2(ctx);
  if (status != kAnswerStatus2) {
    ctx->nLastResult = MapLinkResult(ctx, status);
    LogReturnH("Open", "0");
    return false;
  }
  if (ShiftClosed(ctx)) {
    ProgramFlag(ctx, kFlagShiftPrinting, kShiftPrintingValue);
    ApplyFlagSetting("PrintDepartment", kBitDepartment, kFlagDepartment);
  }
  if (IsSupportedModel()) ApplySupportedModelSettings();
  if (pbstrDeviceID) *pbstrDeviceID = Cp1251ToBstr(m_strOdinSDeviceID);
  LogReturnH("Open", "1");
  return true;
}

// What Open puts into the supported model besides the bring-up, and the relay it starts. Each step
// leaves its own code in nLastResult; none changes Open's result.
void CMirelDriver::ApplySupportedModelSettings() {
  FPContext* ctx = m_pDevice.get();
  if (ReadInfoSF0000(ctx) == 0) {
    LogMessageH("OdinS_Open", ("FP subversion: " + std::to_string(ctx->nFpSubversion)).c_str());
  }
  LogMessageH("OdinS_Open", ("FFD version: " + std::to_string(ctx->nContextKind)).c_str());
  LogMessageH("OdinS_Open", ("FN FFD version: " + std::to_string(ctx->nFnFfdVersion)).c_str());
  ApplyFlagSetting("SmallFont", kBitSmallFont, kFlagSmallFont);
  bool smallFont = false;
  if (GetDeviceFlagBit(kBitSmallFont, kFlagSmallFont, &smallFont) == kResultOk) {
    ctx->nLineWidth = smallFont ? kWideLineWidth : kNarrowLineWidth;
  }
  for (int n = 1; n <= 8; ++n) SetPaymentMeanName(n, ctx->aszPaymentMeanName[n - 1]);
  PutFlagBitFP(ctx, kBitCenterCliche, kFlagCliche, ctx->bCenterCliche != 0);
  if (GetStatus2(ctx) == kAnswerStatus2) {
    if (ShiftClosed(ctx)) {
      SetTemplateCheck();
    } else {
      LogMessageH("OdinS_Open", "Session is opened");
    }
  }
  PutFlagBitFP(ctx, kBitPercent, kFlagTaxPrinting, ctx->bEnablePercent != 0);
  GetTaxVariant(ctx);
  ctx->nMaxItemNameLength = kSupportedItemNameLength;
  // An empty address sends nothing: the attribute command only notes the missing text.
  PutFlagBitFP(ctx, kBitSiteInspections, kFlagTaxPrinting, ctx->szAddressSiteInspections[0] != '\0');
  SetTextAttribute(ctx, kAddressSiteInspectionsAttribute, ctx->szAddressSiteInspections);
  StartRelay();
}

void CMirelDriver::StartRelay() {
  if (m_pFDClient) {
    LogMessageH("ChangeFD::Start", "Client of fiscal drive already starting");
    return;
  }
  m_pFDClient = std::make_unique<CFDClient>(m_pDevice.get());
  if (!m_pFDClient->HasFailed()) {
    m_pFDClient->Start();
    LogMessageH("ChangeFD", "FD-client started");
  }
  if (m_pFDClient->HasFailed()) m_pFDClient.reset();
}

void CMirelDriver::StopRelay() {
  if (!m_pFDClient) return;
  m_pFDClient->Stop();
  m_pFDClient.reset();
}

LONG CMirelDriver::ReleaseDevice() {
  StopRelay();
  return DeinitDevice();
}

bool CMirelDriver::Close(const char* szDeviceID) {
  LogEnterH("Close");
  // Without an identifier handed out there is nothing to close, whatever the host passes; the host
  // is told so with the code every other method gives for an identifier it does not know.
  if (szDeviceID == nullptr || m_strOdinSDeviceID[0] == '\0') {
    LogMessageH("OdinS_Close", "((!strDeviceID) || (!m_strOdinSDeviceID) return FALSE");
    m_pDevice->nLastResult = kResultNoDevice;
    LogReturnH("Close", "0");
    return false;
  }
  if (std::strcmp(szDeviceID, m_strOdinSDeviceID) != 0) {
    LogMessageH("OdinS_Close", "Attempt to disable an unknown device");
    m_pDevice->nLastResult = kResultNoDevice;
    LogReturnH("Close", "0");
    return false;
  }
  m_pDevice->nDeviceError = 0;
  SetDeviceOpen(false);
  LogMessageH("OdinS_Close", "Exit");
  const bool ok = m_pDevice->nLastResult == kResultOk;
  LogReturnH("Close", ok ? "1" : "0");
  return ok;
}
