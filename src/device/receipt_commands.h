// Receipt commands of the printer: cashier log-on and log-off, the receipt header switches, items
// with their fiscal tags, discount lines and receipt attributes. Each builds one command text,
// sends it as one transaction, stores its driver result code in nLastResult and returns it (the
// exceptions say so). Money is in kopecks, quantities in thousandths; texts are Windows-1251 and
// go to the printer through its character table. A refused argument sends nothing.
#pragma once

#include <cstdint>

#include "device/check_position.h"
#include "device/fp_context.h"

// Driver result codes of these commands' own checks.
enum ReceiptCommandCode : int32_t {
  kCodeClerkNotProgrammed = 26,
  kCodeOrderNumberRange = 34,
  kCodePriceTooLarge = 39,
};

// The largest price the eight characters of the item price field carry: 207 in every place.
constexpr uint32_t kMaxExtendedPrice = 2299999977u;

// Writes `value` as exactly 8 characters, most significant place first, each place '0' + digit
// with digits up to 207 (so values above 99,999,999 use the characters after '9'). Returns what
// did not fit, 0 when the value fitted. `out` receives no terminator.
uint32_t EncodeExtendedDigits(char out[8], uint32_t value);
// The two bytes that name fiscal-data tag `tag` (952..1295) inside a command; `flag` is the low bit.
void TagReference(int tag, int flag, char out[2]);

// Cashier. SafeOpenFP2 programs the clerk (and, on the 1.05 firmware, its taxpayer number), then
// logs it on; OpenFP logs clerk 1..16 on with its secret (26 when it has none), CloseFP off. Both
// rest 3300 ms afterwards, as the printer needs.
int32_t SafeOpenFP2(FPContext* ctx, int reserved1, int clerk, const char* clerkName, int reserved2,
                    const char* clerkVatin);
int32_t OpenFP(FPContext* ctx, int clerk);
int32_t CloseFP(FPContext* ctx);

// Receipt header switches. SetTaxVariant: tax system 0..5; SetSalePurchaseMode: 0 sale, 1 purchase;
// OpenCorrection: a correction receipt (1.05 firmware only; elsewhere nothing happens and
// nLastResult is returned as it stands).
int32_t SetTaxVariant(FPContext* ctx, int variant);
int32_t SetSalePurchaseMode(FPContext* ctx, int mode);
int32_t OpenCorrection(FPContext* ctx);
// The order header: order number 0..99999, two numbers 0..999 and a text of 18 characters. Zero
// numbers are printed blank unless anKeepZeroExtra says otherwise.
int32_t SetExtraDocData(FPContext* ctx, unsigned order, unsigned a, unsigned b, const char* text);
int32_t SetExtraDocDataSaleUndo(FPContext* ctx, unsigned order, unsigned a, unsigned b, const char* text);
// The same with the numbers as texts; an order text longer than 5 characters takes the long form.
int32_t SetExtraDocData2(FPContext* ctx, const char* order, const char* a, const char* b, const char* text);
int32_t SetExtraDocDataSaleUndo2(FPContext* ctx, const char* order, const char* a, const char* b,
                                 const char* text);
int32_t StopExtraTextLines(FPContext* ctx);

// Items: tax group 0..5, quantity in thousandths, price in kopecks (a negative price is a negative
// item), department, name; the position's fiscal tags follow when it is given. A price past
// kMaxExtendedPrice gives 39; a command longer than the link takes gives 5; neither sends anything.
int32_t SaleItemEx2(FPContext* ctx, int taxGroup, int32_t quantity, int64_t price, int department,
                    const char* name, const CheckPosition* position);
int32_t ReturnItemEx(FPContext* ctx, int taxGroup, int32_t quantity, int64_t price, int department,
                     const char* name, const CheckPosition* position);
// A discount (amount > 0) or markup line of |amount| kopecks; the text is usually 0x7F alone.
int32_t AbsoluteCorrectionText(FPContext* ctx, int32_t amount, const char* text);

// The base of a correction receipt, sent after its items: the name of the base document and its
// number (texts, recoded), and the correction's type (0 by the register's own decision, 1 by order)
// with the base document's date as DDMMYY.
int32_t SetCorrectionBaseName(FPContext* ctx, const char* name);
int32_t SetCorrectionBaseNumber(FPContext* ctx, const char* number);
int32_t SetCorrectionBaseDate(FPContext* ctx, int type, const char* date);

// Receipt attribute 0 or 3..21. An empty text leaves 13 in
// nLastResult and returns 0; an attribute above 21 leaves 13 and returns -5.
int32_t SetTextAttribute(FPContext* ctx, int attribute, const char* text);
// Fiscal tag `tag` with a text (at most 256 characters) or binary value (at most 128 bytes);
// `length` < 0 takes a text's whole length.
int32_t SetTagData(FPContext* ctx, int tag, const char* data, bool isText, bool modeFlag, int length);
// A registration attribute; a tag up to 1000 sends the bare "Sum". An unusable value leaves 13 in
// nLastResult and returns 0.
int32_t SetRegAttribute(FPContext* ctx, int tag, bool isText, int printFlag, const char* data, int length);

// The number of the fiscal drive's last document and the printer's session number, through the
// out-parameters. A failed drive status gives its negative link code (also in nLastResult); a
// failed "Sf" query leaves its positive code in nLastResult and returns it, the session number read
// from the record as it stands.
int32_t GetCheckAndSession(FPContext* ctx, uint32_t* documentNumber, int32_t* sessionNumber);
