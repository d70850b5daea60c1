// SASL for the mail clients: PLAIN (RFC 4616), LOGIN, XOAUTH2 and
// OAUTHBEARER (RFC 7628), one exchange driven over whatever line protocol
// carries it (SMTP AUTH, POP3 AUTH of RFC 5034, IMAP AUTHENTICATE).
//
// The protocol client supplies a SaslChannel that sends the start command
// and responses and sorts the server's answers; this module builds the
// messages, runs the steps and keeps what the server said about a refusal.
// Every buffer that held a secret is wiped before it goes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "net/inet_socket.h"

namespace zel {

// What the account's secret is: a password (PLAIN, LOGIN) or an OAuth 2.0
// access token (XOAUTH2, OAUTHBEARER).
enum class SaslSecret { kPassword, kToken };

enum class SaslMechanism { kPlain, kLogin, kXoauth2, kOauthBearer };

// The mechanism's name as the protocols spell it ("XOAUTH2").
const char* SaslName(SaslMechanism mechanism);

// The mechanisms a server offers.
struct SaslMechanisms {
  bool plain = false;
  bool login = false;
  bool xoauth2 = false;
  bool oauthBearer = false;
};

// NoteSaslMechanisms - marks the mechanisms named in `words` (separated by
// blanks, any case) in `offered`; unknown names are ignored.
void NoteSaslMechanisms(std::string_view words, SaslMechanisms& offered);

// ChooseSaslMechanism - a password takes PLAIN, else LOGIN; a token takes
// XOAUTH2, else OAUTHBEARER. Returns false when `offered` has none of them.
bool ChooseSaslMechanism(SaslSecret secret, const SaslMechanisms& offered, SaslMechanism* chosen);

// SaslInitialResponse - the client's first message of `mechanism`, base64
// encoded, into `out`: PLAIN "\0user\0secret", XOAUTH2
// "user=U\x01auth=Bearer T\x01\x01", OAUTHBEARER
// "n,a=U,\x01host=H\x01port=P\x01auth=Bearer T\x01\x01"; LOGIN has none
// ("" is written). `host` and `port` are the server's (OAUTHBEARER only).
// Returns false, with `out` empty, when `user` or `secret` holds a byte the
// message cannot carry (a NUL-free text is expected; XOAUTH2 and
// OAUTHBEARER refuse a 0x01, OAUTHBEARER a "," or "=" in the user name).
bool SaslInitialResponse(SaslMechanism mechanism, const char* user, const char* secret,
                         const char* host, int port, std::string& out);

// SaslEncode - base64 of `text` into `out` (a LOGIN answer).
void SaslEncode(std::string_view text, std::string& out);

// SaslDecode - the text of the base64 `encoded` (a challenge, such as the
// JSON error of XOAUTH2), control bytes shown as blanks, for log entries.
std::string SaslDecode(std::string_view encoded);

// WipeSecret - overwrites `size` bytes at `buffer` with zeros in a way the
// compiler cannot drop; WipeSecret(std::string&) wipes and empties.
void WipeSecret(void* buffer, std::size_t size);
void WipeSecret(std::string& text);

// The protocol side of one exchange.
class SaslChannel {
 public:
  enum class Answer {
    kSuccess,    // the server accepted the login
    kChallenge,  // the server waits for a response; `challenge` holds its base64 text
    kFailure,    // refused, or no answer (the client keeps the reply for its log)
  };
  // Sends the command that starts `mechanism`, with `initialResponse` when
  // it is not empty. Returns false when it could not be sent.
  virtual bool SendStart(const char* mechanism, const std::string& initialResponse) = 0;
  // Sends one response line (base64, or empty). Returns false when it
  // could not be sent.
  virtual bool SendResponse(const std::string& response) = 0;
  // Reads the server's next answer.
  virtual Answer Receive(std::string& challenge) = 0;
  // Longest initial response sent on the start command's line; a longer
  // one goes as the answer to the server's first (empty) challenge.
  virtual std::size_t MaxInitialResponse() const = 0;

 protected:
  ~SaslChannel() = default;
};

// The line side that SMTP, POP3 and IMAP share: the start command is
// `command`, a blank and the mechanism (and the initial response after
// another blank), each response a line of its own; the protocol's client
// sorts the answers (Receive).
class SaslLineChannel : public SaslChannel {
 public:
  SaslLineChannel(InetSocket& socket, std::string command, std::size_t maxInitialResponse)
      : socket_(socket), command_(std::move(command)), maxInitialResponse_(maxInitialResponse) {}
  bool SendStart(const char* mechanism, const std::string& initialResponse) override;
  bool SendResponse(const std::string& response) override;
  std::size_t MaxInitialResponse() const override { return maxInitialResponse_; }

 protected:
  ~SaslLineChannel() = default;
  InetSocket& socket_;

 private:
  std::string command_;
  std::size_t maxInitialResponse_;
};

enum class SaslOutcome {
  kAccepted,
  kRefused,   // refused or unanswered: the client's reply line tells why
  kUnusable,  // the user name or secret holds a byte the mechanism cannot carry; nothing was sent
};

// SaslAuthenticate - runs one exchange of `mechanism` for `user` with
// `secret` over `channel`. A challenge to XOAUTH2 or OAUTHBEARER is the
// server's error report: its text goes to `*serverReason` (decoded), the
// client answers as the mechanism requires and the server then refuses.
SaslOutcome SaslAuthenticate(SaslChannel& channel, SaslMechanism mechanism, const char* user,
                             const char* secret, const char* host, int port,
                             std::string* serverReason);

}  // namespace zel
