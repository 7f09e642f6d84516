// The copy of the driver's settings in the user's settings store: the registry key
// "Software\Velbor\FP Mirel Driver\Settings" of the current user on Windows, a file per value in the
// user's configuration directory elsewhere. Writes never change a setting's result; a value that
// cannot be read back (missing, cut short, garbled) is reported on the high-level log and ignored.
#pragma once

#include <cstdint>
#include <string>

#include "device/fp_context.h"

// Value names.
namespace mirror {
constexpr const char kComPort[] = "ComPort";
constexpr const char kFdoAddress[] = "FDOAddress";
constexpr const char kFdoPort[] = "FDOPort";
constexpr const char kEnableLog[] = "EnableLog";
constexpr const char kEnableDailyLog[] = "EnableDailyLog";
constexpr const char kDailyLogLifeTime[] = "DailyLogLifeTime";
constexpr const char kLogPath[] = "LogPath";
constexpr const char kPassword[] = "Password";
constexpr const char kCashier[] = "Cashier";
}  // namespace mirror

void MirrorNumber(FPContext* ctx, const char* name, uint32_t value);
// Text in the driver's 8-bit code page.
void MirrorText(FPContext* ctx, const char* name, const char* text);
// False when the value is missing or unreadable; `text` is then unchanged.
bool ReadMirroredText(FPContext* ctx, const char* name, std::string* text);
bool ReadMirroredNumber(FPContext* ctx, const char* name, uint32_t* value);
