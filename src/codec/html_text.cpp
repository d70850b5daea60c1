#include "codec/html_text.h"

#include <algorithm>
#include <array>

#include "charset/charset_convert.h"
#include "platform/ascii_case.h"

namespace zel {

namespace {

// Longest tag or reference kept: attributes beyond it are no text anyway.
constexpr std::size_t kTagMax = 4096;
constexpr std::size_t kReferenceMax = 32;
// The link text compared with its address.
constexpr std::size_t kLinkTextMax = 2048;

struct Entity {
  std::string_view name;
  char32_t code;
};

// The named references mail uses; the blanks among them are plain blanks.
constexpr std::array kEntities = {
    Entity{"amp", '&'},       Entity{"lt", '<'},         Entity{"gt", '>'},       Entity{"quot", '"'},
    Entity{"apos", '\''},     Entity{"nbsp", ' '},       Entity{"ensp", ' '},     Entity{"emsp", ' '},
    Entity{"thinsp", ' '},    Entity{"copy", 0xA9},      Entity{"reg", 0xAE},     Entity{"trade", 0x2122},
    Entity{"hellip", 0x2026}, Entity{"mdash", 0x2014},   Entity{"ndash", 0x2013}, Entity{"lsquo", 0x2018},
    Entity{"rsquo", 0x2019},  Entity{"ldquo", 0x201C},   Entity{"rdquo", 0x201D}, Entity{"laquo", 0xAB},
    Entity{"raquo", 0xBB},    Entity{"yen", 0xA5},       Entity{"middot", 0xB7},  Entity{"bull", 0x2022},
    Entity{"times", 0xD7},    Entity{"divide", 0xF7},    Entity{"deg", 0xB0},     Entity{"plusmn", 0xB1},
    Entity{"para", 0xB6},     Entity{"sect", 0xA7},      Entity{"euro", 0x20AC},  Entity{"cent", 0xA2},
    Entity{"pound", 0xA3},    Entity{"larr", 0x2190},    Entity{"uarr", 0x2191},  Entity{"rarr", 0x2192},
    Entity{"darr", 0x2193},
};

// References HTML also reads without their ";".
constexpr std::array<std::string_view, 7> kBareEntities = {"amp", "lt", "gt", "quot", "nbsp", "copy", "reg"};

constexpr std::array<std::string_view, 24> kBlockTags = {
    "p",  "div", "li", "tr", "h1", "h2", "h3", "h4", "h5", "h6", "table", "ul",
    "ol", "blockquote", "hr", "dt", "dd", "pre", "address", "section", "article", "header", "footer", "dl",
};

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

// The value of attribute `name` in the text of a tag, or "".
std::string attribute(std::string_view tag, std::string_view name) {
  for (std::size_t at = 0;;) {
    const std::size_t found = findNoCase(tag.substr(at), name);
    if (found == std::string_view::npos) return {};
    const std::size_t start = at + found;
    at = start + name.size();
    if (start == 0 || !isBlank(tag[start - 1])) continue;
    std::size_t k = at;
    while (k < tag.size() && isBlank(tag[k])) ++k;
    if (k >= tag.size() || tag[k] != '=') continue;
    ++k;
    while (k < tag.size() && isBlank(tag[k])) ++k;
    if (k < tag.size() && (tag[k] == '"' || tag[k] == '\'')) {
      const std::size_t close = tag.find(tag[k], k + 1);
      return std::string(tag.substr(k + 1, close == std::string_view::npos ? std::string_view::npos : close - k - 1));
    }
    std::size_t end = k;
    while (end < tag.size() && !isBlank(tag[end])) ++end;
    return std::string(tag.substr(k, end - k));
  }
}

// `text` with "&amp;" read as "&" (addresses in attributes).
std::string unescapeAmpersands(std::string text) {
  for (std::size_t at = 0; (at = text.find("&amp;", at)) != std::string::npos; ++at) text.erase(at + 1, 4);
  return text;
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

}  // namespace

void HtmlTextRenderer::add(std::string_view piece, std::string& out) {
  for (std::size_t i = 0; i < piece.size(); ++i) {
    const char c = piece[i];
    switch (state_) {
      case State::kText:
        if (c == '<') {
          state_ = State::kTag;
          held_.clear();
          quote_ = 0;
        } else if (c == '&') {
          state_ = State::kReference;
          held_.clear();
        } else {
          text(c, out);
        }
        break;
      case State::kTag:
        if (quote_ != 0) {
          if (c == quote_) quote_ = 0;
          if (held_.size() < kTagMax) held_ += c;
          break;
        }
        if (held_.empty() && !isLetter(c) && c != '/' && c != '!' && c != '?') {
          // "a < b": no tag.
          state_ = State::kText;
          emit("<", out);
          --i;
          break;
        }
        if (c == '>') {
          state_ = State::kText;
          endTag(out);
          break;
        }
        if ((c == '"' || c == '\'') && held_.find('=') != std::string::npos) quote_ = c;
        if (held_.size() < kTagMax) held_ += c;
        if (held_ == "!--") {
          state_ = State::kComment;
          held_.clear();
        }
        break;
      case State::kComment:
        if (c == '>' && held_ == "--") {
          state_ = State::kText;
          break;
        }
        held_ += c;
        if (held_.size() > 2) held_.erase(0, held_.size() - 2);
        break;
      case State::kReference:
        if (c == ';') {
          state_ = State::kText;
          endReference(true, out);
        } else if ((isLetter(c) || (c >= '0' && c <= '9') || c == '#') && held_.size() < kReferenceMax) {
          held_ += c;
        } else {
          state_ = State::kText;
          endReference(false, out);
          --i;
        }
        break;
      case State::kRawText:
        if (c == '<') {
          held_.assign(1, '<');
        } else if (!held_.empty()) {
          held_ += lowerAscii(c);
          if (held_ == rawEnd_) {
            state_ = State::kTag;  // the closing tag is read as a tag
            held_.erase(0, 1);
            quote_ = 0;
          } else if (!rawEnd_.starts_with(held_)) {
            held_.clear();
          }
        }
        break;
    }
  }
}

void HtmlTextRenderer::finish(std::string& out) {
  if (state_ == State::kReference) endReference(false, out);
  state_ = State::kText;
  held_.clear();
  if (lineHasText_) out += '\n';
  lineHasText_ = false;
  blankPending_ = false;
}

void HtmlTextRenderer::text(char c, std::string& out) {
  if (preDepth_ == 0 && isBlank(c)) {
    if (lineHasText_ && skipDepth_ == 0) blankPending_ = true;
    return;
  }
  if (preDepth_ > 0 && (c == '\n' || c == '\r')) {
    if (c == '\n') lineEnd(out, true);
    return;
  }
  emit(std::string_view(&c, 1), out);
}

void HtmlTextRenderer::emit(std::string_view s, std::string& out) {
  if (skipDepth_ > 0 || s.empty()) return;
  if (blankPending_) {
    out += ' ';
    if (inLink_ && linkText_.size() < kLinkTextMax) linkText_ += ' ';
    blankPending_ = false;
  }
  out += s;
  if (inLink_ && linkText_.size() < kLinkTextMax) linkText_ += s;
  lineHasText_ = true;
}

void HtmlTextRenderer::lineEnd(std::string& out, bool always) {
  if (skipDepth_ > 0) return;
  if (always || lineHasText_) out += '\n';
  lineHasText_ = false;
  blankPending_ = false;
}

void HtmlTextRenderer::endTag(std::string& out) {
  const std::string_view tag = held_;
  const bool closing = !tag.empty() && tag[0] == '/';
  std::size_t k = closing ? 1 : 0;
  std::string name;
  while (k < tag.size() && (isLetter(tag[k]) || (tag[k] >= '0' && tag[k] <= '9'))) name += lowerAscii(tag[k++]);
  if (name == "script" || name == "style") {
    if (!closing) {
      state_ = State::kRawText;
      rawEnd_ = "</" + name;
      held_.clear();
    }
    return;
  }
  if (name == "head" || name == "title") {
    skipDepth_ = closing ? std::max(0, skipDepth_ - 1) : skipDepth_ + 1;
    return;
  }
  if (name == "body") {
    skipDepth_ = 0;  // a head that was never closed
    return;
  }
  if (name == "br") {
    lineEnd(out, true);
    return;
  }
  if (name == "td" || name == "th") {
    if (closing && lineHasText_) blankPending_ = true;
    return;
  }
  if (name == "a") {
    if (!closing) {
      href_ = unescapeAmpersands(attribute(tag, "href"));
      linkText_.clear();
      inLink_ = true;
      return;
    }
    if (!inLink_) return;
    inLink_ = false;
    const std::string_view text = trimmed(linkText_);
    std::string_view address = href_;
    if (startsWithNoCase(address, "mailto:") && text == address.substr(7)) address = text;
    if (!address.empty() && address != text && address[0] != '#' && !startsWithNoCase(address, "javascript:")) {
      emit(" <", out);
      emit(address, out);
      emit(">", out);
    }
    return;
  }
  if (std::find(kBlockTags.begin(), kBlockTags.end(), name) != kBlockTags.end()) {
    if (name == "pre") preDepth_ = closing ? std::max(0, preDepth_ - 1) : preDepth_ + 1;
    lineEnd(out, false);
  }
}

void HtmlTextRenderer::endReference(bool terminated, std::string& out) {
  const std::string name = std::move(held_);
  held_.clear();
  std::string text;
  if (name.size() > 1 && name[0] == '#') {
    const bool hex = name[1] == 'x' || name[1] == 'X';
    char32_t code = 0;
    bool digits = name.size() > (hex ? 2u : 1u);
    for (std::size_t k = hex ? 2 : 1; k < name.size() && digits; ++k) {
      const char c = name[k];
      int v = -1;
      if (c >= '0' && c <= '9') v = c - '0';
      else if (hex && c >= 'a' && c <= 'f') v = c - 'a' + 10;
      else if (hex && c >= 'A' && c <= 'F') v = c - 'A' + 10;
      if (v < 0) digits = false;
      else code = std::min<char32_t>(code * (hex ? 16 : 10) + static_cast<char32_t>(v), 0x110000);
    }
    if (digits) {
      if (code == 0xA0) code = ' ';
      AppendCodePointAsCp932(code == 0 ? 0xFFFD : code, text);
      if (code == '\t' || code == '\n' || code == '\r' || code == ' ') {
        for (const char c : text) this->text(c, out);
        return;
      }
      emit(text, out);
      return;
    }
  } else {
    for (const Entity& entity : kEntities) {
      if (entity.name != name) continue;
      if (!terminated && std::find(kBareEntities.begin(), kBareEntities.end(), name) == kBareEntities.end()) break;
      if (entity.code == ' ') {
        this->text(' ', out);
        return;
      }
      AppendCodePointAsCp932(entity.code, text);
      emit(text, out);
      return;
    }
  }
  // Not a reference: the text as it stands.
  emit("&" + name + (terminated ? ";" : ""), out);
}

}  // namespace zel
