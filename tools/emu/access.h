// Access to the virtual printer: the operator password, the POS number, clerks 1..16 with their
// secrets and names, logging a clerk on and off, the cancel of an open document and the raw reset
// sequence that the printer recognises on its line outside any frame.
#pragma once

#include "emu/command_table.h"
#include "emu/printer_state.h"
#include "emu/wire.h"

namespace emu {

// Registers "W" (password), "PN" (POS number), "PC" (clerk), "PC*" (clerk's taxpayer number),
// "5" (log on by secret), "6" (log off) and "7" (cancel the open document).
void AddAccessCommands(CommandTable* table);

// The bytes between the two ACKs of the raw reset: the printer restarts when it sees them.
bool IsRawResetBody(const Bytes& noise);
// A restart: nothing busy, no open document, no error, no password entered, no clerk logged on.
void RawReset(PrinterState* state);

}  // namespace emu
