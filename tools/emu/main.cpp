// mirel-emu: the virtual printer on a pseudo-terminal, for people and scripts.
//
//   mirel-emu [--com N] [--link PATH] [--trace] [--tape FILE] [--baud RATE] [--ready-file FILE]
//             [--timing realistic|none] [--command-ms N] [--line-ms N] [--document-ms N]
//             [--firmware 1.05|1.00 | --banner TEXT] [--fd-backlog N]
//             [--fd-error CODE] [--fd-zero-blocks N] [--fd-stall N] [--fd-overlong N] [--fd-refuse N]
//             [--fd-endless-echo] [--texts-after-payment]
//             [--shift-hours N] [--paper-out] [--unregistered]
//             [--fault FAULT]... [--arm-on-signal] [--state-file FILE]
//
// Prints the port path and a line MIREL_COM<N>=<path> that the driver's environment takes as COM N,
// then serves until SIGINT or SIGTERM. --ready-file receives the same path once the port is
// served, so that a script can wait for the file instead of guessing a delay. --tape writes every
// line the printer prints (receipts, reports) to FILE as it is printed. --firmware picks the
// supported model's firmware (1.05 by default); --banner makes the printer report any other version
// banner (UTF-8, blanks included), that of an older model or of one the driver does not know.
// --fd-backlog preloads N signed receipts waiting for the operator; the other --fd- options are
// faults of the fiscal drive: an error answer with CODE to every exchange status request, the next
// N message blocks without data, without any answer or longer than asked, the next N operator
// acknowledgements refused, and a reprint echo that never ends. The printer takes the time a real
// one takes to carry out a command, print a line and have its fiscal drive write a document
// (--timing realistic, the default); --timing none answers at once, and the -ms options set one
// of the three times. --texts-after-payment keeps a paid sale or purchase open for the texts and
// barcodes a driver sends after the payments, until "t" closes it; without it the printer closes
// the receipt as soon as its payments cover the total.
//
// Three states a printer can be found in when it is switched on: --shift-hours N starts it with a
// shift opened N hours ago (from 24 hours on, the maximum length of a shift, it asks for the Z
// report); --paper-out starts it out of paper, and SIGUSR2 puts paper in again; --unregistered
// starts it with a new fiscal drive, ready for its first registration and no document in it.
//
// --fault FAULT arms faults of the printer written as in the fault table (tools/emu/printer_faults.h:
// "nak:3", "paper-end-after:!", several joined by ","), at start; with --arm-on-signal they are
// armed instead each time the printer gets SIGUSR1, so that a script sets its till up on a sound
// printer and only then brings the faults in. --state-file keeps FILE up to date (rewritten whole,
// through a temporary file) with "documents N", the fiscal documents the drive holds (made or
// preloaded), and "armed N", how many times the faults were armed; a script that sent SIGUSR1
// waits for the count to grow before it goes on. The file also says "paper out" or "paper in", so
// that a script that sent SIGUSR2 sees when the paper is in, and what each receipt and cash document
// says was sold ("sold NUMBER TOTAL ITEMS CASH ELECTRONIC ADVANCE CREDIT PROVISION", "cash in|out
// TOTAL", in kopecks, the
// receipts read back from their FFD documents). It is written on exit too.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "emu/printer_faults.h"
#include "emu/registration.h"
#include "emu/reports.h"
#include "emu/sold.h"
#include "emu/virtual_printer.h"

namespace {

std::atomic<bool> g_quit{false};

std::atomic<int> g_armRequests{0};
std::atomic<int> g_paperRequests{0};

void OnSignal(int) {
  g_quit = true;
}

void OnArmSignal(int) {
  ++g_armRequests;
}

void OnPaperSignal(int) {
  ++g_paperRequests;
}

struct Options {
  int com = 1;
  std::string link;
  bool trace = false;
  unsigned long baud = 0;
  emu::DeviceTiming timing = emu::RealisticTiming();
  std::string readyFile;
  std::string tapeFile;
  std::string banner = emu::kBannerFfd105;
  unsigned long fdBacklog = 0;
  emu::FdFaults fdFaults;
  bool textsAfterPayment = false;
  std::vector<std::string> faults;
  bool armOnSignal = false;
  std::string stateFile;
  unsigned long shiftHours = 0;  // 0: no shift open at start
  bool paperOut = false;
  bool unregistered = false;
};

void Usage(std::ostream& out) {
  out << "usage: mirel-emu [--com N] [--link PATH] [--trace] [--tape FILE] [--baud RATE]\n"
         "                 [--ready-file FILE] [--firmware 1.05|1.00 | --banner TEXT] [--fd-backlog N]\n"
         "                 [--fd-error CODE] [--fd-zero-blocks N] [--fd-stall N] [--fd-overlong N]\n"
         "                 [--fd-refuse N] [--fd-endless-echo] [--texts-after-payment]\n"
         "                 [--shift-hours N] [--paper-out] [--unregistered]\n"
         "                 [--fault FAULT]... [--arm-on-signal] [--state-file FILE]\n"
         "                 [--timing realistic|none] [--command-ms N] [--line-ms N] [--document-ms N]\n"
         "  --shift-hours N  a shift opened N hours ago (from 24 on the printer asks for the Z report)\n"
         "  --paper-out      no paper at start; SIGUSR2 puts paper in\n"
         "  --unregistered   a new fiscal drive, ready for its first registration\n";
}

// Reads a positive number; false when `text` is not one.
bool ParseNumber(const char* text, unsigned long* value) {
  char* end = nullptr;
  *value = std::strtoul(text, &end, 10);
  return end != text && *end == '\0' && *value > 0;
}

// The supported model's banner of firmware "1.05" or "1.00"; false for any other text.
bool FirmwareBanner(const std::string& version, std::string* banner) {
  if (version != "1.05" && version != "1.00") return false;
  *banner = version == "1.05" ? emu::kBannerFfd105 : emu::kBannerFfd100;
  return true;
}

// The options of the printer's own time.
bool ParseTimingOption(const std::string& arg, const char* value, Options* o) {
  if (!value) return false;
  if (arg == "--timing") {
    const std::string v = value;
    if (v != "realistic" && v != "none") return false;
    o->timing = v == "realistic" ? emu::RealisticTiming() : emu::DeviceTiming();
    return true;
  }
  unsigned long ms = 0;
  if (!ParseNumber(value, &ms) || ms > 60000) return false;
  const uint32_t us = static_cast<uint32_t>(ms * 1000);
  if (arg == "--command-ms") {
    o->timing.commandUs = us;
  } else if (arg == "--line-ms") {
    o->timing.printLineUs = us;
  } else if (arg == "--document-ms") {
    o->timing.documentUs = us;
  } else {
    return false;
  }
  return true;
}

// The fiscal drive's options that take a number.
bool ParseFiscalDriveOption(const std::string& arg, const char* value, Options* o) {
  unsigned long n = 0;
  if (!value || !ParseNumber(value, &n)) return false;
  const int count = static_cast<int>(n);
  if (arg == "--fd-backlog") {
    o->fdBacklog = n;
  } else if (arg == "--fd-error" && n <= 0xFF) {
    o->fdFaults.errorAnswer = static_cast<uint8_t>(n);
  } else if (arg == "--fd-zero-blocks") {
    o->fdFaults.zeroBlocks = count;
  } else if (arg == "--fd-stall") {
    o->fdFaults.stalledReads = count;
  } else if (arg == "--fd-overlong") {
    o->fdFaults.overlongBlocks = count;
  } else if (arg == "--fd-refuse") {
    o->fdFaults.refusedReceipts = count;
  } else {
    return false;
  }
  return true;
}

// A fault as the table writes it; tried on a printer of its own, so that a mistake is told at
// start and not when the faults are armed.
bool ParseFaultOption(const char* text, Options* o) {
  emu::VirtualPrinter unstarted;
  std::string error;
  if (!emu::ApplyPrinterFault(unstarted, text, &error)) {
    std::cerr << "mirel-emu: " << error << "\n";
    return false;
  }
  o->faults.push_back(text);
  return true;
}

// A shift open for longer than a month is no state a printer is found in.
constexpr unsigned long kMaxShiftHours = 24 * 31;

bool ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    unsigned long n = 0;
    if (arg == "--trace") {
      o->trace = true;
    } else if (arg == "--com" && hasValue && ParseNumber(argv[++i], &n)) {
      o->com = static_cast<int>(n);
    } else if (arg == "--baud" && hasValue && ParseNumber(argv[++i], &n)) {
      o->baud = n;
    } else if (arg == "--link" && hasValue) {
      o->link = argv[++i];
    } else if (arg == "--ready-file" && hasValue) {
      o->readyFile = argv[++i];
    } else if (arg == "--tape" && hasValue) {
      o->tapeFile = argv[++i];
    } else if (arg == "--firmware" && hasValue && FirmwareBanner(argv[++i], &o->banner)) {
    } else if (arg == "--banner" && hasValue) {
      o->banner = argv[++i];
    } else if (arg == "--fault" && hasValue && ParseFaultOption(argv[++i], o)) {
    } else if (arg == "--arm-on-signal") {
      o->armOnSignal = true;
    } else if (arg == "--state-file" && hasValue) {
      o->stateFile = argv[++i];
    } else if (arg == "--fd-endless-echo") {
      o->fdFaults.endlessEcho = true;
    } else if (arg == "--texts-after-payment") {
      o->textsAfterPayment = true;
    } else if (arg == "--shift-hours" && hasValue && ParseNumber(argv[++i], &n) && n <= kMaxShiftHours) {
      o->shiftHours = n;
    } else if (arg == "--paper-out") {
      o->paperOut = true;
    } else if (arg == "--unregistered") {
      o->unregistered = true;
    } else if (ParseFiscalDriveOption(arg, hasValue ? argv[i + 1] : nullptr, o) ||
               ParseTimingOption(arg, hasValue ? argv[i + 1] : nullptr, o)) {
      ++i;
    } else {
      return false;
    }
  }
  return true;
}

void PrintLive(const emu::TraceEntry& entry, std::chrono::steady_clock::time_point start) {
  double seconds = std::chrono::duration<double>(entry.time - start).count();
  std::printf("%9.3f %s\n", seconds, emu::FormatTraceEntry(entry).c_str());
  std::fflush(stdout);
}

// Appends the lines printed since the last call to `tape`; `printed` counts the lines written.
void WriteNewTapeLines(const emu::VirtualPrinter& printer, std::ofstream& tape, size_t* printed) {
  const std::vector<emu::TapeLine> lines = printer.State().tape;
  for (; *printed < lines.size(); ++*printed) tape << lines[*printed].text << '\n';
  tape.flush();
}

// Arms every --fault once more; they parsed at start, so they arm now.
void ArmFaults(emu::VirtualPrinter& printer, const Options& options) {
  for (const std::string& text : options.faults) emu::ApplyPrinterFault(printer, text, nullptr);
}

// What a script reads of the printer. Written to a temporary file and renamed, so that a reader
// never sees half of it; only when it changed.
// One line for each receipt and correction receipt of the drive, "sold NUMBER TOTAL ITEMS CASH
// ELECTRONIC ADVANCE CREDIT PROVISION" (kopecks, read back from its FFD document), and for each cash
// document the printer closed, "cash in|out TOTAL".
std::string SoldLines(const emu::PrinterState& s) {
  std::string lines;
  for (const emu::FdDocument& d : s.fd.documents) {
    emu::Sold sold;
    if (!emu::ReadSold(d, &sold)) continue;
    lines += "sold " + std::to_string(d.number);
    for (int64_t v : {sold.total, static_cast<int64_t>(sold.items), sold.cash, sold.electronic, sold.advance,
                      sold.credit, sold.provision}) {
      lines += ' ' + std::to_string(v);
    }
    lines += '\n';
  }
  for (const emu::Receipt& r : s.closedReceipts) {
    if (r.kind == emu::kCashIn || r.kind == emu::kCashOut)
      lines +=
          std::string("cash ") + (r.kind == emu::kCashIn ? "in " : "out ") + std::to_string(r.total) + '\n';
  }
  return lines;
}

void WriteState(const std::string& path, const emu::VirtualPrinter& printer, int armed,
                std::string* written) {
  const emu::PrinterState s = printer.State();
  std::string text = "documents " + std::to_string(s.fd.documents.size()) + "\narmed " +
                     std::to_string(armed) + "\npaper " + (s.paperEnd ? "out" : "in") + "\n";
  text += SoldLines(s);
  if (text == *written) return;
  const std::string temporary = path + ".new";
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << text;
    if (!out.flush()) return;
  }
  if (std::rename(temporary.c_str(), path.c_str()) == 0) *written = text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--help") {
    Usage(std::cout);
    return 0;
  }
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    Usage(std::cerr);
    return 2;
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGUSR1, OnArmSignal);
  std::signal(SIGUSR2, OnPaperSignal);

  emu::VirtualPrinter printer;
  printer.SetBaudRate(static_cast<uint32_t>(options.baud));
  printer.SetTiming(options.timing);
  printer.ModifyState([&](emu::PrinterState& s) {
    s.banner = options.banner;
    s.fd.faults = options.fdFaults;
    s.paidSaleClosesAtOnce = !options.textsAfterPayment;
    if (options.unregistered) emu::MakeUnregistered(&s);
    emu::PreloadDocuments(&s, static_cast<int>(options.fdBacklog));
    if (options.shiftHours > 0) emu::OpenShiftHoursAgo(&s, static_cast<int>(options.shiftHours));
    s.paperEnd = options.paperOut;
  });
  int armed = 0;
  if (!options.armOnSignal && !options.faults.empty()) {
    ArmFaults(printer, options);
    armed = 1;
  }
  if (options.trace) {
    auto start = std::chrono::steady_clock::now();
    printer.SetTraceListener([start](const emu::TraceEntry& e) { PrintLive(e, start); });
  }
  if (!printer.Start(options.link)) {
    std::cerr << "mirel-emu: cannot open a pseudo-terminal"
              << (options.link.empty() ? "" : " or make the link " + options.link) << "\n";
    return 1;
  }
  // The link, when asked for, is the stable name to hand to the driver.
  std::string path = options.link.empty() ? printer.PortPath() : options.link;
  std::printf("port %s\nMIREL_COM%d=%s\n", printer.PortPath().c_str(), options.com, path.c_str());
  std::fflush(stdout);
  if (!options.readyFile.empty()) std::ofstream(options.readyFile) << path << "\n";

  std::ofstream tape;
  if (!options.tapeFile.empty()) tape.open(options.tapeFile, std::ios::app);
  size_t printed = 0;
  std::string state;
  // A signal handler may only set a flag; look at it often enough that stopping feels immediate.
  while (!g_quit) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (options.armOnSignal) {
      for (; armed < g_armRequests; ++armed) ArmFaults(printer, options);
    }
    if (g_paperRequests.exchange(0) > 0)
      printer.ModifyState([](emu::PrinterState& s) { s.paperEnd = false; });
    if (tape.is_open()) WriteNewTapeLines(printer, tape, &printed);
    if (!options.stateFile.empty()) WriteState(options.stateFile, printer, armed, &state);
  }
  printer.Stop();
  if (tape.is_open()) WriteNewTapeLines(printer, tape, &printed);
  if (!options.stateFile.empty()) WriteState(options.stateFile, printer, armed, &state);
  return 0;
}
