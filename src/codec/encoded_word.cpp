#include "codec/encoded_word.h"

#include <cstring>
#include <memory>

#include "charset/jis_convert.h"
#include "codec/base64.h"
#include "codec/header_words.h"
#include "platform/sjis_text.h"

namespace zel {

namespace {

constexpr char kEsc = 0x1B;
constexpr std::string_view kWordPrefix = "=?ISO-2022-JP?B?";
constexpr std::string_view kUtf8WordPrefix = "=?UTF-8?B?";
constexpr std::string_view kWordSuffix = "?=";

// An encoded word is at most 75 characters (RFC 2047, 2): the UTF-8 words
// carry at most 45 bytes (60 base64 characters) each. A run that stays one
// word (Utf8HeaderFold::wholeRuns) is cut only where its line would near
// the 998 characters a line may hold.
constexpr std::size_t kUtf8WordBytes = (75 - 10 - 2) / 4 * 3;
constexpr std::size_t kUtf8WholeRunBytes = 600;

// Lines of a UTF-8 header are folded before a blank once they would pass
// 76 characters (RFC 5322 recommends at most 78).
constexpr std::size_t kUtf8FoldColumn = 76;

// Estimate increments of the fold marking: opening a Japanese run (prefix,
// escapes, suffix), one Japanese character, closing a run, one ASCII byte.
constexpr int kRunOpenCost = 20;
constexpr int kWideCost = 3;
constexpr int kRunCloseCost = 2;

bool isWide(unsigned char c) { return IsSjisLead(c) || isHalfWidthKana(c); }

// Pass 1: copies the line, inserting a line feed wherever the estimated
// encoded length passes kFoldEstimate. A fold needs text after it on its
// line: one before the line end or the end of the text would leave a
// continuation of blanks alone (or, at the end of a part of a long line,
// none at all); the estimate then runs on to the next fold point. With
// `whole` words a fold after a Japanese character needs another one or a
// blank after it: ASCII text glued to it belongs to its word.
std::string markFolds(std::string_view source, int& estimate, bool whole) {
  std::string out;
  out.reserve(source.size() + source.size() / 256 + 8);
  bool run = false;
  std::size_t content = 0;  // moves forward only: the scan costs one pass
  const auto textFollows = [&](std::size_t from) {
    if (content < from) content = from;
    while (content < source.size() && (source[content] == ' ' || source[content] == '\t')) ++content;
    return content < source.size() && source[content] != '\n';
  };
  for (std::size_t i = 0; i < source.size();) {
    const auto c = static_cast<unsigned char>(source[i]);
    bool foldPoint = false;
    if (isWide(c)) {
      if (!run) {
        estimate += kRunOpenCost;
        run = true;
      }
      const bool pair = IsSjisLead(c) && i + 1 < source.size() &&
                        isJisTrail(static_cast<unsigned char>(source[i + 1]));
      const std::size_t n = pair ? 2 : 1;
      out.append(source.substr(i, n));
      i += n;
      estimate += kWideCost;
      foldPoint = !whole || i == source.size() || isWide(static_cast<unsigned char>(source[i])) ||
                  source[i] == ' ' || source[i] == '\t';
    } else {
      if (run) {
        estimate += kRunCloseCost;
        run = false;
      }
      out.push_back(static_cast<char>(c));
      ++i;
      estimate += 1;
      foldPoint = c == ' ';
    }
    if (foldPoint && estimate > kFoldEstimate && textFollows(i)) {
      out.push_back('\n');
      estimate = 1;
      run = false;
    }
  }
  return out;
}

bool startsWith(std::string_view text, std::size_t at, std::string_view what) {
  return text.size() - at >= what.size() && text.compare(at, what.size(), what) == 0;
}

void appendWord(std::string& out, std::string_view text, std::string_view prefix = kWordPrefix) {
  out.append(prefix);
  const std::size_t at = out.size();
  out.resize(at + base64EncodedSize(text.size()) + 1);
  const std::size_t n = base64Encode(text.data(), text.size(), out.data() + at);
  out.resize(at + n);
  out.append(kWordSuffix);
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Where a UTF-8 word that starts at `start` ends when it may reach `limit`:
// between two characters, and after a multiple of three bytes where one
// is in reach. A word with base64 padding makes some readers (GMime) drop
// the encoded word after it.
std::size_t utf8WordCut(std::string_view text, std::size_t start, std::size_t limit) {
  std::size_t anyCut = 0;
  for (std::size_t cut = limit; cut > start; --cut) {
    if ((static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) continue;
    if ((cut - start) % 3 == 0) return cut;
    if (anyCut == 0) anyCut = cut;
  }
  return anyCut != 0 ? anyCut : limit;
}

std::size_t skipBlanks(std::string_view text, std::size_t at) {
  while (at < text.size() && isBlank(text[at])) ++at;
  return at;
}

// Characters that end a whole word in a field of addresses.
bool isAddressMark(char c) {
  return c == '<' || c == '>' || c == ',' || c == ';' || c == ':' || c == '"';
}

// The end of the token (the text a whole word may hold) that starts at
// `at`, which is no blank or line feed: the next blank, line feed or end,
// or with `addresses` the next address character outside a run of two-byte
// text of `jis` (ISO-2022-JP) text; one alone is a token of its own.
std::size_t tokenEnd(std::string_view text, std::size_t at, bool addresses, bool jis) {
  if (addresses && isAddressMark(text[at])) return at + 1;
  bool twoByte = false;
  std::size_t i = at;
  while (i < text.size() && !isBlank(text[i]) && text[i] != '\n') {
    if (jis && text[i] == kEsc && i + 2 < text.size()) {
      if (text[i + 1] == '$') twoByte = true;
      if (text[i + 1] == '(') twoByte = false;
    } else if (addresses && !twoByte && isAddressMark(text[i])) {
      break;
    }
    ++i;
  }
  return i;
}

// Where the field name that `text` begins with ends (after its ":"), or 0:
// printable ASCII other than ":" (RFC 5322 ftext), then ":". The name
// never goes into a word, whatever follows it.
std::size_t fieldNameEnd(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] > ' ' && text[i] < 0x7F && text[i] != ':') ++i;
  return i > 0 && i < text.size() && text[i] == ':' ? i + 1 : 0;
}

// True when text[from, to) needs an encoded word: in ISO-2022-JP text it
// holds an escape, in UTF-8 text a byte above 0x7F.
bool needsWord(std::string_view text, std::size_t from, std::size_t to, bool utf8) {
  for (std::size_t i = from; i < to; ++i) {
    if (utf8 ? static_cast<unsigned char>(text[i]) >= 0x80 : text[i] == kEsc) return true;
  }
  return false;
}

// Pass 3 with whole words: every token that needs a word, with the tokens
// after it that need one and the blanks between them, becomes one word;
// where a fold stands among those blanks, the blanks end the word before
// it and the next word starts the continuation line. `lineStart`: the text
// starts a header line (and its field name).
std::string wholeWords(std::string_view jis, bool addresses, bool lineStart) {
  std::string out;
  out.reserve(jis.size() * 4 / 3 + 64);
  const std::size_t n = jis.size();
  const std::size_t name = lineStart ? fieldNameEnd(jis) : 0;
  out.append(jis.substr(0, name));
  for (std::size_t i = name; i < n;) {
    if (jis[i] == '\n') {
      out.push_back('\n');
      ++i;
      if (i < n && jis[i] != ' ') out.push_back(' ');
      continue;
    }
    if (isBlank(jis[i])) {
      out.push_back(jis[i++]);
      continue;
    }
    std::size_t end = tokenEnd(jis, i, addresses, true);
    if (!needsWord(jis, i, end, false)) {
      out.append(jis.substr(i, end - i));
      i = end;
      continue;
    }
    std::string word(jis.substr(i, end - i));
    i = end;
    for (;;) {
      const std::size_t blanks = skipBlanks(jis, i);
      const bool fold = blanks < n && jis[blanks] == '\n';
      const std::size_t next = fold ? skipBlanks(jis, blanks + 1) : blanks;
      if (next == i || next >= n || jis[next] == '\n') break;
      end = tokenEnd(jis, next, addresses, true);
      if (!needsWord(jis, next, end, false)) break;
      if (fold) {
        word.append(jis.substr(i, blanks - i)).append(jis.substr(blanks + 1, next - blanks - 1));
        appendWord(out, word);
        out.append("\n ");
        word.clear();
      } else {
        word.append(jis.substr(i, next - i));
      }
      word.append(jis.substr(next, end - next));
      i = end;
    }
    appendWord(out, word);
  }
  return out;
}

}  // namespace

std::string encodeHeaderLine(std::string_view source, WordRules rules) {
  int estimate = 0;
  return encodeHeaderPart(source, estimate, nullptr, rules);
}

std::string encodeHeaderPart(std::string_view source, int& estimate, bool* carried, WordRules rules) {
  const bool lineStart = estimate == 0;
  const std::string marked = markFolds(source, estimate, rules.whole);
  // Pass 2: to ISO-2022-JP; every run of Japanese text becomes ESC $ B ... ESC ( B.
  std::unique_ptr<char[]> jisBuffer(new char[sjisToJisBound(marked.size())]);
  std::size_t jisLength =
      cp932ToIso2022Jp(marked.data(), marked.size(), jisBuffer.get(),
                       rules.whole ? Iso2022JpRepertoire::kJisX0208 : Iso2022JpRepertoire::kExtended);
  if (carried != nullptr) *carried = jisLength != kNotCarried;
  if (jisLength == kNotCarried) jisLength = sjisToJis(marked.data(), marked.size(), jisBuffer.get());
  const std::string_view jis(jisBuffer.get(), jisLength);
  if (rules.whole) return wholeWords(jis, rules.addresses, lineStart);

  // Pass 3: each run, escapes included, becomes one encoded word.
  std::string out;
  out.reserve(jisLength * 4 / 3 + 64);
  bool inWord = false;
  std::size_t wordStart = 0;
  for (std::size_t i = 0; i < jis.size();) {
    const char c = jis[i];
    if (!inWord) {
      if (c == kEsc && (startsWith(jis, i, "\x1B$B") || startsWith(jis, i, "\x1B$@"))) {
        wordStart = i;
        inWord = true;
        i += 3;
      } else if (c == '\n') {
        out.push_back('\n');
        ++i;
        if (i < jis.size() && jis[i] != ' ' && jis[i] != '\0') out.push_back(' ');
      } else {
        out.push_back(c);
        ++i;
      }
    } else if (c == kEsc && (startsWith(jis, i, "\x1B(B") || startsWith(jis, i, "\x1B(J"))) {
      // Blanks between this run and the next stay inside the word: readers
      // drop white space between two encoded words (RFC 2047, 6.2). Where
      // the line is folded among them, they end the word before the fold.
      const std::size_t blanks = skipBlanks(jis, i + 3);
      const bool fold = blanks < jis.size() && jis[blanks] == '\n';
      const std::size_t next = fold ? skipBlanks(jis, blanks + 1) : blanks;
      const bool joins = (blanks > i + 3 || next > blanks + 1) &&
                         (startsWith(jis, next, "\x1B$B") || startsWith(jis, next, "\x1B$@"));
      if (!joins) {
        appendWord(out, jis.substr(wordStart, i + 3 - wordStart));
        inWord = false;
        i += 3;
      } else if (!fold) {
        i = next + 3;
      } else {
        std::string word(jis.substr(wordStart, blanks - wordStart));
        word.append(jis.substr(blanks + 1, next - blanks - 1));
        appendWord(out, word);
        out.append("\n ");
        wordStart = next;
        i = next + 3;
      }
    } else if (c == '\n') {
      // Only escape bytes of the source itself open a word that reaches a
      // line feed: the word ends there, so the line keeps its line end.
      appendWord(out, jis.substr(wordStart, i - wordStart));
      inWord = false;
    } else {
      ++i;
    }
  }
  // A run opened by escape bytes of the source itself and never closed:
  // its bytes still go out, as a word of their own.
  if (inWord) appendWord(out, jis.substr(wordStart));
  return out;
}

std::string encodeUtf8HeaderLine(std::string_view source, bool wholeRuns, bool wholeWords) {
  Utf8HeaderFold fold;
  fold.wholeRuns = wholeRuns;
  fold.wholeWords = wholeWords;
  return encodeUtf8HeaderPart(source, fold);
}

std::string encodeIso2022JpWord(std::string_view text, bool& carried) {
  std::unique_ptr<char[]> jis(new char[sjisToJisBound(text.size())]);
  const std::size_t n = cp932ToIso2022Jp(text.data(), text.size(), jis.get());
  carried = n != kNotCarried;
  std::string out;
  if (carried) appendWord(out, std::string_view(jis.get(), n));
  return out;
}

std::string encodeUtf8Word(std::string_view text) {
  std::string out;
  appendWord(out, text, kUtf8WordPrefix);
  return out;
}

std::string encodeUtf8HeaderPart(std::string_view source, Utf8HeaderFold& fold) {
  std::string out;
  out.reserve(source.size() * 3 / 2 + 32);
  // The text is laid out as tokens (ASCII text and encoded words with no
  // blank between them) after separators (the blanks of the source, or one
  // blank between two words of a long run); a line is folded before a
  // separator where the token after it would pass the fold column.
  std::string_view separator;
  std::string token;
  const auto put = [&] {
    // Never between the field name and the first token after it.
    if (!separator.empty() && !token.empty() && fold.tokens >= (fold.folded ? 1u : 2u) &&
        fold.column + separator.size() + token.size() > kUtf8FoldColumn) {
      out.push_back('\n');
      fold.column = 0;
      fold.tokens = 0;
      fold.folded = true;
    }
    out.append(separator).append(token);
    fold.column += separator.size() + token.size();
    if (!token.empty()) ++fold.tokens;
    separator = {};
    token.clear();
  };
  const std::size_t n = source.size();
  std::size_t i = 0;
  if (fold.wholeWords && fold.column == 0 && fold.tokens == 0 && !fold.folded) {
    i = fieldNameEnd(source);
    token.append(source.substr(0, i));
  }
  // Encoded words of whole characters for source[i, end).
  const auto encodeRun = [&](std::size_t end) {
    const std::size_t limit = fold.wholeRuns ? kUtf8WholeRunBytes : kUtf8WordBytes;
    while (i < end) {
      const std::size_t cut = end - i <= limit ? end : utf8WordCut(source, i, i + limit);
      if (fold.wordEnds) {
        put();
        separator = " ";
      }
      appendWord(token, source.substr(i, cut - i), kUtf8WordPrefix);
      fold.wordEnds = true;
      i = cut;
    }
  };
  while (i < n) {
    const auto c = static_cast<unsigned char>(source[i]);
    if (c == '\n') {
      put();
      out.push_back('\n');
      fold = {.wholeRuns = fold.wholeRuns, .wholeWords = fold.wholeWords};
      ++i;
    } else if (isBlank(source[i])) {
      put();
      const std::size_t end = skipBlanks(source, i);
      separator = source.substr(i, end - i);
      i = end;
    } else if (fold.wholeWords) {
      // A token that needs a word, with the tokens after it that need one
      // and the blanks between them.
      std::size_t end = tokenEnd(source, i, fold.wholeRuns, false);
      if (!needsWord(source, i, end, true)) {
        token.append(source.substr(i, end - i));
        fold.wordEnds = false;
        i = end;
        continue;
      }
      for (;;) {
        const std::size_t next = skipBlanks(source, end);
        if (next == end || next == n || source[next] == '\n') break;
        const std::size_t nextEnd = tokenEnd(source, next, fold.wholeRuns, false);
        if (!needsWord(source, next, nextEnd, true)) break;
        end = nextEnd;
      }
      encodeRun(end);
    } else if (c < 0x80) {
      token.push_back(static_cast<char>(c));
      fold.wordEnds = false;
      ++i;
    } else {
      // A run of characters beyond ASCII, with the blanks between it and
      // the next such run: encoded words of whole characters.
      std::size_t end = i;
      for (;;) {
        while (end < n && static_cast<unsigned char>(source[end]) >= 0x80) ++end;
        const std::size_t next = skipBlanks(source, end);
        if (next == end || next == n || static_cast<unsigned char>(source[next]) < 0x80) break;
        end = next;
      }
      encodeRun(end);
    }
  }
  put();
  return out;
}

std::string decodeHeaderLine(std::string_view source) {
  // The words' bytes as they stand; blanks between two words, and those
  // the text before a word ends with, disappear.
  std::vector<WordPiece> pieces;
  scanEncodedWords(source, pieces);
  std::string out;
  out.reserve(source.size());
  for (const WordPiece& piece : pieces) {
    if (piece.adjacent) {
      while (!out.empty() && out.back() == ' ') out.pop_back();
    }
    out += piece.bytes;
  }
  out.resize(jisToSjis(out.data(), out.size(), out.data()));
  // The decoded text never outgrows the encoded one, so this still fits.
  finishHeaderLine(source, out);
  return out;
}

void blankControlBytes(std::string& line) {
  const std::size_t end = !line.empty() && line.back() == '\n' ? line.size() - 1 : line.size();
  for (std::size_t i = 0; i < end; ++i) {
    if (static_cast<unsigned char>(line[i]) < 0x20 && line[i] != '\t') line[i] = ' ';
  }
}

std::size_t decodeHeaderLine(const char* source, char* destination) {
  const std::string out = decodeHeaderLine(std::string_view(source));
  std::memcpy(destination, out.data(), out.size());
  destination[out.size()] = '\0';
  return out.size();
}

}  // namespace zel
