// Option parsing and checks of zelrecv.
#include "programs/recv_options.h"

#include <cctype>
#include <cstring>
#include <tuple>

#include "programs/console_text.h"

namespace zel::sender {

const char kRecvUsageText[] =
    "Usage: zelrecv -Sサーバ[:ポート] -Uユーザ名 -Lリストファイル -Mメールフォルダ [オプション]\n"
    "  -S: POP3サーバ名 (ポートの既定は110、-T1では995)\n"
    "  -U: ユーザ名\n"
    "  -L: リストファイル名 (受信したメール1通に1行)\n"
    "  -M: メールフォルダ名 (表示ファイル zel00001.wml ... を置く)\n"
    "  -K: 既読UIDLファイル名 (記録したメールは次回から受信しない)\n"
    "  -B: メールボックスファイル名 (受信したメールを追記する)\n"
    "  -D: 受信したメールをサーバから削除する\n"
    "  --delete-seen: -D で、既読UIDLファイルにあるメールもサーバから削除する\n"
    "  --max-size N: N バイトを超えるメールは受信せずサーバに残す\n"
    "  --kill-size N: N バイトを超えるメールは受信せずサーバから削除する\n"
    "  --filter COMMAND: 新着メールのヘッダをコマンドに渡し、終了コード 0 受信、1 残す、2 削除\n"
    "  -A: APOPで認証する\n"
    "  -T: 0 暗号化なし、1 TLS、2 STARTTLS (STLS)\n"
    "  -C: 信頼する証明書のファイル名 (PEM)\n"
    "  --tls-fingerprint SHA256: この指紋の証明書だけを受け付ける\n"
    "  --tls-min-version 1.2|1.3: TLSの最低バージョン (既定 1.2)\n"
    "  --proxy HOST:PORT: SOCKS5プロキシ経由で接続する (USER:PASSWORD@HOST:PORT で認証)\n"
    "  --debug: サーバとのやりとりを標準エラーに表示する (パスワードは伏せる)\n"
    "  --syslog: 結果をシステムログにも書く\n"
    "  -F: パスワードを1行目に書いたファイル名\n"
    "  -E: パスワードを入れた環境変数名\n"
    "  -V: 設定と受信件数を表示する\n"
    "  -H: この説明を表示する\n"
    "  --timeout N: 接続と応答を待つ秒数 (既定300、0で無制限)\n"
    "  --popauth N: 0 USER/PASS (既定)、1 AUTH PLAIN、2 OAuth 2.0 (パスワードをアクセストークンとして使う)\n"
    "  --imap: IMAPで受信する (ポートの既定は143、-T1では993)\n"
    "  --folder NAME: IMAPのフォルダ名 (既定 INBOX)\n"
    "  --idle: IMAPで接続したまま待ち、新着メールをその都度受信する (Ctrl-C で終了)\n"
    "  --version: 版を表示する\n"
    " 配送 (表示ファイルの代わりに)\n"
    "  --maildir DIR: Maildir に保存する\n"
    "  --mbox FILE: mbox ファイルに追記する\n"
    "  --mda COMMAND: コマンドの標準入力に渡す (終了コード0で配送済み)\n"
    "  --keep-display: 表示ファイルも書く\n"
    "  --no-sync: 受信したファイルがディスクに書かれるのを待たずに記録する (速いが、電源断などで記録済みのメールを失うことがある)\n"
    " アカウント\n"
    "  --account NAME: アカウントファイルのアカウントを使う (何度でも)\n"
    "  --all: アカウントファイルのすべてのアカウントを順に受信する\n"
    "  --config FILE: アカウントファイル (既定 ~/.config/zelpost/accounts)\n"
    "  --count: 新着と全体の件数だけを表示する (受信しない)\n"
    " パスワードは -F、-E、アカウントファイル、端末からの入力 (表示なし) の順に探します。\n"
    " Ctrl-C で受信を中断します (サーバのメールは削除しません)。\n"
    "例.\n"
    "zelrecv -Spop.example.jp -T1 -Utaro -Lrecv.lst -Mmail -Kseen.dat\n";

const char kRecvHelpPointer[] = "使い方は zelrecv --help で表示されます\n";

RecvParse ParseRecvArguments(int argc, const char* const* argv, RecvFields& fields,
                             std::string& option) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg[0] != '-' && arg[0] != '/') continue;
    switch (ParseLongOption(argc, argv, i, kRecvLongOptions, fields.longOptions)) {
      case LongParse::kOk:
        fields.help = fields.help || fields.longOptions.help;
        fields.deleteSeen = fields.deleteSeen || fields.longOptions.deleteSeen;
        if (fields.longOptions.maxSize >= 0) fields.maxSize = fields.longOptions.maxSize;
        fields.keepDisplay = fields.keepDisplay || fields.longOptions.keepDisplay;
        fields.imap = fields.imap || fields.longOptions.imap;
        if (!fields.longOptions.folder.empty()) {
          option = "--folder";
          if (!StoreConsoleText(fields.imapFolder, fields.longOptions.folder.c_str())) return RecvParse::kTooLong;
        }
        for (const auto& [name, longName, value] :
             {std::tuple{"MAILDIR", "--maildir", &fields.longOptions.maildir},
              {"MBOX", "--mbox", &fields.longOptions.mbox}, {"MDA", "--mda", &fields.longOptions.mda}}) {
          if (value->empty()) continue;
          fields.deliveryOption = name;
          fields.deliveryTarget = HostText(*value);
          option = longName;
          if (fields.deliveryTarget.size() > kDeliveryTargetLimit) return RecvParse::kTooLong;
        }
        continue;
      case LongParse::kUsage:
        option = fields.longOptions.problem;
        return RecvParse::kUsage;
      case LongParse::kNotLong:
        break;
    }
    option = std::string(arg).substr(0, 2);
    const char* value = arg + 2;
    const std::string letters = HostText(option);
    bool fits = true;
    // Why the option is refused; empty: taken.
    std::string problem;
    // Flags take no value.
    auto flag = [&](bool& field) {
      field = true;
      if (*value != '\0') problem = letters + " は値を取りません";
    };
    // The fields take a value written right after the letter.
    auto text = [&](char* field, std::size_t size) {
      if (*value == '\0') problem = letters + " の値がありません";
      fits = StoreConsoleText(field, size, value);
    };
    switch (std::toupper(static_cast<unsigned char>(arg[1]))) {
      case 'S': text(fields.pop3Server, sizeof fields.pop3Server); break;
      case 'U': text(fields.userName, sizeof fields.userName); break;
      case 'F': text(fields.passwordFile, sizeof fields.passwordFile); break;
      case 'E': text(fields.passwordVariable, sizeof fields.passwordVariable); break;
      case 'L': text(fields.listFile, sizeof fields.listFile); break;
      case 'M': text(fields.mailFolder, sizeof fields.mailFolder); break;
      case 'K': text(fields.seenFile, sizeof fields.seenFile); break;
      case 'B': text(fields.mailbox, sizeof fields.mailbox); break;
      case 'C': text(fields.caFile, sizeof fields.caFile); break;
      case 'T':
        if (value[0] >= '0' && value[0] <= '2' && value[1] == '\0') {
          fields.tls = value[0] - '0';
        } else {
          problem = *value == '\0' ? letters + " の値がありません"
                                    : letters + " の値が正しくありません: " + HostText(value);
        }
        break;
      case 'A': flag(fields.apop); break;
      case 'D': flag(fields.dele); break;
      case 'V': flag(fields.verbose); break;
      case 'H':
      case '?': flag(fields.help); break;
      default:
        problem = "不明なオプション: " + letters;  // only the letter: the rest may be a password
    }
    if (!problem.empty()) {
      option = problem;
      return RecvParse::kUsage;
    }
    if (!fits) return RecvParse::kTooLong;
  }
  option.clear();
  return RecvParse::kOk;
}

const char* MissingRecvField(const RecvFields& fields) {
  if (fields.longOptions.idle && !fields.imap) return "err: --idle は IMAP (--imap) で使います\n";
  if (fields.longOptions.idle && fields.seenFile[0] == '\0' && !fields.dele) {
    return "err: --idle には既読UIDLファイル (-K) か -D が必要です\n";
  }
  if (fields.pop3Server[0] == '\0') return "err: POP3サーバ名が指定されていません\n";
  if (fields.userName[0] == '\0') return "err: ユーザ名が指定されていません\n";
  if (fields.longOptions.count || (!fields.deliveryOption.empty() && !fields.keepDisplay)) return nullptr;
  if (fields.listFile[0] == '\0') return "err: リストファイル名が指定されていません\n";
  if (fields.mailFolder[0] == '\0') return "err: メールフォルダ名が指定されていません\n";
  return nullptr;
}

std::string ApplyRecvAccount(const AccountsFile& file, const Account& a, RecvFields& fields) {
  const std::string server = AccountServer(a.pop3Host, a.pop3Port);
  Setting serverSetting{server, a.pop3Host.line};
  for (const std::string& message :
       {FillFromAccount(fields.pop3Server, file, serverSetting), FillFromAccount(fields.userName, file, a.user),
        FillFromAccount(fields.listFile, file, a.listFile, true),
        FillFromAccount(fields.mailFolder, file, a.mailFolder, true),
        FillFromAccount(fields.seenFile, file, a.seenFile, true),
        FillFromAccount(fields.mailbox, file, a.mailbox, true),
        FillFromAccount(fields.caFile, file, a.tlsTrustFile, true),
        FillFromAccount(fields.imapFolder, file, a.imapFolder)}) {
    if (!message.empty()) return message;
  }
  if (fields.tls < 0 && a.tls.Given()) fields.tls = std::stoi(a.tls.value);
  fields.apop = fields.apop || a.apop.value == "1";
  fields.dele = fields.dele || a.deleteOnServer.value == "1";
  fields.imap = fields.imap || a.protocol.value == "imap";
  if (fields.maxSize == 0 && a.maxSize.Given()) fields.maxSize = std::stoi(a.maxSize.value);
  LongOptions& longOptions = fields.longOptions;
  if (longOptions.timeout < 0 && a.timeout.Given()) longOptions.timeout = std::stoi(a.timeout.value);
  if (longOptions.popAuth < 0 && a.popAuth.Given()) longOptions.popAuth = std::stoi(a.popAuth.value);
  if (fields.deliveryOption.empty()) {
    DeliveryOf(a.delivery, fields.deliveryOption, fields.deliveryTarget);
    if (fields.deliveryTarget.size() > kDeliveryTargetLimit) {
      return "err: 値が長すぎます [" + HostText(AccountSource(file, a.delivery)) + "]\n";
    }
  }
  fields.keepDisplay = fields.keepDisplay || a.keepDisplay.value == "1";
  return "";
}

PasswordSources RecvPasswordSources(const RecvFields& fields, const AccountsFile* file,
                                    const Account* account, AccountPassword& storage) {
  PasswordSources sources{fields.passwordFile, "-F", fields.passwordVariable, "-E", "POP3パスワード: ", {}, {}, {}};
  if (fields.longOptions.timeout >= 0) sources.seconds = fields.longOptions.timeout;
  return account != nullptr ? AddAccountPassword(sources, *file, *account, storage) : sources;
}

}  // namespace zel::sender
