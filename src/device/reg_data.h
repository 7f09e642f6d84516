// The fiscal drive's registration data as the printer keeps it: the registration report's
// numbers, date, tax systems and work modes ("Su#"), the number of an automatic device ("Su>"),
// the registration texts by selector ("Su*"), the text of a registration tag ("Su-") and the
// agent signs with the activity flags ("S{_"). Each query returns the transaction's raw result
// (0 once the answer is decoded, 1 NAK, 2 a status, a negative link code; anything else -5) and
// leaves nLastResult alone; the answer's values are stored in FPContext.
#pragma once

#include <cstdint>

#include "device/fp_context.h"

int GetRegData(FPContext* ctx, bool registrationReport);
int GetAutomatNum(FPContext* ctx);
// Selector "0" (OFD taxpayer number) .. "6" (address of settlement); see FPContext.
int GetRegData2AInfo(FPContext* ctx, char selector);
// The text of registration tag `tag` (1060: the tax service's web site).
int GetRegDataMinusInfo(FPContext* ctx, int tag);
int GetRegSBraceFlags(FPContext* ctx);

// Decoders of the answers (frame_decoders.h). Each refuses with -5, unacknowledged, an answer of
// another model, a frame not ended by ETX and its check character, or one of the wrong shape.
int DecodeRegDataAnswer(FPContext* ctx, const uint8_t header[4], bool log);     // "Su#"
int DecodeAutomatNumAnswer(FPContext* ctx, const uint8_t header[4], bool log);  // "Su>"
int DecodeRegTextAnswer(FPContext* ctx, const uint8_t header[4], bool log);     // "Su*"
int DecodeRegTagTextAnswer(FPContext* ctx, const uint8_t header[4], bool log);  // "Su-"
// "SN" and a digit: a piece of the place of settlement that the printer sends in place of an
// answer; after it the exchange goes on as after the device's ENQ.
int DecodePlaceSettlePiece(FPContext* ctx, const uint8_t header[4], bool log);
