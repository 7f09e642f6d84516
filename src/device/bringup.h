// Device bring-up: from a freshly opened port to a recognised model with no half-open document,
// an accepted operator password and the POS number and clerks programmed; and leaving the device
// again. Each function logs under its own name, stores its driver result code in nLastResult and
// returns it (FixDeviceVersion returns the version code instead).
#pragma once

#include <cstdint>

#include "device/fp_context.h"

// Opens COM `port` at speed code `baudRateCode`, makes sure a device answers there (the port is
// closed again and 2 returned when none does) and runs ResetFP. `reserved` is not used.
int32_t InitFP2(FPContext* ctx, int port, const char* password, int baudRateCode, void* reserved);
// Recognises the model, stops at a printer that needs a Z report (20, before any password goes
// out), clears a document left open, then sends the password and programs the POS number and,
// while a shift is open, the clerk secrets.
int32_t ResetFP(FPContext* ctx, const char* password);
// Recognises the printer by its version banner and sets the model's fields (nVersionCode,
// nVersionMajor, nVersionMinor, nLineWidth, the name and line limits, the character table and
// nContextKind) and nFnFfdVersion. Returns nVersionCode: 0 when no status came to two polls.
int32_t FixDeviceVersion(FPContext* ctx);
// Cancels a document the printer still has open; `flag` is not used.
int32_t ResetOrder(FPContext* ctx, int flag);
// The raw reset sequence of the models that have it (major 7, and 11.1); 35 on others, 16 when the
// printer is still busy 3 s later.
int32_t ResetFPMirel(FPContext* ctx);
// The printer's self-test ("E"), once it is idle; it prints for up to 5 s before it answers.
int32_t KKMTest(FPContext* ctx);
// Leaves the device: clears an open document, logs off a clerk the driver logged on, closes the port.
int32_t DeinitFP(FPContext* ctx);
// The status as one word (null `status` allowed): bit 1 fiscal mode, 2 (status 0 bit 4), 5 fiscal
// receipt, 6 receipt, 8 busy, 9 print failure, 10 paper end, 12..31 an error class or detail.
int32_t FastStatus(FPContext* ctx, int32_t* status);
