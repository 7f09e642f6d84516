// Driver and device options: the driver log switch and its size limits, the port number and speed,
// the access password, the single bits of the printer's flags, and the printer's clock.
#include <cstdio>
#include <string>

#include "device/programming.h"
#include "device/result_codes.h"
#include "device/serial_port.h"
#include "device/status.h"
#include "driver/mirel_driver.h"
#include "log/log.h"

namespace {

constexpr int kDriverOptLog = 1;
constexpr int kDriverOptLogMaxSize = 2;
constexpr int kDriverOptLogTrimSize = 3;
constexpr int kDriverOptLast = 22;

constexpr int kDeviceOptPort = 1;
constexpr int kDeviceOptSpeed = 101;
constexpr int kDeviceOptNothing = 1000;

constexpr int kLastSpeedCode = 6;
// After a speed change that timed out on the printers of version 6.1, the printer has switched
// already and needs this long before it listens at the new speed.
constexpr uint32_t kSpeedSwitchPauseMs = 300;


// Device option numbers up to 101 that have no meaning at all: refused as unknown. The others of
// 2..67 belong to older printer families and are not offered by this driver.
bool IsUnknownDeviceOption(int nOpt) {
  return nOpt < 1 || nOpt > kDeviceOptNothing || nOpt == 46 || nOpt == 52 || nOpt == 61 ||
         (nOpt >= 68 && nOpt < kDeviceOptSpeed) || (nOpt > kDeviceOptSpeed && nOpt < kDeviceOptNothing);
}

// Switches the printer and then the port to speed code `code`. The printer is asked first: when it
// refuses, the port and the stored speed stay as they were. A code the port could not open is
// refused before anything is sent, so the printer is never left at a speed the link cannot follow.
LONG ChangeSpeed(FPContext* ctx, int nComPort, int32_t* pnSpeed, int code) {
  if (code < 0 || code > kLastSpeedCode) return kCodeWrongValue;
  if (!ctx->hComPort) {
    *pnSpeed = code;
    return kResultOk;
  }
  LONG r = SetBaudRate(ctx, code);
  // The 6.1 printers switch before they answer, so the answer is lost to a time-out.
  const bool answerLost = r == -kLinkSendTimeout || r == -kLinkReceiveTimeout;
  if (ctx->nVersionMajor == 6 && ctx->nVersionMinor == 1 && answerLost) {
    ctx->pClock->SleepMs(kSpeedSwitchPauseMs);
    r = kResultOk;
  }
  if (r != kResultOk) return r;
  *pnSpeed = code;
  r = CloseSerial(ctx);
  return r == kLinkOk ? OpenSerial2(ctx, nComPort, code) : r;
}

}  // namespace

LONG CMirelDriver::SetDriverOpt(int nOpt, int nVal) {
  static const char kName[] = "SetDriverOpt";
  LogEnterH(kName);
  LogMessageH(kName, ("nOpt = " + std::to_string(nOpt)).c_str());
  LogMessageH(kName, ("nVal = " + std::to_string(nVal)).c_str());
  FPContext* ctx = m_pDevice.get();
  LONG result = kResultOk;
  switch (nOpt) {
    case kDriverOptLog:
      if (nVal != 0 && nVal != 1) {
        result = kCodeWrongValue;
        break;
      }
      if (nVal == 1) {
        SetLogMode(ctx, kLogAll, 1);
        OpenLogs(ctx);
        // The first lines of a freshly opened log say which driver wrote it.
        LogEnterH(kName);
        LogMessageH(kName, kVersionBanner);
      } else if (m_bLogEnabled) {
        CloseLogs(ctx);
      }
      m_bLogEnabled = nVal;
      break;
    case kDriverOptLogMaxSize:
      if (nVal < ctx->nLogTrimSize) {
        result = kCodeWrongValue;
      } else {
        ctx->nLogMaxSize = nVal;
      }
      break;
    case kDriverOptLogTrimSize:
      if (nVal < 0 || nVal > ctx->nLogMaxSize) {
        result = kCodeWrongValue;
      } else {
        ctx->nLogTrimSize = nVal;
      }
      break;
    default:
      // 4..22 are the markers of the older document interface, which this driver does not carry.
      result = kResultNotSupported;
      break;
  }
  LogReturnH(kName, std::to_string(result).c_str());
  return result;
}

LONG CMirelDriver::SetDeviceOpt(int nOpt, int nVal) {
  static const char kName[] = "SetDeviceOpt";
  LogEnterH(kName);
  LogMessageH(kName, ("nOpt = " + std::to_string(nOpt)).c_str());
  LogMessageH(kName, ("nVal = " + std::to_string(nVal)).c_str());
  LONG result = kResultOk;
  if (nOpt == kDeviceOptPort) {
    // The open port is not touched: the number applies at the next Open.
    m_nComPort = nVal;
  } else if (nOpt == kDeviceOptSpeed) {
    result = ChangeSpeed(m_pDevice.get(), m_nComPort, &m_nSpeed, nVal);
  } else if (IsUnknownDeviceOption(nOpt)) {
    LogMessageH(kName, "Unknown option type!!!");
    result = kCodeWrongValue;
  } else if (nOpt != kDeviceOptNothing) {
    result = kResultNotSupported;
  }
  LogReturnH(kName, std::to_string(result).c_str());
  return result;
}

LONG CMirelDriver::SetAccessKey(const char* szKey) {
  LogEnterH("SetAccessKey");
  // The printer compares six characters: a shorter key is padded with blanks.
  std::snprintf(m_szPassword, sizeof m_szPassword, "%-6.6s", szKey ? szKey : "");
  std::snprintf(m_pDevice->szOperatorPassword, sizeof m_pDevice->szOperatorPassword, "%-6.6s", m_szPassword);
  LogReturnH("SetAccessKey", "0");
  return kResultOk;
}

LONG CMirelDriver::GetDeviceFlagBit(int bit, int flag, bool* pbSet) {
  if (!IsDeviceFlagBit(bit, flag)) return m_pDevice->nLastResult = kCodeWrongValue;
  const LONG read = EnsureDeviceFlags(m_pDevice.get());
  if (read != kResultOk) return read;
  *pbSet = (m_pDevice->abDeviceFlags[flag] >> bit & 1) != 0;
  return kResultOk;
}

LONG CMirelDriver::SetDeviceFlagBit(int bit, int flag) {
  if (m_pDevice->nComPort == 0) return m_pDevice->nLastResult = kResultNoDevice;
  return SetFlagBitFP(m_pDevice.get(), bit, flag);
}

LONG CMirelDriver::ClearDeviceFlagBit(int bit, int flag) {
  if (m_pDevice->nComPort == 0) return m_pDevice->nLastResult = kResultNoDevice;
  return ClearFlagBitFP(m_pDevice.get(), bit, flag);
}

namespace {

// SetDate and SetTime: the clock command's arguments, its result and, on failure, the reason, on
// the high-level log.
LONG ClockCommand(FPContext* ctx, const char* name, const char* arguments, int32_t (*command)(FPContext*, int, int, int),
                  const int (&values)[3]) {
  if (ctx->pfnLogEnterH) ctx->pfnLogEnterH(ctx, name);
  if (ctx->pfnLogMessageH) ctx->pfnLogMessageH(ctx, name, arguments);
  const LONG r = command(ctx, values[0], values[1], values[2]);
  if (r != kResultOk && ctx->pfnLogMessageH) ctx->pfnLogMessageH(ctx, name, DriverErrorText(r));
  if (ctx->pfnLogReturnH) ctx->pfnLogReturnH(ctx, name, std::to_string(r).c_str());
  return r;
}

}  // namespace

LONG CMirelDriver::SetDate(int day, int month, int year) {
  char text[96];
  std::snprintf(text, sizeof text, "day = %d, month = %d, year = %d", day, month, year);
  return ClockCommand(m_pDevice.get(), "SetDate", text, ProgramDate, {day, month, year});
}

LONG CMirelDriver::SetTime(int hour, int minute, int second) {
  char text[96];
  std::snprintf(text, sizeof text, "hour = %d, minute = %d, second = %d", hour, minute, second);
  return ClockCommand(m_pDevice.get(), "SetTime", text, ProgramTime, {hour, minute, second});
}
