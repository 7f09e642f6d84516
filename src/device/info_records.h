// Information records: the data frames with which the printer answers its queries ("S1", "S3",
// "Sf", ...). Each is received into its own buffer in FPContext, checked (ETX and the check
// character where the record's length puts them), logged with its fields, acknowledged as its kind
// requires, and its values decoded into FPContext.
#pragma once

#include <cstddef>
#include <cstdint>

#include "device/fp_context.h"

// The answer kinds AcceptData returns for the records.
enum RecordKind : int {
  kRecordS1 = 3,
  kRecordS9 = 4,
  kRecordS2 = 6,
  kRecordS3 = 7,
  kRecordST = 8,
  kRecordVersion = 9,
  kRecordSe = 10,
  kRecordSI = 11,
  kRecordSf = 12,
  kRecordSg = 13,
  kRecordSh = 14,
  kRecordSi = 15,
  kRecord0215 = 17,
  kRecordSK = 18,
  kRecordSNZ1 = 19,
  kRecordSNZ2 = 20,
  kRecordSX = 21,
  kRecordSM = 22,
  kRecordSR = 23,
  kRecordSY = 24,
  kRecordSm = 25,
  kRecordS0 = 26,
  kRecordSW = 27,
  kRecordSc = 28,
  kRecordSC = 29,
  kRecordSAA = 31,
  kRecordS31 = 33,
  kRecordSbf = 34,
  kRecordSBraceAmp = 36,
  kRecordSBraceTilde = 37,
  kRecordSBraceLL = 38,
  kRecordSBraceO = 39,
};

// The decoder of every data frame that starts with "S", "0" (the fiscal-drive message and the
// frame headed "0215") or 0x95 (a version banner): it finds the record's layout by the header and
// receives the rest of the frame. -5 for a header no record has, a damaged frame or a record the
// device's version does not send.
int DecodeInfoRecord(FPContext* ctx, const uint8_t header[4], bool log);

// An amount field: six bytes as twelve nibble characters, a 48-bit two's-complement number of
// kopecks whose first two bytes are its high 16 bits and the next four its low 32 bits, low first.
int64_t DecodeAmount48(const char* field);

// Fields of the "S1" record, at their places in whichever form was received last.
// kFiscalDrive: the 16 characters after the clerk, where the supported model names its fiscal drive.
enum class S1Field { kClerk, kShift, kDocuments, kLastReceipt, kTaxpayer, kRegistration, kSerial, kFiscalDrive };
// The field's characters, trailing blanks kept, NUL-terminated and cut to outSize - 1.
void S1Text(const FPContext* ctx, S1Field field, char* out, size_t outSize);
// The field as a decimal number (0 when it holds anything but digits with blanks around them).
int64_t S1Number(const FPContext* ctx, S1Field field);

// The "Sf" / "Sg" records: the shift number, and amount 0..7 (7 is the cash in the drawer).
int ShiftRecordNumber(const char* record);
int64_t ShiftRecordAmount(const char* record, int index);
// The "SI" record's two amounts (0 and 1).
int64_t SIAmount(const FPContext* ctx, int index);
