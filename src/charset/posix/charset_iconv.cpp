// The charset backend over glibc iconv: bytes of a charset <-> UCS-4
// (WCHAR_T), streaming; the own conversions and the CP932 table do the rest.
#include <iconv.h>

#include <cerrno>
#include <cwchar>

#include "charset/charset_steps.h"

namespace zel::charset {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char32_t), "WCHAR_T is UCS-4 here");

const iconv_t kNoIconv = reinterpret_cast<iconv_t>(-1);
constexpr std::size_t kFailed = static_cast<std::size_t>(-1);

// glibc's name for a canonical charset where it differs: the Microsoft
// supersets that mail labelled with the plain names actually uses.
std::string iconvName(std::string_view canonical) {
  if (canonical == "EUC-JP") return "EUC-JP-MS";
  if (canonical == "EUC-KR") return "CP949";
  return std::string(canonical);
}

class IconvCodec final : public WideCodec {
 public:
  explicit IconvCodec(iconv_t cd) : cd_(cd) {}
  ~IconvCodec() override { iconv_close(cd_); }

  void Decode(std::string_view piece, std::u32string& wide, bool last) override {
    std::string input;
    if (!held_.empty()) {
      input = std::move(held_);
      held_.clear();
      input.append(piece);
      piece = input;
    }
    char* in = const_cast<char*>(piece.data());
    std::size_t inLeft = piece.size();
    while (inLeft > 0) {
      const std::size_t rc = Run(&in, &inLeft, wide);
      if (rc != kFailed || errno == E2BIG) continue;
      if (errno == EINVAL && !last) {  // a character cut at the end of the piece
        held_.assign(in, inLeft);
        return;
      }
      // A byte that is no character (or a cut character at the end).
      wide.push_back(kInvalid);
      ++in;
      --inLeft;
    }
    if (last) Run(nullptr, nullptr, wide);  // the end of a shift state
  }

  std::size_t Encode(std::u32string_view wide, std::string& out, bool last) override {
    std::size_t replaced = 0;
    std::size_t from = 0;
    for (std::size_t i = 0; i <= wide.size(); ++i) {
      if (i < wide.size() && wide[i] != kInvalid) continue;
      replaced += EncodeRun(wide.substr(from, i - from), out);
      if (i < wide.size()) {
        ++replaced;
        EncodeRun(U"?", out, true);
      }
      from = i + 1;
    }
    if (last) {
      char buffer[16];
      char* o = buffer;
      std::size_t oLeft = sizeof buffer;
      iconv(cd_, nullptr, nullptr, &o, &oLeft);
      out.append(buffer, o);
    }
    return replaced;
  }

 private:
  // One iconv call into UCS-4, appended to `wide`; errno as iconv left it.
  std::size_t Run(char** in, std::size_t* inLeft, std::u32string& wide) {
    wchar_t buffer[1024];
    char* o = reinterpret_cast<char*>(buffer);
    std::size_t oLeft = sizeof buffer;
    const std::size_t rc = iconv(cd_, in, inLeft, &o, &oLeft);
    const int error = errno;
    const std::size_t n = (sizeof buffer - oLeft) / sizeof(wchar_t);
    wide.append(reinterpret_cast<const char32_t*>(buffer), n);
    errno = error;
    return rc;
  }

  // Code points without kInvalid into `out`; each one the charset lacks
  // becomes "?" (unless `mark`: the "?" itself). Returns the "?" written.
  std::size_t EncodeRun(std::u32string_view wide, std::string& out, bool mark = false) {
    std::size_t replaced = 0;
    char* in = const_cast<char*>(reinterpret_cast<const char*>(wide.data()));
    std::size_t inLeft = wide.size() * sizeof(char32_t);
    char buffer[4096];
    while (inLeft > 0) {
      char* o = buffer;
      std::size_t oLeft = sizeof buffer;
      const std::size_t rc = iconv(cd_, &in, &inLeft, &o, &oLeft);
      const int error = errno;
      out.append(buffer, o);
      if (rc != kFailed || error == E2BIG) continue;
      if (mark) break;
      in += sizeof(char32_t);
      inLeft -= sizeof(char32_t);
      ++replaced;
      EncodeRun(U"?", out, true);
    }
    return replaced;
  }

  iconv_t cd_;
  std::string held_;  // an incomplete character held back from the last piece
};

}  // namespace

std::unique_ptr<WideCodec> openWideCodec(std::string_view canonical, bool decode) {
  const std::string name = iconvName(canonical);
  const iconv_t cd = decode ? iconv_open("WCHAR_T", name.c_str()) : iconv_open(name.c_str(), "WCHAR_T");
  if (cd == kNoIconv) return nullptr;
  return std::make_unique<IconvCodec>(cd);
}

}  // namespace zel::charset
