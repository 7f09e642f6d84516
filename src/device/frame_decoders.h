// The table through which AcceptData hands a received frame to its decoder. A decoder is chosen by
// the four header bytes that follow STX; it reads the rest of the frame itself, stores it in the
// context and returns its answer kind (or a negative link result).
#pragma once

#include <cstdint>

#include "device/fp_context.h"

using FrameDecoderFn = int (*)(FPContext* ctx, const uint8_t header[4], bool log);

struct FrameDecoder {
  const char* prefix;   // header bytes to match (1..4 characters), compared from h0 on
  FrameDecoderFn decode;
};

// The short status frame: b0 b1 ETX BCC. Stores status or status2 and returns 2 or 5.
bool IsShortStatusHeader(const uint8_t header[4]);
int DecodeShortStatus(FPContext* ctx, const uint8_t header[4], bool forceStatus2);

// The data-frame decoder for a header, or null. The longest matching prefix wins.
FrameDecoderFn FindFrameDecoder(const uint8_t header[4]);

// Common reception of a fixed-length data frame whose body (the bytes after the header, ending with
// ETX and BCC) is `bodyLength` bytes: reads it into `body`, checks ETX and BCC (over the header and
// the body up to ETX), writes the receive-log line `recvText` with `kindText`, pauses `ackPauseMs`
// (negative: no pause), acknowledges, and resets the line after earlier protocol errors.
// Returns `kind`, or -5 for a short or damaged frame (nothing is acknowledged then).
int AcceptRecord(FPContext* ctx, const uint8_t header[4], uint8_t* body, uint32_t bodyLength, int kind,
                 int ackPauseMs, const char* recvText, bool log);
