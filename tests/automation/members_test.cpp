// The interface as the member table generated from the IDL describes it
// (and, on Windows, as the type library compiled from the same IDL reads
// back through ITypeInfo): names, DISPIDs, kinds, function-table order and
// help strings.
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

// The interface's members in function-table order.
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
};

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
  EXPECT_EQ(sizeof(IZelpostComVtbl), (7 + std::size(kInterface)) * sizeof(void*));
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
  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
  EXPECT_EQ(attributes->typekind, TKIND_INTERFACE);
  EXPECT_NE(attributes->wTypeFlags & TYPEFLAG_FDUAL, 0);
  ASSERT_EQ(attributes->cFuncs, std::size(kInterface));
  for (UINT i = 0; i < attributes->cFuncs; ++i) {
    FUNCDESC* f = nullptr;
    ASSERT_EQ(info->GetFuncDesc(i, &f), S_OK);
    const Expected& e = kInterface[i];
    const INVOKEKIND kind = e.kind == MemberKind::kMethod        ? INVOKE_FUNC
                            : e.kind == MemberKind::kPropertyGet ? INVOKE_PROPERTYGET
                                                                 : INVOKE_PROPERTYPUT;
    EXPECT_EQ(f->memid, e.id) << e.name;
    EXPECT_EQ(f->invkind, kind) << e.name;
    EXPECT_EQ(f->oVft / sizeof(void*), kMembers[i].slot) << e.name;
    BSTR name = nullptr, help = nullptr;
    ASSERT_EQ(info->GetDocumentation(f->memid, &name, &help, nullptr, nullptr), S_OK);
    EXPECT_EQ(Host(name), e.name);
    EXPECT_EQ(Host(help), HelpString(e));
    info->ReleaseFuncDesc(f);
  }
  info->ReleaseTypeAttr(attributes);

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
