#include "device/info_records.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
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
// A version banner that is neither of its two lengths is read on to the end of the longest frame
// the printer may be sending, so that its rest does not start the next answer.
constexpr uint32_t kBannerRestLength = 73;

enum class Ack { kAtOnce, kAfterPause, kNone };

struct Storage {
  uint8_t* bytes;
  size_t size;
};

template <auto Field>
Storage StorageOf(FPContext* ctx) {
  return {reinterpret_cast<uint8_t*>(ctx->*Field), sizeof(ctx->*Field)};
}

struct RecordLayout;
using ReceiveFn = int (*)(FPContext* ctx, const uint8_t* header, const RecordLayout& layout);
using ValuesFn = void (*)(FPContext* ctx, const uint8_t* frame, int length);
using AppliesFn = bool (*)(const FPContext* ctx, const uint8_t* header);

// How one kind of record is received. Most records differ only in these facts and share one
// receiver; the few with rules of their own name their receiver.
struct RecordLayout {
  const char* prefix;  // header bytes that identify the record (the longest match wins)
  AppliesFn applies;   // null: always; else this row holds only when it says so
  int kind;
  int length;  // bytes after STX through the check character
  bool upTo;   // length is the longest; the frame ends where the device's bytes end
  Storage (*storage)(FPContext* ctx);
  Ack ack;
  const char* logFormat;  // see RecordLogLine
  int firstField;         // position of the first field the log format shows
  ValuesFn values;        // decodes the record's values into the context, or null
  ReceiveFn receive;      // null: ReceiveRecord
};

// ---- Receive-log lines ----

int NumberAt(const char*& f) {
  char* end = nullptr;
  const long n = strtol(f, &end, 10);
  f = end;
  return static_cast<int>(n);
}

// Renders the receive-log line of a record. "%W.Ps" (or "%-W.Ps") shows P characters of the next
// field padded to W, "%s" the rest of the record up to ETX, "%c" one character and "%2.2X" one byte
// in hexadecimal; fields follow each other from `first`, or stand at `positions` when given. "[0A]"
// stands for a separator and passes over it. The last conversion, when it is "%2.2X", shows the
// check character. Characters are never taken from ETX on, so a short frame shows blanks.
std::string RecordLogLine(const char* format, const uint8_t* frame, int length, int first,
                          const int* positions = nullptr) {
  const char* last = strrchr(format, '%');
  const int textEnd = length - 2;
  std::string out;
  int pos = first;
  int field = 0;
  for (const char* f = format; *f != '\0';) {
    if (strncmp(f, "[0A]", 4) == 0) {
      out += "[0A]";
      f += 4;
      ++pos;
      continue;
    }
    if (*f != '%') {
      out += *f++;
      continue;
    }
    const char* conversion = f++;
    const bool left = *f == '-';
    if (left) ++f;
    const int width = NumberAt(f);
    const int precision = *f == '.' ? NumberAt(++f) : -1;
    const char type = *f != '\0' ? *f++ : 's';
    const int at = positions ? positions[field] : pos;
    ++field;
    if (type == 'X') {
      const bool check = conversion == last && length > 0;
      const uint8_t b = check ? frame[length - 1] : (at >= 0 && at < length ? frame[at] : 0);
      char hex[4];
      snprintf(hex, sizeof hex, "%2.2X", b);
      out += hex;
      pos = at + 1;
      continue;
    }
    const int count = type == 'c' ? 1 : precision >= 0 ? precision : textEnd - at;
    std::string text;
    for (int i = 0; i < count && at + i < textEnd && frame[at + i] != 0; ++i)
      text += static_cast<char>(frame[at + i]);
    if (static_cast<int>(text.size()) < width) {
      const std::string pad(width - text.size(), ' ');
      text = left ? text + pad : pad + text;
    }
    out += text;
    pos = at + count;
  }
  return out;
}

void LogBadFrame(FPContext* ctx, const uint8_t* frame, uint32_t length) {
  const std::string text = HexBytes("[02] ", frame, length);
  LogRecv(ctx, text.c_str(), LinkResultText(kLinkProtocolError));
}

// ---- Reception ----

// A record's reads so far: a read that failed (the port, not a time-out) makes the record's result
// the receive failure, never a protocol error for the short record it left.
struct RecordRead {
  int result = kLinkOk;

  uint32_t Took(int read, uint32_t got) {
    if (read != kLinkOk) result = read;
    return got;
  }
  // The result of a record that did not come whole.
  int Broken(FPContext* ctx, const uint8_t* frame, int length) const {
    LogBadFrame(ctx, frame, static_cast<uint32_t>(length));
    return result != kLinkOk ? result : kLinkProtocolError;
  }
};

// Reads up to `wanted` bytes behind `at`; a time-out between bytes ends a short read normally.
uint32_t ReadMore(FPContext* ctx, uint8_t* at, uint32_t wanted, RecordRead* reading) {
  uint32_t got = 0;
  const int read = AcceptBuf(ctx, at, wanted, &got);
  return reading->Took(read, got);
}

// Reads up to `wanted` bytes behind the header of `frame`, ending once `end` says the frame is whole.
uint32_t ReadUntil(FPContext* ctx, uint8_t* frame, uint32_t wanted, const FrameEnd& end,
                   RecordRead* reading) {
  uint32_t got = 0;
  const int read = AcceptBufUntil(ctx, frame + kHeaderLength, wanted, &got, end);
  return reading->Took(read, got);
}

int Acknowledge(FPContext* ctx, int kind, Ack ack) {
  if (ack == Ack::kNone) return kind;
  return AcknowledgeFrame(ctx, kind, ack == Ack::kAfterPause ? kAckPauseMs : -1);
}

void LogRecord(FPContext* ctx, const RecordLayout& layout, const uint8_t* frame, int length) {
  if (!ctx->pfnLogRecv) return;
  const std::string text = RecordLogLine(layout.logFormat, frame, length, layout.firstField);
  LogRecv(ctx, text.c_str(), LinkResultText(layout.kind));
}

// The common reception: the rest of the frame into the record's buffer, the checks, the log line,
// the values and the acknowledgement.
int ReceiveRecord(FPContext* ctx, const uint8_t* header, const RecordLayout& layout) {
  const Storage s = layout.storage(ctx);
  memcpy(s.bytes, header, kHeaderLength);
  // A variable record leaves no bytes of an older, longer one behind its end.
  if (layout.upTo) memset(s.bytes + kHeaderLength, 0, s.size - kHeaderLength);
  const uint32_t wanted = static_cast<uint32_t>(layout.length - kHeaderLength);
  RecordRead reading;
  const int length =
      kHeaderLength +
      static_cast<int>(layout.upTo ? ReadUntil(ctx, s.bytes, wanted,
                                               FrameEnd(s.bytes, kHeaderLength, kHeaderLength + 2), &reading)
                                   : ReadMore(ctx, s.bytes + kHeaderLength, wanted, &reading));
  // A variable record must bring its own ETX and check character: the header's last two bytes
  // never stand for them.
  const bool complete = layout.upTo ? length >= kHeaderLength + 2 : length == layout.length;
  if (!complete || !FrameIntact(s.bytes, length)) return reading.Broken(ctx, s.bytes, length);
  LogRecord(ctx, layout, s.bytes, length);
  if (layout.values) layout.values(ctx, s.bytes, length);
  return Acknowledge(ctx, layout.kind, layout.ack);
}

int RejectRecord(FPContext* ctx, const uint8_t* header, const RecordLayout&) {
  LogUnknownHeader(ctx, header);
  return kLinkProtocolError;
}

// ---- "S1": two forms told apart by where ETX stands ----

constexpr int kS1Long = 118;
constexpr int kS1Short = 112;

struct S1Place {
  int longAt;
  int shortAt;
  int width;
};

const S1Place kS1Places[] = {
    {2, 2, 2},     // clerk logged on, "00" when none
    {31, 31, 4},   // shift number
    {36, 36, 8},   // fiscal documents
    {45, 45, 8},   // last receipt
    {54, 54, 12},  // taxpayer number
    {67, 67, 20},  // registration number of the register (14 characters in the short form)
    {88, 82, 14},  // serial number
    {5, 5, 16},    // fiscal drive number
};

const char kS1Format[] =
    "[02]%-4.4s[0A]%-16.16s[0A]%-8.8s[0A]%-4.4s[0A]%-8.8s[0A]%-8.8s[0A]%-12.12s[0A]%-20.20s[0A]%-14.14s[0A]"
    "%-6.6s[0A]%-6.6s[03][%2.2X]";
const char kS1ShortFormat[] =
    "[02]%-4.4s[0A]%-16.16s[0A]%-8.8s[0A]%-4.4s[0A]%-8.8s[0A]%-8.8s[0A]%-12.12s[0A]%-16.16s[0A]%-14.14s[0A]"
    "%-6.6s[0A]%-6.6s[03][%2.2X]";
const int kS1LongPositions[] = {0, 5, 22, 31, 36, 45, 54, 67, 88, 103, 110, 117};
const int kS1ShortPositions[] = {0, 5, 22, 31, 36, 45, 54, 67, 82, 97, 104, 111};

bool IsVersion(const FPContext* ctx, int major, int minor) {
  return ctx->nVersionMajor == major && ctx->nVersionMinor == minor;
}

bool IsSupportedModel(const FPContext* ctx) {
  return IsVersion(ctx, 11, 1);
}

// The long form is not acknowledged, the short form at once.
int ReceiveS1(FPContext* ctx, const uint8_t* header, const RecordLayout& layout) {
  uint8_t* frame = reinterpret_cast<uint8_t*>(ctx->infoS1);
  memcpy(frame, header, kHeaderLength);
  const uint32_t wanted = IsSupportedModel(ctx) ? kS1Long - kHeaderLength
                          : ctx->bS1ShortForm   ? kS1Short - kHeaderLength
                                                : sizeof ctx->infoS1 - kHeaderLength;
  RecordRead reading;
  const int length =
      kHeaderLength + static_cast<int>(ReadUntil(
                          ctx, frame, wanted, FrameEnd(frame, kHeaderLength, {kS1Short, kS1Long}), &reading));
  const bool isLong = length >= kS1Long && FrameIntact(frame, kS1Long);
  if (!isLong && !(length >= kS1Short && FrameIntact(frame, kS1Short)))
    return reading.Broken(ctx, frame, length);
  ctx->nS1Length = isLong ? kS1Long : kS1Short;
  if (ctx->pfnLogRecv) {
    const std::string text = RecordLogLine(isLong ? kS1Format : kS1ShortFormat, frame, ctx->nS1Length, 0,
                                           isLong ? kS1LongPositions : kS1ShortPositions);
    LogRecv(ctx, text.c_str(), LinkResultText(layout.kind));
  }
  return Acknowledge(ctx, layout.kind, isLong ? Ack::kNone : Ack::kAtOnce);
}

// ---- Version banners ----

constexpr int kSvShort = 38;  // "SV", two banner characters in the header, 32 more, ETX, check
constexpr int kSvLong = 39;

// A checked banner of `bannerLength` characters at `frame` + `bannerAt`: logged as received,
// acknowledged, translated and terminated in place of its ETX, and logged again translated.
int TakeBanner(FPContext* ctx, uint8_t* frame, int bannerAt, int bannerLength, const RecordLayout& layout) {
  const int length = bannerAt + bannerLength + 2;
  char raw[32];
  char decoded[32];
  snprintf(raw, sizeof raw, bannerAt == 2 ? "[02]SV%%%d.%ds[03][%%2.2X]" : "[02]%%%d.%ds[03][%%2.2X]",
           bannerLength, bannerLength);
  snprintf(decoded, sizeof decoded, "Decoded: %%%d.%ds[03][%%2.2X]", bannerLength, bannerLength);
  if (ctx->pfnLogRecv) {
    LogRecv(ctx, RecordLogLine(raw, frame, length, bannerAt).c_str(), LinkResultText(layout.kind));
  }
  Acknowledge(ctx, layout.kind, layout.ack);
  RecodeFromDevice(ctx, reinterpret_cast<char*>(frame + bannerAt), bannerLength);
  frame[bannerAt + bannerLength] = 0;
  if (ctx->pfnLogRecv) {
    // The terminator now stands where ETX was; the log shows the banner up to it.
    LogRecv(ctx, RecordLogLine(decoded, frame, length, bannerAt).c_str(), LinkResultText(layout.kind));
  }
  return layout.kind;
}

// "SV" and a banner of 34 or 35 characters; anything else is read to its end and refused.
int ReceiveSV(FPContext* ctx, const uint8_t* header, const RecordLayout& layout) {
  uint8_t* frame = reinterpret_cast<uint8_t*>(ctx->infoSV);
  memcpy(frame, header, kHeaderLength);
  RecordRead reading;
  int length = kHeaderLength +
               static_cast<int>(ReadMore(ctx, frame + kHeaderLength, kSvShort - kHeaderLength, &reading));
  if (length == kSvShort && FrameIntact(frame, kSvShort))
    return TakeBanner(ctx, frame, 2, kSvShort - 4, layout);
  if (length == kSvShort) length += static_cast<int>(ReadMore(ctx, frame + length, 1, &reading));
  if (length == kSvLong && FrameIntact(frame, kSvLong)) return TakeBanner(ctx, frame, 2, kSvLong - 4, layout);
  if (length == kSvLong)
    length += static_cast<int>(ReadMore(ctx, frame + length, kBannerRestLength, &reading));
  return reading.Broken(ctx, frame, length);
}

// A banner that begins with 0x95 0x91 0x20 0x7F: stored behind an inserted "SV" like the others.
constexpr int kBanner95Length = 37;

int ReceiveBanner95(FPContext* ctx, const uint8_t* header, const RecordLayout& layout) {
  uint8_t* frame = reinterpret_cast<uint8_t*>(ctx->infoSV) + 2;
  memcpy(ctx->infoSV, "SV", 2);
  memcpy(frame, header, kHeaderLength);
  RecordRead reading;
  int length = kHeaderLength + static_cast<int>(ReadMore(ctx, frame + kHeaderLength,
                                                         kBanner95Length - kHeaderLength, &reading));
  if (length == kBanner95Length && FrameIntact(frame, kBanner95Length)) {
    return TakeBanner(ctx, frame, 0, kBanner95Length - 2, layout);
  }
  if (length == kBanner95Length) {
    length += static_cast<int>(ReadMore(ctx, frame + length, kBannerRestLength, &reading));
  }
  return reading.Broken(ctx, frame, length);
}

// ---- Records with rules of their own ----

// "SF": the firmware subversion in the header; the two bytes after it are shown but not checked,
// and the record is not acknowledged.
int ReceiveSF(FPContext* ctx, const uint8_t* header, const RecordLayout& layout) {
  uint8_t* frame = reinterpret_cast<uint8_t*>(ctx->infoSF);
  memset(frame, 0, sizeof ctx->infoSF);
  memcpy(frame, header, kHeaderLength);
  RecordRead reading;
  ReadMore(ctx, frame + kHeaderLength, sizeof ctx->infoSF - kHeaderLength, &reading);
  if (reading.result != kLinkOk) return reading.result;
  ctx->nFpSubversion = FromNibbleChars(ctx->infoSF + 2);
  if (ctx->pfnLogRecv) {
    char text[64];
    snprintf(text, sizeof text, "[02]%4.4s (version: %d)[%2.2X][%2.2X]", ctx->infoSF,
             static_cast<int>(ctx->nFpSubversion), frame[4], frame[5]);
    LogRecv(ctx, text, LinkResultText(layout.kind));
  }
  return layout.kind;
}

// "04": a fiscal-drive message of fixed length, taken as it comes (no ETX or check character test)
// and not acknowledged.
int ReceiveFdMessage(FPContext* ctx, const uint8_t* header, const RecordLayout& layout) {
  uint8_t* frame = reinterpret_cast<uint8_t*>(ctx->infoFdMessage);
  memcpy(frame, header, kHeaderLength);
  uint32_t got = 0;
  const int read = AcceptBuf(ctx, frame + kHeaderLength, layout.length - kHeaderLength, &got);
  if (read != kLinkOk || static_cast<int>(got) != layout.length - kHeaderLength) {
    LogRecv(ctx, "[02][]", LinkResultText(read != kLinkOk ? read : kLinkReceiveTimeout));
    return read != kLinkOk ? read : kLinkProtocolError;
  }
  ctx->nFdMessageResult = FromNibbleChars(ctx->infoFdMessage + 6);
  if (ctx->pfnLogRecv) {
    const std::string text = RecordLogLine(layout.logFormat, frame, layout.length, layout.firstField);
    LogRecv(ctx, text.c_str(), LinkResultText(kRecord0215));
  }
  return layout.kind;
}

// ---- Values ----

// A decimal number in a fixed field, blanks around it allowed; anything else makes the field 0,
// so that a damaged field is never read as some other number. More than 18 digits (the 20-digit
// registration number) cannot be held in 64 bits: such a field is text (S1Text), and reads as 0.
int64_t DecimalField(const uint8_t* at, int width) {
  int64_t value = 0;
  int i = 0, digits = 0;
  while (i < width && at[i] == ' ') ++i;
  for (; i < width && at[i] >= '0' && at[i] <= '9'; ++i, ++digits) value = value * 10 + (at[i] - '0');
  while (i < width && at[i] == ' ') ++i;
  return i == width && digits <= 18 ? value : 0;
}

int HexDigit(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;
}

constexpr int kTaxRateAt[4] = {2, 7, 12, 17};
constexpr int kFirstFlagAt = 22;  // flag k at 20 + 2k

void DecodeTaxRatesAndFlags(FPContext* ctx, const uint8_t* frame, int length) {
  for (int i = 0; i < 4; ++i)
    ctx->anTaxRates[i] = static_cast<int32_t>(DecimalField(frame + kTaxRateAt[i], 4));
  // The flags run up to the LF before ETX: 22 on the newer printers, 20 on the older ones.
  const int flags = (length - 3 - kFirstFlagAt) / 2;
  for (int k = 1; k <= flags && k < static_cast<int>(sizeof ctx->abDeviceFlags); ++k) {
    const uint8_t* pair = frame + 20 + 2 * k;
    ctx->abDeviceFlags[k] = static_cast<uint8_t>(HexDigit(pair[0]) << 4 | HexDigit(pair[1]));
  }
  ctx->bDeviceFlagsValid = 1;
  ctx->bS3ReadInCall = 1;
}

void NoteS31(FPContext* ctx, const uint8_t*, int) {
  ctx->bS31 = 1;
}

// "Se" repeats the extended status from its journal byte on: its error code, document type and
// counters replace those of the last extended status, in the part both layouts share.
constexpr int kSeOverlayLength = 19;

void DecodeSe(FPContext* ctx, const uint8_t* frame, int length) {
  ctx->nDeviceError = FromNibbleChars(reinterpret_cast<const char*>(frame + 4));
  const int n = length - 4 < kSeOverlayLength ? length - 4 : kSeOverlayLength;
  memcpy(ctx->extStatus, frame + 2, static_cast<size_t>(n));
}

void DecodeAgentSigns(FPContext* ctx, const uint8_t* frame, int) {
  ctx->nAgentSigns = FromNibbleChars(reinterpret_cast<const char*>(frame + 2));
  ctx->nActivityFlags = FromNibbleChars(reinterpret_cast<const char*>(frame + 4));
}

// ---- Which row holds ----

bool IsNibbleChar(uint8_t c) {
  return c >= 0x30 && c <= 0x3F;
}

bool HasNibblePair(const FPContext*, const uint8_t* header) {
  return IsNibbleChar(header[2]) && IsNibbleChar(header[3]);
}

// Printers of models 5, 6, 7, 9, 10 and 11 send 22 flags, the older ones 20.
bool SendsTwentyTwoFlags(const FPContext* ctx, const uint8_t*) {
  const int m = ctx->nVersionMajor;
  return m == 5 || m == 6 || m == 7 || m == 9 || m == 10 || m == 11;
}

bool SendsLongSe(const FPContext* ctx, const uint8_t*) {
  const int m = ctx->nVersionMajor;
  return m == 5 || m == 6 || m == 7 || m == 10 || IsVersion(ctx, 9, 0) || IsVersion(ctx, 11, 1);
}

bool SendsShortSe(const FPContext* ctx, const uint8_t*) {
  return IsVersion(ctx, 3, 1);
}

bool HasWideContext(const FPContext* ctx, const uint8_t*) {
  return ctx->nContextKind >= 2;
}

// ---- The records ----

const char kS3Format[] =
    "[02]S3%4.4s[0A]%4.4s[0A]%4.4s[0A]%4.4s[0A] %2.2s %2.2s %2.2s %2.2s %2.2s %2.2s %2.2s %2.2s %2.2s %2.2s "
    "%2.2s %2.2s %2.2s %2.2s %2.2s %2.2s %2.2s %2.2s %2.2s %2.2s %2.2s[0A][03][%2.2X]";
const char kSIFormat[] = "[02]%2.2s [%12.12s] [%12.12s] [%1.1s] [%1.1s] [%1.1s] [%2.2X][03][%2.2X]";
const char kSfFormat[] =
    "[02]%2.2s [%4.4s] [%12.12s] [%12.12s] [%12.12s] [%12.12s] [%12.12s] [%12.12s] [%12.12s] [%12.12s] "
    "[%12.12s] [%4.4s] [%12.12s] [%4.4s] [%12.12s] [%4.4s] [%12.12s] [%4.4s] [%12.12s] [%4.4s] [%12.12s] "
    "[%4.4s] [%12.12s] [03][%2.2X]";
const char kShWideFormat[] =
    "[02]%2.2s [%4.4s] [%12.12s] [%12.12s] [%12.12s] [%12.12s] [%12.12s] [%12.12s] [%8.8s]*[%8.8s] "
    "[%8.8s]*[%8.8s] [%8.8s]*[%8.8s] [%8.8s]*[%8.8s] [%8.8s]*[%8.8s] [%8.8s]*[%8.8s] [%8.8s]*[%8.8s] "
    "[%8.8s]*[%8.8s] [%8.8s]*[%8.8s] [%2.2X][%2.2X]";
const char kShFormat[] =
    "[02]%2.2s [%4.4s] [%16.16s] [%16.16s] [%16.16s] [%16.16s] [%4.4s] [%12.12s] [%4.4s] [%12.12s] "
    "[%4.4s] [%12.12s] [%4.4s] [%12.12s] [%8.8s] [%12.12s] [%8.8s] [%12.12s] [03][%2.2X]";
// Records whose fields the driver does not read show as they came.
const char kPlainFormat[] = "[02]%s[03][%2.2X]";

const RecordLayout kRecords[] = {
    // The records the supported printer sends.
    {"S1", nullptr, kRecordS1, kS1Long, false, StorageOf<&FPContext::infoS1>, Ack::kNone, kS1Format, 0,
     nullptr, ReceiveS1},
    {"S3", SendsTwentyTwoFlags, kRecordS3, 69, false, StorageOf<&FPContext::infoS3>, Ack::kAtOnce, kS3Format,
     2, DecodeTaxRatesAndFlags, nullptr},
    {"S3", nullptr, kRecordS3, 65, false, StorageOf<&FPContext::infoS3>, Ack::kAtOnce, kS3Format, 2,
     DecodeTaxRatesAndFlags, nullptr},
    // "S31" is all of its header: an S3 record whose first rate begins with "1" is not one.
    {"S31\x03", nullptr, kRecordS31, 5, false, StorageOf<&FPContext::infoS31>, Ack::kAtOnce,
     "[02]S31[03][%2.2X]", 0, NoteS31, nullptr},
    {"S9", nullptr, kRecordS9, 28, false, StorageOf<&FPContext::infoS9>, Ack::kAtOnce,
     "[02]S9%c[0A]%c[0A]%20.20s[03][%2.2X]", 2, nullptr, nullptr},
    {"SV", nullptr, kRecordVersion, kSvLong, false, StorageOf<&FPContext::infoSV>, Ack::kAfterPause, "", 2,
     nullptr, ReceiveSV},
    {"\x95\x91\x20\x7F", nullptr, kRecordVersion, kBanner95Length, false, StorageOf<&FPContext::infoSV>,
     Ack::kAfterPause, "", 0, nullptr, ReceiveBanner95},
    {"SI", nullptr, kRecordSI, 32, false, StorageOf<&FPContext::infoSI>, Ack::kAfterPause, kSIFormat, 0,
     nullptr, nullptr},
    {"Se", SendsLongSe, kRecordSe, 26, false, StorageOf<&FPContext::infoSe>, Ack::kAfterPause, kPlainFormat,
     0, DecodeSe, nullptr},
    {"Se", SendsShortSe, kRecordSe, 21, false, StorageOf<&FPContext::infoSe>, Ack::kAfterPause, kPlainFormat,
     0, DecodeSe, nullptr},
    {"Se", nullptr, kRecordSe, 25, false, StorageOf<&FPContext::infoSe>, Ack::kAfterPause, kPlainFormat, 0,
     DecodeSe, nullptr},
    {"Sf", nullptr, kRecordSf, 212, false, StorageOf<&FPContext::infoSf>, Ack::kAfterPause, kSfFormat, 0,
     nullptr, nullptr},
    {"Sg", nullptr, kRecordSg, 212, false, StorageOf<&FPContext::infoSg>, Ack::kAfterPause, kSfFormat, 0,
     nullptr, nullptr},
    {"Sh", HasWideContext, kRecordSh, 225, true, StorageOf<&FPContext::infoSh>, Ack::kAfterPause,
     kShWideFormat, 0, nullptr, nullptr},
    {"Sh", nullptr, kRecordSh, 200, true, StorageOf<&FPContext::infoSh>, Ack::kAfterPause, kShFormat, 0,
     nullptr, nullptr},
    {"Si", nullptr, kRecordSi, 200, false, StorageOf<&FPContext::infoSi>, Ack::kAfterPause, kShFormat, 0,
     nullptr, nullptr},
    {"SNZ1", nullptr, kRecordSNZ1, 7, false, StorageOf<&FPContext::infoSNZ1>, Ack::kAfterPause,
     "[02]S%4.4s[03][%2.2X]", 1, nullptr, nullptr},
    {"SR", nullptr, kRecordSR, 8, false, StorageOf<&FPContext::infoSR>, Ack::kAfterPause,
     "[02]SR%4.4s[03][%2.2X]", 2, nullptr, nullptr},
    {"SF", nullptr, 0, 6, false, StorageOf<&FPContext::infoSF>, Ack::kNone, "", 0, nullptr, ReceiveSF},
    {"S{", HasNibblePair, 0, 14, true, StorageOf<&FPContext::infoSBrace>, Ack::kAfterPause, kPlainFormat, 0,
     DecodeAgentSigns, nullptr},
    {"S{LL", nullptr, kRecordSBraceLL, 30, false, StorageOf<&FPContext::infoSBraceLL>, Ack::kAfterPause,
     "[02]S{LL%24.24s[03][%2.2X]", 4, nullptr, nullptr},
    {"S{O", nullptr, kRecordSBraceO, 106, false, StorageOf<&FPContext::infoSBraceO>, Ack::kAfterPause,
     "[02]S{O%81.81s[03][%2.2X]", 3, nullptr, nullptr},
    {"S{O?", nullptr, kLinkProtocolError, 0, false, nullptr, Ack::kNone, "", 0, nullptr, RejectRecord},
    {"S{O@", nullptr, kLinkProtocolError, 0, false, nullptr, Ack::kNone, "", 0, nullptr, RejectRecord},
    {"04", nullptr, 0, 76, false, StorageOf<&FPContext::infoFdMessage>, Ack::kNone, "[02]%s[%2.2X][%2.2X]", 0,
     nullptr, ReceiveFdMessage},
    // Records only other models of the family send.
    {"S0", nullptr, kRecordS0, 11, false, StorageOf<&FPContext::infoS0>, Ack::kAfterPause, kPlainFormat, 0,
     nullptr, nullptr},
    {"S2", nullptr, kRecordS2, 36, false, StorageOf<&FPContext::infoS2>, Ack::kAtOnce, kPlainFormat, 0,
     nullptr, nullptr},
    {"SAA", nullptr, kRecordSAA, 6, false, StorageOf<&FPContext::infoSAA>, Ack::kAfterPause, kPlainFormat, 0,
     nullptr, nullptr},
    {"SC", nullptr, kRecordSC, 7, false, StorageOf<&FPContext::infoSC>, Ack::kAfterPause, kPlainFormat, 0,
     nullptr, nullptr},
    {"SK", HasWideContext, kRecordSK, 64, true, StorageOf<&FPContext::infoSK>, Ack::kAfterPause, kPlainFormat,
     0, nullptr, nullptr},
    {"SK", nullptr, kRecordSK, 46, true, StorageOf<&FPContext::infoSK>, Ack::kAfterPause, kPlainFormat, 0,
     nullptr, nullptr},
    {"SM", nullptr, kRecordSM, 6, false, StorageOf<&FPContext::infoSM>, Ack::kAfterPause, kPlainFormat, 0,
     nullptr, nullptr},
    {"SNZ2", nullptr, kRecordSNZ2, 7, false, StorageOf<&FPContext::infoSNZ2>, Ack::kAfterPause, kPlainFormat,
     0, nullptr, nullptr},
    {"ST", nullptr, kRecordST, 29, false, StorageOf<&FPContext::infoST>, Ack::kAfterPause, kPlainFormat, 0,
     nullptr, nullptr},
    {"SW", nullptr, kRecordSW, 8, false, StorageOf<&FPContext::infoSW>, Ack::kAfterPause, kPlainFormat, 0,
     nullptr, nullptr},
    {"SX", nullptr, kRecordSX, 54, true, StorageOf<&FPContext::infoSX>, Ack::kAfterPause, kPlainFormat, 0,
     nullptr, nullptr},
    {"SY", nullptr, kRecordSY, 25, false, StorageOf<&FPContext::infoSY>, Ack::kAfterPause, kPlainFormat, 0,
     nullptr, nullptr},
    {"Sc", nullptr, kRecordSc, 5, false, StorageOf<&FPContext::infoSc>, Ack::kAfterPause, kPlainFormat, 0,
     nullptr, nullptr},
    {"Sm", nullptr, kRecordSm, 5, false, StorageOf<&FPContext::infoSm>, Ack::kAfterPause, kPlainFormat, 0,
     nullptr, nullptr},
    {"S{&", nullptr, kRecordSBraceAmp, 12, false, StorageOf<&FPContext::infoSBraceAmp>, Ack::kAfterPause,
     kPlainFormat, 0, nullptr, nullptr},
    {"S{~", nullptr, kRecordSBraceTilde, 53, false, StorageOf<&FPContext::infoSBraceTilde>, Ack::kAfterPause,
     kPlainFormat, 0, nullptr, nullptr},
    {"S|bf", nullptr, kRecordSbf, 79, false, StorageOf<&FPContext::infoSbf>, Ack::kAfterPause, kPlainFormat,
     0, nullptr, nullptr},
    {"0215", nullptr, kRecord0215, 50, false, StorageOf<&FPContext::info0215>, Ack::kAfterPause, kPlainFormat,
     0, nullptr, nullptr},
};

size_t PrefixMatch(const char* prefix, const uint8_t* header) {
  size_t n = 0;
  for (; n < kHeaderLength && prefix[n] != '\0'; ++n) {
    if (static_cast<uint8_t>(prefix[n]) != header[n]) return 0;
  }
  return n;
}

const RecordLayout* FindRecordLayout(const FPContext* ctx, const uint8_t* header) {
  const RecordLayout* best = nullptr;
  size_t bestLength = 0;
  for (const RecordLayout& r : kRecords) {
    const size_t n = PrefixMatch(r.prefix, header);
    if (n > bestLength && (!r.applies || r.applies(ctx, header))) {
      best = &r;
      bestLength = n;
    }
  }
  return best;
}

int FieldStart(const FPContext* ctx, const S1Place& place) {
  return ctx->nS1Length == kS1Short ? place.shortAt : place.longAt;
}

int FieldWidth(const FPContext* ctx, S1Field field) {
  const bool shortRegistration = ctx->nS1Length == kS1Short && field == S1Field::kRegistration;
  return shortRegistration ? 14 : kS1Places[static_cast<int>(field)].width;
}

}  // namespace

int DecodeInfoRecord(FPContext* ctx, const uint8_t header[4], bool /*log*/) {
  const RecordLayout* layout = FindRecordLayout(ctx, header);
  if (!layout) return RejectRecord(ctx, header, kRecords[0]);
  return layout->receive ? layout->receive(ctx, header, *layout) : ReceiveRecord(ctx, header, *layout);
}

int64_t DecodeAmount48(const char* field) {
  uint8_t b[6];
  for (int i = 0; i < 6; ++i) b[i] = FromNibbleChars(field + 2 * i);
  uint64_t value = uint64_t{b[0]} << 32 | uint64_t{b[1]} << 40 | uint64_t{b[2]} | uint64_t{b[3]} << 8 |
                   uint64_t{b[4]} << 16 | uint64_t{b[5]} << 24;
  if (value & (uint64_t{1} << 47)) value |= ~((uint64_t{1} << 48) - 1);
  return static_cast<int64_t>(value);
}

void S1Text(const FPContext* ctx, S1Field field, char* out, size_t outSize) {
  if (outSize == 0) return;
  const int at = FieldStart(ctx, kS1Places[static_cast<int>(field)]);
  CopyText(out, outSize, ctx->infoS1 + at, static_cast<size_t>(std::max(0, FieldWidth(ctx, field))));
}

int64_t S1Number(const FPContext* ctx, S1Field field) {
  const int at = FieldStart(ctx, kS1Places[static_cast<int>(field)]);
  return DecimalField(reinterpret_cast<const uint8_t*>(ctx->infoS1) + at, FieldWidth(ctx, field));
}

int ShiftRecordNumber(const char* record) {
  return FromNibbleChars(record + 2) | FromNibbleChars(record + 4) << 8;
}

int64_t ShiftRecordAmount(const char* record, int index) {
  if (index < 0 || index > 7) return 0;
  return DecodeAmount48(record + 6 + 12 * index);
}

int64_t SIAmount(const FPContext* ctx, int index) {
  if (index < 0 || index > 1) return 0;
  return DecodeAmount48(ctx->infoSI + 2 + 12 * index);
}
