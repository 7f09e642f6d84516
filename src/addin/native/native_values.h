// Values between the host's native front and the component's COM-typed method table: tVariant to
// VARIANT for what the host passes, VARIANT to tVariant for what it gets back, with every string the
// host receives allocated through its memory manager.
#pragma once

#include <cstddef>

#include "addin/method_table.h"
#include "addin/native/native_api.h"

namespace native {

// Whether a value of this type can feed a parameter of this kind: a string only from VTYPE_PWSTR,
// a number from every numeric type and from a boolean, a whole value from those and from an empty
// or null one; an out-parameter takes whatever the host passed, since it is overwritten.
bool FitsParam(TYPEVAR vt, ParamKind kind);

// The VARIANT of a host value: numbers keep their width, a string becomes a new BSTR of exactly its
// wstrLen characters (no NUL is looked for). False, with *out left VT_EMPTY, for a type without a
// VARIANT form here (dates, blobs, interfaces, arrays) and for a string whose pointer is null while
// its length is not.
bool ToVariant(const tVariant& in, VARIANT* out);

// The host's form of a component value (empty, boolean, 16- and 32-bit integer, double, string).
// A string is allocated through `memory`. False when the type has none or the allocation fails;
// *out is then VTYPE_EMPTY.
bool ToNative(const VARIANT& in, tVariant* out, IMemoryManager* memory);

// Frees a string or blob the value holds through the host's allocator and leaves it VTYPE_EMPTY.
void ClearNative(tVariant* v, IMemoryManager* memory);

// A NUL-terminated copy of `length` characters allocated through `memory`; null when there is no
// memory manager or it refuses.
WCHAR_T* AllocText(IMemoryManager* memory, const OLECHAR* text, size_t length);

// A BSTR of a NUL-terminated host string, read no further than kMaxNameLength characters (the
// names the host looks up; a longer one is no name of ours). Null for a null string.
constexpr size_t kMaxNameLength = 256;
BSTR NameToBstr(const WCHAR_T* text);

}  // namespace native
