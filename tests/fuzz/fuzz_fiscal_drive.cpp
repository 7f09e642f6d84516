// The fiscal drive's answers, which the printer frames with lengths of their own: the status, the
// exchange status and the tax systems, the OFD exchange commands the relay uses, the drive's status
// text and the fiscal sign read from a reprint's echo. The first byte picks the command; the rest
// are the printer's answers, one piece for each thing the driver writes.
#include <cstddef>
#include <cstdint>

#include "device/fiscal_drive.h"
#include "fuzz/device_on_memory_line.h"

namespace {

using Ask = void (*)(FPContext* ctx);

const Ask kAsks[] = {
    [](FPContext* ctx) { GetStatusFiscalDrive(ctx); },
    [](FPContext* ctx) { GetStatusInfoFiscalDrive(ctx); },
    [](FPContext* ctx) { GetTaxVariant(ctx); },
    [](FPContext* ctx) {
      uint32_t code = 0;
      ExecSuG(ctx, true, &code);
    },
    [](FPContext* ctx) {
      uint32_t code = 0;
      ExecSuJ(ctx, &code);
    },
    [](FPContext* ctx) {
      uint32_t length = 0, code = 0;
      ExecSuH(ctx, &length, &code);
    },
    // As the relay reads a message: a full block from the start, and a short one at an offset.
    [](FPContext* ctx) {
      uint8_t block[200];
      int count = 0;
      uint32_t code = 0;
      ExecSuI(ctx, block, sizeof block, 0, &count, &code, nullptr, nullptr);
    },
    [](FPContext* ctx) {
      uint8_t block[17];
      char raw[64];
      int rawSize = sizeof raw;
      int count = 0;
      uint32_t code = 0;
      ExecSuI(ctx, block, sizeof block, 400, &count, &code, raw, &rawSize);
    },
    [](FPContext* ctx) {
      uint32_t code = 0;
      ExecSuK(ctx, &code);
    },
    [](FPContext* ctx) {
      static const uint8_t kTicket[] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};
      uint32_t reason = 0;
      ExecSuL(ctx, kTicket, sizeof kTicket, &reason);
    },
    [](FPContext* ctx) {
      char text[601] = {};
      ExecSu5(ctx, text, sizeof text - 1);
    },
    [](FPContext* ctx) {
      char sign[11] = {};
      GetFiscalP(ctx, 17, sign);
    },
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const Ask ask = kAsks[data[0] % (sizeof kAsks / sizeof kAsks[0])];
  DeviceOnMemoryLine device(memline::SplitPieces(data + 1, size - 1));
  ask(&device.ctx);
  return 0;
}
