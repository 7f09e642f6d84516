// The three small documents of the shift methods: the host's InputParameters (the cashier), and
// the OutputParameters and StatusParameters the driver returns (the fiscal drive's warnings, the
// documents waiting for the OFD and the shift's counts).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "device/fp_context.h"

class TiXmlDocument;

// Reads "InputParameters"/"Parameters" from UTF-8 `xml` with `document` (a local one when null):
// "CashierName" into `clerkName` (at most 35 characters with nContextKind 2, 25 otherwise) and,
// when `vatin` is given (13 bytes), "CashierVATIN" when it has exactly 10 or 12 characters (else
// `vatin` is left empty). False with nLastResult 133 (and nDeviceError 46 for a missing cashier)
// and the reason in `error`.
bool ParseInputParameters(FPContext* ctx, TiXmlDocument* document, const char* xml, char* clerkName,
                          size_t clerkNameSize, char* vatin, std::string* error);

// What goes into an OutputParameters document besides the warnings of the drive.
struct OutputExtras {
  bool backlog = false;  // the documents waiting for the OFD (FdExchange)
  bool counts = false;   // "NumberOfChecks" and "NumberOfDocuments"
  int32_t numberOfChecks = 0;
  int32_t numberOfDocuments = 0;
};

// The documents as printed by TinyXML (UTF-8); empty when they cannot be built.
std::string BuildOutputParameters(const FPContext* ctx, const OutputExtras& extras);
std::string BuildStatusParameters(const FPContext* ctx);
