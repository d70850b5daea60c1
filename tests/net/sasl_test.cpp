// SASL messages, the choice of mechanism and the exchange's steps over a
// channel that plays the server's answers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/sasl.h"

namespace zel {
namespace {

std::string Decoded(const std::string& base64) { return SaslDecode(base64); }

TEST(Sasl, MessagesOfEachMechanism) {
  std::string out;
  // RFC 4616's example without an authorisation identity.
  ASSERT_TRUE(SaslInitialResponse(SaslMechanism::kPlain, "tim", "tanstaaftanstaaf", "", 0, out));
  EXPECT_EQ(out, "AHRpbQB0YW5zdGFhZnRhbnN0YWFm");
  SaslEncode("alice", out);
  EXPECT_EQ(out, "YWxpY2U=");
  SaslEncode("", out);
  EXPECT_EQ(out, "");
  ASSERT_TRUE(SaslInitialResponse(SaslMechanism::kXoauth2, "alice", "TOKEN", "", 0, out));
  EXPECT_EQ(out, "dXNlcj1hbGljZQFhdXRoPUJlYXJlciBUT0tFTgEB");  // user=alice^Aauth=Bearer TOKEN^A^A
  ASSERT_TRUE(SaslInitialResponse(SaslMechanism::kOauthBearer, "alice", "TOKEN", "mail.example.jp",
                                  993, out));
  EXPECT_EQ(Decoded(out), "n,a=alice, host=mail.example.jp port=993 auth=Bearer TOKEN  ");
  // A token as long as the field holds is carried whole.
  const std::string token(4095, 't');
  ASSERT_TRUE(SaslInitialResponse(SaslMechanism::kXoauth2, "alice", token.c_str(), "", 0, out));
  EXPECT_EQ(out.size(), (token.size() + 25 + 2) / 3 * 4);
  // Bytes the message cannot carry are refused, not sent.
  EXPECT_FALSE(SaslInitialResponse(SaslMechanism::kXoauth2, "al\x01ice", "T", "", 0, out));
  EXPECT_FALSE(SaslInitialResponse(SaslMechanism::kOauthBearer, "a,b", "T", "h", 1, out));
  EXPECT_EQ(out, "");
}

TEST(Sasl, OfferAndChoice) {
  struct Case {
    const char* offer;
    SaslSecret secret;
    bool found;
    SaslMechanism chosen;
  };
  const Case cases[] = {
      {"LOGIN PLAIN", SaslSecret::kPassword, true, SaslMechanism::kPlain},
      {"login", SaslSecret::kPassword, true, SaslMechanism::kLogin},
      {"XOAUTH2 OAUTHBEARER PLAIN", SaslSecret::kToken, true, SaslMechanism::kXoauth2},
      {"oauthbearer PLAIN", SaslSecret::kToken, true, SaslMechanism::kOauthBearer},
      {"PLAIN LOGIN", SaslSecret::kToken, false, SaslMechanism::kPlain},
      {"CRAM-MD5 XOAUTH", SaslSecret::kPassword, false, SaslMechanism::kPlain},
  };
  for (const Case& c : cases) {
    SaslMechanisms offered;
    NoteSaslMechanisms(c.offer, offered);
    SaslMechanism chosen = SaslMechanism::kPlain;
    EXPECT_EQ(ChooseSaslMechanism(c.secret, offered, &chosen), c.found) << c.offer;
    EXPECT_EQ(chosen, c.chosen) << c.offer;
  }
}

// A channel that records what the client sent and plays scripted answers
// ("+" success, "?TEXT" a challenge, "-" failure).
class PlayedChannel final : public SaslChannel {
 public:
  PlayedChannel(std::vector<std::string> answers, std::size_t maxInitial)
      : answers_(std::move(answers)), maxInitial_(maxInitial) {}
  bool SendStart(const char* mechanism, const std::string& initial) override {
    sent.push_back(std::string(mechanism) + (initial.empty() ? "" : " " + initial));
    return true;
  }
  bool SendResponse(const std::string& response) override {
    sent.push_back(response);
    return true;
  }
  Answer Receive(std::string& challenge) override {
    if (next_ == answers_.size()) return Answer::kFailure;
    const std::string& a = answers_[next_++];
    if (a[0] == '+') return Answer::kSuccess;
    if (a[0] == '-') return Answer::kFailure;
    challenge = a.substr(1);
    return Answer::kChallenge;
  }
  std::size_t MaxInitialResponse() const override { return maxInitial_; }
  std::vector<std::string> sent;

 private:
  std::vector<std::string> answers_;
  std::size_t next_ = 0;
  std::size_t maxInitial_;
};

TEST(Sasl, ExchangesStepByStep) {
  std::string json;
  SaslEncode(R"({"status":"401","schemes":"bearer"})", json);
  std::string xoauth2, plain;
  SaslInitialResponse(SaslMechanism::kXoauth2, "alice", "TOKEN", "", 0, xoauth2);
  SaslInitialResponse(SaslMechanism::kPlain, "alice", "pw", "", 0, plain);
  struct Case {
    SaslMechanism mechanism;
    std::vector<std::string> answers;
    std::size_t maxInitial;
    bool ok;
    std::vector<std::string> sent;
    std::string reason;
  };
  const Case cases[] = {
      {SaslMechanism::kPlain, {"+"}, 500, true, {"PLAIN " + plain}, ""},
      // Too long for the start line: it answers the empty challenge.
      {SaslMechanism::kPlain, {"?", "+"}, 4, true, {"PLAIN", plain}, ""},
      {SaslMechanism::kLogin, {"?VXNlcm5hbWU6", "?UGFzc3dvcmQ6", "+"}, 500, true,
       {"LOGIN", "YWxpY2U=", "cHc="}, ""},
      {SaslMechanism::kXoauth2, {"+"}, 500, true, {"XOAUTH2 " + xoauth2}, ""},
      // A refused token: the JSON is the reason, the answer an empty line.
      {SaslMechanism::kXoauth2, {"?" + json, "-"}, 500, false, {"XOAUTH2 " + xoauth2, ""},
       R"({"status":"401","schemes":"bearer"})"},
      // OAUTHBEARER answers an error with a lone 0x01.
      {SaslMechanism::kOauthBearer, {"?" + json, "-"}, 2000, false, {"", "AQ=="},
       R"({"status":"401","schemes":"bearer"})"},
      // A success after an error report is no login; endless challenges neither.
      {SaslMechanism::kXoauth2, {"?" + json, "+"}, 500, false, {"XOAUTH2 " + xoauth2, ""}, ""},
      {SaslMechanism::kLogin, {"?", "?", "?", "?", "?", "?"}, 500, false, {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(SaslName(c.mechanism) + std::string(" ") + std::to_string(c.answers.size()));
    PlayedChannel channel(c.answers, c.maxInitial);
    std::string reason;
    const bool password = c.mechanism == SaslMechanism::kPlain || c.mechanism == SaslMechanism::kLogin;
    EXPECT_EQ(SaslAuthenticate(channel, c.mechanism, "alice", password ? "pw" : "TOKEN", "mail.example.jp",
                               587, &reason),
              c.ok ? SaslOutcome::kAccepted : SaslOutcome::kRefused);
    // An empty first entry: only the last line is checked (the start line
    // holds the host and port).
    if (!c.sent.empty() && c.sent[0].empty()) {
      EXPECT_EQ(channel.sent.back(), c.sent.back());
    } else if (!c.sent.empty()) {
      EXPECT_EQ(channel.sent, c.sent);
    }
    if (!c.reason.empty()) {
      EXPECT_EQ(reason, c.reason);
    }
  }
  // A user name the mechanism cannot carry: nothing is sent.
  PlayedChannel channel({"+"}, 500);
  EXPECT_EQ(SaslAuthenticate(channel, SaslMechanism::kXoauth2, "al\x01ice", "T", "h", 1, nullptr),
            SaslOutcome::kUnusable);
  EXPECT_TRUE(channel.sent.empty());
}

}  // namespace
}  // namespace zel
