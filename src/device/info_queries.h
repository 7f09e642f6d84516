// The information queries: each sends one query text, reads the record the printer answers with
// into its buffer (info_records.h) and checks its kind. ReadInfo... returns 0 when the expected
// record arrived (or the printer only acknowledged), the link failure, NAK or status result as it
// came, and -5 for any other record. GetBasic...Info returns the same as a driver result code and
// stores it in nLastResult.
#pragma once

#include <cstdint>

#include "device/fp_context.h"

int ReadInfo1(FPContext* ctx);   // "S1": clerk, shift, counters, identity
int ReadInfo3(FPContext* ctx);   // "S3": tax rates and device flags
int ReadInfo31(FPContext* ctx);  // "S31" marker of the printers that have it
int ReadInfoSe(FPContext* ctx);  // the extended status as a record
int ReadInfoSI(FPContext* ctx);  // the open document's amounts and state
int ReadInfoSf(FPContext* ctx);  // the shift's totals
int ReadInfoSfm(FPContext* ctx);
int ReadInfoSg(FPContext* ctx);
int ReadInfoSh(FPContext* ctx);
int ReadInfoSi(FPContext* ctx);
int ReadInfoNZ1(FPContext* ctx);
int ReadInfoR(FPContext* ctx);
int ReadInfoSBraceLL(FPContext* ctx);
int ReadInfoSBraceO(FPContext* ctx);
int ReadInfoSBraceAmp0(FPContext* ctx);  // other models
// "SF00000/": the firmware subversion into nFpSubversion; the transaction's result as it is.
int ReadInfoSF0000(FPContext* ctx);

int32_t GetBasicInfo(FPContext* ctx);
int32_t GetBasicS3Info(FPContext* ctx);
// The S3 record once per host call: read unless this call has read it already and programmed no
// flag since (bS3ReadInCall); the result of the read, or 0 for the copy.
int32_t ReadS3InCall(FPContext* ctx);
// A host call begins: records read in an earlier call are not taken for this one's.
void StartHostCall(FPContext* ctx);
// The benchmark's comparison with the driver before it kept the copy: every use reads S3 again.
void SetS3ReadEveryUse(bool bEveryUse);
int32_t GetBasicS31Info(FPContext* ctx);
int32_t GetBasicSeInfo(FPContext* ctx);
int32_t GetBasicSIInfo(FPContext* ctx);
int32_t GetBasicSfInfo(FPContext* ctx);
int32_t GetBasicSfmInfo(FPContext* ctx);
int32_t GetBasicSgInfo(FPContext* ctx);
int32_t GetBasicShInfo(FPContext* ctx);
int32_t GetBasicSiInfo(FPContext* ctx);
int32_t GetBasicSNZ1Info(FPContext* ctx);
int32_t GetBasicSRInfo(FPContext* ctx);
int32_t GetBasicSBraceLLInfo(FPContext* ctx);
int32_t GetBasicSBraceOInfo(FPContext* ctx);
int32_t GetBasicSBraceAmpInfo(FPContext* ctx);  // other models

// Other models: receipt header line `line` ("SK" and the number) into infoSK, which is cleared
// first. A driver result code, also stored in nLastResult.
int32_t GetHeaderLine(FPContext* ctx, int line);
