// The printer's status: the three status requests (ENQ, ENQ2, ENQT), the translation of status
// bits and link results into driver result codes, and the operations built on them: the standard
// command wrapper, the restart out of an error state and the wait for an idle printer.
//
// The status fields of FPContext (status, status2, extStatus, nDeviceError and the shift fields)
// always describe the last status frame received, whichever request or command produced it.
#pragma once

#include <cstdint>

#include "device/fp_context.h"

// Bits of the status bytes.
namespace st {
constexpr uint8_t kBusy = 0x04;               // status 0: the command is still being executed
constexpr uint8_t kReceiptOpen = 0x02;        // status 0: a receipt is open
constexpr uint8_t kFiscalReceiptOpen = 0x01;  // status 0: fiscal receipt open (with kFiscalPair)
constexpr uint8_t kFiscalPair = 0x60;         // status 0: selects the fiscal receipt reading
constexpr uint8_t kPaperEnd = 0x01;           // status 1
constexpr uint8_t kPrintFailure = 0x02;       // status 1
constexpr uint8_t kShiftOpen = 0x01;          // status2 0
constexpr uint8_t kZ1Required = 0x20;         // status2 0: the printer is blocked until a Z report
constexpr uint8_t kShiftTimeExceeded = 0x60;  // status2 0: both bits
}  // namespace st

// Driver result codes that come from the status bits.
enum StatusCode : int32_t {
  kCodeWrongCommand = 10,
  kCodeCashierNotRegistered = 11,
  kCodeWrongTaxRate = 12,
  kCodeWrongValue = 13,
  kCodePrintFailure = 14,
  kCodePaperEnd = 15,
  kCodeBusy = 16,
  kCodeZ1Required = 20,
};

// Status requests: enter and return lines with their own names; a protocol error is retried once
// after a line reset. Results: 2 (status), 5 (status2), 16 (extended status) or a negative link code.
// With clearBusy (and the device in the mode without handshake) the busy bit is cleared in the
// stored status byte 0.
int GetStatus(FPContext* ctx, bool clearBusy);
// GetStatus without the presence test; pauses 100 ms after a status that reports something.
int GetStatusNoPresenceCheck(FPContext* ctx, bool clearBusy);
int GetStatus2(FPContext* ctx);
// Refreshes the extended status: nDeviceError, extStatus and the shift fields.
int GetStatusT(FPContext* ctx);

// The driver result code the stored status bytes stand for, 0 when nothing is wrong.
int32_t StatusToCode(const FPContext* ctx);
// A link result as a driver result code: -5..0 become 5..0, NAK 6, a status StatusToCode; any
// other answer kind is returned unchanged (callers that expect one compare before mapping).
int32_t MapLinkResult(const FPContext* ctx, int linkResult);

// Sends "e", which brings the printer out of an error state. 0 (accepted, the Z1 flag is cleared
// in the stored status2), 2 (refused) or a negative link code.
int Restart(FPContext* ctx);
// Restart as a driver result code, also stored in nLastResult.
int32_t ClearError(FPContext* ctx);
// Waits while the printer is busy, restarting it out of a command error. The driver result code of
// the status it settles in (or of the failed request), also stored in nLastResult.
int32_t WaitReadyStatus(FPContext* ctx);

// One command through ExecTransaction, then the extended status, so that nDeviceError speaks of
// this command. A command refused as wrong restarts the printer, keeping its error code. Returns
// the driver result code and stores it in nLastResult.
int32_t StdTransaction(FPContext* ctx, const char* cmd, int pauseMs, bool log, bool longCommand);

// Whether a device answers on the open port: 0 yes, -1 no port, -2 no valid status.
int ProbeFP(FPContext* ctx);

// 1 when the status reports an open fiscal (non-fiscal) receipt, else 0, also when no status came.
int IsFiscalReceiptOpen(FPContext* ctx);
int IsNonfiscalReceiptOpen(FPContext* ctx);

// Whether the open shift has run past its maximum length, by the opening time that the extended
// status reports (other models: by the status2 bits). Returns 0 when the check could be made, else
// the driver result code of the failed request (also stored in nLastResult); *expired is set only
// after a check. On other models an expired shift leaves code 20 in nLastResult.
int32_t IsShiftExpired(FPContext* ctx, bool* expired);
