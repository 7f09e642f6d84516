#include "emu/records.h"

#include <algorithm>
#include <cstdio>

#include "platform/codepage.h"

namespace emu {
namespace {

constexpr uint8_t kLf = 0x0A;

void Append(Bytes* out, const std::string& text) { out->insert(out->end(), text.begin(), text.end()); }

// A field of exactly `width` characters: cut, or padded with blanks on the right.
void AppendField(Bytes* out, const std::string& text, size_t width) {
  std::string field = text.substr(0, width);
  field.resize(width, ' ');
  Append(out, field);
}

// A counter in a fixed field keeps its low digits, as a counter of that width wraps; a negative
// value (a test's mistake) counts as 0. The field never grows past its width.
void AppendNumber(Bytes* out, long value, int width) {
  char text[24];
  snprintf(text, sizeof text, "%0*ld", width, value < 0 ? 0L : value);
  const std::string digits(text);
  Append(out, digits.substr(digits.size() - static_cast<size_t>(width)));
}

void AppendZeros(Bytes* out, size_t count) { out->insert(out->end(), count, '0'); }

Reply DataReply(const Bytes& record) { return Reply::Data(std::string(record.begin(), record.end())); }

// The 1.05 firmware sends the longer forms of the records whose layout depends on the firmware.
bool WideRecords(const PrinterState& s) { return s.banner == kBannerFfd105; }

// "Se": the extended status from its journal byte on (its positions 3..24).
Bytes SeRecord(const PrinterState& s) {
  const Bytes extended = ExtendedStatusFrame(s, 0);  // STX first; the shift's age is not part of it
  Bytes out{'S', 'e'};
  out.insert(out.end(), extended.begin() + 1 + 3, extended.begin() + 1 + 25);
  return out;
}

// "SI": the open document's total and payments, three state digits (the document's kind, its items
// up to 9, and 1 while it is open) and a spare byte.
Bytes SIRecord(const PrinterState& s) {
  Bytes out{'S', 'I'};
  AppendAmount(&out, s.documentTotal);
  AppendAmount(&out, s.documentPaid);
  out.push_back(static_cast<uint8_t>('0' + s.documentType % 10));
  out.push_back(static_cast<uint8_t>('0' + std::min<size_t>(s.receipt.items.size(), 9)));
  out.push_back(s.documentType != 0 ? '1' : '0');
  out.push_back('0');
  return out;
}

// "Sh" and "Si": counters and totals the driver keeps as they come.
Bytes CountersRecord(const PrinterState& s, char letter) {
  Bytes out{'S', static_cast<uint8_t>(letter)};
  AppendNumber(&out, s.shiftNumber, 4);
  if (letter == 'h' && WideRecords(s)) {
    for (int i = 0; i < 6; ++i) AppendAmount(&out, s.shiftTotals[i]);
    AppendZeros(&out, 18 * 8 + 1);
  } else {
    AppendZeros(&out, 200 - 2 - 2 - 4);  // 200 bytes with ETX and the check character
  }
  return out;
}

Bytes SimpleRecord(const std::string& header, size_t payload) {
  Bytes out;
  Append(&out, header);
  AppendZeros(&out, payload);
  return out;
}

Reply AnswerS1(PrinterState& s, const std::string&) { return DataReply(S1Record(s)); }

// The plain "S3" gives the rates and flags; the padded form of other models the "S31" marker.
Reply AnswerS3(PrinterState& s, const std::string& text) {
  if (text.size() > 2) return Reply::Data("S31");
  return DataReply(S3Record(s));
}

Reply AnswerSe(PrinterState& s, const std::string&) { return DataReply(SeRecord(s)); }
Reply AnswerSI(PrinterState& s, const std::string&) { return DataReply(SIRecord(s)); }
Reply AnswerSf(PrinterState& s, const std::string&) { return DataReply(ShiftTotalsRecord(s, 'f')); }
Reply AnswerSg(PrinterState& s, const std::string&) { return DataReply(ShiftTotalsRecord(s, 'g')); }
Reply AnswerSh(PrinterState& s, const std::string&) { return DataReply(CountersRecord(s, 'h')); }
Reply AnswerSi(PrinterState& s, const std::string&) { return DataReply(CountersRecord(s, 'i')); }
Reply AnswerSNZ1(PrinterState&, const std::string&) { return Reply::Data("SNZ10"); }
Reply AnswerSR(PrinterState&, const std::string&) { return DataReply(SimpleRecord("SR", 4)); }
Reply AnswerSBraceLL(PrinterState&, const std::string&) { return DataReply(SimpleRecord("S{LL", 24)); }
Reply AnswerSBraceO(PrinterState&, const std::string&) { return DataReply(SimpleRecord("S{O", 101)); }
Reply AnswerSV(PrinterState& s, const std::string&) { return DataReply(VersionRecord(s)); }
Reply AnswerFdFormat(PrinterState& s, const std::string&) { return DataReply(FdFormatRecord(s)); }

Reply AnswerSF(PrinterState& s, const std::string&) {
  Bytes out{'S', 'F'};
  AppendNibbleChars(&out, s.fpSubversion);
  return DataReply(out);
}

// Letters of the printer's character set: А..Е, Ж..Я and а..е, ж..я in runs, Ё and ё apart.
uint8_t DeviceChar(char16_t c) {
  if (c < 0x80) return static_cast<uint8_t>(c);
  if (c >= u'А' && c <= u'Е') return static_cast<uint8_t>(0x80 + (c - u'А'));
  if (c >= u'Ж' && c <= u'Я') return static_cast<uint8_t>(0x87 + (c - u'Ж'));
  if (c >= u'а' && c <= u'е') return static_cast<uint8_t>(0xB0 + (c - u'а'));
  if (c >= u'ж' && c <= u'я') return static_cast<uint8_t>(0xB7 + (c - u'ж'));
  if (c == u'Ё') return 0x86;
  if (c == u'ё') return 0xB6;
  if (c == u'№') return 0xFC;
  return ' ';
}

}  // namespace

Bytes DeviceText(const std::string& utf8) {
  Bytes out;
  for (char16_t c : plat::Utf8ToUtf16(utf8)) out.push_back(DeviceChar(c));
  return out;
}

void AppendAmount(Bytes* out, int64_t kopecks) {
  const uint64_t v = static_cast<uint64_t>(kopecks);
  for (int shift : {32, 40, 0, 8, 16, 24}) AppendNibbleChars(out, static_cast<uint8_t>(v >> shift));
}

// Long form: clerk, fiscal-drive number, spare, shift, documents, last receipt, taxpayer,
// registration and serial numbers and two spare fields, separated by LF.
Bytes S1Record(const PrinterState& s) {
  Bytes out{'S', '1'};
  AppendNumber(&out, s.clerk, 2);
  out.push_back(kLf);
  AppendField(&out, s.fdNumber, 16);
  out.push_back(kLf);
  AppendZeros(&out, 8);
  out.push_back(kLf);
  AppendNumber(&out, s.shiftNumber, 4);
  out.push_back(kLf);
  AppendNumber(&out, s.documentCount, 8);
  out.push_back(kLf);
  AppendNumber(&out, s.lastReceiptNumber, 8);
  out.push_back(kLf);
  AppendField(&out, s.taxpayerNumber, 12);
  out.push_back(kLf);
  AppendField(&out, s.registrationNumber, 20);
  out.push_back(kLf);
  AppendField(&out, s.serialNumber, 14);
  out.push_back(kLf);
  AppendZeros(&out, 6);
  out.push_back(kLf);
  AppendZeros(&out, 6);
  return out;
}

// Four rates of four digits, each followed by LF, then the 22 flags in hexadecimal and LF.
Bytes S3Record(const PrinterState& s) {
  Bytes out{'S', '3'};
  for (int rate : s.taxRates) {
    AppendNumber(&out, rate, 4);
    out.push_back(kLf);
  }
  for (int k = 1; k <= 22; ++k) {
    char pair[4];
    snprintf(pair, sizeof pair, "%02X", s.flags[k]);
    Append(&out, pair);
  }
  out.push_back(kLf);
  return out;
}

// The number of the last closed shift (two bytes, low first; the open shift counts only once its
// Z report is printed), the eight running totals and one more, then six counter-and-amount pairs.
Bytes ShiftTotalsRecord(const PrinterState& s, char letter) {
  Bytes out{'S', static_cast<uint8_t>(letter)};
  const int closed = s.shiftOpen && s.shiftNumber > 0 ? s.shiftNumber - 1 : s.shiftNumber;
  AppendNibbleChars(&out, static_cast<uint8_t>(closed & 0xFF));
  AppendNibbleChars(&out, static_cast<uint8_t>(closed >> 8));
  for (int64_t total : s.shiftTotals) AppendAmount(&out, total);
  AppendAmount(&out, 0);
  for (int i = 0; i < 6; ++i) {
    AppendZeros(&out, 4);
    AppendAmount(&out, 0);
  }
  return out;
}

Bytes VersionRecord(const PrinterState& s) {
  Bytes out{'S', 'V'};
  const Bytes banner = DeviceText(s.banner);
  out.insert(out.end(), banner.begin(), banner.end());
  return out;
}

// The fiscal drive's answer to the format query: its format version first, then the answer code
// and the rest of the message.
Bytes FdFormatRecord(const PrinterState& s) {
  Bytes out{'0', '4', '0', '0'};
  AppendNibbleChars(&out, s.fdFfdVersion);
  AppendNibbleChars(&out, 0);
  AppendZeros(&out, 66);
  return out;
}

void AddRecordQueries(CommandTable* table) {
  table->Add("S1", AnswerS1);
  table->Add("S3", AnswerS3);
  table->Add("Se", AnswerSe);
  table->Add("SI", AnswerSI);
  table->Add("Sf", AnswerSf);  // also "Sfm"
  table->Add("Sg", AnswerSg);
  table->Add("Sh", AnswerSh);
  table->Add("Si", AnswerSi);
  table->Add("SNZ1", AnswerSNZ1);
  table->Add("SR", AnswerSR);
  table->Add("SF", AnswerSF);
  table->Add("S{LL", AnswerSBraceLL);
  table->Add("S{O", AnswerSBraceO);
  table->Add("SV", AnswerSV);
  table->Add("S\":", AnswerFdFormat);
}

}  // namespace emu
