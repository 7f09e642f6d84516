// What the virtual printer remembers between commands, and the status bytes it reports from it.
// Later commands extend this record with their own effects (counters, documents, programming).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "emu/fiscal_drive.h"
#include "emu/programmed.h"
#include "emu/registration.h"
#include "emu/wire.h"

namespace emu {

// Bits of status byte 1 that say why the last command was refused (the error class in 0x30 and
// its detail in 0x0C); a refused command leaves them set until a command is accepted.
constexpr uint8_t kCommandError = 0x10;
constexpr uint8_t kFiscalError = 0x20;

// One item of a receipt as the printer registered it. Texts are UTF-8; tags whose values are bytes
// keep them as bytes (the nibble characters decoded), text tags are UTF-8.
struct ReceiptItem {
  std::string name;
  int taxGroup = 0;  // 0..5 as the item letter gives it
  int department = 0;
  int64_t price = 0;                // kopecks
  int64_t quantity = 0;             // thousandths; 0 for a return by amount
  int64_t sum = 0;                  // kopecks, after discount and markup lines; negative for a negative item
  std::map<int, std::string> tags;  // fiscal tag number -> value
};

// A receipt (or cash document) as the printer keeps it while it is open, and as it closed it.
struct Receipt {
  uint8_t kind = 0;         // kSaleReceipt, kReturnReceipt, kCashIn, kCashOut
  bool purchase = false;    // opened in purchase mode ("m1")
  int taxVariant = 0;       // 0..5 ("mA".."mF")
  std::string cashier;      // the logged-on clerk's name, UTF-8
  std::string orderHeader;  // the order header as sent, "*" or "j" included
  std::vector<ReceiptItem> items;
  int64_t total = 0;          // kopecks
  int64_t payments[10] = {};  // kopecks by payment type 0..9 (8 is cash)
  int64_t change = 0;
  std::map<int, std::string> attributes;  // "P@": receipt attributes by number, UTF-8
  std::map<int, std::string> tags;        // "Su": receipt-level fiscal tags, values as for items
  std::vector<std::string> lines;         // texts and card details printed in the receipt
  // A correction receipt ("*@") stays open after its payments until "t", and carries its base.
  bool correction = false;
  int correctionType = 0;            // "SucD": 0 by the register's own decision, 1 by order
  std::string correctionBaseName;    // "Sucd", UTF-8
  std::string correctionBaseNumber;  // "Suc#", UTF-8
  std::string correctionBaseDate;    // "SucD": DDMMYY
  long number = 0;                   // receipt number, once closed
  uint32_t fdDocument = 0;           // its document number in the fiscal drive, once closed
  uint32_t fiscalSign = 0;
};

// Document kinds: the digit the printer reports for its open document.
constexpr uint8_t kSaleReceipt = 1;
constexpr uint8_t kReturnReceipt = 2;
constexpr uint8_t kCashIn = 4;
constexpr uint8_t kCashOut = 5;

// Status2 byte 0 carries the base bit 0x40 like every status byte, so "Z report required" (0x20)
// and "shift time exceeded" (0x60, both bits) cannot be told apart there: either one sets 0x60.
// The printer reports each as the status table says and leaves it at that; the shift's age can be
// told from the opening time in the extended status.
// Version banners of the supported model's two firmwares.
constexpr const char kBannerFfd105[] = "  М И Р Е Л - 2 4 0 - Ф  вер. 1.05 ";
constexpr const char kBannerFfd100[] = "  М И Р Е Л - 2 4 0 - Ф  вер. 1.00 ";

struct PrinterState {
  bool fiscal = true;  // registered with the fiscal drive: status byte 0 carries both bits 0x60
  bool busy = false;
  bool receiptOpen = false;  // a non-fiscal receipt (any receipt on a non-fiscal register)
  bool fiscalReceiptOpen = false;
  bool shiftOpen = false;
  bool zReportRequired = false;
  bool paperEnd = false;
  bool printFailure = false;  // cleared by "e"
  // Status byte 1 error bits of a fault that no command clears, "e" included: a printer stuck in
  // an error state.
  uint8_t stuckErrorBits = 0;
  uint8_t deviceError = 0;    // error code of the last command, 0 = none
  uint8_t errorBits = 0;      // kCommandError / kFiscalError with detail, while deviceError stands
  uint8_t documentType = 0;   // kind of the open document (above), 0 = none
  int64_t shiftOpenedAt = 0;  // seconds since 1970; 0 = never opened
  int64_t now = 0;            // the printer's clock (seconds since 1970) at the command being handled
  uint8_t maxShiftHours = 24;
  // A sale or purchase closes as soon as its payments cover the total (then the texts and barcodes a
  // driver sends after the payments are refused); when clear it stays open for them until "t".
  // Printers of the family do either; the driver's close checks handle both.
  bool paidSaleClosesAtOnce = true;

  // ---- What the information records report (emu/records.h) ----
  std::string banner = kBannerFfd105;           // version banner, UTF-8; sent in the printer's character set
  std::string serialNumber = "00240000012345";  // 14 characters
  std::string registrationNumber = "0000000001012345678";  // of the register, up to 20
  std::string taxpayerNumber = "7701234567";               // up to 12
  std::string fdNumber = "9999078900012345";               // the fiscal drive's, 16
  int clerk = 0;                                           // logged on, 0 = none
  int shiftNumber = 0;     // the open shift's, or the last closed one's; 0 before the first shift
  long documentCount = 0;  // fiscal documents of the shift (receipts), counted from its opening
  long lastReceiptNumber = 0;
  int taxRates[4] = {2000, 1000, 0, 0};  // hundredths of a percent
  uint8_t flags[23] = {};                // device flags 1..22 (index 0 unused)
  int64_t shiftTotals[8] = {};           // kopecks; [7] is the cash in the drawer
  int64_t documentTotal = 0;             // the open document's total and what has been paid of it
  int64_t documentPaid = 0;
  uint8_t fpSubversion = 3;
  uint8_t fdFfdVersion = 2;  // format version of the fiscal drive: 1 = 1.0, 2 = 1.05

  // ---- Access: operator password, POS number and clerks (emu/access.h) ----
  struct Clerk {
    long secret = -1;  // -1: not programmed
    std::string name;  // as sent, in the printer's character set, trailing blanks cut
    std::string taxpayerNumber;
  };
  std::string operatorPassword = "472913";
  bool passwordEntered = false;  // the operator password was accepted since the last reset
  int posNumber = 1;
  Clerk clerks[17];  // clerks 1..16 (index 0 unused)

  // ---- Receipts (emu/receipt.h): the open document, the header switches for the next one, and
  // every document closed since the printer started ----
  Receipt receipt;            // the open document (documentType says whether there is one)
  bool purchaseMode = false;  // "m1": receipts open as purchases
  int taxVariant = 0;         // "mA".."mF"
  std::string orderHeader;    // "*" / "j": for the next receipt
  std::vector<Receipt> closedReceipts;
  int drawerOpenings = 0;

  // ---- Programming (emu/programming.h): the printer's own settings and what it has printed ----
  Programmed programmed;
  std::vector<TapeLine> tape;

  // ---- The fiscal drive and its documents (emu/fiscal_drive.h) ----
  FiscalDrive fd;

  // ---- Registration data and the shift's reports (emu/reports.h) ----
  Registration registration;
};

struct StatusBytes {
  uint8_t status0;
  uint8_t status1;
  uint8_t status2;  // status2 byte 0
};

// `now` (seconds since 1970) decides whether the open shift has run past its maximum length.
StatusBytes StatusOf(const PrinterState& s, int64_t now);

// STX b0 b1 ETX BCC: the answer to ENQ (status bytes 0 and 1).
Bytes ShortStatusFrame(const PrinterState& s, int64_t now);
// The answer to ENQ2: status2 byte 0 and a second byte with both bits 0x30 set, which marks the
// frame as status2 for the receiver.
Bytes Status2Frame(const PrinterState& s, int64_t now);
// The answer to ENQT: STX and the 27 bytes of the extended status.
Bytes ExtendedStatusFrame(const PrinterState& s, int64_t now);

}  // namespace emu
