// The native front's whole life, again and again, as a host that loads and unloads the component
// for every session does: create, Init, Open, a receipt, Close, Done, destroy. Under the sanitizers
// nothing may leak over the run, and the host's memory manager must get back every block either side
// handed the other; the fiscal drive has made every receipt exactly once.
#include <gtest/gtest.h>

#include "e2e/host_on_printer.h"
#include "support/check_package_text.h"

namespace {

constexpr int kCycles = 1000;

const char kInput[] = "<InputParameters><Parameters CashierName=\"Ivanova\"/></InputParameters>";

class NativeCycles : public HostOnPrinter<> {
 protected:
  NativeCycles() : HostOnPrinter(66, Front::kNative) {}
};

TEST_F(NativeCycles, CreateOpenReceiptCloseDestroyLeavesNothingBehind) {
  const std::string sale = Package("1", Item("1", "5.00", "5.00"), "Cash=\"5.00\"");
  ASSERT_TRUE(Open().ok);
  ASSERT_TRUE(Call("OpenShift $DeviceID " + Quoted(kInput)).ok);
  const size_t documentsBefore = printer.State().fd.documents.size();
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    if (cycle > 0) {
      StartSession();
      ASSERT_TRUE(Open().ok) << "cycle " << cycle;
    }
    const HostResult receipt = Call("ProcessCheck $DeviceID false " + Quoted(sale));
    ASSERT_TRUE(receipt.ok) << "cycle " << cycle << ": " << receipt.printed;
    ASSERT_TRUE(Call("Close $DeviceID").ok) << "cycle " << cycle;
    EndSession();
  }
  const emu::PrinterState s = printer.State();
  EXPECT_EQ(s.fd.documents.size() - documentsBefore, static_cast<size_t>(kCycles));
  ASSERT_EQ(s.closedReceipts.size(), static_cast<size_t>(kCycles));
  for (const emu::Receipt& r : s.closedReceipts) {
    ASSERT_EQ(r.total, 500);
    ASSERT_EQ(r.payments[8], 500);
  }
}

}  // namespace
