// Receipts in the virtual printer: the cashier's session ("o" opens it with the cashier, "zz"
// closes it), the header switches, items with their fiscal tags, discount and markup lines,
// payments with change, cash in and out, the closing total and the texts printed in a receipt.
// The open document lives in PrinterState::receipt; each closed document is kept in
// PrinterState::closedReceipts and its cash moves the drawer's total. A closed receipt is also
// signed by the fiscal drive as a receipt document carrying what it held.
#pragma once

#include "emu/command_table.h"
#include "emu/printer_state.h"

namespace emu {

// Device error codes with which the printer refuses a receipt command.
constexpr uint8_t kErrorWrongDocument = 47;  // no document of the kind this command belongs to
constexpr uint8_t kErrorPaperEnd = 62;

void AddReceiptCommands(CommandTable* table);

// Reference bytes of a fiscal tag: 0xD8/0xD9 for tags 952..1167, 0xDA/0xDB for 1168..1295 (the
// low bit is the print flag), then the tag's offset.
bool IsTagByte(uint8_t b);
int TagNumber(uint8_t first, uint8_t second);
// Nibble characters back to bytes: each pair is the high and the low nibble.
std::string NibbleBytes(const std::string& chars);

// The value of a price field: eight characters, each '0' + a digit of up to 207 for its place.
// -1 when a character lies below '0'.
int64_t ExtendedDigitsValue(const std::string& field);

}  // namespace emu
