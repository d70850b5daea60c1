// The binary interface of COM as far as the automation object uses it.
//
// Windows defines these types in its own headers, which only the platform
// layer may include; POSIX has none. Both builds use these definitions,
// laid out exactly as Windows lays out GUID, BSTR, VARIANT, DISPPARAMS,
// EXCEPINFO and the IUnknown and IClassFactory function tables, so a host
// reaches the object through the same function-table layout everywhere.
// The structures are plain C layouts: a C host or ctypes can mirror them.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define ZEL_COM_CALL __stdcall
#else
#define ZEL_COM_CALL
#endif

namespace zel::com {

using HResult = std::int32_t;   // HRESULT
using DispId = std::int32_t;    // DISPID
using VarType = std::uint16_t;  // VARTYPE
using Bstr = char16_t*;         // BSTR: UTF-16 text after a 32-bit byte count

struct Guid {  // GUID
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::uint8_t data4[8];
};

constexpr bool operator==(const Guid& a, const Guid& b) {
  if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3) return false;
  for (int i = 0; i < 8; ++i) {
    if (a.data4[i] != b.data4[i]) return false;
  }
  return true;
}

// Identifiers of the standard interfaces.
inline constexpr Guid kIidNull = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr Guid kIidIUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr Guid kIidIDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr Guid kIidIClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// Result codes (the Windows names in the comments).
inline constexpr HResult kOk = 0;                                                      // S_OK
inline constexpr HResult kFalse = 1;                                                   // S_FALSE
inline constexpr HResult kNotImplemented = static_cast<HResult>(0x80004001);           // E_NOTIMPL
inline constexpr HResult kNoInterface = static_cast<HResult>(0x80004002);              // E_NOINTERFACE
inline constexpr HResult kPointer = static_cast<HResult>(0x80004003);                  // E_POINTER
inline constexpr HResult kUnexpected = static_cast<HResult>(0x8000FFFF);               // E_UNEXPECTED
inline constexpr HResult kOutOfMemory = static_cast<HResult>(0x8007000E);              // E_OUTOFMEMORY
inline constexpr HResult kInvalidArgument = static_cast<HResult>(0x80070057);          // E_INVALIDARG
inline constexpr HResult kNoUnicodeTranslation = static_cast<HResult>(0x80070459);     // HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION)
inline constexpr HResult kNoAggregation = static_cast<HResult>(0x80040110);            // CLASS_E_NOAGGREGATION
inline constexpr HResult kClassNotAvailable = static_cast<HResult>(0x80040111);        // CLASS_E_CLASSNOTAVAILABLE
inline constexpr HResult kUnknownInterface = static_cast<HResult>(0x80020001);         // DISP_E_UNKNOWNINTERFACE
inline constexpr HResult kMemberNotFound = static_cast<HResult>(0x80020003);           // DISP_E_MEMBERNOTFOUND
inline constexpr HResult kTypeMismatch = static_cast<HResult>(0x80020005);             // DISP_E_TYPEMISMATCH
inline constexpr HResult kUnknownName = static_cast<HResult>(0x80020006);              // DISP_E_UNKNOWNNAME
inline constexpr HResult kNoNamedArguments = static_cast<HResult>(0x80020007);         // DISP_E_NONAMEDARGS
inline constexpr HResult kException = static_cast<HResult>(0x80020009);                // DISP_E_EXCEPTION
inline constexpr HResult kOverflow = static_cast<HResult>(0x8002000A);                 // DISP_E_OVERFLOW
inline constexpr HResult kBadIndex = static_cast<HResult>(0x8002000B);                 // DISP_E_BADINDEX
inline constexpr HResult kBadParameterCount = static_cast<HResult>(0x8002000E);        // DISP_E_BADPARAMCOUNT

constexpr bool Failed(HResult hr) { return hr < 0; }

// Variant types (VT_*) the object takes or gives.
inline constexpr VarType kVtEmpty = 0;
inline constexpr VarType kVtNull = 1;
inline constexpr VarType kVtI2 = 2;
inline constexpr VarType kVtI4 = 3;
inline constexpr VarType kVtBstr = 8;
inline constexpr VarType kVtBool = 11;
inline constexpr VarType kVtVariant = 12;
inline constexpr VarType kVtI1 = 16;
inline constexpr VarType kVtUi1 = 17;
inline constexpr VarType kVtUi2 = 18;
inline constexpr VarType kVtUi4 = 19;
inline constexpr VarType kVtI8 = 20;
inline constexpr VarType kVtUi8 = 21;
inline constexpr VarType kVtInt = 22;
inline constexpr VarType kVtUint = 23;
inline constexpr VarType kVtByRef = 0x4000;

// Invoke flags (DISPATCH_*) and the DISPIDs with a fixed meaning.
inline constexpr std::uint16_t kDispatchMethod = 1;
inline constexpr std::uint16_t kDispatchPropertyGet = 2;
inline constexpr std::uint16_t kDispatchPropertyPut = 4;
inline constexpr std::uint16_t kDispatchPropertyPutRef = 8;
inline constexpr DispId kDispIdUnknown = -1;
inline constexpr DispId kDispIdPropertyPut = -3;

struct Variant {  // VARIANT (VARIANTARG)
  VarType vt;
  std::uint16_t reserved1;
  std::uint16_t reserved2;
  std::uint16_t reserved3;
  union {
    std::int64_t llVal;
    std::uint64_t ullVal;
    std::int32_t lVal;
    std::uint32_t ulVal;
    std::int16_t iVal;
    std::uint16_t uiVal;
    std::int8_t cVal;
    std::uint8_t bVal;
    std::int16_t boolVal;  // VARIANT_TRUE is -1
    double dblVal;
    Bstr bstrVal;
    Bstr* pbstrVal;
    Variant* pvarVal;
    void* byref;
    struct {
      void* value;
      void* recordInfo;
    } record;  // the largest member: gives VARIANT its size
  };
};
static_assert(sizeof(Variant) == 8 + 2 * sizeof(void*) || sizeof(Variant) == 16,
              "VARIANT is 16 bytes on 32-bit and 24 bytes on 64-bit platforms");

struct DispParams {  // DISPPARAMS
  Variant* arguments;         // rgvarg, last argument first
  DispId* namedArgumentIds;   // rgdispidNamedArgs
  std::uint32_t argumentCount;       // cArgs
  std::uint32_t namedArgumentCount;  // cNamedArgs
};

struct ExcepInfo {  // EXCEPINFO
  std::uint16_t code;
  std::uint16_t reserved;
  Bstr source;
  Bstr description;
  Bstr helpFile;
  std::uint32_t helpContext;
  void* reserved2;
  HResult(ZEL_COM_CALL* deferredFillIn)(ExcepInfo*);
  HResult scode;
};

struct Unknown;
struct UnknownVtbl {  // IUnknown
  HResult(ZEL_COM_CALL* QueryInterface)(Unknown* self, const Guid* iid, void** object);
  std::uint32_t(ZEL_COM_CALL* AddRef)(Unknown* self);
  std::uint32_t(ZEL_COM_CALL* Release)(Unknown* self);
};
struct Unknown {
  const UnknownVtbl* vtbl;
};

struct ClassFactory;
struct ClassFactoryVtbl {  // IClassFactory
  HResult(ZEL_COM_CALL* QueryInterface)(ClassFactory* self, const Guid* iid, void** object);
  std::uint32_t(ZEL_COM_CALL* AddRef)(ClassFactory* self);
  std::uint32_t(ZEL_COM_CALL* Release)(ClassFactory* self);
  HResult(ZEL_COM_CALL* CreateInstance)(ClassFactory* self, Unknown* outer, const Guid* iid,
                                        void** object);
  HResult(ZEL_COM_CALL* LockServer)(ClassFactory* self, std::int32_t lock);
};
struct ClassFactory {
  const ClassFactoryVtbl* vtbl;
};

}  // namespace zel::com
