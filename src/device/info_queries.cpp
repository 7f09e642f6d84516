#include "device/info_queries.h"

#include <cstdio>
#include <cstring>

#include "device/device_log.h"
#include "device/info_records.h"
#include "device/link.h"
#include "device/status.h"

namespace {

// Queries are read at once: the printer answers them without a working pause.
constexpr int kNoPause = -3;
// Results below this are link failures, ACK, NAK or a status: passed on as they are.
constexpr int kFirstRecordKind = 3;

struct InfoQuery {
  const char* name;
  const char* text;
  int kind;
};

const InfoQuery kInfo1 = {"ReadInfo1", "S1", kRecordS1};
const InfoQuery kInfo3 = {"ReadInfo3", "S3", kRecordS3};
const InfoQuery kInfoSe = {"ReadInfoSe", "Se", kRecordSe};
const InfoQuery kInfoSI = {"ReadInfoSI", "SI", kRecordSI};
const InfoQuery kInfoSf = {"ReadInfoSf", "Sf", kRecordSf};
const InfoQuery kInfoSfm = {"ReadInfoSfm", "Sfm", kRecordSf};
const InfoQuery kInfoSg = {"ReadInfoSg", "Sg", kRecordSg};
const InfoQuery kInfoSh = {"ReadInfoSh", "Sh", kRecordSh};
const InfoQuery kInfoSi = {"ReadInfoSi", "Si", kRecordSi};
const InfoQuery kInfoNZ1 = {"ReadInfoNZ1", "SNZ1", kRecordSNZ1};
const InfoQuery kInfoR = {"ReadInfoR", "SR", kRecordSR};
const InfoQuery kInfoSBraceLL = {"ReadInfoSBraceLL", "S{LL", kRecordSBraceLL};
const InfoQuery kInfoSBraceO = {"ReadInfoSBraceO", "S{O", kRecordSBraceO};
const InfoQuery kInfoSBraceAmp0 = {"ReadInfoSBraceAmp0", "S{&0", kRecordSBraceAmp};

// The expected record as 0; link failures, ACK, NAK and status as they came; any other record -5.
int QueryResult(int r, int kind) {
  return r == kind ? 0 : r < kFirstRecordKind ? r : kLinkProtocolError;
}

int ReadInfo(FPContext* ctx, const InfoQuery& q) {
  LogEnter(ctx, q.name);
  return LogReturn(ctx, q.name, QueryResult(ExecTransaction(ctx, q.text, kNoPause, true, false), q.kind));
}

bool g_bS3ReadEveryUse = false;

int32_t GetBasic(FPContext* ctx, const char* name, int (*read)(FPContext*)) {
  LogEnter(ctx, name);
  ctx->nLastResult = MapLinkResult(ctx, read(ctx));
  return LogReturn(ctx, name, ctx->nLastResult);
}

}  // namespace

int ReadInfo1(FPContext* ctx) {
  return ReadInfo(ctx, kInfo1);
}
int ReadInfo3(FPContext* ctx) {
  return ReadInfo(ctx, kInfo3);
}

// The supported printer takes the plain query; the others want it padded to their command length.
int ReadInfo31(FPContext* ctx) {
  const bool plain = ctx->nVersionMajor == 11 && ctx->nVersionMinor == 1;
  return ReadInfo(ctx, {"ReadInfo31", plain ? "S3" : "S3               ", kRecordS31});
}

int ReadInfoSe(FPContext* ctx) {
  return ReadInfo(ctx, kInfoSe);
}
int ReadInfoSI(FPContext* ctx) {
  return ReadInfo(ctx, kInfoSI);
}
int ReadInfoSf(FPContext* ctx) {
  return ReadInfo(ctx, kInfoSf);
}
int ReadInfoSfm(FPContext* ctx) {
  return ReadInfo(ctx, kInfoSfm);
}
int ReadInfoSg(FPContext* ctx) {
  return ReadInfo(ctx, kInfoSg);
}
int ReadInfoSh(FPContext* ctx) {
  return ReadInfo(ctx, kInfoSh);
}
int ReadInfoSi(FPContext* ctx) {
  return ReadInfo(ctx, kInfoSi);
}
int ReadInfoNZ1(FPContext* ctx) {
  return ReadInfo(ctx, kInfoNZ1);
}
int ReadInfoR(FPContext* ctx) {
  return ReadInfo(ctx, kInfoR);
}
int ReadInfoSBraceLL(FPContext* ctx) {
  return ReadInfo(ctx, kInfoSBraceLL);
}
int ReadInfoSBraceO(FPContext* ctx) {
  return ReadInfo(ctx, kInfoSBraceO);
}
int ReadInfoSBraceAmp0(FPContext* ctx) {
  return ReadInfo(ctx, kInfoSBraceAmp0);
}

int ReadInfoSF0000(FPContext* ctx) {
  LogEnter(ctx, "ReadInfoSF0000");
  return LogReturn(ctx, "ReadInfoSF0000", ExecTransaction(ctx, "SF00000/", kNoPause, true, false));
}

int32_t GetBasicInfo(FPContext* ctx) {
  return GetBasic(ctx, "GetBasicInfo", ReadInfo1);
}
// A read that failed leaves no copy to go on with: whatever the record held before may be out of
// date, so the next use reads it again.
int32_t GetBasicS3Info(FPContext* ctx) {
  const int32_t r = GetBasic(ctx, "GetBasicS3Info", ReadInfo3);
  if (r != 0) {
    ctx->bDeviceFlagsValid = 0;
    ctx->bS3ReadInCall = 0;
  }
  return r;
}

// Within one host call the rates and flags change only when the driver programs a flag, which
// forgets the copy; reading the record again before every item only costs line time.
int32_t ReadS3InCall(FPContext* ctx) {
  if (ctx->bS3ReadInCall && !g_bS3ReadEveryUse) return 0;
  return GetBasicS3Info(ctx);
}

void StartHostCall(FPContext* ctx) {
  ctx->bS3ReadInCall = 0;
}

void SetS3ReadEveryUse(bool bEveryUse) {
  g_bS3ReadEveryUse = bEveryUse;
}
int32_t GetBasicS31Info(FPContext* ctx) {
  return GetBasic(ctx, "GetBasicS31Info", ReadInfo31);
}
int32_t GetBasicSeInfo(FPContext* ctx) {
  return GetBasic(ctx, "GetBasicSeInfo", ReadInfoSe);
}
int32_t GetBasicSIInfo(FPContext* ctx) {
  return GetBasic(ctx, "GetBasicSIInfo", ReadInfoSI);
}
int32_t GetBasicSfInfo(FPContext* ctx) {
  return GetBasic(ctx, "GetBasicSfInfo", ReadInfoSf);
}
int32_t GetBasicSfmInfo(FPContext* ctx) {
  return GetBasic(ctx, "GetBasicSfmInfo", ReadInfoSfm);
}
int32_t GetBasicSgInfo(FPContext* ctx) {
  return GetBasic(ctx, "GetBasicSgInfo", ReadInfoSg);
}
int32_t GetBasicShInfo(FPContext* ctx) {
  return GetBasic(ctx, "GetBasicShInfo", ReadInfoSh);
}
int32_t GetBasicSiInfo(FPContext* ctx) {
  return GetBasic(ctx, "GetBasicSiInfo", ReadInfoSi);
}
int32_t GetBasicSNZ1Info(FPContext* ctx) {
  return GetBasic(ctx, "GetBasicSNZ1Info", ReadInfoNZ1);
}
int32_t GetBasicSRInfo(FPContext* ctx) {
  return GetBasic(ctx, "GetBasicSRInfo", ReadInfoR);
}
int32_t GetBasicSBraceLLInfo(FPContext* ctx) {
  return GetBasic(ctx, "GetBasicSBraceLLInfo", ReadInfoSBraceLL);
}
int32_t GetBasicSBraceOInfo(FPContext* ctx) {
  return GetBasic(ctx, "GetBasicSBraceOInfo", ReadInfoSBraceO);
}
int32_t GetBasicSBraceAmpInfo(FPContext* ctx) {
  return GetBasic(ctx, "GetBasicSBraceAmpInfo", ReadInfoSBraceAmp0);
}

int32_t GetHeaderLine(FPContext* ctx, int line) {
  LogEnter(ctx, "GetHeaderLine");
  memset(ctx->infoSK, 0, sizeof ctx->infoSK);
  char text[16];
  snprintf(text, sizeof text, "SK%d", line);
  const int r = ExecTransaction(ctx, text, kNoPause, true, false);
  ctx->nLastResult = MapLinkResult(ctx, QueryResult(r, kRecordSK));
  return LogReturn(ctx, "GetHeaderLine", ctx->nLastResult);
}
