// Reception of frames: the short and extended status frames, and the table through which AcceptData
// hands a data frame to its decoder. A decoder is chosen by the four header bytes that follow STX;
// it reads the rest of the frame itself, stores it in the context and returns its answer kind (or
// a negative link result).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "device/fp_context.h"
#include "device/serial_port.h"

using FrameDecoderFn = int (*)(FPContext* ctx, const uint8_t header[4], bool log);

struct FrameDecoder {
  const char* prefix;  // header bytes to match (1..4 characters), compared from h0 on
  FrameDecoderFn decode;
};

// The short status frame: b0 b1 ETX BCC with both status bytes in 0x40..0x7F.
bool IsShortStatusHeader(const uint8_t header[4]);
// Stores status (kind 2) or, for an ENQ2 answer or a second byte with both bits 0x30, status2 (kind 5).
int DecodeShortStatus(FPContext* ctx, const uint8_t header[4], bool forceStatus2);
// The answer to ENQT; stores the status bytes, the extended status and the device error code (kind 16).
int DecodeExtendedStatus(FPContext* ctx, const uint8_t header[4], bool log);

// The receive-log line of a frame whose header no decoder takes: the four header bytes in
// hexadecimal with "protocol error".
void LogUnknownHeader(FPContext* ctx, const uint8_t header[4]);

// The data-frame decoder for a header, or null. The longest matching prefix wins.
FrameDecoderFn FindFrameDecoder(const uint8_t header[4]);

// Reads the rest of a fixed-length frame: `bodyLength` bytes ending with ETX and the BCC over the
// header and the body up to ETX. 0 when complete and intact; -5 otherwise (logged with the bytes
// that came). Nothing is acknowledged here.
int ReadFrameBody(FPContext* ctx, const uint8_t header[4], uint8_t* body, uint32_t bodyLength);
// Acknowledges a data frame after its receive-log line: pause (negative: none), ACK, send-log line,
// and a line reset when protocol errors were counted. Returns `kind`.
int AcknowledgeFrame(FPContext* ctx, int kind, int ackPauseMs);

// `length` bytes of a frame from the byte after STX that end with ETX and the check character
// over everything before it.
bool FrameIntact(const uint8_t* frame, int length);

// The end of a frame whose length the device decides, read into `frame` behind its first `readAt`
// bytes: it is whole once it is intact (FrameIntact) at a length its layout allows, so that the
// read stops there instead of waiting for the line to fall quiet.
class FrameEnd : public AnswerEnd {
 public:
  // Any length from `minLength` on.
  FrameEnd(const uint8_t* frame, int readAt, int minLength)
      : frame_(frame), readAt_(readAt), minLength_(minLength) {}
  // One of `lengths` only.
  FrameEnd(const uint8_t* frame, int readAt, std::initializer_list<int> lengths)
      : frame_(frame), readAt_(readAt), minLength_(0), lengths_(lengths) {}
  bool Complete(uint32_t count) const override;

 private:
  const uint8_t* frame_;
  int readAt_;
  int minLength_;
  std::vector<int> lengths_;  // empty: any length from minLength_ on
};
