// Writing the low-level log from device functions: every helper tests the callback first, so a
// context with logging off costs nothing. Texts are formatted into local buffers: two device
// contexts (or the relay thread) never share one.
#pragma once

#include <cstdint>
#include <string>

#include "device/fp_context.h"

void LogEnter(FPContext* ctx, const char* name);
// Writes the return line with the result in decimal and gives the result back.
int LogReturn(FPContext* ctx, const char* name, int result);
void LogMessage(FPContext* ctx, const char* name, const char* text);
void LogMessagef(FPContext* ctx, const char* name, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void LogSend(FPContext* ctx, const char* frameText, const char* resultText);
void LogRecv(FPContext* ctx, const char* frameText, const char* kindText);

// "%2.2X " per byte, after an optional prefix.
std::string HexBytes(const char* prefix, const uint8_t* bytes, uint32_t count);
// A message line of the bytes as HexBytes writes them; formats nothing while the line is off, since
// the link logs every answer it reads this way.
void LogBytes(FPContext* ctx, const char* name, const char* prefix, const uint8_t* bytes, uint32_t count);
