// Programming the printer's own settings: receipt header and footer lines, date and time, device
// flags and their single bits, the shift time limit, descriptor texts, payment-mean names, the
// clock switch and its daily correction, and the serial speed. Each function sends one command as
// one transaction, stores its driver result code in nLastResult and returns it.
#pragma once

#include <cstdint>

#include "device/fp_context.h"

// Header line n (1..8; else 21); text of at most nLineWidth bytes (else 13), 0x7F bold marks
// included. Null text counts as empty.
int32_t ProgramHeaderLine(FPContext* ctx, int n, const char* text);
// The printer's calendar date and clock; each value is sent modulo 100.
int32_t ProgramDate(FPContext* ctx, int day, int month, int year);
int32_t ProgramTime(FPContext* ctx, int hour, int minute, int second);
// Device flag n := value. Both mark the cached flags stale; ProgramFlag also gives the printer
// 55 ms to store the flag.
int32_t ProgramFlag(FPContext* ctx, int n, int value);
int32_t SetFlag(FPContext* ctx, int n, int value);
int32_t ProgramFlagRR(FPContext* ctx, int value);
int32_t ProgramTimeLimit(FPContext* ctx, int hours);
// Descriptor n's text, cut to the model's maximum; 33 for a number the model does not have.
int32_t SetDescriptorText(FPContext* ctx, int n, const char* text);
// Payment mean n's name (at most 14 characters are sent) with its payment type.
int32_t SetPaymentMean(FPContext* ctx, int n, int type, const char* name);
// Footer line n; attribute 2 prints it at double height, 0 at normal height. An empty text clears
// the line.
int32_t SetFooterRow(FPContext* ctx, int n, int attribute, const char* text);
int32_t SwitchClock(FPContext* ctx, int on);
int32_t ProgramDailyClockCorrection(FPContext* ctx, int seconds);
// Switches the printer's line to speed code 0..6; the port keeps its speed (the caller reopens it).
int32_t SetBaudRate(FPContext* ctx, int code);

// Reads the device flags ("S3") unless the cached copy is valid: 0 or the query's result code.
int32_t EnsureDeviceFlags(FPContext* ctx);
// Sets or clears bit b (0..7) of device flag n (1..22) from the cached flags, reading them first
// when stale. 13 for a bit or flag number outside those ranges.
int32_t SetFlagBitFP(FPContext* ctx, int b, int n);
int32_t ClearFlagBitFP(FPContext* ctx, int b, int n);
// Whether bit b and flag n name a device flag bit.
bool IsDeviceFlagBit(int b, int n);
