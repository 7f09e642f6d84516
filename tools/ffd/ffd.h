// The fiscal data format (1.05) of the messages a fiscal drive hands to the operator and of the
// operator's acknowledgements, as the published FN-OFD exchange lays them out: the 30-byte session
// header, the container (a 32-byte header with its CRC, then the document as one STLV of its
// type), and the TLV tags of the documents. Written for the two test peers of the driver (the
// virtual fiscal drive builds these bytes, the test OFD server reads them); the driver relays them
// undecoded.
//
// Integers are little-endian, except the container's document number (three bytes, big-endian);
// strings are CP866 without a terminator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ffd {

using Bytes = std::vector<uint8_t>;

// The container's message type: a document of the drive, or the operator's receipt for one. The
// operators' receipts in the published examples carry 5A; a receipt marked A5 like a document is
// read as well.
enum MessageType : uint8_t {
  kFiscalDocument = 0xA5,
  kOperatorReceipt = 0x5A,
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
constexpr uint16_t kAutomaticMode = 1001;         // u8 0/1
constexpr uint16_t kOfflineMode = 1002;           // u8 0/1
constexpr uint16_t kAddress = 1009;               // string: the address of settlement
constexpr uint16_t kDateTime = 1012;              // u32, Unix seconds of the local time printed
constexpr uint16_t kSerialNumber = 1013;          // string: the register's serial number
constexpr uint16_t kOfdInn = 1017;                // string, 12 characters
constexpr uint16_t kUserInn = 1018;               // string, 12 characters
constexpr uint16_t kTotal = 1020;                 // VLN, kopecks
constexpr uint16_t kCashier = 1021;               // string
constexpr uint16_t kOfdResponseCode = 1022;       // u8, 0: accepted
constexpr uint16_t kItemQuantity = 1023;          // FVLN
constexpr uint16_t kItemName = 1030;              // string
constexpr uint16_t kCash = 1031;                  // VLN
constexpr uint16_t kRegistrationNumber = 1037;    // string
constexpr uint16_t kShiftNumber = 1038;           // u32
constexpr uint16_t kDocumentNumber = 1040;        // u32
constexpr uint16_t kDriveNumber = 1041;           // string
constexpr uint16_t kAutomatNumber = 1036;         // string
constexpr uint16_t kReceiptNumber = 1042;         // u32: the receipt's number in its shift
constexpr uint16_t kItemSum = 1043;               // VLN
constexpr uint16_t kOfdName = 1046;               // string
constexpr uint16_t kUserName = 1048;              // string
constexpr uint16_t kOperationType = 1054;         // u8: 1 sale, 2 sale return, 3 purchase, 4 purchase return
constexpr uint16_t kTaxSystem = 1055;             // u8: the receipt's tax system, one bit
constexpr uint16_t kEncryption = 1056;            // u8 0/1
constexpr uint16_t kAgentSigns = 1057;            // u8 mask
constexpr uint16_t kItem = 1059;                  // STLV of the item tags
constexpr uint16_t kFnsWebSite = 1060;            // string
constexpr uint16_t kTaxSystems = 1062;            // u8 mask: the registered tax systems
constexpr uint16_t kOperatorMessage = 1068;       // STLV: the operator's message to the drive
constexpr uint16_t kFiscalSign = 1077;            // 6 bytes: 00 00, then the sign big-endian
constexpr uint16_t kOperatorSign = 1078;          // 18 bytes
constexpr uint16_t kItemPrice = 1079;             // VLN
constexpr uint16_t kCashless = 1081;              // VLN: electronic means
constexpr uint16_t kUntransmittedCount = 1097;    // u32
constexpr uint16_t kUntransmittedDate = 1098;     // u32, Unix seconds
constexpr uint16_t kVat20 = 1102;                 // VLN: VAT of the receipt at 20 %
constexpr uint16_t kVat10 = 1103;                 // VLN: at 10 %
constexpr uint16_t kVat0 = 1104;                  // VLN: the sum at 0 %
constexpr uint16_t kNoVat = 1105;                 // VLN: the sum without VAT
constexpr uint16_t kVat120 = 1106;                // VLN: at 20/120
constexpr uint16_t kVat110 = 1107;                // VLN: at 10/110
constexpr uint16_t kInternet = 1108;              // u8 0/1
constexpr uint16_t kServiceSign = 1109;           // u8 0/1
constexpr uint16_t kBsoSign = 1110;               // u8 0/1
constexpr uint16_t kShiftDocuments = 1111;        // u32: fiscal documents of the shift
constexpr uint16_t kUntransmittedFirst = 1116;    // u32: number of the first untransmitted document
constexpr uint16_t kSenderEmail = 1117;           // string
constexpr uint16_t kShiftReceipts = 1118;         // u32: receipts of the shift
constexpr uint16_t kLottery = 1126;               // u8 0/1
constexpr uint16_t kCorrectionType = 1173;        // u8: 0 by the register's own decision, 1 by order
constexpr uint16_t kCorrectionBase = 1174;        // STLV of the base tags
constexpr uint16_t kCorrectionBaseName = 1177;    // string
constexpr uint16_t kCorrectionBaseDate = 1178;    // u32, Unix seconds of the day
constexpr uint16_t kCorrectionBaseNumber = 1179;  // string
constexpr uint16_t kPlace = 1187;                 // string: the place of settlement
constexpr uint16_t kRegisterVersion = 1188;       // string, up to 8
constexpr uint16_t kRegisterFfdVersion = 1189;    // u8: 2 for 1.05
constexpr uint16_t kDriveFfdVersion = 1190;       // u8: 2 for 1.05
constexpr uint16_t kGambling = 1193;              // u8 0/1
constexpr uint16_t kVatRate = 1199;               // u8
constexpr uint16_t kCashierInn = 1203;            // string, 12 characters
constexpr uint16_t kChangeReasons = 1205;         // u32 mask
constexpr uint16_t kExcisable = 1207;             // u8 0/1
constexpr uint16_t kFfdVersion = 1209;            // u8: 2 for 1.05
constexpr uint16_t kItemSubject = 1212;           // u8: what is settled (1 goods, 4 service, ...)
constexpr uint16_t kItemMethod = 1214;            // u8: how it is settled (4 full settlement, ...)
constexpr uint16_t kAdvance = 1215;               // VLN: paid by an earlier advance
constexpr uint16_t kCredit = 1216;                // VLN: on credit
constexpr uint16_t kProvision = 1217;             // VLN: by counter-provision
constexpr uint16_t kPrinterInAutomat = 1221;      // u8 0/1
}  // namespace tag

// The FFD version byte of tags 1189, 1190 and 1209.
constexpr uint8_t kFfd100 = 1;
constexpr uint8_t kFfd105 = 2;

constexpr size_t kSessionHeaderSize = 30;
// Length, CRC, message and document types, version, service data, drive number, document number
// and service data again.
constexpr size_t kContainerHeaderSize = 32;
constexpr uint8_t kContainerVersion = 1;
constexpr uint32_t kMaxContainerNumber = 0xFFFFFF;  // the container's document number has three bytes
constexpr size_t kServiceData1Size = 2;
constexpr size_t kServiceData2Size = 12;
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
// False when fewer than 30 bytes, or the signature or the versions are not the published ones.
bool ParseSessionHeader(const uint8_t* bytes, size_t count, SessionHeader* out);

struct Container {
  uint8_t messageType = kFiscalDocument;
  uint8_t documentType = 0;
  // The two blocks of service data: their content is not published. The virtual drive writes
  // zeros; the operator's receipt repeats the first block of the document it acknowledges.
  uint8_t serviceData1[kServiceData1Size] = {};
  std::string driveNumber;      // 16 digits
  uint32_t documentNumber = 0;  // up to kMaxContainerNumber
  uint8_t serviceData2[kServiceData2Size] = {};
  Bytes tlv;  // the document: one STLV whose tag is the document type
};
// Empty when the drive number is not 16 digits, the document number does not fit in three bytes or
// the container would exceed 65535 bytes.
Bytes BuildContainer(const Container& c);
enum class ContainerError { kNone, kShort, kLength, kCrc, kMessageType, kVersion, kDocument };
// Reads a container strictly: the length field must be `count` exactly, the CRC must match, the
// message type must be A5 (5A also for an operator's receipt), the version the published one, and
// the document must be one STLV of the container's document type that ends where the container
// ends.
ContainerError ParseContainer(const uint8_t* bytes, size_t count, Container* out);
const char* ContainerErrorText(ContainerError e);
// The CRC of a container: CRC16-CCITT over its length field and everything after the CRC field.
uint16_t ContainerCrc(const uint8_t* bytes, size_t count);

// The session header followed by the container; empty when the container cannot be built.
Bytes BuildMessage(const Container& c);

// ---- Documents ----

// What every fiscal document carries besides the tags of its type. Texts are CP866.
struct DocumentHeader {
  uint8_t type = kReceipt;
  uint32_t number = 0;
  uint32_t dateTime = 0;  // Unix seconds of the local time printed
  std::string registrationNumber;
  std::string driveNumber;
  uint32_t fiscalSign = 0;
  std::string userName;
  std::string userInn;
  std::string address;
  std::string place;
  uint8_t ffdVersion = kFfd105;
};
// The document as one STLV of its type: 1040, 1012, 1037, 1041, 1077, 1048, 1018, 1009, 1187,
// 1209, then `body` (encoded tags).
Bytes BuildDocumentTlv(const DocumentHeader& h, const Bytes& body);
// The container of a fiscal document around BuildDocumentTlv.
Container DocumentContainer(const DocumentHeader& h, const Bytes& body);

// The 6 bytes of tag 1077, and the sign read back from them (false when not 6 bytes).
Bytes FiscalSignValue(uint32_t sign);
bool ReadFiscalSign(const Tlv& t, uint32_t* sign);

// The tags a document of `type` must carry besides 1059's own (the common ones included); empty for
// a type the drive does not make.
const std::vector<uint16_t>& RequiredTags(uint8_t type);
// The tags every item (1059) of a receipt must carry.
const std::vector<uint16_t>& RequiredItemTags();
// The tags of a container's document, checked as the operator checks them: one STLV of the
// container's type whose document and drive numbers are those of the container, with every tag
// RequiredTags names and, in a receipt, at least one item with every tag RequiredItemTags names.
// False, with the reason in *why when given, for anything else.
bool ReadDocument(const Container& c, std::vector<Tlv>* tags, std::string* why = nullptr);

// "YYYY-MM-DD HH:MM" of Unix seconds, read as the time printed on the document.
std::string DateText(uint32_t seconds);
// A tag's value as text: numbers in decimal (sums in roubles and kopecks), texts in UTF-8 and in
// quotes, dates as "YYYY-MM-DD HH:MM", nested tags in braces, other bytes in hex.
std::string TagText(const Tlv& t);
// "1040=42 1012=2026-12-09 12:00 ...": every tag of the list with its value.
std::string TagsText(const std::vector<Tlv>& tags);

// The operator's acknowledgement (document type 7) of document `documentNumber`: the OFD's
// taxpayer number, the drive and document numbers, the date and time, the operator's message to
// the drive with its response code, and the operator's sign.
struct Acknowledgement {
  std::string ofdInn = "7704211201";
  std::string driveNumber;
  uint32_t documentNumber = 0;
  uint32_t dateTime = 0;
  uint8_t responseCode = 0;
  uint8_t operatorSign[kOperatorSignSize] = {};
  uint8_t serviceData1[kServiceData1Size] = {};  // repeated from the document
};
Container AcknowledgementContainer(const Acknowledgement& a);
// Reads an acknowledgement container (without the session header); false when it is not a
// well-formed acknowledgement, with the reason in *why when given.
bool ParseAcknowledgement(const uint8_t* bytes, size_t count, Acknowledgement* out,
                          std::string* why = nullptr);

}  // namespace ffd
