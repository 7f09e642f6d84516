// POSIX: our own COM and OLE Automation layer with the Windows names, sizes and semantics that the
// add-in relies on.
// - Integer types keep their Windows widths (LONG and ULONG are 32-bit even where long is 64-bit).
// - OLECHAR is UTF-16 (char16_t); BSTR is length-prefixed like the system's (a 32-bit byte count
//   before the characters, a NUL after them), so SysStringLen works on embedded NULs and a null BSTR
//   is a valid empty string.
// - VARIANT holds the scalar types (DECIMAL overlaying the whole of it, as on Windows), BSTR and
//   interface pointers; VariantClear frees what it owns.
// - SAFEARRAY holds VARIANT elements only (that is all the host passes); bounds are stored in the
//   system's order, last dimension first.
#pragma once

#include <cstdint>

// ---- Basic types -------------------------------------------------------------------------------

typedef int32_t HRESULT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef char CHAR;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef int INT;
typedef unsigned int UINT;
typedef int BOOL;
typedef float FLOAT;
typedef double DOUBLE;
typedef void* PVOID;
typedef void* LPVOID;
typedef DWORD LCID;
typedef LONG DISPID;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

typedef char16_t OLECHAR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
typedef OLECHAR* BSTR;

// Calling conventions and declaration helpers (meaningful on 32-bit Windows only).
#define STDMETHODCALLTYPE
#define STDAPICALLTYPE
#define STDAPI extern "C" HRESULT STDAPICALLTYPE

// ---- HRESULT values ----------------------------------------------------------------------------

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);
constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005u);
constexpr HRESULT DISP_E_UNKNOWNNAME = static_cast<HRESULT>(0x80020006u);
constexpr HRESULT DISP_E_BADVARTYPE = static_cast<HRESULT>(0x80020008u);
constexpr HRESULT DISP_E_OVERFLOW = static_cast<HRESULT>(0x8002000Au);
constexpr HRESULT DISP_E_BADINDEX = static_cast<HRESULT>(0x8002000Bu);
constexpr HRESULT DISP_E_ARRAYISLOCKED = static_cast<HRESULT>(0x8002000Du);

// ---- GUID --------------------------------------------------------------------------------------

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;

bool IsEqualGUID(REFGUID a, REFGUID b);
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }
inline bool operator!=(REFGUID a, REFGUID b) { return !IsEqualGUID(a, b); }

// ---- BSTR --------------------------------------------------------------------------------------

// A copy of a NUL-terminated string; null for a null argument or when memory runs out.
BSTR SysAllocString(const OLECHAR* psz);
// A string of len characters copied from pch (or zero-filled when pch is null), NUL-terminated.
BSTR SysAllocStringLen(const OLECHAR* pch, UINT len);
void SysFreeString(BSTR bstr);
// Characters in the string (not counting the terminating NUL); 0 for a null BSTR.
UINT SysStringLen(BSTR bstr);
UINT SysStringByteLen(BSTR bstr);

// ---- VARIANT -----------------------------------------------------------------------------------

typedef uint16_t VARTYPE;
typedef int16_t VARIANT_BOOL;
constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
};

// Currency: a count of ten-thousandths.
struct CY {
  LONGLONG int64;
};

// A 96-bit integer with a sign and a power-of-ten scale. It fills a whole VARIANT, its first field
// lying where the VARIANT keeps its type.
struct DECIMAL {
  USHORT wReserved;
  BYTE scale;  // 0..28: the value is the integer divided by 10^scale
  BYTE sign;   // 0x80 for a negative value
  ULONG Hi32;
  ULONGLONG Lo64;
};
constexpr BYTE DECIMAL_NEG = 0x80;

struct IUnknown;
struct IDispatch;
struct SAFEARRAY;

struct VARIANT {
  union {
    struct {
      VARTYPE vt;
      WORD wReserved1;
      WORD wReserved2;
      WORD wReserved3;
      union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        CY cyVal;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        CHAR cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
        void* byref;
      };
    };
    DECIMAL decVal;
  };
};
typedef VARIANT VARIANTARG;

void VariantInit(VARIANT* pvarg);
// Frees what the VARIANT owns (its BSTR, its interface reference) and leaves it VT_EMPTY.
HRESULT VariantClear(VARIANT* pvarg);
// Clears the destination, then copies the source deeply (a new BSTR, an added reference).
HRESULT VariantCopy(VARIANT* pvargDest, const VARIANT* pvargSrc);

// ---- SAFEARRAY ---------------------------------------------------------------------------------

struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};

struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  PVOID pvData;
  SAFEARRAYBOUND rgsabound[1];  // cDims bounds follow, last dimension first
};

constexpr USHORT FADF_VARIANT = 0x0800;

// Only VT_VARIANT arrays are supported; other element types give null.
SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound);
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements);
HRESULT SafeArrayDestroy(SAFEARRAY* psa);
UINT SafeArrayGetDim(SAFEARRAY* psa);
HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound);
HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound);
// rgIndices holds one index per dimension, first dimension first. The element is copied out
// (GetElement) or in (PutElement, which clears the element it replaces).
HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
// The element type: VT_VARIANT for every array this layer creates (FADF_VARIANT set).
HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt);
HRESULT SafeArrayLock(SAFEARRAY* psa);
HRESULT SafeArrayUnlock(SAFEARRAY* psa);

// ---- Interfaces --------------------------------------------------------------------------------

struct ITypeInfo;  // never used through this layer; declared for IDispatch's layout

struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  PVOID pvReserved;
  HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
  HRESULT scode;
};

struct DISPPARAMS {
  VARIANTARG* rgvarg;
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};

extern const IID IID_IUnknown;
extern const IID IID_IDispatch;
extern const IID IID_IClassFactory;
extern const IID IID_IPropertyBag;
extern const IID IID_IErrorLog;

struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;
};

struct IDispatch : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames,
                                                  LCID lcid, DISPID* rgDispId) = 0;
  virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                           DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                           EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0;
};

struct IClassFactory : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                                   void** ppvObject) = 0;
  virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;
};

struct IErrorLog : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE AddError(LPCOLESTR pszPropName, EXCEPINFO* pExcepInfo) = 0;
};

struct IPropertyBag : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Read(LPCOLESTR pszPropName, VARIANT* pVar,
                                         IErrorLog* pErrorLog) = 0;
  virtual HRESULT STDMETHODCALLTYPE Write(LPCOLESTR pszPropName, VARIANT* pVar) = 0;
};

// The in-process server's entry points, declared here as the system's headers declare them.
STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);
STDAPI DllCanUnloadNow();
