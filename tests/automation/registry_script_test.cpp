// The registration script read into keys: the script built into the DLL,
// the module path filled in, and refused syntax.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "automation/registry_script.h"
#include "automation/zelpost_members.h"

namespace zel::test {
namespace {

using com::ReadRegistryScript;
using com::RegistryKey;
using com::Removal;

std::string Script() {
  std::ifstream in(ZEL_BINARY_DIR "/generated/automation/zelpost.rgs", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

const RegistryKey* Find(const std::vector<RegistryKey>& keys, const std::string& name) {
  for (const RegistryKey& k : keys) {
    if (k.name == name) return &k;
  }
  return nullptr;
}

TEST(RegistryScript, TheBuiltScriptHoldsTheEntries) {
  std::vector<RegistryKey> keys;
  ASSERT_TRUE(ReadRegistryScript(Script(), "C:\\it's here\\zelpost.dll", keys));
  ASSERT_EQ(keys.size(), 3u);
  const std::string clsid = "{44BFE6F8-9C7E-437C-92F1-61A3011678CC}";
  const RegistryKey* progId = Find(keys, "Zelpost.ZelpostCom.1");
  ASSERT_NE(progId, nullptr);
  EXPECT_EQ(progId->defaultValue, "ZelpostCom Class");
  ASSERT_EQ(progId->subkeys.size(), 1u);
  EXPECT_EQ(progId->subkeys[0].defaultValue, clsid);
  const RegistryKey* independent = Find(keys, "Zelpost.ZelpostCom");
  ASSERT_NE(independent, nullptr);
  ASSERT_NE(Find(independent->subkeys, "CurVer"), nullptr);
  EXPECT_EQ(Find(independent->subkeys, "CurVer")->defaultValue, "Zelpost.ZelpostCom.1");

  const RegistryKey* classes = Find(keys, "CLSID");
  ASSERT_NE(classes, nullptr);
  EXPECT_EQ(classes->removal, Removal::kNoRemove);
  EXPECT_FALSE(classes->hasDefault);
  ASSERT_EQ(classes->subkeys.size(), 1u);
  const RegistryKey& cls = classes->subkeys[0];
  EXPECT_EQ(cls.name, clsid);
  EXPECT_EQ(cls.removal, Removal::kForceRemove);
  EXPECT_EQ(cls.defaultValue, "ZelpostCom Class");
  const RegistryKey* programmable = Find(cls.subkeys, "Programmable");
  ASSERT_NE(programmable, nullptr);
  EXPECT_FALSE(programmable->hasDefault);
  const RegistryKey* server = Find(cls.subkeys, "InprocServer32");
  ASSERT_NE(server, nullptr);
  EXPECT_EQ(server->defaultValue, "C:\\it's here\\zelpost.dll");
  ASSERT_EQ(server->values.size(), 1u);
  EXPECT_EQ(server->values[0].first, "ThreadingModel");
  EXPECT_EQ(server->values[0].second, "Apartment");
  ASSERT_NE(Find(cls.subkeys, "TypeLib"), nullptr);
  EXPECT_EQ(Find(cls.subkeys, "TypeLib")->defaultValue, "{A6A820ED-8133-443F-AB35-37F523339CA7}");
  EXPECT_EQ(Find(cls.subkeys, "ProgID")->defaultValue, "Zelpost.ZelpostCom.1");
  EXPECT_EQ(Find(cls.subkeys, "VersionIndependentProgID")->defaultValue, "Zelpost.ZelpostCom");
}

TEST(RegistryScript, SyntaxErrorsAreRefused) {
  std::vector<RegistryKey> keys;
  for (const char* bad : {"", "HKLM { A }", "HKCR { A = s 'x' ", "HKCR { A = 'x' }", "HKCR { A = s 'x }",
                          "HKCR { val A = s 'x' }", "HKCR { A } }", "HKCR { A } HKCR { B }"}) {
    EXPECT_FALSE(ReadRegistryScript(bad, "m", keys)) << bad;
  }
  EXPECT_TRUE(ReadRegistryScript("HKEY_CLASSES_ROOT { 'A B' { val 'x y' = s 'it''s' } }", "m", keys));
  ASSERT_EQ(keys.size(), 1u);
  EXPECT_EQ(keys[0].name, "A B");
  EXPECT_EQ(keys[0].values[0].second, "it's");
}

}  // namespace
}  // namespace zel::test
