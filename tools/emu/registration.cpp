#include "emu/registration.h"

#include "emu/command_table.h"
#include "emu/fiscal_drive.h"
#include "emu/printer_state.h"
#include "emu/programming.h"
#include "emu/receipt.h"
#include "emu/reports.h"
#include "ffd/ffd.h"

namespace emu {
namespace {

constexpr uint8_t kErrorNoPassword = 41;
constexpr int kPlaceDescriptor = 47;

// "PM": the access code, the operator password, the user's and the OFD's taxpayer numbers, the
// register's number, the automatic device's number, the tax systems and work modes ('0' + their
// bits) and, for a change, its reason.
const char kAccessCode[] = "407913";
constexpr size_t kPasswordAt = 8;
constexpr size_t kUserInnAt = 14;
constexpr size_t kRegNumberAt = 26;
constexpr size_t kOfdInnAt = 46;
constexpr size_t kAutomatAt = 58;
constexpr size_t kTaxAt = 78;
constexpr size_t kModesAt = 79;
constexpr size_t kRegisterLength = 80;
constexpr uint8_t kAllTaxSystems = 0x3F;
constexpr uint8_t kAllModes = 0x3F;
constexpr uint8_t kModeAutomatic = 0x04;

// Tags of the registration attributes.
constexpr int kTagAddress = 1009;
constexpr int kTagOfdName = 1046;
constexpr int kTagUserName = 1048;
constexpr int kTagAgentSigns = 1057;
constexpr int kTagFnsWebSite = 1060;
constexpr int kTagSenderEmail = 1117;
constexpr int kTagLottery = 1126;
constexpr int kTagGambling = 1193;
constexpr int kTagExcisable = 1207;
constexpr int kTagPrinterAutomatic = 1221;

bool IsByteTag(int tag) {
  return tag == kTagAgentSigns || tag == kTagLottery || tag == kTagGambling || tag == kTagExcisable ||
         tag == kTagPrinterAutomatic;
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string Field(const std::string& text, size_t at, size_t width) {
  return Trim(text.substr(at, width));
}

std::string Pending(const Registration& r, int tag) {
  const auto it = r.pending.find(tag);
  return it == r.pending.end() ? std::string() : it->second;
}

// A byte attribute's value, 0 when it was not given.
uint8_t PendingByte(const Registration& r, int tag) {
  const std::string value = Pending(r, tag);
  return value.empty() ? 0 : static_cast<uint8_t>(value[0]);
}

// "Sum" alone starts a new set of attributes; "Sum0", a tag reference and its value adds one.
Reply Attribute(PrinterState& s, const std::string& text) {
  Registration& r = s.registration;
  if (text == "Sum") {
    r.pending.clear();
    return Reply::Accept();
  }
  if (text.size() < 7 || text[3] != '0' || !IsTagByte(static_cast<uint8_t>(text[4]))) {
    return Reply::Refuse(kErrorBadParameter);
  }
  const int tag = TagNumber(static_cast<uint8_t>(text[4]), static_cast<uint8_t>(text[5]));
  const std::string value = text.substr(6);
  r.pending[tag] = IsByteTag(tag) ? NibbleBytes(value) : TextFromDevice(value);
  return Reply::Accept();
}

// The texts and signs of the attributes the registration was given.
void TakeAttributes(PrinterState& s) {
  Registration& r = s.registration;
  r.organizationName = Pending(r, kTagUserName);
  r.addressSettle = Pending(r, kTagAddress);
  r.ofdName = Pending(r, kTagOfdName);
  r.fnsWebSite = Pending(r, kTagFnsWebSite);
  r.senderEmail = Pending(r, kTagSenderEmail);
  r.agentSigns = PendingByte(r, kTagAgentSigns);
  r.activityFlags =
      static_cast<uint8_t>((PendingByte(r, kTagExcisable) ? 1 : 0) | (PendingByte(r, kTagGambling) ? 2 : 0) |
                           (PendingByte(r, kTagLottery) ? 4 : 0));
  r.printerInAutomat = PendingByte(r, kTagPrinterAutomatic) != 0;
  const auto place = s.programmed.descriptors.find(kPlaceDescriptor);
  r.placeSettle = place == s.programmed.descriptors.end() ? std::string() : place->second;
  r.pending.clear();
}

// The work modes' bits and their tags.
constexpr struct {
  uint8_t bit;
  uint16_t tag;
} kModeTags[] = {{0x01, ffd::tag::kEncryption},    {0x02, ffd::tag::kOfflineMode},
                 {0x04, ffd::tag::kAutomaticMode}, {0x08, ffd::tag::kServiceSign},
                 {0x10, ffd::tag::kBsoSign},       {0x20, ffd::tag::kInternet}};

// The activity flags' bits, and the printer-in-automat sign, with their tags: written when set.
constexpr struct {
  uint8_t bit;
  uint16_t tag;
} kActivityTags[] = {{0x01, ffd::tag::kExcisable}, {0x02, ffd::tag::kGambling}, {0x04, ffd::tag::kLottery}};

// The registration's own tags: the tax systems, work modes, the operator, the register's serial
// number and versions, the optional texts and signs, the cashier and, for a change, its reasons.
Bytes RegistrationTlv(const PrinterState& s, bool change, uint32_t reasons) {
  const Registration& r = s.registration;
  ffd::TlvWriter w;
  w.U8(ffd::tag::kTaxSystems, s.fd.taxSystems);
  for (const auto& m : kModeTags) w.U8(m.tag, (r.workModes & m.bit) ? 1 : 0);
  if ((r.workModes & kModeAutomatic) != 0) w.String(ffd::tag::kAutomatNumber, r.automatNumber);
  w.String(ffd::tag::kOfdInn, r.ofdTaxpayerNumber)
      .String(ffd::tag::kOfdName, ffd::Cp866FromUtf8(r.ofdName))
      .String(ffd::tag::kSerialNumber, s.serialNumber);
  if (!r.fnsWebSite.empty()) w.String(ffd::tag::kFnsWebSite, ffd::Cp866FromUtf8(r.fnsWebSite));
  if (!r.senderEmail.empty()) w.String(ffd::tag::kSenderEmail, ffd::Cp866FromUtf8(r.senderEmail));
  if (r.agentSigns != 0) w.U8(ffd::tag::kAgentSigns, r.agentSigns);
  for (const auto& a : kActivityTags) {
    if ((r.activityFlags & a.bit) != 0) w.U8(a.tag, 1);
  }
  if (r.printerInAutomat) w.U8(ffd::tag::kPrinterInAutomat, 1);
  AppendRegisterVersion(s, &w);
  w.U8(ffd::tag::kDriveFfdVersion, s.fdFfdVersion);
  AppendCashier(&w, TextFromDevice(s.clerks[1].name), s.clerks[1].taxpayerNumber);
  if (change) w.U32(ffd::tag::kChangeReasons, reasons);
  return w.bytes();
}

// "PM": registers a drive that is ready for it, or changes the registration of a registered one.
Reply Register(PrinterState& s, const std::string& text) {
  if (text.size() != kRegisterLength && text.size() != kRegisterLength + 1)
    return Reply::Refuse(kErrorBadParameter);
  if (text.compare(2, 6, kAccessCode) != 0 || Field(text, kPasswordAt, 6) != s.operatorPassword) {
    return Reply::Refuse(kErrorNoPassword);
  }
  const uint8_t taxes = static_cast<uint8_t>(text[kTaxAt] - '0');
  const uint8_t modes = static_cast<uint8_t>(text[kModesAt] - '0');
  const std::string automat = Field(text, kAutomatAt, 20);
  const bool valid = taxes != 0 && taxes <= kAllTaxSystems && modes <= kAllModes &&
                     !Field(text, kUserInnAt, 12).empty() && !Field(text, kRegNumberAt, 20).empty();
  if (!valid || ((modes & kModeAutomatic) && automat.empty())) return Reply::Refuse(kErrorBadParameter);
  if (s.shiftOpen) return Reply::Refuse(kErrorShiftOpen);
  FiscalDrive& fd = s.fd;
  if (fd.lifePhase != kPhaseReady && fd.lifePhase != kPhaseFiscal)
    return Reply::Refuse(kErrorDriveState, kFiscalError);
  const bool change = fd.lifePhase == kPhaseFiscal;
  s.taxpayerNumber = Field(text, kUserInnAt, 12);
  s.registrationNumber = Field(text, kRegNumberAt, 20);
  Registration& r = s.registration;
  r.ofdTaxpayerNumber = Field(text, kOfdInnAt, 12);
  r.automatNumber = automat;
  r.workModes = modes;
  fd.taxSystems = taxes;
  TakeAttributes(s);
  // The reason of a change, a digit after the modes, becomes its bit among the reasons.
  const char reason = text.size() > kRegisterLength ? text[kRegisterLength] : '0';
  const uint32_t reasons = reason > '0' && reason <= '9' ? 1u << (reason - '1') : 0;
  const FdSigned d = AddDocument(&s, change ? ffd::kReregistration : ffd::kRegistration,
                                 RegistrationTlv(s, change, reasons));
  r.dateTime = s.now;
  r.documentNumber = d.number;
  r.fiscalSign = d.fiscalSign;
  fd.lifePhase = kPhaseFiscal;
  s.fiscal = true;
  s.tape.push_back({change ? "ОТЧЕТ ОБ ИЗМЕНЕНИИ ПАРАМЕТРОВ РЕГИСТРАЦИИ" : "ОТЧЕТ О РЕГИСТРАЦИИ"});
  PrintSigned(&s, d);
  return Reply::Accept();
}

// "BFS" and the cashier's name: the drive signs its closing document and takes no more.
Reply CloseDrive(PrinterState& s, const std::string& text) {
  const std::string cashier = Trim(TextFromDevice(text.substr(3)));
  if (cashier.empty()) return Reply::Refuse(kErrorBadParameter);
  if (s.shiftOpen) return Reply::Refuse(kErrorShiftOpen);
  if (s.fd.lifePhase != kPhaseFiscal) return Reply::Refuse(kErrorDriveState, kFiscalError);
  ffd::TlvWriter w;
  AppendCashier(&w, cashier, CashierTaxpayerNumber(s));
  const FdSigned d = AddDocument(&s, ffd::kDriveClosing, w.bytes());
  s.fd.lifePhase = kPhaseClosed;
  s.tape.push_back({"ОТЧЕТ О ЗАКРЫТИИ ФН"});
  PrintSigned(&s, d);
  return Reply::Accept();
}

}  // namespace

void MakeUnregistered(PrinterState* s) {
  s->fiscal = false;
  s->fd.lifePhase = kPhaseReady;
  s->fd.documents.clear();
  s->fd.lastDocumentNumber = 0;
  s->taxpayerNumber.clear();
  s->registrationNumber.clear();
  Registration& r = s->registration;
  r = Registration{};
  r.dateTime = 0;
  r.workModes = 0;
  r.documentNumber = 0;
  r.fiscalSign = 0;
  for (std::string* text : {&r.ofdTaxpayerNumber, &r.placeSettle, &r.senderEmail, &r.ofdName,
                            &r.organizationName, &r.addressSettle, &r.fnsWebSite}) {
    text->clear();
  }
}

void AddRegistrationCommands(CommandTable* table) {
  table->Add("Sum", Attribute);
  table->Add("PM", Register);
  table->Add("BFS", CloseDrive);
}

}  // namespace emu
