// The printer's programming commands: receipt header and footer lines, date and time, device flags,
// the shift time limit, descriptors, payment-mean names, the clock switch and the line speed. The
// printer stores what they program in PrinterState::programmed and the flags, and prints the
// header and footer lines on its tape around each document.
#pragma once

#include <string>

#include "emu/command_table.h"
#include "emu/printer_state.h"

namespace emu {

// Device error codes with which the printer refuses a programming command.
constexpr uint8_t kErrorBadParameter = 1;   // malformed command or parameter out of range
constexpr uint8_t kErrorBadDateTime = 7;    // impossible date or time
constexpr uint8_t kErrorShiftOpen = 63;     // the setting may only change while the shift is closed

void AddProgrammingCommands(CommandTable* table);

// Text from the printer's character set to UTF-8; bold marks are dropped.
std::string TextFromDevice(const std::string& deviceText);

// The printed width of a line: 42 characters, 56 with the small font (bit 4 of flag 21).
int LineWidth(const PrinterState& s);

// Print the programmed header lines (centred when bit 6 of flag 4 is set; double height where bit
// n - 1 of flag 15 is set) or footer lines (as the driver padded them) on the tape. Empty lines
// are not printed.
void PrintHeader(PrinterState& s);
void PrintFooter(PrinterState& s);

}  // namespace emu
