// The fiscal data format (1.05) of the messages a fiscal drive hands to the operator and of the
// operator's acknowledgements: the 30-byte session header, the container with its CRC, and the TLV
// tags of the documents. Written for the two test peers of the driver (the virtual fiscal drive
// builds these bytes, the test OFD server reads them); the driver relays them undecoded.
//
// Integers are little-endian, strings CP866 without a terminator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ffd {

using Bytes = std::vector<uint8_t>;

enum MessageType : uint8_t {
  kFiscalDocument = 0xA5,
  kOperatorAcknowledgement = 0xA6,
};

enum DocumentType : uint8_t {
  kRegistration = 1,
  kShiftOpening = 2,
  kReceipt = 3,
  kShiftClosing = 5,
  kDriveClosing = 6,
  kOperatorAck = 7,
  kReregistration = 11,
  kSettlementsReport = 21,
  kCorrectionReceipt = 31,
};

namespace tag {
constexpr uint16_t kAddress = 1009;               // string: the address of settlement
constexpr uint16_t kDateTime = 1012;              // u32, Unix seconds of the local time printed
constexpr uint16_t kOfdInn = 1017;                // string, 12 characters
constexpr uint16_t kUserInn = 1018;               // string, 12 characters
constexpr uint16_t kTotal = 1020;                 // VLN, kopecks
constexpr uint16_t kCashier = 1021;               // string
constexpr uint16_t kItemQuantity = 1023;          // FVLN
constexpr uint16_t kItemName = 1030;              // string
constexpr uint16_t kCash = 1031;                  // VLN
constexpr uint16_t kRegistrationNumber = 1037;    // string
constexpr uint16_t kShiftNumber = 1038;           // u32
constexpr uint16_t kDocumentNumber = 1040;        // u32
constexpr uint16_t kDriveNumber = 1041;           // string
constexpr uint16_t kItemSum = 1043;               // VLN
constexpr uint16_t kUserName = 1048;              // string
constexpr uint16_t kOperationType = 1054;         // u8: 1 sale, 2 sale return, 3 purchase, 4 purchase return
constexpr uint16_t kTaxSystem = 1055;             // u8 mask
constexpr uint16_t kItem = 1059;                  // STLV of the item tags
constexpr uint16_t kFiscalSign = 1077;            // 6 bytes: 00 00, then the sign big-endian
constexpr uint16_t kOperatorSign = 1078;          // 18 bytes
constexpr uint16_t kItemPrice = 1079;             // VLN
constexpr uint16_t kCashless = 1081;              // VLN
constexpr uint16_t kCorrectionType = 1173;        // u8: 0 by the register's own decision, 1 by order
constexpr uint16_t kCorrectionBase = 1174;        // STLV of the base tags
constexpr uint16_t kCorrectionBaseName = 1177;    // string
constexpr uint16_t kCorrectionBaseDate = 1178;    // u32, Unix seconds of the day
constexpr uint16_t kCorrectionBaseNumber = 1179;  // string
constexpr uint16_t kPlace = 1187;                 // string: the place of settlement
constexpr uint16_t kVatRate = 1199;               // u8
}  // namespace tag

constexpr size_t kSessionHeaderSize = 30;
constexpr size_t kContainerHeaderSize = 21;  // length, CRC, types, version, drive and document numbers
constexpr size_t kDriveNumberDigits = 16;
constexpr size_t kOperatorSignSize = 18;

// Little-endian integers appended to a byte string.
void PutU16(Bytes* out, uint16_t v);
void PutU32(Bytes* out, uint32_t v);

// CRC16-CCITT: polynomial 0x1021, initial value 0xFFFF, no reflection, no final XOR.
uint16_t Crc16(const uint8_t* bytes, size_t count);

// UTF-8 text as CP866 (Cyrillic, Ё and ASCII; anything else '?'), and back.
std::string Cp866FromUtf8(const std::string& utf8);
std::string Utf8FromCp866(const std::string& cp866);

// ---- TLV ----

// Builds a sequence of tags; an STLV takes another writer's bytes as its value.
class TlvWriter {
 public:
  TlvWriter& Raw(uint16_t tag, const Bytes& value);
  TlvWriter& U8(uint16_t tag, uint8_t value);
  TlvWriter& U32(uint16_t tag, uint32_t value);
  TlvWriter& String(uint16_t tag, const std::string& cp866);
  // An unsigned number in the fewest bytes, little-endian (one byte for 0).
  TlvWriter& Vln(uint16_t tag, uint64_t value);
  // The count of decimal places, then the unsigned value as in Vln.
  TlvWriter& Fvln(uint16_t tag, uint8_t decimals, uint64_t value);
  TlvWriter& Stlv(uint16_t tag, const TlvWriter& inner);
  TlvWriter& Append(const Bytes& tlv);  // tags already encoded

  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
};

struct Tlv {
  uint16_t tag = 0;
  Bytes value;
};

// Splits a sequence of tags; false (and *out as far as it got) when a tag or its value runs past
// the end.
bool ParseTlv(const uint8_t* bytes, size_t count, std::vector<Tlv>* out);
inline bool ParseTlv(const Bytes& bytes, std::vector<Tlv>* out) {
  return ParseTlv(bytes.data(), bytes.size(), out);
}
// The first tag `tag` of the list, or null.
const Tlv* FindTag(const std::vector<Tlv>& tags, uint16_t tag);
// Values of a tag; false when the value has the wrong size for its kind.
bool ReadU8(const Tlv& t, uint8_t* value);
bool ReadU32(const Tlv& t, uint32_t* value);
bool ReadVln(const Tlv& t, uint64_t* value);  // up to 8 bytes
std::string ReadString(const Tlv& t);

// ---- Drive number, session header and container ----

// 16 decimal digits as 8 bytes of two digits each, high nibble first; false for anything else.
bool PackDriveNumber(const std::string& digits, uint8_t out[8]);
std::string UnpackDriveNumber(const uint8_t in[8]);

struct SessionHeader {
  std::string driveNumber;       // 16 digits
  uint16_t containerLength = 0;  // bytes of the container that follows
};
Bytes BuildSessionHeader(const SessionHeader& header);
// False when fewer than 30 bytes or the constant bytes differ.
bool ParseSessionHeader(const uint8_t* bytes, size_t count, SessionHeader* out);

struct Container {
  uint8_t messageType = kFiscalDocument;
  uint8_t documentType = 0;
  std::string driveNumber;  // 16 digits
  uint32_t documentNumber = 0;
  Bytes tlv;
};
// Empty when the drive number is not 16 digits or the container would exceed 65535 bytes.
Bytes BuildContainer(const Container& c);
enum class ContainerError { kNone, kShort, kLength, kCrc, kVersion };
// Checks the length field against `count` exactly, the CRC and the format version.
ContainerError ParseContainer(const uint8_t* bytes, size_t count, Container* out);
const char* ContainerErrorText(ContainerError e);

// The session header followed by the container; empty when the container cannot be built.
Bytes BuildMessage(const Container& c);

// ---- Documents ----

// What every fiscal document carries besides the tags of its type.
struct DocumentHeader {
  uint8_t type = kReceipt;
  uint32_t number = 0;
  uint32_t dateTime = 0;  // Unix seconds of the local time printed
  std::string registrationNumber;
  std::string driveNumber;
  uint32_t fiscalSign = 0;
};
// The document as one STLV of its type: 1040, 1012, 1037, 1041, 1077, then `body` (encoded tags).
Bytes BuildDocumentTlv(const DocumentHeader& h, const Bytes& body);
// The container of a fiscal document around BuildDocumentTlv.
Container DocumentContainer(const DocumentHeader& h, const Bytes& body);

// The 6 bytes of tag 1077, and the sign read back from them (false when not 6 bytes).
Bytes FiscalSignValue(uint32_t sign);
bool ReadFiscalSign(const Tlv& t, uint32_t* sign);

// The operator's acknowledgement of document `documentNumber`.
struct Acknowledgement {
  std::string driveNumber;
  uint32_t documentNumber = 0;
  uint32_t dateTime = 0;
  uint8_t operatorSign[kOperatorSignSize] = {};
};
Container AcknowledgementContainer(const Acknowledgement& a);
// Reads an acknowledgement container (without the session header); false when it is not a
// well-formed acknowledgement, with the reason in *why when given.
bool ParseAcknowledgement(const uint8_t* bytes, size_t count, Acknowledgement* out,
                          std::string* why = nullptr);

}  // namespace ffd
