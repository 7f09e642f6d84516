// The host's text-document package of PrintTextDocument, read while it prints: as the host's call
// does, the driver first brings the printer out of any error, then asks for the shift, its state
// and the cashier, and prints each TextString over as many lines as it needs and each Barcode by
// its kind. The printer's answers were recorded from the virtual printer printing a long document
// (text_document.script); a document that asks for more finds the printer silent, and ends there
// as it would on a till.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz/device_on_memory_line.h"

namespace {

std::vector<std::string> g_printing;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_printing = RecordedPieces("text_document.script");
  return g_printing.empty() ? 1 : 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string xml(reinterpret_cast<const char*>(data), size);
  DriverOnMemoryLine line(g_printing);
  std::snprintf(line.ctx->szClerkName, sizeof line.ctx->szClerkName, "%s", "Ivanova");
  line.driver->PrepareOperation();
  line.driver->PrintTextDocument("1", xml.c_str());
  return 0;
}
