// The printer's reports: the X reports, the Z reports that close the shift, the accumulated
// reports, the report on the current state of settlements and the copies of documents; and the
// count of the shift's fiscal documents. Each function logs under its own name, stores its driver
// result code in nLastResult and returns it (GetFiscalDocShiftCount returns the count).
#pragma once

#include <cstdint>

#include "device/fp_context.h"

// X report of the open shift (X1) and of a closed one (X2); the printer prints for 3 s afterwards.
int32_t X1Report(FPContext* ctx);
int32_t X2Report(FPContext* ctx);
// Z report: closes the shift. A printer that refuses it for want of a cashier gives 11 (device
// error 111), any other refusal of its kind 23.
int32_t Z1Report(FPContext* ctx);
// Z report under the access password (six characters); the report goes out only once the
// printer has taken the password, and prints for 10 s.
int32_t Z2Report(FPContext* ctx, const char* password);
// Accumulated report n (0, 1 or 2; else 13 and nothing is sent).
int32_t AccumulatedZ1Report(FPContext* ctx, int n);
int32_t PrintReportCurrentStatusOfSettlements(FPContext* ctx);
// A copy of the last printed document.
int32_t PrintDuplicate(FPContext* ctx);
// A copy of the fiscal drive's last document, asked for by its number; nothing is sent when the
// drive's status cannot be read.
int32_t PrintLastDoc(FPContext* ctx);

// The printer's count of the fiscal documents of the shift ("S1"); 0 when it cannot be read.
int32_t GetFiscalDocShiftCount(FPContext* ctx);
