#include "device/frame_decoders.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "device/device_log.h"
#include "device/info_records.h"
#include "device/link.h"
#include "device/reg_data.h"

namespace {

constexpr uint8_t kStatus2Bits = 0x30;

// Data frames known to the link. The information records (those that begin with "S", the
// fiscal-drive message "04", the frame headed "0215" and the version banner that begins with 0x95)
// have one decoder that tells them apart by its own table of record layouts.
const FrameDecoder kFrameDecoders[] = {
    {"S", DecodeInfoRecord},         {"0", DecodeInfoRecord},         {"\x95", DecodeInfoRecord},
    {"Su#", DecodeRegDataAnswer},    {"Su>", DecodeAutomatNumAnswer}, {"Su*", DecodeRegTextAnswer},
    {"Su-", DecodeRegTagTextAnswer}, {"SN0", DecodePlaceSettlePiece}, {"SN1", DecodePlaceSettlePiece},
    {"SN2", DecodePlaceSettlePiece}, {"SN3", DecodePlaceSettlePiece}, {"SN4", DecodePlaceSettlePiece},
    {"SN5", DecodePlaceSettlePiece}, {"SN6", DecodePlaceSettlePiece}, {"SN7", DecodePlaceSettlePiece},
    {"SN8", DecodePlaceSettlePiece}, {"SN9", DecodePlaceSettlePiece},
};

bool IsStatusByte(uint8_t b) {
  return (b & 0xC0) == 0x40;
}

size_t MatchLength(const char* prefix, const uint8_t header[4]) {
  size_t n = 0;
  while (n < 4 && prefix[n] != '\0') {
    if (static_cast<uint8_t>(prefix[n]) != header[n]) return 0;
    ++n;
  }
  return n;
}

// The extended status comes in four lengths, by firmware version; every one is brought to the
// common layout of 26 bytes after STX (positions 0..21 as sent, the seconds of the shift opening at
// 22, the maximum shift hours at 23, ETX at 24, BCC at 25).
constexpr size_t kCommonLength = 26;
constexpr size_t kSharedPrefix = 22;  // positions 0..21 are the same in every layout

struct ExtendedLayout {
  uint32_t bodyLength;  // bytes after the four header bytes, ETX and BCC included
  bool hasSeconds;      // position 22 holds the seconds
  uint8_t seconds;      // what stands for the seconds when the frame has none
  size_t tailAt;        // where the maximum shift hours, ETX and BCC begin
};

// The common layout.
constexpr ExtendedLayout kCommonLayout = {22, true, 0, 23};
// Versions 5.x, 6.x, 7.x, 9.0, 10.x and 11.1: no seconds, but an unused byte as two characters at
// 22-23.
constexpr ExtendedLayout kUnusedByteLayout = {23, false, 0, 24};
// Version 3.1: no seconds at all; the character "0" stands for them.
constexpr ExtendedLayout kNoSecondsLayout = {21, false, '0', 22};

// Version 10.x sends the same 23 bytes as its neighbours and is normalised like them, so that its
// maximum shift hours are not read from a character of the unused byte.
const ExtendedLayout& ExtendedLayoutOf(const FPContext* ctx) {
  const int major = ctx->nVersionMajor;
  const int minor = ctx->nVersionMinor;
  if (major == 3 && minor == 1) return kNoSecondsLayout;
  const bool unusedByte = major == 5 || major == 6 || major == 7 || major == 10 ||
                          (major == 9 && minor == 0) || (major == 11 && minor == 1);
  return unusedByte ? kUnusedByteLayout : kCommonLayout;
}

int CharValue(uint8_t c) {
  return c ? c - 0x30 : 0;
}

void NormaliseExtendedStatus(const ExtendedLayout& layout, const uint8_t* raw, uint8_t* common) {
  memcpy(common, raw, kSharedPrefix);
  common[kSharedPrefix] = layout.hasSeconds ? raw[kSharedPrefix] : layout.seconds;
  memcpy(common + kSharedPrefix + 1, raw + layout.tailAt, kCommonLength - kSharedPrefix - 1);
}

void LogExtendedStatus(FPContext* ctx, const uint8_t* c) {
  if (!ctx->pfnLogRecv) return;
  const int errCode = FromNibbleChars(reinterpret_cast<const char*>(c + 5));
  char raw[512];
  snprintf(
      raw, sizeof raw,
      "[02][%2.2Xh][%2.2Xh][%2.2Xh] [%2.2Xh][%2.2Xh] [%2.2Xh][%2.2Xh](%d) [%2.2Xh] [%2.2Xh][%2.2Xh][%2.2Xh] "
      "[%2.2Xh] [%2.2Xh] [%2.2Xh][%2.2Xh] [%2.2Xh][%2.2Xh] [%2.2Xh][%2.2Xh][%2.2Xh] [%2.2Xh][%2.2Xh][%2.2Xh] "
      "[%2.2Xh] [%2.2X] [%2.2Xh]",
      c[0], c[1], c[2], c[3], c[4], c[5], c[6], errCode, c[7], c[8], c[9], c[10], c[11], c[12], c[13], c[14],
      c[15], c[16], c[17], c[18], c[19], c[20], c[21], c[22], c[23], c[24], c[25]);
  LogRecv(ctx, raw, LinkResultText(kAnswerEnqtStatus));
  // Three nibble characters; unsigned, so that a damaged one below 0x30 shifts no negative number.
  const int f = static_cast<int>((((c[8] - 0x30u) << 8) | ((c[9] - 0x30u) << 4) | (c[10] - 0x30u)) & 0xFFFu);
  char decoded[512];
  snprintf(
      decoded, sizeof decoded,
      "Decoded: St:[%2.2Xh][%2.2Xh][%2.2Xh] EKLZ:[%2.2Xh] ErrCode:[%2.2Xh](%d) DType:[%2.2dd] F:[%5.5dd] "
      "N1:[%3.3dd] N2[%2.2dd] PPIOCD:[%2.2Xh] PSTATUS:[%2.2Xh] D1:[%2.2dd][%2.2dd][%2.2dd] "
      "T1:[%2.2dd][%2.2dd][%2.2dd] Sm:[%2.2dd] [03] [%2.2Xh]",
      c[0], c[1], c[2], FromNibbleChars(reinterpret_cast<const char*>(c + 3)), errCode, errCode,
      CharValue(c[7]), f, CharValue(c[11]), CharValue(c[12]),
      FromNibbleChars(reinterpret_cast<const char*>(c + 13)),
      FromNibbleChars(reinterpret_cast<const char*>(c + 15)), CharValue(c[17]), CharValue(c[18]),
      CharValue(c[19]), CharValue(c[20]), CharValue(c[21]), CharValue(c[22]), CharValue(c[23]), c[25]);
  LogRecv(ctx, decoded, LinkResultText(kAnswerEnqtStatus));
}

}  // namespace

bool IsShortStatusHeader(const uint8_t header[4]) {
  const uint8_t bcc = header[0] ^ header[1] ^ ctl::ETX;
  return header[2] == ctl::ETX && header[3] == bcc && IsStatusByte(header[0]) && IsStatusByte(header[1]);
}

int DecodeShortStatus(FPContext* ctx, const uint8_t header[4], bool forceStatus2) {
  const bool second = forceStatus2 || (header[1] & kStatus2Bits) == kStatus2Bits;
  uint8_t* target = second ? ctx->status2 : ctx->status;
  target[0] = header[0];
  target[1] = header[1];
  const int kind = second ? kAnswerStatus2 : kAnswerStatus;
  if (ctx->pfnLogRecv) {
    char text[48];
    snprintf(text, sizeof text, "[02][%2.2Xh][%2.2Xh][03][%2.2Xh]", header[0], header[1], header[3]);
    LogRecv(ctx, text, LinkResultText(kind));
  }
  return kind;
}

int DecodeExtendedStatus(FPContext* ctx, const uint8_t header[4], bool /*log*/) {
  ctx->nDeviceError = 0;
  const ExtendedLayout& layout = ExtendedLayoutOf(ctx);
  uint8_t raw[4 + kUnusedByteLayout.bodyLength];
  memcpy(raw, header, 4);
  if (ReadFrameBody(ctx, header, raw + 4, layout.bodyLength) != kLinkOk) return kLinkProtocolError;

  uint8_t common[kCommonLength];
  NormaliseExtendedStatus(layout, raw, common);
  ctx->status[0] = common[0];
  ctx->status[1] = common[1];
  ctx->status2[0] = common[2];
  memcpy(ctx->extStatus, common + 3, sizeof ctx->extStatus);
  ctx->nDeviceError = FromNibbleChars(reinterpret_cast<const char*>(common + 5));
  ctx->nShiftOpenDay = CharValue(common[17]);
  ctx->nShiftOpenMonth = CharValue(common[18]);
  ctx->nShiftOpenYear = CharValue(common[19]);
  ctx->nShiftOpenHour = CharValue(common[20]);
  ctx->nShiftOpenMinute = CharValue(common[21]);
  ctx->nShiftHours = CharValue(common[23]);
  LogExtendedStatus(ctx, common);
  return kAnswerEnqtStatus;
}

void LogUnknownHeader(FPContext* ctx, const uint8_t h[4]) {
  char text[32];
  snprintf(text, sizeof text, "[02][%2.2X][%2.2X][%2.2X][%2.2X]", h[0], h[1], h[2], h[3]);
  LogRecv(ctx, text, LinkResultText(kLinkProtocolError));
}

FrameDecoderFn FindFrameDecoder(const uint8_t header[4]) {
  FrameDecoderFn best = nullptr;
  size_t bestLength = 0;
  for (const FrameDecoder& entry : kFrameDecoders) {
    if (!entry.prefix) continue;
    const size_t length = MatchLength(entry.prefix, header);
    if (length > bestLength) {
      best = entry.decode;
      bestLength = length;
    }
  }
  return best;
}

int ReadFrameBody(FPContext* ctx, const uint8_t header[4], uint8_t* body, uint32_t bodyLength) {
  uint32_t got = 0;
  const int read = AcceptBuf(ctx, body, bodyLength, &got);
  bool intact = read == kLinkOk && got == bodyLength && bodyLength >= 2 && body[bodyLength - 2] == ctl::ETX;
  if (intact) {
    const uint8_t bcc = CalcBCC(header, 4) ^ CalcBCC(body, static_cast<int>(bodyLength) - 1);
    intact = bcc == body[bodyLength - 1];
  }
  if (intact) return kLinkOk;
  std::string text = HexBytes("[02] ", header, 4) + HexBytes("", body, got);
  LogRecv(ctx, text.c_str(), LinkResultText(kLinkProtocolError));
  // A port that failed on the way is reported as such, not as a broken frame.
  return read != kLinkOk ? read : kLinkProtocolError;
}

int AcknowledgeFrame(FPContext* ctx, int kind, int ackPauseMs) {
  if (ackPauseMs > 0) ctx->pClock->SleepMs(static_cast<uint32_t>(ackPauseMs));
  const int sent = SendChar(ctx, ctl::ACK);
  LogSend(ctx, "[06] (ACK)", LinkResultText(sent));
  if (ctx->nProtocolErrors != 0) ResetSerial(ctx);
  return kind;
}

bool FrameIntact(const uint8_t* frame, int length) {
  return length >= 2 && frame[length - 2] == ctl::ETX && CalcBCC(frame, length - 1) == frame[length - 1];
}

bool FrameEnd::Complete(uint32_t count) const {
  const int length = readAt_ + static_cast<int>(count);
  const bool allowed = lengths_.empty()
                           ? length >= minLength_
                           : std::find(lengths_.begin(), lengths_.end(), length) != lengths_.end();
  return allowed && FrameIntact(frame_, length);
}
