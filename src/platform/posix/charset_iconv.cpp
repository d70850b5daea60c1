// CharsetConverter over glibc iconv, in two stages through UCS-4 (WCHAR_T):
// the first stage finds the bytes that are no character of the source, the
// second the characters the target lacks, so each gets its own replacement.
#include <iconv.h>

#include <array>
#include <cerrno>
#include <cwchar>

#include "platform/charset_convert.h"

namespace zel {
namespace {

const iconv_t kNoIconv = reinterpret_cast<iconv_t>(-1);
constexpr std::size_t kFailed = static_cast<std::size_t>(-1);
constexpr wchar_t kGetaMark = 0x3013;  // 〓
constexpr wchar_t kQuestion = L'?';

// glibc's name for a canonical charset where it differs: the Microsoft
// supersets that mail labelled with the plain names actually uses.
const char* IconvName(std::string_view canonical) {
  if (canonical == "EUC-JP") return "EUC-JP-MS";
  if (canonical == "EUC-KR") return "CP949";
  if (canonical == "GBK") return "GBK";
  return nullptr;  // the canonical name itself
}

}  // namespace

struct CharsetConverter::State {
  iconv_t toWide = kNoIconv;    // source -> UCS-4
  iconv_t fromWide = kNoIconv;  // UCS-4 -> target
  wchar_t replacement = kGetaMark;
  std::string pending;  // an incomplete character held back from the last piece
  std::array<wchar_t, 2048> wide{};

  ~State() {
    if (toWide != kNoIconv) iconv_close(toWide);
    if (fromWide != kNoIconv) iconv_close(fromWide);
  }

  // Converts `count` code points of `wide` into `out`; a code point the
  // target lacks becomes the replacement. Returns the replacements written.
  std::size_t EmitWide(std::size_t count, std::string& out) {
    std::size_t replaced = 0;
    char* in = reinterpret_cast<char*>(wide.data());
    std::size_t inLeft = count * sizeof(wchar_t);
    char buffer[8192];
    while (inLeft > 0) {
      char* o = buffer;
      std::size_t oLeft = sizeof buffer;
      const std::size_t rc = iconv(fromWide, &in, &inLeft, &o, &oLeft);
      out.append(buffer, o);
      if (rc != kFailed || errno == E2BIG) continue;
      // EILSEQ (or EINVAL on a stray code point): skip it, write the mark.
      in += sizeof(wchar_t);
      inLeft -= sizeof(wchar_t);
      EmitReplacement(out);
      ++replaced;
    }
    return replaced;
  }

  // Writes the replacement character through the second stage.
  void EmitReplacement(std::string& out) {
    wchar_t mark = replacement;
    char* in = reinterpret_cast<char*>(&mark);
    std::size_t inLeft = sizeof mark;
    char buffer[16];
    char* o = buffer;
    std::size_t oLeft = sizeof buffer;
    if (iconv(fromWide, &in, &inLeft, &o, &oLeft) == kFailed && replacement != kQuestion) {
      replacement = kQuestion;  // the target has no 〓
      EmitReplacement(out);
      return;
    }
    out.append(buffer, o);
  }
};

CharsetConverter::CharsetConverter() = default;
CharsetConverter::~CharsetConverter() = default;

bool IsKnownCharset(std::string_view label) {
  CharsetConverter converter;
  return converter.Open(label, CharsetConverter::Direction::kToCp932);
}

bool CharsetConverter::Open(std::string_view label, Direction direction) {
  state_.reset();
  const std::string_view canonical = CanonicalCharset(label);
  if (canonical.empty()) return false;
  const char* special = IconvName(canonical);
  const std::string name = special != nullptr ? std::string(special) : std::string(canonical);
  auto state = std::make_unique<State>();
  if (direction == Direction::kToCp932) {
    state->toWide = iconv_open("WCHAR_T", name.c_str());
    state->fromWide = iconv_open("CP932", "WCHAR_T");
    state->replacement = kGetaMark;
  } else {
    state->toWide = iconv_open("WCHAR_T", "CP932");
    state->fromWide = iconv_open(name.c_str(), "WCHAR_T");
    state->replacement = kQuestion;
  }
  if (state->toWide == kNoIconv || state->fromWide == kNoIconv) return false;
  state_ = std::move(state);
  return true;
}

std::size_t CharsetConverter::Convert(std::string_view piece, std::string& out, bool last) {
  if (!state_) return 0;
  State& s = *state_;
  std::string input;
  if (!s.pending.empty()) {
    input = std::move(s.pending);
    input.append(piece);
    s.pending.clear();
    piece = input;
  }
  std::size_t replaced = 0;
  char* in = const_cast<char*>(piece.data());
  std::size_t inLeft = piece.size();
  while (inLeft > 0) {
    char* w = reinterpret_cast<char*>(s.wide.data());
    std::size_t wLeft = s.wide.size() * sizeof(wchar_t);
    const std::size_t rc = iconv(s.toWide, &in, &inLeft, &w, &wLeft);
    const int error = errno;
    std::size_t count = s.wide.size() - wLeft / sizeof(wchar_t);
    if (rc != kFailed || error == E2BIG) {
      replaced += s.EmitWide(count, out);
      continue;
    }
    if (error == EINVAL && !last) {  // a character cut at the end of the piece
      replaced += s.EmitWide(count, out);
      s.pending.assign(in, inLeft);
      return replaced;
    }
    // A byte that is no character (or a cut character at the end): one
    // replacement for it, then go on after it.
    s.wide[count++] = s.replacement;
    ++replaced;
    replaced += s.EmitWide(count, out);
    ++in;
    --inLeft;
  }
  if (last) {
    // Close the shift states of both stages (ISO-2022-JP, UTF-7 output).
    char* w = reinterpret_cast<char*>(s.wide.data());
    std::size_t wLeft = s.wide.size() * sizeof(wchar_t);
    iconv(s.toWide, nullptr, nullptr, &w, &wLeft);
    replaced += s.EmitWide(s.wide.size() - wLeft / sizeof(wchar_t), out);
    char buffer[16];
    char* o = buffer;
    std::size_t oLeft = sizeof buffer;
    iconv(s.fromWide, nullptr, nullptr, &o, &oLeft);
    out.append(buffer, o);
  }
  return replaced;
}

}  // namespace zel
