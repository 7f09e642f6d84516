#include "emu/receipt.h"

#include <algorithm>
#include <cstdio>

#include "emu/fiscal_drive.h"
#include "emu/programming.h"
#include "emu/records.h"
#include "emu/registration.h"
#include "emu/reports.h"
#include "ffd/ffd.h"

namespace emu {
namespace {

// A quantity in thousandths as printed: "1.500".
std::string Quantity(int64_t thousandths) {
  char text[32];
  snprintf(text, sizeof text, "%lld.%03lld", static_cast<long long>(thousandths / 1000),
           static_cast<long long>(thousandths % 1000));
  return text;
}

constexpr uint8_t kErrorNoPassword = 41;
constexpr uint8_t kErrorNoCashier = 46;
constexpr uint8_t kErrorNotEnoughCash = 54;
// Status byte 1 of a command refused because no cashier has opened a session: a command error whose
// detail reads "cashier not registered".
constexpr uint8_t kNoCashierBits = kCommandError | 0x08;
constexpr int kCashType = 8;
constexpr int kPlaces = 8;  // characters of the price and quantity fields
constexpr int kFirstTag = 952;
constexpr int kCashierInnAttribute = 19;  // "P@19": the cashier's taxpayer number

// The item tags whose values are bytes (nibble characters on the line); the others are texts.
bool IsByteTag(int tag) {
  return tag == 1212 || tag == 1214 || tag == 1222 || tag == 1162;
}

uint8_t At(const std::string& text, size_t i) {
  return static_cast<uint8_t>(text[i]);
}

// `count` decimal digits at `at`, blanks before them allowed; -1 when anything else is there.
int64_t Number(const std::string& text, size_t at, size_t count) {
  if (at + count > text.size()) return -1;
  int64_t value = 0;
  bool digits = false;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] == ' ' && !digits) continue;
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
    digits = true;
  }
  return digits ? value : -1;
}

// Tags from `pos` to the end: reference bytes, then the value up to the next reference.
bool ReadTags(const std::string& text, size_t pos, std::map<int, std::string>* tags) {
  while (pos < text.size()) {
    if (!IsTagByte(At(text, pos)) || pos + 1 >= text.size()) return false;
    const int tag = TagNumber(At(text, pos), At(text, pos + 1));
    size_t end = pos + 2;
    while (end < text.size() && !IsTagByte(At(text, end))) ++end;
    const std::string value = text.substr(pos + 2, end - pos - 2);
    (*tags)[tag] = IsByteTag(tag) ? NibbleBytes(value) : TextFromDevice(value);
    pos = end;
  }
  return true;
}

// Price, quantity, department, name and tags of an item command from `at`, after its letters.
bool ReadItem(const std::string& text, size_t at, bool zeroQuantity, ReceiptItem* item) {
  if (text.size() < at + 2 * kPlaces + 2) return false;
  item->price = ExtendedDigitsValue(text.substr(at, kPlaces));
  item->quantity = zeroQuantity ? 0 : Number(text, at + kPlaces, kPlaces);
  item->department = static_cast<int>(Number(text, at + 2 * kPlaces, 2));
  if (item->price < 0 || item->quantity < 0 || item->department < 0) return false;
  size_t nameEnd = at + 2 * kPlaces + 2;
  while (nameEnd < text.size() && !IsTagByte(At(text, nameEnd))) ++nameEnd;
  item->name = TextFromDevice(text.substr(at + 2 * kPlaces + 2, nameEnd - at - 2 * kPlaces - 2));
  // A return by amount (quantity 0) returns the price itself; otherwise price times quantity,
  // rounded half up to kopecks.
  item->sum = zeroQuantity ? item->price : (item->price * item->quantity + 500) / 1000;
  return ReadTags(text, nameEnd, &item->tags);
}

bool DocumentOpen(const PrinterState& s) {
  return s.documentType != 0;
}

void OpenDocument(PrinterState& s, uint8_t kind) {
  s.receipt = Receipt{};
  s.receipt.kind = kind;
  s.receipt.purchase = s.purchaseMode;
  s.receipt.taxVariant = s.taxVariant;
  s.receipt.cashier = TextFromDevice(s.clerks[s.clerk].name);
  s.receipt.orderHeader = s.orderHeader;
  s.orderHeader.clear();
  s.documentType = kind;
  s.documentTotal = 0;
  s.documentPaid = 0;
  if (kind == kSaleReceipt) {
    s.fiscalReceiptOpen = true;
  } else {
    s.receiptOpen = true;
  }
  PrintHeader(s);
}

// Cash the drawer gains (or loses, negative) when the document closes.
int64_t DrawerChange(const Receipt& r) {
  const int64_t cash = r.payments[kCashType] - r.change;
  switch (r.kind) {
    case kSaleReceipt:
      return r.purchase ? -cash : cash;
    case kReturnReceipt:
      return r.purchase ? cash : -cash;
    case kCashIn:
      return r.total;
    case kCashOut:
      return -r.total;
  }
  return 0;
}

// The fiscal data of the tax group: VAT 20 %, 10 %, 0 %, 20/120, 10/110; group 0 has no VAT.
uint8_t VatRate(int taxGroup) {
  static const uint8_t kRates[] = {6, 1, 2, 5, 3, 4};
  return taxGroup >= 0 && taxGroup <= 5 ? kRates[taxGroup] : 6;
}

// 1 sale, 2 sale return, 3 purchase, 4 purchase return.
uint8_t OperationType(const Receipt& r) {
  return static_cast<uint8_t>((r.purchase ? 3 : 1) + (r.kind == kReturnReceipt ? 1 : 0));
}

uint64_t Magnitude(int64_t v) {
  return static_cast<uint64_t>(v < 0 ? -v : v);
}

// Seconds since 1970 at the start of the day DDMMYY (years 2000..2099), as the drive keeps a date.
uint32_t DayTime(const std::string& ddmmyy) {
  const int64_t day = Number(ddmmyy, 0, 2);
  const int64_t month = Number(ddmmyy, 2, 2);
  const int64_t year = 2000 + Number(ddmmyy, 4, 2) - (month <= 2 ? 1 : 0);
  // Days from the civil date, counted in 400-year eras from 0000-03-01.
  const int64_t era = year / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return static_cast<uint32_t>((era * 146097 + dayOfEra - 719468) * 86400);
}

// The base of a correction receipt: its type, and the name, date and number of the base document.
void AppendCorrectionBase(const Receipt& r, ffd::TlvWriter* w) {
  w->U8(ffd::tag::kCorrectionType, static_cast<uint8_t>(r.correctionType));
  ffd::TlvWriter base;
  base.String(ffd::tag::kCorrectionBaseName, ffd::Cp866FromUtf8(r.correctionBaseName));
  base.U32(ffd::tag::kCorrectionBaseDate, DayTime(r.correctionBaseDate));
  base.String(ffd::tag::kCorrectionBaseNumber, ffd::Cp866FromUtf8(r.correctionBaseNumber));
  w->Stlv(ffd::tag::kCorrectionBase, base);
}

// An item's byte tag as the driver sent it, or `otherwise`.
uint8_t ItemByte(const ReceiptItem& item, int tag, uint8_t otherwise) {
  const auto it = item.tags.find(tag);
  return it == item.tags.end() || it->second.empty() ? otherwise : static_cast<uint8_t>(it->second[0]);
}

// The receipt tags of the VAT: the tax of each rate with one, the sum of the rates without.
struct VatTotal {
  uint8_t rate;
  uint16_t tag;
  int64_t numerator, denominator;  // the share of the sum that is the tax; 1/1 for the sum itself
};
constexpr VatTotal kVatTotals[] = {
    {1, ffd::tag::kVat20, 20, 120},  {2, ffd::tag::kVat10, 10, 110}, {3, ffd::tag::kVat120, 20, 120},
    {4, ffd::tag::kVat110, 10, 110}, {5, ffd::tag::kVat0, 1, 1},     {6, ffd::tag::kNoVat, 1, 1},
};

void AppendVatTotals(const Receipt& r, ffd::TlvWriter* w) {
  for (const VatTotal& v : kVatTotals) {
    int64_t sum = 0;
    bool present = false;
    for (const ReceiptItem& item : r.items) {
      if (VatRate(item.taxGroup) != v.rate) continue;
      sum += item.sum;
      present = true;
    }
    if (present) w->Vln(v.tag, (Magnitude(sum) * v.numerator + v.denominator / 2) / v.denominator);
  }
}

// Payment types of the printer: 1 electronic means, 5 an advance, 6 counter-provision, 7 credit,
// 8 cash; the other types count as electronic means.
constexpr int kAdvanceType = 5;
constexpr int kProvisionType = 6;
constexpr int kCreditType = 7;

// The receipt's own tags in the fiscal drive: its number in the shift, operation, tax system, a
// correction's base, the items, the total, how it was paid (cash net of change, electronic means,
// advance, credit, counter-provision), the VAT and the cashier.
Bytes ReceiptTlv(const PrinterState& s, const Receipt& r) {
  ffd::TlvWriter w;
  w.U32(ffd::tag::kReceiptNumber, static_cast<uint32_t>(s.documentCount));
  w.U32(ffd::tag::kShiftNumber, static_cast<uint32_t>(s.shiftNumber));
  w.U8(ffd::tag::kOperationType, OperationType(r));
  w.U8(ffd::tag::kTaxSystem, static_cast<uint8_t>(1u << r.taxVariant));
  if (r.correction) AppendCorrectionBase(r, &w);
  for (const ReceiptItem& item : r.items) {
    ffd::TlvWriter i;
    i.U8(ffd::tag::kItemMethod, ItemByte(item, ffd::tag::kItemMethod, 4));
    i.U8(ffd::tag::kItemSubject, ItemByte(item, ffd::tag::kItemSubject, 1));
    i.String(ffd::tag::kItemName, ffd::Cp866FromUtf8(item.name));
    i.Vln(ffd::tag::kItemPrice, static_cast<uint64_t>(item.price));
    i.Fvln(ffd::tag::kItemQuantity, 3, static_cast<uint64_t>(item.quantity));
    i.U8(ffd::tag::kVatRate, VatRate(item.taxGroup));
    i.Vln(ffd::tag::kItemSum, Magnitude(item.sum));
    w.Stlv(ffd::tag::kItem, i);
  }
  int64_t electronic = 0;
  for (int type = 0; type < 10; ++type) {
    if (type != kCashType && type != kAdvanceType && type != kProvisionType && type != kCreditType)
      electronic += r.payments[type];
  }
  w.Vln(ffd::tag::kTotal, Magnitude(r.total));
  w.Vln(ffd::tag::kCash, Magnitude(r.payments[kCashType] - r.change));
  w.Vln(ffd::tag::kCashless, Magnitude(electronic));
  w.Vln(ffd::tag::kAdvance, Magnitude(r.payments[kAdvanceType]));
  w.Vln(ffd::tag::kCredit, Magnitude(r.payments[kCreditType]));
  w.Vln(ffd::tag::kProvision, Magnitude(r.payments[kProvisionType]));
  AppendVatTotals(r, &w);
  const auto inn = r.attributes.find(kCashierInnAttribute);
  AppendCashier(&w, r.cashier, inn == r.attributes.end() ? std::string() : inn->second);
  return w.bytes();
}

// The name a payment is printed with: cash, or the payment mean programmed for its type.
std::string PaymentName(const PrinterState& s, int type) {
  if (type == kCashType) return "НАЛИЧНЫМИ";
  if (type >= 1 && type <= 8 && !s.programmed.paymentMeans[type - 1].empty())
    return TextFromDevice(s.programmed.paymentMeans[type - 1]);
  return "ОПЛАТА " + std::to_string(type);
}

// The end of a receipt on the tape: its total, payments and change.
void PrintReceiptTotals(PrinterState& s, const Receipt& r) {
  Print(&s, "ИТОГ =" + Money(r.total));
  for (int type = 0; type < 10; ++type) {
    if (r.payments[type] != 0) Print(&s, "  " + PaymentName(s, type) + " =" + Money(r.payments[type]));
  }
  if (r.change != 0) Print(&s, "  СДАЧА =" + Money(r.change));
}

void CloseDocument(PrinterState& s) {
  Receipt& r = s.receipt;
  if (r.kind == kSaleReceipt || r.kind == kReturnReceipt) {
    r.number = ++s.lastReceiptNumber;
    ++s.documentCount;
    const FdSigned signedAs =
        AddDocument(&s, r.correction ? ffd::kCorrectionReceipt : ffd::kReceipt, ReceiptTlv(s, r));
    r.fdDocument = signedAs.number;
    r.fiscalSign = signedAs.fiscalSign;
    PrintReceiptTotals(s, r);
    PrintSigned(&s, signedAs);
  }
  s.shiftTotals[7] += DrawerChange(r);
  PrintFooter(s);
  s.closedReceipts.push_back(r);
  s.receipt = Receipt{};
  s.documentType = 0;
  s.receiptOpen = false;
  s.fiscalReceiptOpen = false;
  s.documentTotal = 0;
  s.documentPaid = 0;
}

// A document of `kind` open, or opened now when none is.
bool EnsureDocument(PrinterState& s, uint8_t kind) {
  if (!DocumentOpen(s)) OpenDocument(s, kind);
  return s.documentType == kind;
}

// The common refusals of a command that prints: a closed fiscal drive, no cashier session, no paper.
bool CanPrint(const PrinterState& s, Reply* refusal) {
  if (s.fd.lifePhase == kPhaseClosed) {
    *refusal = Reply::Refuse(kErrorDriveState, kFiscalError);
  } else if (!s.shiftOpen) {
    *refusal = Reply::Refuse(kErrorNoPassword, kNoCashierBits);
  } else if (s.paperEnd) {
    *refusal = Reply::Refuse(kErrorPaperEnd, 0);
  } else {
    return true;
  }
  return false;
}

// A receipt opened by its header carries the logged-on cashier: with none (after a restart the
// printer has logged its cashier off) the header is refused.
bool HasCashier(const PrinterState& s, Reply* refusal) {
  if (s.clerk != 0) return true;
  *refusal = Reply::Refuse(kErrorNoCashier, kNoCashierBits);
  return false;
}

// Closes the paid receipt, the change coming from the cash.
void CloseWithChange(PrinterState& s) {
  Receipt& r = s.receipt;
  r.change = std::min(s.documentPaid - r.total, r.payments[kCashType]);
  CloseDocument(s);
}

// Adds a payment; the receipt closes once its total is paid (a sale or purchase only when the
// printer closes paid sales at once), a correction receipt only with "t".
Reply Payment(PrinterState& s, uint8_t kind, int type, int64_t amount) {
  Reply refusal;
  if (!CanPrint(s, &refusal)) return refusal;
  if (s.documentType != kind) return Reply::Refuse(kErrorWrongDocument);
  Receipt& r = s.receipt;
  r.payments[type] += amount;
  s.documentPaid += amount;
  const bool closesWhenPaid = kind == kReturnReceipt || s.paidSaleClosesAtOnce;
  if (s.documentPaid >= r.total && !r.correction && closesWhenPaid) CloseWithChange(s);
  return Reply::Accept();
}

// A letter, one digit of payment type and ten digits of amount after `at`.
bool ReadPayment(const std::string& text, size_t at, int* type, int64_t* amount) {
  *type = static_cast<int>(Number(text, at, 1));
  *amount = Number(text, at + 1, 10);
  return text.size() == at + 11 && *type >= 0 && *amount >= 0;
}

// ---- Session ----

// "o", the POS number in two digits and the clerk's secret in five: the clerk logs on and the
// shift opens (with its document in the drive) unless it is open already.
Reply OpenSession(PrinterState& s, const std::string& text) {
  const int64_t secret = text.size() == 8 ? Number(text, 3, 5) : -1;
  if (secret < 0 || Number(text, 1, 2) < 0) return Reply::Refuse(kErrorBadParameter);
  if (!s.passwordEntered) return Reply::Refuse(kErrorNoPassword);
  // A closed drive opens no shift.
  if (!s.shiftOpen && s.fd.lifePhase == kPhaseClosed) return Reply::Refuse(kErrorDriveState, kFiscalError);
  for (int n = 1; n <= 16; ++n) {
    if (s.clerks[n].secret != secret) continue;
    s.clerk = n;
    BeginShift(&s);
    return Reply::Accept();
  }
  return Reply::Refuse(kErrorNoPassword);
}

// "zz": the shift closes with its Z report and the clerk logs off; not while a document is open.
Reply CloseSession(PrinterState& s, const std::string&) {
  if (DocumentOpen(s)) return Reply::Refuse(kErrorWrongDocument);
  EndShift(&s);
  s.clerk = 0;
  return Reply::Accept();
}

// ---- Header switches ----

// "m" and 'A'..'F' (tax system) or '0'/'1' (sale or purchase) for the next receipt.
Reply Mode(PrinterState& s, const std::string& text) {
  if (text.size() != 2) return Reply::Refuse(kErrorBadParameter);
  if (DocumentOpen(s)) return Reply::Refuse(kErrorWrongDocument);
  const char c = text[1];
  if (c >= 'A' && c <= 'F') {
    s.taxVariant = c - 'A';
  } else if (c == '0' || c == '1') {
    s.purchaseMode = c == '1';
  } else {
    return Reply::Refuse(kErrorBadParameter);
  }
  return Reply::Accept();
}

// "*" (sale) or "j" (return): the order header, which opens the receipt. The short form has five
// characters of order number, the long one ("**", "j*") twelve; both 29 or 35 characters in all.
Reply OrderHeader(PrinterState& s, const std::string& text, uint8_t kind) {
  const bool longForm = text.size() > 1 && text[1] == '*';
  if (text.size() != (longForm ? 36u : 30u)) return Reply::Refuse(kErrorBadParameter);
  if (kind == kReturnReceipt && !s.passwordEntered) return Reply::Refuse(kErrorNoPassword);
  Reply refusal;
  if (!CanPrint(s, &refusal) || !HasCashier(s, &refusal)) return refusal;
  if (DocumentOpen(s)) return Reply::Refuse(kErrorWrongDocument);
  s.orderHeader = text;
  OpenDocument(s, kind);
  return Reply::Accept();
}

Reply SaleHeader(PrinterState& s, const std::string& text) {
  return OrderHeader(s, text, kSaleReceipt);
}
Reply ReturnHeader(PrinterState& s, const std::string& text) {
  return OrderHeader(s, text, kReturnReceipt);
}

// "*@" opens a correction receipt: a sale, or a purchase in purchase mode, that records a
// settlement after the fact.
Reply Correction(PrinterState& s, const std::string& text) {
  if (text.size() != 2) return Reply::Refuse(kErrorBadParameter);
  Reply refusal;
  if (!CanPrint(s, &refusal) || !HasCashier(s, &refusal)) return refusal;
  if (DocumentOpen(s)) return Reply::Refuse(kErrorWrongDocument);
  OpenDocument(s, kSaleReceipt);
  s.receipt.correction = true;
  return Reply::Accept();
}

// "Suc" and a letter: the base of the open correction receipt. 'd' its document's name, '#' its
// number (texts), 'D' the correction's type digit and the date as DDMMYY.
Reply CorrectionBase(PrinterState& s, const std::string& text) {
  if (text.size() < 4) return Reply::Refuse(kErrorBadParameter);
  if (!DocumentOpen(s) || !s.receipt.correction) return Reply::Refuse(kErrorWrongDocument);
  Receipt& r = s.receipt;
  const std::string value = text.substr(4);
  if (text[3] == 'd') {
    r.correctionBaseName = TextFromDevice(value);
  } else if (text[3] == '#') {
    r.correctionBaseNumber = TextFromDevice(value);
  } else if (text[3] == 'D' && value.size() == 7 && (value[0] == '0' || value[0] == '1') &&
             Number(value, 1, 2) >= 1 && Number(value, 1, 2) <= 31 && Number(value, 3, 2) >= 1 &&
             Number(value, 3, 2) <= 12 && Number(value, 5, 2) >= 0) {
    r.correctionType = value[0] - '0';
    r.correctionBaseDate = value.substr(1);
  } else {
    return Reply::Refuse(kErrorBadParameter);
  }
  return Reply::Accept();
}

// ---- Items ----

Reply AddItem(PrinterState& s, const ReceiptItem& item, bool negative, uint8_t kind) {
  Reply refusal;
  if (!CanPrint(s, &refusal)) return refusal;
  if (kind == kReturnReceipt && !DocumentOpen(s) && !s.passwordEntered)
    return Reply::Refuse(kErrorNoPassword);
  if (!EnsureDocument(s, kind)) return Reply::Refuse(kErrorWrongDocument);
  ReceiptItem added = item;
  if (negative) added.sum = -added.sum;
  s.receipt.items.push_back(added);
  s.receipt.total += added.sum;
  s.documentTotal = s.receipt.total;
  Print(&s, added.name);
  Print(&s, "  " + Quantity(added.quantity) + " x " + Money(added.price) + " =" + Money(added.sum));
  return Reply::Accept();
}

// 0x20 + tax group (0xA0 + group for a negative item), then the item's fields.
Reply SaleItem(PrinterState& s, const std::string& text) {
  ReceiptItem item;
  item.taxGroup = At(text, 0) & 0x0F;
  if (item.taxGroup > 5 || !ReadItem(text, 1, false, &item)) return Reply::Refuse(kErrorBadParameter);
  return AddItem(s, item, At(text, 0) >= 0xA0, kSaleReceipt);
}

// 'd' (0xE4 for a negative item), on this printer a second letter 'a'..'e' for tax groups 1..5, then
// the item's fields; a quantity of "00000000" returns the price as an amount. (A price of
// 490,000,000 kopecks or more after a group 0 letter would read as a group letter.)
Reply ReturnItem(PrinterState& s, const std::string& text) {
  ReceiptItem item;
  size_t at = 1;
  if (text.size() > 1 && At(text, 1) >= 'a' && At(text, 1) <= 'e') {
    item.taxGroup = At(text, 1) - 0x60;
    at = 2;
  }
  const bool zeroQuantity =
      text.size() >= at + 2 * kPlaces && text.compare(at + kPlaces, kPlaces, "00000000") == 0;
  if (!ReadItem(text, at, zeroQuantity, &item)) return Reply::Refuse(kErrorBadParameter);
  return AddItem(s, item, At(text, 0) == 0xE4, kReturnReceipt);
}

// " 000000000000000094", the word (discount or markup, 7 characters), a text of 16, the roubles in
// 10 characters and a point, and the kopecks: the last item's sum goes down or up by the amount.
Reply DiscountLine(PrinterState& s, const std::string& text) {
  static const Bytes discount = DeviceText("СКИДКА ");
  static const Bytes markup = DeviceText("НАЦЕНКА");
  const std::string word = text.substr(19, 7);
  const int sign = word == std::string(discount.begin(), discount.end()) ? -1
                   : word == std::string(markup.begin(), markup.end())   ? 1
                                                                         : 0;
  const int64_t roubles = Number(text, 42, 10);
  const int64_t kopecks = Number(text, 53, 2);
  if (text.size() != 55 || sign == 0 || roubles < 0 || text[52] != '.' || kopecks < 0) {
    return Reply::Refuse(kErrorBadParameter);
  }
  Reply refusal;
  if (!CanPrint(s, &refusal)) return refusal;
  if (!DocumentOpen(s) || s.receipt.items.empty()) return Reply::Refuse(kErrorWrongDocument);
  const int64_t amount = sign * (roubles * 100 + kopecks);
  Print(&s, (sign < 0 ? "  СКИДКА =" : "  НАЦЕНКА =") + Money(roubles * 100 + kopecks));
  s.receipt.items.back().sum += amount;
  s.receipt.total += amount;
  s.documentTotal = s.receipt.total;
  return Reply::Accept();
}

// ---- Payments ----

// A letter, type and amount: a payment of a receipt of `kind`.
Reply PaymentCommand(PrinterState& s, const std::string& text, uint8_t kind) {
  int type;
  int64_t amount;
  if (!ReadPayment(text, 1, &type, &amount)) return Reply::Refuse(kErrorBadParameter);
  return Payment(s, kind, type, amount);
}

// "L": a payment of a sale or purchase receipt.
Reply Pay(PrinterState& s, const std::string& text) {
  return PaymentCommand(s, text, kSaleReceipt);
}

// "1" and a payment type: the rest of a sale receipt paid by that type.
Reply PayRest(PrinterState& s, const std::string& text) {
  const int64_t type = text.size() == 2 ? Number(text, 1, 1) : -1;
  if (type < 0) return Reply::Refuse(kErrorBadParameter);
  const int64_t rest = std::max<int64_t>(s.receipt.total - s.documentPaid, 0);
  return Payment(s, kSaleReceipt, static_cast<int>(type), rest);
}

// "f" or "K": a payment of a return receipt.
Reply ReturnPayment(PrinterState& s, const std::string& text) {
  return PaymentCommand(s, text, kReturnReceipt);
}

// "91" (in) or "90" (out), type and amount: the cash document opens with the first amount.
Reply CashMove(PrinterState& s, const std::string& text) {
  int type;
  int64_t amount;
  if (!ReadPayment(text, 2, &type, &amount)) return Reply::Refuse(kErrorBadParameter);
  Reply refusal;
  if (!CanPrint(s, &refusal)) return refusal;
  const bool out = text[1] == '0';
  // The drawer cannot give more than it holds: refused as a wrong value, before any document opens.
  const int64_t takenAlready = s.documentType == kCashOut ? s.receipt.total : 0;
  if (out && s.shiftTotals[7] - takenAlready < amount) return Reply::Refuse(kErrorNotEnoughCash);
  if (!EnsureDocument(s, out ? kCashOut : kCashIn)) return Reply::Refuse(kErrorWrongDocument);
  s.receipt.payments[type] += amount;
  s.receipt.total += amount;
  s.documentTotal = s.receipt.total;
  return Reply::Accept();
}

// "t": closes a cash document, or a receipt with its rest paid in cash.
Reply Total(PrinterState& s, const std::string&) {
  if (!DocumentOpen(s)) return Reply::Refuse(kErrorWrongDocument);
  if (s.documentType == kCashIn || s.documentType == kCashOut) {
    CloseDocument(s);
    return Reply::Accept();
  }
  const int64_t rest = std::max<int64_t>(s.receipt.total - s.documentPaid, 0);
  const Reply paid = Payment(s, s.documentType, kCashType, rest);
  if (paid.kind == Reply::Kind::kAccept && DocumentOpen(s)) CloseWithChange(s);
  return paid;
}

// ---- Texts and attributes of the open receipt ----

// The printed form of a barcode (two letters: "80" or "81" outside a receipt, "1\"" in it; then
// "9032", the kind and the data closed by a quote) or of a QR code (the data closed by its
// parameter byte, whose high bit is set); empty for a text line.
std::string PrintedCode(const std::string& text) {
  static const char* const kKinds[] = {"EAN13", "EAN8", "CODE39"};
  const uint8_t last = At(text, text.size() - 1);
  if (last >= 0x80) return "[QR " + text.substr(2, text.size() - 3) + "]";
  const int64_t kind = Number(text, 6, 2);
  if (last == '"' && text.compare(2, 4, "9032") == 0 && kind >= 12 && kind <= 14) {
    return std::string("[") + kKinds[kind - 12] + " " + text.substr(8, text.size() - 9) + "]";
  }
  return {};
}

// A text printed in the receipt: "1!" before a sale's end, "f!" before a return's, "1\"" a
// barcode.
Reply ReceiptLine(PrinterState& s, const std::string& text) {
  Reply refusal;
  if (!CanPrint(s, &refusal)) return refusal;
  if (!DocumentOpen(s)) return Reply::Refuse(kErrorWrongDocument);
  s.receipt.lines.push_back(TextFromDevice(text));
  const std::string code = PrintedCode(text);
  Print(&s, code.empty() ? TextFromDevice(text.substr(2)) : code);
  return Reply::Accept();
}

// "c" and the card details, kept for the receipt that is open (the printer also takes them alone).
Reply CardDetails(PrinterState& s, const std::string& text) {
  if (DocumentOpen(s)) s.receipt.lines.push_back(TextFromDevice(text));
  return Reply::Accept();
}

// "P@", the attribute number in two digits and its text.
Reply Attribute(PrinterState& s, const std::string& text) {
  const int64_t n = Number(text, 2, 2);
  if (n < 0 || n == 1 || n == 2 || n > 21) return Reply::Refuse(kErrorBadParameter);
  if (!DocumentOpen(s)) return Reply::Refuse(kErrorWrongDocument);
  s.receipt.attributes[static_cast<int>(n)] = TextFromDevice(text.substr(4));
  return Reply::Accept();
}

// "Su", ')' (text) or '(' (bytes), the mode, the tag number as four nibble characters (low byte
// first) and the value.
Reply TagData(PrinterState& s, const std::string& text) {
  if (text.size() < 8) return Reply::Refuse(kErrorBadParameter);
  const std::string number = NibbleBytes(text.substr(4, 4));
  const int tag = static_cast<uint8_t>(number[0]) | static_cast<uint8_t>(number[1]) << 8;
  if (!DocumentOpen(s)) return Reply::Refuse(kErrorWrongDocument);
  const std::string value = text.substr(8);
  s.receipt.tags[tag] = text[2] == '(' ? NibbleBytes(value) : TextFromDevice(value);
  return Reply::Accept();
}

// ---- Printing outside a receipt ----

// "80" (or "81" for the last line of the document): a text line of the line's width and an end
// character, or a barcode, printed on the tape outside any receipt.
Reply OutsideLine(PrinterState& s, const std::string& text) {
  if (text.size() < 3) return Reply::Refuse(kErrorBadParameter);
  // Free text needs paper, not a cashier.
  if (s.paperEnd) return Reply::Refuse(kErrorPaperEnd, 0);
  if (DocumentOpen(s)) return Reply::Refuse(kErrorWrongDocument);
  std::string printed = PrintedCode(text);
  if (printed.empty()) {
    printed = TextFromDevice(text.substr(2, text.size() - 3));
    printed.erase(printed.find_last_not_of(' ') + 1);
  }
  s.tape.push_back({printed, false, false});
  return Reply::Accept();
}

Reply OpenDrawer(PrinterState& s, const std::string&) {
  ++s.drawerOpenings;
  return Reply::Accept();
}

}  // namespace

bool IsTagByte(uint8_t b) {
  return b >= 0xD8 && b <= 0xDB;
}

int TagNumber(uint8_t first, uint8_t second) {
  return kFirstTag + second + ((first & 0xFE) == 0xDA ? 128 : 0);
}

std::string NibbleBytes(const std::string& chars) {
  std::string bytes;
  for (size_t i = 0; i + 1 < chars.size(); i += 2) {
    bytes.push_back(static_cast<char>((chars[i] & 0x0F) << 4 | (chars[i + 1] & 0x0F)));
  }
  return bytes;
}

int64_t ExtendedDigitsValue(const std::string& field) {
  int64_t value = 0;
  for (char c : field) {
    const int digit = static_cast<uint8_t>(c) - '0';
    if (digit < 0) return -1;
    value = value * 10 + digit;
  }
  return field.size() == kPlaces ? value : -1;
}

void AddReceiptCommands(CommandTable* table) {
  table->Add("o", OpenSession);
  table->Add("zz", CloseSession);
  table->Add("m", Mode);
  table->Add("*", SaleHeader);
  table->Add("j", ReturnHeader);
  table->Add("*@", Correction);
  table->Add("Suc", CorrectionBase);
  for (int group = 0; group <= 5; ++group) {
    table->Add(std::string(1, static_cast<char>(0x20 + group)), SaleItem);
    table->Add(std::string(1, static_cast<char>(0xA0 + group)), SaleItem);
  }
  table->Add("d", ReturnItem);
  table->Add("\xE4", ReturnItem);
  table->Add(" 000000000000000094", DiscountLine);
  table->Add("L", Pay);
  table->Add("1", PayRest);
  table->Add("f", ReturnPayment);
  table->Add("K", ReturnPayment);
  table->Add("91", CashMove);
  table->Add("90", CashMove);
  table->Add("t", Total);
  table->Add("1!", ReceiptLine);
  table->Add("f!", ReceiptLine);
  table->Add("1\"", ReceiptLine);
  table->Add("c", CardDetails);
  table->Add("P@", Attribute);
  table->Add("Su)", TagData);
  table->Add("Su(", TagData);
  table->Add("w", OpenDrawer);
  table->Add("80", OutsideLine);
  table->Add("81", OutsideLine);
}

}  // namespace emu
