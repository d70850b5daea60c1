#include "automation/member_dispatch.h"

#include <cstring>
#include <limits>
#include <string>

#include "automation/bstr_text.h"
#include "platform/ascii_case.h"
#include "platform/com_runtime.h"

namespace zel::com {
namespace {

constexpr int kMaxReferenceDepth = 4;  // VT_BYREF|VT_VARIANT chains followed

// `in` with its references followed: a VT_BYREF|VT_VARIANT to the variant it
// points at, a by-reference scalar or BSTR to its value. False for a null
// reference or a by-reference type the members never take.
bool Resolve(const Variant& in, Variant& out) {
  const Variant* v = &in;
  for (int depth = 0; v->vt == (kVtByRef | kVtVariant); ++depth) {
    if (v->pvarVal == nullptr || depth == kMaxReferenceDepth) return false;
    v = v->pvarVal;
  }
  out = Variant{};
  if ((v->vt & kVtByRef) == 0) {
    out = *v;
    return true;
  }
  out.vt = static_cast<VarType>(v->vt & ~kVtByRef);
  std::size_t size = 0;
  switch (out.vt) {
    case kVtI1: case kVtUi1: size = 1; break;
    case kVtI2: case kVtUi2: case kVtBool: size = 2; break;
    case kVtI4: case kVtUi4: case kVtInt: case kVtUint: size = 4; break;
    case kVtI8: case kVtUi8: size = 8; break;
    case kVtBstr: size = sizeof(Bstr); break;
    default: return false;
  }
  if (v->byref == nullptr) return false;
  std::memcpy(&out.llVal, v->byref, size);
  return true;
}

// The integer of a numeric variant (VT_BOOL true is -1, as in VBScript).
HResult IntegerOf(const Variant& v, std::int64_t& out) {
  switch (v.vt) {
    case kVtEmpty: out = 0; return kOk;
    case kVtI1: out = v.cVal; return kOk;
    case kVtUi1: out = v.bVal; return kOk;
    case kVtI2: case kVtBool: out = v.iVal; return kOk;
    case kVtUi2: out = v.uiVal; return kOk;
    case kVtI4: case kVtInt: out = v.lVal; return kOk;
    case kVtUi4: case kVtUint: out = v.ulVal; return kOk;
    case kVtI8: out = v.llVal; return kOk;
    case kVtUi8:
      if (v.ullVal > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return kOverflow;
      out = static_cast<std::int64_t>(v.ullVal);
      return kOk;
    default: return kTypeMismatch;
  }
}

// A decimal integer, blanks around it allowed.
HResult ParseInteger(const char16_t* text, std::int64_t& out) {
  if (text == nullptr) return kTypeMismatch;
  while (*text == u' ') ++text;
  const bool negative = *text == u'-';
  if (*text == u'-' || *text == u'+') ++text;
  if (*text < u'0' || *text > u'9') return kTypeMismatch;
  std::int64_t value = 0;
  for (; *text >= u'0' && *text <= u'9'; ++text) {
    value = value * 10 + (*text - u'0');
    if (value > std::numeric_limits<std::int32_t>::max() + std::int64_t{1}) return kOverflow;
  }
  while (*text == u' ') ++text;
  if (*text != u'\0') return kTypeMismatch;
  out = negative ? -value : value;
  return kOk;
}

// Converted arguments of one call; owns the BSTRs made for it.
class Arguments {
 public:
  Arguments() = default;
  Arguments(const Arguments&) = delete;
  Arguments& operator=(const Arguments&) = delete;
  ~Arguments() {
    for (std::size_t i = 0; i < count_; ++i) BstrFree(owned_[i]);
  }

  // Converts `argument` to `type` into `value`. kOk, kTypeMismatch,
  // kOverflow or kOutOfMemory.
  HResult Convert(const Variant& argument, ValueType type, Value& value) {
    Variant v;
    if (!Resolve(argument, v)) return kTypeMismatch;
    if (type == ValueType::kText) {
      if (v.vt == kVtBstr) {
        value.text = v.bstrVal;  // borrowed: the caller owns it
        return kOk;
      }
      std::int64_t number = 0;
      if (HResult hr = IntegerOf(v, number); Failed(hr) || v.vt == kVtBool) return kTypeMismatch;
      const std::string digits = v.vt == kVtEmpty ? std::string() : std::to_string(number);
      return Own(std::u16string(digits.begin(), digits.end()), value);
    }
    std::int64_t number = 0;
    const HResult hr = v.vt == kVtBstr ? ParseInteger(v.bstrVal, number) : IntegerOf(v, number);
    if (Failed(hr)) return hr;
    if (number < std::numeric_limits<std::int32_t>::min() || number > std::numeric_limits<std::int32_t>::max()) {
      return kOverflow;
    }
    value.number = static_cast<std::int32_t>(number);
    return kOk;
  }

 private:
  HResult Own(const std::u16string& text, Value& value) {
    value.text = NewBstr(text);
    if (value.text == nullptr) return kOutOfMemory;
    owned_[count_++] = value.text;
    return kOk;
  }

  Bstr owned_[kMaxArguments] = {};
  std::size_t count_ = 0;
};

// The index in kMembers of `member` for `flags`, or -1.
int Find(DispId member, std::uint16_t flags) {
  const bool put = (flags & (kDispatchPropertyPut | kDispatchPropertyPutRef)) != 0;
  for (std::size_t i = 0; i < std::size(kMembers); ++i) {
    const Member& m = kMembers[i];
    if (m.id != member) continue;
    const bool match = put ? m.kind == MemberKind::kPropertyPut
                           : (m.kind == MemberKind::kMethod && (flags & kDispatchMethod) != 0) ||
                                 (m.kind == MemberKind::kPropertyGet && (flags & kDispatchPropertyGet) != 0);
    if (match) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

HResult MemberIdsOfNames(char16_t** names, std::uint32_t count, DispId* ids) {
  if (count == 0) return kOk;
  if (names == nullptr || ids == nullptr) return kPointer;
  for (std::uint32_t i = 0; i < count; ++i) ids[i] = kDispIdUnknown;
  std::string name;
  for (const char16_t* c = names[0]; c != nullptr && *c != u'\0'; ++c) {
    if (*c >= 0x80) return kUnknownName;  // member names are ASCII
    name.push_back(static_cast<char>(*c));
  }
  for (const Member& m : kMembers) {
    if (equalsNoCase(name, m.name)) {
      ids[0] = m.id;
      break;
    }
  }
  return ids[0] == kDispIdUnknown || count > 1 ? kUnknownName : kOk;
}

HResult InvokeMember(IZelpostCom2* object, DispId member, std::uint16_t flags, const DispParams* params,
                     Variant* result, ExcepInfo* exception, std::uint32_t* argumentError) {
  if (params == nullptr) return kInvalidArgument;
  const int index = Find(member, flags);
  if (index < 0) return kMemberNotFound;
  const Member& m = kMembers[index];
  if (params->namedArgumentCount != 0) {
    const bool putValue = m.kind == MemberKind::kPropertyPut && params->namedArgumentCount == 1 &&
                          params->namedArgumentIds != nullptr &&
                          params->namedArgumentIds[0] == kDispIdPropertyPut;
    if (!putValue) return kNoNamedArguments;
  }
  if (params->argumentCount != m.argumentCount) return kBadParameterCount;
  if (m.argumentCount != 0 && params->arguments == nullptr) return kInvalidArgument;

  Arguments arguments;
  Value in[kMaxArguments] = {};
  for (std::uint32_t k = 0; k < m.argumentCount; ++k) {
    const std::uint32_t at = m.argumentCount - 1 - k;  // the last argument comes first
    const HResult hr = arguments.Convert(params->arguments[at], m.arguments[k], in[k]);
    if (Failed(hr)) {
      if (argumentError != nullptr) *argumentError = at;
      return hr;
    }
  }
  Value out{};
  const HResult hr = CallMember(object, static_cast<std::size_t>(index), in, &out);
  if (Failed(hr)) {
    if (exception != nullptr) {
      *exception = ExcepInfo{};
      exception->scode = hr;
    }
    return kException;
  }
  if (result != nullptr && m.result != ValueType::kNone) *result = Variant{};
  if (m.result == ValueType::kText) {
    if (result != nullptr) {
      result->vt = kVtBstr;
      result->bstrVal = out.text;
    } else {
      BstrFree(out.text);
    }
  } else if (m.result == ValueType::kNumber && result != nullptr) {
    result->vt = kVtI4;
    result->lVal = out.number;
  }
  return kOk;
}

}  // namespace zel::com
