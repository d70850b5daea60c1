#include "index/mailbox_index.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>

#include "platform/sjis_text.h"
#include "index/index_date.h"
#include "index/text_lines.h"
#include "platform/file_ops.h"
#include "platform/text_file.h"

namespace zel {

namespace {

// Resume points beyond any real mailbox are held here, so reading one
// cannot overflow.
constexpr std::int64_t kLineNumberLimit = 1000000000000000;

// Records collected before they are written.
constexpr std::size_t kWriteBlock = 64 * 1024;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// True when `text` holds a byte below 0x0E (CR and every byte a value must
// not keep), tested eight bytes at a time.
bool HasControlByte(std::string_view text) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  const auto word = [&](std::size_t at) {
    std::uint64_t x;
    std::memcpy(&x, text.data() + at, 8);
    return ((x - kOnes * 0x0E) & ~x & kOnes * 0x80) != 0;
  };
  if (text.size() < 8) {
    for (const char c : text) {
      if (static_cast<unsigned char>(c) < 0x0E) return true;
    }
    return false;
  }
  for (std::size_t i = 0; i + 8 <= text.size(); i += 8) {
    if (word(i)) return true;
  }
  return word(text.size() - 8);  // the last bytes, with some tested already
}

// The four values of the message being indexed.
class Record {
 public:
  void clear() {
    for (Value* value : {&subject_, &from_, &date_, &messageId_}) value->size = 0;
  }

  // Takes `line` when it is one of the four header lines.
  void capture(std::string_view line) {
    if (line.starts_with("Subject:")) take(subject_, line, 9, true);
    else if (line.starts_with("From:")) take(from_, line, 6, true);
    else if (line.starts_with("Date:")) take(date_, line, 6, false);
    else if (line.starts_with("Message-Id:")) take(messageId_, line, 12, false);
  }

  // Appends the record line of the message starting at line `number`.
  void appendLine(std::string& out, std::int64_t number, IndexClock& clock) const {
    AppendDecimal(out, number, 8);
    out += kIndexSeparator;
    out += "00000000";
    for (const Value* value : {&subject_, &from_}) {
      out += kIndexSeparator;
      out += value->view();
    }
    out += kIndexSeparator;
    if (date_.size > 0) AppendIndexDate(out, date_.view(), clock);
    out += kIndexSeparator;
    out += messageId_.view();
    out += "\r\n";  // the index is written as it is stored: lines end CR LF
  }

 private:
  // A value in a buffer of its full size: taking one copies its bytes and
  // nothing more (a string's assignment is a slow copy for such short
  // texts, on every message).
  struct Value {
    std::string_view view() const { return {text, size}; }
    char text[kIndexValueSize];
    std::size_t size = 0;
  };

  // The text from byte `offset` of the line on, without its line end, cut
  // to fit kIndexValueSize; bytes that would end or split a record become
  // blanks.
  static void take(Value& value, std::string_view line, std::size_t offset, bool tabs) {
    std::string_view text = line.size() > offset ? line.substr(offset) : std::string_view("");
    if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    std::size_t size = SjisPrefixLength(text, kIndexValueSize - 1);
#if defined(__GNUC__)
    // GCC copies a length it knows to be bounded with "rep movs", slow to
    // start for the few dozen bytes of a value; hidden from it, the length
    // goes to memcpy.
    asm("" : "+r"(size));
#endif
    std::memcpy(value.text, text.data(), size);
    value.size = size;
    if (!HasControlByte(value.view())) return;  // the usual case: nothing to clean
    for (char& c : std::span(value.text, value.size)) {
      if (c == '\0' || c == kIndexSeparator || c == '\r' || c == '\n' || (tabs && c == '\t')) c = ' ';
    }
  }

  Value subject_, from_, date_, messageId_;
};

// The number at the start of the index's last line that begins with a
// digit; 0 without such a line or without an index. `open` tells whether
// the index's last line lacks its line end.
std::int64_t ResumePoint(const std::string& indexPath, bool& open) {
  open = false;
  TextFile index;
  if (!index.Open(indexPath, TextFile::Mode::kReadBinary)) return 0;
  TextLines lines(index, kMailboxPieceSize);
  std::int64_t resume = 0;
  while (lines.next()) {
    open = !lines.complete();
    const std::string_view line = lines.first();
    if (line.empty() || !isDigit(line[0])) continue;
    resume = 0;
    for (std::size_t i = 0; i < line.size() && isDigit(line[i]); ++i) {
      resume = std::min(resume * 10 + (line[i] - '0'), kLineNumberLimit);
    }
  }
  return resume;
}

}  // namespace

bool IndexPathOf(std::string_view mailboxPath, std::string& indexPath) {
  if (mailboxPath.size() <= 4) return false;
  indexPath.assign(mailboxPath.substr(0, SjisPrefixLength(mailboxPath, mailboxPath.size() - 4)));
  indexPath += ".dir";
  return indexPath.size() < kPathSize;
}

int MakeMailboxIndex(const char* mailboxPath) {
  if (mailboxPath == nullptr || !PathExists(mailboxPath) || IsDirectory(mailboxPath)) return 0;
  std::string indexPath;
  if (!IndexPathOf(mailboxPath, indexPath)) return 0;
  TextFile mailbox;
  if (!mailbox.Open(mailboxPath, TextFile::Mode::kReadBinary)) return 0;
  // The update holds the index's lock from the resume point to its last
  // record, so two updates never index the same messages twice. A link, a
  // FIFO or another user's file at the index path fails the open.
  TextFile index;
  if (!index.Open(indexPath, TextFile::Mode::kAppendBinary) || !index.Lock()) return 0;
  bool indexOpen = false;
  const std::int64_t resume = ResumePoint(indexPath, indexOpen);

  TextLines lines(mailbox, kMailboxPieceSize);
  std::int64_t n = 0;
  if (resume > 0) {
    // Past the last indexed message: its first line, then its end line.
    while (n < resume && lines.next()) n += lines.pieces();
    lines.skipPast('.', n);
  }

  if (indexOpen) index.Write("\r\n");  // a record never continues a cut line
  IndexClock clock;
  enum class State { kSeeking, kHeader } state = State::kSeeking;
  Record record;
  std::int64_t number = 0;
  std::string records;  // written in blocks of about kWriteBlock bytes
  while (lines.next()) {
    const std::int64_t at = n + 1;
    n += lines.pieces();
    const std::string_view line = lines.first();
    switch (state) {
      case State::kSeeking:
        record.clear();
        number = at;
        if (line.starts_with("X-MailFile:")) state = State::kHeader;
        break;
      case State::kHeader:
        if (line == "\n") {
          record.appendLine(records, number, clock);
          if (records.size() >= kWriteBlock) {
            index.Write(records);
            records.clear();
          }
          // The body, to its end line.
          if (!lines.skipPast('.', n)) break;
          state = State::kSeeking;
        } else {
          record.capture(line);
        }
        break;
    }
  }
  index.Write(records);
  const bool read = !mailbox.Failed();
  return index.Close() && read ? 1 : 0;
}

int CheckMailFolder(const char* folderPath) {
  return folderPath != nullptr && IsDirectory(folderPath) ? 1 : 0;
}

}  // namespace zel
