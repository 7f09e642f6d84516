#include "emu/printer_faults.h"

#include <cstdlib>
#include <functional>
#include <vector>

#include "emu/access.h"

namespace emu {
namespace {

using Fault = std::function<void(VirtualPrinter&)>;

// A count larger than this is a typing error rather than a fault anyone means.
constexpr long kMaxCount = 100000;

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t at = text.find(separator); at != std::string::npos; at = text.find(separator, start)) {
    parts.push_back(text.substr(start, at - start));
    start = at + 1;
  }
  parts.push_back(text.substr(start));
  return parts;
}

bool ParseNumber(const std::string& text, int base, long max, long* value) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
  char* end = nullptr;
  *value = std::strtol(text.c_str(), &end, base);
  return *end == '\0' && *value >= 0 && *value <= max;
}

// A positive count, or with `zeroToo` also 0.
bool ParseCount(const std::string& text, int* count, bool zeroToo = false) {
  long n = 0;
  if (!ParseNumber(text, 10, kMaxCount, &n) || (n == 0 && !zeroToo)) return false;
  *count = static_cast<int>(n);
  return true;
}

bool ParseCode(const std::string& text, uint8_t* code) {
  long n = 0;
  if (!ParseNumber(text, 0, 0xFF, &n)) return false;
  *code = static_cast<uint8_t>(n);
  return true;
}

bool ParseHex(const std::string& text, Bytes* bytes) {
  if (text.empty() || text.size() % 2 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 2) {
    long b = 0;
    if (!ParseNumber(text.substr(i, 2), 16, 0xFF, &b)) return false;
    bytes->push_back(static_cast<uint8_t>(b));
  }
  return true;
}

// Kinds with one count.
const std::vector<std::pair<std::string, std::function<void(VirtualPrinter&, int)>>> kCountKinds = {
    {"nak", [](VirtualPrinter& p, int n) { p.NakNext(n); }},
    {"busy", [](VirtualPrinter& p, int n) { p.BusyNext(n); }},
    {"bad-check", [](VirtualPrinter& p, int n) { p.BadCheckNext(n); }},
    {"silence", [](VirtualPrinter& p, int n) { p.IgnoreNext(n); }},
    {"fd-refuse", [](VirtualPrinter& p,
                     int n) { p.ModifyState([n](PrinterState& s) { s.fd.faults.refusedReceipts += n; }); }},
    {"fd-stall", [](VirtualPrinter& p,
                    int n) { p.ModifyState([n](PrinterState& s) { s.fd.faults.stalledReads += n; }); }},
};

// Kinds that change the printer's state once a command has been carried out, some with the line
// dead for a number of units afterwards.
struct AfterKind {
  const char* name;
  std::function<void(PrinterState&)> change;
  bool units;
  bool answerLost;
};
const std::vector<AfterKind> kAfterKinds = {
    {"drop-after", [](PrinterState&) {}, true, false},
    {"drop-before-answer", [](PrinterState&) {}, true, true},
    {"restart-after", [](PrinterState& s) { RawReset(&s); }, true, false},
    {"paper-end-after", [](PrinterState& s) { s.paperEnd = true; }, false, false},
    {"print-failure-after", [](PrinterState& s) { s.printFailure = true; }, false, false},
};

bool ParseOne(const std::vector<std::string>& f, Fault* fault, std::string* why);

// "KIND-at:PREFIX:ARG": KIND:ARG armed when the next command beginning with PREFIX arrives.
bool ParseAt(const std::vector<std::string>& f, Fault* fault, std::string* why) {
  const std::string kind = f[0].substr(0, f[0].size() - 3);
  if (f.size() < 3 || f[1].empty()) return *why = "expected " + f[0] + ":PREFIX:...", false;
  std::vector<std::string> inner = {kind};
  inner.insert(inner.end(), f.begin() + 2, f.end());
  Fault armed;
  if (!ParseOne(inner, &armed, why)) return false;
  *fault = [prefix = f[1], armed](VirtualPrinter& p) { p.AtNextOf(prefix, armed); };
  return true;
}

// Reads one "kind[:arg[:arg]]" into the fault it arms; false with the reason.
bool ParseOne(const std::vector<std::string>& f, Fault* fault, std::string* why) {
  const std::string& kind = f[0];
  if (kind.size() > 3 && kind.compare(kind.size() - 3, 3, "-at") == 0 && kind != "silence-at") {
    return ParseAt(f, fault, why);
  }
  for (const auto& k : kCountKinds) {
    if (k.first != kind) continue;
    int n = 0;
    if (f.size() != 2 || !ParseCount(f[1], &n)) return *why = "expected " + kind + ":COUNT", false;
    *fault = [arm = k.second, n](VirtualPrinter& p) { arm(p, n); };
    return true;
  }
  for (const AfterKind& k : kAfterKinds) {
    if (kind != k.name) continue;
    int n = 0;
    if (f.size() != (k.units ? 3u : 2u) || f[1].empty() || (k.units && !ParseCount(f[2], &n, true))) {
      return *why = "expected " + kind + (k.units ? ":PREFIX:UNITS" : ":PREFIX"), false;
    }
    *fault = [k, prefix = f[1], n](VirtualPrinter& p) {
      p.AfterNextCommand(prefix, k.change, n, k.answerLost);
    };
    return true;
  }
  if (kind == "silence-at") {
    int n = 0;
    if (f.size() != 3 || f[1].empty() || !ParseCount(f[2], &n, true)) {
      return *why = "expected silence-at:PREFIX:UNITS", false;
    }
    *fault = [prefix = f[1], n](VirtualPrinter& p) { p.SilenceNextOf(prefix, n); };
    return true;
  }
  if (kind == "refuse" || kind == "fd-fail") {
    uint8_t code = 0;
    if (f.size() != 3 || f[1].empty() || !ParseCode(f[2], &code)) {
      return *why = "expected " + kind + ":PREFIX:CODE", false;
    }
    const uint8_t bits = kind == "refuse" ? kCommandError : kFiscalError;
    *fault = [prefix = f[1], code, bits](VirtualPrinter& p) { p.RefuseNextOf(prefix, code, bits); };
    return true;
  }
  if (kind == "paid-stays-open") {
    if (f.size() != 1) return *why = "expected paid-stays-open alone", false;
    *fault = [](VirtualPrinter& p) {
      p.ModifyState([](PrinterState& s) { s.paidSaleClosesAtOnce = false; });
    };
    return true;
  }
  if (kind == "stray") {
    Bytes bytes;
    if (f.size() != 2 || !ParseHex(f[1], &bytes)) return *why = "expected stray:HEX", false;
    *fault = [bytes](VirtualPrinter& p) { p.SendStrayBytes(bytes); };
    return true;
  }
  *why = "unknown fault \"" + kind + "\"";
  return false;
}

}  // namespace

bool ApplyPrinterFault(VirtualPrinter& printer, const std::string& text, std::string* error) {
  std::vector<Fault> faults;
  for (const std::string& one : Split(text, ',')) {
    Fault fault;
    std::string why;
    if (!ParseOne(Split(one, ':'), &fault, &why)) {
      if (error) *error = "printer fault \"" + one + "\": " + why;
      return false;
    }
    faults.push_back(std::move(fault));
  }
  for (const Fault& fault : faults) fault(printer);
  return true;
}

}  // namespace emu
