// The host's ParametersFiscal package of OperationFN as the driver reads it before it asks the
// printer anything: strictly for a registration or a change of its parameters, and for the closing
// of the fiscal drive, which needs only the cashier.
#include <tinyxml.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "device/fp_context.h"
#include "receipts/check_package.h"
#include "shift/fiscal_documents.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string xml(reinterpret_cast<const char*>(data), size);
  TiXmlDocument document;
  XmlFault fault;
  if (!ParseHostXml(&document, xml.c_str(), &fault)) return 0;
  FPContext ctx;
  for (bool strict : {true, false}) {
    FnRegistrationData registration;
    std::string error;
    ParseRegistrationData(&ctx, &document, &registration, &error, strict);
  }
  return 0;
}
