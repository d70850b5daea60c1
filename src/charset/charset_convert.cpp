// CharsetConverter: the own conversions where there is one, else the
// backend's through Unicode code points and the CP932 table.
#include <utility>

#include "charset/charset_steps.h"

namespace zel {
namespace {

using charset::Step;
using charset::WideCodec;

// A charset of the backend toward CP932.
class BackendToCp932 final : public Step {
 public:
  explicit BackendToCp932(std::unique_ptr<WideCodec> codec) : codec_(std::move(codec)) {}
  std::size_t Convert(std::string_view piece, std::string& out, bool last) override {
    wide_.clear();
    codec_->Decode(piece, wide_, last);
    std::size_t replaced = 0;
    for (const char32_t c : wide_) replaced += charset::appendCp932(c, out);
    return replaced;
  }

 private:
  std::unique_ptr<WideCodec> codec_;
  std::u32string wide_;
};

// CP932 toward a charset of the backend.
class Cp932ToBackend final : public Step {
 public:
  explicit Cp932ToBackend(std::unique_ptr<WideCodec> codec) : codec_(std::move(codec)) {}
  std::size_t Convert(std::string_view piece, std::string& out, bool last) override {
    wide_.clear();
    reader_.Decode(piece, wide_, last);
    return codec_->Encode(wide_, out, last);
  }

 private:
  std::unique_ptr<WideCodec> codec_;
  charset::Cp932Reader reader_;
  std::u32string wide_;
};

std::unique_ptr<Step> openStep(std::string_view label, CharsetConverter::Direction direction) {
  const std::string_view canonical = CanonicalCharset(label);
  if (canonical.empty()) return nullptr;
  if (std::unique_ptr<Step> own = charset::openOwnStep(canonical, direction)) return own;
  const bool toCp932 = direction == CharsetConverter::Direction::kToCp932;
  std::unique_ptr<WideCodec> codec = charset::openWideCodec(canonical, toCp932);
  if (!codec) return nullptr;
  if (toCp932) return std::make_unique<BackendToCp932>(std::move(codec));
  return std::make_unique<Cp932ToBackend>(std::move(codec));
}

}  // namespace

struct CharsetConverter::State {
  std::unique_ptr<Step> step;
};

CharsetConverter::CharsetConverter() = default;
CharsetConverter::~CharsetConverter() = default;

bool IsKnownCharset(std::string_view label) {
  return openStep(label, CharsetConverter::Direction::kToCp932) != nullptr;
}

bool CharsetConverter::Open(std::string_view label, Direction direction) {
  state_.reset();
  std::unique_ptr<Step> step = openStep(label, direction);
  if (!step) return false;
  state_ = std::make_unique<State>();
  state_->step = std::move(step);
  return true;
}

std::size_t AppendCodePointAsCp932(char32_t c, std::string& out) { return charset::appendCp932(c, out); }

std::size_t CharsetConverter::Convert(std::string_view piece, std::string& out, bool last) {
  return state_ ? state_->step->Convert(piece, out, last) : 0;
}

}  // namespace zel
