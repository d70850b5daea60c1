#include "automation/registry_script.h"

#include "platform/ascii_case.h"

namespace zel::com {
namespace {

constexpr int kMaxDepth = 16;  // nesting of keys a script may use

// Tokens separated by white space; a quoted token may hold white space.
class Tokens {
 public:
  explicit Tokens(std::string_view text) : text_(text) {}

  // The next token (quotes removed) in *token; false at the end or on an
  // unterminated quote (then `error` is set).
  bool Next(std::string& token, bool& quoted) {
    token.clear();
    quoted = false;
    while (at_ < text_.size() && IsBlank(text_[at_])) ++at_;
    if (at_ >= text_.size()) return false;
    if (text_[at_] != '\'') {
      while (at_ < text_.size() && !IsBlank(text_[at_])) token += text_[at_++];
      return true;
    }
    quoted = true;
    for (++at_; at_ < text_.size(); ++at_) {
      if (text_[at_] != '\'') {
        token += text_[at_];
      } else if (at_ + 1 < text_.size() && text_[at_ + 1] == '\'') {
        token += '\'';
        ++at_;
      } else {
        ++at_;
        return true;
      }
    }
    error = true;
    return false;
  }

  bool error = false;

 private:
  static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
  std::string_view text_;
  std::size_t at_ = 0;
};

class Reader {
 public:
  explicit Reader(std::string_view text) : tokens_(text) {}

  // Keys up to the closing "}" (or the end at depth 0) into `keys`.
  bool Keys(std::vector<RegistryKey>& keys, RegistryKey* parent, int depth) {
    if (depth > kMaxDepth) return false;
    while (Advance()) {
      if (!quoted_ && token_ == "}") return depth > 0;
      RegistryKey key;
      if (!quoted_ && equalsNoCase(token_, "NoRemove")) key.removal = Removal::kNoRemove;
      if (!quoted_ && equalsNoCase(token_, "ForceRemove")) key.removal = Removal::kForceRemove;
      if (key.removal != Removal::kNormal && !Advance()) return false;
      if (!quoted_ && equalsNoCase(token_, "val")) {
        std::pair<std::string, std::string> value;
        if (parent == nullptr || !Advance()) return false;
        value.first = token_;
        if (!Assignment(value.second)) return false;
        parent->values.push_back(std::move(value));
        continue;
      }
      key.name = token_;
      if (!Advance()) {
        keys.push_back(std::move(key));
        return depth == 0 && !tokens_.error;
      }
      if (!quoted_ && token_ == "=") {
        pending_ = true;  // let Assignment read the "=" again
        key.hasDefault = true;
        if (!Assignment(key.defaultValue)) return false;
        if (!Advance()) {
          keys.push_back(std::move(key));
          return depth == 0 && !tokens_.error;
        }
      }
      if (!quoted_ && token_ == "{") {
        if (!Keys(key.subkeys, &key, depth + 1)) return false;
      } else {
        pending_ = true;  // the token starts the next key
      }
      keys.push_back(std::move(key));
    }
    return depth == 0 && !tokens_.error;
  }

 private:
  // The next token, or the one put back.
  bool Advance() {
    if (pending_) {
      pending_ = false;
      return true;
    }
    return tokens_.Next(token_, quoted_);
  }

  // "= s 'text'"
  bool Assignment(std::string& value) {
    if (!Advance() || quoted_ || token_ != "=") return false;
    if (!Advance() || quoted_ || !equalsNoCase(token_, "s")) return false;
    if (!Advance()) return false;
    value = token_;
    return true;
  }

  Tokens tokens_;
  std::string token_;
  bool quoted_ = false;
  bool pending_ = false;
};

}  // namespace

bool ReadRegistryScript(std::string_view script, std::string_view modulePath, std::vector<RegistryKey>& keys) {
  keys.clear();
  // The path goes inside quotes: a quote in it is doubled.
  std::string escaped;
  for (const char c : modulePath) {
    escaped += c;
    if (c == '\'') escaped += '\'';
  }
  std::string text(script);
  constexpr std::string_view kMarker = "%MODULE%";
  for (std::size_t at = 0; (at = text.find(kMarker, at)) != std::string::npos; at += escaped.size()) {
    text.replace(at, kMarker.size(), escaped);
  }
  std::vector<RegistryKey> roots;
  if (!Reader(text).Keys(roots, nullptr, 0)) return false;
  // One root, HKCR, holding keys only.
  if (roots.size() != 1 || roots[0].hasDefault || !roots[0].values.empty() ||
      !(equalsNoCase(roots[0].name, "HKCR") || equalsNoCase(roots[0].name, "HKEY_CLASSES_ROOT"))) {
    return false;
  }
  keys = std::move(roots[0].subkeys);
  return true;
}

}  // namespace zel::com
