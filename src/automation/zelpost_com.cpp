#include "automation/zelpost_com.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <new>
#include <string>
#include <tuple>
#include <type_traits>

#include "api/entry_checks.h"
#include "api/inet_mail.h"
#include "automation/bstr_text.h"
#include "automation/com_module.h"
#include "automation/member_dispatch.h"
#include "automation/zelpost_members.h"
#include "platform/com_runtime.h"

namespace zel::com {
namespace {

// The object. IZelpostCom2 (and with it IZelpostCom and IDispatch, whose
// function tables are its first part) comes first, so its interface
// pointer is the object's address; `inner` is the non-delegating IUnknown.
// Without aggregation `controlling` is `inner` itself.
struct ZelpostCom {
  IZelpostCom2 dual;
  Unknown inner;
  Unknown* controlling;
  std::atomic<std::uint32_t> references;
  InetMail* session;
  void* typeInfo;  // Windows: loaded on the first IDispatch call needing it
  bool typeInfoLoaded;
};
static_assert(std::is_standard_layout_v<ZelpostCom>);

ZelpostCom* FromDual(IZelpostCom2* self) { return reinterpret_cast<ZelpostCom*>(self); }

ZelpostCom* FromInner(Unknown* self) {
  return reinterpret_cast<ZelpostCom*>(reinterpret_cast<char*>(self) - offsetof(ZelpostCom, inner));
}

void* TypeInfo(ZelpostCom* object) {
  if (!object->typeInfoLoaded) {
    object->typeInfo = OwnTypeInfo(&kIidIZelpostCom2);
    object->typeInfoLoaded = true;
  }
  return object->typeInfo;
}

void Destroy(ZelpostCom* object) {
  delete object->session;
  TypeInfoRelease(object->typeInfo);
  delete object;
  ModuleUnlock();
}

// The non-delegating IUnknown: the object's own identity and count.
HResult ZEL_COM_CALL InnerQueryInterface(Unknown* self, const Guid* iid, void** object) {
  if (object == nullptr) return kPointer;
  *object = nullptr;
  if (iid == nullptr) return kPointer;
  ZelpostCom* o = FromInner(self);
  if (*iid == kIidIUnknown) {
    *object = &o->inner;
  } else if (*iid == kIidIDispatch || *iid == kIidIZelpostCom || *iid == kIidIZelpostCom2) {
    *object = &o->dual;
  } else {
    return kNoInterface;
  }
  // The reference goes to whoever owns the pointer handed out.
  Unknown* owner = static_cast<Unknown*>(*object) == &o->inner ? &o->inner : o->controlling;
  owner->vtbl->AddRef(owner);
  return kOk;
}

std::uint32_t ZEL_COM_CALL InnerAddRef(Unknown* self) { return ++FromInner(self)->references; }

std::uint32_t ZEL_COM_CALL InnerRelease(Unknown* self) {
  ZelpostCom* o = FromInner(self);
  const std::uint32_t left = --o->references;
  if (left == 0) Destroy(o);
  return left;
}

constexpr UnknownVtbl kInnerVtbl = {InnerQueryInterface, InnerAddRef, InnerRelease};

// IUnknown of IZelpostCom: always the controlling IUnknown's.
HResult ZEL_COM_CALL QueryInterface(IZelpostCom2* self, const Guid* iid, void** object) {
  Unknown* c = FromDual(self)->controlling;
  return c->vtbl->QueryInterface(c, iid, object);
}

std::uint32_t ZEL_COM_CALL AddRef(IZelpostCom2* self) {
  Unknown* c = FromDual(self)->controlling;
  return c->vtbl->AddRef(c);
}

std::uint32_t ZEL_COM_CALL Release(IZelpostCom2* self) {
  Unknown* c = FromDual(self)->controlling;
  return c->vtbl->Release(c);
}

// One member call holds a reference on the object until it returns, so a
// Release arriving meanwhile (from a message pumped during RecvMailAll)
// cannot destroy the session under the running operation.
class MemberCall {
 public:
  explicit MemberCall(IZelpostCom2* self) : self_(self) { AddRef(self_); }
  ~MemberCall() { Release(self_); }
  MemberCall(const MemberCall&) = delete;
  MemberCall& operator=(const MemberCall&) = delete;
  InetMail& session() const { return *FromDual(self_)->session; }

 private:
  IZelpostCom2* self_;
};

// Runs `body` and turns an escaping exception into an HRESULT.
template <typename Body>
HResult Guarded(Body body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  } catch (...) {
    return kUnexpected;
  }
}

// A member with BSTR arguments `texts` and the result *out (a long, or a
// BSTR from the host text `body` returns). The arguments are converted to
// host text, `body` gets the session and them, in order. *out is set on
// every path; a failed conversion calls nothing.
template <typename Result, typename Body, typename... Texts>
HResult Forward(IZelpostCom2* self, Result* out, Body body, Texts... texts) {
  if (out == nullptr) return kPointer;
  *out = Result{};
  MemberCall call(self);
  return Guarded([&]() -> HResult {
    std::array<HostText, sizeof...(Texts)> arguments;
    const Bstr given[] = {texts..., nullptr};
    for (std::size_t i = 0; i < arguments.size(); ++i) {
      if (const HResult hr = arguments[i].Assign(given[i]); Failed(hr)) return hr;
    }
    auto result = std::apply([&](const auto&... a) { return body(call.session(), a.get()...); }, arguments);
    if constexpr (std::is_same_v<Result, Bstr>) {
      return NewBstr(result, out);
    } else {
      *out = result;
      return kOk;
    }
  });
}

// The options behind the properties, one instance per option name. Those
// of IZelpostCom2 are reached by name only, so a property works as soon as
// the session knows its option.
constexpr char kHostWindow[] = "HWND";
constexpr char kDelete[] = "DELE";
constexpr char kPopBeforeSmtp[] = "POPBEFORESMTP";
constexpr char kSilent[] = "SILENT";
constexpr char kExecuteType[] = "EXECUTE_TYPE";
constexpr char kApop[] = "APOP";
constexpr char kTls[] = "TLS";
constexpr char kSmtpAuth[] = "SMTPAUTH";
constexpr char kPopAuth[] = "POPAUTH";
constexpr char kTimeout[] = "TIMEOUT";
constexpr char kTlsCaFile[] = "TLSCAFILE";
constexpr char kLogDir[] = "LOGDIR";
constexpr char kErrDetail[] = "ERRDETAIL";
constexpr char kErrClass[] = "ERRCLASS";
constexpr char kCharset[] = "CHARSET";
constexpr char kSendFileCharset[] = "SENDFILECHARSET";
constexpr char kDecode[] = "DECODE";
constexpr char kDeleSeen[] = "DELESEEN";
constexpr char kMaxSize[] = "MAXSIZE";

// A refused value (the option's setter gives -1: TLS 7, POPAUTH 3) is an
// error for the script, not a silent no-op.
constexpr HResult kRefusedValue = kInvalidArgument;

// The longest option text read: a reason (ERRDETAIL) or a path.
constexpr std::size_t kOptionTextSize = 1024;

std::string OptionText(const InetMail& s, const char* name) {
  char buffer[kOptionTextSize] = {};
  s.GetValueStr(name, buffer, sizeof buffer);
  return buffer;
}

template <const char* kName>
HResult ZEL_COM_CALL GetOption(IZelpostCom2* self, std::int32_t* value) {
  return Forward(self, value, [](InetMail& s) { return s.GetValueInt(kName); });
}

template <const char* kName>
HResult ZEL_COM_CALL PutOption(IZelpostCom2* self, std::int32_t value) {
  MemberCall call(self);
  call.session().SetValueInt(kName, value);
  return kOk;
}

template <const char* kName>
HResult ZEL_COM_CALL PutCheckedOption(IZelpostCom2* self, std::int32_t value) {
  MemberCall call(self);
  return call.session().SetValueInt(kName, value) == -1 ? kRefusedValue : kOk;
}

template <const char* kName>
HResult ZEL_COM_CALL GetTextOption(IZelpostCom2* self, Bstr* text) {
  return Forward(self, text, [](InetMail& s) { return OptionText(s, kName); });
}

template <const char* kName>
HResult ZEL_COM_CALL PutTextOption(IZelpostCom2* self, Bstr text) {
  std::int32_t ignored = 0;
  return Forward(
      self, &ignored, [](InetMail& s, const char* value) { return s.SetValueStr(kName, value); }, text);
}

// IDispatch: from the type library where there is one (Windows), else from
// the member table generated from the same IDL.
HResult ZEL_COM_CALL GetTypeInfoCount(IZelpostCom2* self, std::uint32_t* count) {
  if (count == nullptr) return kPointer;
  *count = TypeInfo(FromDual(self)) != nullptr ? 1 : 0;
  return kOk;
}

HResult ZEL_COM_CALL GetTypeInfo(IZelpostCom2* self, std::uint32_t index, std::uint32_t, void** typeInfo) {
  if (typeInfo == nullptr) return kPointer;
  *typeInfo = nullptr;
  void* info = TypeInfo(FromDual(self));
  if (index != 0 || info == nullptr) return kBadIndex;
  TypeInfoAddRef(info);
  *typeInfo = info;
  return kOk;
}

HResult ZEL_COM_CALL GetIDsOfNames(IZelpostCom2* self, const Guid* iid, char16_t** names, std::uint32_t count,
                                   std::uint32_t, DispId* ids) {
  if (iid == nullptr || !(*iid == kIidNull)) return kUnknownInterface;
  void* info = TypeInfo(FromDual(self));
  if (info != nullptr) return TypeInfoIdsOfNames(info, names, count, ids);
  return Guarded([&] { return MemberIdsOfNames(names, count, ids); });
}

HResult ZEL_COM_CALL Invoke(IZelpostCom2* self, DispId member, const Guid* iid, std::uint32_t,
                            std::uint16_t flags, DispParams* params, Variant* result, ExcepInfo* exception,
                            std::uint32_t* argumentError) {
  if (iid == nullptr || !(*iid == kIidNull)) return kUnknownInterface;
  MemberCall call(self);
  void* info = TypeInfo(FromDual(self));
  if (info != nullptr) {
    return TypeInfoInvoke(info, self, member, flags, params, result, exception, argumentError);
  }
  return Guarded([&] { return InvokeMember(self, member, flags, params, result, exception, argumentError); });
}

// The members, in the order of the function table.
HResult ZEL_COM_CALL Version(IZelpostCom2* self, Bstr* text) {
  return Forward(self, text, [](InetMail&) {
    char buffer[kVersionTextSize] = {};
    InetMail::Version(buffer, sizeof buffer);
    return std::string(buffer);
  });
}

HResult ZEL_COM_CALL Initialize(IZelpostCom2* self, Bstr pop3name, Bstr smtpname, Bstr username, Bstr password,
                                Bstr mailaddr, Bstr fullname, std::int32_t* ret) {
  return Forward(
      self, ret,
      [](InetMail& s, const char* pop3, const char* smtp, const char* user, const char* pass, const char* address,
         const char* name) { return s.Initialize(pop3, smtp, user, pass, address, name); },
      pop3name, smtpname, username, password, mailaddr, fullname);
}

HResult ZEL_COM_CALL SendMail(IZelpostCom2* self, Bstr mailfile, Bstr attachfile, std::int32_t* ret) {
  return Forward(
      self, ret, [](InetMail& s, const char* mail, const char* attach) { return s.SendMail(mail, attach, nullptr); },
      mailfile, attachfile);
}

HResult ZEL_COM_CALL SendMailDummy(IZelpostCom2* self, Bstr mailfile, Bstr attachfile, Bstr dummyfile,
                                   std::int32_t* ret) {
  return Forward(
      self, ret,
      [](InetMail& s, const char* mail, const char* attach, const char* dummy) {
        return s.SendMail(mail, attach, dummy);
      },
      mailfile, attachfile, dummyfile);
}

HResult ZEL_COM_CALL RecvMailAll(IZelpostCom2* self, Bstr listfile, Bstr maildir, Bstr dupfile, Bstr mailbox,
                                 std::int32_t* ret) {
  return Forward(
      self, ret,
      [](InetMail& s, const char* list, const char* folder, const char* seen, const char* box) {
        return CheckedRecvMailAll(s, list, folder, seen, box);
      },
      listfile, maildir, dupfile, mailbox);
}

HResult ZEL_COM_CALL RecvMailDummy(IZelpostCom2* self, Bstr mailfile, Bstr dummyfile, std::int32_t* ret) {
  return Forward(
      self, ret, [](InetMail& s, const char* mail, const char* dummy) { return CheckedRecvMailDummy(s, mail, dummy); },
      mailfile, dummyfile);
}

HResult ZEL_COM_CALL MailBiff(IZelpostCom2* self, std::int32_t* ret) {
  return Forward(self, ret, [](InetMail& s) { return s.MailBiff(); });
}

HResult ZEL_COM_CALL DialogAttach(IZelpostCom2* self, Bstr filename, std::int32_t* ret) {
  return Forward(
      self, ret, [](InetMail& s, const char* file) { return s.DialogAttach(file); }, filename);
}

HResult ZEL_COM_CALL GetErrDiscription(IZelpostCom2* self, Bstr* text) {
  return Forward(self, text, [](InetMail& s) {
    char buffer[kErrorTextSize] = {};
    s.GetErrorStr(buffer, sizeof buffer);
    return std::string(buffer);
  });
}

HResult ZEL_COM_CALL GetErrNumber(IZelpostCom2* self, std::int32_t* value) {
  return Forward(self, value, [](InetMail& s) { return s.GetErrorInt(); });
}

// The scrambling buffers are sized from the input: 3n+4 bytes for n bytes
// of plain text, (L-3)/3+1 for L characters of scrambled text.
HResult ZEL_COM_CALL Pencode(IZelpostCom2* self, Bstr pw, Bstr* ret) {
  return Forward(
      self, ret,
      [](InetMail&, const char* plain) {
        std::string buffer(3 * std::strlen(plain != nullptr ? plain : "") + 4, '\0');
        InetMail::Pencode(plain, buffer.data());
        return std::string(buffer.c_str());
      },
      pw);
}

HResult ZEL_COM_CALL Pdecode(IZelpostCom2* self, Bstr pw, Bstr* ret) {
  return Forward(
      self, ret,
      [](InetMail&, const char* scrambled) {
        std::string buffer(std::strlen(scrambled != nullptr ? scrambled : "") / 3 + 1, '\0');
        InetMail::Pdecode(scrambled, buffer.data());
        return std::string(buffer.c_str());
      },
      pw);
}

// The option accessors by name.
HResult ZEL_COM_CALL SetValueInt(IZelpostCom2* self, Bstr name, std::int32_t value, std::int32_t* ret) {
  return Forward(
      self, ret, [value](InetMail& s, const char* option) { return s.SetValueInt(option, value); }, name);
}

HResult ZEL_COM_CALL GetValueInt(IZelpostCom2* self, Bstr name, std::int32_t* ret) {
  return Forward(
      self, ret, [](InetMail& s, const char* option) { return s.GetValueInt(option); }, name);
}

HResult ZEL_COM_CALL SetValueStr(IZelpostCom2* self, Bstr name, Bstr value, std::int32_t* ret) {
  return Forward(
      self, ret, [](InetMail& s, const char* option, const char* text) { return s.SetValueStr(option, text); },
      name, value);
}

HResult ZEL_COM_CALL GetValueStr(IZelpostCom2* self, Bstr name, Bstr* ret) {
  return Forward(
      self, ret, [](InetMail& s, const char* option) { return OptionText(s, option); }, name);
}

constexpr IZelpostCom2Vtbl kVtbl = {
    .QueryInterface = QueryInterface,
    .AddRef = AddRef,
    .Release = Release,
    .GetTypeInfoCount = GetTypeInfoCount,
    .GetTypeInfo = GetTypeInfo,
    .GetIDsOfNames = GetIDsOfNames,
    .Invoke = Invoke,
    .Version = Version,
    .Initialize = Initialize,
    .SendMail = SendMail,
    .SendMailDummy = SendMailDummy,
    .RecvMailAll = RecvMailAll,
    .RecvMailDummy = RecvMailDummy,
    .MailBiff = MailBiff,
    .DialogAttach = DialogAttach,
    .get_ErrDiscription = GetErrDiscription,
    .get_ErrNumber = GetErrNumber,
    .get_hWndParent = GetOption<kHostWindow>,
    .put_hWndParent = PutOption<kHostWindow>,
    .get_POP_DELE = GetOption<kDelete>,
    .put_POP_DELE = PutOption<kDelete>,
    .get_POP_BEFORE_SMTP = GetOption<kPopBeforeSmtp>,
    .put_POP_BEFORE_SMTP = PutOption<kPopBeforeSmtp>,
    .get_POP_SILENT = GetOption<kSilent>,
    .put_POP_SILENT = PutOption<kSilent>,
    .get_POP_ExecuteType = GetOption<kExecuteType>,
    .put_POP_ExecuteType = PutOption<kExecuteType>,
    .get_APOP = GetOption<kApop>,
    .put_APOP = PutOption<kApop>,
    .Pencode = Pencode,
    .Pdecode = Pdecode,
    .get_TLS = GetOption<kTls>,
    .put_TLS = PutCheckedOption<kTls>,
    .get_SMTPAUTH = GetOption<kSmtpAuth>,
    .put_SMTPAUTH = PutCheckedOption<kSmtpAuth>,
    .get_POPAUTH = GetOption<kPopAuth>,
    .put_POPAUTH = PutCheckedOption<kPopAuth>,
    .get_TIMEOUT = GetOption<kTimeout>,
    .put_TIMEOUT = PutCheckedOption<kTimeout>,
    .get_TLSCAFILE = GetTextOption<kTlsCaFile>,
    .put_TLSCAFILE = PutTextOption<kTlsCaFile>,
    .get_LOGDIR = GetTextOption<kLogDir>,
    .put_LOGDIR = PutTextOption<kLogDir>,
    .get_ERRDETAIL = GetTextOption<kErrDetail>,
    .get_ERRCLASS = GetOption<kErrClass>,
    .get_CHARSET = GetTextOption<kCharset>,
    .put_CHARSET = PutTextOption<kCharset>,
    .get_SENDFILECHARSET = GetTextOption<kSendFileCharset>,
    .put_SENDFILECHARSET = PutTextOption<kSendFileCharset>,
    .get_DECODE = GetOption<kDecode>,
    .put_DECODE = PutOption<kDecode>,
    .get_DELESEEN = GetOption<kDeleSeen>,
    .put_DELESEEN = PutOption<kDeleSeen>,
    .get_MAXSIZE = GetOption<kMaxSize>,
    .put_MAXSIZE = PutOption<kMaxSize>,
    .SetValueInt = SetValueInt,
    .GetValueInt = GetValueInt,
    .SetValueStr = SetValueStr,
    .GetValueStr = GetValueStr,
};

}  // namespace

HResult CreateZelpostCom(Unknown* outer, const Guid* iid, void** object) {
  if (object == nullptr) return kPointer;
  *object = nullptr;
  if (iid == nullptr) return kPointer;
  if (outer != nullptr && !(*iid == kIidIUnknown)) return kNoAggregation;
  auto* o = new (std::nothrow) ZelpostCom{{&kVtbl}, {&kInnerVtbl}, nullptr, {0}, nullptr, nullptr, false};
  if (o == nullptr) return kOutOfMemory;
  o->controlling = outer != nullptr ? outer : &o->inner;
  ModuleLock();
  try {
    o->session = new InetMail();
  } catch (...) {
    Destroy(o);
    return kOutOfMemory;
  }
  // The caller's reference is the object's first; a refused interface
  // leaves none, which destroys the object again.
  InnerAddRef(&o->inner);
  const HResult hr = InnerQueryInterface(&o->inner, iid, object);
  InnerRelease(&o->inner);
  return hr;
}

}  // namespace zel::com
