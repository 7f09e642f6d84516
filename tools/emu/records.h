// The information records the printer sends in answer to its queries, filled from its state:
// identity, counters, tax rates, flags, totals and its version banner, in the printer's own
// layouts and character set.
#pragma once

#include <cstdint>
#include <string>

#include "emu/command_table.h"
#include "emu/printer_state.h"
#include "emu/wire.h"

namespace emu {

// Registers the query commands ("S1", "S3", "SV", ...) with the records that answer them.
void AddRecordQueries(CommandTable* table);

// Text in the printer's character set: Cyrillic letters at the printer's cells, the number sign,
// ASCII as it is, anything else a blank.
Bytes DeviceText(const std::string& utf8);
// An amount field: six bytes as nibble characters, the high 16 bits of the 48-bit kopeck value
// first (low byte first), then the low 32 bits, low byte first.
void AppendAmount(Bytes* out, int64_t kopecks);

// The records, header and payload (the frame's STX, ETX and check character are added on sending).
Bytes S1Record(const PrinterState& s);
Bytes S3Record(const PrinterState& s);
Bytes ShiftTotalsRecord(const PrinterState& s, char letter);  // "Sf" and "Sg"
Bytes VersionRecord(const PrinterState& s);
Bytes FdFormatRecord(const PrinterState& s);                  // "04", the answer to the format query

}  // namespace emu
