// Base64 bodies (RFC 2045) decoded as a stream, the way mail readers do:
// characters outside the alphabet (line ends, blanks) are skipped and the
// pad ends the data.
#pragma once

#include <string>
#include <string_view>

namespace zel {

class Base64Stream {
 public:
  // Appends the bytes of `text`, a piece of the body, to `out`. A group cut
  // by the end of the piece is completed by the next one.
  void add(std::string_view text, std::string& out);
  // Ends the body: the bytes of a last incomplete group (two or three
  // characters) are appended.
  void finish(std::string& out);

 private:
  unsigned bits_ = 0;  // the characters of the open group, six bits each
  int count_ = 0;      // characters in the open group
  bool padOpened_ = false;  // one "=" after two characters: a second ends the data
  bool ended_ = false;      // the pad was read: the rest is no data
};

}  // namespace zel
