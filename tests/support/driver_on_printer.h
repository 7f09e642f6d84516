// A driver object on a fresh virtual printer: the printer's port is COM `kPort`, the driver's
// device context is the supported printer (version 11.1, 42 characters a line) with its pauses on
// a fake clock, and the port is open. `DriverT` is the test's view of CMirelDriver, usually a
// subclass that makes the fields the test looks at reachable. With `kPrinterOnTestClock` the
// virtual printer keeps its time on the test's clock too, for tests that age a shift.
#pragma once

#include <gtest/gtest.h>

#include "device/serial_port.h"
#include "support/fake_clock.h"
#include "support/printer_line.h"

template <typename DriverT, int kPort, bool kPrinterOnTestClock = false>
class DriverOnPrinter : public ::testing::Test {
 protected:
  void SetUp() override {
    line.Start();
    ctx = driver.Device();
    ctx->pClock = &clock;
    ctx->nVersionMajor = 11;
    ctx->nVersionMinor = 1;
    ctx->nLineWidth = 42;
    ASSERT_EQ(0, OpenSerial2(ctx, line.Port(), 6));
    ASSERT_EQ(0, SetCommTimeoutsFP(ctx, 1500, 1500));
  }
  void TearDown() override { CloseSerial(ctx); }

  // The virtual printer's own time now: a shift it opened "now" must be dated by its clock, or the
  // printer judges the shift's age by the distance between the test's clock and the day the tests run.
  int64_t PrinterNow() {
    return (kPrinterOnTestClock ? static_cast<plat::Clock&>(clock) : plat::SystemClock()).UnixTime();
  }

  FakeClock clock;
  PrinterLine line{kPort, kPrinterOnTestClock ? static_cast<plat::Clock&>(clock) : plat::SystemClock()};
  DriverT driver;
  FPContext* ctx = nullptr;
};
