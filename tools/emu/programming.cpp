#include "emu/programming.h"

#include <cstdlib>

#include "platform/codepage.h"

namespace emu {
namespace {

constexpr char kBoldMark = 0x7F;
constexpr int kLines = 8;
constexpr int kFlags = 22;
constexpr int kLastBaudCode = 6;
constexpr int kNormalWidth = 42;
constexpr int kSmallFontWidth = 56;
constexpr int kFooterDoubleHeight = 2;

bool FlagBit(const PrinterState& s, int flag, int bit) { return (s.flags[flag] >> bit & 1) != 0; }

// `count` decimal digits at `pos`, or -1 when they are not all there.
int Digits(const std::string& text, size_t pos, size_t count) {
  if (text.size() < pos + count) return -1;
  int value = 0;
  for (size_t i = pos; i < pos + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// Two hexadecimal digits at `pos`, or -1.
int HexByte(const std::string& text, size_t pos) {
  if (text.size() != pos + 2) return -1;
  char* end = nullptr;
  const std::string pair = text.substr(pos, 2);
  const long value = std::strtol(pair.c_str(), &end, 16);
  return *end == '\0' ? static_cast<int>(value) : -1;
}

// Cells a line takes on paper: a bold character is twice as wide, so its mark stands for its
// second cell and the byte count is the width.
int PrintedWidth(const std::string& deviceText) { return static_cast<int>(deviceText.size()); }

std::string TrimRight(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// Unicode of one byte of the printer's character set: the letters in their runs, the number sign,
// ASCII as it is, anything else a blank.
char16_t FromDeviceChar(uint8_t b) {
  if (b < 0x80) return b;
  if (b <= 0x85) return static_cast<char16_t>(u'А' + (b - 0x80));
  if (b == 0x86) return u'Ё';
  if (b <= 0xA0) return static_cast<char16_t>(u'Ж' + (b - 0x87));
  if (b >= 0xB0 && b <= 0xB5) return static_cast<char16_t>(u'а' + (b - 0xB0));
  if (b == 0xB6) return u'ё';
  if (b >= 0xB7 && b <= 0xD0) return static_cast<char16_t>(u'ж' + (b - 0xB7));
  if (b == 0xFC) return u'№';
  return u' ';
}

// "PH" n text: header line n. Refused in an open shift and when it does not fit the line.
Reply HeaderLine(PrinterState& s, const std::string& text) {
  const int n = Digits(text, 2, 1);
  if (n < 1 || n > kLines) return Reply::Refuse(kErrorBadParameter);
  if (s.shiftOpen) return Reply::Refuse(kErrorShiftOpen);
  const std::string line = text.substr(3);
  if (PrintedWidth(line) > LineWidth(s)) return Reply::Refuse(kErrorBadParameter);
  s.programmed.headerLines[n - 1] = line;
  return Reply::Accept();
}

// "eP" n attribute text: footer line n, normal (0) or double height (2); an empty text clears it.
Reply FooterLine(PrinterState& s, const std::string& text) {
  const int n = Digits(text, 2, 1);
  const int attribute = Digits(text, 3, 1);
  if (n < 1 || n > kLines || (attribute != 0 && attribute != kFooterDoubleHeight)) {
    return Reply::Refuse(kErrorBadParameter);
  }
  if (s.shiftOpen) return Reply::Refuse(kErrorShiftOpen);
  const std::string line = text.substr(4);
  if (PrintedWidth(line) > LineWidth(s)) return Reply::Refuse(kErrorBadParameter);
  s.programmed.footerLines[n - 1] = line;
  s.programmed.footerAttributes[n - 1] = attribute;
  return Reply::Accept();
}

// "PG" ddmmyy.
Reply Date(PrinterState& s, const std::string& text) {
  const int day = Digits(text, 2, 2), month = Digits(text, 4, 2), year = Digits(text, 6, 2);
  if (text.size() != 8 || year < 0) return Reply::Refuse(kErrorBadParameter);
  if (day < 1 || day > 31 || month < 1 || month > 12) return Reply::Refuse(kErrorBadDateTime);
  s.programmed.day = day;
  s.programmed.month = month;
  s.programmed.year = year;
  return Reply::Accept();
}

// "PF" hhmmss.
Reply Time(PrinterState& s, const std::string& text) {
  const int hour = Digits(text, 2, 2), minute = Digits(text, 4, 2), second = Digits(text, 6, 2);
  if (text.size() != 8 || second < 0) return Reply::Refuse(kErrorBadParameter);
  if (hour > 23 || minute > 59 || second > 59 || hour < 0 || minute < 0) return Reply::Refuse(kErrorBadDateTime);
  s.programmed.hour = hour;
  s.programmed.minute = minute;
  s.programmed.second = second;
  return Reply::Accept();
}

// "PJ" nn XX: device flag nn := XX (hexadecimal).
Reply Flag(PrinterState& s, const std::string& text) {
  const int n = Digits(text, 2, 2);
  const int value = HexByte(text, 4);
  if (n < 1 || n > kFlags || value < 0) return Reply::Refuse(kErrorBadParameter);
  s.flags[n] = static_cast<uint8_t>(value);
  return Reply::Accept();
}

// "PJRR" XX: the service marker.
Reply FlagRR(PrinterState& s, const std::string& text) {
  const int value = HexByte(text, 4);
  if (value < 0) return Reply::Refuse(kErrorBadParameter);
  s.programmed.flagRR = value;
  return Reply::Accept();
}

// "PZ" hh: the longest shift, in hours.
Reply TimeLimit(PrinterState& s, const std::string& text) {
  const int hours = Digits(text, 2, 2);
  if (text.size() != 4 || hours < 1 || hours > 24) return Reply::Refuse(kErrorBadParameter);
  s.maxShiftHours = static_cast<uint8_t>(hours);
  return Reply::Accept();
}

// "PK" nnn text: a descriptor's text.
Reply Descriptor(PrinterState& s, const std::string& text) {
  const int n = Digits(text, 2, 3);
  if (n < 0) return Reply::Refuse(kErrorBadParameter);
  s.programmed.descriptors[n] = TextFromDevice(text.substr(5));
  return Reply::Accept();
}

// "PE" n type name: the name of payment mean n, a field of 14 characters.
Reply PaymentMean(PrinterState& s, const std::string& text) {
  const int n = Digits(text, 2, 1);
  const int type = Digits(text, 3, 1);
  if (n < 1 || n > kLines || type < 0 || text.size() > 4 + 14) return Reply::Refuse(kErrorBadParameter);
  if (s.shiftOpen) return Reply::Refuse(kErrorShiftOpen);
  s.programmed.paymentMeans[n - 1] = TrimRight(TextFromDevice(text.substr(4)));
  s.programmed.paymentMeanTypes[n - 1] = type;
  return Reply::Accept();
}

// "PR" d: the line's speed code. The printer answers at the old speed, then switches.
Reply BaudRate(PrinterState& s, const std::string& text) {
  const int code = Digits(text, 2, 1);
  if (text.size() != 3 || code < 0 || code > kLastBaudCode) return Reply::Refuse(kErrorBadParameter);
  s.programmed.baudCode = code;
  return Reply::Accept();
}

// "PRcR" d: the clock on or off.
Reply ClockSwitch(PrinterState& s, const std::string& text) {
  const int on = Digits(text, 4, 1);
  if (text.size() != 5 || on < 0 || on > 1) return Reply::Refuse(kErrorBadParameter);
  s.programmed.clockSwitch = on;
  return Reply::Accept();
}

// "PRC": the daily clock correction of another model; this printer does not know it.
Reply UnknownCommand(PrinterState&, const std::string&) { return Reply::Refuse(kErrorBadParameter); }

// One stored line as printed: bold when it carries bold marks.
TapeLine Printed(const std::string& deviceText, bool doubleHeight) {
  TapeLine line;
  line.bold = deviceText.find(kBoldMark) != std::string::npos;
  line.doubleHeight = doubleHeight;
  line.text = TextFromDevice(deviceText);
  return line;
}

}  // namespace

void AddProgrammingCommands(CommandTable* table) {
  table->Add("PH", HeaderLine);
  table->Add("eP", FooterLine);
  table->Add("PG", Date);
  table->Add("PF", Time);
  table->Add("PJ", Flag);
  table->Add("PJRR", FlagRR);
  table->Add("PZ", TimeLimit);
  table->Add("PK", Descriptor);
  table->Add("PE", PaymentMean);
  table->Add("PR", BaudRate);
  table->Add("PRcR", ClockSwitch);
  table->Add("PRC", UnknownCommand);
}

std::string TextFromDevice(const std::string& deviceText) {
  std::u16string text;
  for (char c : deviceText) {
    if (c != kBoldMark) text.push_back(FromDeviceChar(static_cast<uint8_t>(c)));
  }
  return plat::Utf16ToUtf8(text);
}

int LineWidth(const PrinterState& s) { return FlagBit(s, 21, 4) ? kSmallFontWidth : kNormalWidth; }

void PrintHeader(PrinterState& s) {
  const bool centre = FlagBit(s, 4, 6);
  for (int n = 1; n <= kLines; ++n) {
    const std::string& stored = s.programmed.headerLines[n - 1];
    if (stored.empty()) continue;
    TapeLine line = Printed(stored, FlagBit(s, 15, n - 1));
    const int cells = PrintedWidth(stored);
    // Centring blanks are counted in cells of the normal width.
    if (centre && cells < LineWidth(s)) line.text.insert(0, static_cast<size_t>((LineWidth(s) - cells) / 2), ' ');
    s.tape.push_back(line);
  }
}

void PrintFooter(PrinterState& s) {
  for (int n = 1; n <= kLines; ++n) {
    const std::string& stored = s.programmed.footerLines[n - 1];
    if (stored.empty()) continue;
    s.tape.push_back(Printed(stored, s.programmed.footerAttributes[n - 1] == kFooterDoubleHeight));
  }
}

}  // namespace emu
