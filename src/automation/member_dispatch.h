// IDispatch answered from the member table generated from the IDL: how the
// object serves late-bound callers where no type library exists (POSIX).
#pragma once

#include <cstdint>

#include "automation/zelpost_members.h"

namespace zel::com {

// GetIDsOfNames: names[0] is a member name, matched without regard to
// case; further names (argument names) are not known. Every id is set:
// kDispIdUnknown where a name is unknown. Returns kOk, kUnknownName or
// kPointer.
HResult MemberIdsOfNames(char16_t** names, std::uint32_t count, DispId* ids);

// Invoke: the member `member` of `object` for the DISPATCH_* `flags`, the
// arguments of `params` (last first; a property put may name its value
// kDispIdPropertyPut) converted to the member's types. The result goes to
// `result` when given (else a text result is freed). A failed member call
// gives kException with its code in `exception->scode`; an argument that
// cannot be converted kTypeMismatch or kOverflow with its index in
// `params` in *argumentError.
HResult InvokeMember(IZelpostCom2* object, DispId member, std::uint16_t flags, const DispParams* params,
                     Variant* result, ExcepInfo* exception, std::uint32_t* argumentError);

}  // namespace zel::com
