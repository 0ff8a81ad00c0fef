// Connection, SOCKS and TLS against servers that each test runs in-process on 127.0.0.1.
#include "transport/connection.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
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

constexpr int kServerWaitMs = 2000;  // a server thread never waits longer than this

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) bytes += static_cast<char>(v);
  return bytes;
}

// A TCP socket on 127.0.0.1 with a port of its own; listening unless told otherwise.
struct LoopbackSocket {
  explicit LoopbackSocket(bool listening = true) : fd(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), size);
    if (listening) ::listen(fd.get(), 4);
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
  }
  UniqueFd fd;
  std::uint16_t port = 0;
};

bool WaitIn(int fd) {
  pollfd entry{fd, POLLIN, 0};
  return ::poll(&entry, 1, kServerWaitMs) == 1;
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

void Send(int fd, std::string_view bytes) { ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); }

void EchoUntilClosed(int fd) {
  char buffer[512];
  while (WaitIn(fd)) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return;
    Send(fd, std::string_view(buffer, static_cast<std::size_t>(n)));
  }
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
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  std::uint16_t port() const { return listener_.port; }

 private:
  LoopbackSocket listener_;  // before thread_: it exists when the thread starts
  std::thread thread_;
};

std::string ReadAtLeast(Connection& connection, std::size_t size) {
  std::string text;
  while (text.size() < size && !connection.Read(text, 1s)) {
  }
  return text;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

TEST(ConnectionTest, DirectConnectionCarriesBytesBothWays) {
  ServerThread server(EchoUntilClosed);
  Transcript transcript;
  NetError error;
  auto connection = Connection::Open("127.0.0.1", server.port(), {}, 1s, transcript, error);
  ASSERT_FALSE(error) << error.text;
  ASSERT_NE(connection, nullptr);
  const std::string peer = "127.0.0.1:" + std::to_string(server.port());
  EXPECT_EQ(connection->peer(), peer);
  EXPECT_EQ(transcript.text(), "* connecting to " + peer + "\r\n* connected to " + peer + "\r\n");
  ASSERT_FALSE(connection->Write("EHLO me\r\n", 1s));
  EXPECT_EQ(ReadAtLeast(*connection, 9), "EHLO me\r\n");
  EXPECT_FALSE(connection->tlsActive());
  EXPECT_EQ(connection->tlsDescription(), "");
}

TEST(ConnectionTest, RefusedPortIsRefused) {
  LoopbackSocket bound(false);
  Transcript transcript;
  NetError error;
  auto connection = Connection::Open("127.0.0.1", bound.port, {}, 1s, transcript, error);
  EXPECT_EQ(connection, nullptr);
  EXPECT_EQ(error.kind, NetError::Kind::Refused);
  const std::string text = "connection refused by 127.0.0.1:" + std::to_string(bound.port);
  EXPECT_EQ(error.text, text);
  EXPECT_NE(transcript.text().find("* " + text + "\r\n"), std::string::npos);
}

TEST(ConnectionTest, SilentServerTimesOutAndClosedServerIsClosed) {
  struct Case {
    std::function<void(int)> serve;
    NetError::Kind kind;
  };
  const Case cases[] = {
      {[](int fd) { ReadExactly(fd, 1); }, NetError::Kind::Timeout},  // waits for the client
      {[](int) {}, NetError::Kind::Closed},
  };
  for (const Case& c : cases) {
    ServerThread server(c.serve);
    Transcript transcript;
    NetError error;
    auto connection = Connection::Open("127.0.0.1", server.port(), {}, 1s, transcript, error);
    ASSERT_NE(connection, nullptr) << error.text;
    std::string data;
    const auto start = Clock::now();
    error = connection->Read(data, 150ms);
    EXPECT_EQ(error.kind, c.kind) << error.text;
    EXPECT_LT(Clock::now() - start, 800ms);
    EXPECT_EQ(data, "");
  }
}

// Writing into a connection the peer has closed must fail with an error, not kill the process:
// the first write draws a reset, the next ones fail with EPIPE, which raises SIGPIPE unless the
// send says MSG_NOSIGNAL.
TEST(ConnectionTest, WriteAfterPeerCloseFailsWithoutSigpipe) {
  const auto previous = ::signal(SIGPIPE, SIG_DFL);
  ServerThread server([](int) {});
  Transcript transcript;
  NetError error;
  auto connection = Connection::Open("127.0.0.1", server.port(), {}, 1s, transcript, error);
  ASSERT_NE(connection, nullptr) << error.text;
  server.Join();
  NetError last;
  for (int i = 0; i < 10; ++i) {
    if (NetError e = connection->Write("DATA\r\n", 500ms)) last = e;
    std::this_thread::sleep_for(2ms);
  }
  EXPECT_EQ(last.kind, NetError::Kind::Closed) << last.text;
  ::signal(SIGPIPE, previous);
}

// One scripted exchange of a fake proxy: it checks that it receives `expect`, then sends
// `reply`. After the last step it echoes what comes, or hangs up when that step's reply is
// empty. Problems are collected in `problems`.
struct Step {
  std::string expect;
  std::string reply;
};

std::function<void(int)> ScriptedProxy(std::vector<Step> steps, std::string& problems) {
  return [steps = std::move(steps), &problems](int fd) {
    for (const Step& step : steps) {
      const std::string got = ReadExactly(fd, step.expect.size());
      if (got != step.expect) {
        problems += "expected " + testing::PrintToString(step.expect) + ", got " +
                    testing::PrintToString(got) + "\n";
        return;
      }
      Send(fd, step.reply);
    }
    if (!steps.empty() && !steps.back().reply.empty()) EchoUntilClosed(fd);
  };
}

ProxySettings Proxy(int type, std::string host = "", std::uint16_t port = 0,
                    std::string user = "", std::string password = "") {
  return {type, std::move(host), port, std::move(user), std::move(password)};
}

const std::string kGreeting = "220 mx ready\r\n";
const std::string kConnect4 = Bytes({5, 1, 0, 1, 127, 0, 0, 2, 0, 25});
const std::string kBound4 = Bytes({5, 0, 0, 1, 127, 0, 0, 30, 0x9c, 0x40});

TEST(ConnectionTest, SocksHandshakes) {
  struct Case {
    const char* name;
    ProxySettings proxy;  // host and port filled in
    const char* target;
    std::vector<Step> steps;
    NetError::Kind kind;
    std::string text;  // the error, or the transcript's last line; {P} = the proxy's address
  };
  const std::string auth = "\x01\x08rigsocks\x0crig-secret-1"s;
  const std::string wrongAuth = "\x01\x08rigsocks\x05wrong"s;
  const std::string connectName = Bytes({5, 1, 0, 3, 9}) + "localhost" + Bytes({0, 25});
  const std::string boundName = Bytes({5, 0, 0, 3, 5}) + "proxy" + Bytes({0x04, 0x38});
  const Case cases[] = {
      {"socks5 no auth", Proxy(2), "127.0.0.2",
       {{Bytes({5, 1, 0}), Bytes({5, 0})}, {kConnect4, kBound4 + kGreeting}},
       NetError::Kind::None,
       "* connected to 127.0.0.2:25 via SOCKS5 proxy {P} (the proxy connects from "
       "127.0.0.30:40000)"},
      {"socks5 password, name resolved by the proxy", Proxy(3, "", 0, "rigsocks", "rig-secret-1"),
       "localhost",
       {{Bytes({5, 1, 2}), Bytes({5, 2})}, {auth, Bytes({1, 0})},
        {connectName, boundName + kGreeting}},
       NetError::Kind::None,
       "* connected to localhost:25 via SOCKS5 proxy {P} (the proxy connects from proxy:1080)"},
      {"socks5 wrong password", Proxy(3, "", 0, "rigsocks", "wrong"), "127.0.0.2",
       {{Bytes({5, 1, 2}), Bytes({5, 2})}, {wrongAuth, Bytes({1, 1})}},
       NetError::Kind::Proxy,
       "SOCKS5 proxy {P} rejected the user name or password (status 1)"},
      {"socks5 target refused", Proxy(2), "127.0.0.2",
       {{Bytes({5, 1, 0}), Bytes({5, 0})}, {kConnect4, Bytes({5, 5, 0, 1, 0, 0, 0, 0, 0, 0})}},
       NetError::Kind::Proxy, "SOCKS5 proxy {P} refused: connection refused (REP 5)"},
      {"socks5 wants a password", Proxy(2), "127.0.0.2", {{Bytes({5, 1, 0}), Bytes({5, 0xFF})}},
       NetError::Kind::Proxy,
       "SOCKS5 proxy {P} refused: no acceptable authentication method (it may require a user "
       "name and password)"},
      {"socks5 proxy hangs up", Proxy(2), "127.0.0.2", {{Bytes({5, 1, 0}), ""}},
       NetError::Kind::Proxy, "SOCKS5 proxy {P} closed the connection during the handshake"},
      {"socks4 with user id", Proxy(1, "", 0, "rigsocks", "unused"), "127.0.0.2",
       {{"\x04\x01\x00\x19\x7f\x00\x00\x02rigsocks\x00"s,
         Bytes({0, 0x5A, 0, 0, 0, 0, 0, 0}) + kGreeting}},
       NetError::Kind::None, "* connected to 127.0.0.2:25 via SOCKS4 proxy {P}"},
      {"socks4 rejected", Proxy(1), "127.0.0.2",
       {{"\x04\x01\x00\x19\x7f\x00\x00\x02\x00"s, Bytes({0, 0x5B, 0, 0, 0, 0, 0, 0})}},
       NetError::Kind::Proxy, "SOCKS4 proxy {P} refused: request rejected or failed (code 0x5B)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string problems;
    ServerThread proxyServer(ScriptedProxy(c.steps, problems));
    ProxySettings proxy = c.proxy;
    proxy.host = "127.0.0.1";
    proxy.port = proxyServer.port();
    const std::string proxyName = "127.0.0.1:" + std::to_string(proxy.port);
    Transcript transcript;
    NetError error;
    auto connection = Connection::Open(c.target, 25, proxy, 1s, transcript, error);
    EXPECT_EQ(error.kind, c.kind) << error.text;
    const std::string expected = Replace(c.text, "{P}", proxyName);
    if (c.kind == NetError::Kind::None) {
      ASSERT_NE(connection, nullptr);
      EXPECT_NE(transcript.text().find(expected + "\r\n"), std::string::npos) << transcript.text();
      EXPECT_EQ(connection->peer(), std::string(c.target) + ":25 via " +
                                        (proxy.type == 1 ? "SOCKS4 " : "SOCKS5 ") + proxyName);
      // The server's greeting came with the proxy's answer: none of it may be lost.
      EXPECT_EQ(ReadAtLeast(*connection, kGreeting.size()), kGreeting);
      ASSERT_FALSE(connection->Write("QUIT\r\n", 1s));
      EXPECT_EQ(ReadAtLeast(*connection, 6), "QUIT\r\n");
    } else {
      EXPECT_EQ(connection, nullptr);
      EXPECT_EQ(error.text, expected);
      EXPECT_NE(transcript.text().find("* " + expected + "\r\n"), std::string::npos);
    }
    connection.reset();
    proxyServer.Join();
    EXPECT_EQ(problems, "");
    if (!proxy.password.empty()) {
      EXPECT_EQ(transcript.text().find(proxy.password), std::string::npos);
      EXPECT_EQ(error.text.find(proxy.password), std::string::npos);
    }
  }
}

TEST(ConnectionTest, ProxyFailuresBeforeAnyAnswer) {
  LoopbackSocket closedPort(false);
  struct Case {
    const char* name;
    ProxySettings proxy;
    const char* target;
    NetError::Kind kind;
    std::string text;
  };
  const std::string closedName = "127.0.0.1:" + std::to_string(closedPort.port);
  const Case cases[] = {
      {"socks4 to a name", Proxy(1, "127.0.0.1", closedPort.port), "mx.example.org",
       NetError::Kind::Proxy, "SOCKS4 needs an IPv4 address (mx.example.org is not one)"},
      {"socks4 to IPv6", Proxy(1, "127.0.0.1", closedPort.port), "::1", NetError::Kind::Proxy,
       "SOCKS4 needs an IPv4 address (::1 is not one)"},
      {"proxy down", Proxy(2, "127.0.0.1", closedPort.port), "127.0.0.2", NetError::Kind::Proxy,
       "connection refused by SOCKS5 proxy " + closedName},
      {"unknown type", Proxy(4, "127.0.0.1", closedPort.port), "127.0.0.2", NetError::Kind::Other,
       "unknown proxy type 4"},
  };
  for (const Case& c : cases) {
    Transcript transcript;
    NetError error;
    auto connection = Connection::Open(c.target, 25, c.proxy, 1s, transcript, error);
    EXPECT_EQ(connection, nullptr) << c.name;
    EXPECT_EQ(error.kind, c.kind) << c.name;
    EXPECT_EQ(error.text, c.text) << c.name;
  }
}

TEST(ConnectionTest, SilentProxyTimesOut) {
  ServerThread proxyServer([](int fd) { ReadExactly(fd, 4); });  // takes the greeting only
  const ProxySettings proxy = Proxy(2, "127.0.0.1", proxyServer.port());
  Transcript transcript;
  NetError error;
  const auto start = Clock::now();
  auto connection = Connection::Open("127.0.0.2", 25, proxy, 150ms, transcript, error);
  EXPECT_LT(Clock::now() - start, 800ms);
  EXPECT_EQ(connection, nullptr);
  EXPECT_EQ(error.kind, NetError::Kind::Timeout);
  EXPECT_EQ(error.text, "SOCKS5 proxy 127.0.0.1:" + std::to_string(proxyServer.port()) +
                            " did not answer in time (150 ms)");
}

// ---- TLS ----

struct TestCertificate {
  std::string certificatePem;
  std::string keyPem;
};

// A self-signed certificate for "localhost" and 127.0.0.1, made once.
const TestCertificate& Certificate() {
  static const TestCertificate made = [] {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 86400);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509_set_pubkey(cert, key);
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* san = X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name,
                                              "DNS:localhost,IP:127.0.0.1");
    X509_add_ext(cert, san, -1);
    X509_EXTENSION_free(san);
    X509_sign(cert, key, EVP_sha256());
    TestCertificate pems;
    BIO* out = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(out, cert);
    char* data = nullptr;
    long size = BIO_get_mem_data(out, &data);
    pems.certificatePem.assign(data, static_cast<std::size_t>(size));
    (void)BIO_reset(out);
    PEM_write_bio_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr);
    size = BIO_get_mem_data(out, &data);
    pems.keyPem.assign(data, static_cast<std::size_t>(size));
    BIO_free(out);
    X509_free(cert);
    EVP_PKEY_free(key);
    return pems;
  }();
  return made;
}

// The server side of TLS on a blocking socket, with the test certificate.
class ServerTls {
 public:
  explicit ServerTls(int fd) {
    BIO* certBio = BIO_new_mem_buf(Certificate().certificatePem.data(), -1);
    BIO* keyBio = BIO_new_mem_buf(Certificate().keyPem.data(), -1);
    cert_ = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
    key_ = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
    BIO_free(certBio);
    BIO_free(keyBio);
    ctx_ = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate(ctx_, cert_);
    SSL_CTX_use_PrivateKey(ctx_, key_);
    ssl_ = SSL_new(ctx_);
    SSL_set_fd(ssl_, fd);
    accepted_ = SSL_accept(ssl_) == 1;
  }
  ~ServerTls() {
    SSL_free(ssl_);
    SSL_CTX_free(ctx_);
    X509_free(cert_);
    EVP_PKEY_free(key_);
    ERR_clear_error();
  }
  SSL* ssl() const { return ssl_; }
  bool accepted() const { return accepted_; }

 private:
  X509* cert_ = nullptr;
  EVP_PKEY* key_ = nullptr;
  SSL_CTX* ctx_ = nullptr;
  SSL* ssl_ = nullptr;
  bool accepted_ = false;
};

// Handshake, then echo one read. `sni` receives the server name the client sent.
std::function<void(int)> TlsEchoServer(std::string& sni) {
  return [&sni](int fd) {
    ServerTls tls(fd);
    if (!tls.accepted()) return;
    const char* name = SSL_get_servername(tls.ssl(), TLSEXT_NAMETYPE_host_name);
    sni = name ? name : "";
    char line[64];
    const int n = WaitIn(fd) ? SSL_read(tls.ssl(), line, sizeof line) : 0;
    if (n > 0) SSL_write(tls.ssl(), line, n);
    SSL_shutdown(tls.ssl());
  };
}

// Sets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (had_) ::setenv(name_, old_.c_str(), 1);
    else ::unsetenv(name_);
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

void WriteFile(const std::string& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
}

TEST(TlsTest, StartTlsVerifiesAgainstTheTrustedFile) {
  test::TempDir dir;
  WriteFile(dir / "ca.pem", Certificate().certificatePem);
  WriteFile(dir / "other.pem", "");
  struct Case {
    const char* serverName;
    bool verifyPeer;
    bool trusted;       // SSL_CERT_FILE holds the server's certificate
    std::string error;  // "" : the handshake succeeds
    std::string verification;  // the end of tlsDescription()
    const char* sni;
  };
  const Case cases[] = {
      {"localhost", true, true, "", ", certificate verified", "localhost"},
      {"127.0.0.1", true, true, "", ", certificate verified", ""},
      {"localhost.", true, true, "", ", certificate verified", "localhost"},
      {"localhost", true, false,
       "TLS handshake with localhost failed: certificate verify failed (self-signed certificate)",
       "", ""},
      {"other.example", true, true,
       "TLS handshake with other.example failed: certificate verify failed (hostname mismatch)",
       "", ""},
      {"localhost", false, false, "", ", certificate not verified (self-signed certificate)",
       "localhost"},
      {"other.example", false, true, "", ", certificate not verified (hostname mismatch)",
       "other.example"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.serverName) + (c.verifyPeer ? " verified" : " unverified") +
                 (c.trusted ? " trusted" : " untrusted"));
    ScopedEnv certFile("SSL_CERT_FILE", dir / (c.trusted ? "ca.pem" : "other.pem"));
    ScopedEnv certDir("SSL_CERT_DIR", dir.path());
    std::string sni = "(none)";
    ServerThread server(TlsEchoServer(sni));
    Transcript transcript;
    NetError error;
    auto connection = Connection::Open("127.0.0.1", server.port(), {}, 1s, transcript, error);
    ASSERT_NE(connection, nullptr) << error.text;
    error = connection->StartTls(c.serverName, c.verifyPeer, 1s);
    EXPECT_EQ(error.text, c.error);
    EXPECT_EQ(error.kind, c.error.empty() ? NetError::Kind::None : NetError::Kind::Tls);
    EXPECT_EQ(connection->tlsActive(), c.error.empty());
    if (c.error.empty()) {
      const std::string description = connection->tlsDescription();
      EXPECT_EQ(description.rfind("TLSv1.", 0), 0u) << description;
      EXPECT_TRUE(description.ends_with(c.verification)) << description;
      ASSERT_FALSE(connection->Write("NOOP\r\n", 1s));
      EXPECT_EQ(ReadAtLeast(*connection, 6), "NOOP\r\n");
    }
    connection.reset();
    server.Join();
    if (c.error.empty()) {
      EXPECT_EQ(sni, c.sni);
    }
  }
}

TEST(TlsTest, HandshakeWithSilentServerTimesOut) {
  ServerThread server([](int fd) { ReadExactly(fd, 1 << 20); });
  Transcript transcript;
  NetError error;
  auto connection = Connection::Open("127.0.0.1", server.port(), {}, 1s, transcript, error);
  ASSERT_NE(connection, nullptr) << error.text;
  const auto start = Clock::now();
  error = connection->StartTls("localhost", false, 150ms);
  EXPECT_LT(Clock::now() - start, 800ms);
  EXPECT_EQ(error.kind, NetError::Kind::Timeout) << error.text;
  EXPECT_FALSE(connection->tlsActive());
}

// A peer that closes the connection after the handshake without a close_notify: reading finds
// it closed, and writing fails with an error instead of raising SIGPIPE.
TEST(TlsTest, PeerThatDropsTheConnectionIsClosedWithoutSigpipe) {
  const auto previous = ::signal(SIGPIPE, SIG_DFL);
  for (const bool writing : {false, true}) {
    SCOPED_TRACE(writing ? "writing" : "reading");
    ServerThread server([](int fd) { ServerTls tls(fd); });
    Transcript transcript;
    NetError error;
    auto connection = Connection::Open("127.0.0.1", server.port(), {}, 1s, transcript, error);
    ASSERT_NE(connection, nullptr) << error.text;
    ASSERT_FALSE(connection->StartTls("localhost", false, 1s));
    server.Join();
    if (writing) {
      for (int i = 0; i < 10 && !error; ++i) {
        error = connection->Write("DATA\r\n", 500ms);
        std::this_thread::sleep_for(2ms);
      }
    } else {
      std::string data;
      error = connection->Read(data, 500ms);
    }
    EXPECT_EQ(error.kind, NetError::Kind::Closed) << error.text;
  }
  ::signal(SIGPIPE, previous);
}

}  // namespace
}  // namespace pv
