// The printer's own error codes: the values of FPContext::nDeviceError that the extended status
// reports for the last command. Codes 0..323 have texts; any other code reads
// "Ошибка не установлена".
#pragma once

#include <cstdint>

// The text of a printer error code in the driver's 8-bit code page (Windows-1251), like
// DriverErrorText. Code 0 is a single blank; the codes the printer never reports (264..280, 293)
// give an empty text. The pointer stays valid for the life of the process; safe from any thread.
const char* DeviceErrorText(int32_t code);
