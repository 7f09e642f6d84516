// The driver's settings: the table the host shows (GetParameters) and the values it hands back
// (SetParameter), stored where the rest of the driver reads them, programmed into the printer where
// they live there, and mirrored into the settings store.
#include <cstdio>
#include <cstring>
#include <string>

#include "device/link.h"
#include "device/programming.h"
#include "device/result_codes.h"
#include "device/status.h"
#include "driver/com_text.h"
#include "driver/mirel_driver.h"
#include "driver/settings_mirror.h"
#include "driver/settings_table.h"
#include "log/log.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/serial.h"
#include "device/text_field.h"

namespace {

constexpr int32_t kCodeSpeed = 117;       // "Ошибка установки параметров COM-порта"
constexpr int32_t kCodeFdoPort = 118;     // "Ошибка установки IP-порта сервера ОФД"
constexpr int32_t kCodeLogFolder = 119;   // "Каталог протокола драйвера не существует"
constexpr int32_t kCodeShiftOpen = 124;   // "Смена открыта"

constexpr int kDeviceOptPort = 1;
constexpr int kDeviceOptSpeed = 101;
constexpr int kDriverOptLog = 1;

constexpr size_t kMaxPaymentMean = 14;
constexpr size_t kMaxHeaderText = 42;
constexpr size_t kMaxCashier = 64;
constexpr size_t kMaxAddress = 260;
constexpr size_t kMaxLogPath = 259;
constexpr size_t kMaxPassword = 6;
constexpr int kMaxIpPort = 65535;
constexpr int kDefaultLifeTime = 7;
constexpr int kMaxLifeTime = 30;

// Flag bits that settings keep in the flag image (programmed at Open) or set at once.
constexpr int kDepartmentFlag = 7;
constexpr int kDepartmentBit = 1;
constexpr int kSmallFontFlag = 21;
constexpr int kSmallFontBit = 4;

// The context kind of the first firmware generation, which takes payment-mean names.
constexpr int kContextKindPaymentMeans = 1;

// Copies at most `limit` characters of text into a fixed field.
template <size_t N>
void CopyField(char (&field)[N], const std::string& text, size_t limit) {
  CopyText(field, text.c_str(), limit);
}

bool IsDigits(const std::string& text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// Whether a second-status poll answers with an open shift. Without an answer the stored status is
// an old one and says nothing.
bool ShiftReportedOpen(FPContext* ctx) {
  return GetStatus2(ctx) == kAnswerStatus2 && (ctx->status2[0] & st::kShiftOpen) != 0;
}

// ShiftReportedOpen, logged as its own step.
bool IsSessionOpened(FPContext* ctx) {
  const bool open = ShiftReportedOpen(ctx);
  if (ctx->pfnLogMessageH) ctx->pfnLogMessageH(ctx, "IsSessionOpened", open ? "Session is opened" : "Session is closed");
  return open;
}

// The checks the three printer-side settings share: port open, shift closed. 0 when they pass.
int32_t CheckPrinterReady(FPContext* ctx, const char* name) {
  if (ctx->nComPort == 0) return ctx->nLastResult = kResultNoDevice;
  if (ShiftReportedOpen(ctx)) {
    if (ctx->pfnLogMessageH) ctx->pfnLogMessageH(ctx, name, "Session is opened");
    return ctx->nLastResult = kCodeShiftOpen;
  }
  return kResultOk;
}

// A line's number and text on the high-level log.
void LogNumberAndValue(FPContext* ctx, const char* name, int number, const char* text) {
  if (!ctx->pfnLogMessageH) return;
  ctx->pfnLogMessageH(ctx, name, ("Number = " + std::to_string(number)).c_str());
  ctx->pfnLogMessageH(ctx, name, (std::string("Value = ") + text).c_str());
}

// The printer-side settings (payment-mean names, header and footer lines): a text longer than
// `maxLength` is refused with 13, then the port must be open and the shift closed; `program` sends
// it. True exactly when every step gave 0.
template <typename Program>
bool ProgramSetting(FPContext* ctx, const char* name, int number, const char* text, size_t maxLength, Program program) {
  if (!text) text = "";
  if (ctx->pfnLogEnterH) ctx->pfnLogEnterH(ctx, name);
  int32_t r = std::strlen(text) > maxLength ? (ctx->nLastResult = kCodeWrongValue) : CheckPrinterReady(ctx, name);
  if (r == kResultOk) {
    LogNumberAndValue(ctx, name, number, text);
    r = program(text);
  }
  if (ctx->pfnLogReturnH) ctx->pfnLogReturnH(ctx, name, r == kResultOk ? "1" : "0");
  return r == kResultOk;
}

}  // namespace

// ---- GetParameters -----------------------------------------------------------------------------

bool CMirelDriver::GetParameters(BSTR* pbstrTableParameters) {
  if (!pbstrTableParameters) return false;
  LogEnterH("GetParameters");
  const bool paymentMeans = m_pDevice->nContextKind == kContextKindPaymentMeans;
  *pbstrTableParameters = Utf8ToBstr(BuildSettingsTable(plat::SerialPortNumbers(), paymentMeans).c_str());
  LogReturnH("GetParameters", "1");
  return true;
}

// ---- The printer-side settings -----------------------------------------------------------------

bool CMirelDriver::SetPaymentMeanName(int nNumber, const char* szName) {
  return ProgramSetting(m_pDevice.get(), "SetPaymentMeanName", nNumber, szName, kMaxPaymentMean,
                        [&](const char* name) { return SetPaymentMean(m_pDevice.get(), nNumber, 0, name); });
}

bool CMirelDriver::SetHeaderString(int nNumber, const char* szText) {
  return ProgramSetting(m_pDevice.get(), "SetHeaderString", nNumber, szText, m_pDevice->nLineWidth,
                        [&](const char* text) { return SetOrderHeader(nNumber, text, false); });
}

bool CMirelDriver::SetFooterString(int nNumber, const char* szText) {
  return ProgramSetting(m_pDevice.get(), "SetFooterString", nNumber, szText, m_pDevice->nLineWidth,
                        [&](const char* text) { return SetFooterRow(m_pDevice.get(), nNumber, 0, text); });
}

// ---- SetParameter ------------------------------------------------------------------------------

// A setting's value as its kind reads it: text from a VT_BSTR only, numbers and booleans by their
// VARIANT type (a boolean is any non-zero number or True).
struct SettingValue {
  std::string text;
  LONG number = 0;
  bool flag = false;
};

enum class SettingKind { kText, kNumber, kBool };

struct SettingHandlers {
  using Handler = bool (*)(CMirelDriver& d, const SettingValue& v, int n);
  struct Setting {
    const char* name;  // '#' stands for a line or payment-mean number 1..8
    SettingKind kind;
    Handler handle;
  };
  static const Setting kSettings[];

  static FPContext* Ctx(CMirelDriver& d) { return d.m_pDevice.get(); }
  static bool Fail(CMirelDriver& d, int32_t code) {
    Ctx(d)->nLastResult = code;
    return false;
  }

  static bool Port(CMirelDriver& d, const SettingValue& v, int) {
    d.SetDeviceOpt(kDeviceOptPort, v.number);
    MirrorNumber(Ctx(d), mirror::kComPort, static_cast<uint32_t>(d.m_nComPort));
    return true;
  }

  // A non-zero result is a failure: the printer's refusal as its code, a port that could not be
  // closed or reopened as 117.
  static bool Speed(CMirelDriver& d, const SettingValue& v, int) {
    const LONG r = d.SetDeviceOpt(kDeviceOptSpeed, v.number);
    if (r == kResultOk) return true;
    return Fail(d, r < 0 ? kCodeSpeed : r);
  }

  static bool AddressFdo(CMirelDriver& d, const SettingValue& v, int) {
    if (v.text.size() > kMaxAddress) return Fail(d, kCodeWrongValue);
    CopyField(Ctx(d)->szFdoAddress, v.text, kMaxAddress);
    MirrorText(Ctx(d), mirror::kFdoAddress, Ctx(d)->szFdoAddress);
    return true;
  }

  // Ports outside 1..65535 mean no server: stored as 0 and refused.
  static bool PortFdo(CMirelDriver& d, const SettingValue& v, int) {
    Ctx(d)->nFdoPort = (v.number >= 1 && v.number <= kMaxIpPort) ? v.number : 0;
    if (Ctx(d)->nFdoPort == 0) return Fail(d, kCodeFdoPort);
    MirrorNumber(Ctx(d), mirror::kFdoPort, static_cast<uint32_t>(Ctx(d)->nFdoPort));
    return true;
  }

  // The log directory and the daily choice come back from the store unless the host has set them
  // since the last Open. The driver option then opens or closes the files and records the switch.
  static bool LogEnabled(CMirelDriver& d, const SettingValue& v, int) {
    FPContext* ctx = Ctx(d);
    d.m_bLogEnabledSet = 1;
    MirrorNumber(ctx, mirror::kEnableLog, v.flag ? 1 : 0);
    std::string path;
    if (!d.m_bPathLogSet && ReadMirroredText(ctx, mirror::kLogPath, &path)) CopyField(ctx->szLogPath, path, kMaxLogPath);
    uint32_t daily = 0;
    if (!d.m_bDailyLogSet && ReadMirroredNumber(ctx, mirror::kEnableDailyLog, &daily)) {
      d.m_bDailyLogEnabled = daily != 0;
      ctx->bDailyLog = daily != 0;
    }
    d.SetDriverOpt(kDriverOptLog, v.flag ? 1 : 0);
    return true;
  }

  static bool DailyLogEnabled(CMirelDriver& d, const SettingValue& v, int) {
    FPContext* ctx = Ctx(d);
    d.m_bDailyLogSet = 1;
    d.m_bDailyLogEnabled = v.flag;
    MirrorNumber(ctx, mirror::kEnableDailyLog, v.flag ? 1 : 0);
    ctx->bDailyLog = v.flag;
    // Open files belong to the other mode: reopen them in the new one.
    if (d.m_bLogEnabled) {
      CloseLogs(ctx);
      OpenLogs(ctx);
    }
    return true;
  }

  static bool DailyLogLifeTime(CMirelDriver& d, const SettingValue& v, int) {
    Ctx(d)->nDailyLogLifeTime = (v.number >= 1 && v.number <= kMaxLifeTime) ? v.number : kDefaultLifeTime;
    MirrorNumber(Ctx(d), mirror::kDailyLogLifeTime, static_cast<uint32_t>(Ctx(d)->nDailyLogLifeTime));
    return true;
  }

  // A path too long for the field is refused whole: a cut path would name another directory.
  static bool PathLog(CMirelDriver& d, const SettingValue& v, int) {
    FPContext* ctx = Ctx(d);
    d.m_bPathLogSet = 1;
    if (v.text.size() > kMaxLogPath) return Fail(d, kCodeWrongValue);
    CopyField(ctx->szLogPath, v.text, kMaxLogPath);
    std::string dir = v.text;
    if (!dir.empty() && dir.back() == plat::PathSeparator()) dir.pop_back();
    if (!plat::MakeDirectory(dir)) {
      ctx->szLogPath[0] = '\0';
      return Fail(d, kCodeLogFolder);
    }
    MirrorText(ctx, mirror::kLogPath, ctx->szLogPath);
    return true;
  }

  static bool Password(CMirelDriver& d, const SettingValue& v, int) {
    if (v.text.empty() || v.text.size() > kMaxPassword || !IsDigits(v.text)) return Fail(d, kResultBadPassword);
    d.SetAccessKey(v.text.c_str());
    MirrorText(Ctx(d), mirror::kPassword, Ctx(d)->szOperatorPassword);
    return true;
  }

  static bool Cashier(CMirelDriver& d, const SettingValue& v, int) {
    CopyField(Ctx(d)->szClerkName, v.text, kMaxCashier);
    CopyField(d.m_szClerkName, v.text, kMaxCashier);
    MirrorText(Ctx(d), mirror::kCashier, Ctx(d)->szClerkName);
    return true;
  }

  static bool AddressSiteInspections(CMirelDriver& d, const SettingValue& v, int) {
    if (v.text.size() > kMaxAddress) return Fail(d, kCodeWrongValue);
    CopyField(Ctx(d)->szAddressSiteInspections, v.text, kMaxAddress);
    return true;
  }

  // The name is kept (cut to 14 characters) even when the printer cannot take it now: Open
  // programs it later. Payment mean 4 is not reprogrammed in an open shift, without a code.
  static bool PaymentMean(CMirelDriver& d, const SettingValue& v, int n) {
    CopyField(Ctx(d)->aszPaymentMeanName[n - 1], v.text, kMaxPaymentMean);
    if (n == 4 && IsSessionOpened(Ctx(d))) return false;
    return d.SetPaymentMeanName(n, v.text.c_str());
  }

  static bool PrintDepartment(CMirelDriver& d, const SettingValue& v, int) {
    Ctx(d)->abFlagImage[kDepartmentFlag][kDepartmentBit] = v.flag;
    if (IsSessionOpened(Ctx(d))) return false;
    const LONG r = v.flag ? d.SetDeviceFlagBit(kDepartmentBit, kDepartmentFlag)
                          : d.ClearDeviceFlagBit(kDepartmentBit, kDepartmentFlag);
    return r == kResultOk;
  }

  static bool SmallFont(CMirelDriver& d, const SettingValue& v, int) {
    Ctx(d)->abFlagImage[kSmallFontFlag][kSmallFontBit] = v.flag;
    return true;
  }

  static bool HeaderString(CMirelDriver& d, const SettingValue& v, int n) {
    CopyField(Ctx(d)->aszHeaderText[n - 1], v.text, kMaxHeaderText);
    return d.SetHeaderString(n, v.text.c_str());
  }

  // The whole line is kept, not only what fits the width known now: before the printer is
  // recognised the width is a guess, and the template cuts each line to the real one when it
  // programs it.
  static bool FooterString(CMirelDriver& d, const SettingValue& v, int n) {
    const std::string name = "FooterString" + std::to_string(n);
    d.LogMessageH(name.c_str(), v.text.c_str());
    CopyField(Ctx(d)->aszFooterText[n - 1], v.text, sizeof Ctx(d)->aszFooterText[0] - 1);
    return d.SetFooterString(n, v.text.c_str());
  }

  static bool EquipmentType(CMirelDriver& d, const SettingValue& v, int) {
    if (v.text == "KKT") return true;
    d.LogMessageH("Name", "Unknown value");
    return Fail(d, kCodeWrongValue);
  }

  static bool HeaderBold(CMirelDriver& d, const SettingValue& v, int n) { return Store(Ctx(d)->abHeaderBold[n - 1], v); }
  static bool FooterBold(CMirelDriver& d, const SettingValue& v, int n) { return Store(Ctx(d)->abFooterBold[n - 1], v); }
  static bool HeaderHeight(CMirelDriver& d, const SettingValue& v, int n) {
    return Store(Ctx(d)->abHeaderHeight[n - 1], v);
  }
  static bool FooterHeight(CMirelDriver& d, const SettingValue& v, int n) {
    return Store(Ctx(d)->abFooterHeight[n - 1], v);
  }
  static bool CenterCliche(CMirelDriver& d, const SettingValue& v, int) { return Store(Ctx(d)->bCenterCliche, v); }
  static bool EnablePercent(CMirelDriver& d, const SettingValue& v, int) { return Store(Ctx(d)->bEnablePercent, v); }
  static bool Store(uint8_t& field, const SettingValue& v) {
    field = v.flag;
    return true;
  }
};

// In the order names are compared; the first match decides.
const SettingHandlers::Setting SettingHandlers::kSettings[] = {
    {"Port", SettingKind::kNumber, Port},
    {"Speed", SettingKind::kNumber, Speed},
    {"AddressFDO", SettingKind::kText, AddressFdo},
    {"PortFDO", SettingKind::kNumber, PortFdo},
    {"LogEnabled", SettingKind::kBool, LogEnabled},
    {"DailyLogEnabled", SettingKind::kBool, DailyLogEnabled},
    {"DailyLogLifeTime", SettingKind::kNumber, DailyLogLifeTime},
    {"PathLog", SettingKind::kText, PathLog},
    {"Password", SettingKind::kText, Password},
    {"Cashier", SettingKind::kText, Cashier},
    {"AddressSiteInspections", SettingKind::kText, AddressSiteInspections},
    {"PaymentMean#", SettingKind::kText, PaymentMean},
    {"PrintDepartment", SettingKind::kBool, PrintDepartment},
    {"SmallFont", SettingKind::kBool, SmallFont},
    {"HeaderString#", SettingKind::kText, HeaderString},
    {"FooterString#", SettingKind::kText, FooterString},
    {"EquipmentType", SettingKind::kText, EquipmentType},
    {"Bold#c", SettingKind::kBool, HeaderBold},
    {"Bold#b", SettingKind::kBool, FooterBold},
    {"Height#c", SettingKind::kBool, HeaderHeight},
    {"Height#b", SettingKind::kBool, FooterHeight},
    {"CenterCliche", SettingKind::kBool, CenterCliche},
    {"EnablePercent", SettingKind::kBool, EnablePercent},
};

namespace {

// Whether `name` is the pattern, exactly and case-sensitively; a '#' takes one digit 1..8 into *n.
bool MatchesSetting(const char* pattern, const char* name, int* n) {
  *n = 0;
  for (; *pattern; ++pattern, ++name) {
    if (*pattern == '#') {
      if (*name < '1' || *name > '8') return false;
      *n = *name - '0';
    } else if (*pattern != *name) {
      return false;
    }
  }
  return *name == '\0';
}

// Reads the VARIANT as the setting's kind needs it; false when it holds no such value.
bool ReadSettingValue(const VARIANT& value, SettingKind kind, SettingValue* out) {
  switch (kind) {
    case SettingKind::kText:
      if (value.vt != VT_BSTR) return false;
      out->text = BstrToCp1251(value.bstrVal);
      return true;
    case SettingKind::kNumber:
      return VariantToInt32(value, &out->number);
    case SettingKind::kBool:
      if (!VariantToInt32(value, &out->number)) return false;
      out->flag = out->number != 0;
      return true;
  }
  return false;
}

// The value and its kind on the high-level log: texts, whole numbers and booleans; other types
// are not logged.
void LogSettingValue(FPContext* ctx, const VARIANT& value) {
  static const std::string kText = plat::Utf8ToCp1251("строка");
  static const std::string kNumber = plat::Utf8ToCp1251("число");
  static const std::string kBoolean = plat::Utf8ToCp1251("булево");
  if (!ctx->pfnLogMessageH) return;
  std::string text;
  const std::string* kind = nullptr;
  switch (value.vt) {
    case VT_BSTR:
      text = BstrToCp1251(value.bstrVal);
      kind = &kText;
      break;
    case VT_BOOL: text = value.boolVal ? "true" : "false"; kind = &kBoolean; break;
    case VT_I2: text = std::to_string(value.iVal); kind = &kNumber; break;
    case VT_I4: text = std::to_string(value.lVal); kind = &kNumber; break;
    case VT_UI2: text = std::to_string(value.uiVal); kind = &kNumber; break;
    // The 64-bit and unsigned 32-bit types are logged by their low 32 bits, as the value is used.
    case VT_UI4: text = std::to_string(static_cast<int32_t>(value.ulVal)); kind = &kNumber; break;
    case VT_I8: text = std::to_string(static_cast<int32_t>(value.llVal)); kind = &kNumber; break;
    case VT_UI8: text = std::to_string(static_cast<int32_t>(value.ullVal)); kind = &kNumber; break;
    default: return;
  }
  ctx->pfnLogMessageH(ctx, "Value", text.c_str());
  ctx->pfnLogMessageH(ctx, "Type", kind->c_str());
}

}  // namespace

bool CMirelDriver::SetParameter(const char* szName, const VARIANT& value) {
  static const char kName[] = "SetParameter";
  const char* name = szName ? szName : "";
  LogEnterH(kName);
  LogMessageH("Parameter", name);
  LogSettingValue(m_pDevice.get(), value);
  bool accepted = false;
  bool known = false;
  for (const SettingHandlers::Setting& s : SettingHandlers::kSettings) {
    int n = 0;
    if (!MatchesSetting(s.name, name, &n)) continue;
    known = true;
    SettingValue v;
    if (!ReadSettingValue(value, s.kind, &v)) {
      LogMessageH("Value", "Wrong value type");
      m_pDevice->nLastResult = kCodeWrongValue;
    } else {
      accepted = s.handle(*this, v, n);
    }
    break;
  }
  if (!known) {
    LogMessageH("Name", "Unknown parameter");
    m_pDevice->nLastResult = kCodeWrongValue;
  }
  LogReturnH(kName, accepted ? "1" : "0");
  return accepted;
}
