// The registration script of the automation object (the REGISTRY resource,
// written in the registrar's script language) read into a tree of keys.
//
//   HKCR { Name = s 'default' { val Other = s 'text'  Sub { ... } } }
//
// A key may be marked NoRemove (kept on unregistration, its subkeys still
// processed) or ForceRemove (replaced on registration, removed with all its
// content on unregistration); a name or value may be quoted with ', and ''
// inside quotes is one '. Only text values (s) exist in the script.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zel::com {

enum class Removal { kNormal, kNoRemove, kForceRemove };

struct RegistryKey {
  std::string name;
  Removal removal = Removal::kNormal;
  bool hasDefault = false;
  std::string defaultValue;
  std::vector<std::pair<std::string, std::string>> values;  // val Name = s '...'
  std::vector<RegistryKey> subkeys;
};

// Reads `script`, with every "%MODULE%" replaced by `modulePath`, into the
// keys below its root, which must be HKCR (HKEY_CLASSES_ROOT). Returns
// false, with the keys read so far, on a syntax error.
bool ReadRegistryScript(std::string_view script, std::string_view modulePath, std::vector<RegistryKey>& keys);

}  // namespace zel::com
