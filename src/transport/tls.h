#pragma once
// TLS client sessions (OpenSSL) over a connected non-blocking socket, with deadlines.
#include <openssl/types.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "transport/connection.h"
#include "transport/socket_io.h"

namespace pv {

struct SslCtxFree {
  void operator()(SSL_CTX* ctx) const;
};
struct SslFree {
  void operator()(SSL* ssl) const;
};
using SslCtxPtr = std::unique_ptr<SSL_CTX, SslCtxFree>;
using SslPtr = std::unique_ptr<SSL, SslFree>;

// A client context: TLS 1.2 or later, trusting OpenSSL's default verify paths as they are at
// this moment (so SSL_CERT_FILE and SSL_CERT_DIR apply). Null, with `error` set, on failure.
SslCtxPtr NewTlsClientContext(std::string& error);

class TlsSession {
 public:
  // The client handshake over fd, which the session uses but does not own. serverName goes
  // into SNI (unless it is an IP literal) and is checked against the certificate; verifyPeer
  // makes a failed check end the handshake, otherwise the result only shows in description().
  static std::unique_ptr<TlsSession> Connect(int fd, const std::string& serverName, bool verifyPeer,
                                             Deadline deadline, NetError& error);
  // Sends close_notify if the session is intact, without waiting for anything.
  ~TlsSession();
  TlsSession(const TlsSession&) = delete;
  TlsSession& operator=(const TlsSession&) = delete;

  // Appends at least one and at most `max` bytes. Kind Closed when the peer has closed.
  NetError Read(std::string& out, std::size_t max, Deadline deadline);
  NetError Write(std::string_view bytes, Deadline deadline);
  // "TLSv1.3 TLS_AES_256_GCM_SHA384, certificate verified" or
  // "TLSv1.2 ECDHE-RSA-AES256-GCM-SHA384, certificate not verified (self-signed certificate)".
  std::string description() const;

 private:
  TlsSession(SslCtxPtr ctx, SslPtr ssl, int fd);
  template <typename Op>
  NetError Drive(Op op, Deadline deadline);
  NetError Failure(int sslError);

  SslCtxPtr ctx_;
  SslPtr ssl_;
  int fd_;
  bool broken_ = false;  // after a fatal error no further TLS record may be sent
};

}  // namespace pv
