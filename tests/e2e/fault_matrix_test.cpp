// The fault table (tests/faults/matrix.txt) run through the component as the host runs it, on the
// virtual printer and the test OFD server: for each row, the setup script, then the row's faults
// armed, then the calls script. Checked for each row: the last call's result and GetLastError code,
// its duration against the row's bound (the printer's pauses pass on the test's clock, so the bound
// holds for real elapsed time plus the clock's advance), that the fiscal drive made exactly as
// many documents as the host was told succeeded, and what each says was sold: every receipt and
// correction receipt the host was told was made is one document of the drive carrying its
// package's total, number of items and payment split (read from the drive's own FFD document), a
// cash in or out told made is one cash document of its amount, and a call told failed left none.
// After a receipt row the component makes the next receipt on the healthy line as it should.
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "e2e/host_on_printer.h"
#include "emu/printer_faults.h"
#include "emu/receipt.h"
#include "emu/sold.h"
#include "ofd-stub/ofd_stub.h"

namespace emu {
// How a failed comparison shows what was sold.
void PrintTo(const Sold& s, std::ostream* out) {
  *out << "total " << s.total << ", " << s.items << " items, cash " << s.cash << ", electronically "
       << s.electronic << ", advance " << s.advance << ", credit " << s.credit << ", provision "
       << s.provision;
}
}  // namespace emu

namespace {

using std::chrono::duration;

const std::string kFaultsDir = MIREL_TESTS_DIR "/faults";

// The calls that make a fiscal document when they succeed.
const std::set<std::string> kDocumentCalls = {"ProcessCheck", "ProcessCorrectionCheck",
                                              "OpenShift",    "CloseShift",
                                              "OperationFN",  "ReportCurrentStatusOfSettlements"};

using emu::Sold;

Sold SoldByDocument(const emu::FdDocument& d) {
  Sold sold;
  emu::ReadSold(d, &sold);
  return sold;
}

int64_t Kopecks(const TiXmlElement* e, const char* name) {
  const char* v = e ? e->Attribute(name) : nullptr;
  return v ? std::llround(std::strtod(v, nullptr) * 100) : 0;
}

// What the host's package of a receipt or a correction receipt sells: the items' sums, their count,
// each cashless payment, and cash for the rest (the printer gives the change from it).
Sold SoldByPackage(const std::string& method, const std::string& package) {
  TiXmlDocument xml;
  xml.Parse(package.c_str(), nullptr, TIXML_ENCODING_UTF8);
  const TiXmlElement* root = xml.RootElement();
  Sold sold;
  if (!root) return sold;
  const TiXmlElement* payments = root->FirstChildElement("Payments");
  sold.electronic = Kopecks(payments, "ElectronicPayment");
  sold.advance = Kopecks(payments, "AdvancePayment");
  sold.credit = Kopecks(payments, "Credit");
  sold.provision = Kopecks(payments, "CashProvision");
  const TiXmlElement* parameters = root->FirstChildElement("Parameters");
  if (method == "ProcessCorrectionCheck") {
    sold.total = Kopecks(parameters, "Sum");
    for (const TiXmlAttribute* a = parameters ? parameters->FirstAttribute() : nullptr; a; a = a->Next()) {
      if (std::string(a->Name()).rfind("SumTAX", 0) == 0 && Kopecks(parameters, a->Name()) != 0) ++sold.items;
    }
    sold.cash = Kopecks(payments, "Cash");
    return sold;
  }
  sold.total = 0;
  const TiXmlElement* positions = root->FirstChildElement("Positions");
  for (const TiXmlElement* e = positions ? positions->FirstChildElement("FiscalString") : nullptr; e;
       e = e->NextSiblingElement("FiscalString")) {
    sold.total += Kopecks(e, "SumWithDiscount");
    ++sold.items;
  }
  sold.cash = sold.total - sold.electronic - sold.advance - sold.credit - sold.provision;
  return sold;
}

// The calls of a receipt, a correction receipt and a cash document, whose content is checked.
const std::set<std::string> kReceiptCalls = {"ProcessCheck", "ProcessCorrectionCheck", "CashInOutcome"};

struct FaultCase {
  std::string name;
  std::string printerFault;  // "-": none
  std::string ofdFault;      // "-": none
  std::string setup;
  std::string calls;
  bool ok = false;
  long code = 0;
  double boundSeconds = 0;
  bool wine = false;
};

void PrintTo(const FaultCase& c, std::ostream* out) {
  *out << c.name;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t at = line.find(" | "); at != std::string::npos; at = line.find(" | ", start)) {
    fields.push_back(line.substr(start, at - start));
    start = at + 3;
  }
  fields.push_back(line.substr(start));
  for (std::string& f : fields) {
    f.erase(0, f.find_first_not_of(' '));
    f.erase(f.find_last_not_of(' ') + 1);
  }
  return fields;
}

bool IsKebabCase(const std::string& name) {
  return !name.empty() && name.front() != '-' && name.back() != '-' &&
         std::all_of(name.begin(), name.end(),
                     [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'; });
}

// "True" or "False CODE".
bool ParseExpect(const std::string& text, FaultCase* c) {
  if (text == "True") return c->ok = true;
  std::istringstream in(text);
  std::string word;
  char rest = 0;
  return in >> word >> c->code && word == "False" && c->code != 0 && !(in >> rest);
}

bool ParseRow(const std::string& line, FaultCase* c, std::string* why) {
  const std::vector<std::string> f = Fields(line);
  if (f.size() != 8) return *why = "expected 8 fields", false;
  c->name = f[0];
  c->printerFault = f[1];
  c->ofdFault = f[2];
  c->setup = f[3];
  c->calls = f[4];
  c->wine = f[7] == "wine";
  if (!IsKebabCase(c->name)) return *why = "the name is not kebab-case", false;
  if (!ParseExpect(f[5], c)) return *why = "expected True or False CODE", false;
  char* end = nullptr;
  c->boundSeconds = std::strtod(f[6].c_str(), &end);
  if (f[6].empty() || *end != '\0' || c->boundSeconds <= 0) return *why = "the bound is no number", false;
  if (f[7] != "wine" && f[7] != "-") return *why = "expected wine or -", false;
  return true;
}

std::string ScriptPath(const std::string& name) {
  return kFaultsDir + "/" + name + ".host";
}

// The rows of the table; what cannot be read goes to `errors` as "line N: why".
std::vector<FaultCase> ReadMatrix(std::vector<std::string>* errors = nullptr) {
  std::vector<FaultCase> cases;
  std::ifstream in(kFaultsDir + "/matrix.txt");
  if (!in && errors) errors->push_back("tests/faults/matrix.txt cannot be read");
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (line.find_first_not_of(' ') == std::string::npos || line[0] == '#') continue;
    FaultCase c;
    std::string why;
    if (ParseRow(line, &c, &why)) {
      cases.push_back(c);
    } else if (errors) {
      errors->push_back("line " + std::to_string(number) + ": " + why);
    }
  }
  return cases;
}

// The OFD server with the row's fault, "-" for none.
bool StartOfd(ofdstub::OfdStub& stub, const std::string& text, std::string* error) {
  ofdstub::FaultSettings settings;
  if (!ofdstub::ParseFault(text, &settings, error)) return false;
  stub.ApplyFault(settings);
  return stub.Start(0, settings.refuse);
}

// The printer's pauses pass at once; the relay's waits (30 s with nothing to send, 60 s after an
// error) pass a hundred times faster than on a till and end when it is stopped, so that a row sees
// the relay go round its cycles in seconds.
class MatrixClock : public FakeClock {
 public:
  bool SleepUnless(uint32_t ms, plat::WakeEvent& wake) override { return wake.WaitMs(ms / kRelaySpeedUp); }
  static constexpr uint32_t kRelaySpeedUp = 100;
};

// Each row through both fronts: the host must be told the same whichever it loads.
class FaultMatrix : public HostOnPrinter<MatrixClock>,
                    public ::testing::WithParamInterface<std::tuple<FaultCase, Front>> {
 protected:
  FaultMatrix() : HostOnPrinter(1, std::get<1>(GetParam())) {}

  // A request the printer leaves unanswered costs the driver its port's read time-out. The port
  // here waits a short while instead, and the bound is checked with the time-out of a till.
  void SetUp() override {
    HostOnPrinter::SetUp();
    m_tillReadTimeoutMs = object->Device()->nReadTimeout;
    object->Device()->nReadTimeout = kReadTimeoutMs;
  }

  void TearDown() override {
    HostOnPrinter::TearDown();
    stub.Stop();
  }

  // The calls of a script, each line as written.
  static std::vector<std::string> ScriptCalls(const std::string& name) {
    std::vector<std::string> calls;
    std::ifstream in(ScriptPath(name));
    EXPECT_TRUE(in) << ScriptPath(name);
    std::string line;
    while (std::getline(in, line)) {
      std::optional<HostCall> call;
      std::string error;
      EXPECT_TRUE(ParseCallLine(line, kFaultsDir, &call, &error)) << line << ": " << error;
      if (call) calls.push_back(line);
    }
    return calls;
  }
  // Rows whose fault strikes the relay start their calls once the relay has reached it: with an
  // OFD fault, a message read for the server (its read finished with "SuK"); with a drive that
  // stalls, the reading of a message begun ("SuI").
  bool RelayAtTheFault(const FaultCase& c) {
    const std::string mark = c.ofdFault != "-"                          ? "SuK"
                             : c.printerFault.rfind("fd-stall", 0) == 0 ? "SuI"
                                                                        : "";
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!mark.empty() && line.Commands(mark).empty() && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return mark.empty() || !line.Commands(mark).empty();
  }
  static std::string Method(const std::string& callLine) { return callLine.substr(0, callLine.find(' ')); }

  // The documents of the drive and the printer's closed documents before a call.
  struct Made {
    size_t documents;
    size_t closed;
  };
  Made MadeSoFar() const {
    const emu::PrinterState s = printer.State();
    return {s.fd.documents.size(), s.closedReceipts.size()};
  }

  // A receipt or correction told made is one document of the drive with its package's content; a
  // cash in or out told made is one cash document of its amount; one told failed left nothing.
  void ExpectWhatWasSold(const std::string& callLine, bool told, const Made& before) const {
    const std::string method = Method(callLine);
    if (!kReceiptCalls.count(method)) return;
    SCOPED_TRACE(callLine);
    std::optional<HostCall> call;
    std::string error;
    ASSERT_TRUE(ParseCallLine(callLine, kFaultsDir, &call, &error)) << error;
    const emu::PrinterState s = printer.State();
    const size_t documents = s.fd.documents.size() - before.documents;
    const size_t closed = s.closedReceipts.size() - before.closed;
    if (method == "CashInOutcome") {
      EXPECT_EQ(documents, 0u);
      ASSERT_EQ(closed, told ? 1u : 0u);
      if (!told) return;
      const emu::Receipt& r = s.closedReceipts.back();
      const double amount = std::strtod(call->args.at(2).text.c_str(), nullptr);
      EXPECT_EQ(r.kind, amount < 0 ? emu::kCashOut : emu::kCashIn);
      EXPECT_EQ(r.total, std::llround(std::fabs(amount) * 100));
      return;
    }
    ASSERT_EQ(documents, told ? 1u : 0u) << "documents the drive made for the call";
    // Nor is one left open in the printer for whatever comes next.
    EXPECT_EQ(s.documentType, 0) << "a document left open in the printer";
    if (!told) return;
    const std::string& package = call->args.at(method == "ProcessCheck" ? 2 : 1).text;
    EXPECT_EQ(SoldByDocument(s.fd.documents.back()), SoldByPackage(method, package));
  }

  // What the last call took on a till: real time, the pauses passed on the test's clock, and the
  // read time-outs at their length on a till.
  double TillSeconds(const HostResult& r, uint32_t clockAdvanceMs, uint64_t unanswered) const {
    const uint64_t timeoutsMs = unanswered * (m_tillReadTimeoutMs - kReadTimeoutMs);
    return duration<double>(r.took).count() + (clockAdvanceMs + timeoutsMs) / 1000.0;
  }

  static constexpr int kReadTimeoutMs = 500;
  ofdstub::OfdStub stub;

 private:
  int m_tillReadTimeoutMs = 0;
};

TEST_P(FaultMatrix, HostIsToldTheTruthWithinTheBound) {
  const FaultCase& c = std::get<0>(GetParam());
  std::string error;
  ASSERT_TRUE(StartOfd(stub, c.ofdFault, &error)) << error;
  const ScopedEnv ofdPort("OFD_PORT", std::to_string(stub.Port()).c_str());
  for (const std::string& call : ScriptCalls(c.setup)) Call(call, kFaultsDir);

  const std::vector<std::string> calls = ScriptCalls(c.calls);
  ASSERT_FALSE(calls.empty()) << c.calls;
  if (c.printerFault != "-") {
    ASSERT_TRUE(emu::ApplyPrinterFault(printer, c.printerFault, &error)) << error;
  }
  ASSERT_TRUE(RelayAtTheFault(c));
  const size_t documentsBefore = printer.State().fd.documents.size();
  size_t successesTold = 0;
  HostResult last;
  uint32_t clockAdvanceMs = 0;
  uint64_t unanswered = 0;
  for (const std::string& call : calls) {
    const uint32_t tickBefore = clock.TickMs();
    const uint64_t unansweredBefore = printer.GetAccounts().unanswered;
    const Made before = MadeSoFar();
    last = Call(call, kFaultsDir);
    clockAdvanceMs = clock.TickMs() - tickBefore;
    unanswered = printer.GetAccounts().unanswered - unansweredBefore;
    if (last.ok && kDocumentCalls.count(Method(call))) ++successesTold;
    ExpectWhatWasSold(call, last.ok, before);
  }

  EXPECT_EQ(last.ok, c.ok) << last.printed;
  EXPECT_EQ(last.code, c.code) << last.printed;
  EXPECT_LE(TillSeconds(last, clockAdvanceMs, unanswered), c.boundSeconds)
      << "real " << duration<double>(last.took).count() << " s, pauses " << clockAdvanceMs << " ms, "
      << unanswered << " requests unanswered";
  EXPECT_EQ(printer.State().fd.documents.size() - documentsBefore, successesTold) << last.printed;

  // The same component makes the next receipt whatever the row did to the one before, without
  // Close and Open (once the cashier has put the paper back).
  if (kReceiptCalls.count(Method(calls.back()))) {
    printer.ModifyState([](emu::PrinterState& s) { s.paperEnd = false; });
    const std::string next = "ProcessCheck $DeviceID false @multi-sale.xml";
    const Made before = MadeSoFar();
    const HostResult r = Call(next, kFaultsDir);
    EXPECT_TRUE(r.ok) << r.printed;
    ExpectWhatWasSold(next, r.ok, before);
  }
}

std::string CaseName(const ::testing::TestParamInfo<std::tuple<FaultCase, Front>>& info) {
  std::string name = std::get<0>(info.param).name;
  std::replace(name.begin(), name.end(), '-', '_');
  return name + (std::get<1>(info.param) == Front::kCom ? "" : "_Native");
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultMatrix,
                         ::testing::Combine(::testing::ValuesIn(ReadMatrix()), kBothFronts), CaseName);

// A mistake in the table shows as one failure here rather than as a row that silently is not run.
TEST(FaultMatrixTable, EveryRowIsWellFormed) {
  std::vector<std::string> errors;
  const std::vector<FaultCase> cases = ReadMatrix(&errors);
  EXPECT_TRUE(errors.empty()) << ::testing::PrintToString(errors);
  EXPECT_FALSE(cases.empty());
  std::set<std::string> names;
  emu::VirtualPrinter unstarted;
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(names.insert(c.name).second) << "the name is used twice";
    for (const std::string& script : {c.setup, c.calls}) {
      EXPECT_TRUE(std::ifstream(ScriptPath(script))) << script;
    }
    std::string error;
    if (c.printerFault != "-") {
      EXPECT_TRUE(emu::ApplyPrinterFault(unstarted, c.printerFault, &error)) << error;
    }
    ofdstub::FaultSettings ofd;
    EXPECT_TRUE(ofdstub::ParseFault(c.ofdFault, &ofd, &error)) << error;
  }
}

}  // namespace
