// Modified UTF-7 mailbox names.
#include "codec/imap_folder_name.h"

#include <cstdint>
#include <vector>

#include "charset/charset_convert.h"
#include "charset/utf8_text.h"
#include "codec/base64.h"

namespace zel {

namespace {

bool IsDirect(unsigned char c) { return c >= 0x20 && c <= 0x7E; }

// The code points of well-formed UTF-8 `text`.
std::vector<char32_t> CodePoints(std::string_view text) {
  std::vector<char32_t> points;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
    char32_t point = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) point = point << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    points.push_back(point);
    i += static_cast<std::size_t>(extra) + 1;
  }
  return points;
}

void AppendUtf8(char32_t point, std::string& out) {
  if (point < 0x80) {
    out.push_back(static_cast<char>(point));
  } else if (point < 0x800) {
    out.push_back(static_cast<char>(0xC0 | point >> 6));
    out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
  } else if (point < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | point >> 12));
    out.push_back(static_cast<char>(0x80 | (point >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | point >> 18));
    out.push_back(static_cast<char>(0x80 | (point >> 12 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (point >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
  }
}

// Writes "&", the modified base64 of the UTF-16BE `units`, "-".
void AppendShifted(const std::string& units, std::string& out) {
  std::string text(base64EncodedSize(units.size()) + 1, '\0');
  text.resize(base64Encode(units.data(), units.size(), text.data()));
  while (!text.empty() && text.back() == '=') text.pop_back();
  for (char& c : text) {
    if (c == '/') c = ',';
  }
  out += '&';
  out += text;
  out += '-';
}

bool IsModifiedBase64(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == ',';
}

}  // namespace

bool ImapUtf7FromUtf8(std::string_view text, std::string& out) {
  out.clear();
  if (utf8InvalidAt(text) != std::string_view::npos) return false;
  std::string units;  // UTF-16BE of the run being shifted
  for (char32_t point : CodePoints(text)) {
    if (point < 0x80 && IsDirect(static_cast<unsigned char>(point))) {
      if (!units.empty()) {
        AppendShifted(units, out);
        units.clear();
      }
      out += static_cast<char>(point);
      if (point == '&') out += '-';
      continue;
    }
    auto unit = [&](char32_t u) {
      units.push_back(static_cast<char>(u >> 8));
      units.push_back(static_cast<char>(u & 0xFF));
    };
    if (point >= 0x10000) {
      unit(0xD800 + ((point - 0x10000) >> 10));
      unit(0xDC00 + ((point - 0x10000) & 0x3FF));
    } else {
      unit(point);
    }
  }
  if (!units.empty()) AppendShifted(units, out);
  return true;
}

bool ImapUtf7ToUtf8(std::string_view name, std::string& out) {
  out.clear();
  auto fail = [&out] {
    out.clear();
    return false;
  };
  for (std::size_t i = 0; i < name.size();) {
    const char c = name[i];
    if (!IsDirect(static_cast<unsigned char>(c))) return fail();
    if (c != '&') {
      out += c;
      ++i;
      continue;
    }
    const std::size_t close = name.find('-', i + 1);
    if (close == std::string_view::npos) return fail();
    const std::string_view run = name.substr(i + 1, close - i - 1);
    i = close + 1;
    if (run.empty()) {
      out += '&';
      continue;
    }
    std::string text(run);
    for (char& b : text) {
      if (!IsModifiedBase64(b)) return fail();
      if (b == ',') b = '/';
    }
    // Whole UTF-16 units only: the bits of a last group beyond them are 0.
    const std::size_t bytes = run.size() * 6 / 8;
    if (bytes == 0 || bytes % 2 != 0) return fail();
    std::string units(base64DecodedBound(text.size()), '\0');
    base64DecodeLine(text.data(), text.size(), units.data());
    units.resize(bytes);
    for (std::size_t k = 0; k < bytes; k += 2) {
      char32_t u = static_cast<char32_t>(static_cast<unsigned char>(units[k]) << 8 |
                                         static_cast<unsigned char>(units[k + 1]));
      if (u >= 0xDC00 && u <= 0xDFFF) return fail();
      if (u >= 0xD800 && u <= 0xDBFF) {
        if (k + 3 >= bytes) return fail();
        const char32_t low = static_cast<char32_t>(static_cast<unsigned char>(units[k + 2]) << 8 |
                                                   static_cast<unsigned char>(units[k + 3]));
        if (low < 0xDC00 || low > 0xDFFF) return fail();
        u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
        k += 2;
      }
      AppendUtf8(u, out);
    }
  }
  return true;
}

bool ImapFolderFromHost(std::string_view host, std::string& out) {
  std::string utf8;
  std::size_t replaced = 0;
  if (!ConvertFromCp932("UTF-8", host, utf8, &replaced) || replaced != 0) return false;
  return ImapUtf7FromUtf8(utf8, out);
}

bool ImapFolderToHost(std::string_view name, std::string& out) {
  out.clear();
  std::string utf8;
  std::size_t replaced = 0;
  if (!ImapUtf7ToUtf8(name, utf8)) return false;
  if (!ConvertToCp932("UTF-8", utf8, out, &replaced) || replaced != 0) {
    out.clear();
    return false;
  }
  return true;
}

}  // namespace zel
