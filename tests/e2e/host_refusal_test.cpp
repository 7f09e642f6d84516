// What a careless or hostile configuration sends, as the host sends it, on the virtual printer: each
// call is refused with the code and text of its kind in a fraction of a second, leaves the tape and
// the fiscal drive as they were, and the next receipt is made as usual.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "e2e/host_on_printer.h"
#include "support/check_package_text.h"

namespace {

using std::chrono::duration;

const char kInput[] = "<InputParameters><Parameters CashierName=\"Ivanova\"/></InputParameters>";
const std::string kSale = Package("1", Item("1", "5.00", "5.00"), "Cash=\"5.00\"");
// What a till may spend on a refusal: the printer's pauses on the test's clock and the real time.
constexpr double kRefusalSeconds = 0.5;

std::string Nested(const std::string& root, int depth) {
  std::string text = "<" + root + ">";
  for (int i = 0; i < depth; ++i) text += "<a>";
  for (int i = 0; i < depth; ++i) text += "</a>";
  return text + "</" + root + ">";
}

class HostRefusal : public HostOnPrinter<> {
 protected:
  HostRefusal() : HostOnPrinter(66) {}

  void SetUp() override {
    HostOnPrinter::SetUp();
    ASSERT_TRUE(Open().ok);
    ASSERT_TRUE(Call("OpenShift $DeviceID " + Quoted(kInput)).ok);
  }

 public:
  struct Case {
    const char* name;
    std::string call;
    long code;
  };

  // The call is refused with `code` and a text, in time, with nothing printed nor signed; then a
  // sale is made as usual.
  void ExpectRefused(const Case& c) {
    SCOPED_TRACE(c.name);
    const emu::PrinterState before = printer.State();
    const uint32_t tick = clock.TickMs();
    const HostResult r = Call(c.call);
    const double till = duration<double>(r.took).count() + (clock.TickMs() - tick) / 1000.0;
    std::printf("  %-60s %3ld in %.3f s\n", c.name, r.code, till);
    EXPECT_FALSE(r.ok) << r.printed;
    EXPECT_EQ(r.code, c.code) << r.printed;
    EXPECT_FALSE(r.error.empty()) << r.printed;
    EXPECT_LT(till, kRefusalSeconds);
    const emu::PrinterState after = printer.State();
    EXPECT_EQ(after.tape.size(), before.tape.size());
    EXPECT_EQ(after.fd.documents.size(), before.fd.documents.size());
    const HostResult next = Call("ProcessCheck $DeviceID false " + Quoted(kSale));
    EXPECT_TRUE(next.ok) << next.printed;
    EXPECT_EQ(printer.State().fd.documents.size(), before.fd.documents.size() + 1);
  }
};

// Elements nested far deeper than any package of the host, in every XML the driver reads.
TEST_F(HostRefusal, PackagesNestedBeyondTheLimitAreRefused) {
  const Case cases[] = {
      {"check package", "ProcessCheck $DeviceID false " + Quoted(Nested("CheckPackage", 50000)), 121},
      {"correction package",
       "ProcessCorrectionCheck $DeviceID " + Quoted(Nested("CheckCorrectionPackage", 50000)), 121},
      {"text document", "PrintTextDocument $DeviceID " + Quoted(Nested("Document", 50000)), 122},
      {"InputParameters", "PrintXReport $DeviceID " + Quoted(Nested("InputParameters", 50000)), 133},
      {"InputParameters of a cash in",
       "CashInOutcome $DeviceID " + Quoted(Nested("InputParameters", 50000)) + " 10", 133},
  };
  for (const Case& c : cases) ExpectRefused(c);
}

}  // namespace
