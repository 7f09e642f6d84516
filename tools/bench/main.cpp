// mirel-bench: how long a receipt and every other host method a cashier waits for take through the
// host interface against the virtual printer, next to the least the line and the printer allow.
//
//   mirel-bench [--quick] [--fixed-pauses] [--receipts N] [--documents N]
//
// For 1, 5, 20 and 100 items at 9600 and 115200 bit/s it runs Open, then ProcessCheck, and prints
// the wall time, the lower bound and their ratio, the commands sent, the bytes on the line (all and
// per item) and the driver's CPU time. The
// bound is the printer's accounting of the bytes on the line and of its own command, print and
// fiscal-drive time, plus every rest the driver's protocol makes it keep (after a clerk logs on or
// off or is stored, after a refused payment, before a receipt-state query, before acknowledging a
// record, before sending again after NAK or busy); the rests are shown in a column of their own.
// The 20- and 100-item receipts at 9600 bit/s run again with the printer's rates read before every
// item, as the driver once did, for the comparison in the same run. Open, OpenShift, CloseShift,
// the X report, the settlements report, GetDataKKT, a correction receipt, a cash in, a text
// document and the device test are measured the same way, once each at both speeds.
// Then the relay drains N waiting documents (1,000) to the test OFD server at both speeds; 500
// receipts of 20 items run on an unpaced line for the driver's CPU time, divided into its own code
// and the kernel's work for it; and N receipts (10,000) run on that line with the resident memory
// taken after 100 and at the end. --fixed-pauses sleeps every pause before an answer out, as the
// driver did before its waits ended on the answer; --quick runs a small form of everything in
// seconds.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "addin/mirel240f.h"
#include "device/info_queries.h"
#include "emu/fiscal_drive.h"
#include "emu/virtual_printer.h"
#include "host/host_services.h"
#include "host/host_session.h"
#include "ofd-stub/ofd_stub.h"
#include "platform/clock.h"
#include "platform/process.h"

namespace {

using Steady = std::chrono::steady_clock;

constexpr int kPort = 9;
// The virtual printer's operator password.
constexpr char kPassword[] = "472913";
double MsSince(Steady::time_point start) {
  return std::chrono::duration<double, std::milli>(Steady::now() - start).count();
}

// The driver's time on the system clock, with its rests added up. Every fixed pause the driver
// sleeps is a rest its protocol requires, whatever the printer does; the relay's waits between
// its cycles (after each ticket it loaded) are added up apart, as the time they really took. With
// fixedPauses a pause before an answer is slept out whole instead of ending when the answer
// arrives (that is not a rest: the printer is working meanwhile); with skipPauses the rests are
// only counted, as on a test's fake clock.
class BenchClock : public plat::Clock {
 public:
  uint32_t TickMs() override { return plat::SystemClock().TickMs(); }
  void SleepMs(uint32_t ms) override {
    restMs += ms;
    if (!skipPauses) plat::SystemClock().SleepMs(ms);
  }
  bool SleepUnless(uint32_t ms, plat::WakeEvent& wake) override {
    const Steady::time_point start = Steady::now();
    const bool woken = plat::SystemClock().SleepUnless(ms, wake);
    relayWaitUs += static_cast<uint64_t>(MsSince(start) * 1000.0);
    return woken;
  }
  bool SleepUntilReady(uint32_t ms, plat::Readiness& ready) override {
    if (!fixedPauses) return plat::SystemClock().SleepUntilReady(ms, ready);
    plat::SystemClock().SleepMs(ms);
    return false;
  }
  plat::CalendarTime LocalTime() override { return plat::SystemClock().LocalTime(); }
  plat::CalendarTime UtcTime() override { return plat::SystemClock().UtcTime(); }
  int64_t UnixTime() override { return plat::SystemClock().UnixTime(); }

  std::atomic<uint64_t> restMs{0};
  std::atomic<uint64_t> relayWaitUs{0};
  bool fixedPauses = false;
  bool skipPauses = false;
};

struct Options {
  bool quick = false;
  bool fixedPauses = false;
  int receipts = 10000;
  int documents = 1000;
};

std::string SaleOf(int items) {
  std::string positions;
  for (int i = 0; i < items; ++i) {
    positions += "<FiscalString Name=\"Tea " + std::to_string(i + 1) +
                 "\" Quantity=\"1\" PriceWithDiscount=\"5.00\" SumWithDiscount=\"5.00\" Tax=\"20\""
                 " Department=\"1\" SignMethodCalculation=\"4\" SignCalculationObject=\"1\"/>";
  }
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><CheckPackage><Parameters CashierName=\"Ivanova\""
         " PaymentType=\"1\" TaxVariant=\"0\"/><Positions>" +
         positions + "</Positions><Payments Cash=\"" + std::to_string(5 * items) + ".00\"/></CheckPackage>";
}

HostCall Call(const std::string& method, std::vector<HostArg> args) {
  return HostCall{method, std::move(args)};
}

// The host's stored settings of one bench, in a file that is removed before and after it, so that
// no bench inherits another's settings (a relay's server address above all, which would start a
// relay to a closed port in every bench after it).
class ScratchProfile {
 public:
  ScratchProfile() : m_path(std::filesystem::temp_directory_path() / "mirel-bench.profile") { Remove(); }
  ~ScratchProfile() { Remove(); }
  std::string Path() const { return m_path.string(); }

 private:
  void Remove() {
    std::error_code ec;
    std::filesystem::remove(m_path, ec);
  }
  std::filesystem::path m_path;
};

// The driver as the host has it, on a virtual printer at one speed, its pauses on the bench clock.
class Bench {
 public:
  Bench(uint32_t baud, const emu::DeviceTiming& timing, bool fixedPauses)
      : m_connection(m_profile.Path()), m_session(m_out) {
    m_clock.fixedPauses = fixedPauses;
    m_printer.SetBaudRate(baud);
    m_printer.SetTiming(timing);
    m_printer.ModifyState([](emu::PrinterState& s) {
      s.shiftOpen = true;
      s.shiftNumber = 1;
      s.shiftOpenedAt = s.now;
    });
    m_baud = baud;
  }
  ~Bench() { m_session.Run(Call("Close", {{"$DeviceID", false}})); }

  // Starts the printer and the component and opens the device; false with a message on failure.
  bool Open(const std::vector<std::pair<std::string, std::string>>& settings = {}) {
    return Start(settings) && RunCall(Call("Open", {}));
  }
  // Starts the printer and the component and hands over the settings, the device not yet opened.
  bool Start(const std::vector<std::pair<std::string, std::string>>& settings = {}) {
    std::string error;
    if (!m_printer.Start() ||
        !plat::SetEnvironment("MIREL_COM" + std::to_string(kPort), m_printer.PortPath())) {
      std::fprintf(stderr, "mirel-bench: the virtual printer did not start\n");
      return false;
    }
    if (!m_session.Start(m_connection, &error)) {
      std::fprintf(stderr, "mirel-bench: %s\n", error.c_str());
      return false;
    }
    static_cast<CMirel240F*>(m_session.Component())->Device()->pClock = &m_clock;
    const std::string speed = m_baud == 9600 ? "1" : "6";
    Set("Port", std::to_string(kPort));
    Set("Speed", speed);
    Set("Password", kPassword);
    for (const auto& s : settings) Set(s.first, s.second);
    return true;
  }
  bool Receipt(const std::string& sale) {
    return RunCall(Call("ProcessCheck", {{"$DeviceID", false}, {"false", false}, {sale, true}}));
  }
  bool RunCall(const HostCall& call) {
    m_out.str("");
    const CallOutcome outcome = m_session.Run(call);
    if (outcome != CallOutcome::kSucceeded) std::fprintf(stderr, "%s", m_out.str().c_str());
    return outcome == CallOutcome::kSucceeded;
  }
  FPContext* Device() { return static_cast<CMirel240F*>(m_session.Component())->Device(); }
  emu::VirtualPrinter& Printer() { return m_printer; }
  BenchClock& Clock() { return m_clock; }
  uint32_t Baud() const { return m_baud; }

 private:
  void Set(const std::string& name, const std::string& value) {
    RunCall(Call("SetParameter", {{name, true}, {value, true}}));
  }

  // Declared before the session, whose Done writes the profile once more and still uses the rest.
  ScratchProfile m_profile;
  BenchClock m_clock;
  emu::VirtualPrinter m_printer;
  HostConnection m_connection;
  std::ostringstream m_out;
  HostSession m_session;
  uint32_t m_baud = 0;
};

// What one host call cost: the wall time, and its bound, the wire and the printer's own time
// (line) plus the driver's rests; the bytes on the line both ways.
struct Cost {
  double wallMs = 0;
  double lineMs = 0;
  double restMs = 0;
  double cpuMs = 0;
  uint64_t bytes = 0;
  uint64_t commands = 0;
  bool ok = false;
  double BoundMs() const { return lineMs + restMs; }
};

Cost Measure(Bench& bench, const std::function<bool()>& call) {
  bench.Printer().ResetAccounts();
  bench.Clock().restMs = 0;
  Cost c;
  const uint64_t cpuStart = plat::ThreadCpuMicros();
  const Steady::time_point start = Steady::now();
  c.ok = call();
  c.wallMs = MsSince(start);
  c.cpuMs = (plat::ThreadCpuMicros() - cpuStart) / 1000.0;
  const emu::Accounts a = bench.Printer().GetAccounts();
  c.lineMs = (a.wireUs + a.deviceUs) / 1000.0;
  c.restMs = static_cast<double>(bench.Clock().restMs);
  c.bytes = a.bytesReceived + a.bytesSent;
  c.commands = a.commands;
  return c;
}

// One receipt of `items` items, measured after one of the same to warm up. With bS3EveryUse the
// driver reads the printer's rates before every item again, as it did before it kept them for the
// call.
Cost ReceiptCost(uint32_t baud, int items, bool fixedPauses, bool bS3EveryUse) {
  Bench bench(baud, emu::RealisticTiming(), fixedPauses);
  const std::string sale = SaleOf(items);
  SetS3ReadEveryUse(bS3EveryUse);
  Cost c;
  if (bench.Open() && bench.Receipt(sale)) c = Measure(bench, [&] { return bench.Receipt(sale); });
  SetS3ReadEveryUse(false);
  return c;
}

void ReceiptCase(uint32_t baud, int items, bool fixedPauses) {
  const Cost c = ReceiptCost(baud, items, fixedPauses, false);
  std::printf("%7u %6d %-7s %8.0f %8.0f %8.0f %8.0f %6.2f %8llu %7llu %6.0f %7.3f%s\n", baud, items,
              fixedPauses ? "fixed" : "answer", c.wallMs, c.lineMs, c.restMs, c.BoundMs(),
              c.wallMs / c.BoundMs(), static_cast<unsigned long long>(c.commands),
              static_cast<unsigned long long>(c.bytes), static_cast<double>(c.bytes) / items, c.cpuMs,
              c.ok ? "" : "  (failed)");
}

// The same receipt with the rates read once per call and read before every item, in one run.
void RereadCase(uint32_t baud, int items) {
  const Cost before = ReceiptCost(baud, items, false, true);
  const Cost now = ReceiptCost(baud, items, false, false);
  std::printf("%7u %6d %10.0f %10.0f %8.2f %12llu %12llu%s\n", baud, items, before.wallMs, now.wallMs,
              now.wallMs / before.wallMs, static_cast<unsigned long long>(before.bytes),
              static_cast<unsigned long long>(now.bytes), before.ok && now.ok ? "" : "  (failed)");
}

// A host method other than the receipt, once, on a printer whose shift is open or closed as the
// method needs, on a device opened before it (or not, for Open and the device test).
struct MethodCall {
  const char* label;
  bool bShiftOpen;
  bool bOpened;
  HostCall call;
};

std::vector<MethodCall> MethodCalls() {
  const HostArg id{"$DeviceID", false};
  const HostArg cashier{
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><InputParameters><Parameters CashierName=\"Ivanova\""
      " CashierVATIN=\"500100732259\"/></InputParameters>",
      true};
  const HostArg correction{
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><CheckCorrectionPackage><Parameters CashierName=\"Ivanova\""
      " CorrectionType=\"1\" CorrectionBaseName=\"Order\" CorrectionBaseDate=\"2024-05-01\""
      " CorrectionBaseNumber=\"12-05\" PaymentType=\"1\" TaxVariant=\"0\" Sum=\"7.20\" SumTAX20=\"1.20\"/>"
      "<Payments Cash=\"7.20\"/></CheckCorrectionPackage>",
      true};
  std::string lines;
  for (int i = 1; i <= 10; ++i) lines += "<TextString Text=\"Line " + std::to_string(i) + " of the slip\"/>";
  const HostArg text{"<?xml version=\"1.0\" encoding=\"UTF-8\"?><Document><Positions>" + lines +
                         "<Barcode BarcodeType=\"QR\" Barcode=\"https://example.ru/card/000123\"/>"
                         "</Positions></Document>",
                     true};
  return {
      {"Open", true, false, Call("Open", {})},
      {"OpenShift", false, true, Call("OpenShift", {id, cashier})},
      {"CloseShift", true, true, Call("CloseShift", {id, cashier})},
      {"PrintXReport", true, true, Call("PrintXReport", {id, cashier})},
      {"Settlements", true, true, Call("ReportCurrentStatusOfSettlements", {id, cashier})},
      {"GetDataKKT", true, true, Call("GetDataKKT", {id})},
      {"Correction", true, true, Call("ProcessCorrectionCheck", {id, correction})},
      {"CashIn", true, true, Call("CashInOutcome", {id, cashier, {"5000", false}})},
      {"TextDocument", true, true, Call("PrintTextDocument", {id, text})},
      {"DeviceTest", true, false, Call("DeviceTest", {})},
  };
}

void MethodCase(uint32_t baud, const MethodCall& m) {
  Bench bench(baud, emu::RealisticTiming(), false);
  if (!m.bShiftOpen) bench.Printer().ModifyState([](emu::PrinterState& s) { s.shiftOpen = false; });
  Cost c;
  if (bench.Start() && (!m.bOpened || bench.RunCall(Call("Open", {}))))
    c = Measure(bench, [&] { return bench.RunCall(m.call); });
  std::printf("%7u %-13s %8.0f %8.0f %8.0f %8.0f %6.2f %8llu %7llu%s\n", baud, m.label, c.wallMs, c.lineMs,
              c.restMs, c.BoundMs(), c.BoundMs() > 0 ? c.wallMs / c.BoundMs() : 0.0,
              static_cast<unsigned long long>(c.commands), static_cast<unsigned long long>(c.bytes),
              c.ok ? "" : "  (failed)");
}

// The relay moving `documents` waiting documents to the test OFD server. The line's capacity is
// taken over the whole run (Open included), and over the run less the relay's waits after each
// ticket, during which it may send nothing. The driver's shorter fixed pauses stay in: the host's
// may overlap the relay's traffic.
void RelayCase(uint32_t baud, int documents) {
  ofdstub::OfdStub server;
  if (!server.Start()) {
    std::fprintf(stderr, "mirel-bench: the test OFD server did not start\n");
    return;
  }
  Bench bench(baud, emu::RealisticTiming(), false);
  bench.Printer().ModifyState([documents](emu::PrinterState& s) { emu::PreloadDocuments(&s, documents); });
  bench.Printer().ResetAccounts();
  const Steady::time_point start = Steady::now();
  if (!bench.Open({{"AddressFDO", "127.0.0.1"}, {"PortFDO", std::to_string(server.Port())}})) return;
  while (!emu::Backlog(bench.Printer().State()).empty())
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const double seconds = MsSince(start) / 1000.0;
  const double restSeconds = bench.Clock().relayWaitUs / 1e6;
  const emu::Accounts a = bench.Printer().GetAccounts();
  const double bytes = static_cast<double>(a.bytesReceived + a.bytesSent);
  const double bytesPerSecond = baud / 11.0;
  std::printf("%7u %9d %9.1f %9.1f %9.1f %13.0f %8.1f %% %8.1f %%\n", baud, documents, seconds,
              documents / seconds, restSeconds, bytes, 100.0 * bytes / (bytesPerSecond * seconds),
              100.0 * bytes / (bytesPerSecond * (seconds - restSeconds)));
  server.Stop();
}

// The printer keeps what it printed and signed; a long run drops it, so that only the driver's
// memory is left to grow.
void TrimPrinter(emu::VirtualPrinter& printer) {
  printer.ClearTrace();
  printer.ModifyState([](emu::PrinterState& s) {
    s.tape.clear();
    s.closedReceipts.clear();
    while (s.fd.documents.size() > 10) s.fd.documents.pop_front();
  });
}

// A bench whose line is unpaced and whose printer answers at once, the driver's rests counted by
// the bench's clock and not slept: what is left is the driver's own work and its waits for answers.
bool OpenUnpaced(Bench* bench) {
  bench->Clock().skipPauses = true;
  return bench->Open();
}

// The driver's CPU time for `receipts` receipts of 20 items, after 20 to warm up, divided into its
// own code and the kernel's work for it (its system calls, and sleeping and waking for every answer
// it waits for). Over many receipts the division is good, unlike in one.
void CpuCase(int receipts) {
  Bench bench(0, emu::DeviceTiming(), false);
  const std::string sale = SaleOf(20);
  if (!OpenUnpaced(&bench)) return;
  for (int i = 0; i < 20; ++i) bench.Receipt(sale);
  TrimPrinter(bench.Printer());
  int failed = 0;
  const plat::CpuTimes start = plat::ThreadCpuTimes();
  for (int i = 1; i <= receipts; ++i) {
    failed += bench.Receipt(sale) ? 0 : 1;
    if (i % 50 == 0) TrimPrinter(bench.Printer());
  }
  const plat::CpuTimes end = plat::ThreadCpuTimes();
  const double per = 1000.0 * receipts;
  std::printf("%9d %10.3f %10.3f %10.3f %7d\n", receipts, (end.TotalMicros() - start.TotalMicros()) / per,
              (end.userMicros - start.userMicros) / per, (end.kernelMicros - start.kernelMicros) / per,
              failed);
}

// The driver's pauses are only counted here, as a test's clock does: what is measured is memory.
void MemoryCase(int receipts) {
  Bench bench(0, emu::DeviceTiming(), false);
  const std::string sale = SaleOf(5);
  if (!OpenUnpaced(&bench)) return;
  const int early = std::min(100, receipts);
  uint64_t startBytes = 0;
  int failed = 0;
  for (int i = 1; i <= receipts; ++i) {
    failed += bench.Receipt(sale) ? 0 : 1;
    if (i % 50 == 0) TrimPrinter(bench.Printer());
    if (i == early) startBytes = plat::ResidentBytes();
  }
  const uint64_t endBytes = plat::ResidentBytes();
  std::printf("%9d %12.1f %12.1f %+12.1f %7d\n", receipts, startBytes / 1024.0, endBytes / 1024.0,
              (static_cast<double>(endBytes) - static_cast<double>(startBytes)) / 1024.0, failed);
}

bool ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--quick") {
      o->quick = true;
    } else if (arg == "--fixed-pauses") {
      o->fixedPauses = true;
    } else if ((arg == "--receipts" || arg == "--documents") && i + 1 < argc) {
      (arg == "--receipts" ? o->receipts : o->documents) = std::atoi(argv[++i]);
      if (o->receipts < 1 || o->documents < 1) return false;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr, "usage: mirel-bench [--quick] [--fixed-pauses] [--receipts N] [--documents N]\n");
    return 2;
  }
  const std::vector<uint32_t> speeds =
      options.quick ? std::vector<uint32_t>{115200} : std::vector<uint32_t>{9600, 115200};
  const std::vector<int> items = options.quick ? std::vector<int>{1, 5} : std::vector<int>{1, 5, 20, 100};

  std::printf(
      "Receipts (one ProcessCheck after Open; line = the wire and the printer's own time, rests = the\n"
      "pauses the driver's protocol requires, bound = line + rests, ratio = wall / bound)\n");
  std::printf("%7s %6s %-7s %8s %8s %8s %8s %6s %8s %7s %6s %7s\n", "bit/s", "items", "pauses", "wall ms",
              "line ms", "rests ms", "bound ms", "ratio", "commands", "bytes", "b/item", "cpu ms");
  for (uint32_t baud : speeds) {
    for (int n : items) ReceiptCase(baud, n, options.fixedPauses);
  }

  std::printf(
      "\nThe printer's rates read once per call against before every item, as the driver did before\n"
      "(one receipt each, in this run; now = wall now / wall before)\n");
  std::printf("%7s %6s %10s %10s %8s %12s %12s\n", "bit/s", "items", "before ms", "now ms", "now",
              "bytes before", "bytes now");
  for (int n : options.quick ? std::vector<int>{5} : std::vector<int>{20, 100}) RereadCase(speeds.front(), n);

  std::printf(
      "\nThe other host methods (once each, on a device opened before it but for Open and the device\n"
      "test; line, rests and bound as for the receipts)\n");
  std::printf("%7s %-13s %8s %8s %8s %8s %6s %8s %7s\n", "bit/s", "method", "wall ms", "line ms", "rests ms",
              "bound ms", "ratio", "commands", "bytes");
  for (uint32_t baud : speeds) {
    for (const MethodCall& m : MethodCalls()) MethodCase(baud, m);
  }

  std::printf(
      "\nRelay (waiting documents to the test OFD server; the line's byte capacity used over the whole\n"
      "run, which the 80 %% goal is judged on, and over the run less the rests the relay must keep:\n"
      "its wait of 100 ms after each ticket it loaded)\n");
  std::printf("%7s %9s %9s %9s %9s %13s %10s %10s\n", "bit/s", "documents", "seconds", "docs/s", "rests s",
              "line bytes", "of line", "w/o rests");
  for (uint32_t baud : speeds) RelayCase(baud, options.quick ? 20 : options.documents);

  std::printf(
      "\nDriver CPU per 20-item receipt (the line unpaced and the printer's timing off, the driver's\n"
      "rests counted without sleeping; user = the driver's own code, kernel = its system calls and\n"
      "its sleeps and wake-ups while it waits for answers)\n");
  std::printf("%9s %10s %10s %10s %7s\n", "receipts", "cpu ms", "user ms", "kernel ms", "failed");
  CpuCase(options.quick ? 20 : 500);

  std::printf(
      "\nMemory (5-item receipts: the line unpaced and the printer's timing off; the driver's rests run on\n"
      "the bench's own clock, which counts them without sleeping)\n");
  std::printf("%9s %12s %12s %12s %7s\n", "receipts", "KiB at 100", "KiB at end", "growth KiB", "failed");
  MemoryCase(options.quick ? 200 : options.receipts);
  return 0;
}
