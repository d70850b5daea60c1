#include "programs/sendmail_options.h"

#include <cstring>
#include <string_view>

namespace zel::sender {

const char kSendmailUsageText[] =
    "Usage: zelsendmail [オプション] [--] [送信先...] < メッセージ\n"
    " 標準入力の RFC 5322 メッセージをそのまま SMTP で送ります (sendmail 互換)。\n"
    "  -t: 送信先をメッセージの To、Cc、Bcc から取る (Bcc は取り除いて送る)\n"
    "  -f ADDRESS: エンベロープの送信者 (既定はアカウントの from)\n"
    "  -i, -oi: \".\" だけの行でメッセージを終えない\n"
    "  -oem ほかの -o、-F、-B、-N、-R、-V、-X、-L、-O、-h、-v、-m、-n、-U: 受け付けて無視する\n"
    "  --account NAME: アカウントファイルのアカウントを使う\n"
    "  --config FILE: アカウントファイル (既定 ~/.config/zelpost/accounts)\n"
    "  --timeout N: 接続と応答を待つ秒数 (既定300、0で無制限)\n"
    "  --version: 版を表示する\n"
    "  --help: この説明を表示する\n"
    " 終了コード: 0 送信済み、64 使い方の誤り、65 送信先を拒否された (5xx)、\n"
    " 75 一時的な失敗 (4xx、時間切れ)、69 サーバを使えない、77 認証の失敗、78 設定の誤り\n"
    "例.\n"
    "zelsendmail -t < message.eml\n"
    "echo 本文 | zelsendmail --account home taro@example.jp\n";

SendmailParse ParseSendmailArguments(int argc, const char* const* argv, SendmailFields& fields,
                                     std::string& option) {
  int i = 1;
  for (; i < argc; ++i) {
    const char* arg = argv[i];
    option = arg;
    if (std::strcmp(arg, "--") == 0) {
      ++i;
      break;
    }
    if (arg[0] != '-' || arg[1] == '\0') break;
    if (arg[1] == '-') {
      if (ParseLongOption(argc, argv, i, kSendmailLongOptions, fields.longOptions) != LongParse::kOk) {
        return SendmailParse::kUsage;
      }
      continue;
    }
    for (const char* p = arg + 1; *p != '\0'; ++p) {
      const char letter = *p;
      if (std::strchr("itvmnU", letter) != nullptr) {
        if (letter == 't') fields.fromHeader = true;
        if (letter == 'i') fields.ignoreDots = true;
        continue;
      }
      if (letter == 'o') {  // -oi, -oem, -odb ...: the rest of the argument
        if (std::string_view(p + 1) == "i") fields.ignoreDots = true;
        break;
      }
      if (letter == 'b') {  // the mode: only -bm, deliver a message
        if (std::string_view(p + 1) != "m") return SendmailParse::kUnsupported;
        break;
      }
      if (std::strchr("frFBNRVXLOh", letter) == nullptr) return SendmailParse::kUsage;
      // A value: the rest of the argument, or the next one.
      const char* value = p + 1;
      if (*value == '\0') {
        if (i + 1 >= argc) return SendmailParse::kUsage;
        value = argv[++i];
      }
      if (letter == 'f' || letter == 'r') fields.sender = value;
      break;
    }
  }
  for (; i < argc; ++i) fields.recipients.emplace_back(argv[i]);
  option.clear();
  return SendmailParse::kOk;
}

}  // namespace zel::sender
