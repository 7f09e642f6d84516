// ILanguageExtender: the method and property tables as the host reaches them, and the dispatch of
// CallAsFunc into the IMirel240F wrappers.
#include <cstdio>
#include <cstring>

#include "driver/com_text.h"
#include "addin/method_table.h"
#include "addin/mirel240f.h"
#include "device/result_codes.h"
#include "device/text_field.h"

namespace {

constexpr const char kExtensionName[] = "Mirel240F_DRV_2004";
constexpr LONG kFixedSpeed = 9600;
constexpr size_t kMaxPasswordLength = 6;

bool IsMethod(LONG n) { return n >= 0 && n < kMethodCount; }
bool IsProp(LONG n) { return n >= 0 && n < kPropCount; }

HRESULT ReturnName(bool valid, const std::u16string* name, BSTR* pbstrName) {
  if (!pbstrName) return E_POINTER;
  const std::u16string empty;
  const std::u16string& text = valid ? *name : empty;
  *pbstrName = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()));
  return valid ? S_OK : S_FALSE;
}

std::u16string_view NameOf(BSTR bstr) {
  return std::u16string_view(reinterpret_cast<const char16_t*>(bstr), SysStringLen(bstr));
}

HRESULT ReturnFlag(bool valid, BOOL* pFlag) {
  if (!pFlag) return E_POINTER;
  *pFlag = valid ? TRUE : FALSE;
  return valid ? S_OK : S_FALSE;
}

bool IsValidPassword(const std::string& text) {
  if (text.empty() || text.size() > kMaxPasswordLength) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// The parameters of one CallAsFunc call: copies of the host's elements 0..N-1, read by their type
// before the call and written back after it. Out-parameter elements are cleared and typed first
// (VT_BSTR or VT_I4), so the host never reads a value of a type it did not get.
class CallArgs {
 public:
  CallArgs() {
    for (VARIANT& v : m_elements) VariantInit(&v);
  }
  ~CallArgs() {
    for (VARIANT& v : m_elements) VariantClear(&v);
  }
  CallArgs(const CallArgs&) = delete;
  CallArgs& operator=(const CallArgs&) = delete;

  // False when the array cannot carry the method's parameters (null, not of VARIANTs, not
  // one-dimensional, too short): the method must not be called.
  bool Fetch(SAFEARRAY* psa, const MethodInfo& method) {
    if (method.nParams == 0) return true;
    LONG lower = 0, upper = -1;
    VARTYPE vt = VT_EMPTY;
    if (!psa || FAILED(SafeArrayGetVartype(psa, &vt)) || vt != VT_VARIANT || SafeArrayGetDim(psa) != 1 ||
        FAILED(SafeArrayGetLBound(psa, 1, &lower)) ||
        FAILED(SafeArrayGetUBound(psa, 1, &upper)) ||
        int64_t{upper} - lower + 1 < method.nParams) {
      return false;
    }
    m_lower = lower;
    for (int i = 0; i < method.nParams; ++i) {
      LONG index = lower + i;
      if (FAILED(SafeArrayGetElement(psa, &index, &m_elements[i]))) return false;
    }
    return true;
  }

  // Reads the in-parameters by their kind and prepares the out-parameters. False when a number
  // has a type that cannot be read as one.
  bool Convert(const MethodInfo& method) {
    for (int i = 0; i < method.nParams; ++i) {
      VARIANT& v = m_elements[i];
      switch (method.params[i].kind) {
        case ParamKind::kString:
        case ParamKind::kVariant:
          break;
        case ParamKind::kNumber:
          if (!VariantToAmount(v, &m_numbers[i])) return false;
          break;
        case ParamKind::kInteger:
          if (!VariantToInt32(v, &m_integers[i])) return false;
          break;
        case ParamKind::kOutString:
          VariantClear(&v);
          v.vt = VT_BSTR;
          v.bstrVal = nullptr;
          break;
        case ParamKind::kOutInteger:
          VariantClear(&v);
          v.vt = VT_I4;
          v.lVal = 0;
          break;
      }
    }
    return true;
  }

  // Writes the out-parameters back into their array positions.
  void Store(SAFEARRAY* psa, const MethodInfo& method) {
    for (int i = 0; i < method.nParams; ++i) {
      const ParamKind kind = method.params[i].kind;
      if (kind != ParamKind::kOutString && kind != ParamKind::kOutInteger) continue;
      LONG index = m_lower + i;
      SafeArrayPutElement(psa, &index, &m_elements[i]);
    }
  }

  // An in-string: the element's BSTR, or null when the host passed no string.
  BSTR Str(int i) const { return m_elements[i].vt == VT_BSTR ? m_elements[i].bstrVal : nullptr; }
  double Num(int i) const { return m_numbers[i]; }
  LONG Int(int i) const { return m_integers[i]; }
  const VARIANT& Var(int i) const { return m_elements[i]; }
  BSTR* OutStr(int i) { return &m_elements[i].bstrVal; }
  LONG* OutInt(int i) { return &m_elements[i].lVal; }

 private:
  VARIANT m_elements[kMaxParams];
  double m_numbers[kMaxParams] = {};
  LONG m_integers[kMaxParams] = {};
  LONG m_lower = 0;
};

// The function result of one call: the success flag or error code, or the version text.
struct CallResult {
  LONG value = 0;
  BSTR text = nullptr;
};

using Invoker = HRESULT (*)(IMirel240F& o, CallArgs& a, CallResult& r);

// One entry per method number, in the order of the method table.
constexpr Invoker kInvokers[kMethodCount] = {
    [](IMirel240F& o, CallArgs& a, CallResult& r) {
      return o.OdinS_GetLastError(a.OutStr(0), &r.value);
    },
    [](IMirel240F& o, CallArgs&, CallResult& r) { return o.OdinS_GetVersion(&r.text); },
    [](IMirel240F& o, CallArgs& a, CallResult& r) { return o.OdinS_Open(a.OutStr(0), &r.value); },
    [](IMirel240F& o, CallArgs& a, CallResult& r) { return o.OdinS_Close(a.Str(0), &r.value); },
    [](IMirel240F& o, CallArgs& a, CallResult& r) {
      return o.OdinS_CashInOutcome(a.Str(0), a.Str(1), a.Num(2), &r.value);
    },
    [](IMirel240F& o, CallArgs& a, CallResult& r) {
      return o.OdinS_OpenCashDrawer(a.Str(0), &r.value);
    },
    [](IMirel240F& o, CallArgs& a, CallResult& r) {
      return o.OdinS_GetDataKKT(a.Str(0), a.OutStr(1), &r.value);
    },
    [](IMirel240F& o, CallArgs& a, CallResult& r) {
      return o.OdinS_OperationFN(a.Str(0), a.Int(1), a.Str(2), &r.value);
    },
    [](IMirel240F& o, CallArgs& a, CallResult& r) {
      return o.OdinS_OpenShift(a.Str(0), a.Str(1), a.OutStr(2), a.OutInt(3), a.OutInt(4), &r.value);
    },
    [](IMirel240F& o, CallArgs& a, CallResult& r) {
      return o.OdinS_CloseShift(a.Str(0), a.Str(1), a.OutStr(2), a.OutInt(3), a.OutInt(4),
                                &r.value);
    },
    [](IMirel240F& o, CallArgs& a, CallResult& r) {
      return o.OdinS_ProcessCheck(a.Str(0), a.Int(1), a.Str(2), a.OutInt(3), a.OutInt(4),
                                  a.OutStr(5), a.OutStr(6), &r.value);
    },
    [](IMirel240F& o, CallArgs& a, CallResult& r) {
      return o.OdinS_ProcessCorrectionCheck(a.Str(0), a.Str(1), a.OutInt(2), a.OutInt(3),
                                            a.OutStr(4), a.OutStr(5), &r.value);
    },
    [](IMirel240F& o, CallArgs& a, CallResult& r) {
      return o.OdinS_PrintTextDocument(a.Str(0), a.Str(1), &r.value);
    },
    [](IMirel240F& o, CallArgs& a, CallResult& r) {
      return o.OdinS_GetCurrentStatus(a.Str(0), a.OutInt(1), a.OutInt(2), a.OutInt(3), a.OutStr(4),
                                      &r.value);
    },
    [](IMirel240F& o, CallArgs& a, CallResult& r) {
      return o.OdinS_ReportCurrentStatusOfSettlements(a.Str(0), a.Str(1), a.OutStr(2), &r.value);
    },
    [](IMirel240F& o, CallArgs& a, CallResult& r) {
      return o.OdinS_GetLineLength(a.Str(0), a.OutInt(1), &r.value);
    },
    [](IMirel240F& o, CallArgs& a, CallResult& r) {
      return o.OdinS_GetDescription(a.OutStr(0), a.OutStr(1), a.OutStr(2), a.OutInt(3),
                                    a.OutInt(4), a.OutInt(5), a.OutStr(6), &r.value);
    },
    [](IMirel240F& o, CallArgs& a, CallResult& r) {
      return o.OdinS_GetParameters(a.OutStr(0), &r.value);
    },
    [](IMirel240F& o, CallArgs& a, CallResult& r) {
      return o.OdinS_SetParameter(a.Str(0), a.Var(1), &r.value);
    },
    [](IMirel240F& o, CallArgs& a, CallResult& r) {
      return o.OdinS_GetAdditionalActions(a.OutStr(0), &r.value);
    },
    [](IMirel240F& o, CallArgs& a, CallResult& r) {
      return o.OdinS_DoAdditionalAction(a.Str(0), &r.value);
    },
    [](IMirel240F& o, CallArgs& a, CallResult& r) {
      return o.OdinS_DeviceTest(a.OutStr(0), a.OutStr(1), &r.value);
    },
    [](IMirel240F& o, CallArgs& a, CallResult& r) { return o.OdinS_SetLocale(a.Str(0), &r.value); },
    [](IMirel240F& o, CallArgs& a, CallResult& r) {
      return o.OdinS_PrintXReport(a.Str(0), a.Str(1), &r.value);
    },
};

}  // namespace

// ---- Properties --------------------------------------------------------------------------------

HRESULT CMirel240F::RegisterExtensionAs(BSTR* bstrExtensionName) {
  if (!bstrExtensionName) return E_POINTER;
  *bstrExtensionName = Cp1251ToBstr(kExtensionName);
  return *bstrExtensionName ? S_OK : E_OUTOFMEMORY;
}

HRESULT CMirel240F::GetNProps(LONG* plProps) {
  if (!plProps) return E_POINTER;
  *plProps = kPropCount;
  return S_OK;
}

HRESULT CMirel240F::FindProp(BSTR bstrPropName, LONG* plPropNum) {
  if (!plPropNum) return E_POINTER;
  try {
    *plPropNum = bstrPropName ? FindPropNumber(NameOf(bstrPropName)) : -1;
  } catch (...) {
    *plPropNum = -1;
  }
  return *plPropNum >= 0 ? S_OK : S_FALSE;
}

HRESULT CMirel240F::GetPropName(LONG lPropNum, LONG /*lPropAlias*/, BSTR* pbstrPropName) {
  // The English name whatever the alias: the host shows it as the property's own name.
  return ReturnName(IsProp(lPropNum), IsProp(lPropNum) ? &PropName(lPropNum, false) : nullptr,
                    pbstrPropName);
}

HRESULT CMirel240F::GetPropVal(LONG lPropNum, VARIANT* pvarPropVal) {
  if (!pvarPropVal) return E_POINTER;
  VariantInit(pvarPropVal);
  switch (lPropNum) {
    case kPropPort:
      pvarPropVal->vt = VT_I4;
      pvarPropVal->lVal = m_nComPort;
      return S_OK;
    case kPropSpeed:
      pvarPropVal->vt = VT_I4;
      pvarPropVal->lVal = kFixedSpeed;
      return S_OK;
    case kPropUserPassword:
    case kPropAdminPassword:
      pvarPropVal->bstrVal = Cp1251ToBstr(m_szPassword);
      if (!pvarPropVal->bstrVal) return E_OUTOFMEMORY;
      pvarPropVal->vt = VT_BSTR;
      return S_OK;
    case kPropTimeout:
      pvarPropVal->vt = VT_I4;
      pvarPropVal->lVal = m_pDevice->nReadTimeout;
      return S_OK;
    default:
      return S_FALSE;
  }
}

HRESULT CMirel240F::SetPropVal(LONG lPropNum, VARIANT* varPropVal) {
  if (!IsProp(lPropNum) || !varPropVal) return S_FALSE;
  switch (lPropNum) {
    case kPropPort: {
      LONG port = 0;
      if (!VariantToInt32(*varPropVal, &port)) {
        m_pDevice->nLastResult = kResultBadInput;
        return S_FALSE;
      }
      m_nComPort = port;
      return S_OK;
    }
    case kPropUserPassword:
    case kPropAdminPassword: {
      try {
        const std::string password =
            varPropVal->vt == VT_BSTR ? BstrToCp1251(varPropVal->bstrVal) : std::string();
        if (varPropVal->vt == VT_BSTR && IsValidPassword(password)) {
          CopyText(m_szPassword, password.c_str());
          return S_OK;
        }
      } catch (...) {
      }
      m_pDevice->nLastResult = kResultBadPassword;
      return S_FALSE;
    }
    default:  // Speed and Timeout are accepted and not stored: the line speed is fixed.
      return S_OK;
  }
}

HRESULT CMirel240F::IsPropReadable(LONG lPropNum, BOOL* pboolPropRead) {
  return ReturnFlag(IsProp(lPropNum), pboolPropRead);
}

HRESULT CMirel240F::IsPropWritable(LONG lPropNum, BOOL* pboolPropWrite) {
  return ReturnFlag(IsProp(lPropNum), pboolPropWrite);
}

// ---- Methods -----------------------------------------------------------------------------------

HRESULT CMirel240F::GetNMethods(LONG* plMethods) {
  if (!plMethods) return E_POINTER;
  *plMethods = kMethodCount;
  return S_OK;
}

HRESULT CMirel240F::FindMethod(BSTR bstrMethodName, LONG* plMethodNum) {
  if (!plMethodNum) return E_POINTER;
  try {
    *plMethodNum = bstrMethodName ? FindMethodNumber(NameOf(bstrMethodName)) : -1;
  } catch (...) {
    *plMethodNum = -1;
  }
  return *plMethodNum >= 0 ? S_OK : S_FALSE;
}

HRESULT CMirel240F::GetMethodName(LONG lMethodNum, LONG lMethodAlias, BSTR* pbstrMethodName) {
  const bool valid = IsMethod(lMethodNum);
  return ReturnName(valid, valid ? &MethodName(lMethodNum, lMethodAlias != 0) : nullptr,
                    pbstrMethodName);
}

HRESULT CMirel240F::GetNParams(LONG lMethodNum, LONG* plParams) {
  if (!plParams) return E_POINTER;
  *plParams = IsMethod(lMethodNum) ? MethodAt(lMethodNum).nParams : 0;
  return IsMethod(lMethodNum) ? S_OK : S_FALSE;
}

HRESULT CMirel240F::GetParamDefValue(LONG lMethodNum, LONG lParamNum,
                                     VARIANT* pvarParamDefValue) {
  if (!pvarParamDefValue) return E_POINTER;
  if (!IsMethod(lMethodNum) || lParamNum < 0 || lParamNum >= MethodAt(lMethodNum).nParams) {
    return S_FALSE;
  }
  // No parameter has a default value.
  VariantInit(pvarParamDefValue);
  return S_OK;
}

HRESULT CMirel240F::HasRetVal(LONG /*lMethodNum*/, BOOL* pboolRetValue) {
  if (!pboolRetValue) return E_POINTER;
  *pboolRetValue = TRUE;
  return S_OK;
}

HRESULT CMirel240F::CallAsProc(LONG /*lMethodNum*/, SAFEARRAY** /*paParams*/) {
  // Every method is a function; the host calls them through CallAsFunc.
  return S_FALSE;
}

void CMirel240F::NoteCall(LONG lMethodNum) {
  if (IsMethod(lMethodNum)) {
    CopyText(m_szCallName, MethodDisplayName(lMethodNum).c_str());
  } else {
    std::snprintf(m_szCallName, sizeof m_szCallName, "Unknown method: %d",
                  static_cast<int>(lMethodNum));
  }
  LogMessageH("CallAsFunc", m_szCallName);
}

HRESULT CMirel240F::CallAsFunc(LONG lMethodNum, VARIANT* pvarRetValue, SAFEARRAY** paParams) {
  if (!pvarRetValue) return E_POINTER;
  VariantInit(pvarRetValue);
  pvarRetValue->vt = VT_BOOL;
  pvarRetValue->boolVal = VARIANT_FALSE;
  try {
    NoteCall(lMethodNum);
    if (!IsMethod(lMethodNum)) return S_FALSE;
    const MethodInfo& method = MethodAt(lMethodNum);
    SAFEARRAY* psa = paParams ? *paParams : nullptr;

    CallArgs args;
    if (!args.Fetch(psa, method)) return S_FALSE;
    if (!args.Convert(method)) {
      // A number of the wrong type: the method is not called, and GetLastError says why.
      m_pDevice->nLastResult = kResultBadInput;
      m_pDevice->nDeviceError = 0;
      return S_OK;
    }
    CallResult result;
    kInvokers[lMethodNum](*this, args, result);
    if (psa) args.Store(psa, method);

    switch (method.result) {
      case ResultKind::kText:
        pvarRetValue->vt = VT_BSTR;
        pvarRetValue->bstrVal = result.text;
        break;
      case ResultKind::kCode:
        pvarRetValue->vt = VT_I4;
        pvarRetValue->lVal = result.value;
        break;
      case ResultKind::kSuccess:
        pvarRetValue->boolVal = result.value ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    }
    // The host reads the code only after False; a successful Open leaves a clean state.
    if (lMethodNum == kMethodOpen && result.value) m_pDevice->nLastResult = 0;
    return S_OK;
  } catch (...) {
    m_pDevice->nLastResult = kResultInternal;
    VariantInit(pvarRetValue);
    pvarRetValue->vt = VT_BOOL;
    return S_FALSE;
  }
}
