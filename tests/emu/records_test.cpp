// The records the virtual printer builds keep their fixed layouts whatever its counters hold.
#include "emu/records.h"

#include <gtest/gtest.h>

namespace {

TEST(Records, NumberFieldsKeepTheirWidth) {
  emu::PrinterState ordinary;
  emu::PrinterState extreme;
  extreme.shiftNumber = 123456;  // past the four digits of its field
  extreme.documentCount = 1234567890;
  extreme.lastReceiptNumber = -7;
  extreme.clerk = 100;
  extreme.taxRates[0] = 123456;
  EXPECT_EQ(emu::S1Record(ordinary).size(), emu::S1Record(extreme).size());
  EXPECT_EQ(emu::S3Record(ordinary).size(), emu::S3Record(extreme).size());
  EXPECT_EQ(emu::ShiftTotalsRecord(ordinary, 'f').size(), emu::ShiftTotalsRecord(extreme, 'f').size());
}

}  // namespace
