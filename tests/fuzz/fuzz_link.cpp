// The printer's answers to the link: whatever comes back to a command, a status request or a
// record query goes through the reception of frames, the status and record decoders and the
// registration-data decoders. The first byte picks what the driver asks, the second the firmware
// version it believes it talks to (the record and status layouts depend on it); the rest are the
// printer's answers, one piece for each thing the driver writes.
#include <cstddef>
#include <cstdint>

#include "device/bringup.h"
#include "device/info_queries.h"
#include "device/info_records.h"
#include "device/link.h"
#include "device/reg_data.h"
#include "device/status.h"
#include "fuzz/device_on_memory_line.h"

namespace {

using Ask = void (*)(FPContext* ctx);

const Ask kAsks[] = {
    [](FPContext* ctx) { ExecTransaction(ctx, "S1", 110, true, false); },
    [](FPContext* ctx) { ExecTransaction(ctx, "e", 110, true, true); },
    [](FPContext* ctx) { StdTransaction(ctx, "e", 110, true, false); },
    [](FPContext* ctx) { GetStatus(ctx, true); },
    [](FPContext* ctx) { GetStatus2(ctx); },
    [](FPContext* ctx) { GetStatusT(ctx); },
    [](FPContext* ctx) { GetBasicInfo(ctx); },
    [](FPContext* ctx) { GetBasicS3Info(ctx); },
    [](FPContext* ctx) { GetBasicSeInfo(ctx); },
    [](FPContext* ctx) { GetBasicSIInfo(ctx); },
    [](FPContext* ctx) { GetBasicSfInfo(ctx); },
    [](FPContext* ctx) { GetBasicSgInfo(ctx); },
    [](FPContext* ctx) { GetBasicShInfo(ctx); },
    [](FPContext* ctx) { GetBasicSiInfo(ctx); },
    [](FPContext* ctx) { GetBasicSBraceLLInfo(ctx); },
    [](FPContext* ctx) { GetBasicSBraceOInfo(ctx); },
    [](FPContext* ctx) { ReadInfoSF0000(ctx); },
    [](FPContext* ctx) { GetRegData(ctx, true); },
    [](FPContext* ctx) { GetAutomatNum(ctx); },
    [](FPContext* ctx) { GetRegData2AInfo(ctx, '2'); },
    [](FPContext* ctx) { GetRegData2AInfo(ctx, '5'); },
    [](FPContext* ctx) { GetRegDataMinusInfo(ctx, 1060); },
    [](FPContext* ctx) { GetRegSBraceFlags(ctx); },
    [](FPContext* ctx) { FixDeviceVersion(ctx); },
    [](FPContext* ctx) { InitFP2(ctx, 1, "472913", 6, nullptr); },
};

struct Version {
  int major;
  int minor;
};
// The supported model first; then layouts of the other firmware that the decoders tell apart.
const Version kVersions[] = {{11, 1}, {3, 1}, {5, 0}, {9, 0}, {10, 2}, {12, 0}, {2, 0}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const Ask ask = kAsks[data[0] % (sizeof kAsks / sizeof kAsks[0])];
  const Version& version = kVersions[data[1] % (sizeof kVersions / sizeof kVersions[0])];
  DeviceOnMemoryLine device(memline::SplitPieces(data + 2, size - 2), version.major, version.minor);
  ask(&device.ctx);
  return 0;
}
