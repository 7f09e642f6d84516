// Driver result codes: the values of FPContext::nLastResult. 0 is success; codes 1..42 and
// 100..151 have texts, any other code reads "Ошибка не установлена".
#pragma once

#include <cstdint>

// The codes the driver sets by name in its own checks.
enum DriverResult : int32_t {
  kResultOk = 0,
  kResultNoDevice = 2,         // missing, empty or foreign device identifier
  kResultBadPassword = 18,     // access password not 1..6 decimal digits
  kResultNotSupported = 35,    // the capability is not available
  kResultInternal = 36,        // the driver could not finish a call for a reason of its own
  kResultBadInput = 133,       // a parameter of the wrong kind
};

// The text of a driver result code in the driver's 8-bit code page (Windows-1251). The pointer
// stays valid for the life of the process.
const char* DriverErrorText(int32_t code);

// Completes the texts of codes 39..42 with their limits ("... (4294967295 максимум)"). Called by
// every add-in object's construction; only the first call changes anything, from any thread.
void CompleteLimitTexts();
