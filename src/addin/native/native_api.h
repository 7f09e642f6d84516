// The host's native add-in interfaces (its "Native API"), declared from the host's published
// description: the value record tVariant, the interfaces a component object implements
// (IInitDoneBase, ILanguageExtenderBase, LocaleBase, together IComponentBase), the services the
// host offers it (IAddInDefBase with its extension, IMemoryManager, the platform information) and
// the functions a component library exports. The order of the virtual methods is the host's vtable
// order and must not change; how the destructor slot and the calling convention are laid out on
// each system is in the OS's native_abi_os.h.
#pragma once

#include <cstdint>
#include <ctime>

#include "native_abi_os.h"
#include "platform/com.h"

namespace native {

// The host's 16-bit text unit: wchar_t on Windows, a 16-bit unit of its own on Linux; the same as
// OLECHAR on both, so a BSTR's characters are WCHAR_T characters.
typedef OLECHAR WCHAR_T;

// The type of a tVariant's value.
typedef uint16_t TYPEVAR;
enum : TYPEVAR {
  VTYPE_EMPTY = 0,
  VTYPE_NULL = 1,
  VTYPE_I2 = 2,
  VTYPE_I4 = 3,
  VTYPE_R4 = 4,
  VTYPE_R8 = 5,
  VTYPE_DATE = 6,
  VTYPE_TM = 7,
  VTYPE_PSTR = 8,
  VTYPE_INTERFACE = 9,
  VTYPE_ERROR = 10,
  VTYPE_BOOL = 11,
  VTYPE_VARIANT = 12,
  VTYPE_I1 = 13,
  VTYPE_UI1 = 14,
  VTYPE_UI2 = 15,
  VTYPE_UI4 = 16,
  VTYPE_I8 = 17,
  VTYPE_UI8 = 18,
  VTYPE_INT = 19,
  VTYPE_UINT = 20,
  VTYPE_HRESULT = 21,
  VTYPE_PWSTR = 22,
  VTYPE_BLOB = 23,
  VTYPE_CLSID = 24,
};

// One value passed between the host and the component: the value (one member of the union, chosen
// by vt), the element count of an array value, and the type. Strings are a pointer and a length in
// characters; the host does not promise a terminating NUL.
struct tVariant {
  union {
    int8_t i8Val;
    int16_t shortVal;
    int32_t lVal;
    int intVal;
    unsigned int uintVal;
    int64_t llVal;
    uint8_t ui8Val;
    uint16_t ushortVal;
    uint32_t ulVal;
    uint64_t ullVal;
    int32_t errCode;
    long hRes;
    float fltVal;
    double dblVal;
    bool bVal;
    char chVal;
    wchar_t wchVal;
    double date;
    IID IDVal;
    tVariant* pvarVal;
    struct tm tmVal;
    struct {
      void* pInterfaceVal;
      IID InterfaceID;
    };
    struct {
      char* pstrVal;
      uint32_t strLen;
    };
    struct {
      WCHAR_T* pwstrVal;
      uint32_t wstrLen;
    };
  };
  uint32_t cbElements;
  TYPEVAR vt;
};

// ---- The component object ------------------------------------------------------------------------

class IInitDoneBase {
 public:
  MIREL_NATIVE_DESTRUCTOR(IInitDoneBase)
  // disp is the host's IAddInDefBase.
  virtual bool MIREL_NATIVE_CALL Init(void* disp) = 0;
  // mem is the host's IMemoryManager, the only allocator of what the component hands the host.
  virtual bool MIREL_NATIVE_CALL setMemManager(void* mem) = 0;
  // The version of the add-in interface (2000 for version 2).
  virtual long MIREL_NATIVE_CALL GetInfo() = 0;
  virtual void MIREL_NATIVE_CALL Done() = 0;
};

class ILanguageExtenderBase {
 public:
  MIREL_NATIVE_DESTRUCTOR(ILanguageExtenderBase)
  virtual bool MIREL_NATIVE_CALL RegisterExtensionAs(WCHAR_T** wsExtensionName) = 0;
  virtual long MIREL_NATIVE_CALL GetNProps() = 0;
  virtual long MIREL_NATIVE_CALL FindProp(const WCHAR_T* wsPropName) = 0;
  virtual const WCHAR_T* MIREL_NATIVE_CALL GetPropName(long lPropNum, long lPropAlias) = 0;
  virtual bool MIREL_NATIVE_CALL GetPropVal(const long lPropNum, tVariant* pvarPropVal) = 0;
  virtual bool MIREL_NATIVE_CALL SetPropVal(const long lPropNum, tVariant* varPropVal) = 0;
  virtual bool MIREL_NATIVE_CALL IsPropReadable(const long lPropNum) = 0;
  virtual bool MIREL_NATIVE_CALL IsPropWritable(const long lPropNum) = 0;
  virtual long MIREL_NATIVE_CALL GetNMethods() = 0;
  virtual long MIREL_NATIVE_CALL FindMethod(const WCHAR_T* wsMethodName) = 0;
  virtual const WCHAR_T* MIREL_NATIVE_CALL GetMethodName(const long lMethodNum, const long lMethodAlias) = 0;
  virtual long MIREL_NATIVE_CALL GetNParams(const long lMethodNum) = 0;
  virtual bool MIREL_NATIVE_CALL GetParamDefValue(const long lMethodNum, const long lParamNum,
                                                  tVariant* pvarParamDefValue) = 0;
  virtual bool MIREL_NATIVE_CALL HasRetVal(const long lMethodNum) = 0;
  virtual bool MIREL_NATIVE_CALL CallAsProc(const long lMethodNum, tVariant* paParams,
                                            const long lSizeArray) = 0;
  virtual bool MIREL_NATIVE_CALL CallAsFunc(const long lMethodNum, tVariant* pvarRetValue, tVariant* paParams,
                                            const long lSizeArray) = 0;
};

class LocaleBase {
 public:
  MIREL_NATIVE_DESTRUCTOR(LocaleBase)
  virtual void MIREL_NATIVE_CALL SetLocale(const WCHAR_T* loc) = 0;
};

// The component object as the host holds it: the three interfaces in this order, each with its own
// vtable pointer.
class IComponentBase : public IInitDoneBase, public ILanguageExtenderBase, public LocaleBase {};

// ---- The host's services ---------------------------------------------------------------------------

class IMemoryManager {
 public:
  MIREL_NATIVE_DESTRUCTOR(IMemoryManager)
  virtual bool MIREL_NATIVE_CALL AllocMemory(void** pMemory, unsigned long ulCountByte) = 0;
  virtual void MIREL_NATIVE_CALL FreeMemory(void** pMemory) = 0;
};

// The message codes of AddError.
enum : unsigned short {
  ADDIN_E_NONE = 1000,
  ADDIN_E_ORDINARY = 1001,
  ADDIN_E_ATTENTION = 1002,
  ADDIN_E_IMPORTANT = 1003,
  ADDIN_E_VERY_IMPORTANT = 1004,
  ADDIN_E_INFO = 1005,
  ADDIN_E_FAIL = 1006,
};

// What the host's extended connection can hand out by GetInterface.
enum Interfaces { eIMsgBox = 0, eIPlatformInfo };

struct IInterface {};

class IPlatformInfo : public IInterface {
 public:
  enum AppType {
    eAppUnknown = -1,
    eAppThinClient = 0,
    eAppThickClient,
    eAppWebClient,
    eAppServer,
    eAppExtConn,
    eAppMobileClient,
    eAppMobileServer,
  };
  struct AppInfo {
    const WCHAR_T* AppVersion;
    AppType Application;
    const WCHAR_T* UserAgentInformation;
  };
  virtual const AppInfo* MIREL_NATIVE_CALL GetPlatformInfo() = 0;
};

class IAddInDefBase {
 public:
  MIREL_NATIVE_DESTRUCTOR(IAddInDefBase)
  // A message for the host's user; a non-zero scode also raises an exception in the host's script.
  virtual bool MIREL_NATIVE_CALL AddError(unsigned short wcode, const WCHAR_T* source, const WCHAR_T* descr,
                                          long scode) = 0;
  // The settings profile. A failed Read may give an error description the host allocated; the
  // component frees it, and a string value, through the memory manager.
  virtual bool MIREL_NATIVE_CALL Read(WCHAR_T* wszPropName, tVariant* pVal, long* pErrCode,
                                      WCHAR_T** errDescriptor) = 0;
  virtual bool MIREL_NATIVE_CALL Write(WCHAR_T* wszPropName, tVariant* pVar) = 0;
  virtual bool MIREL_NATIVE_CALL RegisterProfileAs(WCHAR_T* wszProfileName) = 0;
  virtual bool MIREL_NATIVE_CALL SetEventBufferDepth(long lDepth) = 0;
  virtual long MIREL_NATIVE_CALL GetEventBufferDepth() = 0;
  virtual bool MIREL_NATIVE_CALL ExternalEvent(WCHAR_T* wszSource, WCHAR_T* wszMessage, WCHAR_T* wszData) = 0;
  virtual void MIREL_NATIVE_CALL CleanEventBuffer() = 0;
  virtual bool MIREL_NATIVE_CALL SetStatusLine(WCHAR_T* wszStatusLine) = 0;
  virtual void MIREL_NATIVE_CALL ResetStatusLine() = 0;
};

// The connection of a host that announced capabilities (SetPlatformCapabilities) of level 1 or more.
class IAddInDefBaseEx : public IAddInDefBase {
 public:
  virtual IInterface* MIREL_NATIVE_CALL GetInterface(Interfaces iface) = 0;
};

// ---- The library's exported functions --------------------------------------------------------------

enum AppCapabilities {
  eAppCapabilitiesInvalid = -1,
  eAppCapabilities1 = 1,
  eAppCapabilities2 = 2,
  eAppCapabilities3 = 3,
};

enum AttachType {
  eCanAttachNotIsolated = 1,
  eCanAttachIsolated,
  eCanAttachAny,
};

typedef const WCHAR_T* (*GetClassNamesPtr)();
typedef long (*GetClassObjectPtr)(const WCHAR_T* wsName, IComponentBase** pIntf);
typedef long (*DestroyObjectPtr)(IComponentBase** pIntf);
typedef AppCapabilities (*SetPlatformCapabilitiesPtr)(const AppCapabilities capabilities);
typedef AttachType (*GetAttachTypePtr)();

}  // namespace native

// The exports the host looks up by name (plain C names, the default calling convention).
extern "C" {
const native::WCHAR_T* GetClassNames();
long GetClassObject(const native::WCHAR_T* wsName, native::IComponentBase** pIntf);
long DestroyObject(native::IComponentBase** pIntf);
native::AppCapabilities SetPlatformCapabilities(const native::AppCapabilities capabilities);
native::AttachType GetAttachType();
}
