// POSIX implementation of the COM and OLE Automation layer declared in posix/com_os.h.
#include "platform/com.h"

#include <cstdlib>
#include <cstring>
#include <limits>

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IPropertyBag = {0x55272A00, 0x42CB, 0x11CE,
                              {0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};
const IID IID_IErrorLog = {0x3127CA40, 0x446E, 0x11CE,
                           {0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};

bool IsEqualGUID(REFGUID a, REFGUID b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

// ---- BSTR --------------------------------------------------------------------------------------

namespace {

// The byte count lives in the 32 bits just before the first character, as on Windows.
uint32_t* BstrHeader(BSTR bstr) { return reinterpret_cast<uint32_t*>(bstr) - 1; }

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* pch, UINT len) {
  constexpr size_t kMaxChars = (std::numeric_limits<uint32_t>::max() - sizeof(uint32_t)) / 2 - 1;
  if (len > kMaxChars) return nullptr;
  const size_t bytes = size_t{len} * sizeof(OLECHAR);
  auto* block = static_cast<uint32_t*>(std::malloc(sizeof(uint32_t) + bytes + sizeof(OLECHAR)));
  if (!block) return nullptr;
  block[0] = static_cast<uint32_t>(bytes);
  BSTR text = reinterpret_cast<BSTR>(block + 1);
  if (pch) {
    std::memcpy(text, pch, bytes);
  } else {
    std::memset(text, 0, bytes);
  }
  text[len] = u'\0';
  return text;
}

BSTR SysAllocString(const OLECHAR* psz) {
  if (!psz) return nullptr;
  UINT len = 0;
  while (psz[len] != u'\0') ++len;
  return SysAllocStringLen(psz, len);
}

void SysFreeString(BSTR bstr) {
  if (bstr) std::free(BstrHeader(bstr));
}

UINT SysStringByteLen(BSTR bstr) { return bstr ? *BstrHeader(bstr) : 0; }

UINT SysStringLen(BSTR bstr) { return SysStringByteLen(bstr) / sizeof(OLECHAR); }

// ---- VARIANT -----------------------------------------------------------------------------------

namespace {

bool IsKnownType(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_BOOL:
    case VT_UNKNOWN:
    case VT_DECIMAL:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
      return true;
    default:
      return false;
  }
}

}  // namespace

void VariantInit(VARIANT* pvarg) {
  if (!pvarg) return;
  std::memset(pvarg, 0, sizeof(*pvarg));
  pvarg->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* pvarg) {
  if (!pvarg) return E_INVALIDARG;
  if (!IsKnownType(pvarg->vt)) return DISP_E_BADVARTYPE;
  if (pvarg->vt == VT_BSTR) {
    SysFreeString(pvarg->bstrVal);
  } else if ((pvarg->vt == VT_UNKNOWN || pvarg->vt == VT_DISPATCH) && pvarg->punkVal) {
    pvarg->punkVal->Release();
  }
  VariantInit(pvarg);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* pvargDest, const VARIANT* pvargSrc) {
  if (!pvargDest || !pvargSrc) return E_INVALIDARG;
  if (pvargDest == pvargSrc) return S_OK;
  if (!IsKnownType(pvargSrc->vt)) return DISP_E_BADVARTYPE;
  const HRESULT hr = VariantClear(pvargDest);
  if (FAILED(hr)) return hr;
  if (pvargSrc->vt == VT_BSTR && pvargSrc->bstrVal) {
    BSTR copy = SysAllocStringLen(pvargSrc->bstrVal, SysStringLen(pvargSrc->bstrVal));
    if (!copy) return E_OUTOFMEMORY;
    pvargDest->vt = VT_BSTR;
    pvargDest->bstrVal = copy;
    return S_OK;
  }
  *pvargDest = *pvargSrc;
  if ((pvargSrc->vt == VT_UNKNOWN || pvargSrc->vt == VT_DISPATCH) && pvargSrc->punkVal) {
    pvargSrc->punkVal->AddRef();
  }
  return S_OK;
}

// ---- SAFEARRAY ---------------------------------------------------------------------------------

namespace {

// Bound of dimension nDim (1-based, first dimension = 1); bounds are stored last dimension first.
SAFEARRAYBOUND* DimensionBound(SAFEARRAY* psa, UINT nDim) {
  if (!psa || nDim < 1 || nDim > psa->cDims) return nullptr;
  return &psa->rgsabound[psa->cDims - nDim];
}

size_t ElementCount(const SAFEARRAY* psa) {
  size_t count = 1;
  for (USHORT i = 0; i < psa->cDims; ++i) count *= psa->rgsabound[i].cElements;
  return count;
}

// The element at the given indices, or null when an index is out of its bounds.
VARIANT* ElementAt(SAFEARRAY* psa, const LONG* rgIndices) {
  size_t offset = 0;
  for (UINT dim = 1; dim <= psa->cDims; ++dim) {
    const SAFEARRAYBOUND* bound = DimensionBound(psa, dim);
    const int64_t rel = int64_t{rgIndices[dim - 1]} - bound->lLbound;
    if (rel < 0 || rel >= int64_t{bound->cElements}) return nullptr;
    // The first dimension varies slowest: row-major over the caller's index order.
    offset = offset * bound->cElements + static_cast<size_t>(rel);
  }
  return static_cast<VARIANT*>(psa->pvData) + offset;
}

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
  if (vt != VT_VARIANT || cDims < 1 || cDims > 64 || !rgsabound) return nullptr;
  size_t count = 1;
  for (UINT i = 0; i < cDims; ++i) {
    const size_t n = rgsabound[i].cElements;
    if (n != 0 && count > std::numeric_limits<size_t>::max() / sizeof(VARIANT) / n) return nullptr;
    count *= n;
  }
  const size_t header = sizeof(SAFEARRAY) + (cDims - 1) * sizeof(SAFEARRAYBOUND);
  void* block = std::calloc(1, header);
  if (!block) return nullptr;
  auto* psa = static_cast<SAFEARRAY*>(block);
  psa->cDims = static_cast<USHORT>(cDims);
  psa->fFeatures = FADF_VARIANT;
  psa->cbElements = sizeof(VARIANT);
  for (UINT i = 0; i < cDims; ++i) psa->rgsabound[cDims - 1 - i] = rgsabound[i];
  psa->pvData = std::calloc(count ? count : 1, sizeof(VARIANT));
  if (!psa->pvData) {
    std::free(psa);
    return nullptr;
  }
  auto* elements = static_cast<VARIANT*>(psa->pvData);
  for (size_t i = 0; i < count; ++i) VariantInit(&elements[i]);
  return psa;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
  if (!psa || !pvt) return E_INVALIDARG;
  if (!(psa->fFeatures & FADF_VARIANT)) return E_INVALIDARG;
  *pvt = VT_VARIANT;
  return S_OK;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
  SAFEARRAYBOUND bound{cElements, lLbound};
  return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
  if (!psa) return S_OK;
  if (psa->cLocks != 0) return DISP_E_ARRAYISLOCKED;
  auto* elements = static_cast<VARIANT*>(psa->pvData);
  const size_t count = ElementCount(psa);
  for (size_t i = 0; i < count; ++i) VariantClear(&elements[i]);
  std::free(psa->pvData);
  std::free(psa);
  return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* psa) { return psa ? psa->cDims : 0; }

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
  if (!psa || !plLbound) return E_INVALIDARG;
  const SAFEARRAYBOUND* bound = DimensionBound(psa, nDim);
  if (!bound) return DISP_E_BADINDEX;
  *plLbound = bound->lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
  if (!psa || !plUbound) return E_INVALIDARG;
  const SAFEARRAYBOUND* bound = DimensionBound(psa, nDim);
  if (!bound) return DISP_E_BADINDEX;
  *plUbound = static_cast<LONG>(int64_t{bound->lLbound} + bound->cElements - 1);
  return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  if (!psa || !rgIndices || !pv) return E_INVALIDARG;
  const VARIANT* element = ElementAt(psa, rgIndices);
  if (!element) return DISP_E_BADINDEX;
  auto* out = static_cast<VARIANT*>(pv);
  VariantInit(out);  // the caller's VARIANT is uninitialised memory by contract
  return VariantCopy(out, element);
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  if (!psa || !rgIndices || !pv) return E_INVALIDARG;
  VARIANT* element = ElementAt(psa, rgIndices);
  if (!element) return DISP_E_BADINDEX;
  return VariantCopy(element, static_cast<const VARIANT*>(pv));
}

HRESULT SafeArrayLock(SAFEARRAY* psa) {
  if (!psa) return E_INVALIDARG;
  ++psa->cLocks;
  return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) {
  if (!psa) return E_INVALIDARG;
  if (psa->cLocks == 0) return E_UNEXPECTED;
  --psa->cLocks;
  return S_OK;
}
