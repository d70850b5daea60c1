// SASL messages and the exchange over a protocol's SaslChannel.
#include "net/sasl.h"

#include <algorithm>
#include <cstring>

#include "codec/base64.h"
#include "platform/ascii_case.h"

namespace zel {

namespace {

// Separator of the XOAUTH2 and OAUTHBEARER key-value pairs (RFC 7628 kvsep).
constexpr char kSep = '\x01';
// The OAUTHBEARER answer to an error challenge: a lone kvsep (RFC 7628 3.2.3).
constexpr std::string_view kOauthBearerAbort = "\x01";
// Challenges answered at most in one exchange: LOGIN asks twice; no
// mechanism here asks more, so a server that goes on is refused.
constexpr int kMaxChallenges = 4;

void Base64Into(std::string_view bytes, std::string& out) {
  out.assign(base64EncodedSize(bytes.size()) + 1, '\0');
  out.resize(base64Encode(bytes.data(), bytes.size(), out.data()));
}

}  // namespace

const char* SaslName(SaslMechanism mechanism) {
  switch (mechanism) {
    case SaslMechanism::kPlain: return "PLAIN";
    case SaslMechanism::kLogin: return "LOGIN";
    case SaslMechanism::kXoauth2: return "XOAUTH2";
    case SaslMechanism::kOauthBearer: return "OAUTHBEARER";
  }
  return "";
}

void NoteSaslMechanisms(std::string_view words, SaslMechanisms& offered) {
  std::size_t start = 0;
  while (start < words.size()) {
    const std::size_t end = std::min(words.find(' ', start), words.size());
    const std::string_view word = words.substr(start, end - start);
    if (equalsNoCase(word, "PLAIN")) offered.plain = true;
    if (equalsNoCase(word, "LOGIN")) offered.login = true;
    if (equalsNoCase(word, "XOAUTH2")) offered.xoauth2 = true;
    if (equalsNoCase(word, "OAUTHBEARER")) offered.oauthBearer = true;
    start = end + 1;
  }
}

bool ChooseSaslMechanism(SaslSecret secret, const SaslMechanisms& offered, SaslMechanism* chosen) {
  if (secret == SaslSecret::kPassword) {
    if (offered.plain || offered.login) {
      *chosen = offered.plain ? SaslMechanism::kPlain : SaslMechanism::kLogin;
      return true;
    }
    return false;
  }
  if (offered.xoauth2 || offered.oauthBearer) {
    *chosen = offered.xoauth2 ? SaslMechanism::kXoauth2 : SaslMechanism::kOauthBearer;
    return true;
  }
  return false;
}

bool SaslInitialResponse(SaslMechanism mechanism, const char* user, const char* secret,
                         const char* host, int port, std::string& out) {
  out.clear();
  const std::string_view u(user != nullptr ? user : "");
  const std::string_view s(secret != nullptr ? secret : "");
  std::string message;
  switch (mechanism) {
    case SaslMechanism::kLogin:
      return true;
    case SaslMechanism::kPlain:
      message.append(1, '\0').append(u).append(1, '\0').append(s);
      break;
    case SaslMechanism::kXoauth2:
      if (u.find(kSep) != u.npos || s.find(kSep) != s.npos) return false;
      message.append("user=").append(u).append(1, kSep);
      message.append("auth=Bearer ").append(s).append(2, kSep);
      break;
    case SaslMechanism::kOauthBearer:
      // The gs2 header names the user; "," and "=" would need escapes that
      // no mail provider's user name needs.
      if (u.find_first_of(",=\x01") != u.npos || s.find(kSep) != s.npos) return false;
      message.append("n,a=").append(u).append(",").append(1, kSep);
      message.append("host=").append(host != nullptr ? host : "").append(1, kSep);
      message.append("port=").append(std::to_string(port)).append(1, kSep);
      message.append("auth=Bearer ").append(s).append(2, kSep);
      break;
  }
  Base64Into(message, out);
  WipeSecret(message);
  return true;
}

void SaslEncode(std::string_view text, std::string& out) { Base64Into(text, out); }

std::string SaslDecode(std::string_view encoded) {
  std::string text(base64DecodedBound(encoded.size()), '\0');
  text.resize(base64DecodeLine(encoded.data(), encoded.size(), text.data()));
  for (char& c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) c = ' ';
  }
  return text;
}

void WipeSecret(void* buffer, std::size_t size) {
  volatile unsigned char* p = static_cast<volatile unsigned char*>(buffer);
  while (size-- > 0) *p++ = 0;
}

void WipeSecret(std::string& text) {
  WipeSecret(text.data(), text.size());
  text.clear();
}

bool SaslLineChannel::SendStart(const char* mechanism, const std::string& initialResponse) {
  std::string line = command_ + " " + mechanism;
  if (!initialResponse.empty()) line += " " + initialResponse;
  const bool sent = socket_.SendLine(line.c_str()) != 0;
  WipeSecret(line);
  return sent;
}

bool SaslLineChannel::SendResponse(const std::string& response) {
  return socket_.SendLine(response.c_str()) != 0;
}

SaslOutcome SaslAuthenticate(SaslChannel& channel, SaslMechanism mechanism, const char* user,
                             const char* secret, const char* host, int port,
                             std::string* serverReason) {
  std::string initial;
  if (!SaslInitialResponse(mechanism, user, secret, host, port, initial)) return SaslOutcome::kUnusable;
  // An initial response too long for the start line waits for the
  // server's empty challenge.
  std::string pending;
  if (initial.size() > channel.MaxInitialResponse()) pending.swap(initial);
  bool ok = channel.SendStart(SaslName(mechanism), initial);
  WipeSecret(initial);
  int loginStep = 0;
  bool refusedToken = false;
  std::string challenge;
  std::string response;
  for (int round = 0; ok; ++round) {
    const SaslChannel::Answer answer = channel.Receive(challenge);
    if (answer == SaslChannel::Answer::kSuccess) {
      ok = !refusedToken;  // a success after an error report is no login
      break;
    }
    if (answer == SaslChannel::Answer::kFailure || round == kMaxChallenges) {
      ok = false;
      break;
    }
    if (!pending.empty()) {
      response.swap(pending);
    } else if (mechanism == SaslMechanism::kLogin) {
      // Username, then Password: the challenges' texts are not relied on.
      SaslEncode(loginStep++ == 0 ? std::string_view(user) : std::string_view(secret), response);
    } else if (mechanism == SaslMechanism::kPlain) {
      SaslInitialResponse(mechanism, user, secret, host, port, response);
    } else {
      // XOAUTH2 and OAUTHBEARER challenge only to report an error.
      refusedToken = true;
      if (serverReason != nullptr) *serverReason = SaslDecode(challenge);
      if (mechanism == SaslMechanism::kOauthBearer) SaslEncode(kOauthBearerAbort, response);
    }
    ok = channel.SendResponse(response);
    WipeSecret(response);
  }
  WipeSecret(pending);
  return ok ? SaslOutcome::kAccepted : SaslOutcome::kRefused;
}

}  // namespace zel
