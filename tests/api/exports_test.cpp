#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "library.h"
#include "scratch.h"

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


// The flat session is made by the first call that needs it, not while the
// library loads (under Windows' loader lock nothing may start sockets), and
// goes when the library is unloaded. Seen from a host: a new session's log
// folder is the temporary folder of the moment it is made.
TEST(Exports, FlatSessionComesWithTheFirstCallAndGoesWithTheLibrary) {
  namespace fs = std::filesystem;
  ScratchDir dir;
  fs::create_directories(fs::path(dir.Path()) / "atload");
  fs::create_directories(fs::path(dir.Path()) / "atcall");
  // A copy under another name loads as a library of its own.
#ifdef _WIN32
  const fs::path copy = fs::path(dir.Path()) / "zelcopy.dll";
  fs::copy_file(ZEL_BINARY_DIR "/zelpost.dll", copy);
#else
  const fs::path copy = fs::path(dir.Path()) / "libzelcopy.so";
  fs::copy_file(LibraryPath(), copy);
#endif
  const char* saved = std::getenv(
#ifdef _WIN32
      "TMP"
#else
      "TMPDIR"
#endif
  );
  const std::string restore = saved != nullptr ? saved : "";
  SetTempDir(dir.File("atload"));
  LibraryHandle library = OpenLibrary(copy.string());
  ASSERT_NE(library, nullptr);
  SetTempDir(dir.File("atcall"));
  auto getValueStr = reinterpret_cast<decltype(&::zelGetValueStr)>(LibrarySymbol(library, "zelGetValueStr"));
  ASSERT_NE(getValueStr, nullptr);
  char logDir[260] = {};
  EXPECT_GT(getValueStr("LOGDIR", logDir, sizeof logDir), 0);
  EXPECT_NE(std::string(logDir).find("atcall"), std::string::npos) << logDir;
  CloseLibrary(library);  // destroys the session (the sanitizers see it freed)
  SetTempDir(restore.empty() ? fs::temp_directory_path().string() : restore);
}

}  // namespace
}  // namespace zel::test
