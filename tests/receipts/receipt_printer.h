// A driver object ready for receipts on a fresh virtual printer: the supported printer with its
// character table and a tax system registered in its fiscal drive, the device identifier "7", a
// shift open in the printer, and both log files captured in one list.
#pragma once

#include <cstdio>

#include "driver/mirel_driver.h"
#include "emu/records.h"
#include "support/driver_on_printer.h"
#include "support/log_capture.h"

// The driver's fields the receipt tests look at.
struct ReceiptDriver : CMirelDriver {
  using CMirelDriver::m_nDocumentType;
  using CMirelDriver::m_strOdinSDeviceID;
  using CMirelDriver::m_szClerkName;
};

template <int kPort>
class ReceiptPrinter : public DriverOnPrinter<ReceiptDriver, kPort> {
 protected:
  void SetUp() override {
    DriverOnPrinter<ReceiptDriver, kPort>::SetUp();
    FPContext* c = this->ctx;
    c->nVersionCode = 0x0B01;
    c->nMaxItemNameLength = 64;
    c->pRecodeTable = DeviceRecodeTable(3);
    c->nFdTaxSystems = 0x01;  // as Open reads it from the drive
    log.Install(c);
    // The driver methods write the high-level file; here both go to one capture.
    c->pfnLogEnterH = c->pfnLogEnter;
    c->pfnLogMessageH = c->pfnLogMessage;
    c->pfnLogReturnH = c->pfnLogReturn;
    snprintf(this->driver.m_strOdinSDeviceID, sizeof this->driver.m_strOdinSDeviceID, "7");
    this->line.printer.ModifyState([this](emu::PrinterState& s) {
      s.shiftOpen = true;
      s.shiftNumber = 3;
      s.shiftOpenedAt = this->PrinterNow();
    });
  }

  size_t DriveDocuments() const { return this->line.printer.State().fd.documents.size(); }

  LogCapture log;
};
