// IMAP response lines, literals, codes and tokens; UID sets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/imap_response.h"
#include "net/inet_imap.h"

namespace zel {
namespace {

TEST(ImapResponse, LinesTakenApart) {
  struct Case {
    const char* line;
    ImapLineKind kind;
    const char* tag;
    ImapStatus status;
    std::uint32_t number;
    const char* word;
    const char* code;
    const char* rest;
  };
  const Case cases[] = {
      {"* OK [UIDVALIDITY 3857529045] UIDs valid", ImapLineKind::kUntagged, "", ImapStatus::kOk, 0, "",
       "UIDVALIDITY 3857529045", "UIDs valid"},
      {"* 172 EXISTS", ImapLineKind::kUntagged, "", ImapStatus::kNone, 172, "EXISTS", "", ""},
      {"* 12 FETCH (UID 7 BODY[] {5}", ImapLineKind::kUntagged, "", ImapStatus::kNone, 12, "FETCH", "",
       "(UID 7 BODY[] {5}"},
      {"* SEARCH 2 84 882", ImapLineKind::kUntagged, "", ImapStatus::kNone, 0, "SEARCH", "", "2 84 882"},
      {"Z0001 NO [AUTHENTICATIONFAILED] Authentication failed.", ImapLineKind::kTagged, "Z0001",
       ImapStatus::kNo, 0, "", "AUTHENTICATIONFAILED", "Authentication failed."},
      {"a XYZ BAD", ImapLineKind::kTagged, "a", ImapStatus::kNone, 0, "XYZ", "", "BAD"},
      {"* BYE [UNAVAILABLE", ImapLineKind::kUntagged, "", ImapStatus::kBye, 0, "", "", "[UNAVAILABLE"},
      {"+ idling", ImapLineKind::kContinuation, "", ImapStatus::kNone, 0, "", "", "idling"},
      {"+", ImapLineKind::kContinuation, "", ImapStatus::kNone, 0, "", "", ""},
      {"*", ImapLineKind::kMalformed, "", ImapStatus::kNone, 0, "", "", ""},
      {"", ImapLineKind::kMalformed, "", ImapStatus::kNone, 0, "", "", ""},
      {"* 99999999999 EXISTS", ImapLineKind::kUntagged, "", ImapStatus::kNone, 0, "99999999999", "", "EXISTS"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const ImapLine line = ParseImapLine(c.line);
    EXPECT_EQ(line.kind, c.kind);
    EXPECT_EQ(line.tag, c.tag);
    EXPECT_EQ(line.status, c.status);
    EXPECT_EQ(line.number, c.number);
    EXPECT_EQ(line.word, c.word);
    EXPECT_EQ(line.code, c.code);
    EXPECT_EQ(line.rest, c.rest);
  }
}

TEST(ImapResponse, LiteralsCodesCapabilities) {
  std::uint64_t size = 0;
  EXPECT_TRUE(ImapTrailingLiteral("* 1 FETCH (BODY[] {4096}", &size));
  EXPECT_EQ(size, 4096u);
  EXPECT_TRUE(ImapTrailingLiteral("A LOGIN {5+}", &size));
  EXPECT_EQ(size, 5u);
  EXPECT_TRUE(ImapTrailingLiteral("x {4294967295}", &size));
  for (const char* no : {"x {4294967296}", "x {}", "x {12", "x 12}", "x {1a}", "x {99999999999}"}) {
    EXPECT_FALSE(ImapTrailingLiteral(no, &size)) << no;
  }
  std::uint32_t value = 0;
  EXPECT_TRUE(ImapCodeValue("uidvalidity 42", "UIDVALIDITY", &value));
  EXPECT_EQ(value, 42u);
  EXPECT_FALSE(ImapCodeValue("UIDNEXT 42", "UIDVALIDITY", &value));
  EXPECT_FALSE(ImapCodeValue("UIDVALIDITY 4294967296", "UIDVALIDITY", &value));
  EXPECT_TRUE(ImapHasCapability("IMAP4rev1 idle UIDPLUS", "IDLE"));
  EXPECT_FALSE(ImapHasCapability("IMAP4rev1 IDLEX", "IDLE"));
}

TEST(ImapResponse, Tokens) {
  using Kind = ImapTokens::Kind;
  ImapTokens tokens(R"((UID 7 FLAGS (\Seen) "a \"q\" \\" BODY[HEADER.FIELDS (MESSAGE-ID)] NIL {12})");
  std::vector<std::pair<Kind, std::string>> seen;
  for (auto t = tokens.Next(); t.kind != Kind::kEnd && t.kind != Kind::kError; t = tokens.Next()) {
    seen.emplace_back(t.kind, t.kind == Kind::kQuoted ? ImapTokens::Unquote(t.text) : std::string(t.text));
  }
  const std::vector<std::pair<Kind, std::string>> want = {
      {Kind::kOpen, "("},   {Kind::kAtom, "UID"},   {Kind::kAtom, "7"},  {Kind::kAtom, "FLAGS"},
      {Kind::kOpen, "("},   {Kind::kAtom, "\\Seen"}, {Kind::kClose, ")"}, {Kind::kQuoted, "a \"q\" \\"},
      {Kind::kAtom, "BODY[HEADER.FIELDS (MESSAGE-ID)]"}, {Kind::kAtom, "NIL"}, {Kind::kLiteral, "{12}"}};
  EXPECT_EQ(seen, want);
  EXPECT_EQ(tokens.Depth(), 1);
  ImapTokens rest(")", 1);  // the line after the literal closes the list
  EXPECT_EQ(rest.Next().kind, Kind::kClose);
  EXPECT_EQ(rest.Depth(), 0);
  const std::string deep(kImapMaxDepth + 1, '(');
  for (const char* bad : {")", "\"open", "BODY[1", deep.c_str(), "{5} x"}) {
    ImapTokens t(bad);
    Kind kind = Kind::kOpen;
    while (kind == Kind::kOpen) kind = t.Next().kind;
    EXPECT_EQ(kind, Kind::kError) << bad;
  }
}

TEST(ImapResponse, UidSets) {
  EXPECT_EQ(ImapUidSets({9, 1, 2, 3, 5, 10, 11, 12, 3}), (std::vector<std::string>{"1:3,5,9:12"}));
  EXPECT_TRUE(ImapUidSets({}).empty());
  std::vector<std::uint32_t> spread;
  for (std::uint32_t u = 1; u < 2000; u += 2) spread.push_back(1000000 + u);
  const auto sets = ImapUidSets(spread);
  EXPECT_GT(sets.size(), 1u);
  std::size_t uids = 0;
  for (const auto& set : sets) {
    EXPECT_LE(set.size(), kImapUidSetMax);
    uids += static_cast<std::size_t>(std::count(set.begin(), set.end(), ',')) + 1;
  }
  EXPECT_EQ(uids, spread.size());
}

}  // namespace
}  // namespace zel
