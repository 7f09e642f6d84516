// mirel-host's side of a native add-in component: the host's services as the host platform offers
// them to a Native API component (its connection with the settings profile, error messages and
// platform information; its memory manager), and the component behind the same IInitDone and
// ILanguageExtender calls the COM path makes, so that one session runs the same calls and scripts
// through either front. Values go to the component as tVariant, strings allocated through the host's
// memory manager and freed after the call, as the host platform does.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "addin/host_interfaces.h"
#include "addin/native/native_api.h"
#include "host_services.h"

// The functions of a native add-in library.
struct NativeEntryPoints {
  native::GetClassNamesPtr getClassNames = nullptr;
  native::GetClassObjectPtr getClassObject = nullptr;
  native::DestroyObjectPtr destroyObject = nullptr;
  native::SetPlatformCapabilitiesPtr setPlatformCapabilities = nullptr;
  native::GetAttachTypePtr getAttachType = nullptr;
};

// The host's memory manager: the allocator of every string the host and the component hand each
// other. It counts the blocks given out and not yet freed, so that a session can tell whether
// either side lost one or freed one twice.
class HostMemory final : public native::IMemoryManager {
 public:
  bool MIREL_NATIVE_CALL AllocMemory(void** pMemory, unsigned long ulCountByte) override;
  void MIREL_NATIVE_CALL FreeMemory(void** pMemory) override;
  long Outstanding() const { return m_nOutstanding; }

 private:
  long m_nOutstanding = 0;
};

// The host's connection (IAddInDefBaseEx) over mirel-host's property profile and platform
// information; AddError prints as the COM error log does.
class NativeHostServices final : public native::IAddInDefBaseEx, public native::IPlatformInfo {
 public:
  NativeHostServices(HostConnection& connection, HostMemory& memory);

  bool MIREL_NATIVE_CALL AddError(unsigned short wcode, const native::WCHAR_T* source,
                                  const native::WCHAR_T* descr, long scode) override;
  bool MIREL_NATIVE_CALL Read(native::WCHAR_T* wszPropName, native::tVariant* pVal, long* pErrCode,
                              native::WCHAR_T** errDescriptor) override;
  bool MIREL_NATIVE_CALL Write(native::WCHAR_T* wszPropName, native::tVariant* pVar) override;
  bool MIREL_NATIVE_CALL RegisterProfileAs(native::WCHAR_T* wszProfileName) override;
  bool MIREL_NATIVE_CALL SetEventBufferDepth(long) override { return false; }
  long MIREL_NATIVE_CALL GetEventBufferDepth() override { return 0; }
  bool MIREL_NATIVE_CALL ExternalEvent(native::WCHAR_T*, native::WCHAR_T*, native::WCHAR_T*) override {
    return false;
  }
  void MIREL_NATIVE_CALL CleanEventBuffer() override {}
  // No status line: the host has no window.
  bool MIREL_NATIVE_CALL SetStatusLine(native::WCHAR_T*) override { return false; }
  void MIREL_NATIVE_CALL ResetStatusLine() override {}
  native::IInterface* MIREL_NATIVE_CALL GetInterface(native::Interfaces iface) override;

  const AppInfo* MIREL_NATIVE_CALL GetPlatformInfo() override { return &m_appInfo; }

  // The messages AddError received, one a line (a test reads them).
  const std::string& Errors() const { return m_errors; }

 private:
  HostConnection& m_connection;
  HostMemory& m_memory;
  AppInfo m_appInfo;
  std::string m_errors;
};

// The native component created from its library's entry points, behind IInitDone and the
// ILanguageExtender calls mirel-host makes (FindMethod, GetNParams, CallAsFunc; the others answer
// E_NOTIMPL). `keep` is held for as long as the component lives (the loaded library).
// The connection and the memory are the caller's and must outlive the component.
bool CreateNativeComponent(const NativeEntryPoints& entry, std::shared_ptr<void> keep,
                           HostConnection& connection, HostMemory& memory, IInitDone** ppInitDone,
                           std::string* error);

// The entry points of a loaded library, or false with a message naming the missing one.
bool LoadNativeLibrary(const std::string& path, NativeEntryPoints* entry, std::shared_ptr<void>* keep,
                       std::string* error);

// The object behind a component CreateNativeComponent made, and its host's services.
native::IComponentBase* NativeObjectOf(IInitDone* component);
const NativeHostServices& NativeServicesOf(IInitDone* component);
