// What the register does besides selling: a non-fiscal document of text lines and barcodes, cash
// put into the drawer or taken out of it as a cash document, and the drawer opened on its own.
// Each asks the printer and its fiscal drive for the shift first, as a receipt does.
#include <tinyxml.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "device/clerks.h"
#include "device/fiscal_drive.h"
#include "device/info_queries.h"
#include "device/info_records.h"
#include "device/link.h"
#include "device/print_commands.h"
#include "device/receipt_commands.h"
#include "device/result_codes.h"
#include "device/status.h"
#include "device/text_field.h"
#include "driver/mirel_driver.h"
#include "receipts/check_package.h"
#include "receipts/document_types.h"
#include "receipts/fiscal_lines.h"

namespace {

constexpr char kTextDocument[] = "PrintTextDocument";
constexpr char kCashInOutcome[] = "OdinS_CashInOutcome";
constexpr char kOpenCashDrawer[] = "OdinS_OpenCashDrawer";

constexpr int kCashPayment = 8;
constexpr int kSection = 1;
constexpr int kClerk = 1;
constexpr size_t kVatinSize = 13;
constexpr size_t kClerkNameLength = 64;
constexpr char kNoClerkLoggedOn[] = "00";

enum TextDocumentCode : int32_t {
  kCodeShiftClosed = 115,
  kCodeBadTextDocument = 122,
};

// The driver code of a failed request or command: the link result mapped, and never 0, so that a
// False is always explained to the host.
int32_t FailureCode(const FPContext* ctx, int linkResult) {
  const int32_t code = MapLinkResult(ctx, linkResult);
  return code != kResultOk ? code : kResultInternal;
}

bool IsElement(const TiXmlElement* element, const char* name) {
  return std::strcmp(element->Value(), name) == 0;
}

}  // namespace

// The return line of a method; a False always leaves a code for GetLastError.
bool CMirelDriver::FinishExplained(const char* szName, bool bResult) {
  if (!bResult && m_pDevice->nLastResult == kResultOk) m_pDevice->nLastResult = kResultInternal;
  return FinishH(szName, bResult);
}

// ---- Text document ----

bool CMirelDriver::PrintTextDocument(const char* szDeviceID, const char* szDocumentPackage) {
  LogEnterH(kTextDocument);
  const bool printed = PrintTextPackage(szDeviceID, szDocumentPackage);
  return FinishExplained(kTextDocument, printed);
}

// The package is read before the printer is asked anything: a package that is no text document is
// refused at once, whatever state the printer is in.
bool CMirelDriver::PrintTextPackage(const char* szDeviceID, const char* szDocumentPackage) {
  FPContext* ctx = m_pDevice.get();
  TiXmlDocument document;
  XmlFault fault;
  if (!ParseHostXml(&document, szDocumentPackage, &fault)) {
    LogMessageHf(kTextDocument, "Error in tag \"%s\" of text document XML: %s", document.Value(),
                 fault.description.c_str());
    ctx->nLastResult = kCodeBadTextDocument;
    return false;
  }
  const TiXmlElement* root = document.FirstChildElement("Document");
  const TiXmlElement* positions = root ? root->FirstChildElement("Positions") : nullptr;
  if (!positions)
    return FailH(kTextDocument, "Text document failure. Printing canceled.", kCodeBadTextDocument);
  const int status2 = GetStatus2(ctx);
  if (status2 != kAnswerStatus2)
    return FailH(kTextDocument, "Status2 not received", FailureCode(ctx, status2));
  if (!(ctx->status2[0] & st::kShiftOpen)) return FailH(kTextDocument, "Session is closed", kCodeShiftClosed);
  const int status = GetStatus(ctx, true);
  if (status < 0) return FailH(kTextDocument, "GetStatus error", -status);
  if (!IsPrinterReady(kTextDocument)) return false;
  if (GetDocInfo(doc::kInfoDocumentOpen) != 0) {
    LogMessageH(kTextDocument, "There is an open document. It is necessary to cancel it");
    CancelCheck(szDeviceID);
  }
  const LONG clerk = SetClerk(ctx->szClerkName);
  if (clerk != kResultOk) {
    ctx->nLastResult = clerk;
    return false;
  }
  m_nDocumentType = doc::kNonFiscal;
  if (!PrintTextPositions(positions)) return false;
  m_nDocumentType = 0;
  return true;
}

// The TextString and Barcode elements in document order, then the blank final line that ends the
// document when anything was printed. A failure leaves what was printed as it is.
bool CMirelDriver::PrintTextPositions(const TiXmlElement* positions) {
  FPContext* ctx = m_pDevice.get();
  int printable = 0;
  for (const TiXmlElement* e = positions->FirstChildElement(); e; e = e->NextSiblingElement()) {
    if (IsElement(e, "TextString")) {
      ++printable;
      if (!PrintTextString(e)) return false;
    } else if (IsElement(e, "Barcode")) {
      ++printable;
      if (!PrintTextBarcode(e, &printable)) return false;
    }
  }
  if (printable < 1) return true;
  return PrintLine(ctx, " ", true, false) == kResultOk;
}

// One text over as many lines as it needs; an empty text is one blank line.
bool CMirelDriver::PrintTextString(const TiXmlElement* element) {
  FPContext* ctx = m_pDevice.get();
  const std::optional<std::string> text = GetXmlAttr(element, "Text");
  if (!text) return true;
  const std::string whole = text->empty() ? std::string(" ") : *text;
  // A line width the printer never reported still moves the text on.
  const size_t width = ctx->nLineWidth > 0 ? static_cast<size_t>(ctx->nLineWidth) : whole.size();
  for (size_t at = 0; at < whole.size(); at += width) {
    if (PrintLine(ctx, whole.substr(at, width).c_str(), false, false) != kResultOk) return false;
  }
  return true;
}

// A barcode without data is passed over but counts; one of a kind the printer does not print does
// not count. A refused barcode is reported with the printer's code for it: the command's raw answer
// kind (2 for a status) would read as "printer absent".
bool CMirelDriver::PrintTextBarcode(const TiXmlElement* element, int* pnPrintable) {
  FPContext* ctx = m_pDevice.get();
  const std::optional<std::string> data = GetXmlAttr(element, "Barcode");
  if (!data || data->empty()) return true;
  const std::optional<std::string> type = GetXmlAttr(element, "BarcodeType");
  const BarcodeKind kind = BarcodeKindOf(type ? type->c_str() : nullptr);
  if (kind == kBarcodeNone) {
    --*pnPrintable;
    return true;
  }
  const int32_t r = SendBarcode(kind, data->c_str(), false);
  if (r == kResultOk) return true;
  ctx->nLastResult = FailureCode(ctx, r);
  return false;
}

// ---- Cash in and out ----

bool CMirelDriver::CashInOutcome(const char* szDeviceID, const char* szInputParameters, double dAmount) {
  LogEnterH(kCashInOutcome);
  const bool moved = MoveDrawerCash(szDeviceID, szInputParameters, dAmount);
  return FinishExplained(kCashInOutcome, moved);
}

bool CMirelDriver::MoveDrawerCash(const char* szDeviceID, const char* szInputParameters, double dAmount) {
  FPContext* ctx = m_pDevice.get();
  char vatin[kVatinSize] = {};
  if (!TakeInputParameters(kCashInOutcome, szInputParameters, vatin)) return false;
  // The host's amount is judged before it becomes kopecks: a NaN or an infinity has none, and an
  // amount past the payment field would be cut.
  if (!std::isfinite(dAmount))
    return FailH(kCashInOutcome, "The amount is not a finite number", kResultBadInput);
  const bool cashOut = dAmount < 0;
  const double amount = std::fabs(dAmount);
  int64_t kopecks = 0;
  if (!KopecksWithin(amount, kMaxPayment, &kopecks))
    return FailH(kCashInOutcome, "Type of payment value error", kCodePaymentTooLarge);
  // A cash document of no money would only print a slip and count a document.
  if (kopecks == 0) return FailH(kCashInOutcome, "The amount is zero", kResultBadInput);
  const int r = GetStatusFiscalDrive(ctx);
  if (r < 0) return FailH(kCashInOutcome, "Printer does not respond", -r);
  if (!IsShiftUsable(kCashInOutcome)) return false;

  LogMessageH(kCashInOutcome, "StartDocument");
  if (!m_szClerkName[0]) CopyText(m_szClerkName, ctx->szClerkName);
  ctx->nLastResult = StartDocument(cashOut ? doc::kCashOut : doc::kCashIn, kSection, 0, m_szClerkName);
  if (ctx->nLastResult != kResultOk) return false;
  ProgramClerkINN(ctx, kClerk, vatin);
  LogMessageH(kCashInOutcome, "Tender2");
  ctx->nLastResult = Tender2(static_cast<double>(kopecks), kCashPayment, "", "");
  if (ctx->nLastResult != kResultOk) return SettleFailedCashMove(szDeviceID, cashOut, amount);
  LogMessageH(kCashInOutcome, "EndDocument");
  LogMessageH(kCashInOutcome, "Exit");
  return true;
}

// The printer refused the cash document: it is cancelled and ended, and the host learns why it was
// refused. A cash out the printer refused as a wrong value is explained by the drawer when it holds
// less; a cash in never is, since it takes nothing from the drawer.
bool CMirelDriver::SettleFailedCashMove(const char* szDeviceID, bool bCashOut, double dAmount) {
  FPContext* ctx = m_pDevice.get();
  if (bCashOut && ctx->nLastResult == kCodeWrongValue)
    ctx->nLastResult = TestCashOut(dAmount, kCodeWrongValue);
  const SavedResult saved = SaveResult();
  CancelCheck(szDeviceID);
  if (ctx->nLastResult == kResultOk) {
    ctx->nLastResult = EndDocument();
    if (ctx->nLastResult == kResultOk) RestoreResult(saved);
  }
  return false;
}

// ---- Drawer ----

bool CMirelDriver::OpenCashDrawer(const char*) {
  LogEnterH(kOpenCashDrawer);
  const bool opened = OpenDrawerForClerk();
  return FinishExplained(kOpenCashDrawer, opened);
}

// The drawer opens only for a logged-on cashier: one is logged on first when the printer has none.
bool CMirelDriver::OpenDrawerForClerk() {
  FPContext* ctx = m_pDevice.get();
  ctx->nDeviceError = 0;
  const int status2 = GetStatus2(ctx);
  if (status2 != kAnswerStatus2)
    return FailH(kOpenCashDrawer, "Error receiving status2", FailureCode(ctx, status2));
  const int r = GetStatusFiscalDrive(ctx);
  if (r < 0) return FailH(kOpenCashDrawer, "Printer does not respond", -r);
  GetStatus(ctx, true);
  if (!ctx->FdStatus.bFdShiftOpen) return FailH(kOpenCashDrawer, "Session is closed", kCodeShiftClosed);
  if (!(ctx->status2[0] & st::kShiftOpen)) {
    const int posId = ctx->anClerkSecrets[0] > 0 ? ctx->anClerkSecrets[0] : 1;
    if (SafeOpenFP2(ctx, posId, kClerk, m_szClerkName, 0, "") != kResultOk)
      return FailH(kOpenCashDrawer, "Error calling SafeOpenFP", ctx->nLastResult);
  }
  ctx->nLastResult = GetBasicInfo(ctx);
  if (ctx->nLastResult != kResultOk)
    return FailH(kOpenCashDrawer, "Error receiving S1 Info", ctx->nLastResult);
  char loggedOn[sizeof kNoClerkLoggedOn];
  S1Text(ctx, S1Field::kClerk, loggedOn, sizeof loggedOn);
  if (std::strcmp(loggedOn, kNoClerkLoggedOn) == 0) {
    if (!m_szClerkName[0]) CopyText(m_szClerkName, ctx->szClerkName, kClerkNameLength);
    const LONG code = SetClerk(m_szClerkName);
    if (code != kResultOk) return FailH(kOpenCashDrawer, "Error calling SetClerk", code);
  }
  ctx->nLastResult = OpenDrawer();
  return ctx->nLastResult == kResultOk;
}
