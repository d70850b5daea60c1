// What zelrecv shows of a run: the progress dialog's counts, subject and
// sender as one live terminal line, and one plain line per stored message
// taken from the list file. Pure text work over Shift-JIS; the results are
// console text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zel::sender {

// The texts of the progress dialog: counts ("%3d / %3d"), subject, sender.
struct ProgressTexts {
  std::string counts;
  std::string subject;
  std::string sender;
  bool operator==(const ProgressTexts&) const = default;
};

// TotalOf - the total of a counts text ("  3 / 12" gives 12); 0 for the
// dialog's placeholder ("000/000") before the run has listed the maildrop.
int TotalOf(std::string_view counts);

// CountsText - current and total as the dialog shows them: "%3d / %3d".
std::string CountsText(int current, int total);

// LiveLine - the texts as one terminal line of at most `width` columns,
// cut at a character boundary; `columns` receives its width. A Shift-JIS
// byte is one terminal column, so the cut is counted in bytes before the
// conversion to console text.
std::string LiveLine(const ProgressTexts& texts, std::size_t width, std::size_t* columns);

// ListLineTexts - the subject and the sender of a list file line
// ("path\tdate\tFrom: ...\tSubject: ..."), their header names dropped.
// Returns false for a line without the four fields.
bool ListLineTexts(std::string_view line, std::string& subject, std::string& sender);

// PlainLine - "number\tsubject\tsender\n"; a TAB inside a text is shown as
// a blank, so that the line keeps its three fields.
std::string PlainLine(int number, std::string_view subject, std::string_view sender);

}  // namespace zel::sender
