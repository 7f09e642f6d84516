// The method and property tables of the component, and the name lookup the host uses.
#include "addin/method_table.h"

#include <array>

#include "platform/codepage.h"

namespace {

using K = ParamKind;

constexpr ParamInfo kDeviceID{K::kString, "DeviceID"};

constexpr MethodInfo kMethods[kMethodCount] = {
    {"GetLastError", "ПолучитьОшибку", ResultKind::kCode, 1, {{K::kOutString, "ErrorDescription"}}},
    {"GetVersion", "ПолучитьНомерВерсии", ResultKind::kText, 0, {}},
    {"Open", "Подключить", ResultKind::kSuccess, 1, {{K::kOutString, "DeviceID"}}},
    {"Close", "Отключить", ResultKind::kSuccess, 1, {kDeviceID}},
    {"CashInOutcome", "НапечататьЧекВнесенияВыемки", ResultKind::kSuccess, 3,
     {kDeviceID, {K::kString, "InputParameters"}, {K::kNumber, "Amount"}}},
    {"OpenCashDrawer", "ОткрытьДенежныйЯщик", ResultKind::kSuccess, 1, {kDeviceID}},
    {"GetDataKKT", "ПолучитьПараметрыККТ", ResultKind::kSuccess, 2,
     {kDeviceID, {K::kOutString, "TableParametersKKT"}}},
    {"OperationFN", "ОперацияФН", ResultKind::kSuccess, 3,
     {kDeviceID, {K::kInteger, "OperationType"}, {K::kString, "ParametersFiscal"}}},
    {"OpenShift", "ОткрытьСмену", ResultKind::kSuccess, 5,
     {kDeviceID, {K::kString, "InputParameters"}, {K::kOutString, "OutputParameters"},
      {K::kOutInteger, "SessionNumber"}, {K::kOutInteger, "DocumentNumber"}}},
    {"CloseShift", "ЗакрытьСмену", ResultKind::kSuccess, 5,
     {kDeviceID, {K::kString, "InputParameters"}, {K::kOutString, "OutputParameters"},
      {K::kOutInteger, "SessionNumber"}, {K::kOutInteger, "DocumentNumber"}}},
    {"ProcessCheck", "СформироватьЧек", ResultKind::kSuccess, 7,
     {kDeviceID, {K::kInteger, "Electronically"}, {K::kString, "CheckPackage"},
      {K::kOutInteger, "CheckNumber"}, {K::kOutInteger, "SessionNumber"},
      {K::kOutString, "FiscalSign"}, {K::kOutString, "AddressSiteInspections"}}},
    {"ProcessCorrectionCheck", "СформироватьЧекКоррекции", ResultKind::kSuccess, 6,
     {kDeviceID, {K::kString, "CheckCorrectionPackage"}, {K::kOutInteger, "CheckNumber"},
      {K::kOutInteger, "SessionNumber"}, {K::kOutString, "FiscalSign"},
      {K::kOutString, "AddressSiteInspections"}}},
    {"PrintTextDocument", "НапечататьТекстовыйДокумент", ResultKind::kSuccess, 2,
     {kDeviceID, {K::kString, "DocumentPackage"}}},
    {"GetCurrentStatus", "ПолучитьТекущееСостояние", ResultKind::kSuccess, 5,
     {kDeviceID, {K::kOutInteger, "CheckNumber"}, {K::kOutInteger, "SessionNumber"},
      {K::kOutInteger, "SessionState"}, {K::kOutString, "StatusParameters"}}},
    {"ReportCurrentStatusOfSettlements", "ОтчетОТекущемСостоянииРасчетов", ResultKind::kSuccess, 3,
     {kDeviceID, {K::kString, "InputParameters"}, {K::kOutString, "OutputParameters"}}},
    {"GetLineLength", "ПолучитьШиринуСтроки", ResultKind::kSuccess, 2,
     {kDeviceID, {K::kOutInteger, "LineLength"}}},
    {"GetDescription", "ПолучитьОписание", ResultKind::kSuccess, 7,
     {{K::kOutString, "Name"}, {K::kOutString, "Description"}, {K::kOutString, "EquipmentType"},
      {K::kOutInteger, "InterfaceRevision"}, {K::kOutInteger, "IntegrationLibrary"},
      {K::kOutInteger, "MainDriverInstalled"}, {K::kOutString, "DownloadURL"}}},
    {"GetParameters", "ПолучитьПараметры", ResultKind::kSuccess, 1,
     {{K::kOutString, "TableParameters"}}},
    {"SetParameter", "УстановитьПараметр", ResultKind::kSuccess, 2,
     {{K::kString, "Name"}, {K::kVariant, "Value"}}},
    {"GetAdditionalActions", "ПолучитьДополнительныеДействия", ResultKind::kSuccess, 1,
     {{K::kOutString, "TableActions"}}},
    {"DoAdditionalAction", "ВыполнитьДополнительноеДействие", ResultKind::kSuccess, 1,
     {{K::kString, "ActionName"}}},
    {"DeviceTest", "ТестУстройства", ResultKind::kSuccess, 2,
     {{K::kOutString, "Description"}, {K::kOutString, "Reserved"}}},
    // The host offers no Russian name for SetLocale; the English one serves for both.
    {"SetLocale", "SetLocale", ResultKind::kSuccess, 1, {{K::kString, "Locale"}}},
    {"PrintXReport", "НапечататьОтчетБезГашения", ResultKind::kSuccess, 2,
     {kDeviceID, {K::kString, "InputParameters"}}},
};

constexpr const char* kProps[kPropCount][2] = {
    {"Port", "Порт"},
    {"Speed", "Скорость"},
    {"UserPassword", "ПарольПользователя"},
    {"AdminPassword", "ПарольАдминистратора"},
    {"Timeout", "Таймаут"},
};

// The names as the host passes and reads them (UTF-16), built once per process. Lookups compare
// in UTF-16: going through an 8-bit code page would turn every Cyrillic letter into '?' on a
// system whose code page has none, and make different Russian names of one length match.
struct HostNames {
  std::array<std::u16string, kMethodCount> methodEnglish, methodRussian;
  std::array<std::u16string, kPropCount> propEnglish, propRussian;
  std::array<std::string, kMethodCount> methodDisplay;  // 8-bit, for the log
};

const HostNames& Names() {
  static const HostNames names = [] {
    HostNames n;
    for (int i = 0; i < kMethodCount; ++i) {
      n.methodEnglish[i] = plat::Utf8ToUtf16(kMethods[i].english);
      n.methodRussian[i] = plat::Utf8ToUtf16(kMethods[i].russian);
      n.methodDisplay[i] =
          plat::Utf8ToCp1251(std::string(kMethods[i].english) + " (" + kMethods[i].russian + ")");
    }
    for (int i = 0; i < kPropCount; ++i) {
      n.propEnglish[i] = plat::Utf8ToUtf16(kProps[i][0]);
      n.propRussian[i] = plat::Utf8ToUtf16(kProps[i][1]);
    }
    return n;
  }();
  return names;
}

char16_t FoldLatin(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c; }

bool EqualsFoldingLatin(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldLatin(a[i]) != FoldLatin(b[i])) return false;
  }
  return true;
}

template <size_t N>
int FindIn(const std::array<std::u16string, N>& english, const std::array<std::u16string, N>& russian,
           std::u16string_view name) {
  for (size_t i = 0; i < N; ++i) {
    if (EqualsFoldingLatin(name, english[i]) || EqualsFoldingLatin(name, russian[i])) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

}  // namespace

const MethodInfo& MethodAt(int n) { return kMethods[n]; }

const std::u16string& MethodName(int n, bool russian) {
  return russian ? Names().methodRussian[n] : Names().methodEnglish[n];
}

const std::string& MethodDisplayName(int n) { return Names().methodDisplay[n]; }

const std::u16string& PropName(int n, bool russian) {
  return russian ? Names().propRussian[n] : Names().propEnglish[n];
}

int FindMethodNumber(std::u16string_view name) {
  return FindIn(Names().methodEnglish, Names().methodRussian, name);
}

int FindPropNumber(std::u16string_view name) {
  return FindIn(Names().propEnglish, Names().propRussian, name);
}
