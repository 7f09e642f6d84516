// The printer's character set. Texts the printer sends are translated to Windows-1251 in place
// through a 256-entry table (two generations of the table exist); texts the driver sends go the
// other way through one of the 128-entry tables of the upper half, selected in pRecodeTable.
#pragma once

#include "device/fp_context.h"

// Translates `length` bytes of `text` from the device's character set; nothing when length <= 0.
void RecodeFromDevice(FPContext* ctx, char* text, int length);
// Translates `length` bytes of `text` to the device's character set through pRecodeTable: bytes
// with the high bit set are looked up, CR and LF become blanks (the printer ends a line on them),
// the rest stays. With no table the text stays as it is.
void RecodeToDevice(FPContext* ctx, char* text, int length);
