// COM and OLE Automation types for the add-in: BSTR, VARIANT, SAFEARRAY, GUID, IUnknown, IDispatch,
// IClassFactory, IPropertyBag, IErrorLog. On Windows these are the system's own declarations; on
// POSIX a compatible layer of ours with the same names and semantics. The include directory of the
// OS (platform/posix or platform/win32) is chosen by the build, so add-in code reads the same on both.
#pragma once

#include "com_os.h"
