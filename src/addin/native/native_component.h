// CMirel240FNative: the add-in object behind the host's Native API (IComponentBase over tVariant
// values), for hosts that load no COM add-ins, 1C on Linux first of all. It holds a CMirel240F and
// reaches it through its ILanguageExtender and IInitDone, so that both fronts share one method
// table, one set of wrappers and one dispatch (device lock, conversions, identifier check,
// PrepareOperation); this front converts values, allocates what it hands the host through the
// host's memory manager, and refuses calls whose parameters it cannot read, through AddError.
#pragma once

#include "addin/method_table.h"
#include "addin/mirel240f.h"
#include "addin/native/native_api.h"
#include "addin/native/native_connection.h"

namespace native {

// The class name the library offers (GetClassNames, GetClassObject).
extern const WCHAR_T kClassName[];

class CMirel240FNative final : public IComponentBase {
 public:
  CMirel240FNative();
  ~CMirel240FNative();
  CMirel240FNative(const CMirel240FNative&) = delete;
  CMirel240FNative& operator=(const CMirel240FNative&) = delete;

  // IInitDoneBase
  bool MIREL_NATIVE_CALL Init(void* disp) override;
  bool MIREL_NATIVE_CALL setMemManager(void* mem) override;
  long MIREL_NATIVE_CALL GetInfo() override;
  void MIREL_NATIVE_CALL Done() override;

  // ILanguageExtenderBase
  bool MIREL_NATIVE_CALL RegisterExtensionAs(WCHAR_T** wsExtensionName) override;
  long MIREL_NATIVE_CALL GetNProps() override;
  long MIREL_NATIVE_CALL FindProp(const WCHAR_T* wsPropName) override;
  const WCHAR_T* MIREL_NATIVE_CALL GetPropName(long lPropNum, long lPropAlias) override;
  bool MIREL_NATIVE_CALL GetPropVal(const long lPropNum, tVariant* pvarPropVal) override;
  bool MIREL_NATIVE_CALL SetPropVal(const long lPropNum, tVariant* varPropVal) override;
  bool MIREL_NATIVE_CALL IsPropReadable(const long lPropNum) override;
  bool MIREL_NATIVE_CALL IsPropWritable(const long lPropNum) override;
  long MIREL_NATIVE_CALL GetNMethods() override;
  long MIREL_NATIVE_CALL FindMethod(const WCHAR_T* wsMethodName) override;
  const WCHAR_T* MIREL_NATIVE_CALL GetMethodName(const long lMethodNum, const long lMethodAlias) override;
  long MIREL_NATIVE_CALL GetNParams(const long lMethodNum) override;
  bool MIREL_NATIVE_CALL GetParamDefValue(const long lMethodNum, const long lParamNum,
                                          tVariant* pvarParamDefValue) override;
  bool MIREL_NATIVE_CALL HasRetVal(const long lMethodNum) override;
  bool MIREL_NATIVE_CALL CallAsProc(const long lMethodNum, tVariant* paParams,
                                    const long lSizeArray) override;
  bool MIREL_NATIVE_CALL CallAsFunc(const long lMethodNum, tVariant* pvarRetValue, tVariant* paParams,
                                    const long lSizeArray) override;

  // LocaleBase
  void MIREL_NATIVE_CALL SetLocale(const WCHAR_T* loc) override;

  // The add-in object behind this front (a test reaches its device context through it).
  CMirel240F* Object() const { return m_pObject; }

 private:
  bool Refuse(long lMethodNum, const char* what);
  bool StoreOuts(const MethodInfo& method, SAFEARRAY* psa, tVariant* paParams);
  const WCHAR_T* HostName(HRESULT hr, BSTR name);
  bool HostBool(HRESULT hr, BOOL flag) const { return hr == S_OK && flag; }

  CMirel240F* m_pObject;  // one reference, ours
  IAddInDefBase* m_pHost = nullptr;
  IMemoryManager* m_pMemory = nullptr;
  NativeConnection* m_pConnection = nullptr;  // from Init to Done
};

}  // namespace native
