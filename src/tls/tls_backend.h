// What the TLS backends share (tls/tls.h): reading the extra CA file,
// and the pieces the SChannel backend does itself (OpenSSL has its own).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "tls/tls.h"

namespace zel {

// Largest CA file read: far above any trust store (Debian's whole bundle is
// about 220 KB), and no host-named file makes the library read without end.
inline constexpr std::size_t kMaxCaFileSize = 4 * 1024 * 1024;

// True when `caFile` names a file (not nullptr, not empty).
bool UsesCaFile(const char* caFile);

// Reads the PEM file `caFile` (Shift-JIS host path, a regular file of at most
// kMaxCaFileSize bytes) into `pem`. Returns false, with `pem` empty, when it
// cannot be read.
bool ReadCaFile(const char* caFile, std::string& pem);

// The certificates of a PEM text: each "-----BEGIN CERTIFICATE-----" block
// up to and with its end line, in order; other blocks (keys) are skipped.
std::vector<std::string_view> PemCertificateBlocks(std::string_view pem);

// True when the certificate name `pattern` (a DNS name of the certificate,
// or its common name) names the host `host`: equal without regard to ASCII
// case, or a wildcard "*." standing for exactly one whole leftmost label of
// a name with at least three labels ("*.example.jp" names "mail.example.jp",
// neither "example.jp" nor "a.b.example.jp"). One trailing dot of either is
// ignored. Partial wildcards ("m*.example.jp") name nothing.
bool TlsNameMatches(std::string_view pattern, std::string_view host);

// "AB:CD:..." of a certificate's digest, as the untrusted detail shows it.
std::string FingerprintText(const unsigned char* digest, std::size_t size);

// True when the pinned fingerprint (TlsPolicy, lower-case hex) is `digest`.
bool FingerprintMatches(const char* pinned, const unsigned char* digest, std::size_t size);

// The detail of an untrusted certificate: the reason, its subject, its
// issuer and its SHA-256 fingerprint (cut to fit).
void SetUntrustedDetail(char* detail, const char* reason, const std::string& subject, const std::string& issuer,
                        const std::string& fingerprint);

// Writes `text` into `detail` (capacity kTlsDetailSize, cut to fit); nothing
// when `detail` is nullptr.
void SetTlsDetail(char* detail, const char* text);

}  // namespace zel
