#include "ffd/ffd.h"

#include <cstring>

#include "platform/codepage.h"

namespace ffd {
namespace {

constexpr uint8_t kSignature[] = {0x2A, 0x08, 0x41, 0x0A};
constexpr uint8_t kSessionKind[] = {0x81, 0xA2};
constexpr uint8_t kProtocolVersion[] = {0x00, 0x01};
constexpr uint8_t kSessionFlags[] = {0x14, 0x00, 0x00, 0x00};
constexpr size_t kLengthAt = 24;  // the container's length in the session header
constexpr uint8_t kFormatVersion = 0x02;
constexpr size_t kMaxValue = 0xFFFF;

uint16_t GetU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
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

// CP866 places: А..Я at 0x80, а..п at 0xA0, р..я at 0xE0, Ё and ё at 0xF0 and 0xF1.
int Cp866Of(char16_t c) {
  if (c < 0x80) return c;
  if (c >= u'А' && c <= u'я') return c <= u'п' ? 0x80 + (c - u'А') : 0xE0 + (c - u'р');
  if (c == u'Ё') return 0xF0;
  if (c == u'ё') return 0xF1;
  return '?';
}

char16_t UnicodeOf(uint8_t b) {
  if (b < 0x80) return b;
  if (b < 0xB0) return static_cast<char16_t>(u'А' + (b - 0x80));
  if (b >= 0xE0 && b < 0xF0) return static_cast<char16_t>(u'р' + (b - 0xE0));
  if (b == 0xF0) return u'Ё';
  if (b == 0xF1) return u'ё';
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
  if (count < kSessionHeaderSize || memcmp(bytes, kSignature, sizeof kSignature) != 0) return false;
  out->driveNumber.assign(reinterpret_cast<const char*>(bytes + 8), kDriveNumberDigits);
  out->containerLength = GetU16(bytes + kLengthAt);
  return true;
}

Bytes BuildContainer(const Container& c) {
  uint8_t number[8];
  const size_t length = kContainerHeaderSize + c.tlv.size();
  if (!PackDriveNumber(c.driveNumber, number) || length > kMaxValue) return {};
  Bytes out;
  PutU16(&out, static_cast<uint16_t>(length));
  PutU16(&out, 0);  // CRC, once the rest is in place
  out.push_back(c.messageType);
  out.push_back(c.documentType);
  out.push_back(kFormatVersion);
  PutU16(&out, 0);
  out.insert(out.end(), number, number + 8);
  PutU32(&out, c.documentNumber);
  out.insert(out.end(), c.tlv.begin(), c.tlv.end());
  const uint16_t crc = Crc16(out.data() + 4, out.size() - 4);
  out[2] = static_cast<uint8_t>(crc);
  out[3] = static_cast<uint8_t>(crc >> 8);
  return out;
}

ContainerError ParseContainer(const uint8_t* bytes, size_t count, Container* out) {
  if (count < kContainerHeaderSize) return ContainerError::kShort;
  if (GetU16(bytes) != count) return ContainerError::kLength;
  if (GetU16(bytes + 2) != Crc16(bytes + 4, count - 4)) return ContainerError::kCrc;
  if (bytes[6] != kFormatVersion) return ContainerError::kVersion;
  out->messageType = bytes[4];
  out->documentType = bytes[5];
  out->driveNumber = UnpackDriveNumber(bytes + 9);
  out->documentNumber = GetU32(bytes + 17);
  out->tlv.assign(bytes + kContainerHeaderSize, bytes + count);
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
    case ContainerError::kVersion:
      return "unknown format version";
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

Container AcknowledgementContainer(const Acknowledgement& a) {
  TlvWriter inner;
  inner.U32(tag::kDateTime, a.dateTime)
      .U32(tag::kDocumentNumber, a.documentNumber)
      .Raw(tag::kOperatorSign, Bytes(a.operatorSign, a.operatorSign + kOperatorSignSize));
  Container c;
  c.messageType = kOperatorAcknowledgement;
  c.documentType = kOperatorAck;
  c.driveNumber = a.driveNumber;
  c.documentNumber = a.documentNumber;
  c.tlv = TlvWriter().Stlv(kOperatorAck, inner).bytes();
  return c;
}

bool ParseAcknowledgement(const uint8_t* bytes, size_t count, Acknowledgement* out, std::string* why) {
  auto fail = [why](const char* reason) {
    if (why) *why = reason;
    return false;
  };
  Container c;
  const ContainerError e = ParseContainer(bytes, count, &c);
  if (e != ContainerError::kNone) return fail(ContainerErrorText(e));
  if (c.messageType != kOperatorAcknowledgement || c.documentType != kOperatorAck) {
    return fail("not an operator acknowledgement");
  }
  std::vector<Tlv> outer, inner;
  if (!ParseTlv(c.tlv, &outer) || outer.size() != 1 || outer[0].tag != kOperatorAck ||
      !ParseTlv(outer[0].value, &inner)) {
    return fail("malformed acknowledgement tags");
  }
  const Tlv* time = FindTag(inner, tag::kDateTime);
  const Tlv* number = FindTag(inner, tag::kDocumentNumber);
  const Tlv* sign = FindTag(inner, tag::kOperatorSign);
  uint32_t acknowledged = 0;
  if (!time || !number || !sign || !ReadU32(*time, &out->dateTime) || !ReadU32(*number, &acknowledged) ||
      sign->value.size() != kOperatorSignSize) {
    return fail("acknowledgement tags missing or of the wrong size");
  }
  if (acknowledged != c.documentNumber) return fail("document numbers of container and tags differ");
  out->driveNumber = c.driveNumber;
  out->documentNumber = acknowledged;
  memcpy(out->operatorSign, sign->value.data(), kOperatorSignSize);
  return true;
}

}  // namespace ffd
