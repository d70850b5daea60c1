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
    "  -A: APOPで認証する\n"
    "  -T: 0 暗号化なし、1 TLS、2 STARTTLS (STLS)\n"
    "  -C: 信頼する証明書のファイル名 (PEM)\n"
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
    " アカウント\n"
    "  --account NAME: アカウントファイルのアカウントを使う (何度でも)\n"
    "  --all: アカウントファイルのすべてのアカウントを順に受信する\n"
    "  --config FILE: アカウントファイル (既定 ~/.config/zelpost/accounts)\n"
    "  --count: 新着と全体の件数だけを表示する (受信しない)\n"
    " パスワードは -F、-E、アカウントファイル、端末からの入力 (表示なし) の順に探します。\n"
    " Ctrl-C で受信を中断します (サーバのメールは削除しません)。\n"
    "例.\n"
    "zelrecv -Spop.example.jp -T1 -Utaro -Lrecv.lst -Mmail -Kseen.dat\n";

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
        option = arg;
        return RecvParse::kUsage;
      case LongParse::kNotLong:
        break;
    }
    option = std::string(arg).substr(0, 2);
    const char* value = arg + 2;
    bool fits = true;
    // Flags take no value.
    auto flag = [&](bool& field) {
      field = true;
      return *value == '\0';
    };
    bool known = true;
    switch (std::toupper(static_cast<unsigned char>(arg[1]))) {
      case 'S': fits = StoreConsoleText(fields.pop3Server, value); break;
      case 'U': fits = StoreConsoleText(fields.userName, value); break;
      case 'F': fits = StoreConsoleText(fields.passwordFile, value); break;
      case 'E': fits = StoreConsoleText(fields.passwordVariable, value); break;
      case 'L': fits = StoreConsoleText(fields.listFile, value); break;
      case 'M': fits = StoreConsoleText(fields.mailFolder, value); break;
      case 'K': fits = StoreConsoleText(fields.seenFile, value); break;
      case 'B': fits = StoreConsoleText(fields.mailbox, value); break;
      case 'C': fits = StoreConsoleText(fields.caFile, value); break;
      case 'T':
        known = value[0] >= '0' && value[0] <= '2' && value[1] == '\0';
        fields.tls = value[0] - '0';
        break;
      case 'A': known = flag(fields.apop); break;
      case 'D': known = flag(fields.dele); break;
      case 'V': known = flag(fields.verbose); break;
      case 'H':
      case '?': known = flag(fields.help); break;
      default:
        known = false;
    }
    if (!known) return RecvParse::kUsage;
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
