#include "automation/com_module.h"

#include <atomic>

#include "automation/zelpost_com.h"
#include "automation/zelpost_members.h"

namespace zel::com {
namespace {

std::atomic<std::int32_t> moduleLocks{0};

// The class factory: one static object; its references lock the module.
HResult ZEL_COM_CALL FactoryQueryInterface(ClassFactory* self, const Guid* iid, void** object) {
  if (object == nullptr) return kPointer;
  *object = nullptr;
  if (iid == nullptr) return kPointer;
  if (!(*iid == kIidIUnknown) && !(*iid == kIidIClassFactory)) return kNoInterface;
  self->vtbl->AddRef(self);
  *object = self;
  return kOk;
}

std::uint32_t ZEL_COM_CALL FactoryAddRef(ClassFactory*) {
  ModuleLock();
  return 2;  // the factory itself never goes away
}

std::uint32_t ZEL_COM_CALL FactoryRelease(ClassFactory*) {
  ModuleUnlock();
  return 1;
}

HResult ZEL_COM_CALL FactoryCreateInstance(ClassFactory*, Unknown* outer, const Guid* iid, void** object) {
  return CreateZelpostCom(outer, iid, object);
}

HResult ZEL_COM_CALL FactoryLockServer(ClassFactory*, std::int32_t lock) {
  if (lock != 0) {
    ModuleLock();
  } else {
    ModuleUnlock();
  }
  return kOk;
}

constexpr ClassFactoryVtbl kFactoryVtbl = {FactoryQueryInterface, FactoryAddRef, FactoryRelease,
                                           FactoryCreateInstance, FactoryLockServer};
ClassFactory factory = {&kFactoryVtbl};

}  // namespace

void ModuleLock() { ++moduleLocks; }

void ModuleUnlock() { --moduleLocks; }

std::int32_t ModuleLockCount() { return moduleLocks.load(); }

}  // namespace zel::com

using namespace zel::com;

extern "C" {

HResult ZEL_COM_CALL DllGetClassObject(const Guid* clsid, const Guid* iid, void** object) {
  if (object == nullptr) return kPointer;
  *object = nullptr;
  if (clsid == nullptr || iid == nullptr) return kPointer;
  if (!(*clsid == kClsidZelpostCom)) return kClassNotAvailable;
  return factory.vtbl->QueryInterface(&factory, iid, object);
}

HResult ZEL_COM_CALL DllCanUnloadNow(void) { return ModuleLockCount() == 0 ? kOk : kFalse; }

}  // extern "C"
