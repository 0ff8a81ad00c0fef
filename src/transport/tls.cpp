#include "transport/tls.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "support/ip_literal.h"

namespace pv {

void SslCtxFree::operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
void SslFree::operator()(SSL* ssl) const { SSL_free(ssl); }

namespace {

// Why a socket BIO of our own: OpenSSL's socket BIO writes with write(), and a write to a
// connection the peer has reset raises SIGPIPE, which kills the process unless the signal is
// ignored. Ignoring it is a process-wide decision that a library must not take, and blocking
// it per thread needs pending signals to be drained afterwards. This BIO sends with
// MSG_NOSIGNAL instead, so a broken connection is just EPIPE. It also remembers the peer's
// close and the last errno, which tell a closed connection from a TLS failure.
struct SocketBio {
  int fd = -1;
  bool eof = false;
  int lastErrno = 0;
};

SocketBio* StateOf(BIO* bio) { return static_cast<SocketBio*>(BIO_get_data(bio)); }

int SocketBioWrite(BIO* bio, const char* data, std::size_t size, std::size_t* written) {
  SocketBio* state = StateOf(bio);
  BIO_clear_retry_flags(bio);
  for (;;) {
    const ssize_t n = ::send(state->fd, data, size, MSG_NOSIGNAL);
    if (n >= 0) {
      *written = static_cast<std::size_t>(n);
      return 1;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      BIO_set_retry_write(bio);
    } else {
      state->lastErrno = errno;
    }
    return 0;
  }
}

int SocketBioRead(BIO* bio, char* data, std::size_t size, std::size_t* read) {
  SocketBio* state = StateOf(bio);
  BIO_clear_retry_flags(bio);
  for (;;) {
    const ssize_t n = ::recv(state->fd, data, size, 0);
    if (n > 0) {
      *read = static_cast<std::size_t>(n);
      return 1;
    }
    if (n == 0) {
      state->eof = true;
    } else if (errno == EINTR) {
      continue;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      BIO_set_retry_read(bio);
    } else {
      state->lastErrno = errno;
    }
    return 0;
  }
}

long SocketBioCtrl(BIO* bio, int command, long, void* pointer) {
  SocketBio* state = StateOf(bio);
  switch (command) {
    case BIO_CTRL_FLUSH: return 1;  // nothing is buffered here
    case BIO_CTRL_EOF: return state->eof ? 1 : 0;
    case BIO_C_GET_FD:
      if (pointer != nullptr) *static_cast<int*>(pointer) = state->fd;
      return state->fd;
    default: return 0;
  }
}

int SocketBioDestroy(BIO* bio) {
  delete StateOf(bio);
  BIO_set_data(bio, nullptr);
  return 1;
}

// The method table, made once and kept for the life of the process.
const BIO_METHOD* SocketBioMethod() {
  static BIO_METHOD* const method = [] {
    const int index = BIO_get_new_index();
    BIO_METHOD* m = index < 0 ? nullptr
                              : BIO_meth_new(index | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR,
                                             "postvane socket");
    if (m == nullptr) return m;
    BIO_meth_set_write_ex(m, SocketBioWrite);
    BIO_meth_set_read_ex(m, SocketBioRead);
    BIO_meth_set_ctrl(m, SocketBioCtrl);
    BIO_meth_set_destroy(m, SocketBioDestroy);
    return m;
  }();
  return method;
}

BIO* NewSocketBio(int fd) {
  const BIO_METHOD* method = SocketBioMethod();
  BIO* bio = method ? BIO_new(method) : nullptr;
  if (bio == nullptr) return nullptr;
  BIO_set_data(bio, new SocketBio{fd});
  BIO_set_init(bio, 1);
  return bio;
}

// The reasons in this thread's OpenSSL error queue, which is left empty.
std::string OpenSslErrors() {
  std::string text;
  while (const unsigned long code = ERR_get_error()) {
    const char* reason = ERR_reason_error_string(code);
    char buffer[256];
    if (reason == nullptr) {
      ERR_error_string_n(code, buffer, sizeof buffer);
      reason = buffer;
    }
    if (!text.empty()) text += "; ";
    text += reason;
  }
  return text.empty() ? "unknown TLS error" : text;
}

// SNI and the name check. An IP literal is matched against the certificate's IP addresses
// and never sent as SNI (RFC 6066 3).
bool SetServerName(SSL* ssl, std::string name) {
  if (!name.empty() && name.back() == '.') name.pop_back();
  if (name.empty()) return true;
  if (IsIpLiteral(name))
    return X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), name.c_str()) == 1;
  return SSL_set_tlsext_host_name(ssl, name.c_str()) == 1 && SSL_set1_host(ssl, name.c_str()) == 1;
}

}  // namespace

SslCtxPtr NewTlsClientContext(std::string& error) {
  ERR_clear_error();
  SslCtxPtr ctx(SSL_CTX_new(TLS_client_method()));
  if (!ctx || SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION) != 1 ||
      SSL_CTX_set_default_verify_paths(ctx.get()) != 1) {
    error = "cannot set up TLS: " + OpenSslErrors();
    return nullptr;
  }
  ERR_clear_error();  // a missing default CA file or directory is not an error here
  return ctx;
}

TlsSession::TlsSession(SslCtxPtr ctx, SslPtr ssl, int fd)
    : ctx_(std::move(ctx)), ssl_(std::move(ssl)), fd_(fd) {}

TlsSession::~TlsSession() {
  if (!broken_ && SSL_is_init_finished(ssl_.get())) {
    SSL_shutdown(ssl_.get());  // one attempt: a close_notify if the socket takes it now
    ERR_clear_error();
  }
}

std::unique_ptr<TlsSession> TlsSession::Connect(int fd, const std::string& serverName,
                                                bool verifyPeer, Deadline deadline,
                                                NetError& error) {
  std::string text;
  SslCtxPtr ctx = NewTlsClientContext(text);
  if (!ctx) {
    error = {NetError::Kind::Tls, text};
    return nullptr;
  }
  SslPtr ssl(SSL_new(ctx.get()));
  BIO* bio = ssl ? NewSocketBio(fd) : nullptr;
  if (bio == nullptr || !SetServerName(ssl.get(), serverName)) {
    if (bio != nullptr) BIO_free(bio);
    error = {NetError::Kind::Tls, "cannot set up TLS: " + OpenSslErrors()};
    return nullptr;
  }
  SSL_set_bio(ssl.get(), bio, bio);  // the SSL owns the BIO from here
  SSL_set_verify(ssl.get(), verifyPeer ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);

  std::unique_ptr<TlsSession> session(new TlsSession(std::move(ctx), std::move(ssl), fd));
  SSL* raw = session->ssl_.get();
  if (NetError failed = session->Drive([raw] { return SSL_connect(raw); }, deadline)) {
    const long verify = SSL_get_verify_result(raw);
    if (verifyPeer && verify != X509_V_OK) {
      failed.text += std::string(" (") + X509_verify_cert_error_string(verify) + ")";
    }
    const auto kind = failed.kind == NetError::Kind::Timeout ? failed.kind : NetError::Kind::Tls;
    const std::string with = serverName.empty() ? "" : " with " + serverName;
    error = {kind, "TLS handshake" + with + " failed: " + failed.text};
    return nullptr;
  }
  return session;
}

template <typename Op>
NetError TlsSession::Drive(Op op, Deadline deadline) {
  if (broken_) return {NetError::Kind::Tls, "the TLS session has failed before"};
  for (;;) {
    ERR_clear_error();
    const int rc = op();
    if (rc == 1) return {};
    const int code = SSL_get_error(ssl_.get(), rc);
    short events = 0;
    if (code == SSL_ERROR_WANT_READ) events = POLLIN;
    if (code == SSL_ERROR_WANT_WRITE) events = POLLOUT;
    if (events == 0) return Failure(code);
    if (NetError error = WaitReady(fd_, events, deadline)) return error;
  }
}

NetError TlsSession::Failure(int sslError) {
  const SocketBio* state = StateOf(SSL_get_rbio(ssl_.get()));
  if (sslError == SSL_ERROR_ZERO_RETURN) {
    ERR_clear_error();
    return {NetError::Kind::Closed, "the peer closed the TLS session"};
  }
  broken_ = true;
  if (state->eof) {
    ERR_clear_error();
    return {NetError::Kind::Closed, "connection closed by the peer"};
  }
  if (sslError == SSL_ERROR_SYSCALL && state->lastErrno != 0) {
    ERR_clear_error();
    return ErrnoError(state->lastErrno);
  }
  return {NetError::Kind::Tls, OpenSslErrors()};
}

NetError TlsSession::Read(std::string& out, std::size_t max, Deadline deadline) {
  const std::size_t before = out.size();
  out.resize(before + max);
  std::size_t got = 0;
  SSL* ssl = ssl_.get();
  char* buffer = out.data() + before;
  const NetError error = Drive([&] { return SSL_read_ex(ssl, buffer, max, &got); }, deadline);
  out.resize(before + (error ? 0 : got));
  return error;
}

NetError TlsSession::Write(std::string_view bytes, Deadline deadline) {
  if (bytes.empty()) return {};
  // Without SSL_MODE_ENABLE_PARTIAL_WRITE a write succeeds only when every byte is taken; a
  // retry after WANT_READ/WANT_WRITE repeats the same arguments, as OpenSSL requires.
  std::size_t written = 0;
  SSL* ssl = ssl_.get();
  return Drive([&] { return SSL_write_ex(ssl, bytes.data(), bytes.size(), &written); }, deadline);
}

std::string TlsSession::description() const {
  SSL* ssl = ssl_.get();
  std::string text = std::string(SSL_get_version(ssl)) + " " + SSL_get_cipher_name(ssl);
  const long verify = SSL_get_verify_result(ssl);
  if (SSL_get0_peer_certificate(ssl) == nullptr) return text + ", no certificate";
  if (verify == X509_V_OK) return text + ", certificate verified";
  return text + ", certificate not verified (" + X509_verify_cert_error_string(verify) + ")";
}

}  // namespace pv
