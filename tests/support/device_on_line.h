// A device context on a fresh virtual printer: the printer's port is COM `port`, the context is
// the supported printer (version 11.1) as bring-up leaves it, its pauses run on a fake clock that
// the printer shares, its low-level log is captured, and the port is open with short time-outs
// so that failures that wait for an answer stay quick.
#pragma once

#include <gtest/gtest.h>

#include "device/serial_port.h"
#include "support/fake_clock.h"
#include "support/log_capture.h"
#include "support/printer_line.h"

class DeviceOnLine : public ::testing::Test {
 protected:
  DeviceOnLine(int port, int timeoutMs) : line(port, clock), m_timeoutMs(timeoutMs) {}

  void SetUp() override {
    line.Start();
    ctx.pClock = &clock;
    ctx.nVersionMajor = 11;
    ctx.nVersionMinor = 1;
    log.Install(&ctx);
    ASSERT_EQ(OpenSerial2(&ctx, line.Port(), 6), 0);
    ASSERT_EQ(SetCommTimeoutsFP(&ctx, m_timeoutMs, m_timeoutMs), 0);
    log.lines.clear();
  }
  void TearDown() override { CloseSerial(&ctx); }

  FakeClock clock;
  PrinterLine line;
  emu::VirtualPrinter& printer = line.printer;
  FPContext ctx;
  LogCapture log;

 private:
  int m_timeoutMs;
};
