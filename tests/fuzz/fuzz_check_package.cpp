// The host's CheckPackage as ProcessCheck reads it before and while it prints: the pre-check of
// every item against the printer's tax rates, the receipt's parameters and payments, the whole
// package's validation, and each FiscalString and Barcode of Positions.
#include <tinyxml.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/device_on_memory_line.h"
#include "receipts/check_package.h"
#include "receipts/check_validation.h"

namespace {

// The printer's "S3" record with the rates 20 % and 10 %, as the virtual printer sends it.
std::string TaxRatesRecord() {
  return Frame("S32000\n1000\n0000\n0000\n000001008" + std::string(35, '0') + "\n");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string xml(reinterpret_cast<const char*>(data), size);
  TiXmlDocument document;
  XmlFault fault;
  if (!ParseHostXml(&document, xml.c_str(), &fault)) return 0;

  DeviceOnMemoryLine device({TaxRatesRecord()});
  FPContext* ctx = &device.ctx;
  TestCheckXML(ctx, &document);
  CheckParameters params;
  std::string message;
  if (ParseCheckParameters(ctx, &document, &params, &message) == 0) {
    std::string detail;
    ValidateCheckPackage(ctx, &document, params, size % 2 == 0, &message, &detail);
  }

  const TiXmlElement* package = document.FirstChildElement("CheckPackage");
  const TiXmlElement* positions = package ? package->FirstChildElement("Positions") : nullptr;
  if (!positions) return 0;
  for (const TiXmlElement* e = positions->FirstChildElement(); e; e = e->NextSiblingElement()) {
    if (std::strcmp(e->Value(), "FiscalString") == 0) {
      CheckPosition position;
      ParseFiscalString(ctx, e, &position, &message);
    } else if (std::strcmp(e->Value(), "Barcode") == 0) {
      CheckBarcode barcode;
      ParseBarcode(e, &barcode, &message);
    }
  }
  return 0;
}
