// Conversions between the host's BSTR and VARIANT values and the driver's own strings and numbers.
// Values are read by their VARIANT type, never by reinterpreting the value field.
#pragma once

#include <string>

#include "platform/com.h"

// A BSTR converted for a driver method: text in the driver's 8-bit code page or in UTF-8. A null
// BSTR stays null (Get() returns nullptr), which driver methods tell apart from an empty string.
class TextArg {
 public:
  static TextArg Cp1251(BSTR bstr);
  static TextArg Utf8(BSTR bstr);
  const char* Get() const { return m_bNull ? nullptr : m_text.c_str(); }
  const std::string& Text() const { return m_text; }

 private:
  std::string m_text;
  bool m_bNull = true;
};

std::string BstrToCp1251(BSTR bstr);
std::string BstrToUtf8(BSTR bstr);
// New BSTRs, the receiver's to free; null text gives an empty string.
BSTR Cp1251ToBstr(const char* text);
BSTR Utf8ToBstr(const char* text);

// A 32-bit integer from any numeric VARIANT (integers of every width, VT_R4, VT_R8, VT_CY,
// VT_DECIMAL), VT_BOOL (-1/0) or a BSTR of decimal digits. Fractions are rounded to the nearest
// integer. False for other types and for values outside 32 bits.
bool VariantToInt32(const VARIANT& v, LONG* out);

// The Amount of a cash document: any numeric VARIANT, as above; never a string or a boolean.
bool VariantToAmount(const VARIANT& v, double* out);
