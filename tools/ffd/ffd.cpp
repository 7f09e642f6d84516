#include "ffd/ffd.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "platform/codepage.h"

namespace ffd {
namespace {

constexpr uint8_t kSignature[] = {0x2A, 0x08, 0x41, 0x0A};
constexpr uint8_t kSessionKind[] = {0x81, 0xA2};
constexpr uint8_t kProtocolVersion[] = {0x00, 0x01};
constexpr uint8_t kSessionFlags[] = {0x14, 0x00, 0x00, 0x00};
constexpr size_t kLengthAt = 24;  // the container's length in the session header
constexpr size_t kMaxValue = 0xFFFF;
// Places in the container header.
constexpr size_t kCrcAt = 2;
constexpr size_t kMessageTypeAt = 4;
constexpr size_t kDocumentTypeAt = 5;
constexpr size_t kVersionAt = 6;
constexpr size_t kServiceData1At = 7;
constexpr size_t kDriveNumberAt = 9;
constexpr size_t kDocumentNumberAt = 17;
constexpr size_t kServiceData2At = 20;

uint16_t GetU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

void PutU16Into(uint8_t* at, uint16_t v) {
  at[0] = static_cast<uint8_t>(v);
  at[1] = static_cast<uint8_t>(v >> 8);
}

uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

Bytes VlnBytes(uint64_t value) {
  Bytes out;
  do {
    out.push_back(static_cast<uint8_t>(value));
    value >>= 8;
  } while (value != 0);
  return out;
}

bool AllDigits(const std::string& text, size_t count) {
  if (text.size() != count) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// CP866 places: А..Я at 0x80, а..п at 0xA0, р..я at 0xE0, Ё and ё at 0xF0 and 0xF1, № at 0xFC.
int Cp866Of(char16_t c) {
  if (c < 0x80) return c;
  if (c >= u'А' && c <= u'я') return c <= u'п' ? 0x80 + (c - u'А') : 0xE0 + (c - u'р');
  if (c == u'Ё') return 0xF0;
  if (c == u'ё') return 0xF1;
  if (c == u'№') return 0xFC;
  return '?';
}

char16_t UnicodeOf(uint8_t b) {
  if (b < 0x80) return b;
  if (b < 0xB0) return static_cast<char16_t>(u'А' + (b - 0x80));
  if (b >= 0xE0 && b < 0xF0) return static_cast<char16_t>(u'р' + (b - 0xE0));
  if (b == 0xF0) return u'Ё';
  if (b == 0xF1) return u'ё';
  if (b == 0xFC) return u'№';
  return u'?';
}

}  // namespace

void PutU16(Bytes* out, uint16_t v) {
  out->push_back(static_cast<uint8_t>(v));
  out->push_back(static_cast<uint8_t>(v >> 8));
}

void PutU32(Bytes* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint16_t Crc16(const uint8_t* bytes, size_t count) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < count; ++i) {
    crc ^= static_cast<uint16_t>(bytes[i] << 8);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
    }
  }
  return crc;
}

std::string Cp866FromUtf8(const std::string& utf8) {
  std::string out;
  for (char16_t c : plat::Utf8ToUtf16(utf8)) out.push_back(static_cast<char>(Cp866Of(c)));
  return out;
}

std::string Utf8FromCp866(const std::string& cp866) {
  std::u16string text;
  for (char c : cp866) text.push_back(UnicodeOf(static_cast<uint8_t>(c)));
  return plat::Utf16ToUtf8(text);
}

// ---- TLV ----

TlvWriter& TlvWriter::Raw(uint16_t tag, const Bytes& value) {
  const size_t size = value.size() < kMaxValue ? value.size() : kMaxValue;
  PutU16(&bytes_, tag);
  PutU16(&bytes_, static_cast<uint16_t>(size));
  bytes_.insert(bytes_.end(), value.begin(), value.begin() + static_cast<std::ptrdiff_t>(size));
  return *this;
}

TlvWriter& TlvWriter::U8(uint16_t tag, uint8_t value) {
  return Raw(tag, Bytes{value});
}

TlvWriter& TlvWriter::U32(uint16_t tag, uint32_t value) {
  Bytes v;
  PutU32(&v, value);
  return Raw(tag, v);
}

TlvWriter& TlvWriter::String(uint16_t tag, const std::string& cp866) {
  return Raw(tag, Bytes(cp866.begin(), cp866.end()));
}

TlvWriter& TlvWriter::Vln(uint16_t tag, uint64_t value) {
  return Raw(tag, VlnBytes(value));
}

TlvWriter& TlvWriter::Fvln(uint16_t tag, uint8_t decimals, uint64_t value) {
  Bytes v{decimals};
  const Bytes number = VlnBytes(value);
  v.insert(v.end(), number.begin(), number.end());
  return Raw(tag, v);
}

TlvWriter& TlvWriter::Stlv(uint16_t tag, const TlvWriter& inner) {
  return Raw(tag, inner.bytes());
}

TlvWriter& TlvWriter::Append(const Bytes& tlv) {
  bytes_.insert(bytes_.end(), tlv.begin(), tlv.end());
  return *this;
}

bool ParseTlv(const uint8_t* bytes, size_t count, std::vector<Tlv>* out) {
  size_t at = 0;
  while (at < count) {
    if (count - at < 4) return false;
    Tlv t;
    t.tag = GetU16(bytes + at);
    const size_t length = GetU16(bytes + at + 2);
    at += 4;
    if (length > count - at) return false;
    t.value.assign(bytes + at, bytes + at + length);
    at += length;
    out->push_back(std::move(t));
  }
  return true;
}

const Tlv* FindTag(const std::vector<Tlv>& tags, uint16_t tag) {
  for (const Tlv& t : tags) {
    if (t.tag == tag) return &t;
  }
  return nullptr;
}

bool ReadU8(const Tlv& t, uint8_t* value) {
  if (t.value.size() != 1) return false;
  *value = t.value[0];
  return true;
}

bool ReadU32(const Tlv& t, uint32_t* value) {
  if (t.value.size() != 4) return false;
  *value = GetU32(t.value.data());
  return true;
}

bool ReadVln(const Tlv& t, uint64_t* value) {
  if (t.value.empty() || t.value.size() > 8) return false;
  *value = 0;
  for (size_t i = t.value.size(); i-- > 0;) *value = (*value << 8) | t.value[i];
  return true;
}

std::string ReadString(const Tlv& t) {
  return std::string(t.value.begin(), t.value.end());
}

// ---- Drive number, session header and container ----

bool PackDriveNumber(const std::string& digits, uint8_t out[8]) {
  if (!AllDigits(digits, kDriveNumberDigits)) return false;
  for (size_t i = 0; i < 8; ++i) {
    out[i] = static_cast<uint8_t>(((digits[2 * i] - '0') << 4) | (digits[2 * i + 1] - '0'));
  }
  return true;
}

std::string UnpackDriveNumber(const uint8_t in[8]) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string digits;
  for (size_t i = 0; i < 8; ++i) {
    digits.push_back(kHex[in[i] >> 4]);
    digits.push_back(kHex[in[i] & 0x0F]);
  }
  return digits;
}

Bytes BuildSessionHeader(const SessionHeader& header) {
  Bytes out(std::begin(kSignature), std::end(kSignature));
  out.insert(out.end(), std::begin(kSessionKind), std::end(kSessionKind));
  out.insert(out.end(), std::begin(kProtocolVersion), std::end(kProtocolVersion));
  std::string number = header.driveNumber.substr(0, kDriveNumberDigits);
  number.resize(kDriveNumberDigits, '0');
  out.insert(out.end(), number.begin(), number.end());
  PutU16(&out, header.containerLength);
  out.insert(out.end(), std::begin(kSessionFlags), std::end(kSessionFlags));
  return out;
}

bool ParseSessionHeader(const uint8_t* bytes, size_t count, SessionHeader* out) {
  if (count < kSessionHeaderSize || memcmp(bytes, kSignature, sizeof kSignature) != 0 ||
      memcmp(bytes + 4, kSessionKind, sizeof kSessionKind) != 0 ||
      memcmp(bytes + 6, kProtocolVersion, sizeof kProtocolVersion) != 0) {
    return false;
  }
  out->driveNumber.assign(reinterpret_cast<const char*>(bytes + 8), kDriveNumberDigits);
  out->containerLength = GetU16(bytes + kLengthAt);
  return true;
}

uint16_t ContainerCrc(const uint8_t* bytes, size_t count) {
  // The CRC runs over the length field, skips its own two bytes and goes on to the end.
  Bytes covered(bytes, bytes + kCrcAt);
  covered.insert(covered.end(), bytes + kCrcAt + 2, bytes + count);
  return Crc16(covered.data(), covered.size());
}

Bytes BuildContainer(const Container& c) {
  uint8_t number[8];
  const size_t length = kContainerHeaderSize + c.tlv.size();
  if (!PackDriveNumber(c.driveNumber, number) || c.documentNumber > kMaxContainerNumber || length > kMaxValue)
    return {};
  Bytes out;
  PutU16(&out, static_cast<uint16_t>(length));
  PutU16(&out, 0);  // CRC, once the rest is in place
  out.push_back(c.messageType);
  out.push_back(c.documentType);
  out.push_back(kContainerVersion);
  out.insert(out.end(), c.serviceData1, c.serviceData1 + kServiceData1Size);
  out.insert(out.end(), number, number + 8);
  for (int shift = 16; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(c.documentNumber >> shift));
  out.insert(out.end(), c.serviceData2, c.serviceData2 + kServiceData2Size);
  out.insert(out.end(), c.tlv.begin(), c.tlv.end());
  PutU16Into(out.data() + kCrcAt, ContainerCrc(out.data(), out.size()));
  return out;
}

ContainerError ParseContainer(const uint8_t* bytes, size_t count, Container* out) {
  if (count < kContainerHeaderSize) return ContainerError::kShort;
  if (GetU16(bytes) != count) return ContainerError::kLength;
  if (GetU16(bytes + kCrcAt) != ContainerCrc(bytes, count)) return ContainerError::kCrc;
  const uint8_t type = bytes[kMessageTypeAt];
  if (type != kFiscalDocument && !(type == kOperatorReceipt && bytes[kDocumentTypeAt] == kOperatorAck))
    return ContainerError::kMessageType;
  if (bytes[kVersionAt] != kContainerVersion) return ContainerError::kVersion;
  // The document is one tag of the container's type and fills the rest of it exactly.
  const uint8_t* document = bytes + kContainerHeaderSize;
  const size_t documentSize = count - kContainerHeaderSize;
  if (documentSize < 4 || GetU16(document) != bytes[kDocumentTypeAt] ||
      GetU16(document + 2) != documentSize - 4) {
    return ContainerError::kDocument;
  }
  out->messageType = bytes[kMessageTypeAt];
  out->documentType = bytes[kDocumentTypeAt];
  memcpy(out->serviceData1, bytes + kServiceData1At, kServiceData1Size);
  out->driveNumber = UnpackDriveNumber(bytes + kDriveNumberAt);
  const uint8_t* n = bytes + kDocumentNumberAt;
  out->documentNumber = (static_cast<uint32_t>(n[0]) << 16) | (static_cast<uint32_t>(n[1]) << 8) | n[2];
  memcpy(out->serviceData2, bytes + kServiceData2At, kServiceData2Size);
  out->tlv.assign(document, bytes + count);
  return ContainerError::kNone;
}

const char* ContainerErrorText(ContainerError e) {
  switch (e) {
    case ContainerError::kNone:
      return "ok";
    case ContainerError::kShort:
      return "container shorter than its header";
    case ContainerError::kLength:
      return "container length field does not match";
    case ContainerError::kCrc:
      return "container CRC does not match";
    case ContainerError::kMessageType:
      return "unknown message type";
    case ContainerError::kVersion:
      return "unknown protocol version";
    case ContainerError::kDocument:
      return "the document is not one tag of the container's type filling the container";
  }
  return "";
}

Bytes BuildMessage(const Container& c) {
  Bytes container = BuildContainer(c);
  if (container.empty()) return {};
  Bytes out = BuildSessionHeader({c.driveNumber, static_cast<uint16_t>(container.size())});
  out.insert(out.end(), container.begin(), container.end());
  return out;
}

// ---- Documents ----

Bytes FiscalSignValue(uint32_t sign) {
  return {0,
          0,
          static_cast<uint8_t>(sign >> 24),
          static_cast<uint8_t>(sign >> 16),
          static_cast<uint8_t>(sign >> 8),
          static_cast<uint8_t>(sign)};
}

bool ReadFiscalSign(const Tlv& t, uint32_t* sign) {
  if (t.value.size() != 6) return false;
  const uint8_t* v = t.value.data() + 2;
  *sign = (static_cast<uint32_t>(v[0]) << 24) | (static_cast<uint32_t>(v[1]) << 16) |
          (static_cast<uint32_t>(v[2]) << 8) | v[3];
  return true;
}

Bytes BuildDocumentTlv(const DocumentHeader& h, const Bytes& body) {
  TlvWriter inner;
  inner.U32(tag::kDocumentNumber, h.number)
      .U32(tag::kDateTime, h.dateTime)
      .String(tag::kRegistrationNumber, h.registrationNumber)
      .String(tag::kDriveNumber, h.driveNumber)
      .Raw(tag::kFiscalSign, FiscalSignValue(h.fiscalSign))
      .String(tag::kUserName, h.userName)
      .String(tag::kUserInn, h.userInn)
      .String(tag::kAddress, h.address)
      .String(tag::kPlace, h.place)
      .U8(tag::kFfdVersion, h.ffdVersion)
      .Append(body);
  return TlvWriter().Stlv(h.type, inner).bytes();
}

Container DocumentContainer(const DocumentHeader& h, const Bytes& body) {
  Container c;
  c.messageType = kFiscalDocument;
  c.documentType = h.type;
  c.driveNumber = h.driveNumber;
  c.documentNumber = h.number;
  c.tlv = BuildDocumentTlv(h, body);
  return c;
}

// ---- What each document must carry ----

namespace {

// Every document's tags: its numbers, date, sign, the user, the place of settlement and the
// format; then the tags of its kind.
std::vector<uint16_t> CommonAnd(std::initializer_list<uint16_t> own) {
  using namespace tag;
  std::vector<uint16_t> tags = {
      kDocumentNumber, kDateTime, kRegistrationNumber, kDriveNumber, kFiscalSign, kUserName, kUserInn,
      kAddress,        kPlace,    kFfdVersion};
  tags.insert(tags.end(), own);
  return tags;
}

}  // namespace

const std::vector<uint16_t>& RequiredTags(uint8_t type) {
  using namespace tag;
  static const std::vector<uint16_t> kRegistrationTags = CommonAnd(
      {kCashier, kTaxSystems, kEncryption, kOfflineMode, kAutomaticMode, kServiceSign, kBsoSign, kInternet,
       kOfdInn, kOfdName, kSerialNumber, kRegisterVersion, kRegisterFfdVersion, kDriveFfdVersion});
  static const std::vector<uint16_t> kReregistrationTags =
      CommonAnd({kCashier, kTaxSystems, kEncryption, kOfflineMode, kAutomaticMode, kServiceSign, kBsoSign,
                 kInternet, kOfdInn, kOfdName, kSerialNumber, kRegisterVersion, kRegisterFfdVersion,
                 kDriveFfdVersion, kChangeReasons});
  static const std::vector<uint16_t> kShiftOpeningTags =
      CommonAnd({kShiftNumber, kCashier, kRegisterVersion, kRegisterFfdVersion});
  static const std::vector<uint16_t> kShiftClosingTags =
      CommonAnd({kShiftNumber, kCashier, kShiftDocuments, kShiftReceipts, kUntransmittedCount});
  static const std::vector<uint16_t> kReceiptTags =
      CommonAnd({kReceiptNumber, kShiftNumber, kOperationType, kTaxSystem, kTotal, kCash, kCashless, kAdvance,
                 kCredit, kProvision, kCashier});
  static const std::vector<uint16_t> kCorrectionTags =
      CommonAnd({kReceiptNumber, kShiftNumber, kOperationType, kTaxSystem, kTotal, kCash, kCashless, kAdvance,
                 kCredit, kProvision, kCashier, kCorrectionType, kCorrectionBase});
  static const std::vector<uint16_t> kSettlementsTags = CommonAnd({kShiftNumber, kUntransmittedCount});
  static const std::vector<uint16_t> kDriveClosingTags = CommonAnd({kCashier});
  static const std::vector<uint16_t> kNone;
  switch (type) {
    case kRegistration:
      return kRegistrationTags;
    case kReregistration:
      return kReregistrationTags;
    case kShiftOpening:
      return kShiftOpeningTags;
    case kShiftClosing:
      return kShiftClosingTags;
    case kReceipt:
      return kReceiptTags;
    case kCorrectionReceipt:
      return kCorrectionTags;
    case kSettlementsReport:
      return kSettlementsTags;
    case kDriveClosing:
      return kDriveClosingTags;
  }
  return kNone;
}

const std::vector<uint16_t>& RequiredItemTags() {
  using namespace tag;
  static const std::vector<uint16_t> kTags = {kItemMethod,   kItemSubject, kItemName, kItemPrice,
                                              kItemQuantity, kVatRate,     kItemSum};
  return kTags;
}

namespace {

// The first tag of `required` missing from `tags`, or 0.
uint16_t MissingTag(const std::vector<Tlv>& tags, const std::vector<uint16_t>& required) {
  for (uint16_t t : required) {
    if (!FindTag(tags, t)) return t;
  }
  return 0;
}

bool Fail(std::string* why, const std::string& reason) {
  if (why) *why = reason;
  return false;
}

// The items of a receipt, each with the tags an item must carry; false with the reason otherwise.
bool CheckItems(const std::vector<Tlv>& tags, bool needed, std::string* why) {
  int items = 0;
  for (const Tlv& t : tags) {
    if (t.tag != tag::kItem) continue;
    ++items;
    std::vector<Tlv> inner;
    if (!ParseTlv(t.value, &inner))
      return Fail(why, "item " + std::to_string(items) + ": tags run past its end");
    const uint16_t missing = MissingTag(inner, RequiredItemTags());
    if (missing != 0)
      return Fail(why, "item " + std::to_string(items) + ": tag " + std::to_string(missing) + " missing");
  }
  return items > 0 || !needed ? true : Fail(why, "a receipt without items");
}

}  // namespace

bool ReadDocument(const Container& c, std::vector<Tlv>* tags, std::string* why) {
  std::vector<Tlv> outer;
  if (!ParseTlv(c.tlv, &outer) || outer.size() != 1 || outer[0].tag != c.documentType)
    return Fail(why, "the document is not one tag of the container's type");
  if (RequiredTags(c.documentType).empty())
    return Fail(why, "unknown document type " + std::to_string(c.documentType));
  tags->clear();
  if (!ParseTlv(outer[0].value, tags)) return Fail(why, "the document's tags run past its end");
  const uint16_t missing = MissingTag(*tags, RequiredTags(c.documentType));
  if (missing != 0) return Fail(why, "tag " + std::to_string(missing) + " missing");
  uint32_t number = 0;
  if (!ReadU32(*FindTag(*tags, tag::kDocumentNumber), &number) || number != c.documentNumber)
    return Fail(why, "document numbers of container and tags differ");
  if (ReadString(*FindTag(*tags, tag::kDriveNumber)) != c.driveNumber)
    return Fail(why, "drive numbers of container and tags differ");
  const bool receipt = c.documentType == kReceipt;
  return CheckItems(*tags, receipt, why);
}

// ---- Tags as text ----

std::string DateText(uint32_t seconds) {
  // Days to the civil calendar (proleptic Gregorian), from eras of 400 years.
  const int64_t z = seconds / 86400 + 719468;
  const int64_t era = z / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yoe + era * 400 + (month <= 2);
  char text[40];
  std::snprintf(text, sizeof text, "%04" PRId64 "-%02" PRId64 "-%02" PRId64 " %02u:%02u", year, month, day,
                seconds / 3600 % 24, seconds / 60 % 60);
  return text;
}

namespace {

enum class Kind { kBytes, kString, kByte, kU32, kDate, kMoney, kQuantity, kNested, kSign };

Kind KindOf(uint16_t t) {
  using namespace tag;
  switch (t) {
    case kAddress:
    case kSerialNumber:
    case kOfdInn:
    case kUserInn:
    case kCashier:
    case kItemName:
    case kAutomatNumber:
    case kRegistrationNumber:
    case kDriveNumber:
    case kOfdName:
    case kUserName:
    case kFnsWebSite:
    case kSenderEmail:
    case kCorrectionBaseName:
    case kCorrectionBaseNumber:
    case kPlace:
    case kRegisterVersion:
    case kCashierInn:
      return Kind::kString;
    case kAutomaticMode:
    case kOfflineMode:
    case kOfdResponseCode:
    case kOperationType:
    case kTaxSystem:
    case kEncryption:
    case kAgentSigns:
    case kTaxSystems:
    case kInternet:
    case kServiceSign:
    case kBsoSign:
    case kLottery:
    case kCorrectionType:
    case kRegisterFfdVersion:
    case kDriveFfdVersion:
    case kGambling:
    case kVatRate:
    case kExcisable:
    case kFfdVersion:
    case kItemSubject:
    case kItemMethod:
    case kPrinterInAutomat:
      return Kind::kByte;
    case kShiftNumber:
    case kDocumentNumber:
    case kReceiptNumber:
    case kUntransmittedCount:
    case kShiftDocuments:
    case kUntransmittedFirst:
    case kShiftReceipts:
    case kChangeReasons:
      return Kind::kU32;
    case kDateTime:
    case kUntransmittedDate:
    case kCorrectionBaseDate:
      return Kind::kDate;
    case kTotal:
    case kCash:
    case kItemSum:
    case kItemPrice:
    case kCashless:
    case kVat20:
    case kVat10:
    case kVat0:
    case kNoVat:
    case kVat120:
    case kVat110:
    case kAdvance:
    case kCredit:
    case kProvision:
      return Kind::kMoney;
    case kItemQuantity:
      return Kind::kQuantity;
    case kItem:
    case kOperatorMessage:
    case kCorrectionBase:
      return Kind::kNested;
    case kFiscalSign:
      return Kind::kSign;
  }
  return Kind::kBytes;
}

std::string HexText(const Bytes& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (uint8_t b : bytes) {
    text.push_back(kHex[b >> 4]);
    text.push_back(kHex[b & 0x0F]);
  }
  return text;
}

std::string MoneyText(uint64_t kopecks) {
  char text[32];
  std::snprintf(text, sizeof text, "%" PRIu64 ".%02" PRIu64, kopecks / 100, kopecks % 100);
  return text;
}

// A number with `decimals` places: 1.500 of 1500 with 3.
std::string DecimalText(uint64_t value, uint8_t decimals) {
  std::string digits = std::to_string(value);
  if (decimals == 0) return digits;
  if (digits.size() <= decimals) digits.insert(0, decimals + 1 - digits.size(), '0');
  digits.insert(digits.size() - decimals, ".");
  return digits;
}

}  // namespace

std::string TagText(const Tlv& t) {
  uint8_t u8 = 0;
  uint32_t u32 = 0;
  uint64_t vln = 0;
  switch (KindOf(t.tag)) {
    case Kind::kString:
      return "\"" + Utf8FromCp866(ReadString(t)) + "\"";
    case Kind::kByte:
      if (ReadU8(t, &u8)) return std::to_string(u8);
      break;
    case Kind::kU32:
      if (ReadU32(t, &u32)) return std::to_string(u32);
      break;
    case Kind::kDate:
      if (ReadU32(t, &u32)) return DateText(u32);
      break;
    case Kind::kMoney:
      if (ReadVln(t, &vln)) return MoneyText(vln);
      break;
    case Kind::kQuantity:
      if (t.value.size() >= 2 && ReadVln(Tlv{t.tag, Bytes(t.value.begin() + 1, t.value.end())}, &vln))
        return DecimalText(vln, t.value[0]);
      break;
    case Kind::kNested: {
      std::vector<Tlv> inner;
      if (ParseTlv(t.value, &inner)) return "{" + TagsText(inner) + "}";
      break;
    }
    case Kind::kSign:
      if (ReadFiscalSign(t, &u32)) return std::to_string(u32);
      break;
    case Kind::kBytes:
      break;
  }
  return HexText(t.value);
}

std::string TagsText(const std::vector<Tlv>& tags) {
  std::string text;
  for (const Tlv& t : tags) {
    if (!text.empty()) text += ' ';
    text += std::to_string(t.tag) + "=" + TagText(t);
  }
  return text;
}

// ---- The operator's acknowledgement ----

Container AcknowledgementContainer(const Acknowledgement& a) {
  TlvWriter message;
  message.U8(tag::kOfdResponseCode, a.responseCode);
  TlvWriter inner;
  inner.String(tag::kOfdInn, a.ofdInn)
      .String(tag::kDriveNumber, a.driveNumber)
      .U32(tag::kDocumentNumber, a.documentNumber)
      .U32(tag::kDateTime, a.dateTime)
      .Stlv(tag::kOperatorMessage, message)
      .Raw(tag::kOperatorSign, Bytes(a.operatorSign, a.operatorSign + kOperatorSignSize));
  Container c;
  c.messageType = kOperatorReceipt;
  c.documentType = kOperatorAck;
  memcpy(c.serviceData1, a.serviceData1, kServiceData1Size);
  c.driveNumber = a.driveNumber;
  c.documentNumber = a.documentNumber;
  c.tlv = TlvWriter().Stlv(kOperatorAck, inner).bytes();
  return c;
}

bool ParseAcknowledgement(const uint8_t* bytes, size_t count, Acknowledgement* out, std::string* why) {
  Container c;
  const ContainerError e = ParseContainer(bytes, count, &c);
  if (e != ContainerError::kNone) return Fail(why, ContainerErrorText(e));
  if (c.documentType != kOperatorAck) return Fail(why, "not an operator acknowledgement");
  std::vector<Tlv> outer, inner, message;
  if (!ParseTlv(c.tlv, &outer) || !ParseTlv(outer[0].value, &inner))
    return Fail(why, "malformed acknowledgement tags");
  const Tlv* inn = FindTag(inner, tag::kOfdInn);
  const Tlv* drive = FindTag(inner, tag::kDriveNumber);
  const Tlv* time = FindTag(inner, tag::kDateTime);
  const Tlv* number = FindTag(inner, tag::kDocumentNumber);
  const Tlv* operatorMessage = FindTag(inner, tag::kOperatorMessage);
  const Tlv* sign = FindTag(inner, tag::kOperatorSign);
  const Tlv* code = nullptr;
  if (operatorMessage && ParseTlv(operatorMessage->value, &message))
    code = FindTag(message, tag::kOfdResponseCode);
  uint32_t acknowledged = 0;
  if (!inn || !drive || !time || !number || !code || !sign || !ReadU32(*time, &out->dateTime) ||
      !ReadU32(*number, &acknowledged) || !ReadU8(*code, &out->responseCode) || sign->value.empty() ||
      sign->value.size() > kOperatorSignSize) {
    return Fail(why, "acknowledgement tags missing or of the wrong size");
  }
  if (acknowledged != c.documentNumber) return Fail(why, "document numbers of container and tags differ");
  if (ReadString(*drive) != c.driveNumber) return Fail(why, "drive numbers of container and tags differ");
  out->ofdInn = ReadString(*inn);
  out->driveNumber = c.driveNumber;
  out->documentNumber = acknowledged;
  memset(out->operatorSign, 0, kOperatorSignSize);
  memcpy(out->operatorSign, sign->value.data(), sign->value.size());
  memcpy(out->serviceData1, c.serviceData1, kServiceData1Size);
  return true;
}

}  // namespace ffd
