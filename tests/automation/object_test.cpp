// Objects of the class factory: identity and reference counts, aggregation,
// module locks, separate settings per object, members reached late-bound
// by name as through the function table.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "com_host.h"

namespace zel::test {
namespace {

TEST(ComObject, IdentityReferencesAndModuleLocks) {
  ASSERT_NE(LibraryGetClassObject(), nullptr) << LibraryPath();
#ifndef _WIN32
  // No registry on POSIX: the registration functions are not exported.
  EXPECT_EQ(LibrarySymbol(Library(), "DllRegisterServer"), nullptr);
  EXPECT_EQ(LibrarySymbol(Library(), "DllUnregisterServer"), nullptr);
#endif
  EXPECT_EQ(LibraryCanUnloadNow(), kOk);
  void* none = &none;
  const Guid other = {1, 2, 3, {4}};
  EXPECT_EQ(LibraryGetClassObject()(&other, &kIidIClassFactory, &none), kClassNotAvailable);
  EXPECT_EQ(none, nullptr);
  ClassFactory* factory = Factory();
  ASSERT_NE(factory, nullptr);
  EXPECT_EQ(LibraryCanUnloadNow(), kFalse);  // a factory reference counts

  void* object = &object;
  EXPECT_EQ(factory->vtbl->CreateInstance(factory, nullptr, &other, &object), kNoInterface);
  EXPECT_EQ(object, nullptr);
  ASSERT_EQ(factory->vtbl->CreateInstance(factory, nullptr, &kIidIDispatch, &object), kOk);
  auto* o = static_cast<IZelpostCom*>(object);
  void* unknown1 = nullptr;
  void* unknown2 = nullptr;
  void* dual = nullptr;
  ASSERT_EQ(o->vtbl->QueryInterface(o, &kIidIUnknown, &unknown1), kOk);
  ASSERT_EQ(o->vtbl->QueryInterface(o, &kIidIZelpostCom, &dual), kOk);
  ASSERT_EQ(static_cast<IZelpostCom*>(dual)->vtbl->QueryInterface(o, &kIidIUnknown, &unknown2), kOk);
  EXPECT_EQ(unknown1, unknown2);
  EXPECT_EQ(dual, object);
  EXPECT_EQ(o->vtbl->QueryInterface(o, &other, &none), kNoInterface);
  EXPECT_EQ(o->vtbl->AddRef(o), 5u);
  auto* u = static_cast<Unknown*>(unknown1);
  EXPECT_EQ(u->vtbl->Release(u), 4u);
  EXPECT_EQ(u->vtbl->Release(u), 3u);
  EXPECT_EQ(o->vtbl->Release(o), 2u);
  EXPECT_EQ(o->vtbl->Release(o), 1u);

  factory->vtbl->LockServer(factory, 1);
  factory->vtbl->Release(factory);
  EXPECT_EQ(o->vtbl->Release(o), 0u);
  EXPECT_EQ(LibraryCanUnloadNow(), kFalse);  // the server lock
  factory->vtbl->LockServer(factory, 0);
  EXPECT_EQ(LibraryCanUnloadNow(), kOk);
}

// An outer object that aggregates a ZelpostCom: every interface but the
// inner IUnknown counts its references on the outer object.
struct Outer {
  Unknown unknown;
  std::atomic<int> references{1};
  int peak = 1;  // the most references seen
};

HResult ZEL_COM_CALL OuterQueryInterface(Unknown*, const Guid*, void** object) {
  *object = nullptr;
  return kNoInterface;
}
std::uint32_t ZEL_COM_CALL OuterAddRef(Unknown* self) {
  auto* outer = reinterpret_cast<Outer*>(self);
  const int now = ++outer->references;
  outer->peak = std::max(outer->peak, now);
  return now;
}
std::uint32_t ZEL_COM_CALL OuterRelease(Unknown* self) { return --reinterpret_cast<Outer*>(self)->references; }
constexpr UnknownVtbl kOuterVtbl = {OuterQueryInterface, OuterAddRef, OuterRelease};

TEST(ComObject, AggregatedObjectCountsOnItsOuterObject) {
  Outer outer{{&kOuterVtbl}};
  ClassFactory* factory = Factory();
  ASSERT_NE(factory, nullptr);
  void* object = nullptr;
  EXPECT_EQ(factory->vtbl->CreateInstance(factory, &outer.unknown, &kIidIZelpostCom, &object), kNoAggregation);
  ASSERT_EQ(factory->vtbl->CreateInstance(factory, &outer.unknown, &kIidIUnknown, &object), kOk);
  factory->vtbl->Release(factory);
  auto* inner = static_cast<Unknown*>(object);
  void* dual = nullptr;
  ASSERT_EQ(inner->vtbl->QueryInterface(inner, &kIidIZelpostCom, &dual), kOk);
  EXPECT_EQ(outer.references, 2);
  auto* o = static_cast<IZelpostCom*>(dual);
  std::int32_t value = -1;
  ASSERT_EQ(o->vtbl->get_POP_BEFORE_SMTP(o, &value), kOk);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(outer.peak, 3);        // the call held a reference of its own...
  EXPECT_EQ(outer.references, 2);  // ...until it returned
  o->vtbl->Release(o);
  EXPECT_EQ(outer.references, 1);
  EXPECT_EQ(LibraryCanUnloadNow(), kFalse);
  EXPECT_EQ(inner->vtbl->Release(inner), 0u);
  EXPECT_EQ(LibraryCanUnloadNow(), kOk);
}

TEST(ComObject, ObjectsKeepSeparateSettingsByTableAndByName) {
  {
    ComObject a, b;
    ASSERT_NE(a.get(), nullptr);
    ASSERT_NE(b.get(), nullptr);
    std::int32_t value = -1;
    // Through the function table.
    ASSERT_EQ(a->vtbl->put_POP_DELE(a.get(), 5), kOk);
    ASSERT_EQ(a->vtbl->get_POP_DELE(a.get(), &value), kOk);
    EXPECT_EQ(value, 1);
    ASSERT_EQ(b->vtbl->get_POP_DELE(b.get(), &value), kOk);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(Api().GetValueInt("DELE"), 0);
    ASSERT_EQ(a->vtbl->put_hWndParent(a.get(), 0x1234), kOk);
    ASSERT_EQ(a->vtbl->get_hWndParent(a.get(), &value), kOk);
    EXPECT_EQ(value, 0x1234);
    EXPECT_EQ(Api().GetValueInt("HWND"), 0);

    // Late-bound by name, without regard to case; the same values.
    EXPECT_EQ(IdOf(a.get(), u"pop_executetype"), 15);
    EXPECT_EQ(GetLong(a.get(), u"POP_ExecuteType"), 0);  // never set
    for (const auto& [put, read] : {std::pair{1, 1}, {0, 2}, {7, 2}}) {
      ASSERT_EQ(CallByName(a.get(), u"POP_ExecuteType", kDispatchPropertyPut, {LongArgument(put)}), kOk);
      EXPECT_EQ(GetLong(a.get(), u"POP_ExecuteType"), read) << put;
    }
    ASSERT_EQ(b->vtbl->get_POP_ExecuteType(b.get(), &value), kOk);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(Api().GetValueInt("EXECUTE_TYPE"), 0);
    EXPECT_EQ(GetLong(b.get(), u"POP_BEFORE_SMTP"), 1);
    EXPECT_EQ(GetLong(a.get(), u"POP_DELE"), 1);
    EXPECT_EQ(GetLong(b.get(), u"ErrNumber"), 0);

    // A by-reference variant (as VBScript passes variables) and text digits.
    Variant seven = LongArgument(7);
    Variant byReference{};
    byReference.vt = kVtByRef | kVtVariant;
    byReference.pvarVal = &seven;
    ASSERT_EQ(CallByName(b.get(), u"POP_SILENT", kDispatchPropertyPut, {byReference}), kOk);
    EXPECT_EQ(GetLong(b.get(), u"POP_SILENT"), 1);
    Text digits(u"1");
    ASSERT_EQ(CallByName(b.get(), u"APOP", kDispatchPropertyPut, {TextArgument(digits)}), kOk);
    EXPECT_EQ(GetLong(b.get(), u"APOP"), 1);
    EXPECT_EQ(GetLong(a.get(), u"APOP"), 0);
  }
  EXPECT_EQ(LibraryCanUnloadNow(), kOk);
}

// IZelpostCom2: the same object under a new IID; each option property reads
// and writes the option of its name, as the accessors by name do; a value
// the option refuses fails the call; the reason of a failure reads back.
TEST(ComObject, SecondInterfaceRoutesEveryOptionByName) {
  ComObject o;
  ASSERT_NE(o.get(), nullptr);
  void* second = nullptr;
  ASSERT_EQ(o->vtbl->QueryInterface(o.get(), &kIidIZelpostCom2, &second), kOk);
  EXPECT_EQ(second, o.get());
  auto* o2 = static_cast<IZelpostCom2*>(second);
  o2->vtbl->Release(o2);

  Text ca(u"/tmp/ca.pem"), logs(u"/tmp"), utf8(u"UTF-8");
  const struct {
    const char16_t* property;
    const char* option;
    Variant put;
    HResult putResult;
    std::int32_t number;  // read back (integer properties)
    const char* text;     // read back (text properties), or nullptr
  } rows[] = {
      {u"TLS", "TLS", LongArgument(2), kOk, 2, nullptr},
      {u"tls", "TLS", LongArgument(7), kException, 2, nullptr},  // refused: unchanged
      {u"SMTPAUTH", "SMTPAUTH", LongArgument(2), kOk, 2, nullptr},
      {u"POPAUTH", "POPAUTH", LongArgument(1), kOk, 1, nullptr},
      {u"POPAUTH", "POPAUTH", LongArgument(3), kException, 1, nullptr},
      {u"TIMEOUT", "TIMEOUT", LongArgument(7), kOk, 7, nullptr},
      {u"TLSCAFILE", "TLSCAFILE", TextArgument(ca), kOk, 0, "/tmp/ca.pem"},
      {u"LOGDIR", "LOGDIR", TextArgument(logs), kOk, 0, "/tmp"},
      {u"DELESEEN", "DELESEEN", LongArgument(1), kOk, 1, nullptr},
      {u"MAXSIZE", "MAXSIZE", LongArgument(100), kOk, 100, nullptr},
      // The charset options: whatever the session keeps under their names.
      {u"CHARSET", "CHARSET", TextArgument(utf8), kOk, 0, ""},
      {u"SENDFILECHARSET", "SENDFILECHARSET", TextArgument(utf8), kOk, 0, ""},
      {u"DECODE", "DECODE", LongArgument(1), kOk, -1, nullptr},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.option);
    EXPECT_EQ(CallByName(o.get(), r.property, kDispatchPropertyPut, {r.put}), r.putResult);
    Text name{std::u16string_view(Wide(r.option))};
    Variant byMethod{};
    if (r.text != nullptr) {
      Variant byProperty{};
      ASSERT_EQ(CallByName(o.get(), r.property, kDispatchPropertyGet, {}, &byProperty), kOk);
      ASSERT_EQ(CallByName(o.get(), u"GetValueStr", kDispatchMethod, {TextArgument(name)}, &byMethod), kOk);
      Text got, viaName;
      *got.out() = byProperty.bstrVal;
      *viaName.out() = byMethod.bstrVal;
      EXPECT_EQ(got.Host(), viaName.Host());
      if (*r.text != '\0') {
        EXPECT_EQ(got.Host(), r.text);
      }
    } else {
      ASSERT_EQ(CallByName(o.get(), u"GetValueInt", kDispatchMethod, {TextArgument(name)}, &byMethod), kOk);
      EXPECT_EQ(GetLong(o.get(), r.property), byMethod.lVal);
      if (r.number >= 0) {
        EXPECT_EQ(byMethod.lVal, r.number);
      }
    }
  }
  EXPECT_EQ(Api().GetValueInt("TLS"), 0);  // the flat session is another
  // The accessors by name give the setters' results.
  Text timeout(u"timeout");
  Variant stored{};
  ASSERT_EQ(CallByName(o.get(), u"SetValueInt", kDispatchMethod, {TextArgument(timeout), LongArgument(-5)},
                       &stored),
            kOk);
  EXPECT_EQ(stored.lVal, 0);
  Text caName(u"TLSCAFILE"), none(u"");
  ASSERT_EQ(CallByName(o.get(), u"SetValueStr", kDispatchMethod, {TextArgument(caName), TextArgument(none)},
                       &stored),
            kOk);
  EXPECT_EQ(stored.lVal, 0);

  // The reason of a refused Initialize, and none after an accepted one.
  std::int32_t result = -1;
  Text server(u"pop"), empty(u""), user(u"u"), address(u"a@b");
  ASSERT_EQ(o2->vtbl->Initialize(o2, server.get(), empty.get(), user.get(), user.get(), address.get(),
                                 nullptr, &result),
            kOk);
  Text detail;
  ASSERT_EQ(o2->vtbl->get_ERRDETAIL(o2, detail.out()), kOk);
  EXPECT_EQ(detail.Host(), "SMTPサーバ名が指定されていない");
  EXPECT_EQ(GetLong(o.get(), u"ErrClass"), ZELPOST_ERRCLASS_SETTING);
  ASSERT_EQ(o2->vtbl->Initialize(o2, server.get(), server.get(), user.get(), user.get(), address.get(),
                                 nullptr, &result),
            kOk);
  ASSERT_EQ(o2->vtbl->get_ERRDETAIL(o2, detail.out()), kOk);
  EXPECT_EQ(detail.Host(), "");
  EXPECT_EQ(GetLong(o.get(), u"ERRCLASS"), 0);
}

TEST(ComObject, LateBindingRefusesWhatTheInterfaceLacks) {
  ComObject o;
  ASSERT_NE(o.get(), nullptr);
  Variant result{};
  EXPECT_EQ(CallByName(o.get(), u"NoSuchMember", kDispatchMethod, {}), kUnknownName);
  char16_t name[] = u"Version";
  char16_t* names[] = {name};
  DispId id = 0;
  const Guid other = {1, 2, 3, {4}};
  EXPECT_EQ(o->vtbl->GetIDsOfNames(o.get(), &other, names, 1, 0, &id), kUnknownInterface);
  // Too few arguments; a property that cannot be written; a wrong type.
  EXPECT_EQ(CallByName(o.get(), u"SendMail", kDispatchMethod, {}, &result), kBadParameterCount);
  EXPECT_EQ(CallByName(o.get(), u"ErrNumber", kDispatchPropertyPut, {LongArgument(1)}), kMemberNotFound);
  Text notANumber(u"x");
  EXPECT_EQ(CallByName(o.get(), u"POP_DELE", kDispatchPropertyPut, {TextArgument(notANumber)}), kTypeMismatch);
  // A text the code page cannot hold fails the call, which then reports
  // through DISP_E_EXCEPTION, or directly through the function table.
  Text emoji(u"\U0001F600");
  Text out;
  EXPECT_EQ(o->vtbl->Pencode(o.get(), emoji.get(), out.out()), kNoUnicodeTranslation);
  EXPECT_EQ(out.get(), nullptr);
  EXPECT_EQ(CallByName(o.get(), u"Pencode", kDispatchMethod, {TextArgument(emoji)}, &result), kException);
  // Out pointers are checked.
  EXPECT_EQ(o->vtbl->get_ErrNumber(o.get(), nullptr), kPointer);
  EXPECT_EQ(o->vtbl->Version(o.get(), nullptr), kPointer);
}

}  // namespace
}  // namespace zel::test
