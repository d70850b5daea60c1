#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "library.h"

namespace zel::test {
namespace {

TEST(Exports, EveryExportResolvesByName) {
  ASSERT_NE(Library(), nullptr) << LibraryPath();
  static_assert(sizeof(Exports) == sizeof(kExportNames) / sizeof(kExportNames[0]) * sizeof(void*));
  for (const ExportName& x : kExportNames) {
    void* plain = LibrarySymbol(Library(), x.name);
    EXPECT_NE(plain, nullptr) << x.name;
#ifdef _WIN32
    // The decorated name of the stdcall ABI reaches the same code.
    const std::string decorated = "_" + std::string(x.name) + "@" + std::to_string(4 * x.arguments);
    EXPECT_EQ(LibrarySymbol(Library(), decorated.c_str()), plain) << decorated;
#endif
  }
}

TEST(Exports, UnusedEntryPointsReturnTheirFixedResults) {
  const Exports& api = Api();
  ASSERT_NE(api.GetAttach, nullptr);
  EXPECT_EQ(api.GetAttach(0), 0);
  EXPECT_EQ(api.GetAttach(12345), 0);
  EXPECT_EQ(api.GetAttachList(-7, 9), -1);
  EXPECT_EQ(api.Poplist(1, 2, 3), 1);
}

TEST(Exports, IndexAndDialogExportsRefuseWhatTheyCannotUse) {
  const Exports& api = Api();
  EXPECT_EQ(api.MakeIndexMBX("x"), 0);
  EXPECT_EQ(api.MakeIndexMBX(nullptr), 0);
  EXPECT_EQ(api.MakeIndexWML(nullptr), 0);
  EXPECT_EQ(api.PrintIndex(nullptr, "x", "k", 0, 10, 10, 10), 0);
  EXPECT_EQ(api.DialogAttach("x"), -1);  // no such file: the dialog is never seen
}

TEST(Exports, VersionTextComesFromTheFileVersion) {
  const Exports& api = Api();
  char text[64];
  std::memset(text, 'x', sizeof text);
  const int high = api.Version(text, 0);
  const std::string expected = "zelpost.dll ver." + std::to_string(ZELPOST_VERSION_MAJOR) + "." +
                               std::to_string(ZELPOST_VERSION_MINOR) + "." +
                               std::to_string(ZELPOST_VERSION_PATCH);
  EXPECT_EQ(std::string(text), expected);
  EXPECT_EQ(high, ZELPOST_VERSION_MAJOR * 65536 + ZELPOST_VERSION_MINOR);
  // A positive size only bounds the copy: the result is still the version.
  char small[8];
  std::memset(small, 'x', sizeof small);
  EXPECT_EQ(api.Version(small, 6), high);
  EXPECT_STREQ(small, "zelpo");
  EXPECT_EQ(small[6], 'x');
  EXPECT_EQ(api.Version(text, sizeof text), high);
  EXPECT_EQ(std::string(text), expected);
}

}  // namespace
}  // namespace zel::test
