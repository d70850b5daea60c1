// Option values, password scrambling and the version text of a session.
#include <cstdio>
#include <cstring>

#include "api/inet_mail.h"
#include "codec/imap_folder_name.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/module_version.h"
#include "platform/temp_file.h"
#include "zelpost.h"

namespace zel {

// ERRCLASS hands out the failure kinds by the numbers of the public header.
static_assert(static_cast<int>(FailureKind::kNoHost) == ZELPOST_ERRCLASS_NOHOST &&
              static_cast<int>(FailureKind::kRefused) == ZELPOST_ERRCLASS_REFUSED &&
              static_cast<int>(FailureKind::kTimedOut) == ZELPOST_ERRCLASS_TIMEOUT &&
              static_cast<int>(FailureKind::kTls) == ZELPOST_ERRCLASS_TLS &&
              static_cast<int>(FailureKind::kAuth) == ZELPOST_ERRCLASS_AUTH &&
              static_cast<int>(FailureKind::kTemporary) == ZELPOST_ERRCLASS_TEMPORARY &&
              static_cast<int>(FailureKind::kServer) == ZELPOST_ERRCLASS_SERVER &&
              static_cast<int>(FailureKind::kLocal) == ZELPOST_ERRCLASS_LOCAL &&
              static_cast<int>(FailureKind::kSetting) == ZELPOST_ERRCLASS_SETTING);

namespace {

bool NameIs(const char* name, const char* option) {
  if (name == nullptr) return false;
  for (; *name != '\0' && *option != '\0'; ++name, ++option) {
    char c = *name;
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != *option) return false;
  }
  return *name == '\0' && *option == '\0';
}

// The values of the charset options, as zelGetValueStr gives them back
// (zelSetValueStr takes them in any case).
constexpr const char* kIso2022Jp = "ISO-2022-JP";
constexpr const char* kIso2022JpExt = "ISO-2022-JP-EXT";  // with NEC row 13, classic words
constexpr const char* kUtf8 = "UTF-8";
constexpr const char* kShiftJis = "SHIFT_JIS";
// The values of SENDFILEFORMAT: a send file, or a finished message.
constexpr const char* kQml = "QML";
constexpr const char* kRfc5322 = "RFC5322";

constexpr int kSaltRange = 200;  // salt = tick count modulo this
constexpr int kGroupDigits = 3;  // every scrambled byte is three digits

}  // namespace

void InetMail::SetOptionDefaults() {
  deleteOnServer = 0;
  hostWindow = 0;
  popBeforeSmtp = 1;
  silent = 0;
  executeType = 0;
  useApop = 0;
  SetTimeoutOption(kDefaultTimeoutSeconds);
  tlsMode = kTlsOff;
  smtpAuth = 0;
  popAuth = kPopAuthClassic;
  ApplyAuthOptions();
  deleteSeen = 0;
  maxMessageSize = 0;
  tlsCaFile[0] = '\0';
  protocol = kProtocolPop3;
  CopyBounded(imapFolder, "INBOX");
  ApplyTlsOptions();
  messageCharset = MessageCharset::kIso2022Jp;
  sendFileCharset = SendFileCharset::kShiftJis;
  deliveryKind = DeliveryKind::kDisplay;
  deliveryTarget.clear();
  keepDisplay = 0;
  syncFiles = 1;
  biffSeenFile[0] = '\0';
  biffNew = -1;
  biffIdle = 0;
  sendFinished = false;
  recipients.clear();
  decodeAnyCharset = 1;
  ResetToolOptions();
  progressDecoding = Decoding();
  std::string temp;
  if (!TempDirectory(temp)) temp.clear();
  CopyBounded(logDir, temp);
}

int InetMail::SetValueInt(const char* name, int value) {
  if (int result = 0; SetToolOption(name, value, &result)) return result;
  if (NameIs(name, "HWND")) {
    hostWindow = static_cast<WindowHandle>(static_cast<std::uint32_t>(value));
    return value;
  }
  int* flag = nullptr;
  if (NameIs(name, "DELE")) flag = &deleteOnServer;
  if (NameIs(name, "POPBEFORESMTP")) flag = &popBeforeSmtp;
  if (NameIs(name, "SILENT")) flag = &silent;
  if (NameIs(name, "APOP")) flag = &useApop;
  if (NameIs(name, "DELESEEN")) flag = &deleteSeen;
  if (NameIs(name, "KEEPDISPLAY")) flag = &keepDisplay;
  if (NameIs(name, "DECODE")) flag = &decodeAnyCharset;
  if (NameIs(name, "SYNC")) flag = &syncFiles;
  if (flag != nullptr) {
    *flag = value != 0 ? 1 : 0;
    progressDecoding = Decoding();
    return *flag;
  }
  if (NameIs(name, "EXECUTE_TYPE")) {
    executeType = value == 1 ? 1 : 2;
    return executeType;
  }
  if (NameIs(name, "TIMEOUT")) {
    SetTimeoutOption(value);
    return timeoutSeconds;
  }
  if (NameIs(name, "MAXSIZE")) {
    maxMessageSize = value > 0 ? value : 0;  // a negative limit is none
    return maxMessageSize;
  }
  if (NameIs(name, "TLS")) {
    // Another value is refused rather than read as "plain": a mistyped
    // setting must not send passwords unencrypted.
    if (value != kTlsOff && value != kTlsImplicit && value != kTlsStartTls) return -1;
    tlsMode = value;
    ApplyTlsOptions();
    return tlsMode;
  }
  if (NameIs(name, "SMTPAUTH")) {
    // 2 takes the password as an access token; any other non-zero value
    // is AUTH with the password, as it always was.
    smtpAuth = value == 2 ? 2 : value != 0 ? 1 : 0;
    ApplyAuthOptions();
    return smtpAuth;
  }
  if (NameIs(name, "BIFFIDLE")) {
    biffIdle = value > 0 ? value : 0;
    return biffIdle;
  }
  if (NameIs(name, "PROTOCOL")) {
    if (value != kProtocolPop3 && value != kProtocolImap) return -1;
    protocol = value;
    return protocol;
  }
  if (NameIs(name, "POPAUTH")) {
    if (value != kPopAuthClassic && value != kPopAuthPlain && value != kPopAuthToken) return -1;
    popAuth = value;
    ApplyAuthOptions();
    return popAuth;
  }
  return 0;
}

void InetMail::ApplyAuthOptions() {
  SetAuth(popAuth);
  imap.SetAuth(popAuth);
  smtp.SetAuthSecret(smtpAuth == 2 ? SaslSecret::kToken : SaslSecret::kPassword);
}

void InetMail::ApplyTlsOptions() {
  SetTls(tlsMode, tlsCaFile);
  smtp.SetTls(tlsMode, tlsCaFile);
}

void InetMail::SetTimeoutOption(int seconds) {
  // A negative value (a host's INFINITE, -1) waits for ever, as 0 does.
  timeoutSeconds = seconds > 0 ? seconds : 0;
  SetTimeout(timeoutSeconds);
  smtp.SetTimeout(timeoutSeconds);
}

int InetMail::GetValueInt(const char* name) const {
  if (int value = 0; GetToolOption(name, &value)) return value;
  if (NameIs(name, "HWND")) return static_cast<int>(static_cast<std::uint32_t>(hostWindow));
  if (NameIs(name, "DELE")) return deleteOnServer;
  if (NameIs(name, "POPBEFORESMTP")) return popBeforeSmtp;
  if (NameIs(name, "SILENT")) return silent;
  if (NameIs(name, "EXECUTE_TYPE")) return executeType;
  if (NameIs(name, "APOP")) return useApop;
  if (NameIs(name, "TIMEOUT")) return timeoutSeconds;
  if (NameIs(name, "TLS")) return tlsMode;
  if (NameIs(name, "SMTPAUTH")) return smtpAuth;
  if (NameIs(name, "POPAUTH")) return popAuth;
  if (NameIs(name, "PROTOCOL")) return protocol;
  if (NameIs(name, "BIFFIDLE")) return biffIdle;
  if (NameIs(name, "ERRCLASS")) return static_cast<int>(errorDetail.kind);
  if (NameIs(name, "DELESEEN")) return deleteSeen;
  if (NameIs(name, "MAXSIZE")) return maxMessageSize;
  if (NameIs(name, "KEEPDISPLAY")) return keepDisplay;
  if (NameIs(name, "SYNC")) return syncFiles;
  if (NameIs(name, "BIFFNEW")) return biffNew;
  if (NameIs(name, "DECODE")) return decodeAnyCharset;
  return 0;
}

int InetMail::SetValueStr(const char* name, const char* value) {
  if (int result = 0; SetToolOption(name, value, &result)) return result;
  if (value != nullptr && NameIs(name, "TLSCAFILE")) {
    // A cut path would name another file: an over-long one is refused.
    if (std::strlen(value) >= sizeof tlsCaFile) {
      ZEL_LOG(InetMail, "TLSCAFILE が長すぎる");
      return 0;
    }
    CopyBounded(tlsCaFile, value);
    ApplyTlsOptions();
    return static_cast<int>(std::strlen(tlsCaFile));
  }
  // The charsets: another value is refused and the setting stays.
  if (value != nullptr && NameIs(name, "CHARSET")) {
    if (NameIs(value, kIso2022Jp)) messageCharset = MessageCharset::kIso2022Jp;
    else if (NameIs(value, kIso2022JpExt)) messageCharset = MessageCharset::kIso2022JpExt;
    else if (NameIs(value, kUtf8)) messageCharset = MessageCharset::kUtf8;
    else return RefuseValue(name, value);
    return static_cast<int>(std::strlen(value));
  }
  if (value != nullptr && NameIs(name, "SENDFILECHARSET")) {
    if (NameIs(value, kShiftJis)) sendFileCharset = SendFileCharset::kShiftJis;
    else if (NameIs(value, kUtf8)) sendFileCharset = SendFileCharset::kUtf8;
    else return RefuseValue(name, value);
    return static_cast<int>(std::strlen(value));
  }
  if (value != nullptr && NameIs(name, "IMAPFOLDER")) {
    // A name that no IMAP name can carry, or one cut short, would be
    // another mailbox: refused, the setting stays.
    std::string encoded;
    if (value[0] == '\0' || std::strlen(value) >= sizeof imapFolder || !ImapFolderFromHost(value, encoded)) {
      return RefuseValue(name, value);
    }
    CopyBounded(imapFolder, value);
    return static_cast<int>(std::strlen(imapFolder));
  }
  // Delivery of receive-all: one of a Maildir, an mbox file or a command.
  if (NameIs(name, "MAILDIR")) return SetDelivery(DeliveryKind::kMaildir, value);
  if (NameIs(name, "MBOX")) return SetDelivery(DeliveryKind::kMbox, value);
  if (NameIs(name, "MDA")) return SetDelivery(DeliveryKind::kMda, value);
  if (value != nullptr && NameIs(name, "BIFFSEENFILE")) {
    if (!CopyBounded(biffSeenFile, value)) {
      biffSeenFile[0] = '\0';
      ZEL_LOG(InetMail, "BIFFSEENFILE が長すぎる");
      return 0;
    }
    return static_cast<int>(std::strlen(biffSeenFile));
  }
  if (value != nullptr && NameIs(name, "SENDFILEFORMAT")) {
    if (NameIs(value, kQml)) sendFinished = false;
    else if (NameIs(value, kRfc5322)) sendFinished = true;
    else return RefuseValue(name, value);
    return static_cast<int>(std::strlen(value));
  }
  if (value != nullptr && NameIs(name, "RECIPIENTS")) {
    const std::size_t length = std::strlen(value);
    if (length >= kRecipientsSize) {
      ZEL_LOG(InetMail, "RECIPIENTS が長すぎる");
      return 0;
    }
    recipients.assign(value, length);
    return static_cast<int>(length);
  }
  if (value == nullptr || !NameIs(name, "LOGDIR")) return 0;
  if (!CopyBounded(logDir, value)) {
    ZEL_LOG(InetMail, "LOGDIR が長すぎるため %u バイトに切り詰めた",
            static_cast<unsigned>(std::strlen(logDir)));
  }
  // A log path beyond the path limit keeps the previous log file.
  SetLogDirectory(logDir);
  return static_cast<int>(std::strlen(logDir));
}

int InetMail::RefuseValue(const char* name, const char* value) {
  char shown[kShortTextSize];
  CopyBounded(shown, value);
  ZEL_LOG(InetMail, "%s に指定できない値 [%s]", name, shown);
  return 0;
}

int InetMail::GetValueStr(const char* name, char* buffer, int size) const {
  if (buffer == nullptr || size == 0) return 0;
  const char* value = nullptr;
  if (NameIs(name, "LOGDIR")) value = logDir;
  if (NameIs(name, "TLSCAFILE")) value = tlsCaFile;
  if (NameIs(name, "IMAPFOLDER")) value = imapFolder;
  if (NameIs(name, "CHARSET")) {
    value = messageCharset == MessageCharset::kUtf8         ? kUtf8
            : messageCharset == MessageCharset::kIso2022JpExt ? kIso2022JpExt
                                                              : kIso2022Jp;
  }
  if (NameIs(name, "SENDFILECHARSET")) {
    value = sendFileCharset == SendFileCharset::kUtf8 ? kUtf8 : kShiftJis;
  }
  if (NameIs(name, "ERRDETAIL")) value = errorDetail.text;
  const auto delivery = [this](DeliveryKind kind) { return deliveryKind == kind ? deliveryTarget.c_str() : ""; };
  if (NameIs(name, "MAILDIR")) value = delivery(DeliveryKind::kMaildir);
  if (NameIs(name, "MBOX")) value = delivery(DeliveryKind::kMbox);
  if (NameIs(name, "MDA")) value = delivery(DeliveryKind::kMda);
  if (NameIs(name, "BIFFSEENFILE")) value = biffSeenFile;
  if (NameIs(name, "SENDFILEFORMAT")) value = sendFinished ? kRfc5322 : kQml;
  if (NameIs(name, "RECIPIENTS")) value = recipients.c_str();
  if (value == nullptr) value = ToolOptionText(name);
  if (value == nullptr) return 0;
  if (size < 0) {
    // The buffer holds a path: a longer reason is cut to fit it.
    CopyBounded(buffer, kPathSize, value);
    return static_cast<int>(std::strlen(buffer));
  }
  CopyBounded(buffer, static_cast<std::size_t>(size), value);
  return static_cast<int>(std::strlen(buffer));
}

int InetMail::Pencode(const char* plain, char* buffer) {
  if (buffer == nullptr) return 0;
  if (plain == nullptr) plain = "";
  const int salt = static_cast<int>(TickCount() % kSaltRange);
  const std::size_t n = std::strlen(plain);
  char group[8];
  for (std::size_t k = 0; k < n; ++k) {
    // Bytes count as 0..255, so every group has three digits (at most 454).
    const int c = static_cast<unsigned char>(plain[n - 1 - k]);
    std::snprintf(group, sizeof group, "%03d", salt + c);
    std::memcpy(buffer + kGroupDigits * k, group, kGroupDigits);
  }
  std::snprintf(group, sizeof group, "%03d", salt);
  std::memcpy(buffer + kGroupDigits * n, group, kGroupDigits + 1);
  return 1;
}

int InetMail::Pdecode(const char* scrambled, char* buffer) {
  if (scrambled == nullptr || buffer == nullptr) return 0;
  const std::size_t length = std::strlen(scrambled);
  if (length < static_cast<std::size_t>(kGroupDigits)) return 0;
  // A group's value is its leading digits, as far as they go; a group that
  // does not start with a digit (a blank, a sign) counts as 0.
  auto group = [&](std::size_t at) {
    int v = 0;
    for (std::size_t j = 0; j < kGroupDigits; ++j) {
      const char c = scrambled[at + j];
      if (c < '0' || c > '9') break;
      v = v * 10 + (c - '0');
    }
    return v;
  };
  const int salt = group(length - kGroupDigits);
  const std::size_t m = (length - kGroupDigits) / kGroupDigits;
  for (std::size_t i = 0; i < m; ++i) {
    const int v = group(length - 2 * kGroupDigits - kGroupDigits * i);
    buffer[i] = static_cast<char>(static_cast<unsigned char>((v - salt) & 0xFF));
  }
  buffer[m] = '\0';
  return 1;
}

int InetMail::Version(char* buffer, int size) {
  std::uint32_t high = 0, low = 0;
  if (!OwnFileVersion(high, low)) {
    // No version resource: report the version this library was built as.
    high = (static_cast<std::uint32_t>(ZELPOST_VERSION_MAJOR) << 16) | ZELPOST_VERSION_MINOR;
    low = static_cast<std::uint32_t>(ZELPOST_VERSION_PATCH) << 16;
  }
  char text[kVersionTextSize + 16];
  std::snprintf(text, sizeof text, "zelpost.dll ver.%u.%u.%u", static_cast<unsigned>(high >> 16),
                static_cast<unsigned>(high & 0xFFFF), static_cast<unsigned>(low >> 16));
  // Hosts read the result as the version whatever the size: a positive size
  // only bounds the copy.
  if (buffer != nullptr) {
    if (size > 0) {
      CopyBounded(buffer, static_cast<std::size_t>(size), text);
    } else {
      std::memcpy(buffer, text, std::strlen(text) + 1);
    }
  }
  return static_cast<int>(high);
}

}  // namespace zel
