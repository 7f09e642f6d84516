#include "device/reg_data.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "device/device_log.h"
#include "device/frame_decoders.h"
#include "device/link.h"
#include "device/recode.h"
#include "device/text_field.h"

namespace {

constexpr int kHeaderLength = 4;
constexpr int kAckPauseMs = 30;
constexpr int kReadAtOnce = -3;
// Bytes the printer may send behind the four header bytes.
constexpr uint32_t kShortRest = 110;  // "Su#", "Su>"
constexpr uint32_t kLongRest = 256;   // "Su*", "Su-"
constexpr uint32_t kPieceRest = 10;   // "SN" pieces

// "Su#": "Su#", the drive's message header (start byte 04, length 0031, answer code 00), 48 bytes
// of data as nibble characters, the drive's check value, ETX and the check character. Offsets
// count from "S".
const char kRegDataPrefix[] = "Su#04310000";
constexpr int kRegDataLength = 113;
constexpr int kDateAt = 11;
constexpr int kUserInnAt = 21;
constexpr int kKktRegNumberAt = 45;
constexpr int kTaxSystemsAt = 85;
constexpr int kWorkModesAt = 87;
constexpr int kExtraAt = 89;
constexpr int kDocNumberAt = 91;
constexpr int kFiscalSignAt = 99;

constexpr int kPieceLength = 14;
constexpr int kPieceTextAt = 2;
constexpr int kPieceTextLength = 4;

constexpr char kNoSelector = '\xFF';

bool IsSupportedModel(const FPContext* ctx) {
  return ctx->nVersionMajor == 11 && ctx->nVersionMinor == 1;
}

int Query(FPContext* ctx, const char* name, const char* cmd) {
  LogEnter(ctx, name);
  const int r = ExecTransaction(ctx, cmd, kReadAtOnce, true, false);
  return LogReturn(ctx, name, r > kAnswerStatus ? kLinkProtocolError : r);
}

// The answer behind its header into `frame` (room for the header and `rest` bytes). Its length
// when the bytes that came end with ETX and the check character and number at least `minLength`;
// otherwise the frame is logged as a protocol error and 0 returned, or the read's failure (negative)
// when the port failed on the way.
int ReceiveAnswer(FPContext* ctx, const uint8_t header[4], uint8_t* frame, uint32_t rest, int minLength) {
  memcpy(frame, header, kHeaderLength);
  uint32_t got = 0;
  const int read =
      AcceptBufUntil(ctx, frame + kHeaderLength, rest, &got, FrameEnd(frame, kHeaderLength, minLength));
  const int length = kHeaderLength + static_cast<int>(got);
  if (length >= minLength && length >= kHeaderLength + 1 && FrameIntact(frame, length)) return length;
  const std::string text = HexBytes("[02] ", frame, static_cast<uint32_t>(length));
  LogRecv(ctx, text.c_str(), LinkResultText(kLinkProtocolError));
  return read != kLinkOk ? read : 0;
}

int RefuseOtherModel(FPContext* ctx, const uint8_t header[4]) {
  LogUnknownHeader(ctx, header);
  return kLinkProtocolError;
}

void LogAnswer(FPContext* ctx, const uint8_t* frame, int length, const char* kind) {
  if (!ctx->pfnLogRecv) return;
  char text[kHeaderLength + kLongRest + 32];
  std::snprintf(text, sizeof text, "[02]%.*s[03][%2.2X]", length - 2, reinterpret_cast<const char*>(frame),
                frame[length - 1]);
  LogRecv(ctx, text, kind);
}

// `count` bytes written as nibble characters from `at`, into a text field of `size` bytes: cut to
// size - 1 and terminated.
void NibbleText(const uint8_t* at, int count, char* field, size_t size) {
  memset(field, 0, size);
  for (int i = 0; i < count && static_cast<size_t>(i) + 1 < size; ++i) {
    field[i] = static_cast<char>(FromNibbleChars(reinterpret_cast<const char*>(at + 2 * i)));
  }
}

uint32_t NibbleU32(const uint8_t* at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i)
    value = value << 8 | FromNibbleChars(reinterpret_cast<const char*>(at + 2 * i));
  return value;
}

// The registration date as text; a value no calendar has leaves it empty, so that no field ever
// grows past its two digits.
void StoreRegDateTime(FPContext* ctx, const uint8_t* at) {
  int v[5];
  for (int i = 0; i < 5; ++i) v[i] = FromNibbleChars(reinterpret_cast<const char*>(at + 2 * i));
  const bool valid =
      v[0] <= 99 && v[1] >= 1 && v[1] <= 12 && v[2] >= 1 && v[2] <= 31 && v[3] <= 23 && v[4] <= 59;
  ctx->szFnRegDateTime[0] = '\0';
  if (!valid) return;
  const int century = ctx->pClock->LocalTime().year / 100 * 100;
  std::snprintf(ctx->szFnRegDateTime, sizeof ctx->szFnRegDateTime, "%4.4d-%2.2d-%2.2dT%2.2d:%2.2d:00",
                century + v[0], v[1], v[2], v[3], v[4]);
}

void StoreRegData(FPContext* ctx, const uint8_t* frame) {
  StoreRegDateTime(ctx, frame + kDateAt);
  NibbleText(frame + kUserInnAt, 12, ctx->szFnUserInn, sizeof ctx->szFnUserInn);
  NibbleText(frame + kKktRegNumberAt, 20, ctx->szFnKktRegNumber, sizeof ctx->szFnKktRegNumber);
  ctx->nFnTaxSystems = FromNibbleChars(reinterpret_cast<const char*>(frame + kTaxSystemsAt));
  ctx->nFnWorkModes = FromNibbleChars(reinterpret_cast<const char*>(frame + kWorkModesAt));
  ctx->nFnRegExtra = FromNibbleChars(reinterpret_cast<const char*>(frame + kExtraAt));
  ctx->nFnRegDocNumber = NibbleU32(frame + kDocNumberAt);
  ctx->nFnRegFiscalSign = NibbleU32(frame + kFiscalSignAt);
  std::snprintf(ctx->szFnRegDocNumber, sizeof ctx->szFnRegDocNumber, "%u", ctx->nFnRegDocNumber);
  std::snprintf(ctx->szFnRegFiscalSign, sizeof ctx->szFnRegFiscalSign, "%u", ctx->nFnRegFiscalSign);
}

struct TextField {
  char* text;
  size_t size;
};

// The field of a text selector, or none.
TextField SelectorField(FPContext* ctx, char selector) {
  switch (selector) {
    case '0':
      return {ctx->szOfdInn, sizeof ctx->szOfdInn};
    case '1':
      return {ctx->szRegText1, sizeof ctx->szRegText1};
    case '2':
      return {ctx->szPlaceSettle, sizeof ctx->szPlaceSettle};
    case '3':
      return {ctx->szSenderEmail, sizeof ctx->szSenderEmail};
    case '4':
      return {ctx->szOfdName, sizeof ctx->szOfdName};
    case '5':
      return {ctx->szOrganizationName, sizeof ctx->szOrganizationName};
    case '6':
      return {ctx->szAddressSettle, sizeof ctx->szAddressSettle};
  }
  return {nullptr, 0};
}

// Copies the answer's text (after the three header letters, up to ETX) into a field, cut to the
// field's size and terminated.
void CopyAnswerText(const uint8_t* frame, int length, char* field, size_t size) {
  const size_t count = static_cast<size_t>(length - 2 - 3);
  const size_t n = count < size - 1 ? count : size - 1;
  memset(field, 0, size);
  memcpy(field, frame + 3, n);
}

void Recode(FPContext* ctx, char* text) {
  RecodeFromDevice(ctx, text, static_cast<int>(strlen(text)));
}

}  // namespace

int GetRegData(FPContext* ctx, bool registrationReport) {
  return Query(ctx, "GetRegData", registrationReport ? "Su#1" : "Su#");
}

int GetAutomatNum(FPContext* ctx) {
  return Query(ctx, "GetAutomatNum", "Su>");
}

int GetRegData2AInfo(FPContext* ctx, char selector) {
  ctx->nRegTextSelector = selector;
  const char cmd[] = {'S', 'u', '*', selector, '\0'};
  return Query(ctx, "GetRegData2AInfo", cmd);
}

int GetRegDataMinusInfo(FPContext* ctx, int tag) {
  const char cmd[] = {'S', 'u', '-', static_cast<char>(static_cast<uint8_t>('H' + tag)), '\0'};
  return Query(ctx, "GetRegDataMinusInfo", cmd);
}

int GetRegSBraceFlags(FPContext* ctx) {
  return Query(ctx, "GetRegSBraceFlags", "S{_");
}

int DecodeRegDataAnswer(FPContext* ctx, const uint8_t header[4], bool) {
  if (!IsSupportedModel(ctx)) return RefuseOtherModel(ctx, header);
  uint8_t frame[kHeaderLength + kShortRest];
  const int length = ReceiveAnswer(ctx, header, frame, kShortRest, kRegDataLength);
  if (length < 0) return length;
  // A drive that answered with an error code sends a shorter message: the prefix tells.
  const bool shaped =
      length == kRegDataLength && memcmp(frame, kRegDataPrefix, sizeof kRegDataPrefix - 1) == 0;
  if (!shaped) {
    if (length != 0) LogAnswer(ctx, frame, length, LinkResultText(kLinkProtocolError));
    return kLinkProtocolError;
  }
  if (ctx->pfnLogRecv) {
    char text[160];
    std::snprintf(text, sizeof text, "[02]Su#%108.108s[03][%2.2X]", reinterpret_cast<const char*>(frame + 3),
                  frame[length - 1]);
    LogRecv(ctx, text, "(Su# Info)");
  }
  StoreRegData(ctx, frame);
  return AcknowledgeFrame(ctx, kLinkOk, kAckPauseMs);
}

int DecodeAutomatNumAnswer(FPContext* ctx, const uint8_t header[4], bool) {
  if (!IsSupportedModel(ctx)) return RefuseOtherModel(ctx, header);
  uint8_t frame[kHeaderLength + kShortRest];
  const int length = ReceiveAnswer(ctx, header, frame, kShortRest, kHeaderLength + 1);
  if (length <= 0) return length < 0 ? length : kLinkProtocolError;
  LogAnswer(ctx, frame, length, "(Su> Info)");
  CopyAnswerText(frame, length, ctx->szAutomatNumber, sizeof ctx->szAutomatNumber);
  // The printer does not wait for an acknowledgement of this answer.
  return kLinkOk;
}

int DecodeRegTextAnswer(FPContext* ctx, const uint8_t header[4], bool) {
  if (!IsSupportedModel(ctx)) return RefuseOtherModel(ctx, header);
  uint8_t frame[kHeaderLength + kLongRest];
  const int length = ReceiveAnswer(ctx, header, frame, kLongRest, kHeaderLength + 1);
  const char selector = ctx->nRegTextSelector;
  // One answer per request: a late or repeated answer finds no selector pending.
  ctx->nRegTextSelector = kNoSelector;
  if (length < 0) return length;
  const TextField field = SelectorField(ctx, selector);
  if (length == 0) return kLinkProtocolError;
  if (!field.text) {
    LogAnswer(ctx, frame, length, LinkResultText(kLinkProtocolError));
    return kLinkProtocolError;
  }
  LogAnswer(ctx, frame, length, "(Su* Info)");
  CopyAnswerText(frame, length, field.text, field.size);
  // Selectors "0" and "1" are digits; the others are texts in the printer's character set.
  if (selector >= '2') Recode(ctx, field.text);
  return AcknowledgeFrame(ctx, kLinkOk, kAckPauseMs);
}

int DecodeRegTagTextAnswer(FPContext* ctx, const uint8_t header[4], bool) {
  if (!IsSupportedModel(ctx)) return RefuseOtherModel(ctx, header);
  uint8_t frame[kHeaderLength + kLongRest];
  const int length = ReceiveAnswer(ctx, header, frame, kLongRest, kHeaderLength + 1);
  if (length <= 0) return length < 0 ? length : kLinkProtocolError;
  LogAnswer(ctx, frame, length, "(Su- Info)");
  NibbleText(frame + 3, (length - 2 - 3) / 2, ctx->szRegTagText, sizeof ctx->szRegTagText);
  Recode(ctx, ctx->szRegTagText);
  return AcknowledgeFrame(ctx, kLinkOk, kAckPauseMs);
}

int DecodePlaceSettlePiece(FPContext* ctx, const uint8_t header[4], bool) {
  if (!IsSupportedModel(ctx) || ctx->nContextKind < 2) return RefuseOtherModel(ctx, header);
  uint8_t frame[kHeaderLength + kPieceRest];
  const int length = ReceiveAnswer(ctx, header, frame, kPieceRest, kPieceLength);
  if (length != kPieceLength) {
    ctx->nRegTextSelector = kNoSelector;
    return length < 0 ? length : kLinkProtocolError;
  }
  LogAnswer(ctx, frame, length, "(SN Info)");
  char piece[kPieceTextLength + 2] = " ";
  memcpy(piece + 1, frame + kPieceTextAt, kPieceTextLength);
  RecodeFromDevice(ctx, piece + 1, kPieceTextLength);
  const size_t used = strlen(ctx->szPlaceSettle);
  CopyText(ctx->szPlaceSettle + used, sizeof ctx->szPlaceSettle - used, piece);
  AcknowledgeFrame(ctx, kLinkOk, kAckPauseMs);
  LogRecv(ctx, "[05]", "(ENQ)");
  return HandleDeviceEnq(ctx);
}
