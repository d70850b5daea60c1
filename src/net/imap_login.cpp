// InetImap: connecting, the greeting, STARTTLS and the login (LOGIN or
// AUTHENTICATE).
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "net/inet_imap.h"
#include "platform/ascii_case.h"
#include "platform/log.h"

namespace zel {

namespace {

FailureKind LoginRefusal(const ImapLine& line) {
  for (const char* code : {"UNAVAILABLE", "INUSE", "LIMIT"}) {
    if (equalsNoCase(line.code, code)) return FailureKind::kTemporary;
  }
  if (equalsNoCase(line.code, "SERVERBUG")) return FailureKind::kServer;
  return FailureKind::kAuth;
}

// The AUTHENTICATE exchange (RFC 3501 6.2.2, SASL-IR of RFC 4959) over the
// IMAP channel; Receive reads through the client.
class ImapSasl final : public SaslLineChannel {
 public:
  ImapSasl(InetSocket& socket, const std::string& tag, std::size_t maxInitial,
           std::function<Answer(std::string&)> receive)
      : SaslLineChannel(socket, tag + " AUTHENTICATE", maxInitial), receive_(std::move(receive)) {}
  Answer Receive(std::string& challenge) override { return receive_(challenge); }

 private:
  std::function<Answer(std::string&)> receive_;
};

}  // namespace

int InetImap::ReportTlsFailure(int channelResult, const char* host) {
  const TlsFailure failure = DescribeTlsFailure(channelResult);
  ZEL_LOG(InetImap, failure.logFormat, Text(host), s_.TlsDetail(), s_.TimeoutNote());
  return failure.code;
}

bool InetImap::AskCapabilities() {
  return Wait(Send("CAPABILITY"), nullptr) == ImapStatus::kOk;
}

int InetImap::Login(const char* host, int port, const char* user, const char* password) {
  capabilities_.clear();
  ahead_.clear();
  uidValidity = 0;
  exists = 0;
  switch (const int connected = s_.Connect(host, port)) {
    case 1:
      break;
    case -4:
    case -5:
    case -6:
      return ReportTlsFailure(connected, host);
    case -2:
      ZEL_LOG(InetImap, "ソケットの作成に失敗 [%s]", Text(host));
      return -101;
    case -3:
      ZEL_LOG(InetImap, "コネクトエラー発生 [%s]%s", Text(host), s_.TimeoutNote());
      return -102;
    default:
      ZEL_LOG(InetImap, "ホスト名解決に失敗 [%s]", Text(host));
      return -100;
  }
  if (authMode_ != kPopAuthClassic && s_.TlsMode() == kTlsOff && !s_.PeerIsLoopback()) {
    ZEL_LOG(InetImap, "暗号化されていない接続ではIMAP認証しない [%s]", Text(host));
    s_.NoteFailure(FailureKind::kSetting, "暗号化されていない接続ではIMAP認証しない [%s]", Text(host));
    return kAuthUnencrypted;
  }
  ImapResponse greeting;
  ImapLine line;
  if (ReadResponse(greeting, false)) line = ParseImapLine(greeting.lines.front());
  if (line.kind != ImapLineKind::kUntagged ||
      (line.status != ImapStatus::kOk && line.status != ImapStatus::kPreauth)) {
    s_.NoteReplyFailure(FailureKind::kServer);
    ZEL_LOG(InetImap, "IMAP接続応答エラー [%s]%s%s", Text(host), s_.ReplyNote(), s_.TimeoutNote());
    return -200;
  }
  NoteUntagged(greeting);
  if (s_.TlsMode() == kTlsStartTls) {
    // No fall-back to plain text: the login would show the password.
    if (Wait(Send("STARTTLS"), nullptr) != ImapStatus::kOk) {
      s_.NoteReplyFailure(FailureKind::kTls);
      ZEL_LOG(InetImap, "STARTTLS コマンドエラー%s%s", s_.ReplyNote(), s_.TimeoutNote());
      return kTlsNotOffered;
    }
    const int started = s_.StartTls();
    if (started != 1) return ReportTlsFailure(started, host);
    capabilities_.clear();  // those told in the clear do not count
  } else if (line.status == ImapStatus::kPreauth) {
    return 1;
  }
  if (capabilities_.empty()) AskCapabilities();
  if (authMode_ != kPopAuthClassic) return Authenticate(host, user, password);
  return LoginCommand(host, user, password);
}

int InetImap::LoginCommand(const char* host, const char* user, const char* password) {
  // Each argument a quoted string, or a synchronizing literal: the text
  // up to "{n}" goes as a line, the server's "+" asks for the bytes.
  std::vector<std::string> segments{"LOGIN"};
  bool unusable = false;
  for (const char* arg : {Text(user), Text(password)}) {
    std::string quoted;
    segments.back() += ' ';
    if (ImapQuoted(arg, quoted)) {
      segments.back() += quoted;
    } else {
      unusable = unusable || std::strpbrk(arg, "\r\n") != nullptr;
      std::string& line = segments.back();
      line += '{';
      line += std::to_string(std::strlen(arg));
      line += '}';
      segments.emplace_back(arg);
    }
  }
  if (unusable) {
    ZEL_LOG(InetImap, "LOGIN で送れない文字がユーザ名かパスワードにある [%s]", Text(host));
    s_.NoteFailure(FailureKind::kSetting, "LOGIN で送れない文字がユーザ名かパスワードにある [%s]", Text(host));
    for (std::string& segment : segments) WipeSecret(segment);
    return -201;
  }
  std::string tag = Send(segments.front());
  bool sent = !tag.empty();
  for (std::size_t i = 1; sent && i < segments.size(); ++i) {
    std::string line;
    sent = ReadLine(line) && ParseImapLine(line).kind == ImapLineKind::kContinuation &&
           s_.SendLine(segments[i].c_str()) != 0;
  }
  for (std::string& segment : segments) WipeSecret(segment);
  const ImapStatus status = sent ? Wait(tag, nullptr) : ImapStatus::kNone;
  if (status == ImapStatus::kOk) return 1;
  s_.NoteReplyFailure(status == ImapStatus::kNone ? FailureKind::kServer
                                                  : LoginRefusal(ParseImapLine(s_.replyLine)));
  // The log outlives the session and others can read it: no password.
  ZEL_LOG(InetImap, "LOGIN %s ******** コマンドエラー [%s]%s%s", Text(user), Text(host), s_.ReplyNote(),
          s_.TimeoutNote());
  return -201;
}

int InetImap::Authenticate(const char* host, const char* user, const char* secret) {
  SaslMechanism mechanism = SaslMechanism::kPlain;
  if (authMode_ == kPopAuthToken) {
    const bool xoauth2 = HasCapability("AUTH=XOAUTH2");
    mechanism = !xoauth2 && HasCapability("AUTH=OAUTHBEARER") ? SaslMechanism::kOauthBearer
                                                               : SaslMechanism::kXoauth2;
  }
  char tag[16];
  std::snprintf(tag, sizeof tag, "Z%04u", ++tagNumber_ % 100000);
  const std::string ownTag = tag;
  ImapStatus final = ImapStatus::kNone;
  ImapSasl channel(s_, ownTag, HasCapability("SASL-IR") ? kCommandSize : 0,
                   [&](std::string& challenge) {
                     std::string line;
                     for (;;) {
                       if (!ReadLine(line)) return SaslChannel::Answer::kFailure;
                       const ImapLine parsed = ParseImapLine(line);
                       if (parsed.kind == ImapLineKind::kContinuation) {
                         challenge = std::string(parsed.rest);
                         return SaslChannel::Answer::kChallenge;
                       }
                       if (parsed.kind == ImapLineKind::kTagged && parsed.tag == ownTag) {
                         final = parsed.status;
                         if (startsWithNoCase(parsed.code, "CAPABILITY ")) {
                           capabilities_ = std::string(parsed.code.substr(11));
                         }
                         return parsed.status == ImapStatus::kOk ? SaslChannel::Answer::kSuccess
                                                                 : SaslChannel::Answer::kFailure;
                       }
                     }
                   });
  std::string reason;
  switch (SaslAuthenticate(channel, mechanism, user, secret, s_.ServerName(), s_.Port(), &reason)) {
    case SaslOutcome::kAccepted:
      return 1;
    case SaslOutcome::kUnusable:
      ZEL_LOG(InetImap, "AUTHENTICATE %s で送れない文字がユーザ名かパスワードにある [%s]", SaslName(mechanism),
              Text(host));
      s_.NoteFailure(FailureKind::kSetting, "AUTHENTICATE %s で送れない文字がユーザ名かパスワードにある [%s]",
                     SaslName(mechanism), Text(host));
      return kAuthRefused;
    case SaslOutcome::kRefused:
      break;
  }
  s_.NoteReplyFailure(final == ImapStatus::kNone ? FailureKind::kServer : LoginRefusal(ParseImapLine(s_.replyLine)));
  if (!reason.empty()) s_.NoteFailure(s_.Failure().kind, "%s %s", s_.Failure().text, reason.c_str());
  ZEL_LOG(InetImap, "AUTHENTICATE %s コマンドエラー [%s]%s%s%s%s", SaslName(mechanism), Text(host), s_.ReplyNote(),
          reason.empty() ? "" : " ", reason.c_str(), s_.TimeoutNote());
  return kAuthRefused;
}

}  // namespace zel
