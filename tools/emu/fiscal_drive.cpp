#include "emu/fiscal_drive.h"

#include <algorithm>
#include <cstdio>

#include "emu/command_table.h"
#include "emu/printer_state.h"
#include "emu/programming.h"
#include "emu/records.h"
#include "ffd/ffd.h"
#include "platform/clock.h"

namespace emu {
namespace {

using ffd::PutU16;
using ffd::PutU32;

constexpr uint8_t kMessageStart = 0x04;
// The echo of a reprinted document: chunks of STX, a kind byte, one line of 44 characters and ETX;
// the last chunk has the kind 0x19 and is followed by one check byte.
constexpr size_t kEchoWidth = 44;
constexpr uint8_t kEchoLine = 0x18;
constexpr uint8_t kEchoEnd = 0x19;
// An echo "without end" stops after this many chunks, more than any reader should accept.
constexpr int kEndlessEchoChunks = 300;
// Bytes an over-long block carries beyond the block size asked for.
constexpr size_t kOverlongExtra = 16;

// ---- Bytes of the drive's answers ----

// One message of the drive: start byte, length of answer code and data, answer code, data, and
// the drive's own check value (CRC16 over what precedes it).
Bytes DriveMessage(uint8_t code, const Bytes& data) {
  Bytes m{kMessageStart};
  PutU16(&m, static_cast<uint16_t>(data.size() + 1));
  m.push_back(code);
  m.insert(m.end(), data.begin(), data.end());
  PutU16(&m, ffd::Crc16(m.data(), m.size()));
  return m;
}

// `count` bytes written as nibble characters from `at` in the command text; false when the text is
// shorter or holds anything else.
bool NibbleBytes(const std::string& text, size_t at, size_t count, Bytes* out) {
  if (text.size() < at + 2 * count) return false;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t hi = static_cast<uint8_t>(text[at + 2 * i] - 0x30);
    const uint8_t lo = static_cast<uint8_t>(text[at + 2 * i + 1] - 0x30);
    if (hi > 0x0F || lo > 0x0F) return false;
    out->push_back(static_cast<uint8_t>((hi << 4) | lo));
  }
  return true;
}

// ---- Time and signs ----

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// The drive stores the local time as printed, counted like Unix seconds.
uint32_t LocalSeconds(int64_t unixTime) {
  const plat::CalendarTime t = plat::LocalTimeOf(unixTime);
  const int64_t days = DaysFromCivil(t.year, t.month, t.day);
  return static_cast<uint32_t>(days * 86400 + t.hour * 3600 + t.minute * 60 + t.second);
}

// A fiscal sign of ten digits, fixed by the drive and the document number.
uint32_t SignOf(const std::string& drive, uint32_t number) {
  uint32_t h = 2166136261u;
  for (char c : drive) h = (h ^ static_cast<uint8_t>(c)) * 16777619u;
  h = (h ^ number) * 16777619u;
  return 1000000000u + h % 3000000000u;
}

bool Firmware105(const PrinterState& s) {
  return s.banner == kBannerFfd105;
}

// ---- Records ----

// Life phase .. last document number: the data of the status answer.
Bytes StatusData(const PrinterState& s) {
  const FiscalDrive& fd = s.fd;
  Bytes d{fd.lifePhase, fd.currentDocument, fd.documentData, static_cast<uint8_t>(s.shiftOpen ? 1 : 0),
          fd.warnings};
  AppendDateTime(&d, s.now, true);
  std::string number = s.fdNumber.substr(0, ffd::kDriveNumberDigits);
  number.resize(ffd::kDriveNumberDigits, '0');
  d.insert(d.end(), number.begin(), number.end());
  PutU32(&d, fd.lastDocumentNumber);
  return d;
}

Bytes ExchangeData(const PrinterState& s) {
  const std::vector<const FdDocument*> backlog = Backlog(s);
  Bytes d{s.fd.exchangeState, static_cast<uint8_t>(s.fd.readStarted ? 1 : 0)};
  PutU16(&d, static_cast<uint16_t>(backlog.size()));
  PutU32(&d, backlog.empty() ? 0 : backlog.front()->number);
  if (backlog.empty()) {
    d.insert(d.end(), 5, 0);
  } else {
    AppendDateTime(&d, backlog.front()->dateTime, true);
  }
  return d;
}

// A fault counter used up by one answer.
bool Take(int* count) {
  if (*count <= 0) return false;
  --*count;
  return true;
}

// ---- Commands ----

// "S\"": the drive's status, as bare nibble characters.
Reply AnswerStatus(PrinterState& s, const std::string&) {
  return MessageReply("", kFdOk, StatusData(s));
}

Reply AnswerExchange(PrinterState& s, const std::string&) {
  if (s.fd.faults.errorAnswer != 0) return MessageReply("SuF", s.fd.faults.errorAnswer);
  return MessageReply("SuF", kFdOk, ExchangeData(s));
}

Reply AnswerTaxVariant(PrinterState& s, const std::string&) {
  Bytes text{'S', 'u', '!'};
  AppendNibbleChars(&text, s.fd.currentTax);
  AppendNibbleChars(&text, s.fd.taxSystems);
  return Reply::Data(std::string(text.begin(), text.end()));
}

// "SuG0" asks for the exchange, "SuG1" starts reading the first waiting message.
Reply AnswerSuG(PrinterState& s, const std::string& text) {
  if (text != "SuG0" && text != "SuG1") return MessageReply("SuG", kFdBadParameter);
  if (text == "SuG1") s.fd.readStarted = true;
  return MessageReply("SuG", kFdOk);
}

Reply AnswerSuJ(PrinterState& s, const std::string&) {
  s.fd.readStarted = false;
  return MessageReply("SuJ", kFdOk);
}

Reply AnswerSuH(PrinterState& s, const std::string&) {
  const std::vector<const FdDocument*> backlog = Backlog(s);
  Bytes length;
  PutU16(&length, backlog.empty() ? 0 : static_cast<uint16_t>(MessageOf(s, *backlog.front()).size()));
  return MessageReply("SuH", backlog.empty() ? kFdNoData : kFdOk, length);
}

// "SuI" with the offset (two bytes) and the block size (one byte): one block of the first waiting
// message.
Reply AnswerSuI(PrinterState& s, const std::string& text) {
  FdFaults& faults = s.fd.faults;
  if (Take(&faults.stalledReads)) return Reply::Silent();
  Bytes args;
  if (text.size() != 9 || !NibbleBytes(text, 3, 3, &args)) return MessageReply("SuI", kFdBadParameter);
  const std::vector<const FdDocument*> backlog = Backlog(s);
  if (backlog.empty()) return MessageReply("SuI", kFdNoData);
  const Bytes message = MessageOf(s, *backlog.front());
  const size_t offset = args[0] | (args[1] << 8);
  size_t size = args[2];
  if (offset > message.size()) return MessageReply("SuI", kFdBadParameter);
  s.fd.readStarted = true;
  if (Take(&faults.zeroBlocks)) return MessageReply("SuI", kFdOk);
  const bool overlong = Take(&faults.overlongBlocks);
  if (overlong) size += kOverlongExtra;
  const size_t end = std::min(message.size(), offset + size);
  Bytes block(message.begin() + static_cast<std::ptrdiff_t>(offset),
              message.begin() + static_cast<std::ptrdiff_t>(end));
  // A faulty drive sends more than was asked for, whether or not the message has that much left.
  if (overlong) block.resize(size, 0xEE);
  return MessageReply("SuI", kFdOk, block);
}

Reply AnswerSuK(PrinterState& s, const std::string&) {
  s.fd.readStarted = false;
  return MessageReply("SuK", kFdOk);
}

Reply RefuseReceipt(uint8_t reason) {
  return MessageReply("SuL", kFdReceiptRefused, Bytes{reason});
}

// "SuL" with the operator's acknowledgement: the first waiting document leaves the backlog.
Reply AnswerSuL(PrinterState& s, const std::string& text) {
  FdFaults& faults = s.fd.faults;
  if (Take(&faults.refusedReceipts)) return RefuseReceipt(faults.refusalReason);
  Bytes ack;
  if ((text.size() - 3) % 2 != 0 || !NibbleBytes(text, 3, (text.size() - 3) / 2, &ack)) {
    return RefuseReceipt(kFdReasonMalformed);
  }
  ffd::Acknowledgement a;
  if (!ffd::ParseAcknowledgement(ack.data(), ack.size(), &a)) return RefuseReceipt(kFdReasonMalformed);
  if (a.driveNumber != s.fdNumber) return RefuseReceipt(kFdReasonWrongDrive);
  for (FdDocument& d : s.fd.documents) {
    if (d.acknowledged) continue;
    if (d.number != a.documentNumber) return RefuseReceipt(kFdReasonWrongDocument);
    d.acknowledged = true;
    s.fd.readStarted = false;
    return MessageReply("SuL", kFdOk);
  }
  return RefuseReceipt(kFdReasonNothingWaiting);
}

Reply AnswerSu5(PrinterState& s, const std::string&) {
  return MessageReply("Su5", kFdOk, StatusData(s));
}

void AppendEchoChunk(Bytes* out, uint8_t kind, const std::string& utf8) {
  Bytes line = DeviceText(utf8);
  line.resize(kEchoWidth, ' ');
  out->push_back(ctl::kStx);
  out->push_back(kind);
  out->insert(out->end(), line.begin(), line.end());
  out->push_back(ctl::kEtx);
}

std::vector<std::string> ReprintLines(const PrinterState& s, const FdDocument* d) {
  if (!d) return {"ДОКУМЕНТ НЕ НАЙДЕН"};
  char sign[16];
  snprintf(sign, sizeof sign, "%010u", static_cast<unsigned>(d->fiscalSign));
  return {"КОПИЯ ДОКУМЕНТА", "ФН:" + s.fdNumber, "ФД:" + std::to_string(d->number) + " ФП=" + sign};
}

// "Suq" with a document number (four bytes): the document is printed again and its lines echoed.
Reply AnswerSuq(PrinterState& s, const std::string& text) {
  Bytes number;
  if (text.size() != 11 || !NibbleBytes(text, 3, 4, &number)) return Reply::Refuse(kFdBadParameter);
  const uint32_t n =
      number[0] | (number[1] << 8) | (number[2] << 16) | (static_cast<uint32_t>(number[3]) << 24);
  const std::vector<std::string> lines = ReprintLines(s, FindDocument(s, n));
  Bytes echo;
  for (const std::string& line : lines) s.tape.push_back({line});
  if (s.fd.faults.endlessEcho) {
    for (int i = 0; i < kEndlessEchoChunks; ++i) AppendEchoChunk(&echo, kEchoLine, lines[i % lines.size()]);
    return Reply::Raw(echo);
  }
  for (const std::string& line : lines) AppendEchoChunk(&echo, kEchoLine, line);
  AppendEchoChunk(&echo, kEchoEnd, "");
  echo.push_back(Xor(echo.data() + echo.size() - kEchoWidth - 3, kEchoWidth + 3));
  return Reply::Raw(echo);
}

}  // namespace

Reply MessageReply(const std::string& echo, uint8_t code, const Bytes& data) {
  Bytes text(echo.begin(), echo.end());
  for (uint8_t b : DriveMessage(code, data)) AppendNibbleChars(&text, b);
  return Reply::Data(std::string(text.begin(), text.end()));
}

void AppendDateTime(Bytes* out, int64_t unixTime, bool withDate) {
  const plat::CalendarTime t = plat::LocalTimeOf(unixTime);
  if (withDate)
    out->insert(out->end(), {static_cast<uint8_t>(t.year % 100), static_cast<uint8_t>(t.month),
                             static_cast<uint8_t>(t.day)});
  out->insert(out->end(), {static_cast<uint8_t>(t.hour), static_cast<uint8_t>(t.minute)});
}

FdSigned AddDocument(PrinterState* s, uint8_t type, const Bytes& tlvBody) {
  FiscalDrive& fd = s->fd;
  FdDocument d;
  d.number = ++fd.lastDocumentNumber;
  d.type = type;
  d.dateTime = s->now;
  d.fiscalSign = SignOf(s->fdNumber, d.number);
  ffd::DocumentHeader h;
  h.type = type;
  h.number = d.number;
  h.dateTime = LocalSeconds(s->now);
  h.registrationNumber = s->registrationNumber;
  h.driveNumber = s->fdNumber;
  h.fiscalSign = d.fiscalSign;
  h.userName = ffd::Cp866FromUtf8(s->registration.organizationName);
  h.userInn = s->taxpayerNumber;
  h.address = ffd::Cp866FromUtf8(s->registration.addressSettle);
  h.place = ffd::Cp866FromUtf8(s->registration.placeSettle);
  h.ffdVersion = Firmware105(*s) ? ffd::kFfd105 : ffd::kFfd100;
  d.container = ffd::BuildContainer(ffd::DocumentContainer(h, tlvBody));
  fd.documents.push_back(d);
  return {d.number, d.fiscalSign};
}

void AppendCashier(ffd::TlvWriter* w, const std::string& utf8Name, const std::string& taxpayerNumber) {
  w->String(ffd::tag::kCashier, ffd::Cp866FromUtf8(utf8Name));
  if (!taxpayerNumber.empty()) w->String(ffd::tag::kCashierInn, taxpayerNumber);
}

void AppendRegisterVersion(const PrinterState& s, ffd::TlvWriter* w) {
  // The firmware's own version, as its banner names it.
  const bool ffd105 = Firmware105(s);
  w->String(ffd::tag::kRegisterVersion, ffd105 ? "1.05" : "1.00")
      .U8(ffd::tag::kRegisterFfdVersion, ffd105 ? ffd::kFfd105 : ffd::kFfd100);
}

void AppendUntransmitted(const PrinterState& s, bool withFirstNumber, ffd::TlvWriter* w) {
  const std::vector<const FdDocument*> backlog = Backlog(s);
  w->U32(ffd::tag::kUntransmittedCount, static_cast<uint32_t>(backlog.size()));
  if (backlog.empty()) return;
  w->U32(ffd::tag::kUntransmittedDate, LocalSeconds(backlog.front()->dateTime));
  if (withFirstNumber) w->U32(ffd::tag::kUntransmittedFirst, backlog.front()->number);
}

std::string CashierName(const PrinterState& s) {
  return TextFromDevice(s.clerks[s.clerk > 0 ? s.clerk : 1].name);
}

const std::string& CashierTaxpayerNumber(const PrinterState& s) {
  return s.clerks[s.clerk > 0 ? s.clerk : 1].taxpayerNumber;
}

uint32_t AddRawMessage(PrinterState* s, const Bytes& message) {
  FdDocument d;
  d.number = ++s->fd.lastDocumentNumber;
  d.dateTime = s->now;
  d.container = message;
  d.raw = true;
  s->fd.documents.push_back(d);
  return d.number;
}

void PreloadDocuments(PrinterState* s, int count) {
  for (int i = 0; i < count; ++i) {
    const uint64_t price = 10000 + 100 * static_cast<uint64_t>(i);
    ffd::TlvWriter item;
    item.U8(ffd::tag::kItemMethod, 4)
        .U8(ffd::tag::kItemSubject, 1)
        .String(ffd::tag::kItemName, ffd::Cp866FromUtf8("Товар"))
        .Vln(ffd::tag::kItemPrice, price)
        .Fvln(ffd::tag::kItemQuantity, 0, 1)
        .U8(ffd::tag::kVatRate, 1)
        .Vln(ffd::tag::kItemSum, price);
    ffd::TlvWriter body;
    body.U32(ffd::tag::kReceiptNumber, static_cast<uint32_t>(i + 1))
        .U32(ffd::tag::kShiftNumber, static_cast<uint32_t>(s->shiftNumber))
        .U8(ffd::tag::kOperationType, 1)
        .U8(ffd::tag::kTaxSystem, 1)
        .Stlv(ffd::tag::kItem, item)
        .Vln(ffd::tag::kTotal, price)
        .Vln(ffd::tag::kCash, price)
        .Vln(ffd::tag::kCashless, 0)
        .Vln(ffd::tag::kAdvance, 0)
        .Vln(ffd::tag::kCredit, 0)
        .Vln(ffd::tag::kProvision, 0)
        .Vln(ffd::tag::kVat120, price / 6);
    AppendCashier(&body, "Кассир", "");
    AddDocument(s, ffd::kReceipt, body.bytes());
  }
}

Bytes MessageOf(const PrinterState& s, const FdDocument& d) {
  if (d.raw || !Firmware105(s)) return d.container;
  Bytes m = ffd::BuildSessionHeader({s.fdNumber, static_cast<uint16_t>(d.container.size())});
  m.insert(m.end(), d.container.begin(), d.container.end());
  return m;
}

std::vector<const FdDocument*> Backlog(const PrinterState& s) {
  std::vector<const FdDocument*> waiting;
  for (const FdDocument& d : s.fd.documents) {
    if (!d.acknowledged) waiting.push_back(&d);
  }
  return waiting;
}

const FdDocument* FindDocument(const PrinterState& s, uint32_t number) {
  for (const FdDocument& d : s.fd.documents) {
    if (d.number == number) return &d;
  }
  return nullptr;
}

void AddFiscalDriveCommands(CommandTable* table) {
  table->Add("S\"", AnswerStatus);
  table->Add("SuF", AnswerExchange);
  table->Add("Su!", AnswerTaxVariant);
  table->Add("SuG", AnswerSuG);
  table->Add("SuJ", AnswerSuJ);
  table->Add("SuH", AnswerSuH);
  table->Add("SuI", AnswerSuI);
  table->Add("SuK", AnswerSuK);
  table->Add("SuL", AnswerSuL);
  table->Add("Su5", AnswerSu5);
  table->Add("Suq", AnswerSuq);
}

}  // namespace emu
