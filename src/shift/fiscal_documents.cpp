#include "shift/fiscal_documents.h"

#include <tinyxml.h>

#include <cstdio>
#include <cstring>
#include <optional>

#include "device/info_records.h"
#include "device/reg_data.h"
#include "device/text_field.h"
#include "platform/codepage.h"
#include "receipts/check_package.h"

namespace {

constexpr int32_t kCodeBadRegistrationData = 128;
constexpr int32_t kCodeNoCashier = 46;
constexpr size_t kVatinShort = 10;
constexpr size_t kVatinLong = 12;
constexpr int kLastTaxSystem = 5;
constexpr int kLastAgentSign = 6;
constexpr int kLastReason = 32;
constexpr int kFnsWebSiteTag = 1060;

constexpr const char kTableTemplate[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><Parameters></Parameters>";

// ---- ParametersFiscal ----

// Whether an attribute must be given: never, for a registration or a change, or always.
enum class Need { kOptional, kRegistration, kAlways };

// Reads the attributes of "Parameters" in their order; the first refusal is the one reported.
class RegistrationReader {
 public:
  RegistrationReader(const TiXmlElement* parameters, bool strict, std::string* error)
      : m_parameters(parameters), m_strict(strict), m_error(error) {}

  int32_t Result() const { return m_result; }

  // A text cut to its field.
  template <size_t N>
  void Text(const char* name, char (&field)[N], Need need) {
    const std::optional<std::string> text = Take(name);
    if (text) CopyText(field, text->c_str());
    if ((!text || text->empty()) && Required(need)) Missing(name, " missing or empty");
  }

  // A taxpayer number, blank-padded to 12, taken only with 10 or 12 characters.
  void Vatin(const char* name, char (&field)[13], Need need) {
    const std::optional<std::string> text = Take(name);
    const bool valid = text && (text->size() == kVatinShort || text->size() == kVatinLong);
    if (valid) std::snprintf(field, sizeof field, "%-12.12s", text->c_str());
    if (!valid && Required(need)) Missing(name, " missing, error or empty");
  }

  void Flag(const char* name, uint8_t* flag) {
    const std::optional<std::string> text = Take(name);
    *flag = text && *text == "true";
  }

  // The bits of the digits "0".."last" found anywhere in the text.
  std::optional<uint32_t> DigitBits(const char* name, int last) {
    const std::optional<std::string> text = Take(name);
    if (!text || text->empty()) return std::nullopt;
    uint32_t bits = 0;
    for (char c : *text) {
      if (c >= '0' && c <= '0' + last) bits |= 1u << (c - '0');
    }
    return bits;
  }

  void TaxVariant(char* taxSystem) {
    const std::optional<uint32_t> bits = DigitBits("TaxVariant", kLastTaxSystem);
    if (!bits) {
      if (Required(Need::kRegistration)) Missing("TaxVariant", " missing, error or empty");
    } else if (*bits == 0) {
      Fail(kCodeBadRegistrationData, "TaxVariant: incorrect data");
    } else {
      *taxSystem = static_cast<char>('0' + *bits);
    }
  }

  // A comma-separated list of the numbers 1..32, each setting bit number - 1.
  void Reasons(uint32_t* mask) {
    const std::optional<std::string> text = Take("InfoChangesReasonsCodes");
    if (!text || text->empty()) return;
    uint32_t bits = 0;
    bool valid = text->find_first_not_of("0123456789,") == std::string::npos;
    size_t start = 0;
    while (valid && start <= text->size()) {
      size_t end = text->find(',', start);
      if (end == std::string::npos) end = text->size();
      const std::string number = text->substr(start, end - start);
      const int k = number.empty() || number.size() > 2 ? -1 : std::atoi(number.c_str());
      if (!number.empty()) valid = k >= 1 && k <= kLastReason;
      if (valid && !number.empty()) bits |= 1u << (k - 1);
      start = end + 1;
    }
    if (!valid || bits == 0) {
      Fail(kCodeBadRegistrationData, "InfoChangesReasonsCodes: incorrect data");
      return;
    }
    *mask = bits;
  }

  void Fail(int32_t code, const std::string& message) {
    if (m_result != 0) return;
    m_result = code;
    *m_error = message;
  }

 private:
  std::optional<std::string> Take(const char* name) { return GetXmlAttr(m_parameters, name); }
  bool Required(Need need) const {
    return need == Need::kAlways || (need == Need::kRegistration && m_strict);
  }

  void Missing(const char* name, const char* what) {
    const int32_t code = std::strcmp(name, "CashierName") == 0 ? kCodeNoCashier : kCodeBadRegistrationData;
    Fail(code, std::string("Tag \"Parameters\"->\"") + name + "\"" + what);
  }

  const TiXmlElement* m_parameters;
  bool m_strict;
  std::string* m_error;
  int32_t m_result = 0;
};

// ---- TableParametersKKT ----

// Sets the attributes of the table's root and logs each one.
class TableWriter {
 public:
  TableWriter(FPContext* ctx, const char* logName, TiXmlElement* root)
      : m_ctx(ctx), m_logName(logName), m_root(root) {}

  // A value in the driver's code page.
  void Set(const char* name, const std::string& value) {
    m_root->SetAttribute(name, plat::Cp1251ToUtf8(value).c_str());
    if (!m_ctx->pfnLogMessageH) return;
    char text[320];
    std::snprintf(text, sizeof text, "%s = %s", name, value.c_str());
    m_ctx->pfnLogMessageH(m_ctx, m_logName, text);
  }
  void SetFlag(const char* name, bool value) { Set(name, value ? "true" : "false"); }

 private:
  FPContext* m_ctx;
  const char* m_logName;
  TiXmlElement* m_root;
};

// A field of the S1 record up to its first blank.
std::string S1Word(const FPContext* ctx, S1Field field) {
  char text[32];
  S1Text(ctx, field, text, sizeof text);
  return std::string(text, std::strcspn(text, " "));
}

// The numbers 0..last whose bits are set, as "0,3".
std::string BitList(uint32_t bits, int last) {
  std::string list;
  for (int n = 0; n <= last; ++n) {
    if (!(bits >> n & 1)) continue;
    if (!list.empty()) list += ',';
    list += static_cast<char>('0' + n);
  }
  return list;
}

const char* FfdVersionOfDrive(const FPContext* ctx) {
  switch (ctx->nFnFfdVersion) {
    case 1:
      return "1.0";
    case 2:
      return "1.0.5";
  }
  return "1.1";
}

void AddIdentity(FPContext* ctx, TableWriter* table) {
  char vatin[13];
  S1Text(ctx, S1Field::kTaxpayer, vatin, sizeof vatin);
  table->Set("VATIN", vatin);
  table->Set("KKTNumber", S1Word(ctx, S1Field::kRegistration));
  table->Set("KKTSerialNumber", S1Word(ctx, S1Field::kSerial));
  const char* drive = ctx->FdStatus.szFdNumber;
  table->Set("FNSerialNumber", std::string(drive, std::strcspn(drive, " ")));
  table->Set("FFDVersionFN", FfdVersionOfDrive(ctx));
  table->Set("FFDVersionKKT", ctx->nContextKind == 1 ? "1.0" : "1.0.5");
  table->SetFlag("Fiscal", (ctx->status[0] & 0x60) == 0x60);
}

// A registration text by its selector, when the printer gave it.
void AddRegText(FPContext* ctx, TableWriter* table, char selector, const char* name, const char* field) {
  if (GetRegData2AInfo(ctx, selector) == 0) table->Set(name, field);
}

void AddWorkModes(FPContext* ctx, TableWriter* table) {
  if (GetRegData(ctx, false) != 0) return;
  table->Set("TaxVariant", BitList(ctx->nFnTaxSystems, kLastTaxSystem));
  static const char* const kModes[] = {"DataEncryption", "OfflineMode", "AutomaticMode",
                                       "ServiceSign",    "BSOSing",     "CalcOnlineSign"};
  for (int bit = 0; bit < 6; ++bit) {
    const bool set = ctx->nFnWorkModes >> bit & 1;
    table->SetFlag(kModes[bit], set);
    // The host asks for the printer's own automatic mode under a name of its own.
    if (bit == 2 && set) table->SetFlag("PrinterAutomatic", true);
  }
}

void AddActivity(FPContext* ctx, TableWriter* table) {
  if (GetRegSBraceFlags(ctx) != 0) return;
  table->SetFlag("SaleExcisableGoods", ctx->nActivityFlags & 1);
  table->SetFlag("SignOfGambling", ctx->nActivityFlags & 2);
  table->SetFlag("SignOfLottery", ctx->nActivityFlags & 4);
  if (ctx->nAgentSigns != 0) table->Set("SignOfAgent", BitList(ctx->nAgentSigns, kLastAgentSign));
}

void AddRegistration(FPContext* ctx, TableWriter* table) {
  AddRegText(ctx, table, '5', "OrganizationName", ctx->szOrganizationName);
  AddRegText(ctx, table, '6', "AddressSettle", ctx->szAddressSettle);
  if (GetRegData(ctx, true) == 0) {
    table->Set("DateTime", ctx->szFnRegDateTime);
    table->Set("DocumentNumber", ctx->szFnRegDocNumber);
  }
  AddWorkModes(ctx, table);
  AddActivity(ctx, table);
  if (GetAutomatNum(ctx) == 0) table->Set("AutomaticNumber", ctx->szAutomatNumber);
  AddRegText(ctx, table, '0', "OFDVATIN", ctx->szOfdInn);
  AddRegText(ctx, table, '2', "PlaceSettle", ctx->szPlaceSettle);
  AddRegText(ctx, table, '3', "SenderEmail", ctx->szSenderEmail);
  AddRegText(ctx, table, '4', "OFDOrganizationName", ctx->szOfdName);
  if (GetRegDataMinusInfo(ctx, kFnsWebSiteTag) == 0) table->Set("FNSWebSite", ctx->szRegTagText);
}

}  // namespace

int32_t ParseRegistrationData(FPContext*, const TiXmlDocument* document, FnRegistrationData* data,
                              std::string* error, bool strict) {
  std::string ignored;
  if (!error) error = &ignored;
  if (!document || !data) {
    *error = "Registration data can not be processed";
    return kCodeBadRegistrationData;
  }
  if (document->Error()) {
    char text[512];
    std::snprintf(text, sizeof text, "Error in tag \"%s\" of registration data XML: %s", document->Value(),
                  document->ErrorDesc());
    *error = text;
    return kCodeBadRegistrationData;
  }
  const TiXmlElement* root = document->RootElement();
  if (!root || std::strcmp(root->Value(), "Parameters") != 0) {
    *error = "Registration data failure. Registration canceled";
    return kCodeBadRegistrationData;
  }
  RegistrationReader r(root, strict, error);
  r.Text("CashierName", data->szCashierName, Need::kAlways);
  r.Vatin("CashierVATIN", data->szCashierVatin, Need::kOptional);
  r.Text("KKTNumber", data->szKktNumber, Need::kRegistration);
  r.Text("OrganizationName", data->szOrganizationName, Need::kRegistration);
  r.Vatin("VATIN", data->szVatin, Need::kRegistration);
  r.Text("AddressSettle", data->szAddressSettle, Need::kRegistration);
  r.Text("PlaceSettle", data->szPlaceSettle, Need::kRegistration);
  r.TaxVariant(&data->cTaxSystem);
  r.Flag("OfflineMode", &data->bOfflineMode);
  r.Flag("DataEncryption", &data->bDataEncryption);
  r.Flag("ServiceSign", &data->bServiceSign);
  r.Flag("SaleExcisableGoods", &data->bExcisableGoods);
  r.Flag("SignOfGambling", &data->bGambling);
  r.Flag("SignOfLottery", &data->bLottery);
  r.Flag("BSOSing", &data->bBsoSing);
  r.Flag("CalcOnlineSign", &data->bCalcOnline);
  r.Flag("PrinterAutomatic", &data->bPrinterAutomatic);
  r.Flag("AutomaticMode", &data->bAutomaticMode);
  data->nAgentSigns = static_cast<uint8_t>(r.DigitBits("SignOfAgent", kLastAgentSign).value_or(0));
  r.Text("AutomaticNumber", data->szAutomatNumber, Need::kOptional);
  r.Text("ReasonCode", data->szReasonCode, Need::kOptional);
  r.Reasons(&data->nReasonsMask);
  r.Text("OFDOrganizationName", data->szOfdName, Need::kRegistration);
  r.Vatin("OFDVATIN", data->szOfdVatin, Need::kRegistration);
  r.Text("FNSWebSite", data->szFnsWebSite, Need::kOptional);
  r.Text("SenderEmail", data->szSenderEmail, Need::kOptional);
  return r.Result();
}

std::string BuildTableParametersKKT(FPContext* ctx, const char* logName) {
  TiXmlDocument document;
  document.Parse(kTableTemplate, nullptr, TIXML_ENCODING_UTF8);
  TiXmlElement* root = document.RootElement();
  if (document.Error() || !root) return {};
  TableWriter table(ctx, logName, root);
  AddIdentity(ctx, &table);
  AddRegistration(ctx, &table);
  TiXmlPrinter printer;
  document.Accept(&printer);
  return printer.Str();
}
