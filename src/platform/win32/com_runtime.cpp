#include "platform/com_runtime.h"

#include <windows.h>
#include <oleauto.h>

#include <string>

#include "platform/win32/own_module.h"

namespace zel {
namespace {

ITypeInfo* Info(void* typeInfo) { return static_cast<ITypeInfo*>(typeInfo); }

// The type library of the library's own file (its TYPELIB resource 1).
ITypeLib* OwnTypeLibrary() {
  const std::wstring file = OwnModuleWidePath();
  ITypeLib* library = nullptr;
  if (file.empty() || FAILED(LoadTypeLibEx(file.c_str(), REGKIND_NONE, &library))) return nullptr;
  return library;
}

}  // namespace

char16_t* BstrAllocate(const char16_t* text, std::uint32_t length) {
  return reinterpret_cast<char16_t*>(SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text), length));
}

void BstrFree(char16_t* bstr) { SysFreeString(reinterpret_cast<BSTR>(bstr)); }

void* OwnTypeInfo(const void* iid) {
  ITypeLib* library = OwnTypeLibrary();
  if (library == nullptr) return nullptr;
  ITypeInfo* info = nullptr;
  HRESULT hr = library->GetTypeInfoOfGuid(*static_cast<const GUID*>(iid), &info);
  library->Release();
  if (FAILED(hr)) return nullptr;
  // A dual interface is described twice; Invoke needs the function-table
  // half (TKIND_INTERFACE), which the dispatch half refers to as index -1.
  TYPEATTR* attributes = nullptr;
  if (SUCCEEDED(info->GetTypeAttr(&attributes))) {
    const bool dual = attributes->typekind == TKIND_DISPATCH && (attributes->wTypeFlags & TYPEFLAG_FDUAL) != 0;
    info->ReleaseTypeAttr(attributes);
    HREFTYPE reference = 0;
    ITypeInfo* vtable = nullptr;
    if (dual && SUCCEEDED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &reference)) &&
        SUCCEEDED(info->GetRefTypeInfo(reference, &vtable))) {
      info->Release();
      info = vtable;
    }
  }
  return info;
}

void TypeInfoAddRef(void* typeInfo) {
  if (typeInfo != nullptr) Info(typeInfo)->AddRef();
}

void TypeInfoRelease(void* typeInfo) {
  if (typeInfo != nullptr) Info(typeInfo)->Release();
}

std::int32_t TypeInfoIdsOfNames(void* typeInfo, char16_t** names, std::uint32_t count, std::int32_t* ids) {
  return DispGetIDsOfNames(Info(typeInfo), reinterpret_cast<OLECHAR**>(names), count,
                           reinterpret_cast<DISPID*>(ids));
}

std::int32_t TypeInfoInvoke(void* typeInfo, void* object, std::int32_t member, std::uint16_t flags,
                            void* params, void* result, void* exception, std::uint32_t* argumentError) {
  return DispInvoke(object, Info(typeInfo), member, flags, static_cast<DISPPARAMS*>(params),
                    static_cast<VARIANT*>(result), static_cast<EXCEPINFO*>(exception),
                    reinterpret_cast<UINT*>(argumentError));
}

}  // namespace zel
