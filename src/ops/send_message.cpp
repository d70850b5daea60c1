// Sending a finished message (SENDFILEFORMAT "RFC5322"), as mail user
// agents and the sendmail interface hand one over: its bytes go out as they
// are, only the line ends made CR LF, the lines dot-stuffed and the Bcc
// fields left out. The envelope recipients are the RECIPIENTS option, or
// the addresses of its To, Cc and Bcc fields.
#include <string>
#include <string_view>

#include "api/inet_mail.h"
#include "codec/recipient_list.h"
#include "ops/temp_file_guard.h"
#include "platform/ascii_case.h"
#include "platform/log.h"
#include "platform/temp_file.h"
#include "platform/text_file.h"

namespace zel {

namespace {

// Bytes gathered before each write of the message file.
constexpr std::size_t kWriteChunk = 256 * 1024;

// The name of the header field `line` starts, with its colon ("" for a
// continuation line or no field).
std::string_view FieldName(std::string_view line) {
  if (line.empty() || line[0] == ' ' || line[0] == '\t') return {};
  const std::size_t colon = line.find(':');
  return colon == std::string_view::npos ? std::string_view() : line.substr(0, colon + 1);
}

}  // namespace

// SendFinishedMessage - sends the message file `path` (bytes; lines ending
// LF or CR LF) unchanged but for: the line ends, which go out as CR LF; the
// dot-stuffing of SMTP; the Bcc fields (with their continuation lines),
// which are left out; a leading mbox "From " line, which is dropped. With
// `dummyfile` the message is written there instead.
// Returns 1 sent; 0 failed: -1100 the message cannot be read, -1101 the
// temporary file, -1102 no recipient (neither RECIPIENTS nor To, Cc, Bcc),
// and the SMTP failures of SendMail.
int InetMail::SendFinishedMessage(const char* path, const char* dummyfile) {
  TextFile message;
  if (!message.Open(path, TextFile::Mode::kReadBinary)) {
    ZEL_LOG(InetMail, "送信ファイルが開けない [%s]", path);
    SetError(-1100, "送信ファイルが開けない [%s]", path);
    return 0;
  }
  char tempPath[kPathSize] = {};
  TempFileGuard guard(tempPath);
  TextFile temp;
  if (!OpenSendTemp(tempPath, temp)) return 0;
  const bool collect = recipients.empty();
  std::string collected;  // To, Cc and Bcc values, joined by ","
  std::string out;
  bool ok = true;
  bool inHeader = true;
  bool bcc = false;        // the field being read is a Bcc field
  bool addresses = false;  // it is one of To, Cc, Bcc
  bool first = true;
  for (std::string line; ok && message.ReadLine(line); first = false) {
    if (!line.empty() && line.back() == '\n') line.pop_back();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (first && line.compare(0, 5, "From ") == 0) continue;  // an mbox envelope line
    if (inHeader) {
      if (line.empty()) {
        inHeader = false;
      } else if (const std::string_view name = FieldName(line); !name.empty()) {
        bcc = equalsNoCase(name, "Bcc:");
        addresses = bcc || equalsNoCase(name, "To:") || equalsNoCase(name, "Cc:");
        if (addresses && collect) collected += ",";
        if (addresses && collect) collected.append(line, name.size());
      } else if (addresses && collect) {
        collected += line;  // a continuation
      }
      if (bcc) continue;
    }
    if (!line.empty() && line[0] == '.') out += '.';
    out += line;
    out += "\r\n";
    if (out.size() >= kWriteChunk) {
      ok = temp.Write(out);
      out.clear();
    }
  }
  out += ".\r\n";
  if (message.Failed()) {
    ZEL_LOG(InetMail, "送信ファイルが開けない [%s]", path);
    SetError(-1100, "送信ファイルが開けない [%s]", path);
    return 0;
  }
  if (!ok || !temp.Write(out) || !temp.Close()) {
    ZEL_LOG(InetMail, "送信用テンポラリファイルが開けない [%s]", tempPath);
    SetError(-1101, "送信用テンポラリファイルが開けない [%s]", tempPath);
    return 0;
  }
  message.Close();
  const std::string to = NormaliseRecipients(collect ? collected : recipients);
  if (to.empty()) {
    ZEL_LOG(InetMail, "送信先のアドレスがない [%s]", path);
    SetError(-1102, "送信先のアドレスがない [%s]", path);
    return 0;
  }
  return SendPrepared(tempPath, to, dummyfile);
}

}  // namespace zel
