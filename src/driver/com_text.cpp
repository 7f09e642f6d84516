// Conversions between host values and driver values.
#include "driver/com_text.h"

#include <cmath>
#include <limits>
#include <string_view>

#include "platform/codepage.h"

namespace {

std::u16string_view View(BSTR bstr) {
  return bstr ? std::u16string_view(reinterpret_cast<const char16_t*>(bstr), SysStringLen(bstr))
              : std::u16string_view();
}

BSTR NewBstr(const std::u16string& text) {
  return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                           static_cast<UINT>(text.size()));
}

bool InInt32Range(long double value) {
  return value >= std::numeric_limits<LONG>::min() && value <= std::numeric_limits<LONG>::max();
}

// Strict decimal: optional sign and digits only, the whole string.
bool ParseDecimal(const std::string& text, LONG* out) {
  if (text.empty() || text.size() > 12) return false;
  size_t start = (text[0] == '-' || text[0] == '+') ? 1 : 0;
  if (start == text.size()) return false;
  long long value = 0;
  for (size_t i = start; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  if (text[0] == '-') value = -value;
  if (!InInt32Range(value)) return false;
  *out = static_cast<LONG>(value);
  return true;
}

bool RoundToInt32(long double value, LONG* out) {
  if (!std::isfinite(value)) return false;
  const long double rounded = std::nearbyint(value);
  if (!InInt32Range(rounded)) return false;
  *out = static_cast<LONG>(rounded);
  return true;
}

// A DECIMAL's 96-bit integer over 10^scale. long double holds any 64-bit integer exactly, which
// is all the precision an amount or a 32-bit number needs.
bool DecimalValue(const DECIMAL& d, long double* out) {
  constexpr int kMaxScale = 28;
  if (d.scale > kMaxScale) return false;
  long double value = static_cast<long double>(d.Hi32) * 18446744073709551616.0L + d.Lo64;
  for (int i = 0; i < d.scale; ++i) value /= 10;
  *out = (d.sign & DECIMAL_NEG) ? -value : value;
  return true;
}

// Every numeric type a host passes: integers of each width, floating point, currency (in
// ten-thousandths) and DECIMAL. False for anything else.
bool NumericValue(const VARIANT& v, long double* out) {
  switch (v.vt) {
    case VT_I1:
      *out = v.cVal;
      return true;
    case VT_UI1:
      *out = v.bVal;
      return true;
    case VT_I2:
      *out = v.iVal;
      return true;
    case VT_UI2:
      *out = v.uiVal;
      return true;
    case VT_I4:
      *out = v.lVal;
      return true;
    case VT_UI4:
      *out = v.ulVal;
      return true;
    case VT_INT:
      *out = v.intVal;
      return true;
    case VT_UINT:
      *out = v.uintVal;
      return true;
    case VT_I8:
      *out = v.llVal;
      return true;
    case VT_UI8:
      *out = v.ullVal;
      return true;
    case VT_R4:
      *out = v.fltVal;
      return true;
    case VT_R8:
      *out = v.dblVal;
      return true;
    case VT_CY:
      *out = v.cyVal.int64 / 10000.0L;
      return true;
    case VT_DECIMAL:
      return DecimalValue(v.decVal, out);
    default:
      return false;
  }
}

}  // namespace

TextArg TextArg::Cp1251(BSTR bstr) {
  TextArg arg;
  arg.m_bNull = bstr == nullptr;
  arg.m_text = plat::Utf16ToCp1251(View(bstr));
  return arg;
}

TextArg TextArg::Utf8(BSTR bstr) {
  TextArg arg;
  arg.m_bNull = bstr == nullptr;
  arg.m_text = plat::Utf16ToUtf8(View(bstr));
  return arg;
}

std::string BstrToCp1251(BSTR bstr) {
  return plat::Utf16ToCp1251(View(bstr));
}

std::string BstrToUtf8(BSTR bstr) { return plat::Utf16ToUtf8(View(bstr)); }

BSTR Cp1251ToBstr(const char* text) {
  return NewBstr(plat::Cp1251ToUtf16(text ? text : ""));
}

BSTR Utf8ToBstr(const char* text) { return NewBstr(plat::Utf8ToUtf16(text ? text : "")); }

bool VariantToInt32(const VARIANT& v, LONG* out) {
  switch (v.vt) {
    case VT_BOOL:
      *out = v.boolVal;
      return true;
    case VT_BSTR:
      return ParseDecimal(BstrToCp1251(v.bstrVal), out);
    default: {
      long double value = 0;
      return NumericValue(v, &value) && RoundToInt32(value, out);
    }
  }
}

bool VariantToAmount(const VARIANT& v, double* out) {
  long double value = 0;
  if (!NumericValue(v, &value)) return false;
  *out = static_cast<double>(value);
  return true;
}
