// The parts of tls/tls.h shared by both backends.
#include "tls/tls_backend.h"

#include <cstdio>

#include "platform/ascii_case.h"
#include "platform/text_file.h"

namespace {

std::string_view WithoutTrailingDot(std::string_view name) {
  return !name.empty() && name.back() == '.' ? name.substr(0, name.size() - 1) : name;
}

}  // namespace

namespace zel {

bool ReadCaFile(const char* caFile, std::string& pem) {
  pem.clear();
  std::FILE* file = OpenHostFile(caFile, "rb", false);
  if (file == nullptr) return false;
  char block[4096];
  bool ok = true;
  for (;;) {
    const std::size_t n = std::fread(block, 1, sizeof block, file);
    pem.append(block, n);
    if (pem.size() > kMaxCaFileSize) ok = false;
    if (n < sizeof block || !ok) break;
  }
  if (std::ferror(file)) ok = false;
  std::fclose(file);
  if (!ok) pem.clear();
  return ok;
}

bool UsesCaFile(const char* caFile) { return caFile != nullptr && *caFile != '\0'; }

std::vector<std::string_view> PemCertificateBlocks(std::string_view pem) {
  static constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
  static constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
  std::vector<std::string_view> blocks;
  std::size_t at = 0;
  for (;;) {
    const std::size_t begin = pem.find(kBegin, at);
    if (begin == std::string_view::npos) break;
    const std::size_t end = pem.find(kEnd, begin + kBegin.size());
    if (end == std::string_view::npos) break;
    blocks.push_back(pem.substr(begin, end + kEnd.size() - begin));
    at = end + kEnd.size();
  }
  return blocks;
}

bool TlsNameMatches(std::string_view pattern, std::string_view host) {
  pattern = WithoutTrailingDot(pattern);
  host = WithoutTrailingDot(host);
  if (pattern.empty() || host.empty()) return false;
  if (pattern.substr(0, 2) != "*.") {
    return pattern.find('*') == std::string_view::npos && zel::equalsNoCase(pattern, host);
  }
  const std::string_view suffix = pattern.substr(1);  // ".example.jp"
  if (suffix.find('*') != std::string_view::npos || suffix.find('.', 1) == std::string_view::npos) {
    return false;  // a second wildcard, or "*.jp": a whole top-level domain
  }
  const std::size_t firstDot = host.find('.');
  return firstDot != std::string_view::npos && firstDot > 0 &&
         zel::equalsNoCase(host.substr(firstDot), suffix);
}

void SetTlsDetail(char* detail, const char* text) {
  if (detail == nullptr) return;
  std::snprintf(detail, kTlsDetailSize, "%s", text);
}

}  // namespace zel
