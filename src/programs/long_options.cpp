#include "programs/long_options.h"

#include <climits>
#include <string_view>

#include "programs/console_text.h"

namespace zel::sender {

namespace {

// Longest time-out: about eleven days, far beyond any server's patience.
constexpr int kMaxTimeout = 999999;

bool ParseNumber(std::string_view text, int limit, int* value) {
  if (text.empty()) return false;
  long long n = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
    if (n > limit) return false;
  }
  *value = static_cast<int>(n);
  return true;
}

}  // namespace

LongParse ParseLongOption(int argc, const char* const* argv, int& i, unsigned allowed,
                          LongOptions& options) {
  const std::string_view arg = argv[i];
  if (arg.substr(0, 2) != "--") return LongParse::kNotLong;
  const std::size_t equals = arg.find('=');
  const std::string_view name = arg.substr(2, equals == std::string_view::npos ? arg.npos : equals - 2);
  const std::string option = "--" + HostText(name);
  // kUsage with the problem named.
  const auto unknown = [&] {
    options.problem = "不明なオプション: " + option;
    return LongParse::kUsage;
  };
  const auto noValue = [&] {
    options.problem = option + " の値がありません";
    return LongParse::kUsage;
  };
  const auto badValue = [&](std::string_view value) {
    options.problem = value.empty() ? option + " の値がありません" : option + " の値が正しくありません: " + HostText(value);
    return LongParse::kUsage;
  };
  struct Flag {
    const char* name;
    unsigned bit;
    bool* field;
  };
  const Flag flags[] = {{"help", kLongHelp, &options.help},
                        {"version", kLongVersion, &options.version},
                        {"sysexits", kLongSysexits, &options.sysexits},
                        {"delete-seen", kLongDeleteSeen, &options.deleteSeen},
                        {"utf8", kLongUtf8, &options.utf8},
                        {"all", kLongAll, &options.all},
                        {"keep-display", kLongDelivery, &options.keepDisplay},
                        {"no-sync", kLongDelivery, &options.noSync},
                        {"count", kLongCount, &options.count},
                        {"imap", kLongImap, &options.imap},
                        {"idle", kLongImap, &options.idle},
                        {"debug", kLongDebug, &options.debug},
                        {"syslog", kLongDebug, &options.syslog}};
  for (const Flag& f : flags) {
    if (name != f.name) continue;
    if ((allowed & f.bit) == 0) return unknown();
    if (equals != std::string_view::npos) {
      options.problem = option + " は値を取りません";
      return LongParse::kUsage;
    }
    *f.field = true;
    return LongParse::kOk;
  }
  struct Number {
    const char* name;
    unsigned bit;
    int* field;
    int limit;
  };
  const Number numbers[] = {{"timeout", kLongTimeout, &options.timeout, kMaxTimeout},
                            {"smtpauth", kLongSmtpAuth, &options.smtpAuth, 2},
                            {"popauth", kLongPopAuth, &options.popAuth, 2},
                            {"max-size", kLongMaxSize, &options.maxSize, INT_MAX},
                            {"kill-size", kLongScreen, &options.killSize, INT_MAX}};
  // The value after "=" or in the next argument.
  const auto valueOf = [&]() -> std::string_view {
    if (equals != std::string_view::npos) return arg.substr(equals + 1);
    return i + 1 < argc ? std::string_view(argv[++i]) : std::string_view();
  };
  for (const Number& n : numbers) {
    if (name != n.name) continue;
    if ((allowed & n.bit) == 0) return unknown();
    const std::string_view value = valueOf();
    return ParseNumber(value, n.limit, n.field) ? LongParse::kOk : badValue(value);
  }
  // A name: printable ASCII without blanks.
  const auto isName = [](std::string_view value) {
    for (const char c : value) {
      if (c <= ' ' || c > '~') return false;
    }
    return !value.empty();
  };
  if (name == "charset" && (allowed & kLongCharset) != 0) {
    const std::string_view value = valueOf();
    if (!isName(value)) return badValue(value);
    options.charset.assign(value);
    return LongParse::kOk;
  }
  if (name == "account" && (allowed & kLongAccount) != 0) {
    const std::string_view value = valueOf();
    if (!isName(value)) return badValue(value);
    options.accounts.emplace_back(value);
    return LongParse::kOk;
  }
  struct Text {
    const char* name;
    unsigned bit;
    std::string* field;
  };
  const Text texts[] = {{"config", kLongConfig, &options.config},
                        {"folder", kLongImap, &options.folder},
                        {"maildir", kLongDelivery, &options.maildir},
                        {"mbox", kLongDelivery, &options.mbox},
                        {"mda", kLongDelivery, &options.mda},
                        {"tls-fingerprint", kLongConnection, &options.tlsFingerprint},
                        {"tls-min-version", kLongConnection, &options.tlsMinVersion},
                        {"proxy", kLongConnection, &options.proxy},
                        {"filter", kLongScreen, &options.filter}};
  for (const Text& t : texts) {
    if (name != t.name) continue;
    if ((allowed & t.bit) == 0) return unknown();
    const std::string_view value = valueOf();
    if (value.empty()) return noValue();
    // One delivery at a time: a second one names the first.
    if (t.bit == kLongDelivery) {
      for (const auto& [deliveryName, field] : {std::pair{"--maildir", &options.maildir},
                                                {"--mbox", &options.mbox}, {"--mda", &options.mda}}) {
        if (field == t.field || field->empty()) continue;
        options.problem = std::string(deliveryName) + " と " + option + " は同時に指定できません";
        return LongParse::kUsage;
      }
    }
    t.field->assign(value);
    return LongParse::kOk;
  }
  return unknown();
}

}  // namespace zel::sender
