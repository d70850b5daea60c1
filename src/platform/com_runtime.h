// The COM run-time services of the automation object: BSTR memory and the
// type library of the library's own file.
//
// Windows: oleaut32. POSIX has no COM run time: BSTRs of the same layout
// come from the C heap (a host frees them with free() on the pointer minus
// 4 bytes), and there are no type libraries (the object answers IDispatch
// from its member table instead).
#pragma once

#include <cstdint>

namespace zel {

// A new BSTR: a 32-bit byte count, `length` UTF-16 units copied from `text`
// (zero-filled when `text` is nullptr) and a NUL unit. Returns the pointer to
// the text, or nullptr when out of memory.
char16_t* BstrAllocate(const char16_t* text, std::uint32_t length);

// Frees a BSTR of BstrAllocate; nullptr is ignored.
void BstrFree(char16_t* bstr);

// The type information of interface `iid` (a 16-byte GUID) in the type
// library of the library's own file, for the vtable of a dual interface,
// with one reference for the caller. nullptr when there is none (always on
// POSIX).
void* OwnTypeInfo(const void* iid);

// Adds and drops a reference of a type information; nullptr is ignored.
void TypeInfoAddRef(void* typeInfo);
void TypeInfoRelease(void* typeInfo);

// IDispatch::GetIDsOfNames and IDispatch::Invoke answered from `typeInfo` of
// OwnTypeInfo for `object`, whose function table it describes. `params`,
// `result` and `exception` are DISPPARAMS, VARIANT and EXCEPINFO. Return
// HRESULTs; without a type library E_NOTIMPL.
std::int32_t TypeInfoIdsOfNames(void* typeInfo, char16_t** names, std::uint32_t count, std::int32_t* ids);
std::int32_t TypeInfoInvoke(void* typeInfo, void* object, std::int32_t member, std::uint16_t flags,
                            void* params, void* result, void* exception, std::uint32_t* argumentError);

}  // namespace zel
