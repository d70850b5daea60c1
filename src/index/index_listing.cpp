#include "index/index_listing.h"

#include <algorithm>
#include <climits>
#include <string>
#include <string_view>
#include <vector>

#include "index/mailbox_index.h"
#include "index/text_lines.h"
#include "platform/sjis_text.h"
#include "platform/text_file.h"
#include "window/dialog.h"

namespace zel {

namespace {

constexpr std::size_t kFieldCount = 6;
constexpr std::string_view kLeader = "　 ";  // a full-width space and a blank

// `text` cut to `width` bytes at a character boundary and padded with blanks
// to `width`, appended to `out`.
void AppendColumn(std::string& out, std::string_view text, int width) {
  const auto w = static_cast<std::size_t>(std::max(width, 0));
  const std::size_t n = SjisPrefixLength(text, w);
  out.append(text.substr(0, n));
  out.append(w - n, ' ');
}

// The line-number field as an item value (atoi, held within int).
MessageLong LineNumber(std::string_view field) {
  long long n = 0;
  for (const char c : field) {
    if (c < '0' || c > '9') break;
    n = std::min<long long>(n * 10 + (c - '0'), INT_MAX);
  }
  return static_cast<MessageLong>(n);
}

struct Entry {
  std::string text;
  MessageLong data;
};

// The entry of one index line; false for a line that is no record.
bool MakeEntry(std::string_view line, int subjectWidth, int fromWidth, int dateWidth, Entry& entry) {
  if (line.empty() || line[0] == '*') return false;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  std::string_view f[kFieldCount];
  for (std::size_t i = 0; i + 1 < kFieldCount; ++i) {
    const std::size_t cut = line.find(kIndexSeparator);
    if (cut == std::string_view::npos) return false;
    f[i] = line.substr(0, cut);
    line.remove_prefix(cut + 1);
  }
  f[5] = line;
  entry.text.assign(kLeader);
  AppendColumn(entry.text, f[2], subjectWidth);
  entry.text += ' ';
  AppendColumn(entry.text, f[3], fromWidth);
  entry.text += ' ';
  AppendColumn(entry.text, f[4], dateWidth);
  entry.text += '\t';
  entry.text.append(f[0]);
  std::replace(entry.text.begin(), entry.text.end(), '\0', ' ');  // the entry is a C string
  entry.data = LineNumber(f[0]);
  return true;
}

}  // namespace

int PrintIndex(WindowHandle listWindow, const char* indexPath, const char* keyName, int insertAt,
               int subjectWidth, int fromWidth, int dateWidth) {
  if (listWindow == 0 || indexPath == nullptr) return 0;
  const std::string_view key = keyName != nullptr ? keyName : "Subject";
  if (key != "" && key != "Subject" && key != "From" && key != "Date") return 0;

  TextFile index;
  if (!index.Open(indexPath, TextFile::Mode::kReadBinary)) return 0;
  std::vector<Entry> entries;
  {
    TextLines lines(index, kListingLineLimit);
    Entry entry;
    while (lines.next()) {
      if (MakeEntry(lines.first(), subjectWidth, fromWidth, dateWidth, entry)) entries.push_back(entry);
    }
  }
  index.Close();

  SendWindowMessage(listWindow, kWmSetRedraw, 0, 0);
  SendWindowMessage(listWindow, kLbResetContent, 0, 0);
  for (const Entry& e : entries) {
    const MessageResult at = SendWindowMessage(listWindow, kLbInsertString, static_cast<MessageParam>(insertAt),
                                               reinterpret_cast<MessageLong>(e.text.c_str()));
    // A failed insertion (LB_ERR, LB_ERRSPACE) gets no data: -1 would set
    // the data of every entry.
    if (at >= 0) SendWindowMessage(listWindow, kLbSetItemData, static_cast<MessageParam>(at), e.data);
  }
  SendWindowMessage(listWindow, kWmSetRedraw, 1, 0);
  return 1;
}

}  // namespace zel
