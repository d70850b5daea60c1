// The interfaces as the member table generated from the IDL describes them
// (and, on Windows, as the type library compiled from the same IDL reads
// back through ITypeInfo): names, DISPIDs, kinds, function-table order and
// help strings. IZelpostCom2's members follow the classic ones unchanged.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "com_host.h"

#ifdef _WIN32
#include <oaidl.h>
#endif

namespace zel::test {
namespace {

struct Expected {
  const char* name;
  DispId id;
  MemberKind kind;
};

// The members in function-table order: IZelpostCom's, then IZelpostCom2's.
constexpr Expected kInterface[] = {
    {"Version", 1, MemberKind::kMethod},
    {"Initialize", 2, MemberKind::kMethod},
    {"SendMail", 3, MemberKind::kMethod},
    {"SendMailDummy", 4, MemberKind::kMethod},
    {"RecvMailAll", 5, MemberKind::kMethod},
    {"RecvMailDummy", 6, MemberKind::kMethod},
    {"MailBiff", 7, MemberKind::kMethod},
    {"DialogAttach", 8, MemberKind::kMethod},
    {"ErrDiscription", 9, MemberKind::kPropertyGet},
    {"ErrNumber", 10, MemberKind::kPropertyGet},
    {"hWndParent", 11, MemberKind::kPropertyGet},
    {"hWndParent", 11, MemberKind::kPropertyPut},
    {"POP_DELE", 12, MemberKind::kPropertyGet},
    {"POP_DELE", 12, MemberKind::kPropertyPut},
    {"POP_BEFORE_SMTP", 13, MemberKind::kPropertyGet},
    {"POP_BEFORE_SMTP", 13, MemberKind::kPropertyPut},
    {"POP_SILENT", 14, MemberKind::kPropertyGet},
    {"POP_SILENT", 14, MemberKind::kPropertyPut},
    {"POP_ExecuteType", 15, MemberKind::kPropertyGet},
    {"POP_ExecuteType", 15, MemberKind::kPropertyPut},
    {"APOP", 16, MemberKind::kPropertyGet},
    {"APOP", 16, MemberKind::kPropertyPut},
    {"Pencode", 17, MemberKind::kMethod},
    {"Pdecode", 18, MemberKind::kMethod},
    {"TLS", 19, MemberKind::kPropertyGet},
    {"TLS", 19, MemberKind::kPropertyPut},
    {"SMTPAUTH", 20, MemberKind::kPropertyGet},
    {"SMTPAUTH", 20, MemberKind::kPropertyPut},
    {"POPAUTH", 21, MemberKind::kPropertyGet},
    {"POPAUTH", 21, MemberKind::kPropertyPut},
    {"TIMEOUT", 22, MemberKind::kPropertyGet},
    {"TIMEOUT", 22, MemberKind::kPropertyPut},
    {"TLSCAFILE", 23, MemberKind::kPropertyGet},
    {"TLSCAFILE", 23, MemberKind::kPropertyPut},
    {"LOGDIR", 24, MemberKind::kPropertyGet},
    {"LOGDIR", 24, MemberKind::kPropertyPut},
    {"ERRDETAIL", 25, MemberKind::kPropertyGet},
    {"ERRCLASS", 26, MemberKind::kPropertyGet},
    {"CHARSET", 27, MemberKind::kPropertyGet},
    {"CHARSET", 27, MemberKind::kPropertyPut},
    {"SENDFILECHARSET", 28, MemberKind::kPropertyGet},
    {"SENDFILECHARSET", 28, MemberKind::kPropertyPut},
    {"DECODE", 29, MemberKind::kPropertyGet},
    {"DECODE", 29, MemberKind::kPropertyPut},
    {"DELESEEN", 30, MemberKind::kPropertyGet},
    {"DELESEEN", 30, MemberKind::kPropertyPut},
    {"MAXSIZE", 31, MemberKind::kPropertyGet},
    {"MAXSIZE", 31, MemberKind::kPropertyPut},
    {"SetValueInt", 32, MemberKind::kMethod},
    {"GetValueInt", 33, MemberKind::kMethod},
    {"SetValueStr", 34, MemberKind::kMethod},
    {"GetValueStr", 35, MemberKind::kMethod},
};
// The classic interface's members: the first 24.
constexpr std::size_t kClassic = 24;

std::string HelpString(const Expected& e) {
  return std::string(e.kind == MemberKind::kMethod ? "ﾒｿｯﾄﾞ " : "ﾌﾟﾛﾊﾟﾃｨ ") + e.name;
}

TEST(Members, GeneratedTableIsTheInterface) {
  ASSERT_EQ(std::size(kMembers), std::size(kInterface));
  for (std::size_t i = 0; i < std::size(kInterface); ++i) {
    const Expected& e = kInterface[i];
    const Member& m = kMembers[i];
    EXPECT_STREQ(m.name, e.name);
    EXPECT_EQ(m.id, e.id) << e.name;
    EXPECT_EQ(m.kind, e.kind) << e.name;
    EXPECT_EQ(m.slot, 7 + i) << e.name;
    EXPECT_EQ(m.helpString, HelpString(e)) << e.name;
    EXPECT_EQ(m.result == ValueType::kNone, e.kind == MemberKind::kPropertyPut) << e.name;
  }
  EXPECT_EQ(kClassicMemberCount, kClassic);
  EXPECT_EQ(sizeof(IZelpostComVtbl), (7 + kClassic) * sizeof(void*));
  EXPECT_EQ(sizeof(IZelpostCom2Vtbl), (7 + std::size(kInterface)) * sizeof(void*));
}

#ifdef _WIN32
std::string Host(BSTR text) {
  std::string out;
  if (text != nullptr) Utf16ToAnsi(reinterpret_cast<const char16_t*>(text), out);
  SysFreeString(text);
  return out;
}

// The type library of the DLL, read through the ITypeInfo the object hands
// out, holds the same interface, and the library, class and event
// interface with their help strings.
TEST(Members, TypeLibraryReadsBackTheSameInterface) {
  ComObject o;
  ASSERT_NE(o.get(), nullptr);
  void* raw = nullptr;
  std::uint32_t count = 0;
  ASSERT_EQ(o->vtbl->GetTypeInfoCount(o.get(), &count), kOk);
  EXPECT_EQ(count, 1u);
  ASSERT_EQ(o->vtbl->GetTypeInfo(o.get(), 0, 0, &raw), kOk);
  auto* info = static_cast<ITypeInfo*>(raw);
  // The object's type is IZelpostCom2, which holds the appended functions;
  // the classic ones are those of its base, IZelpostCom.
  HREFTYPE baseReference = 0;
  ITypeInfo* base = nullptr;
  ASSERT_EQ(info->GetRefTypeOfImplType(0, &baseReference), S_OK);
  ASSERT_EQ(info->GetRefTypeInfo(baseReference, &base), S_OK);
  const struct {
    ITypeInfo* type;
    std::size_t first, count;
  } parts[] = {{base, 0, kClassic}, {info, kClassic, std::size(kInterface) - kClassic}};
  for (const auto& part : parts) {
  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(part.type->GetTypeAttr(&attributes), S_OK);
  EXPECT_EQ(attributes->typekind, TKIND_INTERFACE);
  EXPECT_NE(attributes->wTypeFlags & TYPEFLAG_FDUAL, 0);
  ASSERT_EQ(attributes->cFuncs, part.count);
  for (UINT i = 0; i < attributes->cFuncs; ++i) {
    FUNCDESC* f = nullptr;
    ASSERT_EQ(part.type->GetFuncDesc(i, &f), S_OK);
    const Expected& e = kInterface[part.first + i];
    const INVOKEKIND kind = e.kind == MemberKind::kMethod        ? INVOKE_FUNC
                            : e.kind == MemberKind::kPropertyGet ? INVOKE_PROPERTYGET
                                                                 : INVOKE_PROPERTYPUT;
    EXPECT_EQ(f->memid, e.id) << e.name;
    EXPECT_EQ(f->invkind, kind) << e.name;
    EXPECT_EQ(f->oVft / sizeof(void*), kMembers[part.first + i].slot) << e.name;
    BSTR name = nullptr, help = nullptr;
    ASSERT_EQ(part.type->GetDocumentation(f->memid, &name, &help, nullptr, nullptr), S_OK);
    EXPECT_EQ(Host(name), e.name);
    EXPECT_EQ(Host(help), HelpString(e));
    part.type->ReleaseFuncDesc(f);
  }
  part.type->ReleaseTypeAttr(attributes);
  }
  base->Release();

  ITypeLib* library = nullptr;
  UINT index = 0;
  ASSERT_EQ(info->GetContainingTypeLib(&library, &index), S_OK);
  BSTR name = nullptr, help = nullptr;
  ASSERT_EQ(library->GetDocumentation(-1, &name, &help, nullptr, nullptr), S_OK);
  EXPECT_EQ(Host(name), "Zelpost");
  EXPECT_EQ(Host(help), "zelpost 1.0");
  TLIBATTR* libraryAttributes = nullptr;
  ASSERT_EQ(library->GetLibAttr(&libraryAttributes), S_OK);
  EXPECT_EQ(libraryAttributes->wMajorVerNum, 1);
  EXPECT_EQ(libraryAttributes->wMinorVerNum, 0);
  EXPECT_EQ(std::memcmp(&libraryAttributes->guid, &kLibIdZelpost, sizeof(GUID)), 0);
  library->ReleaseTLibAttr(libraryAttributes);
  const struct {
    const Guid& id;
    const char* name;
    const char* help;
  } types[] = {{kIidIZelpostCom, "IZelpostCom", "IZelpostCom Interface"},
               {kIidIZelpostCom2, "IZelpostCom2", "IZelpostCom2 Interface"},
               {kClsidZelpostCom, "ZelpostCom", "ZelpostCom Class"},
               {kDiidIZelpostComEvents, "_IZelpostComEvents", "ZelpostComEvents Interface"}};
  for (const auto& t : types) {
    ITypeInfo* type = nullptr;
    ASSERT_EQ(library->GetTypeInfoOfGuid(*reinterpret_cast<const GUID*>(&t.id), &type), S_OK) << t.name;
    ASSERT_EQ(type->GetDocumentation(MEMBERID_NIL, &name, &help, nullptr, nullptr), S_OK);
    EXPECT_EQ(Host(name), t.name);
    EXPECT_EQ(Host(help), t.help);
    type->Release();
  }
  library->Release();
  info->Release();
}
#endif

}  // namespace
}  // namespace zel::test
