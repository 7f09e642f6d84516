#include "emu/reports.h"

#include <cstdio>
#include <cstdlib>

#include "emu/fiscal_drive.h"
#include "emu/records.h"
#include "ffd/ffd.h"

namespace emu {
namespace {

using ffd::PutU32;

// Report texts: "I", the letter "а" or "б" of code page 1251, and the report's letter.
const char kX1[] = "I\xE0X";
const char kX2[] = "I\xE1X";
const char kZ1[] = "I\xE0Z";
const char kZ2[] = "I\xE1Z";

constexpr size_t kPasswordLength = 6;
constexpr size_t kUserInnLength = 12;
constexpr size_t kKktRegNumberLength = 20;
constexpr size_t kAutomatNumberLength = 12;
constexpr size_t kRegTextLength = 256;
// "Su-" and the tag's letter ("H" + tag number, modulo 256): the tax service's web site.
constexpr char kFnsWebSiteLetter = 'l';

// The opening and the closing of a shift: its number and cashier; the opening names the
// register's version, the closing counts the shift's documents and those still waiting.
FdSigned ShiftDocument(PrinterState* s, uint8_t type) {
  ffd::TlvWriter body;
  body.U32(ffd::tag::kShiftNumber, static_cast<uint32_t>(s->shiftNumber));
  AppendCashier(&body, CashierName(*s), CashierTaxpayerNumber(*s));
  if (type == ffd::kShiftOpening) {
    AppendRegisterVersion(*s, &body);
  } else {
    body.U32(ffd::tag::kShiftDocuments, s->fd.lastDocumentNumber + 1 - s->fd.shiftFirstDocument)
        .U32(ffd::tag::kShiftReceipts, static_cast<uint32_t>(s->documentCount));
    AppendUntransmitted(*s, false, &body);
  }
  return AddDocument(s, type, body.bytes());
}

// The counters of the shift, as the X and Z reports print them.
void PrintShiftCounters(PrinterState* s) {
  Print(s, "СМЕНА: " + std::to_string(s->shiftNumber));
  Print(s, "ЧЕКОВ ЗА СМЕНУ: " + std::to_string(s->documentCount));
  Print(s, "НАЛИЧНЫХ В КАССЕ: " + Money(s->shiftTotals[7]));
}

bool DocumentOpen(const PrinterState& s) {
  return s.receiptOpen || s.fiscalReceiptOpen || s.documentType != 0;
}

// The refusals every report shares: an open document, no paper.
bool CanReport(const PrinterState& s, Reply* refusal) {
  if (DocumentOpen(s)) {
    *refusal = Reply::Refuse(kErrorReportOpenDocument);
  } else if (s.paperEnd) {
    *refusal = Reply::Refuse(kErrorReportPaperEnd, 0);
  } else {
    return true;
  }
  return false;
}

Reply XReport(PrinterState& s, const std::string&) {
  Reply refusal;
  if (!CanReport(s, &refusal)) return refusal;
  Print(&s, "X-ОТЧЕТ");
  PrintShiftCounters(&s);
  return Reply::Accept();
}

Reply ZReport(PrinterState& s) {
  Reply refusal;
  if (!CanReport(s, &refusal)) return refusal;
  if (!s.shiftOpen) return Reply::Refuse(kErrorShiftClosed);
  EndShift(&s);
  return Reply::Accept();
}

Reply Z1Report(PrinterState& s, const std::string&) {
  return ZReport(s);
}

// The Z report under the access password, which "WFA" gave just before. With the shift closed
// it prints the counters of the last shift once more and signs nothing.
Reply Z2Report(PrinterState& s, const std::string&) {
  if (!s.passwordEntered) return Reply::Refuse(kErrorReportNoPassword);
  if (s.shiftOpen) return ZReport(s);
  Reply refusal;
  if (!CanReport(s, &refusal)) return refusal;
  Print(&s, "Z-ОТЧЕТ");
  PrintShiftCounters(&s);
  return Reply::Accept();
}

std::string TrimRight(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// "WFA" and the access password in six characters, blank-padded.
Reply AccessPassword(PrinterState& s, const std::string& text) {
  s.passwordEntered = text.size() == 3 + kPasswordLength && TrimRight(text.substr(3)) == s.operatorPassword;
  return s.passwordEntered ? Reply::Accept() : Reply::Refuse(kErrorReportNoPassword);
}

// "PALL" and the report's digit 0..2.
Reply AccumulatedReport(PrinterState& s, const std::string& text) {
  if (!s.passwordEntered) return Reply::Refuse(kErrorReportNoPassword);
  if (text.size() != 5 || text[4] < '0' || text[4] > '2') return Reply::Refuse(kErrorReportBadParameter);
  Reply refusal;
  if (!CanReport(s, &refusal)) return refusal;
  Print(&s, std::string("СВОДНЫЙ ОТЧЕТ ") + text[4]);
  return Reply::Accept();
}

Reply SettlementsReport(PrinterState& s, const std::string&) {
  Reply refusal;
  if (!CanReport(s, &refusal)) return refusal;
  const std::vector<const FdDocument*> backlog = Backlog(s);
  ffd::TlvWriter body;
  body.U32(ffd::tag::kShiftNumber, static_cast<uint32_t>(s.shiftNumber));
  AppendUntransmitted(s, true, &body);
  const FdSigned d = AddDocument(&s, ffd::kSettlementsReport, body.bytes());
  Print(&s, "ОТЧЕТ О СОСТОЯНИИ РАСЧЕТОВ");
  Print(&s, "НЕПЕРЕДАННЫХ ФД: " + std::to_string(backlog.size()));
  if (!backlog.empty()) Print(&s, "ПЕРВЫЙ НЕПЕРЕДАННЫЙ ФД: " + std::to_string(backlog.front()->number));
  PrintSigned(&s, d);
  return Reply::Accept();
}

void PrintCopy(PrinterState* s, const char* title, const FdDocument& d) {
  Print(s, title);
  PrintSigned(s, {d.number, d.fiscalSign});
}

// "R": the last document of the drive once more.
Reply Duplicate(PrinterState& s, const std::string&) {
  Reply refusal;
  if (!CanReport(s, &refusal)) return refusal;
  if (s.fd.documents.empty()) return Reply::Refuse(kErrorReportBadParameter);
  PrintCopy(&s, "ДУБЛИКАТ", s.fd.documents.back());
  return Reply::Accept();
}

// "E": the self-test. The printer checks its mechanism and prints a test page with its banner,
// serial number and the state of its fiscal drive.
Reply SelfTest(PrinterState& s, const std::string& text) {
  if (text != "E") return Reply::Accept();
  Reply refusal;
  if (!CanReport(s, &refusal)) return refusal;
  Print(&s, "САМОТЕСТИРОВАНИЕ");
  Print(&s, s.banner);
  Print(&s, "ЗАВ. N " + s.serialNumber);
  Print(&s, "ФН " + s.fdNumber);
  Print(&s, "ТЕСТ ПРОЙДЕН");
  return Reply::Accept();
}

// "SuV" and the document's number: four bytes as nibble characters, low byte first.
Reply DocumentCopy(PrinterState& s, const std::string& text) {
  if (text.size() != 11) return Reply::Refuse(kErrorReportBadParameter);
  uint32_t number = 0;
  for (int i = 3; i >= 0; --i) {
    const uint8_t hi = static_cast<uint8_t>(text[3 + 2 * i] - 0x30);
    const uint8_t lo = static_cast<uint8_t>(text[4 + 2 * i] - 0x30);
    if (hi > 0x0F || lo > 0x0F) return Reply::Refuse(kErrorReportBadParameter);
    number = number << 8 | static_cast<uint32_t>(hi << 4 | lo);
  }
  const FdDocument* d = FindDocument(s, number);
  if (!d) return Reply::Refuse(kErrorReportBadParameter);
  Reply refusal;
  if (!CanReport(s, &refusal)) return refusal;
  PrintCopy(&s, "КОПИЯ ДОКУМЕНТА", *d);
  return Reply::Accept();
}

// ---- Registration data ----

// A text of exactly `width` characters: cut, or padded with blanks.
void AppendPadded(Bytes* out, const std::string& text, size_t width) {
  std::string field = text.substr(0, width);
  field.resize(width, ' ');
  out->insert(out->end(), field.begin(), field.end());
}

// "Su#" (and "Su#1", the registration report's data): the drive's message with date and time,
// taxpayer and register numbers, tax systems, work modes, the registration document's number and
// fiscal sign.
Reply RegData(PrinterState& s, const std::string&) {
  // A drive never registered has no registration to tell of.
  if (s.fd.lifePhase == kPhaseReady) return MessageReply("Su#", kFdNoData);
  const Registration& r = s.registration;
  Bytes data;
  AppendDateTime(&data, r.dateTime, true);
  AppendPadded(&data, s.taxpayerNumber, kUserInnLength);
  AppendPadded(&data, s.registrationNumber, kKktRegNumberLength);
  data.insert(data.end(), {s.fd.taxSystems, r.workModes, r.extra});
  PutU32(&data, r.documentNumber);
  PutU32(&data, r.fiscalSign);
  return MessageReply("Su#", kFdOk, data);
}

Reply AutomatNumber(PrinterState& s, const std::string&) {
  return Reply::Data("Su>" + s.registration.automatNumber.substr(0, kAutomatNumberLength));
}

const std::string* RegText(const Registration& r, char selector) {
  const std::string* texts[] = {&r.ofdTaxpayerNumber, &r.text1,   &r.placeSettle,
                                &r.senderEmail,       &r.ofdName, &r.organizationName,
                                &r.addressSettle};
  return selector >= '0' && selector <= '6' ? texts[selector - '0'] : nullptr;
}

// "Su*" and the selector "0".."6": the text in the printer's character set.
Reply RegTextAnswer(PrinterState& s, const std::string& text) {
  const std::string* value = text.size() == 4 ? RegText(s.registration, text[3]) : nullptr;
  if (!value) return Reply::Refuse(kErrorReportBadParameter);
  Bytes out{'S', 'u', '*'};
  Bytes device = DeviceText(*value);
  if (device.size() > kRegTextLength) device.resize(kRegTextLength);
  out.insert(out.end(), device.begin(), device.end());
  return Reply::Data(std::string(out.begin(), out.end()));
}

// "Su-" and the tag's letter: the tag's text in the printer's character set, as nibble characters.
Reply RegTagText(PrinterState& s, const std::string& text) {
  if (text.size() != 4 || text[3] != kFnsWebSiteLetter) return Reply::Refuse(kErrorReportBadParameter);
  Bytes out{'S', 'u', '-'};
  Bytes device = DeviceText(s.registration.fnsWebSite);
  if (device.size() > kRegTextLength / 2) device.resize(kRegTextLength / 2);
  for (uint8_t b : device) AppendNibbleChars(&out, b);
  return Reply::Data(std::string(out.begin(), out.end()));
}

// "S{_": the agent signs, then the activity flags and six characters the driver does not read.
Reply AgentSigns(PrinterState& s, const std::string&) {
  Bytes out{'S', '{'};
  AppendNibbleChars(&out, s.registration.agentSigns);
  AppendNibbleChars(&out, s.registration.activityFlags);
  out.insert(out.end(), 6, '0');
  return Reply::Data(std::string(out.begin(), out.end()));
}

}  // namespace

void BeginShift(PrinterState* s) {
  if (s->shiftOpen) return;
  ++s->shiftNumber;
  s->shiftOpen = true;
  s->shiftOpenedAt = s->now;
  s->documentCount = 0;
  s->fd.shiftFirstDocument = s->fd.lastDocumentNumber + 1;
  const FdSigned d = ShiftDocument(s, ffd::kShiftOpening);
  Print(s, "ОТКРЫТИЕ СМЕНЫ");
  Print(s, "СМЕНА: " + std::to_string(s->shiftNumber));
  PrintSigned(s, d);
}

void EndShift(PrinterState* s) {
  if (!s->shiftOpen) return;
  Print(s, "Z-ОТЧЕТ");
  PrintShiftCounters(s);
  const FdSigned d = ShiftDocument(s, ffd::kShiftClosing);
  Print(s, "ЗАКРЫТИЕ СМЕНЫ");
  PrintSigned(s, d);
  s->shiftOpen = false;
  s->zReportRequired = false;
}

void OpenShiftHoursAgo(PrinterState* s, int hours) {
  const int64_t now = s->now;
  s->now = now - int64_t{hours} * 3600;
  BeginShift(s);
  s->now = now;
}

void AddReportCommands(CommandTable* table) {
  table->Add(kX1, XReport);
  table->Add(kX2, XReport);
  table->Add(kZ1, Z1Report);
  table->Add(kZ2, Z2Report);
  table->Add("WFA", AccessPassword);
  table->Add("PALL", AccumulatedReport);
  table->Add("SuW", SettlementsReport);
  table->Add("R", Duplicate);
  table->Add("E", SelfTest);
  table->Add("SuV", DocumentCopy);
  table->Add("Su#", RegData);
  table->Add("Su>", AutomatNumber);
  table->Add("Su*", RegTextAnswer);
  table->Add("Su-", RegTagText);
  table->Add("S{_", AgentSigns);
}

std::string Money(int64_t kopecks) {
  char text[32];
  snprintf(text, sizeof text, "%s%lld.%02lld", kopecks < 0 ? "-" : "",
           static_cast<long long>(std::llabs(kopecks) / 100),
           static_cast<long long>(std::llabs(kopecks) % 100));
  return text;
}

void Print(PrinterState* s, const std::string& line) {
  s->tape.push_back({line});
}

void PrintSigned(PrinterState* s, const FdSigned& d) {
  char sign[16];
  snprintf(sign, sizeof sign, "%010u", static_cast<unsigned>(d.fiscalSign));
  Print(s, "ФД:" + std::to_string(d.number) + " ФП:" + sign);
}

}  // namespace emu
