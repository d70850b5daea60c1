// The progress output of zelrecv.
#include "programs/progress_view.h"

#include <cstdio>
#include <utility>

#include "platform/path_charset.h"
#include "platform/terminal.h"

namespace zel::sender {
namespace {

// The width assumed for a terminal that does not tell its size.
constexpr int kDefaultColumns = 80;
// The longest list line read: the library writes at most a path, a date
// and two header lines of 1,024 bytes.
constexpr std::size_t kListLineLimit = 4096;

void Write(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

ProgressView::ProgressView(bool live, std::string listPath)
    : live_(live), listPath_(std::move(listPath)) {}

void ProgressView::Show(const ProgressTexts& texts) {
  if (const int total = TotalOf(texts.counts); total > 0) {
    total_ = total;
    ownList_ = true;
  }
  // Without a list file the dialog tells the last message; a record that
  // blanks its texts (the run's end) leaves the last one shown.
  if (listPath_.empty() && (!texts.subject.empty() || !texts.sender.empty())) {
    if (!live_ && ownList_ && !(texts == last_)) Write(PlainLine(++shownPlain_, texts.subject, texts.sender));
    last_ = texts;
  }
  if (live_ && ownList_) Draw(listPath_.empty() ? ProgressTexts{texts.counts, last_.subject, last_.sender} : texts);
}

void ProgressView::Poll() {
  if (!live_) ReadList();
}

void ProgressView::Finish(int result, bool succeeded) {
  // A run that stored messages has written its list; one that delivered
  // them elsewhere wrote none, and its count is the result.
  if (result > 0) ownList_ = true;
  ReadList();
  if (listPath_.empty() && result > 0) {
    stored_ = result;
    last_.counts = CountsText(stored_, total_ > 0 ? total_ : stored_);
  }
  if (!live_) return;
  if (stored_ > 0) Draw(last_);
  if (!drawn_) return;
  if (stored_ == 0 && succeeded) {
    std::string blank(drawnColumns_ + 2, ' ');
    blank.front() = blank.back() = '\r';
    Write(blank);
  } else {
    Write("\n");
  }
}

void ProgressView::ReadList() {
  std::string native;
  if (!ownList_ || !NativePath(listPath_, native)) return;
  std::FILE* file = std::fopen(native.c_str(), "rb");
  if (file == nullptr) return;
  // A line still being written (no line feed yet) is read next time.
  if (std::fseek(file, static_cast<long>(listOffset_), SEEK_SET) == 0) {
    std::string line;
    int c;
    while ((c = std::fgetc(file)) != EOF) {
      if (c != '\n') {
        if (line.size() < kListLineLimit) line += static_cast<char>(c);
        continue;
      }
      listOffset_ = std::ftell(file);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      ProgressTexts texts;
      if (ListLineTexts(line, texts.subject, texts.sender)) {
        ++stored_;
        if (live_) {
          last_ = std::move(texts);
          last_.counts = CountsText(stored_, total_ > 0 ? total_ : stored_);
        } else {
          Write(PlainLine(stored_, texts.subject, texts.sender));
        }
      }
      line.clear();
    }
  }
  std::fclose(file);
}

void ProgressView::Draw(const ProgressTexts& texts) {
  int columns = TerminalColumns();
  if (columns <= 1) columns = kDefaultColumns;
  // One column stays free: a line that fills the width wraps on some
  // terminals, and "\r" would then return to the wrong row.
  std::size_t width = 0;
  const std::string line = LiveLine(texts, static_cast<std::size_t>(columns - 1), &width);
  std::string text(1, '\r');
  text += line;
  if (width < drawnColumns_) text.append(drawnColumns_ - width, ' ');
  Write(text);
  drawnColumns_ = width;
  drawn_ = true;
}

}  // namespace zel::sender
