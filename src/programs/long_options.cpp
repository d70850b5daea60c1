#include "programs/long_options.h"

#include <climits>
#include <string_view>

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
                        {"idle", kLongImap, &options.idle}};
  for (const Flag& f : flags) {
    if (name != f.name) continue;
    if ((allowed & f.bit) == 0 || equals != std::string_view::npos) return LongParse::kUsage;
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
                            {"max-size", kLongMaxSize, &options.maxSize, INT_MAX}};
  // The value after "=" or in the next argument.
  const auto valueOf = [&]() -> std::string_view {
    if (equals != std::string_view::npos) return arg.substr(equals + 1);
    return i + 1 < argc ? std::string_view(argv[++i]) : std::string_view();
  };
  for (const Number& n : numbers) {
    if (name != n.name) continue;
    if ((allowed & n.bit) == 0) return LongParse::kUsage;
    return ParseNumber(valueOf(), n.limit, n.field) ? LongParse::kOk : LongParse::kUsage;
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
    if (!isName(value)) return LongParse::kUsage;
    options.charset.assign(value);
    return LongParse::kOk;
  }
  if (name == "account" && (allowed & kLongAccount) != 0) {
    const std::string_view value = valueOf();
    if (!isName(value)) return LongParse::kUsage;
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
                        {"mda", kLongDelivery, &options.mda}};
  for (const Text& t : texts) {
    if (name != t.name) continue;
    if ((allowed & t.bit) == 0) return LongParse::kUsage;
    const std::string_view value = valueOf();
    if (value.empty()) return LongParse::kUsage;
    t.field->assign(value);
    // One delivery at a time.
    const int deliveries = !options.maildir.empty() + !options.mbox.empty() + !options.mda.empty();
    return deliveries <= 1 ? LongParse::kOk : LongParse::kUsage;
  }
  return LongParse::kUsage;
}

}  // namespace zel::sender
