// InetSmtp: HELO, MAIL FROM, RCPT TO, DATA and the message file.
#include "net/inet_smtp.h"

#include <cstring>

#include "platform/sjis_text.h"
#include "platform/log.h"
#include "platform/text_file.h"

namespace zel {

namespace {
// Length of a reply code, and so the position of the continuation mark in a
// reply line ("250-...").
constexpr std::size_t kContinuationMark = 3;
}  // namespace

// The AUTH exchange of RFC 4954 over the SMTP channel. The AUTH command
// with its initial response stays within the 512 octets of a command line
// (RFC 5321 4.5.3.1.4): servers that do not take the longer AUTH line of
// RFC 4954 take this one.
class SmtpSasl final : public SaslLineChannel {
 public:
  explicit SmtpSasl(InetSmtp& client)
      : SaslLineChannel(client, "AUTH", 510 - sizeof("AUTH OAUTHBEARER ")), client_(client) {}
  Answer Receive(std::string& challenge) override {
    if (!client_.RecvReply()) return Answer::kFailure;
    const char* reply = client_.replyLine;
    if (reply[0] == '2') return Answer::kSuccess;
    if (std::strncmp(reply, "334", 3) != 0) return Answer::kFailure;
    challenge = reply[3] == ' ' ? reply + 4 : "";
    return Answer::kChallenge;
  }

 private:
  InetSmtp& client_;
};

void InetSmtp::NoteRefusal(FailureKind permanent) {
  NoteReplyFailure(replyLine[0] == '4' ? FailureKind::kTemporary : permanent);
}

bool InetSmtp::RecvReply(SmtpExtensions* extensions) {
  char code[kContinuationMark + 1] = {};
  bool sameCode = true;
  for (bool first = true;; first = false) {
    if (RecvLine() == 0) return false;
    if (extensions != nullptr) NoteEhloLine(replyLine, first, *extensions);
    // Every line of one reply carries the same code (RFC 5321 4.2.1); a
    // reply that changes it, "250-..." then "550 ...", is no answer.
    if (first) {
      std::strncpy(code, replyLine, kContinuationMark);
    } else if (std::strncmp(replyLine, code, kContinuationMark) != 0) {
      sameCode = false;
    }
    // A line shorter than four characters is a final line.
    if (std::strlen(replyLine) <= kContinuationMark ||
        replyLine[kContinuationMark] != '-') {
      return sameCode;
    }
  }
}

bool InetSmtp::Command(char success, const char* format, const char* arg) {
  const int sent = arg != nullptr ? SendCommand(format, arg) : SendLine(format);
  return sent != 0 && RecvReply() && replyLine[0] == success;
}

int InetSmtp::Open(const char* host, int port, const char* heloName, const char* authUser,
                   const char* authPassword) {
  switch (const int connected = Connect(host, port)) {
    case 1:
      break;
    case -4:
    case -5:
    case -6:
      return ReportTlsFailure(connected, host);
    case -2:
      ZEL_LOG(InetSmtp, "ソケットの作成に失敗 [%s]", Text(host));
      return -101;
    case -3:
      ZEL_LOG(InetSmtp, "コネクトエラー発生 [%s]%s", Text(host), TimeoutNote());
      return -102;
    default:
      ZEL_LOG(InetSmtp, "ホスト名解決に失敗 [%s]", Text(host));
      return -100;
  }
  // A password goes in the clear only to this machine; refused before any
  // command, so a remote server sees nothing but QUIT.
  if (authUser != nullptr && TlsMode() == kTlsOff && !PeerIsLoopback()) {
    ZEL_LOG(InetSmtp, "暗号化されていない接続ではSMTP認証しない [%s]", Text(host));
    NoteFailure(FailureKind::kSetting, "暗号化されていない接続ではSMTP認証しない [%s]", Text(host));
    return kAuthUnencrypted;
  }
  RecvReply();  // the greeting is not judged
  if (authUser == nullptr && TlsMode() != kTlsStartTls) {
    if (!Command('2', "HELO %s", Text(heloName))) {
      NoteRefusal(FailureKind::kServer);
      ZEL_LOG(InetSmtp, "HELO %s コマンドエラー%s%s", Text(heloName), ReplyNote(), TimeoutNote());
      return -301;
    }
    return 1;
  }
  SmtpExtensions extensions;
  if (!Ehlo(heloName, extensions)) return -301;
  if (TlsMode() == kTlsStartTls) {
    if (!extensions.startTls) {
      ZEL_LOG(InetSmtp, "STARTTLSに対応していないサーバです [%s]", Text(host));
      NoteFailure(FailureKind::kTls, "STARTTLSに対応していないサーバです [%s]", Text(host));
      return kTlsNotOffered;
    }
    if (!Command('2', "STARTTLS", nullptr)) {
      NoteRefusal(FailureKind::kTls);
      ZEL_LOG(InetSmtp, "STARTTLS コマンドエラー %s%s", replyLine, TimeoutNote());
      return kTlsNotOffered;
    }
    const int started = StartTls();
    if (started != 1) return ReportTlsFailure(started, host);
    // What the server offered before is forgotten (RFC 3207 4.2).
    extensions = SmtpExtensions{};
    if (!Ehlo(heloName, extensions)) return -301;
  }
  return authUser != nullptr ? Authenticate(host, authUser, Text(authPassword), extensions) : 1;
}

bool InetSmtp::Ehlo(const char* heloName, SmtpExtensions& extensions) {
  if (SendCommand("EHLO %s", Text(heloName)) == 0 || !RecvReply(&extensions) ||
      replyLine[0] != '2') {
    NoteRefusal(FailureKind::kServer);
    ZEL_LOG(InetSmtp, "EHLO %s コマンドエラー%s%s", Text(heloName), ReplyNote(), TimeoutNote());
    return false;
  }
  return true;
}

int InetSmtp::Authenticate(const char* host, const char* user, const char* password,
                           const SmtpExtensions& extensions) {
  SaslMechanism mechanism;
  if (!ChooseSaslMechanism(authSecret_, extensions.auth, &mechanism)) {
    ZEL_LOG(InetSmtp, "SMTP認証に対応していないサーバです [%s]", Text(host));
    NoteFailure(FailureKind::kAuth, "SMTP認証に対応していないサーバです [%s]", Text(host));
    return kAuthRefused;
  }
  SmtpSasl channel(*this);
  std::string reason;  // what the server said about a refused token
  switch (SaslAuthenticate(channel, mechanism, user, password, ServerName(), Port(), &reason)) {
    case SaslOutcome::kAccepted:
      return 1;
    case SaslOutcome::kUnusable:
      ZEL_LOG(InetSmtp, "AUTH %s で送れない文字がユーザ名かパスワードにある [%s]", SaslName(mechanism), Text(host));
      NoteFailure(FailureKind::kSetting, "AUTH %s で送れない文字がユーザ名かパスワードにある [%s]",
                  SaslName(mechanism), Text(host));
      return kAuthRefused;
    case SaslOutcome::kRefused:
      break;
  }
  NoteRefusal(FailureKind::kAuth);
  if (!reason.empty()) NoteFailure(Failure().kind, "%s %s", Failure().text, reason.c_str());
  // The server's reply and reason only: what was sent holds the secret.
  ZEL_LOG(InetSmtp, "AUTH %s コマンドエラー %s%s%s%s", SaslName(mechanism), replyLine,
          reason.empty() ? "" : " ", reason.c_str(), TimeoutNote());
  return kAuthRefused;
}

int InetSmtp::ReportTlsFailure(int channelResult, const char* host) {
  const TlsFailure failure = DescribeTlsFailure(channelResult);
  ZEL_LOG(InetSmtp, failure.logFormat, Text(host), TlsDetail(), TimeoutNote());
  return failure.code;
}

int InetSmtp::Deliver(const char* sender, char* recipients,
                      const char* messagePath) {
  refusedRecipient.clear();
  if (!Command('2', "MAIL FROM:<%s>", Text(sender))) {
    NoteRefusal(FailureKind::kServer);
    ZEL_LOG(InetSmtp, "MAIL FROM:<%s> コマンドエラー%s%s", Text(sender), ReplyNote(), TimeoutNote());
    return -302;
  }
  if (recipients != nullptr) {
    // Split in place: every "," becomes a NUL; empty pieces are skipped.
    const std::size_t length = std::strlen(recipients);
    for (std::size_t i = 0; i < length; ++i) {
      if (recipients[i] == ',') recipients[i] = '\0';
    }
    for (std::size_t i = 0; i < length;) {
      const char* piece = recipients + i;
      const std::size_t pieceLength = std::strlen(piece);
      i += pieceLength + 1;
      if (pieceLength == 0) continue;
      if (!Command('2', "RCPT TO:<%s>", piece)) {
        NoteRefusal(FailureKind::kServer);
        ZEL_LOG(InetSmtp, "RCPT TO:<%s> コマンドエラー %s%s", piece, replyLine, TimeoutNote());
        refusedRecipient = piece;
        return -303;
      }
    }
  }
  if (!Command('3', "DATA", nullptr)) {
    NoteRefusal(FailureKind::kServer);
    ZEL_LOG(InetSmtp, "DATA コマンドエラー %s%s", replyLine, TimeoutNote());
    return -304;
  }
  std::FILE* file =
      messagePath != nullptr ? OpenHostFile(messagePath, "rb", false) : nullptr;
  if (file == nullptr) {
    ZEL_LOG(InetSmtp, "送信ファイルオープンエラー [%s]", Text(messagePath));
    return -311;
  }
  if (SendFileData(file) == 0) {
    NoteReplyFailure(FailureKind::kServer);
    ZEL_LOG(InetSmtp, "ファイル送信エラー [%s]%s", messagePath, TimeoutNote());
    std::fclose(file);
    return -312;
  }
  std::fclose(file);
  if (!RecvReply() || replyLine[0] != '2') {
    NoteRefusal(FailureKind::kServer);
    ZEL_LOG(InetSmtp, "DATA コマンド応答エラー %s%s", replyLine, TimeoutNote());
    return -305;
  }
  return 1;
}

}  // namespace zel
