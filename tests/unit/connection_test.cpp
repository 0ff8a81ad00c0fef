// Connection, SOCKS and TLS against servers that each test runs in-process on 127.0.0.1: what the
// real proxies and servers of the rig cannot be made to do.
#include "transport/connection.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/unique_fd.h"
#include "temp_dir.h"

namespace pv {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using Clock = std::chrono::steady_clock;

// A TCP socket on 127.0.0.1 with a port of its own; listening unless told otherwise.
struct LoopbackSocket {
  explicit LoopbackSocket(bool listening = true) : fd(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof address;
    ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), size);
    if (listening) ::listen(fd.get(), 4);
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
  }
  UniqueFd fd;
  std::uint16_t port = 0;
};

// A server thread never waits longer than 2 s for anything.
bool WaitIn(int fd) {
  pollfd entry{fd, POLLIN, 0};
  return ::poll(&entry, 1, 2000) == 1;
}

std::string ReadExactly(int fd, std::size_t size) {
  std::string bytes;
  char buffer[512];
  while (bytes.size() < size && WaitIn(fd)) {
    const ssize_t n = ::recv(fd, buffer, std::min(sizeof buffer, size - bytes.size()), 0);
    if (n <= 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  return bytes;
}

// Serves the first connection to its port with `serve` on a thread of its own. SIGPIPE is
// blocked on that thread, so only the code under test can be killed by it.
class ServerThread {
 public:
  explicit ServerThread(std::function<void(int)> serve)
      : thread_([this, serve = std::move(serve)] {
          sigset_t pipe;
          sigemptyset(&pipe);
          sigaddset(&pipe, SIGPIPE);
          pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
          if (!WaitIn(listener_.fd.get())) return;
          UniqueFd client(::accept(listener_.fd.get(), nullptr, nullptr));
          if (client.ok()) serve(client.get());
        }) {}
  ~ServerThread() { Join(); }
  void Join() { if (thread_.joinable()) thread_.join(); }
  std::uint16_t port() const { return listener_.port; }

 private:
  LoopbackSocket listener_;  // before thread_: it exists when the thread starts
  std::thread thread_;
};

std::unique_ptr<Connection> OpenLocal(std::uint16_t port, NetError& error) {
  Transcript transcript;
  return Connection::Open("127.0.0.1", port, {}, 1s, transcript, error);
}

// A fake proxy: for each step it expects to receive the first string, then sends the second;
// then it waits for the client to close.
std::function<void(int)> ScriptedProxy(std::vector<std::pair<std::string, std::string>> steps) {
  return [steps = std::move(steps)](int fd) {
    for (const auto& [expect, reply] : steps) {
      EXPECT_EQ(ReadExactly(fd, expect.size()), expect);
      ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
    }
    WaitIn(fd);
  };
}

TEST(ConnectionTest, SocksHandshakesAndFailures) {
  // The server's greeting comes with the proxy's answer: the handshake must not take any of it.
  const std::string greeting = "220 mx ready\r\n";
  struct Case {
    const char* name;
    std::function<void(int)> serve;  // nullptr: nothing listens on the proxy's port
    ProxyTypeCode proxyType;
    const char* target;
    NetError::Kind kind;
    std::string text;  // the transcript's last line, and the error; {P}: the proxy's address
  };
  const Case cases[] = {
      {"socks5, name resolved by the proxy",
       ScriptedProxy({{"\x05\x01\x00"s, "\x05\x00"s},
                      {"\x05\x01\x00\x03\x09localhost\x00\x19"s,
                       "\x05\x00\x00\x03\x05proxy\x04\x38"s + greeting}}),
       ProxySocks5NoAuth, "localhost", NetError::Kind::None,
       "connected to localhost:25 via SOCKS5 proxy {P} (the proxy connects from proxy:1080)"},
      {"hangs up after the greeting", [](int fd) { ReadExactly(fd, 3); }, ProxySocks5NoAuth,
       "127.0.0.2", NetError::Kind::Proxy,
       "SOCKS5 proxy {P} closed the connection during the handshake"},
      {"silent after the greeting", [](int fd) { ReadExactly(fd, 4); }, ProxySocks5NoAuth,
       "127.0.0.2", NetError::Kind::Timeout, "SOCKS5 proxy {P} did not answer in time (500 ms)"},
      {"nothing listens", nullptr, ProxySocks5NoAuth, "127.0.0.2", NetError::Kind::Proxy,
       "connection refused by SOCKS5 proxy {P}"},
      // Refused before any connection: nothing listens there.
      {"socks4, IPv6 target", nullptr, ProxySocks4, "::1", NetError::Kind::Proxy,
       "SOCKS4 needs an IPv4 address (::1 is not one)"},
  };
  LoopbackSocket closed(false);  // bound, not listening: connections are refused
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<ServerThread> server;
    if (c.serve) server.emplace(c.serve);
    const ProxySettings proxy{c.proxyType, "127.0.0.1", server ? server->port() : closed.port,
                              "", ""};
    std::string expected = c.text;
    if (const auto at = expected.find("{P}"); at != std::string::npos) {
      expected.replace(at, 3, "127.0.0.1:" + std::to_string(proxy.port));
    }
    Transcript transcript;
    NetError error;
    const auto start = Clock::now();
    auto connection = Connection::Open(c.target, 25, proxy, 500ms, transcript, error);
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_EQ(error.kind, c.kind) << error.text;
    EXPECT_TRUE(transcript.text().ends_with("* " + expected + "\r\n")) << transcript.text();
    EXPECT_EQ(connection != nullptr, c.kind == NetError::Kind::None);
    if (connection) {
      std::string got;  // it came in one piece with the answer: one read takes it all
      EXPECT_FALSE(connection->Read(got, 1s));
      EXPECT_EQ(got, greeting);
    } else {
      EXPECT_EQ(error.text, expected);
    }
    connection.reset();
    server.reset();
  }
}

struct TestCertificate {
  X509* cert;
  EVP_PKEY* key;
};

// A self-signed certificate for "localhost" and 127.0.0.1, made once for the whole run.
const TestCertificate& Certificate() {
  static const TestCertificate made = [] {
    TestCertificate made{X509_new(), EVP_EC_gen("P-256")};
    X509_set_version(made.cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(made.cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(made.cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(made.cert), 86400);
    X509_NAME* name = X509_get_subject_name(made.cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
    X509_set_issuer_name(made.cert, name);
    X509_set_pubkey(made.cert, made.key);
    X509_EXTENSION* san = X509V3_EXT_conf_nid(nullptr, nullptr, NID_subject_alt_name,
                                              "DNS:localhost,IP:127.0.0.1");
    X509_add_ext(made.cert, san, -1);
    X509_EXTENSION_free(san);
    X509_sign(made.cert, made.key, EVP_sha256());
    return made;
  }();
  return made;
}

// The server side of TLS on a blocking socket, with the test certificate; null when the
// handshake fails. Freeing it sends no close_notify.
std::unique_ptr<SSL, decltype(&SSL_free)> AcceptTls(int fd) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  SSL_CTX_use_certificate(ctx, Certificate().cert);
  SSL_CTX_use_PrivateKey(ctx, Certificate().key);
  std::unique_ptr<SSL, decltype(&SSL_free)> ssl(SSL_new(ctx), SSL_free);
  SSL_CTX_free(ctx);  // the SSL holds its own reference
  SSL_set_fd(ssl.get(), fd);
  if (SSL_accept(ssl.get()) != 1) ssl.reset();
  ERR_clear_error();
  return ssl;
}

TEST(TlsTest, StartTlsVerifiesAgainstTheTrustedFile) {
  test::TempDir dir;
  FILE* ca = std::fopen((dir / "ca.pem").c_str(), "w");
  PEM_write_X509(ca, Certificate().cert);
  std::fclose(ca);
  struct Case {
    const char* serverName;
    bool verifyPeer;
    bool trusted;         // SSL_CERT_FILE holds the server's certificate
    const char* sni;      // what the server received; nullptr: the handshake fails
    std::string outcome;  // the end of tlsDescription(), or the error
  };
  const Case cases[] = {
      {"127.0.0.1", true, true, "", ", certificate verified"},
      {"localhost.", true, true, "localhost", ", certificate verified"},
      {"localhost", true, false, nullptr,
       "TLS handshake with localhost failed: certificate verify failed (self-signed certificate)"},
      {"other.example", true, true, nullptr,
       "TLS handshake with other.example failed: certificate verify failed (hostname mismatch)"},
      {"localhost", false, false, "localhost",
       ", certificate not verified (self-signed certificate)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.serverName + c.outcome);
    test::ScopedEnv certFile("SSL_CERT_FILE", (dir / (c.trusted ? "ca.pem" : "none.pem")).c_str());
    test::ScopedEnv certDir("SSL_CERT_DIR", dir.path().c_str());
    std::string sni = "(none)";
    ServerThread server([&sni](int fd) {
      const auto tls = AcceptTls(fd);
      if (!tls) return;
      const char* name = SSL_get_servername(tls.get(), TLSEXT_NAMETYPE_host_name);
      sni = name ? name : "";
      WaitIn(fd);  // until the client closes
    });
    NetError error;
    auto connection = OpenLocal(server.port(), error);
    ASSERT_NE(connection, nullptr) << error.text;
    error = connection->StartTls(c.serverName, c.verifyPeer, 1s);
    const bool ok = c.sni != nullptr;
    const auto kind = ok ? NetError::Kind::None : NetError::Kind::Tls;
    EXPECT_EQ(error.kind, kind);
    EXPECT_EQ(connection->tlsActive(), ok);
    const std::string outcome = ok ? connection->tlsDescription() : error.text;
    EXPECT_TRUE(outcome.starts_with(ok ? "TLSv1." : "TLS handshake")) << outcome;
    EXPECT_TRUE(outcome.ends_with(c.outcome)) << outcome;
    // Nothing may follow in plain text on a connection whose handshake failed.
    EXPECT_EQ(connection->Write("NOOP\r\n", 1s).kind, kind);
    connection.reset();
    server.Join();
    EXPECT_EQ(sni, ok ? c.sni : "(none)");
  }
}

// Timeouts and a peer that goes away, plain and in TLS. Writing to a closed connection draws
// a reset and then EPIPE, which raises SIGPIPE unless the socket is written with MSG_NOSIGNAL:
// the test would die.
TEST(ConnectionTest, SilentAndVanishingPeers) {
  enum class Action { Read, Write, StartTls };
  struct Case {
    const char* name;
    std::function<void(int)> serve;
    bool tls;
    Action action;
    NetError::Kind kind;
  };
  const auto silent = [](int fd) { ReadExactly(fd, 1 << 20); };  // until the client closes
  const auto closes = [](int) {};
  const auto tlsThenCloses = [](int fd) { AcceptTls(fd); };  // no close_notify
  const Case cases[] = {
      {"silent", silent, false, Action::Read, NetError::Kind::Timeout},
      {"silent TLS handshake", silent, false, Action::StartTls, NetError::Kind::Timeout},
      {"closed", closes, false, Action::Write, NetError::Kind::Closed},
      {"closed after TLS", tlsThenCloses, true, Action::Write, NetError::Kind::Closed},
  };
  const auto previous = ::signal(SIGPIPE, SIG_DFL);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + std::to_string(static_cast<int>(c.action)));
    ServerThread server(c.serve);
    NetError error;
    auto connection = OpenLocal(server.port(), error);
    ASSERT_NE(connection, nullptr) << error.text;
    ASSERT_FALSE(c.tls && connection->StartTls("localhost", false, 1s));  // StartTls first
    if (c.kind == NetError::Kind::Closed) server.Join();
    const auto start = Clock::now();
    std::string data;
    if (c.action == Action::Read) error = connection->Read(data, 150ms);
    if (c.action == Action::StartTls) error = connection->StartTls("localhost", false, 150ms);
    for (int i = 0; c.action == Action::Write && i < 10 && !error; ++i) {
      error = connection->Write("DATA\r\n", 150ms);
      std::this_thread::sleep_for(2ms);
    }
    EXPECT_EQ(error.kind, c.kind) << error.text;
    EXPECT_LT(Clock::now() - start, 800ms);
    EXPECT_EQ(data, "");
  }
  ::signal(SIGPIPE, previous);
}

}  // namespace
}  // namespace pv
