#include "api/inet_mail.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "api/session_list.h"
#include "platform/format_text.h"
#include "platform/host_name.h"
#include "platform/log.h"
#include "platform/socket.h"
#include "platform/system_error.h"

namespace zel {

InetMail::InetMail() {
  SetOptionDefaults();
  if (SocketStartup() != 0) {
    ZEL_LOG(InetMail, "WSAStartup の初期化に失敗 %d", LastSocketError());
  }
  ClearError();
  SessionListAdd(this);
}

InetMail::~InetMail() {
  if (SocketCleanup() != 0) {
    ZEL_LOG(InetMail, "WSACleanup でエラー発生 %d", LastSocketError());
  }
  SessionListRemove(this);
  delete[] attachmentList;
}

void InetMail::CancelOperations() {
  InetSocket::Retire();
  smtp.Retire();
}

namespace {

bool Missing(const char* text) { return text == nullptr || *text == '\0'; }

// True when a server name does not fit its field: it is refused, because a
// cut name or port would send the login to another server.
bool TooLong(const char* server) { return std::strlen(server) >= kHostNameSize; }

// Copies `value` into a field without its CRs and LFs: every field ends up
// in a POP3 or SMTP command line or a header line, which a line break would
// split into a second command. An over-long value is cut at a character
// boundary. Either change is logged with the field's name.
template <std::size_t N>
void CopyField(char (&field)[N], const char* value, const char* fieldName) {
  const std::string_view given = Text(value);
  std::string text;
  for (const char c : given) {
    if (c != '\r' && c != '\n') text += c;
  }
  if (given.size() != text.size()) {
    ZEL_LOG(InetMail, "%s の改行を取り除いた", fieldName);
  }
  if (!CopyBounded(field, text)) {
    ZEL_LOG(InetMail, "%s が長すぎるため %u バイトに切り詰めた", fieldName,
            static_cast<unsigned>(std::strlen(field)));
  }
}

}  // namespace

int InetMail::Initialize(const char* pop3name, const char* smtpname, const char* username,
                         const char* pass, const char* mailaddr, const char* fullname) {
  if (RefuseWhileReceiving("Initialize")) return 0;
  ClearError();
  // Log and error texts differ for the SMTP server on purpose: the log has
  // always read "SMPT".
  if (Missing(pop3name)) {
    ZEL_LOG(InetMail, "POP3サーバ名が指定されていない");
    SetError(kInitializeMissing, "POP3サーバ名が指定されていない");
    return 0;
  }
  if (Missing(smtpname)) {
    ZEL_LOG(InetMail, "SMPTサーバ名が指定されていない");
    SetError(kInitializeMissing, "SMTPサーバ名が指定されていない");
    return 0;
  }
  if (TooLong(pop3name)) {
    ZEL_LOG(InetMail, "POP3サーバ名が長すぎる");
    SetError(kInitializeMissing, "POP3サーバ名が長すぎる");
    return 0;
  }
  if (TooLong(smtpname)) {
    ZEL_LOG(InetMail, "SMTPサーバ名が長すぎる");
    SetError(kInitializeMissing, "SMTPサーバ名が長すぎる");
    return 0;
  }
  if (Missing(username)) {
    ZEL_LOG(InetMail, "ユーザ名が指定されていない");
    SetError(kInitializeMissing, "ユーザ名が指定されていない");
    return 0;
  }
  if (Missing(pass)) {
    ZEL_LOG(InetMail, "パスワードが指定されていない");
    SetError(kInitializeMissing, "パスワードが指定されていない");
    return 0;
  }
  if (std::strlen(pass) > kSecretMax) {
    // A cut password or token is another one: refused, never sent cut.
    ZEL_LOG(InetMail, "パスワードが長すぎる (%u バイトまで)", static_cast<unsigned>(kSecretMax));
    SetError(kInitializeMissing, "パスワードが長すぎる (%u バイトまで)", static_cast<unsigned>(kSecretMax));
    return 0;
  }
  if (Missing(mailaddr)) {
    ZEL_LOG(InetMail, "メールアドレスが指定されていない");
    SetError(kInitializeMissing, "メールアドレスが指定されていない");
    return 0;
  }
  CopyField(pop3Server, pop3name, "pop3Server");
  CopyField(smtpServer, smtpname, "smtpServer");
  CopyField(userName, username, "userName");
  CopyField(password, pass, "password");
  CopyField(mailAddress, mailaddr, "mailAddress");
  CopyField(displayName, fullname, "displayName");

  const char* at = std::strchr(mailAddress, '@');
  CopyBounded(domain, at != nullptr ? at + 1 : "domain");

  // A host name that does not fit is no host name: a cut one is never used.
  if (!LocalHostName(hostName, sizeof hostName)) hostName[0] = '\0';
  return 1;
}

namespace {

// The kind of a failure that no channel noted, by its error number.
FailureKind KindOfError(int number) {
  if (number == kInitializeMissing || number == kAuthUnencrypted || number == -213) {
    return FailureKind::kSetting;
  }
  if (number <= -1100 || number == -210 || number == -311 || number == -312) return FailureKind::kLocal;
  if (number >= kAuthUnencrypted && number <= kTlsHandshakeFailed) {
    return number == kAuthRefused ? FailureKind::kAuth : FailureKind::kTls;
  }
  return FailureKind::kServer;
}

}  // namespace

void InetMail::SetError(int number, const char* format, ...) {
  // The reason of the failure being reported, before anything else runs.
  const int systemError = LastSystemError();
  errorNumber = number;
  // Format in full first, then cut at a character boundary: vsnprintf alone
  // could end the field between a lead and a trail byte.
  std::string text;
  va_list args;
  va_start(args, format);
  if (!FormatText(text, format, args)) text.clear();
  va_end(args);
  CopyBounded(errorText, text);
  if (!errorDetail.Empty()) return;  // a channel's reason says more
  const FailureKind kind = KindOfError(number);
  const std::string reason = kind == FailureKind::kLocal ? SystemErrorText(systemError) : "";
  errorDetail.Set(kind, reason.empty() ? "%s" : "%s: %s", text.c_str(), reason.c_str());
}

void InetMail::ClearError() {
  errorNumber = 0;
  errorText[0] = '\0';
  errorDetail.Clear();
  // A reason left from before the operation is none of its failures.
  SetLastSystemError(0);
}

void InetMail::TakeFailure(const InetSocket& channel) {
  if (!channel.Failure().Empty()) errorDetail = channel.Failure();
}

bool InetMail::ReportSecureFailure(int code, const char* server, bool pop3) {
  const char* format = nullptr;
  switch (code) {
    case kTlsHandshakeFailed:
      format = "TLS接続の確立に失敗 [%s]";
      break;
    case kTlsUntrusted:
      format = "サーバ証明書が信頼できない [%s]";
      break;
    case kTlsNameMismatch:
      format = "サーバ証明書のホスト名が一致しない [%s]";
      break;
    case kTlsNotOffered:
      format = pop3 ? "STLSに対応していないサーバです [%s]" : "STARTTLSに対応していないサーバです [%s]";
      break;
    case kAuthRefused:
      format = pop3 ? "POP3認証に失敗 [%s]" : "SMTP認証に失敗 [%s]";
      break;
    case kAuthUnencrypted:
      format = pop3 ? "暗号化されていない接続ではPOP3認証しない [%s]"
                    : "暗号化されていない接続ではSMTP認証しない [%s]";
      break;
    default:
      return false;
  }
  SetError(code, format, Text(server));
  ZEL_LOG(InetMail, "%s", errorText);
  return true;
}

int InetMail::GetErrorStr(char* buffer, int size) const {
  if (buffer == nullptr) return 0;
  if (size <= 0) {
    const std::size_t n = std::strlen(errorText);
    std::memcpy(buffer, errorText, n + 1);
    return static_cast<int>(n);
  }
  CopyBounded(buffer, static_cast<std::size_t>(size), errorText);
  return static_cast<int>(std::strlen(buffer));
}

}  // namespace zel
