// A plain-text rendering of an HTML text, for mail that comes as HTML only.
//
// Tags are removed; <br> ends a line, and <p>, <div>, <li>, <tr>, headings,
// tables, lists, quotes and rules start and end lines; the contents of
// <script>, <style> and <head> are dropped, as are comments; entities and
// numeric character references are decoded (a character Shift-JIS lacks
// becomes 〓); blanks and line ends of the source collapse into one blank
// (but inside <pre>); a link keeps its address as text after its own text
// ("text <address>") unless the two are the same.
//
// Works on Shift-JIS text in pieces: the bytes that make tags and
// references are all below 0x40, so no trail byte is ever taken for one.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zel {

class HtmlTextRenderer {
 public:
  // Appends the rendering of `piece` (Shift-JIS) to `out`.
  void add(std::string_view piece, std::string& out);
  // Ends the text: what a cut tag or reference held is written as text,
  // and the rendering ends with a line end (unless it is empty).
  void finish(std::string& out);

 private:
  enum class State { kText, kTag, kComment, kReference, kRawText };

  void text(char c, std::string& out);
  void endTag(std::string& out);
  void endReference(bool terminated, std::string& out);
  void lineEnd(std::string& out, bool always);
  void emit(std::string_view s, std::string& out);  // text of the document

  State state_ = State::kText;
  std::string held_;        // the tag, comment tail or reference being read
  char quote_ = 0;          // the quote open inside a tag
  std::string rawEnd_;      // "</script" or "</style" in raw text
  int skipDepth_ = 0;       // inside <head> (or script/style)
  int preDepth_ = 0;        // inside <pre>
  bool lineHasText_ = false;
  bool blankPending_ = false;  // a blank to write before the next text
  std::string href_;           // the address of the open link
  std::string linkText_;       // the text of the open link so far
  bool inLink_ = false;
};

}  // namespace zel
