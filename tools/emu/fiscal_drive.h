// The virtual printer's fiscal drive: its status, its tax systems, and the store of the fiscal
// documents it has signed, each with the message the driver's relay reads for the operator and
// removes again with the operator's acknowledgement. The printer passes the fiscal-drive commands
// ("S\"", "SuF", "Su!", "SuG", "SuJ", "SuH", "SuI", "SuK", "SuL", "Su5", "Suq") to it; the commands
// that make documents (receipts, shifts, registration) record them through AddDocument.
//
// Messages are in the fiscal data format of tools/ffd: the 1.05 firmware hands out the session
// header and the container, the 1.00 firmware the container alone.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "emu/wire.h"
#include "ffd/ffd.h"

namespace emu {

class CommandTable;
struct PrinterState;
struct Reply;

// The drive's answer codes and the reasons with which it refuses an operator acknowledgement.
constexpr uint8_t kFdOk = 0x00;
constexpr uint8_t kFdBadParameter = 0x02;
constexpr uint8_t kFdNoData = 0x08;
constexpr uint8_t kFdReceiptRefused = 0x20;
constexpr uint8_t kFdReasonMalformed = 0x01;      // not a well-formed acknowledgement
constexpr uint8_t kFdReasonWrongDrive = 0x02;     // for another fiscal drive
constexpr uint8_t kFdReasonWrongDocument = 0x03;  // not for the first waiting document
constexpr uint8_t kFdReasonNothingWaiting = 0x04;
constexpr uint8_t kFdReasonOnRequest = 0x0E;  // the default of a refusal asked for by a test

struct FdDocument {
  uint32_t number = 0;
  uint8_t type = 0;      // ffd::DocumentType; 0 for a message loaded as it is
  int64_t dateTime = 0;  // seconds since 1970
  uint32_t fiscalSign = 0;
  Bytes container;            // the container, or the whole message of a document loaded as it is
  bool raw = false;           // `container` is handed out unchanged, whatever the firmware
  bool acknowledged = false;  // the operator's acknowledgement was written back
};

// Faults of the fiscal drive. Counts are used up one answer at a time, like the printer's own.
struct FdFaults {
  uint8_t errorAnswer = 0;  // nonzero: "SuF" is answered with this error code alone (18 bytes)
  int zeroBlocks = 0;       // "SuI" blocks answered without data
  int stalledReads = 0;     // "SuI" requests left without any answer
  int overlongBlocks = 0;   // "SuI" blocks with more bytes than asked for
  int refusedReceipts = 0;  // acknowledgements refused with 0x20 and refusalReason
  uint8_t refusalReason = kFdReasonOnRequest;
  bool endlessEcho = false;  // "Suq" echoes lines without ever sending the final chunk
};

// Life phases of the drive.
constexpr uint8_t kPhaseReady = 1;   // ready for the registration
constexpr uint8_t kPhaseFiscal = 3;  // registered: fiscal documents are signed
constexpr uint8_t kPhaseClosed = 7;  // closed: only the backlog still goes to the operator

struct FiscalDrive {
  uint8_t lifePhase = kPhaseFiscal;
  uint8_t currentDocument = 0;
  uint8_t documentData = 0;
  uint8_t warnings = 0;
  uint8_t taxSystems = 0x01;  // bit n: tax system n registered
  uint8_t currentTax = 0;
  uint8_t exchangeState = 0;
  bool readStarted = false;  // a message read is in progress ("SuG1" .. "SuK" / "SuJ")
  uint32_t lastDocumentNumber = 0;
  uint32_t shiftFirstDocument = 0;  // the open shift's opening document
  // A deque, so that pointers to documents (Backlog, FindDocument) stay valid while a command adds
  // another document.
  std::deque<FdDocument> documents;
  FdFaults faults;
};

struct FdSigned {
  uint32_t number;
  uint32_t fiscalSign;
};

// Signs a new fiscal document of `type` (ffd::DocumentType) whose own tags are `tlvBody` (encoded
// with ffd::TlvWriter; the drive adds number, date and time, registration and drive numbers, the
// fiscal sign, the user, the place of settlement and the format version) and keeps it waiting for
// the operator. Returns its number and fiscal sign.
FdSigned AddDocument(PrinterState* s, uint8_t type, const Bytes& tlvBody);

// Tags several kinds of document share: the cashier (1021) with the cashier's taxpayer number
// (1203) when there is one; the register's version and format (1188, 1189); the documents not yet
// acknowledged by the operator (1097, and 1098 with the first one's date when there is one; 1116
// with its number as well when `withFirstNumber`).
void AppendCashier(ffd::TlvWriter* w, const std::string& utf8Name, const std::string& taxpayerNumber);
void AppendRegisterVersion(const PrinterState& s, ffd::TlvWriter* w);
void AppendUntransmitted(const PrinterState& s, bool withFirstNumber, ffd::TlvWriter* w);
// The clerk whose session is open, else clerk 1: the cashier of documents no receipt names.
std::string CashierName(const PrinterState& s);
const std::string& CashierTaxpayerNumber(const PrinterState& s);
// A waiting message of exactly these bytes, for tests of the read path; numbered like a document.
uint32_t AddRawMessage(PrinterState* s, const Bytes& message);
// `count` waiting receipts with small bodies of their own.
void PreloadDocuments(PrinterState* s, int count);

// The message the relay reads for a document, as the firmware hands it out.
Bytes MessageOf(const PrinterState& s, const FdDocument& d);
// The documents still waiting for the operator, oldest first.
std::vector<const FdDocument*> Backlog(const PrinterState& s);
const FdDocument* FindDocument(const PrinterState& s, uint32_t number);

// The printer's answer that carries a drive message: the command's echo, then the message (start
// byte, length, answer code, data, check value) as nibble characters.
Reply MessageReply(const std::string& echo, uint8_t code, const Bytes& data = {});
// A date and time as the drive keeps it: two-digit year, month, day (withDate), hour, minute.
void AppendDateTime(Bytes* out, int64_t unixTime, bool withDate);

// Registers the fiscal-drive commands.
void AddFiscalDriveCommands(CommandTable* table);

}  // namespace emu
