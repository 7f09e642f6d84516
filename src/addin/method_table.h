// The component's method and property tables as the host sees them through ILanguageExtender:
// numbers, English and Russian names, parameters. The table is fixed; its order is the host's
// method numbering.
#pragma once

#include <string>
#include <string_view>

// How CallAsFunc reads or writes one element of the host's parameter array.
enum class ParamKind {
  kString,     // in: BSTR
  kNumber,     // in: double from VT_I2, VT_I4 or VT_R8
  kInteger,    // in: 32-bit integer read by the element's type
  kVariant,    // in: the whole VARIANT
  kOutString,  // out: written back as VT_BSTR
  kOutInteger, // out: written back as VT_I4
};

// What the function result of a method is.
enum class ResultKind {
  kSuccess,  // VT_BOOL from the success flag
  kText,     // VT_BSTR (GetVersion)
  kCode,     // VT_I4 (GetLastError)
};

struct ParamInfo {
  ParamKind kind;
  const char* name;
};

constexpr int kMaxParams = 7;

struct MethodInfo {
  const char* english;  // UTF-8
  const char* russian;  // UTF-8
  ResultKind result;
  int nParams;
  ParamInfo params[kMaxParams];
};

constexpr int kMethodCount = 24;
constexpr int kPropCount = 5;

enum MethodNumber {
  kMethodGetLastError = 0,
  kMethodGetVersion = 1,
  kMethodOpen = 2,
};

enum PropNumber { kPropPort, kPropSpeed, kPropUserPassword, kPropAdminPassword, kPropTimeout };

// Entry n of the method table, 0 <= n < kMethodCount.
const MethodInfo& MethodAt(int n);

// Names as the host sees them (UTF-16). russian = false gives the English name.
const std::u16string& MethodName(int n, bool russian);
// "GetVersion (ПолучитьНомерВерсии)": the name the log shows for method n.
const std::string& MethodDisplayName(int n);
const std::u16string& PropName(int n, bool russian);

// The number of the method or property with this name, or -1. Latin letters A-Z match in either
// case; every other character, Cyrillic included, must match exactly.
int FindMethodNumber(std::u16string_view name);
int FindPropNumber(std::u16string_view name);
