// The mailbox step of receive-all: every stored message gets a reading copy
// (".qml"), the list file is rewritten to name the reading copies, and each
// reading copy is appended to the mailbox file as one entry:
//   "X-MailFile: <display path>", the reading copy's lines, "."
#include <string>
#include <string_view>

#include "api/inet_mail.h"
#include "codec/header_table.h"
#include "codec/reading_copy.h"
#include "platform/ascii_case.h"
#include "platform/file_lock.h"
#include "platform/file_ops.h"
#include "platform/log.h"
#include "platform/temp_file.h"
#include "platform/text_file.h"
#include "store/list_file.h"
#include "store/record_file.h"
#include "store/system_clock.h"
#include "store/text_file_stream.h"

namespace zel {

namespace {

// First-line tag of a reading copy (and of a mailbox entry).
constexpr std::string_view kMailFileTag = "X-MailFile:";

// True for the line "." (with or without its line feed), which ends an entry.
bool IsEndLine(std::string_view line) { return line == "." || line == ".\n"; }

}  // namespace

// WriteReadingCopy - writes the reading copy of a display file beside it.
//   displayPath  the display file (".wml"); it stays
// The copy is a new file of ours: whatever entry has its name (a copy an
// earlier run left, or a link or file someone else put there) is removed
// first, and the copy is created exclusively, never written through it.
// Returns 1 written; 0 failed: -1105 the display file cannot be opened,
// -1106 the reading copy cannot be created or written (a partly written one
// is removed).
int InetMail::WriteReadingCopy(const char* displayPath) {
  const std::string copyPath = ReadingCopyPath(displayPath);
  TextFile display;
  if (!display.Open(displayPath, TextFile::Mode::kRead)) {
    ZEL_LOG(InetMail, "保存ファイルのオープンに失敗 [%s]", displayPath);
    SetError(-1105, "保存ファイルのオープンに失敗 [%s]", displayPath);
    return 0;
  }
  TextFile copy;
  if (!copy.Open(copyPath, TextFile::Mode::kCreate) &&
      (!DeleteFileAt(copyPath) || !copy.Open(copyPath, TextFile::Mode::kCreate))) {
    ZEL_LOG(InetMail, "表示ファイルのオープンに失敗 [%s]", copyPath.c_str());
    SetError(-1106, "表示ファイルのオープンに失敗 [%s]", copyPath.c_str());
    return 0;
  }
  TextFileSource in(display);
  TextFileSink out(copy);
  HeaderTable table(systemClock());
  if (makeReadingCopy(displayPath, in, out, table, Decoding()) != 1 || !copy.Close()) {
    ZEL_LOG(InetMail, "表示ファイルの作成に失敗 [%s]", copyPath.c_str());
    SetError(-1106, "表示ファイルの作成に失敗 [%s]", copyPath.c_str());
    copy.Close();
    DeleteFileAt(copyPath);
    return 0;
  }
  return 1;
}

// ConvertList - gives every display file of the list a reading copy and
// rewrites the list to name the reading copies (lines without a TAB are
// dropped; the other fields stay). The new list is a new file of ours
// beside the list, put in its place in one step (through `lock`, the run's
// lock on the list, when given).
// Returns 1 converted; 0 failed, with the error state set (-1104 list,
// -1105/-1106 a reading copy) and the list file unchanged; reading copies
// made before the failure stay.
int InetMail::ConvertList(const char* listPath, FileLock* lock) {
  TextFile list;
  if (!list.Open(listPath, TextFile::Mode::kRead)) {
    ZEL_LOG(InetMail, "変換前リストファイルのオープンに失敗 [%s]", listPath);
    SetError(-1104, "変換前リストファイルのオープンに失敗 [%s]", listPath);
    return 0;
  }
  // Beside the list, so that it replaces the list by a rename; where no new
  // file may be made there, in the temporary folder.
  std::string newList;
  bool beside = MakeTempBeside(listPath, newList);
  TextFile out;
  if (!beside || !out.Open(newList, TextFile::Mode::kWrite)) {
    if (beside) DeleteFileAt(newList);
    beside = false;
    char temp[kPathSize];
    if (MakeTempName(temp) != 1) {
      ZEL_LOG(InetMail, "変換後リストファイルのテンポラリ名取得に失敗");
      SetError(-1104, "変換後リストファイルのテンポラリ名取得に失敗");
      return 0;
    }
    newList = temp;
    if (!out.Open(newList, TextFile::Mode::kWrite)) {
      ZEL_LOG(InetMail, "変換後リストファイルのオープンに失敗 [%s]", listPath);
      SetError(-1104, "変換後リストファイルのオープンに失敗 [%s]", listPath);
      DeleteFileAt(newList);
      return 0;
    }
  }

  std::string line;
  while (list.ReadLine(line)) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    const std::string display = line.substr(0, tab);
    if (WriteReadingCopy(display.c_str()) != 1) {
      ZEL_LOG(InetMail, "表示ファイルの作成に失敗");
      out.Close();
      DeleteFileAt(newList);
      return 0;
    }
    out.Write(ReadingCopyPath(display));
    out.Write(std::string_view(line).substr(tab));
  }
  const bool read = !list.Failed();
  list.Close();
  const bool written = out.Close() && read;
  bool replaced = written;
  if (replaced && beside) {
    replaced = lock != nullptr ? lock->Replace(newList) : RenameFileReplace(newList, listPath);
  } else if (replaced) {
    replaced = CopyFileReplace(newList, listPath);
  }
  if (!replaced) {
    ZEL_LOG(InetMail, "変換後リストファイルの書き込みに失敗 [%s]", listPath);
    SetError(-1104, "変換後リストファイルの書き込みに失敗 [%s]", listPath);
  }
  if (!beside || !replaced) DeleteFileAt(newList);
  return replaced ? 1 : 0;
}

// AppendToMailbox - appends every reading copy of the list to the mailbox
// file and deletes it. An entry is "X-MailFile: " and the display path, the
// reading copy's lines (its own X-MailFile line dropped; a copy without one
// is dot-stuffed), and the line "."; a line "." inside is always written
// as "..", so it never ends an entry early. Each entry reaches the file
// whole before its reading copy is deleted.
// Returns the count appended (list lines whose file cannot be opened are
// skipped); -1 with error -1104 when the list or the mailbox file cannot be
// opened or an entry cannot be written (the mailbox is then cut back to its
// last whole entry and that reading copy stays).
int InetMail::AppendToMailbox(const char* listPath, const char* mailboxPath) {
  TextFile list;
  if (!list.Open(listPath, TextFile::Mode::kRead)) {
    ZEL_LOG(InetMail, "リストファイルのオープンに失敗 [%s]", listPath);
    SetError(-1104, "リストファイルのオープンに失敗 [%s]", listPath);
    return -1;
  }
  RecordFile mailbox;
  if (!mailbox.Open(mailboxPath, true)) {
    ZEL_LOG(InetMail, "メールボックスファイルのオープンに失敗 [%s]", mailboxPath);
    SetError(-1104, "メールボックスファイルのオープンに失敗 [%s]", mailboxPath);
    return -1;
  }
  int count = 0;
  std::string line;
  std::string text;
  while (list.ReadLine(line)) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    const std::string copyPath = line.substr(0, tab);
    TextFile copy;
    if (!copy.Open(copyPath, TextFile::Mode::kRead)) continue;
    mailbox.Write("X-MailFile: " + DisplayPathOf(copyPath) + "\n");
    bool stuffed = true;
    bool first = true;
    bool lineEnded = true;
    while (copy.ReadLine(text)) {
      if (first && startsWithNoCase(text, kMailFileTag)) {
        stuffed = false;  // replaced by the entry's own X-MailFile line
      } else {
        if (IsEndLine(text) || (stuffed && !first && text[0] == '.')) mailbox.Write(".");
        mailbox.Write(text);
        lineEnded = text.back() == '\n';
      }
      first = false;
    }
    if (!lineEnded) mailbox.Write("\n");
    mailbox.Write(".\n");
    if (!mailbox.Commit()) {
      ZEL_LOG(InetMail, "メールボックスファイルの書き込みに失敗 [%s]", mailboxPath);
      SetError(-1104, "メールボックスファイルの書き込みに失敗 [%s]", mailboxPath);
      return -1;
    }
    const bool whole = !copy.Failed();
    copy.Close();
    if (whole) DeleteFileAt(copyPath);
    ++count;
  }
  mailbox.Close();
  return count;
}

// MailboxStep - after a receive-all that stored messages: ConvertList, then
// AppendToMailbox. `listLock` is the run's lock on the list file.
// Returns the count appended; -1 when the conversion failed (nothing is
// appended: the unconverted list names the display files themselves) or a
// file could not be opened or written.
int InetMail::MailboxStep(FileLock* listLock) {
  if (ConvertList(listFilePath, listLock) != 1) return -1;
  return AppendToMailbox(listFilePath, mailboxFilePath);
}

}  // namespace zel
