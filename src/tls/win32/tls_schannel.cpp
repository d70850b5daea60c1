// SChannel backend of tls/tls.h.
//
// SChannel runs the handshake and the record layer over buffers; this file
// moves the bytes with the socket functions of platform/socket.h, so every
// wait is SocketWait's. The certificate is checked here, not by SChannel
// (SCH_CRED_MANUAL_CRED_VALIDATION): the chain is built with the system's
// stores plus the CA file's certificates, a chain ending in one of those is
// trusted, the SSL policy checks the rest, and the server name is matched
// against the certificate's DNS names and IP addresses as the OpenSSL
// backend does.
#define SECURITY_WIN32
#include <winsock2.h>
#include <windows.h>
#include <wincrypt.h>
#include <schannel.h>
#include <security.h>
#include <sspi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/socket_backend.h"
#include "tls/tls.h"
#include "tls/tls_backend.h"

namespace zel {

namespace {
// Ciphertext held at most while a record is incomplete: one TLS record
// (16 KB of data plus its overhead) and a little more.
constexpr std::size_t kMaxIncoming = 64 * 1024;
// Bytes asked for per receive of ciphertext.
constexpr std::size_t kRecvChunk = 16 * 1024 + 512;
// Checks the SSL chain policy may skip (SECURITY_FLAG_IGNORE_UNKNOWN_CA and
// SECURITY_FLAG_IGNORE_CERT_CN_INVALID of wininet.h, which is not needed
// otherwise).
constexpr DWORD kIgnoreUnknownCa = 0x00000100;
constexpr DWORD kIgnoreNameInvalid = 0x00001000;
constexpr DWORD kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                ISC_REQ_CONFIDENTIALITY | ISC_REQ_EXTENDED_ERROR |
                                ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;
}  // namespace

struct TlsSession {
  SocketHandle socket = kNoSocket;
  CredHandle credentials{};
  CtxtHandle context{};
  bool haveCredentials = false;
  bool haveContext = false;
  std::string targetName;           // host name for SNI; empty for an address
  SecPkgContext_StreamSizes sizes{};
  std::vector<char> incoming;       // ciphertext received, not yet decrypted
  std::size_t incomingUsed = 0;
  std::string plain;                // decrypted, not yet handed out
  std::size_t plainStart = 0;
  std::vector<char> outgoing;       // one encrypted record being built
  bool ended = false;               // the peer's close_notify came
};

namespace {

void SetStatusDetail(char* detail, const char* what, long status) {
  char text[kTlsDetailSize];
  std::snprintf(text, sizeof text, "%s 0x%08lX", what, static_cast<unsigned long>(status));
  SetTlsDetail(detail, text);
}

// Sends an output token of InitializeSecurityContext and frees it.
SocketStatus SendToken(TlsSession* session, SecBuffer& token, SocketDeadline deadline) {
  SocketStatus sent = SocketStatus::kOk;
  if (token.pvBuffer != nullptr) {
    if (token.cbBuffer > 0) sent = SocketSendAll(session->socket, token.pvBuffer, token.cbBuffer, deadline);
    FreeContextBuffer(token.pvBuffer);
    token.pvBuffer = nullptr;
  }
  return sent;
}

// Receives more ciphertext. Returns the count, 0 at the end, kSocketFailed
// (also when the buffer is full), kSocketTimedOut.
long ReceiveMore(TlsSession* session, SocketDeadline deadline) {
  if (session->incoming.size() - session->incomingUsed < kRecvChunk) {
    if (session->incoming.size() + kRecvChunk > kMaxIncoming) return kSocketFailed;
    session->incoming.resize(session->incoming.size() + kRecvChunk);
  }
  const long n = SocketRecv(session->socket, session->incoming.data() + session->incomingUsed,
                            session->incoming.size() - session->incomingUsed, deadline);
  if (n > 0) session->incomingUsed += static_cast<std::size_t>(n);
  return n;
}

// Keeps the unused tail (`extra` bytes at the end of the ciphertext) at the
// front of `incoming`.
void KeepExtra(TlsSession* session, const SecBuffer& extra) {
  if (extra.BufferType != SECBUFFER_EXTRA || extra.cbBuffer == 0) {
    session->incomingUsed = 0;
    return;
  }
  std::memmove(session->incoming.data(),
               session->incoming.data() + session->incomingUsed - extra.cbBuffer, extra.cbBuffer);
  session->incomingUsed = extra.cbBuffer;
}

// Runs InitializeSecurityContext until the handshake is complete, starting
// with the ciphertext already received. Returns kOk, kFailed, kTimedOut.
TlsStatus Handshake(TlsSession* session, SocketDeadline deadline, char* detail) {
  bool needMore = session->incomingUsed == 0;
  for (;;) {
    if (needMore) {
      const long n = ReceiveMore(session, deadline);
      if (n == kSocketTimedOut) {
        SetTlsDetail(detail, "timed out");
        return TlsStatus::kTimedOut;
      }
      if (n <= 0) {
        SetTlsDetail(detail, "connection closed during the handshake");
        return TlsStatus::kFailed;
      }
    }
    SecBuffer in[2] = {{static_cast<unsigned long>(session->incomingUsed), SECBUFFER_TOKEN,
                        session->incoming.data()},
                       {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc inDesc = {SECBUFFER_VERSION, 2, in};
    SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
    SecBufferDesc outDesc = {SECBUFFER_VERSION, 1, out};
    unsigned long attributes = 0;
    const SECURITY_STATUS status = InitializeSecurityContextA(
        &session->credentials, &session->context,
        session->targetName.empty() ? nullptr : const_cast<char*>(session->targetName.c_str()),
        kContextFlags, 0, 0, &inDesc, 0, nullptr, &outDesc, &attributes, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE) {
      needMore = true;
      continue;
    }
    // A failure may come with an alert for the server: it goes out too.
    const SocketStatus sent = SendToken(session, out[0], deadline);
    if (FAILED(status)) {
      SetStatusDetail(detail, "handshake failed", status);
      return TlsStatus::kFailed;
    }
    if (sent != SocketStatus::kOk) {
      SetTlsDetail(detail, sent == SocketStatus::kTimedOut ? "timed out" : "send failed");
      return sent == SocketStatus::kTimedOut ? TlsStatus::kTimedOut : TlsStatus::kFailed;
    }
    KeepExtra(session, in[1]);
    if (status == SEC_E_OK) return TlsStatus::kOk;
    if (status != SEC_I_CONTINUE_NEEDED) {
      SetStatusDetail(detail, "handshake failed", status);
      return TlsStatus::kFailed;
    }
    needMore = session->incomingUsed == 0;
  }
}

// A memory store of the certificates of `pem`; nullptr when it holds none.
HCERTSTORE StoreOfPem(const std::string& pem) {
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  if (store == nullptr) return nullptr;
  int added = 0;
  for (const std::string_view block : PemCertificateBlocks(pem)) {
    DWORD size = 0;
    if (!CryptStringToBinaryA(block.data(), static_cast<DWORD>(block.size()),
                              CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
      continue;
    }
    std::vector<BYTE> der(size);
    if (CryptStringToBinaryA(block.data(), static_cast<DWORD>(block.size()),
                             CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr) &&
        CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                         CERT_STORE_ADD_ALWAYS, nullptr)) {
      ++added;
    }
  }
  if (added == 0) {
    CertCloseStore(store, 0);
    return nullptr;
  }
  return store;
}

// True when `store` holds a certificate equal to `certificate`.
bool StoreHolds(HCERTSTORE store, PCCERT_CONTEXT certificate) {
  PCCERT_CONTEXT found = CertFindCertificateInStore(
      store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, certificate, nullptr);
  if (found == nullptr) return false;
  CertFreeCertificateContext(found);
  return true;
}

// True when the certificate names `serverName`: its IP addresses for an
// address literal (IPv4 or IPv6), else its DNS names, or its common name
// when it has none.
bool NamesServer(PCCERT_CONTEXT certificate, const char* serverName) {
  IpAddress address;
  const bool literal = ParseIpAddress(serverName, &address);
  const DWORD addressSize = address.family == 6 ? 16 : 4;
  bool matched = false;
  bool hasDnsName = false;
  const CERT_INFO* info = certificate->pCertInfo;
  const PCERT_EXTENSION extension =
      CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
  CERT_ALT_NAME_INFO* names = nullptr;
  DWORD size = 0;
  if (extension != nullptr &&
      CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                          extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names,
                          &size)) {
    for (DWORD i = 0; i < names->cAltEntry && !matched; ++i) {
      const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
      if (entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS) {
        matched = literal && entry.IPAddress.cbData == addressSize &&
                  std::memcmp(entry.IPAddress.pbData, address.bytes, addressSize) == 0;
      } else if (entry.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME) {
        hasDnsName = true;
        std::string name;  // DNS names are ASCII
        for (const wchar_t* p = entry.pwszDNSName; *p != L'\0'; ++p) {
          name += *p < 0x80 ? static_cast<char>(*p) : '?';
        }
        matched = !literal && TlsNameMatches(name, serverName);
      }
    }
    LocalFree(names);
  }
  if (!matched && !literal && !hasDnsName) {
    char common[256];
    if (CertGetNameStringA(certificate, CERT_NAME_ATTR_TYPE, 0,
                           const_cast<char*>(szOID_COMMON_NAME), common, sizeof common) > 1) {
      matched = TlsNameMatches(common, serverName);
    }
  }
  return matched;
}

// A certificate name ("CN=..., O=...") as the untrusted detail shows it.
std::string NameText(const CERT_NAME_BLOB* name) {
  char text[256];
  if (CertNameToStrA(X509_ASN_ENCODING, const_cast<CERT_NAME_BLOB*>(name), CERT_X500_NAME_STR, text,
                     sizeof text) <= 1) {
    return "?";
  }
  return text;
}

// Checks the server's certificate. Returns kOk, kUntrusted, kNameMismatch.
// A pinned fingerprint decides alone: that certificate is taken, any
// other refused.
TlsStatus VerifyServer(TlsSession* session, HCERTSTORE extra, const char* serverName, const char* pinned,
                       char* detail) {
  PCCERT_CONTEXT server = nullptr;
  if (QueryContextAttributesA(&session->context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &server) !=
          SEC_E_OK ||
      server == nullptr) {
    SetTlsDetail(detail, "no server certificate");
    return TlsStatus::kUntrusted;
  }
  unsigned char digest[32];
  DWORD digestSize = sizeof digest;
  const bool digested = CryptHashCertificate(0, CALG_SHA_256, 0, server->pbCertEncoded, server->cbCertEncoded,
                                             digest, &digestSize) &&
                        digestSize == sizeof digest;
  // Tells of an untrusted certificate: its names and fingerprint.
  const auto untrusted = [&](const char* reason) {
    SetUntrustedDetail(detail, reason, NameText(&server->pCertInfo->Subject),
                       NameText(&server->pCertInfo->Issuer),
                       digested ? FingerprintText(digest, digestSize) : std::string("?"));
  };
  if (pinned != nullptr && pinned[0] != '\0') {
    const bool same = digested && FingerprintMatches(pinned, digest, digestSize);
    if (!same) untrusted("not the pinned certificate");
    CertFreeCertificateContext(server);
    return same ? TlsStatus::kOk : TlsStatus::kUntrusted;
  }
  // The server's own intermediate certificates and the CA file's.
  HCERTSTORE collection = CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
  if (collection != nullptr) {
    CertAddStoreToCollection(collection, server->hCertStore, 0, 0);
    if (extra != nullptr) CertAddStoreToCollection(collection, extra, 0, 0);
  }
  CERT_CHAIN_PARA chainPara{};
  chainPara.cbSize = sizeof chainPara;
  char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
  LPSTR usages[] = {serverAuth};
  chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
  chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  TlsStatus result = TlsStatus::kUntrusted;
  if (!CertGetCertificateChain(nullptr, server, nullptr, collection, &chainPara, 0, nullptr,
                               &chain) ||
      chain == nullptr || chain->cChain == 0 || chain->rgpChain[0]->cElement == 0) {
    SetTlsDetail(detail, "no certificate chain");
  } else {
    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
    const bool fileRoot =
        extra != nullptr && StoreHolds(extra, simple->rgpElement[simple->cElement - 1]->pCertContext);
    // The chain's own verdict first: Wine's SSL policy lets a chain pass
    // that ends nowhere (CERT_TRUST_IS_PARTIAL_CHAIN). A root from the CA
    // file is the one untrusted root allowed.
    DWORD chainErrors = chain->TrustStatus.dwErrorStatus;
    if (fileRoot) chainErrors &= ~static_cast<DWORD>(CERT_TRUST_IS_UNTRUSTED_ROOT);
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    // The name is matched below, the same way on every backend.
    ssl.fdwChecks = kIgnoreNameInvalid | (fileRoot ? kIgnoreUnknownCa : 0);
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    char reason[64];
    if (chainErrors != 0) {
      std::snprintf(reason, sizeof reason, "certificate chain not trusted 0x%08lX",
                    static_cast<unsigned long>(chainErrors));
      untrusted(reason);
    } else if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status)) {
      SetTlsDetail(detail, "certificate policy not checked");
    } else if (status.dwError != 0) {
      std::snprintf(reason, sizeof reason, "certificate not trusted 0x%08lX",
                    static_cast<unsigned long>(status.dwError));
      untrusted(reason);
    } else if (!NamesServer(server, serverName)) {
      SetTlsDetail(detail, "certificate does not name the server");
      result = TlsStatus::kNameMismatch;
    } else {
      result = TlsStatus::kOk;
    }
  }
  if (chain != nullptr) CertFreeCertificateChain(chain);
  if (collection != nullptr) CertCloseStore(collection, 0);
  CertFreeCertificateContext(server);
  return result;
}

}  // namespace

TlsStatus TlsConnect(SocketHandle s, const char* serverName, const TlsPolicy& policy,
                     SocketDeadline deadline, TlsSession** out, char* detail) {
  const char* caFile = policy.caFile;
  *out = nullptr;
  SetTlsDetail(detail, "");
  HCERTSTORE extra = nullptr;
  if (UsesCaFile(caFile)) {
    std::string pem;
    if (!ReadCaFile(caFile, pem)) {
      SetTlsDetail(detail, "CA file cannot be read");
      return TlsStatus::kUntrusted;
    }
    extra = StoreOfPem(pem);
    if (extra == nullptr) {
      SetTlsDetail(detail, "CA file holds no certificate");
      return TlsStatus::kUntrusted;
    }
  }
  auto* session = new TlsSession;
  session->socket = s;
  IpAddress address;
  if (!ParseIpAddress(serverName, &address)) session->targetName = serverName;

  SCHANNEL_CRED credentials{};
  credentials.dwVersion = SCHANNEL_CRED_VERSION;
  credentials.grbitEnabledProtocols =
      policy.minVersion >= 13 ? SP_PROT_TLS1_3_CLIENT : SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;
  credentials.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
  SECURITY_STATUS status = AcquireCredentialsHandleA(
      nullptr, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND, nullptr, &credentials,
      nullptr, nullptr, &session->credentials, nullptr);
  TlsStatus result = TlsStatus::kFailed;
  if (status != SEC_E_OK) {
    SetStatusDetail(detail, "no credentials", status);
  } else {
    session->haveCredentials = true;
    // The first call makes the ClientHello; there is no context yet.
    SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
    SecBufferDesc outDesc = {SECBUFFER_VERSION, 1, out};
    unsigned long attributes = 0;
    status = InitializeSecurityContextA(
        &session->credentials, nullptr,
        session->targetName.empty() ? nullptr : const_cast<char*>(session->targetName.c_str()),
        kContextFlags, 0, 0, nullptr, 0, &session->context, &outDesc, &attributes, nullptr);
    if (status != SEC_I_CONTINUE_NEEDED) {
      if (out[0].pvBuffer != nullptr) FreeContextBuffer(out[0].pvBuffer);
      SetStatusDetail(detail, "handshake failed", status);
    } else {
      session->haveContext = true;
      const SocketStatus sent = SendToken(session, out[0], deadline);
      if (sent == SocketStatus::kOk) {
        result = Handshake(session, deadline, detail);
      } else {
        SetTlsDetail(detail, sent == SocketStatus::kTimedOut ? "timed out" : "send failed");
        if (sent == SocketStatus::kTimedOut) result = TlsStatus::kTimedOut;
      }
    }
  }
  if (result == TlsStatus::kOk) result = VerifyServer(session, extra, serverName, policy.fingerprint, detail);
  if (result == TlsStatus::kOk &&
      QueryContextAttributesA(&session->context, SECPKG_ATTR_STREAM_SIZES, &session->sizes) !=
          SEC_E_OK) {
    SetTlsDetail(detail, "no stream sizes");
    result = TlsStatus::kFailed;
  }
  if (extra != nullptr) CertCloseStore(extra, 0);
  if (result != TlsStatus::kOk) {
    TlsFree(session);
    return result;
  }
  session->outgoing.resize(session->sizes.cbHeader + session->sizes.cbMaximumMessage +
                           session->sizes.cbTrailer);
  *out = session;
  return TlsStatus::kOk;
}

long TlsRecv(TlsSession* session, void* buffer, std::size_t size, SocketDeadline deadline) {
  for (;;) {
    if (session->plainStart < session->plain.size()) {
      const std::size_t n = std::min(size, session->plain.size() - session->plainStart);
      std::memcpy(buffer, session->plain.data() + session->plainStart, n);
      session->plainStart += n;
      return static_cast<long>(n);
    }
    if (session->ended) return 0;
    if (session->incomingUsed > 0) {
      SecBuffer parts[4] = {{static_cast<unsigned long>(session->incomingUsed), SECBUFFER_DATA,
                             session->incoming.data()},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc desc = {SECBUFFER_VERSION, 4, parts};
      const SECURITY_STATUS status = DecryptMessage(&session->context, &desc, 0, nullptr);
      if (status == SEC_E_OK || status == SEC_I_RENEGOTIATE) {
        session->plain.clear();
        session->plainStart = 0;
        const SecBuffer* extra = nullptr;
        for (const SecBuffer& part : parts) {
          if (part.BufferType == SECBUFFER_DATA && part.cbBuffer > 0) {
            session->plain.assign(static_cast<const char*>(part.pvBuffer), part.cbBuffer);
          }
          if (part.BufferType == SECBUFFER_EXTRA) extra = &part;
        }
        if (extra != nullptr) {
          KeepExtra(session, *extra);
        } else {
          session->incomingUsed = 0;
        }
        // TLS 1.3 messages after the handshake (session tickets, key
        // updates) go back through the handshake function.
        if (status == SEC_I_RENEGOTIATE &&
            Handshake(session, deadline, nullptr) != TlsStatus::kOk) {
          return kSocketFailed;
        }
        continue;
      }
      if (status == SEC_I_CONTEXT_EXPIRED) {
        session->ended = true;
        return 0;
      }
      if (status != SEC_E_INCOMPLETE_MESSAGE) return kSocketFailed;
    }
    const long n = ReceiveMore(session, deadline);
    if (n <= 0) return n;
  }
}

SocketStatus TlsSendAll(TlsSession* session, const void* data, std::size_t size,
                        SocketDeadline deadline) {
  const char* p = static_cast<const char*>(data);
  const SecPkgContext_StreamSizes& sizes = session->sizes;
  while (size > 0) {
    const std::size_t chunk = std::min<std::size_t>(size, sizes.cbMaximumMessage);
    char* record = session->outgoing.data();
    std::memcpy(record + sizes.cbHeader, p, chunk);
    SecBuffer parts[4] = {
        {sizes.cbHeader, SECBUFFER_STREAM_HEADER, record},
        {static_cast<unsigned long>(chunk), SECBUFFER_DATA, record + sizes.cbHeader},
        {sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, record + sizes.cbHeader + chunk},
        {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc = {SECBUFFER_VERSION, 4, parts};
    if (EncryptMessage(&session->context, 0, &desc, 0) != SEC_E_OK) return SocketStatus::kFailed;
    const std::size_t length = parts[0].cbBuffer + parts[1].cbBuffer + parts[2].cbBuffer;
    const SocketStatus sent = SocketSendAll(session->socket, record, length, deadline);
    if (sent != SocketStatus::kOk) return sent;
    p += chunk;
    size -= chunk;
  }
  return SocketStatus::kOk;
}

void TlsNotifyClose(TlsSession* session) {
  if (session == nullptr) return;
  DWORD type = SCHANNEL_SHUTDOWN;
  SecBuffer control[1] = {{sizeof type, SECBUFFER_TOKEN, &type}};
  SecBufferDesc controlDesc = {SECBUFFER_VERSION, 1, control};
  if (ApplyControlToken(&session->context, &controlDesc) != SEC_E_OK) return;
  SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
  SecBufferDesc outDesc = {SECBUFFER_VERSION, 1, out};
  unsigned long attributes = 0;
  InitializeSecurityContextA(&session->credentials, &session->context, nullptr, kContextFlags, 0,
                             0, nullptr, 0, nullptr, &outDesc, &attributes, nullptr);
  // A deadline that has passed already: the alert goes out only if the
  // socket takes it at once.
  SendToken(session, out[0], static_cast<SocketDeadline>(TickCount64()));
}

void TlsFree(TlsSession* session) {
  if (session == nullptr) return;
  if (session->haveContext) DeleteSecurityContext(&session->context);
  if (session->haveCredentials) FreeCredentialsHandle(&session->credentials);
  delete session;
}

}  // namespace zel
