// What the virtual printer remembers between commands, and the status bytes it reports from it.
// Later commands extend this record with their own effects (counters, documents, programming).
#pragma once

#include <cstdint>

#include "emu/wire.h"

namespace emu {

// Bits of status byte 1 that say why the last command was refused (the error class in 0x30 and
// its detail in 0x0C); a refused command leaves them set until a command is accepted.
constexpr uint8_t kCommandError = 0x10;
constexpr uint8_t kFiscalError = 0x20;

// Status2 byte 0 carries the base bit 0x40 like every status byte, so "Z report required" (0x20)
// and "shift time exceeded" (0x60, both bits) cannot be told apart there: either one sets 0x60.
// The printer reports each as the status table says and leaves it at that; the shift's age can be
// told from the opening time in the extended status.
struct PrinterState {
  bool fiscal = true;  // registered with the fiscal drive: status byte 0 carries both bits 0x60
  bool busy = false;
  bool receiptOpen = false;        // a non-fiscal receipt (any receipt on a non-fiscal register)
  bool fiscalReceiptOpen = false;
  bool shiftOpen = false;
  bool zReportRequired = false;
  bool paperEnd = false;
  bool printFailure = false;  // cleared by "e"
  // Status byte 1 error bits of a fault that no command clears, "e" included: a printer stuck in
  // an error state.
  uint8_t stuckErrorBits = 0;
  uint8_t deviceError = 0;  // error code of the last command, 0 = none
  uint8_t errorBits = 0;    // kCommandError / kFiscalError with detail, while deviceError stands
  uint8_t documentType = 0; // type of the open document, 0 = none
  int64_t shiftOpenedAt = 0;  // seconds since 1970; 0 = never opened
  uint8_t maxShiftHours = 24;
};

struct StatusBytes {
  uint8_t status0;
  uint8_t status1;
  uint8_t status2;  // status2 byte 0
};

// `now` (seconds since 1970) decides whether the open shift has run past its maximum length.
StatusBytes StatusOf(const PrinterState& s, int64_t now);

// STX b0 b1 ETX BCC: the answer to ENQ (status bytes 0 and 1).
Bytes ShortStatusFrame(const PrinterState& s, int64_t now);
// The answer to ENQ2: status2 byte 0 and a second byte with both bits 0x30 set, which marks the
// frame as status2 for the receiver.
Bytes Status2Frame(const PrinterState& s, int64_t now);
// The answer to ENQT: STX and the 27 bytes of the extended status.
Bytes ExtendedStatusFrame(const PrinterState& s, int64_t now);

}  // namespace emu
