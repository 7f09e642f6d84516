// The driver's two trace files. The high-level file ("H") records the calls of the driver
// interface and the relay's messages; the low-level file ("L") records the device functions and
// every frame and byte-level event of the port. Lines carry the local time and an indentation of
// ": " per nesting level (at most 31 levels), so that nested calls read as a tree.
//
// The rest of the driver never calls the writers below directly: SetLogMode installs them in the
// context's callback pointers, and callers skip a null pointer. Logging never fails the caller: a
// writer whose file is not open writes nothing, and an unopenable file only leaves its stream null.
// The writers, OpenLogs and CloseLogs may be called from the host thread and the relay thread at
// once: each holds the context's log lock (csLog) for the whole line, trim, opening or closing.
#pragma once

#include "device/fp_context.h"

// Category bits of SetLogMode: a set bit installs the writers, a clear bit stores null.
constexpr int kLogEnterReturn = 0x00001;   // pfnLogEnter, pfnLogReturn
constexpr int kLogMessage = 0x00002;       // pfnLogMessage
constexpr int kLogSendRecv = 0x00004;      // pfnLogSend, pfnLogRecv
constexpr int kLogEnterReturnH = 0x10000;  // pfnLogEnterH, pfnLogReturnH
constexpr int kLogMessageH = 0x20000;      // pfnLogMessageH
// Every category: what switching logging on installs, with auto-flush 1.
constexpr int kLogAll = 0x30007;

// Installs or clears the callbacks by mask and sets bLogAutoFlush.
void SetLogMode(FPContext* ctx, int mask, int autoFlush);

// Opens both files that are not open yet: the fixed files szLogFileH/L, or with bDailyLog today's
// daily files in the "Log" folder of szLogPath (created when missing; expired daily files are
// deleted first). When the daily folder cannot be used, daily mode is switched off and the fixed
// files are opened instead.
void OpenLogs(FPContext* ctx);

// Flushes and closes both files. The callbacks stay installed and write nothing until OpenLogs.
void CloseLogs(FPContext* ctx);

// The writers, one line each (installed by SetLogMode).
void WriteLogEnterH(FPContext* ctx, const char* name);
void WriteLogReturnH(FPContext* ctx, const char* name, const char* resultText);
void WriteLogMessageH(FPContext* ctx, const char* name, const char* text);
void WriteLogEnter(FPContext* ctx, const char* name);
void WriteLogReturn(FPContext* ctx, const char* name, const char* resultText);
void WriteLogMessage(FPContext* ctx, const char* name, const char* text);
void WriteLogSend(FPContext* ctx, const char* frameText, const char* resultText);
void WriteLogRecv(FPContext* ctx, const char* frameText, const char* kindText);
