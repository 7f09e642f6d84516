// The host's InputParameters package of the shift methods, read with both cashier-name limits.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/device_on_memory_line.h"
#include "shift/shift_documents.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string xml(reinterpret_cast<const char*>(data), size);
  DeviceOnMemoryLine device({});
  for (int kind : {1, 2}) {
    device.ctx.nContextKind = kind;
    char clerkName[65] = {};
    char vatin[13] = {};
    std::string error;
    ParseInputParameters(&device.ctx, nullptr, xml.c_str(), clerkName, sizeof clerkName, vatin, &error);
  }
  return 0;
}
