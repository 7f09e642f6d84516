#include "addin/native/native_values.h"

#include <cstring>

namespace native {

namespace {

bool IsNumeric(TYPEVAR vt) {
  switch (vt) {
    case VTYPE_I1:
    case VTYPE_I2:
    case VTYPE_I4:
    case VTYPE_I8:
    case VTYPE_UI1:
    case VTYPE_UI2:
    case VTYPE_UI4:
    case VTYPE_UI8:
    case VTYPE_INT:
    case VTYPE_UINT:
    case VTYPE_R4:
    case VTYPE_R8:
    case VTYPE_BOOL:
      return true;
    default:
      return false;
  }
}

// Numbers keep their type, so that the method table's conversions judge them as they judge the
// COM front's (an Amount of VT_BOOL is refused there, a VT_I4 500 arrives as 500.0).
bool NumberToVariant(const tVariant& in, VARIANT* out) {
  switch (in.vt) {
    case VTYPE_I1:
      out->vt = VT_I1;
      out->cVal = static_cast<CHAR>(in.i8Val);
      return true;
    case VTYPE_I2:
      out->vt = VT_I2;
      out->iVal = in.shortVal;
      return true;
    case VTYPE_I4:
      out->vt = VT_I4;
      out->lVal = in.lVal;
      return true;
    case VTYPE_INT:
      out->vt = VT_INT;
      out->intVal = in.intVal;
      return true;
    case VTYPE_I8:
      out->vt = VT_I8;
      out->llVal = in.llVal;
      return true;
    case VTYPE_UI1:
      out->vt = VT_UI1;
      out->bVal = in.ui8Val;
      return true;
    case VTYPE_UI2:
      out->vt = VT_UI2;
      out->uiVal = in.ushortVal;
      return true;
    case VTYPE_UI4:
      out->vt = VT_UI4;
      out->ulVal = in.ulVal;
      return true;
    case VTYPE_UINT:
      out->vt = VT_UINT;
      out->uintVal = in.uintVal;
      return true;
    case VTYPE_UI8:
      out->vt = VT_UI8;
      out->ullVal = in.ullVal;
      return true;
    case VTYPE_R4:
      out->vt = VT_R4;
      out->fltVal = in.fltVal;
      return true;
    case VTYPE_R8:
      out->vt = VT_R8;
      out->dblVal = in.dblVal;
      return true;
    case VTYPE_BOOL:
      out->vt = VT_BOOL;
      out->boolVal = in.bVal ? VARIANT_TRUE : VARIANT_FALSE;
      return true;
    default:
      return false;
  }
}

}  // namespace

bool FitsParam(TYPEVAR vt, ParamKind kind) {
  switch (kind) {
    case ParamKind::kString:
      return vt == VTYPE_PWSTR;
    case ParamKind::kNumber:
    case ParamKind::kInteger:
      return IsNumeric(vt);
    case ParamKind::kVariant:
      return vt == VTYPE_EMPTY || vt == VTYPE_NULL || vt == VTYPE_PWSTR || IsNumeric(vt);
    case ParamKind::kOutString:
    case ParamKind::kOutInteger:
      return true;
  }
  return false;
}

bool ToVariant(const tVariant& in, VARIANT* out) {
  VariantInit(out);
  switch (in.vt) {
    case VTYPE_EMPTY:
      return true;
    case VTYPE_NULL:
      out->vt = VT_NULL;
      return true;
    case VTYPE_PWSTR:
      if (!in.pwstrVal && in.wstrLen != 0) return false;
      out->bstrVal = SysAllocStringLen(in.pwstrVal, in.wstrLen);
      if (!out->bstrVal) return false;
      out->vt = VT_BSTR;
      return true;
    default:
      return NumberToVariant(in, out);
  }
}

WCHAR_T* AllocText(IMemoryManager* memory, const OLECHAR* text, size_t length) {
  void* block = nullptr;
  const size_t bytes = (length + 1) * sizeof(WCHAR_T);
  if (!memory || !memory->AllocMemory(&block, static_cast<unsigned long>(bytes)) || !block) return nullptr;
  WCHAR_T* copy = static_cast<WCHAR_T*>(block);
  if (length) std::memcpy(copy, text, length * sizeof(WCHAR_T));
  copy[length] = 0;
  return copy;
}

bool ToNative(const VARIANT& in, tVariant* out, IMemoryManager* memory) {
  std::memset(out, 0, sizeof *out);
  switch (in.vt) {
    case VT_EMPTY:
      out->vt = VTYPE_EMPTY;
      return true;
    case VT_BOOL:
      out->vt = VTYPE_BOOL;
      out->bVal = in.boolVal != VARIANT_FALSE;
      return true;
    case VT_I2:
      out->vt = VTYPE_I2;
      out->shortVal = in.iVal;
      return true;
    case VT_I4:
      out->vt = VTYPE_I4;
      out->lVal = in.lVal;
      return true;
    case VT_R8:
      out->vt = VTYPE_R8;
      out->dblVal = in.dblVal;
      return true;
    case VT_BSTR: {
      const UINT length = SysStringLen(in.bstrVal);
      out->pwstrVal = AllocText(memory, in.bstrVal, length);
      if (!out->pwstrVal) return false;
      out->wstrLen = length;
      out->vt = VTYPE_PWSTR;
      return true;
    }
    default:
      return false;
  }
}

void ClearNative(tVariant* v, IMemoryManager* memory) {
  if (memory && v->vt == VTYPE_PWSTR && v->pwstrVal) {
    memory->FreeMemory(reinterpret_cast<void**>(&v->pwstrVal));
  } else if (memory && (v->vt == VTYPE_PSTR || v->vt == VTYPE_BLOB) && v->pstrVal) {
    memory->FreeMemory(reinterpret_cast<void**>(&v->pstrVal));
  }
  std::memset(v, 0, sizeof *v);
  v->vt = VTYPE_EMPTY;
}

BSTR NameToBstr(const WCHAR_T* text) {
  if (!text) return nullptr;
  size_t length = 0;
  while (length < kMaxNameLength && text[length]) ++length;
  return SysAllocStringLen(text, static_cast<UINT>(length));
}

}  // namespace native
