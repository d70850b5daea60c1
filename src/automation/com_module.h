// The library as a COM server: the lock count of the module, the class
// factory of ZelpostCom and the exports through which a host reaches it.
#pragma once

#include <cstdint>

#include "automation/com_abi.h"

#if defined(_WIN32)
#define ZEL_COM_EXPORT
#else
#define ZEL_COM_EXPORT __attribute__((visibility("default")))
#endif

namespace zel::com {

// Locks held on the module: live objects, server locks, class factory
// references. The library may be unloaded only when the count is 0.
void ModuleLock();
void ModuleUnlock();
std::int32_t ModuleLockCount();

}  // namespace zel::com

extern "C" {

// The class factory of ZelpostCom (`clsid`) as interface `iid` in *object.
// Returns S_OK, CLASS_E_CLASSNOTAVAILABLE for another class, E_NOINTERFACE,
// or E_POINTER.
ZEL_COM_EXPORT zel::com::HResult ZEL_COM_CALL DllGetClassObject(const zel::com::Guid* clsid,
                                                               const zel::com::Guid* iid, void** object);

// S_OK when no object, server lock or factory reference is alive, else
// S_FALSE.
ZEL_COM_EXPORT zel::com::HResult ZEL_COM_CALL DllCanUnloadNow(void);

}  // extern "C"
