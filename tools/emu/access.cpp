#include "emu/access.h"

#include <cctype>

namespace emu {
namespace {

// The printer's error codes of these commands.
constexpr uint8_t kErrBadParameter = 1;
constexpr uint8_t kErrNoPassword = 41;     // password not entered, or wrong
constexpr uint8_t kErrWrongDocument = 47;  // no document of a kind this command ends
constexpr uint8_t kErrSecretTaken = 75;    // another clerk has this secret
constexpr uint8_t kErrZeroSecret = 164;

constexpr int kClerks = 16;
constexpr int kInnClerks = 7;

// The raw reset: ACK, then ETX and NUL four times and ETX once more, then ACK. The reader of the
// line hands over the bytes between the two ACKs as noise.
const Bytes kRawResetBody = {0x03, 0x00, 0x03, 0x00, 0x03, 0x00, 0x03, 0x00, 0x03};

// `count` decimal digits at `at` as a number, -1 when they are not all digits.
long Digits(const std::string& text, size_t at, size_t count) {
  if (at + count > text.size()) return -1;
  long value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (!isdigit(static_cast<unsigned char>(text[i]))) return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

std::string TrimRight(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// "W", two blanks and six characters. A wrong password also takes back an earlier right one.
Reply EnterPassword(PrinterState& s, const std::string& text) {
  s.passwordEntered =
      text.size() == 9 && text.compare(1, 2, "  ") == 0 && text.substr(3) == s.operatorPassword;
  return s.passwordEntered ? Reply::Accept() : Reply::Refuse(kErrNoPassword);
}

// "PN" and the number in two to four digits.
Reply ProgramPosNumber(PrinterState& s, const std::string& text) {
  if (!s.passwordEntered) return Reply::Refuse(kErrNoPassword);
  const size_t digits = text.size() - 2;
  const long number = digits >= 2 && digits <= 4 ? Digits(text, 2, digits) : -1;
  if (number < 0) return Reply::Refuse(kErrBadParameter);
  s.posNumber = static_cast<int>(number);
  return Reply::Accept();
}

// "PC", the clerk in two digits, the secret in five, the name. A programmed clerk keeps its secret:
// it is programmed again only with that secret. Programming logs the clerk on.
Reply ProgramClerk(PrinterState& s, const std::string& text) {
  if (!s.passwordEntered) return Reply::Refuse(kErrNoPassword);
  const long n = Digits(text, 2, 2);
  const long secret = Digits(text, 4, 5);
  if (n < 1 || n > kClerks || secret < 0) return Reply::Refuse(kErrBadParameter);
  if (secret == 0) return Reply::Refuse(kErrZeroSecret);
  for (int other = 1; other <= kClerks; ++other) {
    if (other != n && s.clerks[other].secret == secret) return Reply::Refuse(kErrSecretTaken);
  }
  PrinterState::Clerk& clerk = s.clerks[n];
  if (clerk.secret >= 0 && clerk.secret != secret) return Reply::Refuse(kErrNoPassword);
  clerk.secret = secret;
  clerk.name = TrimRight(text.substr(9));
  s.clerk = static_cast<int>(n);
  return Reply::Accept();
}

// "PC*", twelve characters of the taxpayer number, the clerk, "0" and the clerk again.
Reply ProgramClerkTaxpayer(PrinterState& s, const std::string& text) {
  const long n = Digits(text, 15, 1);
  if (text.size() != 18 || n < 1 || n > kInnClerks || Digits(text, 17, 1) != n || text[16] != '0') {
    return Reply::Refuse(kErrBadParameter);
  }
  s.clerks[n].taxpayerNumber = TrimRight(text.substr(3, 12));
  return Reply::Accept();
}

// "5" and the secret in five digits.
Reply LogOn(PrinterState& s, const std::string& text) {
  const long secret = text.size() == 6 ? Digits(text, 1, 5) : -1;
  for (int n = 1; n <= kClerks && secret >= 0; ++n) {
    if (s.clerks[n].secret == secret) {
      s.clerk = n;
      return Reply::Accept();
    }
  }
  return Reply::Refuse(kErrNoPassword);
}

Reply LogOff(PrinterState& s, const std::string&) {
  s.clerk = 0;
  return Reply::Accept();
}

void CloseDocument(PrinterState* s) {
  s->receiptOpen = false;
  s->fiscalReceiptOpen = false;
  s->documentType = 0;
  s->documentTotal = 0;
  s->documentPaid = 0;
}

// "7" cancels whatever document is open; with none open there is nothing to cancel.
Reply CancelDocument(PrinterState& s, const std::string&) {
  if (!s.receiptOpen && !s.fiscalReceiptOpen && s.documentType == 0) return Reply::Refuse(kErrWrongDocument);
  CloseDocument(&s);
  return Reply::Accept();
}

}  // namespace

void AddAccessCommands(CommandTable* table) {
  table->Add("W", EnterPassword);
  table->Add("PN", ProgramPosNumber);
  table->Add("PC", ProgramClerk);
  table->Add("PC*", ProgramClerkTaxpayer);
  table->Add("5", LogOn);
  table->Add("6", LogOff);
  table->Add("7", CancelDocument);
}

bool IsRawResetBody(const Bytes& noise) {
  return noise == kRawResetBody;
}

void RawReset(PrinterState* state) {
  CloseDocument(state);
  state->busy = false;
  state->printFailure = false;
  state->deviceError = 0;
  state->errorBits = 0;
  state->passwordEntered = false;
  state->clerk = 0;
}

}  // namespace emu
