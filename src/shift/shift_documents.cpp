#include "shift/shift_documents.h"

#include <tinyxml.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "device/result_codes.h"
#include "device/text_field.h"
#include "receipts/check_package.h"

namespace {

constexpr int32_t kDeviceErrorNoCashier = 46;
constexpr size_t kClerkNameWide = 35;  // nContextKind 2
constexpr size_t kClerkNameNarrow = 25;
constexpr size_t kVatinShort = 10;
constexpr size_t kVatinLong = 12;
constexpr size_t kVatinSize = 13;

constexpr const char kOutputTemplate[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><OutputParameters></OutputParameters>";
constexpr const char kStatusTemplate[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><StatusParameters></StatusParameters>";

// The fiscal drive's warning bits as the host names them, bit 0 first.
constexpr const char* kWarnings[] = {"UrgentReplacementFN", "ResourcesExhaustionFN", "MemoryOverflowFN",
                                     "OFDtimeout"};

bool Fail(FPContext* ctx, std::string* error, const std::string& text) {
  ctx->nLastResult = kResultBadInput;
  if (error) *error = text;
  return false;
}

// The drive keeps a two-digit year: the current century is added. A value no calendar has gives
// nothing, so that no field is ever written wider than its digits.
bool FormatDriveDateTime(plat::Clock* clock, const uint8_t date[5], char* out, size_t size) {
  const bool valid = date[0] <= 99 && date[1] >= 1 && date[1] <= 12 && date[2] >= 1 && date[2] <= 31 &&
                     date[3] <= 23 && date[4] <= 59;
  if (!valid) return false;
  const int century = clock->LocalTime().year / 100 * 100;
  std::snprintf(out, size, "%4.4d-%2.2d-%2.2dT%2.2d:%2.2d:00", century + date[0], date[1], date[2], date[3],
                date[4]);
  return true;
}

void AddBacklog(const FPContext* ctx, TiXmlElement* parameters) {
  const FdExchangeRecord& x = ctx->FdExchange;
  parameters->SetAttribute("BacklogDocumentsCounter", x.nFdBacklogCount);
  if (x.nFdBacklogCount == 0) return;
  parameters->SetAttribute("BacklogDocumentFirstNumber", std::to_string(x.nFdBacklogFirstDoc).c_str());
  char date[24];
  if (FormatDriveDateTime(ctx->pClock, x.abFdBacklogFirstDate, date, sizeof date)) {
    parameters->SetAttribute("BacklogDocumentFirstDateTime", date);
  }
}

// Parses the template and hands its root with a new "Parameters" element to `fill`; the document
// as printed, or empty.
template <typename Fill>
std::string BuildDocument(const char* templateText, Fill fill) {
  TiXmlDocument document;
  document.Parse(templateText, nullptr, TIXML_ENCODING_UTF8);
  TiXmlElement* root = document.RootElement();
  if (document.Error() || !root) return {};
  TiXmlElement parameters("Parameters");
  fill(&parameters);
  root->InsertEndChild(parameters);
  TiXmlPrinter printer;
  document.Accept(&printer);
  return printer.Str();
}

}  // namespace

bool ParseInputParameters(FPContext* ctx, TiXmlDocument* document, const char* xml, char* clerkName,
                          size_t clerkNameSize, char* vatin, std::string* error) {
  std::unique_ptr<TiXmlDocument> local;
  if (!document) {
    local = std::make_unique<TiXmlDocument>();
    document = local.get();
  }
  XmlFault fault;
  if (!ParseHostXml(document, xml, &fault)) {
    char text[512];
    std::snprintf(text, sizeof text, "Error in row \"%d\" and column \"%d\" of check XML: %s", fault.row,
                  fault.column, fault.description.c_str());
    return Fail(ctx, error, text);
  }
  const TiXmlElement* root = document->RootElement();
  if (!root || std::strcmp(root->Value(), "InputParameters") != 0) {
    return Fail(ctx, error, "Input parameters failure. Printing canceled.");
  }
  const TiXmlElement* parameters = root->FirstChildElement("Parameters");
  if (!parameters) return Fail(ctx, error, "Tag \"Parameters\" is absent");
  const std::optional<std::string> name = GetXmlAttr(parameters, "CashierName");
  if (!name || name->empty()) {
    ctx->nDeviceError = kDeviceErrorNoCashier;
    return Fail(ctx, error, "Attribute \"Parameters\"->\"CashierName\" missing or empty");
  }
  const size_t limit = ctx->nContextKind == 2 ? kClerkNameWide : kClerkNameNarrow;
  CopyText(clerkName, clerkNameSize, name->c_str(), limit);
  if (vatin) {
    const std::optional<std::string> number = GetXmlAttr(parameters, "CashierVATIN");
    const bool taken = number && (number->size() == kVatinShort || number->size() == kVatinLong);
    CopyText(vatin, kVatinSize, taken ? number->c_str() : "");
  }
  return true;
}

std::string BuildOutputParameters(const FPContext* ctx, const OutputExtras& extras) {
  return BuildDocument(kOutputTemplate, [&](TiXmlElement* parameters) {
    for (size_t bit = 0; bit < sizeof kWarnings / sizeof kWarnings[0]; ++bit) {
      parameters->SetAttribute(kWarnings[bit], (ctx->nFdWarningFlags >> bit) & 1 ? "true" : "false");
    }
    if (extras.backlog) AddBacklog(ctx, parameters);
    if (extras.counts) {
      parameters->SetAttribute("NumberOfChecks", extras.numberOfChecks);
      parameters->SetAttribute("NumberOfDocuments", extras.numberOfDocuments);
    }
  });
}

std::string BuildStatusParameters(const FPContext* ctx) {
  return BuildDocument(kStatusTemplate, [&](TiXmlElement* parameters) { AddBacklog(ctx, parameters); });
}
