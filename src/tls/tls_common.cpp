// The parts of tls/tls.h shared by both backends.
#include "tls/tls_backend.h"

#include <cstdio>
#include <cstring>

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

namespace zel {

bool NormaliseFingerprint(const char* text, char (&out)[kTlsFingerprintDigits + 1]) {
  std::size_t n = 0;
  for (const char* p = text != nullptr ? text : ""; *p != '\0'; ++p) {
    const char c = lowerAscii(*p);
    if (c == ':' || c == ' ') continue;
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
    if (!hex || n == kTlsFingerprintDigits) return false;
    out[n++] = c;
  }
  out[n] = '\0';
  return n == kTlsFingerprintDigits;
}

std::string FingerprintText(const unsigned char* digest, std::size_t size) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < size; ++i) {
    if (i > 0) text += ':';
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 15];
  }
  return text;
}

bool FingerprintMatches(const char* pinned, const unsigned char* digest, std::size_t size) {
  static const char kHex[] = "0123456789abcdef";
  if (pinned == nullptr || std::strlen(pinned) != 2 * size) return false;
  for (std::size_t i = 0; i < size; ++i) {
    if (pinned[2 * i] != kHex[digest[i] >> 4] || pinned[2 * i + 1] != kHex[digest[i] & 15]) return false;
  }
  return true;
}

void SetUntrustedDetail(char* detail, const char* reason, const std::string& subject, const std::string& issuer,
                        const std::string& fingerprint) {
  const std::string text = std::string(reason) + "; subject " + subject + "; issuer " + issuer +
                           "; SHA-256 " + fingerprint;
  SetTlsDetail(detail, text.c_str());
}

}  // namespace zel
