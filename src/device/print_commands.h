// Printing commands of the printer beside the items of a receipt: free text lines, the text
// before a receipt's end, barcodes and QR codes, inside a receipt or outside one. Each stores its
// result in nLastResult and returns it. The barcode and QR commands store the transaction's own
// result (negative for a link failure, 2 for a refusal) rather than a driver result code, except
// for their argument refusals (13). Barcode data go out as they are, without recoding.
#pragma once

#include <cstdint>

#include "device/fp_context.h"

// One line of nLineWidth characters outside a receipt; `finalLine` ends the text document,
// `alternativeEnd` ends the line the other way the printer knows.
int32_t PrintLine(FPContext* ctx, const char* text, bool finalLine, bool alternativeEnd);
// A line printed before the end of a sale (return) receipt; an empty text sends nothing.
int32_t TextBeforeEndCheck(FPContext* ctx, const char* text);
int32_t TextBeforeEndCheckUndo(FPContext* ctx, const char* text);
// Barcodes: EAN-13 of 12 or 13 digits, EAN-8 of 7 or 8, CODE39 of at most 140 characters.
int32_t PrintEAN13Code(FPContext* ctx, const char* digits, bool finalLine, bool inReceipt);
int32_t PrintEAN8Code(FPContext* ctx, const char* digits, bool finalLine, bool inReceipt);
int32_t PrintCODE39Code(FPContext* ctx, const char* data, bool finalLine, bool inReceipt);
// A QR code of at most 252 characters: system type 1 or 2, error level 0..3, size 0..15.
int32_t PrintQRCode(FPContext* ctx, int systemType, int errorLevel, int size, const char* data,
                    bool finalLine, bool inReceipt);
