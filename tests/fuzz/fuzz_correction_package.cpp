// The host's CheckCorrectionPackage as ProcessCorrectionCheck reads it before the printer is asked
// anything: the package's shape, its CorrectionData (base, kinds, VAT amounts and payments, on a
// fiscal drive registered for every tax system) and the gross items the VAT amounts become,
// balanced against the sum.
#include <tinyxml.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "device/fp_context.h"
#include "receipts/check_package.h"
#include "receipts/correction_package.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string xml(reinterpret_cast<const char*>(data), size);
  TiXmlDocument document;
  XmlFault fault;
  if (!ParseHostXml(&document, xml.c_str(), &fault)) return 0;
  std::string message;
  if (CheckCorrectionPackage(&document, &message) != 0) return 0;

  FPContext ctx;
  ctx.nFdTaxSystems = 0x3f;
  const TiXmlElement* root = document.FirstChildElement("CheckCorrectionPackage");
  CorrectionData correction;
  if (ReadCorrectionData(&ctx, root->FirstChildElement("Parameters"), root->FirstChildElement("Payments"),
                         &correction, &message) != 0) {
    return 0;
  }
  TaxEntry entries[kCorrectionTaxEntries];
  BuildTaxTable(correction, entries);
  BalanceCorrectionSums(entries, correction.nSum, correction.nCash);
  return 0;
}
