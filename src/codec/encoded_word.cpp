#include "codec/encoded_word.h"

#include <cstring>
#include <memory>

#include "codec/base64.h"
#include "codec/charset.h"
#include "codec/header_words.h"

namespace zel {

namespace {

constexpr char kEsc = 0x1B;
constexpr std::string_view kWordPrefix = "=?ISO-2022-JP?B?";
constexpr std::string_view kWordSuffix = "?=";

// Estimate increments of the fold marking: opening a Japanese run (prefix,
// escapes, suffix), one Japanese character, closing a run, one ASCII byte.
constexpr int kRunOpenCost = 20;
constexpr int kWideCost = 3;
constexpr int kRunCloseCost = 2;

// Pass 1: copies the line, inserting a line feed wherever the estimated
// encoded length passes kFoldEstimate. A fold needs text after it on its
// line: one before the line end or the end of the text would leave a
// continuation of blanks alone (or, at the end of a part of a long line,
// none at all); the estimate then runs on to the next fold point.
std::string markFolds(std::string_view source, int& estimate) {
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
    if (isJisLead(c) || isHalfWidthKana(c)) {
      if (!run) {
        estimate += kRunOpenCost;
        run = true;
      }
      const bool pair = isJisLead(c) && i + 1 < source.size() &&
                        isJisTrail(static_cast<unsigned char>(source[i + 1]));
      const std::size_t n = pair ? 2 : 1;
      out.append(source.substr(i, n));
      i += n;
      estimate += kWideCost;
      foldPoint = true;
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

void appendWord(std::string& out, std::string_view jis) {
  out.append(kWordPrefix);
  const std::size_t at = out.size();
  out.resize(at + base64EncodedSize(jis.size()) + 1);
  const std::size_t n = base64Encode(jis.data(), jis.size(), out.data() + at);
  out.resize(at + n);
  out.append(kWordSuffix);
}

}  // namespace

std::string encodeHeaderLine(std::string_view source) {
  int estimate = 0;
  return encodeHeaderPart(source, estimate);
}

std::string encodeHeaderPart(std::string_view source, int& estimate) {
  const std::string marked = markFolds(source, estimate);
  // Pass 2: to ISO-2022-JP; every run of Japanese text becomes ESC $ B ... ESC ( B.
  std::unique_ptr<char[]> jisBuffer(new char[sjisToJisBound(marked.size())]);
  const std::size_t jisLength = sjisToJis(marked.data(), marked.size(), jisBuffer.get());
  const std::string_view jis(jisBuffer.get(), jisLength);

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
      appendWord(out, jis.substr(wordStart, i + 3 - wordStart));
      inWord = false;
      i += 3;
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
