// The fiscal drive behind the printer: its status, its exchange status and its tax systems; the
// commands with which the OFD relay reads a waiting message and writes the operator's receipt
// back; and the fiscal sign of a document, read from the echo of its reprint.
//
// The printer frames these answers like any other (STX, text, ETX, check character) but gives
// them fixed lengths and no data-frame kind, so they are read here with readers of their own. The
// drive's message inside is written as nibble characters: 0x04, a length of answer code and data
// (two bytes, little-endian), the answer code (0 = success), the data and the drive's check value.
// Everything here is specified for the supported model (version 11.1).
#pragma once

#include <cstdint>

#include "device/fp_context.h"

// ---- Status ----

// "S\"": FdStatus (and nFdWarningFlags). 0 or a negative link code; -1 with the port closed.
int GetStatusFiscalDrive(FPContext* ctx);
int ReadInfo22(FPContext* ctx);
// "SuF": FdExchange. On other models 0 without sending.
int GetStatusInfoFiscalDrive(FPContext* ctx);
int ReadInfoSuF(FPContext* ctx);
// "Su!": nFdTaxSystems. On other models 0 without sending.
int GetTaxVariant(FPContext* ctx);
int ReadInfoSu21(FPContext* ctx);

// The transports of the three status requests: send the command once (no retries), read the
// fixed-length answer, decode it into its record and acknowledge it. `pauseMs` and `longCommand`
// are not used.
int ExecTransactionFD22(FPContext* ctx, const char* cmd, int pauseMs, bool log, bool longCommand);
int ExecTransactionFDSuF(FPContext* ctx, const char* cmd, int pauseMs, bool log, bool longCommand);
int ExecTransactionFDSu21(FPContext* ctx, const char* cmd, int pauseMs, bool log, bool longCommand);

// Whether tax system n (0..5) is registered in the fiscal drive, by the last "Su!" answer.
bool IsTaxSystemAllowed(const FPContext* ctx, int n);

// ---- The OFD exchange ----
// On other models each returns 0 and does nothing; with the port closed -1. The drive's answer
// code is reported through `code`, not the result.

// "SuG0" (flag set) or "SuG1" (flag clear).
int ExecSuG(FPContext* ctx, bool flag, uint32_t* code);
// "SuJ": cancels a message read left unfinished.
int ExecSuJ(FPContext* ctx, uint32_t* code);
// "SuH": the length of the first waiting message.
int ExecSuH(FPContext* ctx, uint32_t* length, uint32_t* code);
// "SuI": reads `blockSize` (1..255) bytes of the waiting message from `offset` (0..65535) into
// `buffer`, which holds at least blockSize bytes; *count receives how many came. An answer code of
// 0x80 (more to come) counts as 0. With `raw` and a nonzero *rawSize the answer is also copied
// there for the log: as it came when it does not fit, else framed as "[02]...[03][LRC]" with
// *rawSize set to its length. -5 for bad arguments or an answer shorter than its length field
// says, -6 for a block longer than asked for (nothing copied).
int ExecSuI(FPContext* ctx, uint8_t* buffer, int blockSize, int offset, int* count, uint32_t* code, char* raw,
            int* rawSize);
// "SuK": finishes the message read.
int ExecSuK(FPContext* ctx, uint32_t* code);
// "SuL": writes the operator's receipt (`count` bytes, 1..65535) into the drive. *reason is 0 when
// the drive took it, else the drive's reason of refusal (answer code 0x20), or its answer code when
// it failed otherwise.
int ExecSuL(FPContext* ctx, const uint8_t* bytes, int count, uint32_t* reason);
// "Su5": the drive's status text for the log, into `text` (terminated, at most size - 1 characters).
int ExecSu5(FPContext* ctx, char* text, int size);

// ---- Fiscal sign ----

// "Suq": the printer reprints document `number` and echoes its lines; the digits after "ФП=" (or
// "ФП ") up to a blank, at most 10, go to the start of `sign`, which holds at least 11 bytes, and
// are terminated. 0 also when no sign came (then `sign` is left as it was); 35 on other models;
// -1 with the port closed; -3/-4 when the line failed. The result is also stored in nLastResult as
// a driver result code.
int32_t GetFiscalP(FPContext* ctx, uint32_t number, char* sign);

// ---- Readers ----
// Each first waits for the device (WaitFPPresent) and returns its failure.

// 0 when exactly `count` bytes came, -4 when fewer came or the read failed. With `dump` the bytes
// of a successful read are logged.
int AcceptBufFD(FPContext* ctx, uint8_t* buffer, int count, int* got, bool dump);
// Reads an answer that carries a drive message, at most `count` bytes: by the length field of the
// message when it has one, so the read ends with the answer rather than at the line's time-out. 0
// when the whole answer came within `count` bytes (a short answer is not an error here); -6 when it
// is longer (the first `count` bytes are kept, the rest is left on the line); -4 when a read failed.
int AcceptBufFDMSG(FPContext* ctx, uint8_t* buffer, int count, int* got, bool dump);
// Reads and discards up to `count` bytes, in chunks of at most 100, stopping at a shorter chunk.
int AcceptToEnd(FPContext* ctx, uint32_t count);
// 0, or -3 when the byte could not be written.
int SendCharFD(FPContext* ctx, uint8_t byte);
