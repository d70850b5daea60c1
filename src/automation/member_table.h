// The shape of the member table that idl_members.py generates from the IDL
// (zelpost_members.h): one entry per function of the interface after the
// IDispatch functions, in function-table order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "automation/com_abi.h"

namespace zel::com {

enum class MemberKind : std::uint8_t { kMethod, kPropertyGet, kPropertyPut };

// Type of an argument or result: BSTR (kText) or long (kNumber).
enum class ValueType : std::uint8_t { kNone, kText, kNumber };

// One argument or result as the function table takes it.
union Value {
  Bstr text;
  std::int32_t number;
};

inline constexpr std::size_t kMaxArguments = 6;  // Initialize has the most

struct Member {
  const char* name;        // as the type library spells it
  DispId id;
  MemberKind kind;
  std::uint8_t slot;       // index in the function table
  std::uint8_t argumentCount;  // input arguments, the [out, retval] one excluded
  ValueType arguments[kMaxArguments];
  ValueType result;        // the [out, retval] argument, or kNone
  const char* helpString;  // Shift-JIS
};

}  // namespace zel::com
