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

std::string Sale(const std::string& item, const std::string& payments = "Cash=\"5.00\"") {
  return "ProcessCheck $DeviceID false " + Quoted(Package("1", item, payments));
}

std::string ItemWith(const std::string& attributes) {
  return "<FiscalString Name=\"Tea\" Quantity=\"1\" PriceWithDiscount=\"5.00\" SumWithDiscount=\"5.00\" "
         "Tax=\"20\" " +
         attributes + "/>";
}

std::string Correction(const std::string& type, const std::string& date) {
  return "ProcessCorrectionCheck $DeviceID " +
         Quoted("<CheckCorrectionPackage><Parameters CashierName=\"Ivanova\" CorrectionType=\"" + type +
                "\" CorrectionBaseDate=\"" + date +
                "\" PaymentType=\"1\" TaxVariant=\"0\" Sum=\"7.20\" SumTAX20=\"1.20\"/>"
                "<Payments Cash=\"7.20\"/></CheckCorrectionPackage>");
}

// The packages the receipt steps would refuse half-way, refused before the receipt is opened.
TEST_F(HostRefusal, ReceiptsTheStepsWouldRefuseAreRefusedBeforeOpening) {
  const Case cases[] = {
      {"underpaid: 20.00 cash for 42.50", Sale(Item("1", "42.50", "42.50"), "Cash=\"20.00\""), 111},
      {"underpaid through a later payment kind", Sale(Item("1", "42.50", "42.50"), "PrePayment=\"20.00\""),
       111},
      {"more by card than the total", Sale(Item("1", "100", "100"), "ElectronicPayment=\"110\""), 149},
      {"a return paid more by card than it costs",
       "ProcessCheck $DeviceID false " +
           Quoted(Package("2", Item("1", "100", "100"), "ElectronicPayment=\"120\"")),
       113},
      {"Department 0", Sale(ItemWith("Department=\"0\"")), 121},
      {"Department 100", Sale(ItemWith("Department=\"100\"")), 121},
      {"Department -1", Sale(ItemWith("Department=\"-1\"")), 121},
      {"Department not a number", Sale(ItemWith("Department=\"x\"")), 121},
      {"Tax 110", Sale(Item("1", "5.00", "5.00", "110")), 12},
      {"Tax abc", Sale(Item("1", "5.00", "5.00", "abc")), 12},
      {"a price that is no number", Sale(Item("1", "abc", "5.00")), 143},
      {"a sum that is no number", Sale(Item("1", "5.00", "abc")), 144},
      {"a sum of three decimals", Sale(Item("2", "1.005", "2.01")), 144},
      {"a sum that is not quantity times price", Sale(Item("3", "33.33", "100.00"), "Cash=\"100\""), 144},
      {"DiscountSum not a number", Sale(ItemWith("DiscountSum=\"abc\"")), 121},
      {"an undefined entity", Sale(ItemWith("MeasurementUnit=\"&nbsp;\"")), 121},
      {"a reference to NUL", Sale(ItemWith("MeasurementUnit=\"k&#0;g\"")), 121},
      {"electronic without the buyer's phone or e-mail", "ProcessCheck $DeviceID true " + Quoted(kSale), 133},
  };
  for (const Case& c : cases) ExpectRefused(c);
}

TEST_F(HostRefusal, ElectronicReceiptWithoutContactSaysWhatIsMissing) {
  const HostResult r = Call("ProcessCheck $DeviceID true " + Quoted(kSale));
  EXPECT_EQ(r.code, 133);
  EXPECT_NE(r.error.find("CustomerPhone"), std::string::npos) << r.error;
  EXPECT_NE(r.error.find("телефон"), std::string::npos) << r.error;
}

TEST_F(HostRefusal, CorrectionsCashAndCloseThatNoTillMeansAreRefused) {
  const Case cases[] = {
      {"correction type 5", Correction("5", "2024-05-01"), 133},
      {"correction base date in the future", Correction("0", "2030-01-01"), 136},
      {"correction base date before the fiscal drives", Correction("0", "1900-01-01"), 136},
      {"cash in of 0.00", "CashInOutcome $DeviceID " + Quoted(kInput) + " 0", 133},
      {"cash out of what rounds to 0.00", "CashInOutcome $DeviceID " + Quoted(kInput) + " -0.004", 133},
      {"Close with an unknown identifier", "Close \"12345\"", 2},
      {"Close with an empty identifier", "Close \"\"", 2},
  };
  for (const Case& c : cases) ExpectRefused(c);
}

}  // namespace
