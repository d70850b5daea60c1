// OpenSSL backend of tls/tls.h.
//
// libssl (and libcrypto with it) is loaded when the first TLS session
// starts, not with the library: mapping and relocating them costs a
// one-shot sender about a millisecond, and most runs use no TLS. The
// functions below are called through pointers of the same names, filled
// from the loaded library (OpenSSL's macros expand to calls of them too).
// The SSL object talks to the socket through a BIO of our own that sends with
// MSG_NOSIGNAL (OpenSSL's socket BIO writes with write(), which raises
// SIGPIPE on a connection the peer has closed) and reports EAGAIN as a retry,
// so every wait goes through SocketWait. SSL_read is always tried before a
// wait: records OpenSSL has already decrypted are never left waiting for a
// poll that will not fire.
#include <cerrno>
#include <dlfcn.h>
#include <sys/socket.h>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <climits>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "platform/socket_backend.h"
#include "tls/tls.h"
#include "tls/tls_backend.h"

namespace zel {

struct TlsSession {
  SSL* ssl = nullptr;
  SocketHandle socket = kNoSocket;
};

namespace {

// --- Loading OpenSSL --------------------------------------------------------

// The library of OpenSSL 3's ABI (the version the build requires); it
// brings libcrypto with it.
constexpr const char* kLibSsl = "libssl.so.3";

// Every OpenSSL function this backend calls, directly or through a macro.
#define ZEL_OPENSSL_FUNCTIONS(X) \
  X(BIO_clear_flags) \
  X(BIO_free) \
  X(BIO_get_data) \
  X(BIO_get_new_index) \
  X(BIO_meth_free) \
  X(BIO_meth_new) \
  X(BIO_meth_set_create) \
  X(BIO_meth_set_ctrl) \
  X(BIO_meth_set_read) \
  X(BIO_meth_set_write) \
  X(BIO_new) \
  X(BIO_new_mem_buf) \
  X(BIO_set_data) \
  X(BIO_set_flags) \
  X(BIO_set_init) \
  X(ERR_clear_error) \
  X(ERR_error_string_n) \
  X(ERR_peek_last_error) \
  X(EVP_sha256) \
  X(OPENSSL_init_ssl) \
  X(PEM_read_bio_X509) \
  X(SSL_CTX_ctrl) \
  X(SSL_CTX_free) \
  X(SSL_CTX_get_cert_store) \
  X(SSL_CTX_new) \
  X(SSL_CTX_set_verify) \
  X(SSL_CTX_up_ref) \
  X(SSL_connect) \
  X(SSL_ctrl) \
  X(SSL_free) \
  X(SSL_get0_param) \
  X(SSL_get_error) \
  X(SSL_get_verify_result) \
  X(SSL_new) \
  X(SSL_read) \
  X(SSL_set_bio) \
  X(SSL_set_verify) \
  X(SSL_shutdown) \
  X(SSL_write) \
  X(TLS_client_method) \
  X(X509_CRL_free) \
  X(X509_LOOKUP_ctrl) \
  X(X509_LOOKUP_get_method_data) \
  X(X509_LOOKUP_get_store) \
  X(X509_LOOKUP_hash_dir) \
  X(X509_LOOKUP_meth_free) \
  X(X509_LOOKUP_meth_new) \
  X(X509_LOOKUP_meth_set_free) \
  X(X509_LOOKUP_meth_set_get_by_subject) \
  X(X509_LOOKUP_meth_set_new_item) \
  X(X509_LOOKUP_set_method_data) \
  X(X509_OBJECT_get0_X509) \
  X(X509_OBJECT_get0_X509_CRL) \
  X(X509_OBJECT_retrieve_by_subject) \
  X(X509_OBJECT_set1_X509) \
  X(X509_OBJECT_set1_X509_CRL) \
  X(X509_STORE_add_cert) \
  X(X509_STORE_add_lookup) \
  X(X509_STORE_get0_objects) \
  X(X509_STORE_lock) \
  X(X509_STORE_unlock) \
  X(X509_VERIFY_PARAM_set1_host) \
  X(X509_VERIFY_PARAM_set1_ip_asc) \
  X(X509_VERIFY_PARAM_set_hostflags) \
  X(X509_NAME_oneline) \
  X(X509_STORE_CTX_get0_cert) \
  X(X509_digest) \
  X(X509_free) \
  X(X509_get_issuer_name) \
  X(X509_get_subject_name) \
  X(X509_get_default_cert_file) \
  X(X509_get_default_cert_file_env) \
  X(X509_load_cert_crl_file) \
  X(X509_verify_cert_error_string)

// Pointers named as the functions: found by the calls in namespace zel
// before the global declarations (and, being no functions, without
// argument-dependent lookup of those).
#define ZEL_OPENSSL_POINTER(name) decltype(&::name) name = nullptr;
ZEL_OPENSSL_FUNCTIONS(ZEL_OPENSSL_POINTER)
#undef ZEL_OPENSSL_POINTER

// Loads libssl and fills the pointers, once per process; the library stays
// loaded. Returns false when it or one of its functions is missing (then
// no session can start).
bool LoadOpenSsl() {
  static bool loaded = false;
  static std::once_flag once;
  std::call_once(once, [] {
    void* library = ::dlopen(kLibSsl, RTLD_LAZY | RTLD_LOCAL);
    if (library == nullptr) return;
    bool found = true;
#define ZEL_OPENSSL_RESOLVE(name) \
    name = reinterpret_cast<decltype(name)>(::dlsym(library, #name)); \
    found = found && name != nullptr;
    ZEL_OPENSSL_FUNCTIONS(ZEL_OPENSSL_RESOLVE)
#undef ZEL_OPENSSL_RESOLVE
    loaded = found;
  });
  return loaded;
}

// --- The socket BIO ---------------------------------------------------------

int FdOf(BIO* bio) { return static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(bio))); }

int BioWrite(BIO* bio, const char* data, int size) {
  BIO_clear_retry_flags(bio);
  ssize_t n;
  do {
    n = send(FdOf(bio), data, static_cast<std::size_t>(size), MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) BIO_set_retry_write(bio);
  return n < 0 ? -1 : static_cast<int>(n);
}

int BioRead(BIO* bio, char* data, int size) {
  BIO_clear_retry_flags(bio);
  ssize_t n;
  do {
    n = recv(FdOf(bio), data, static_cast<std::size_t>(size), 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) BIO_set_retry_read(bio);
  return n < 0 ? -1 : static_cast<int>(n);
}

long BioCtrl(BIO*, int command, long, void*) {
  return command == BIO_CTRL_FLUSH ? 1 : 0;  // nothing is buffered here
}

int BioCreate(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

BIO_METHOD* MakeSocketBioMethod() {
  BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "zel socket");
  if (m != nullptr) {
    BIO_meth_set_write(m, BioWrite);
    BIO_meth_set_read(m, BioRead);
    BIO_meth_set_ctrl(m, BioCtrl);
    BIO_meth_set_create(m, BioCreate);
  }
  return m;
}

// --- The system's trust store ---------------------------------------------

// The system's bundle file of trusted certificates is read into a store
// only when an issuer is found nowhere else (the CA file's certificates,
// the system's hashed folder): reading it costs about 0.1 s, more than the
// whole handshake, and a server whose CA is in the CA file never needs it.
// The lookup's data is the once_flag of its store.
int NewBundleLookup(X509_LOOKUP* lookup) {
  return X509_LOOKUP_set_method_data(lookup, new std::once_flag);
}

void FreeBundleLookup(X509_LOOKUP* lookup) {
  delete static_cast<std::once_flag*>(X509_LOOKUP_get_method_data(lookup));
}

int BundleBySubject(X509_LOOKUP* lookup, X509_LOOKUP_TYPE type, const X509_NAME* name,
                    X509_OBJECT* ret) {
  std::call_once(*static_cast<std::once_flag*>(X509_LOOKUP_get_method_data(lookup)), [lookup] {
    // Where SSL_CTX_set_default_verify_paths would read it.
    const char* file = std::getenv(X509_get_default_cert_file_env());
    X509_load_cert_crl_file(lookup, file != nullptr ? file : X509_get_default_cert_file(),
                            X509_FILETYPE_PEM);  // a missing bundle trusts nothing
    ERR_clear_error();
  });
  // The object found is handed back without a reference of its own, as
  // OpenSSL's own lookups do: the caller takes one.
  X509_STORE* store = X509_LOOKUP_get_store(lookup);
  int found = 0;
  if (X509_STORE_lock(store) == 1) {
    X509_OBJECT* object =
        X509_OBJECT_retrieve_by_subject(X509_STORE_get0_objects(store), type, name);
    if (object != nullptr && type == X509_LU_X509) {
      X509* certificate = X509_OBJECT_get0_X509(object);
      found = X509_OBJECT_set1_X509(ret, certificate);
      if (found) X509_free(certificate);
    } else if (object != nullptr && type == X509_LU_CRL) {
      X509_CRL* list = X509_OBJECT_get0_X509_CRL(object);
      found = X509_OBJECT_set1_X509_CRL(ret, list);
      if (found) X509_CRL_free(list);
    }
    X509_STORE_unlock(store);
  }
  return found;
}

X509_LOOKUP_METHOD* MakeBundleLookupMethod() {
  X509_LOOKUP_METHOD* m = X509_LOOKUP_meth_new("zel system bundle");
  if (m != nullptr) {
    X509_LOOKUP_meth_set_new_item(m, NewBundleLookup);
    X509_LOOKUP_meth_set_free(m, FreeBundleLookup);
    X509_LOOKUP_meth_set_get_by_subject(m, BundleBySubject);
  }
  return m;
}

// Lets the context's store find the system's trusted certificates: the
// hashed folder (SSL_CERT_DIR or OpenSSL's default), read one certificate
// at a time, then the bundle file through `bundle`, read whole when first
// needed.
bool AddSystemStore(SSL_CTX* context, X509_LOOKUP_METHOD* bundle) {
  X509_STORE* store = SSL_CTX_get_cert_store(context);
  X509_LOOKUP* folder = X509_STORE_add_lookup(store, X509_LOOKUP_hash_dir());
  if (folder != nullptr) X509_LOOKUP_add_dir(folder, nullptr, X509_FILETYPE_DEFAULT);
  ERR_clear_error();  // no such folder: the bundle alone
  return bundle != nullptr && X509_STORE_add_lookup(store, bundle) != nullptr;
}

// --- Contexts ---------------------------------------------------------------

// What the sessions of the process share: the two methods above, and one
// context per distinct CA file content, made once (SSL_CTX is
// reference-counted and thread-safe once set up), so the trusted
// certificates are read once per process. All of it is freed when the
// library is unloaded.
class ContextCache {
 public:
  ContextCache()
      : socketBio_((OPENSSL_init_ssl(0, nullptr), MakeSocketBioMethod())),  // OpenSSL's
        bundle_(MakeBundleLookupMethod()) {}  // clean-up then runs after ours
  ~ContextCache() {
    for (Entry& e : entries_) SSL_CTX_free(e.context);  // their stores use bundle_
    X509_LOOKUP_meth_free(bundle_);
    BIO_meth_free(socketBio_);
  }

  const BIO_METHOD* SocketBio() const { return socketBio_; }

  // A new reference to the context trusting the system store and `pem`
  // ("" for none), or nullptr when it cannot be made. `*noCertificate` is
  // set when `pem` holds no certificate.
  SSL_CTX* Get(const std::string& pem, bool* noCertificate) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Entry& e : entries_) {
      if (e.pem == pem) {
        SSL_CTX_up_ref(e.context);
        return e.context;
      }
    }
    SSL_CTX* context = Make(pem, noCertificate);
    if (context == nullptr) return nullptr;
    if (entries_.size() == kMaxContexts) {
      SSL_CTX_free(entries_.front().context);
      entries_.erase(entries_.begin());
    }
    entries_.push_back({pem, context});
    SSL_CTX_up_ref(context);
    return context;
  }

 private:
  // Distinct CA files kept at once; a host uses one or two.
  static constexpr std::size_t kMaxContexts = 4;
  struct Entry {
    std::string pem;
    SSL_CTX* context;
  };

  SSL_CTX* Make(const std::string& pem, bool* noCertificate) {
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (context == nullptr) return nullptr;
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_mode(context, SSL_MODE_AUTO_RETRY);
    // Whole records with one receive where they have come: SSL_read is
    // always tried before a wait, so nothing read ahead is left waiting.
    SSL_CTX_set_read_ahead(context, 1);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    if (!AddSystemStore(context, bundle_)) {
      SSL_CTX_free(context);
      return nullptr;
    }
    if (!pem.empty() && AddCertificates(context, pem) == 0) {
      *noCertificate = true;
      SSL_CTX_free(context);
      return nullptr;
    }
    return context;
  }

  // Adds every certificate of `pem` to the context's store; returns how many.
  static int AddCertificates(SSL_CTX* context, const std::string& pem) {
    BIO* in = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    if (in == nullptr) return 0;
    X509_STORE* store = SSL_CTX_get_cert_store(context);
    int added = 0;
    while (X509* certificate = PEM_read_bio_X509(in, nullptr, nullptr, nullptr)) {
      if (X509_STORE_add_cert(store, certificate) == 1) ++added;
      X509_free(certificate);
    }
    BIO_free(in);
    ERR_clear_error();  // the end of the file reads as an error
    return added;
  }

  BIO_METHOD* const socketBio_;
  X509_LOOKUP_METHOD* const bundle_;
  std::mutex mutex_;
  std::vector<Entry> entries_;
};

ContextCache& Contexts() {
  static ContextCache cache;
  return cache;
}

// --- Helpers ----------------------------------------------------------------

// The reason of the last failure in OpenSSL's error queue, or `fallback`.
void SetErrorDetail(char* detail, const char* fallback) {
  const unsigned long error = ERR_peek_last_error();
  if (error == 0) {
    SetTlsDetail(detail, fallback);
  } else {
    char text[kTlsDetailSize];
    ERR_error_string_n(error, text, sizeof text);
    SetTlsDetail(detail, text);
  }
  ERR_clear_error();
}

// Waits for what `error` (from SSL_get_error) asks for. Returns kOk to try
// again; kFailed for any other error; kTimedOut.
SocketStatus WaitFor(TlsSession* session, int error, SocketDeadline deadline) {
  if (error == SSL_ERROR_WANT_READ) {
    return SocketWait(session->socket, SocketEvent::kReadable, deadline);
  }
  if (error == SSL_ERROR_WANT_WRITE) {
    return SocketWait(session->socket, SocketEvent::kWritable, deadline);
  }
  return SocketStatus::kFailed;
}

// What the verify callback of the handshake under way on this thread
// learns and decides (SSL_connect calls it on the calling thread).
struct VerifyState {
  const char* pinned = nullptr;  // TlsPolicy::fingerprint, or nullptr
  bool seen = false;             // the server certificate was looked at
  bool pinRefused = false;       // it is not the pinned one
  std::string subject, issuer, fingerprint;
};
thread_local VerifyState* verifying = nullptr;

// The verify callback: notes the server certificate; with a pinned
// fingerprint the pinned certificate is accepted as it is and any other
// refused, else OpenSSL's verdict stands.
int VerifyServer(int preverified, X509_STORE_CTX* context) {
  VerifyState* state = verifying;
  X509* leaf = X509_STORE_CTX_get0_cert(context);
  if (state == nullptr || leaf == nullptr) return preverified;
  unsigned char digest[32];
  unsigned int size = 0;
  const bool digested = X509_digest(leaf, EVP_sha256(), digest, &size) == 1 && size == sizeof digest;
  if (!state->seen) {
    state->seen = true;
    char name[256];
    state->subject = X509_NAME_oneline(X509_get_subject_name(leaf), name, sizeof name) ? name : "?";
    state->issuer = X509_NAME_oneline(X509_get_issuer_name(leaf), name, sizeof name) ? name : "?";
    state->fingerprint = digested ? FingerprintText(digest, size) : "?";
  }
  if (state->pinned == nullptr) return preverified;
  if (digested && FingerprintMatches(state->pinned, digest, size)) return 1;
  state->pinRefused = true;
  return 0;
}

}  // namespace

TlsStatus TlsConnect(SocketHandle s, const char* serverName, const TlsPolicy& policy,
                     SocketDeadline deadline, TlsSession** out, char* detail) {
  const char* caFile = policy.caFile;
  *out = nullptr;
  SetTlsDetail(detail, "");
  if (!LoadOpenSsl()) {
    SetTlsDetail(detail, "libssl.so.3 cannot be loaded");
    return TlsStatus::kFailed;
  }
  std::string pem;
  if (UsesCaFile(caFile) && !ReadCaFile(caFile, pem)) {
    SetTlsDetail(detail, "CA file cannot be read");
    return TlsStatus::kUntrusted;
  }
  bool noCertificate = false;
  SSL_CTX* context = Contexts().Get(pem, &noCertificate);
  if (context == nullptr) {
    if (noCertificate) {
      SetTlsDetail(detail, "CA file holds no certificate");
      return TlsStatus::kUntrusted;
    }
    SetErrorDetail(detail, "no TLS context");
    return TlsStatus::kFailed;
  }
  auto* session = new TlsSession;
  session->socket = s;
  session->ssl = SSL_new(context);
  SSL_CTX_free(context);  // the SSL object holds its own reference
  const BIO_METHOD* method = Contexts().SocketBio();
  BIO* bio = method != nullptr ? BIO_new(method) : nullptr;
  if (session->ssl == nullptr || bio == nullptr) {
    BIO_free(bio);
    TlsFree(session);
    SetErrorDetail(detail, "no TLS session");
    return TlsStatus::kFailed;
  }
  BIO_set_data(bio, reinterpret_cast<void*>(static_cast<std::intptr_t>(s)));
  SSL_set_bio(session->ssl, bio, bio);

  X509_VERIFY_PARAM* param = SSL_get0_param(session->ssl);
  X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  // An address literal (IPv4 or IPv6) is matched against the
  // certificate's IP addresses and sent as no server name indication.
  IpAddress address;
  const bool named = ParseIpAddress(serverName, &address)
                         ? X509_VERIFY_PARAM_set1_ip_asc(param, serverName) == 1
                         : X509_VERIFY_PARAM_set1_host(param, serverName, 0) == 1 &&
                               SSL_set_tlsext_host_name(session->ssl, serverName) == 1;
  if (!named) {
    TlsFree(session);
    SetErrorDetail(detail, "server name not usable");
    return TlsStatus::kFailed;
  }

  if (policy.minVersion >= 13) SSL_set_min_proto_version(session->ssl, TLS1_3_VERSION);
  VerifyState state;
  state.pinned = policy.fingerprint != nullptr && policy.fingerprint[0] != '\0' ? policy.fingerprint : nullptr;
  SSL_set_verify(session->ssl, SSL_VERIFY_PEER, VerifyServer);
  ERR_clear_error();
  for (;;) {
    verifying = &state;
    const int r = SSL_connect(session->ssl);
    verifying = nullptr;
    if (r == 1) break;
    const int error = SSL_get_error(session->ssl, r);
    const SocketStatus waited = WaitFor(session, error, deadline);
    if (waited == SocketStatus::kOk) continue;
    TlsStatus status = TlsStatus::kFailed;
    const long verified = SSL_get_verify_result(session->ssl);
    if (waited == SocketStatus::kTimedOut) {
      status = TlsStatus::kTimedOut;
      SetTlsDetail(detail, "timed out");
      ERR_clear_error();
    } else if (state.pinRefused) {
      status = TlsStatus::kUntrusted;
      SetUntrustedDetail(detail, "not the pinned certificate", state.subject, state.issuer, state.fingerprint);
      ERR_clear_error();
    } else if (verified != X509_V_OK) {
      status = verified == X509_V_ERR_HOSTNAME_MISMATCH || verified == X509_V_ERR_IP_ADDRESS_MISMATCH
                   ? TlsStatus::kNameMismatch
                   : TlsStatus::kUntrusted;
      if (status == TlsStatus::kUntrusted && state.seen) {
        SetUntrustedDetail(detail, X509_verify_cert_error_string(verified), state.subject, state.issuer,
                           state.fingerprint);
      } else {
        SetTlsDetail(detail, X509_verify_cert_error_string(verified));
      }
      ERR_clear_error();
    } else {
      SetErrorDetail(detail, error == SSL_ERROR_SYSCALL || error == SSL_ERROR_ZERO_RETURN
                                 ? "connection closed during the handshake"
                                 : "handshake failed");
    }
    TlsFree(session);
    return status;
  }
  *out = session;
  return TlsStatus::kOk;
}

long TlsRecv(TlsSession* session, void* buffer, std::size_t size, SocketDeadline deadline) {
  const int chunk = static_cast<int>(size < INT_MAX ? size : INT_MAX);
  ERR_clear_error();
  for (;;) {
    const int n = SSL_read(session->ssl, buffer, chunk);
    if (n > 0) return n;
    const int error = SSL_get_error(session->ssl, n);
    if (error == SSL_ERROR_ZERO_RETURN) return 0;  // close_notify
    switch (WaitFor(session, error, deadline)) {
      case SocketStatus::kOk:
        continue;
      case SocketStatus::kTimedOut:
        return kSocketTimedOut;
      case SocketStatus::kFailed:
        ERR_clear_error();
        return kSocketFailed;
    }
  }
}

SocketStatus TlsSendAll(TlsSession* session, const void* data, std::size_t size,
                        SocketDeadline deadline) {
  const char* p = static_cast<const char*>(data);
  ERR_clear_error();
  while (size > 0) {
    const int chunk = static_cast<int>(size < INT_MAX ? size : INT_MAX);
    const int n = SSL_write(session->ssl, p, chunk);
    if (n > 0) {
      p += n;
      size -= static_cast<std::size_t>(n);
      continue;
    }
    // A retried SSL_write takes the same bytes again, as OpenSSL requires.
    const SocketStatus waited = WaitFor(session, SSL_get_error(session->ssl, n), deadline);
    if (waited != SocketStatus::kOk) {
      ERR_clear_error();
      return waited;
    }
  }
  return SocketStatus::kOk;
}

void TlsNotifyClose(TlsSession* session) {
  if (session == nullptr) return;
  SSL_shutdown(session->ssl);
  ERR_clear_error();
}

void TlsFree(TlsSession* session) {
  if (session == nullptr) return;
  SSL_free(session->ssl);  // frees the BIO too
  delete session;
}

}  // namespace zel
