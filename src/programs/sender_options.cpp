// Option parsing and checks of zelsend.
#include "programs/sender_options.h"

#include <cctype>
#include <cstring>

#include "programs/console_text.h"

namespace zel::sender {

const char kUsageText[] =
    "Usage: zelsend $Id$\n"
    "  -S: SMTPサーバ名\n"
    "  -M: メールアドレス\n"
    "  -N: フルネーム\n"
    "  -F: 送信ファイル名\n"
    " POP3 Befoer SMTP を利用する時\n"
    "  -BS: POP3サーバ名  -BU: ユーザ名\n"
    "  -BP: パスワード\n"
    "例.\n"
    "zelsend -Ssmtp.example.jp -Mtaro@example.jp -NTaro -Fmail.qml\n";

const char kHelpText[] =
    "Usage: zelsend -SSMTPサーバ[:ポート] -Mメールアドレス -Nフルネーム -F送信ファイル [オプション]\n"
    "  -S: SMTPサーバ名 (ポートの既定は25、-T1では465; [IPv6アドレス]:ポート も可)\n"
    "  -M: メールアドレス\n"
    "  -N: フルネーム\n"
    "  -F: 送信ファイル名\n"
    " POP3 Before SMTP を利用する時\n"
    "  -BS: POP3サーバ名  -BU: ユーザ名  -BP: パスワード\n"
    "  -BF: パスワードを1行目に書いたファイル名\n"
    "  -BE: パスワードを入れた環境変数名\n"
    " 暗号化と認証\n"
    "  -T: 0 暗号化なし、1 TLS、2 STARTTLS\n"
    "  -C: 信頼する証明書のファイル名 (PEM)\n"
    "  -A: SMTP認証 (-BU のユーザ名とパスワード)\n"
    "  --smtpauth N: 0 認証なし、1 パスワード (-A と同じ)、2 OAuth 2.0 (パスワードをアクセストークンとして使う)\n"
    " 文字コード\n"
    "  -U, --utf8: 送信ファイルは UTF-8\n"
    "  --charset NAME: メールの文字コード ISO-2022-JP (既定)、UTF-8、\n"
    "    または ISO-2022-JP-EXT (NEC特殊文字も ISO-2022-JP で送る従来の形)\n"
    " アカウント\n"
    "  --account NAME: アカウントファイルのアカウントを使う\n"
    "  --config FILE: アカウントファイル (既定 ~/.config/zelpost/accounts)\n"
    " その他\n"
    "  --timeout N: 接続と応答を待つ秒数 (既定300、0で無制限)\n"
    "  --sysexits: 失敗の終了コードを sysexits.h の値にする (既定は255)\n"
    "  --version: 版を表示する\n"
    "  --help: この説明を表示する\n"
    " パスワードは -BP、-BF、-BE、アカウントファイル、端末からの入力 (表示なし) の順に探します。\n"
    "例.\n"
    "zelsend -Ssmtp.example.jp -T1 -A -BUtaro -Mtaro@example.jp -NTaro -Fmail.qml\n";

ParseResult ParseArguments(int argc, const char* const* argv, SenderFields& fields,
                           std::string& option) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg[0] != '-' && arg[0] != '/') continue;
    switch (ParseLongOption(argc, argv, i, kSendLongOptions, fields.longOptions)) {
      case LongParse::kOk:
        if (fields.longOptions.smtpAuth >= 0) fields.smtpAuth = fields.longOptions.smtpAuth;
        fields.longOptions.smtpAuth = -1;  // taken; a later -A may override it
        fields.utf8SendFile = fields.utf8SendFile || fields.longOptions.utf8;
        if (!fields.longOptions.charset.empty()) {
          option = "--charset";
          if (!CopyBounded(fields.charset, fields.longOptions.charset)) return ParseResult::kTooLong;
          fields.longOptions.charset.clear();
        }
        continue;
      case LongParse::kUsage:
        option = arg;
        return ParseResult::kUsage;
      case LongParse::kNotLong:
        break;
    }
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(arg[1])));
    bool fits = true;
    option = std::string(arg).substr(0, 2);
    switch (letter) {
      case 'S': fits = StoreConsoleText(fields.smtpServer, arg + 2); break;
      case 'M': fits = StoreConsoleText(fields.mailAddress, arg + 2); break;
      case 'N': fits = StoreConsoleText(fields.fullName, arg + 2); break;
      case 'F': fits = StoreConsoleText(fields.sendFile, arg + 2); break;
      case 'C': fits = StoreConsoleText(fields.caFile, arg + 2); break;
      case 'T':
        if (arg[2] < '0' || arg[2] > '2' || arg[3] != '\0') return ParseResult::kUsage;
        fields.tls = arg[2] - '0';
        break;
      case 'A':
        if (arg[2] != '\0') return ParseResult::kUsage;
        fields.smtpAuth = 1;
        break;
      case 'U':
        if (arg[2] != '\0') return ParseResult::kUsage;
        fields.utf8SendFile = true;
        break;
      case 'B': {
        const char second = static_cast<char>(std::toupper(static_cast<unsigned char>(arg[2])));
        option = std::string(arg).substr(0, 3);
        if (second == 'S') {
          fits = StoreConsoleText(fields.pop3Server, arg + 3);
        } else if (second == 'U') {
          fits = StoreConsoleText(fields.userName, arg + 3);
        } else if (second == 'P') {
          fits = StoreConsoleText(fields.password, arg + 3);
        } else if (second == 'F') {
          fits = StoreConsoleText(fields.passwordFile, arg + 3);
        } else if (second == 'E') {
          fits = StoreConsoleText(fields.passwordVariable, arg + 3);
        } else {
          return ParseResult::kUsage;
        }
        break;
      }
      default:
        return ParseResult::kUsage;
    }
    if (!fits) return ParseResult::kTooLong;
  }
  option.clear();
  return ParseResult::kOk;
}

const char* MissingFieldMessage(const SenderFields& fields) {
  if (fields.smtpServer[0] == '\0') return "err: SMTPサーバ名が指定されていません\n";
  if (fields.mailAddress[0] == '\0') return "err: メールアドレスが指定されていません\n";
  if (fields.fullName[0] == '\0') return "err: フルネームが指定されていません\n";
  if (fields.sendFile[0] == '\0') return "err: ファイル名が指定されていません\n";
  return nullptr;
}

bool NeedsPassword(const SenderFields& fields) {
  return (fields.pop3Server[0] != '\0' || fields.smtpAuth) && fields.userName[0] != '\0' &&
         fields.password[0] == '\0';
}

PasswordSources PasswordSourcesOf(const SenderFields& fields) {
  PasswordSources sources{fields.passwordFile, "-BF", fields.passwordVariable, "-BE",
                          fields.pop3Server[0] != '\0' ? "POP3パスワード: " : "パスワード: ", {}, {}, {}};
  if (fields.longOptions.timeout >= 0) sources.seconds = fields.longOptions.timeout;
  return sources;
}

std::string ApplySendAccount(const AccountsFile& file, const Account& a, SenderFields& fields) {
  const Setting smtp{AccountServer(a.smtpHost, a.smtpPort), a.smtpHost.line};
  const bool popFirst = a.popBeforeSmtp.value == "1";
  const Setting pop3{AccountServer(a.pop3Host, a.pop3Port), popFirst ? a.pop3Host.line : 0};
  for (const std::string& message :
       {FillFromAccount(fields.smtpServer, file, smtp), FillFromAccount(fields.mailAddress, file, a.from),
        FillFromAccount(fields.fullName, file, a.fullName), FillFromAccount(fields.userName, file, a.user),
        FillFromAccount(fields.pop3Server, file, pop3), FillFromAccount(fields.caFile, file, a.tlsTrustFile, true),
        FillFromAccount(fields.charset, file, a.charset)}) {
    if (!message.empty()) return message;
  }
  if (fields.tls < 0 && a.tls.Given()) fields.tls = std::stoi(a.tls.value);
  if (fields.smtpAuth == 0 && a.smtpAuth.Given()) fields.smtpAuth = std::stoi(a.smtpAuth.value);
  if (fields.longOptions.timeout < 0 && a.timeout.Given()) fields.longOptions.timeout = std::stoi(a.timeout.value);
  std::string charset = a.sendFileCharset.value;
  for (char& c : charset) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  fields.utf8SendFile = fields.utf8SendFile || charset == "UTF-8";
  return "";
}

int ApplyPopBeforeSmtp(SenderFields& fields) {
  const bool account = fields.userName[0] != '\0' && fields.password[0] != '\0';
  if (fields.pop3Server[0] == '\0') {
    if (fields.smtpAuth && !account) return -2;
    CopyBounded(fields.pop3Server, "pop3server");
    if (!fields.smtpAuth) {
      CopyBounded(fields.userName, "username");
      CopyBounded(fields.password, "password");
    }
    return 0;
  }
  return account ? 1 : -1;
}

}  // namespace zel::sender
