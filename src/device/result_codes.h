// Driver result codes: the values of FPContext::nLastResult. 0 is success; codes 1..42 and
// 100..151 have texts, any other code reads "Ошибка не установлена".
#pragma once

#include <cstdint>

// The codes the driver sets by name in its own checks.
enum DriverResult : int32_t {
  kResultOk = 0,
  kResultNoDevice = 2,        // missing, empty or foreign device identifier
  kResultWrongTax = 12,       // a tax the receipt cannot carry
  kResultBadPassword = 18,    // access password not 1..6 decimal digits
  kResultNotSupported = 35,   // the capability is not available
  kResultInternal = 36,       // the driver could not finish a call for a reason of its own
  kResultNoClerkName = 46,    // no cashier name in the package nor in the settings (no text of its own)
  kResultNoPassword = 109,    // no access password in the settings
  kResultNoPort = 110,        // no COM port in the settings
  kResultBadCheckData = 121,  // the check package is malformed or incomplete
  kResultTaxSystemNotRegistered = 123,  // the receipt's tax system is not registered in the fiscal drive
  kResultQuantityAboveLimit = 132,      // an item's quantity above 99999
  kResultBadInput = 133,                // a parameter of the wrong kind
  // An item field missing or invalid: name, price, sum, quantity, the two calculation signs, agent sign.
  kResultBadItemName = 142,
  kResultBadItemPrice = 143,
  kResultBadItemSum = 144,
  kResultBadItemQuantity = 145,
  kResultBadMethodCalculation = 146,
  kResultBadCalculationObject = 147,
  kResultBadAgentSign = 148,
};

// The text of a driver result code in the driver's 8-bit code page (Windows-1251). The pointer
// stays valid for the life of the process.
const char* DriverErrorText(int32_t code);

// Completes the texts of codes 39..42 with their limits ("... (4294967295 максимум)"). Called by
// every add-in object's construction; only the first call changes anything, from any thread.
void CompleteLimitTexts();
