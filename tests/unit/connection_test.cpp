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
#include <fstream>
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

std::unique_ptr<Connection> OpenLocal(std::uint16_t port, NetError& error) {
  Transcript transcript;
  return Connection::Open("127.0.0.1", port, {}, 1s, transcript, error);
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
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

TEST(ConnectionTest, SocksHandshakes) {
  struct Case {
    const char* name;
    ProxySettings proxy;  // host and port filled in
    const char* target;
    std::vector<Step> steps;
    NetError::Kind kind;
    std::string text;  // the error, or the transcript's last line; {P} = the proxy's address
  };
  // The server's greeting comes with the proxy's answer: none of it may be lost.
  const std::string greeting = "220 mx ready\r\n";
  const std::string connect4 = Bytes({5, 1, 0, 1, 127, 0, 0, 2, 0, 25});
  const std::string connectName = Bytes({5, 1, 0, 3, 9}) + "localhost" + Bytes({0, 25});
  const std::string boundName = Bytes({5, 0, 0, 3, 5}) + "proxy" + Bytes({0x04, 0x38});
  const Case cases[] = {
      {"socks5 password, name resolved by the proxy", Proxy(3, "", 0, "rigsocks", "rig-secret-1"),
       "localhost",
       {{Bytes({5, 1, 2}), Bytes({5, 2})},
        {"\x01\x08rigsocks\x0crig-secret-1"s, Bytes({1, 0})},
        {connectName, boundName + greeting}},
       NetError::Kind::None,
       "* connected to localhost:25 via SOCKS5 proxy {P} (the proxy connects from proxy:1080)"},
      {"socks5 target refused", Proxy(2), "127.0.0.2",
       {{Bytes({5, 1, 0}), Bytes({5, 0})}, {connect4, Bytes({5, 5, 0, 1, 0, 0, 0, 0, 0, 0})}},
       NetError::Kind::Proxy, "SOCKS5 proxy {P} refused: connection refused (REP 5)"},
      {"socks5 proxy hangs up", Proxy(2), "127.0.0.2", {{Bytes({5, 1, 0}), ""}},
       NetError::Kind::Proxy, "SOCKS5 proxy {P} closed the connection during the handshake"},
      {"socks4 with user id", Proxy(1, "", 0, "rigsocks"), "127.0.0.2",
       {{"\x04\x01\x00\x19\x7f\x00\x00\x02rigsocks\x00"s,
         Bytes({0, 0x5A, 0, 0, 0, 0, 0, 0}) + greeting}},
       NetError::Kind::None, "* connected to 127.0.0.2:25 via SOCKS4 proxy {P}"},
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
      EXPECT_TRUE(transcript.text().ends_with(expected + "\r\n")) << transcript.text();
      EXPECT_EQ(connection->peer(), std::string(c.target) + ":25 via SOCKS" +
                                        (proxy.type == 1 ? "4 " : "5 ") + proxyName);
      EXPECT_EQ(ReadAtLeast(*connection, greeting.size()), greeting);
      ASSERT_FALSE(connection->Write("QUIT\r\n", 1s));
      EXPECT_EQ(ReadAtLeast(*connection, 6), "QUIT\r\n");
    } else {
      EXPECT_EQ(connection, nullptr);
      EXPECT_EQ(error.text, expected);
      EXPECT_TRUE(transcript.text().ends_with("* " + expected + "\r\n")) << transcript.text();
    }
    connection.reset();
    proxyServer.Join();
    EXPECT_EQ(problems, "");
    if (!proxy.password.empty()) {
      EXPECT_EQ(transcript.text().find(proxy.password), std::string::npos);
    }
  }
}

TEST(ConnectionTest, FailuresBeforeAnyAnswer) {
  LoopbackSocket closed(false);  // bound, not listening: connections are refused
  const std::string closedName = "127.0.0.1:" + std::to_string(closed.port);
  ServerThread silentProxy([](int fd) { ReadExactly(fd, 4); });  // takes the greeting only
  struct Case {
    ProxySettings proxy;
    const char* target;
    NetError::Kind kind;
    std::string text;
  };
  const Case cases[] = {
      {Proxy(0), "127.0.0.1", NetError::Kind::Refused, "connection refused by " + closedName},
      {Proxy(1, "127.0.0.1", closed.port), "::1", NetError::Kind::Proxy,
       "SOCKS4 needs an IPv4 address (::1 is not one)"},
      {Proxy(2, "127.0.0.1", closed.port), "127.0.0.2", NetError::Kind::Proxy,
       "connection refused by SOCKS5 proxy " + closedName},
      {Proxy(4, "127.0.0.1", closed.port), "127.0.0.2", NetError::Kind::Other,
       "unknown proxy type 4"},
      {Proxy(2, "127.0.0.1", silentProxy.port()), "127.0.0.2", NetError::Kind::Timeout,
       "SOCKS5 proxy 127.0.0.1:" + std::to_string(silentProxy.port()) +
           " did not answer in time (150 ms)"},
  };
  for (const Case& c : cases) {
    Transcript transcript;
    NetError error;
    const auto start = Clock::now();
    const std::uint16_t port = c.proxy.type == 0 ? closed.port : 25;
    auto connection = Connection::Open(c.target, port, c.proxy, 150ms, transcript, error);
    EXPECT_LT(Clock::now() - start, 800ms) << c.text;
    EXPECT_EQ(connection, nullptr) << c.text;
    EXPECT_EQ(error.kind, c.kind) << c.text;
    EXPECT_EQ(error.text, c.text);
    EXPECT_TRUE(transcript.text().ends_with("* " + c.text + "\r\n")) << transcript.text();
  }
}

// ---- TLS ----

struct TestCertificate {
  X509* cert = nullptr;
  EVP_PKEY* key = nullptr;
  std::string pem;
};

// A self-signed certificate for "localhost" and 127.0.0.1, made once for the whole run.
const TestCertificate& Certificate() {
  static const TestCertificate made = [] {
    TestCertificate made{X509_new(), EVP_EC_gen("P-256"), ""};
    X509_set_version(made.cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(made.cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(made.cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(made.cert), 86400);
    X509_NAME* name = X509_get_subject_name(made.cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
    X509_set_issuer_name(made.cert, name);
    X509_set_pubkey(made.cert, made.key);
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, made.cert, made.cert, nullptr, nullptr, 0);
    X509_EXTENSION* san = X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name,
                                              "DNS:localhost,IP:127.0.0.1");
    X509_add_ext(made.cert, san, -1);
    X509_EXTENSION_free(san);
    X509_sign(made.cert, made.key, EVP_sha256());
    BIO* out = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(out, made.cert);
    char* data = nullptr;
    const long size = BIO_get_mem_data(out, &data);
    made.pem.assign(data, static_cast<std::size_t>(size));
    BIO_free(out);
    return made;
  }();
  return made;
}

// The server side of TLS on a blocking socket, with the test certificate.
class ServerTls {
 public:
  explicit ServerTls(int fd) : ctx_(SSL_CTX_new(TLS_server_method())) {
    SSL_CTX_use_certificate(ctx_, Certificate().cert);
    SSL_CTX_use_PrivateKey(ctx_, Certificate().key);
    ssl_ = SSL_new(ctx_);
    SSL_set_fd(ssl_, fd);
    accepted_ = SSL_accept(ssl_) == 1;
  }
  ~ServerTls() {
    SSL_free(ssl_);
    SSL_CTX_free(ctx_);
    ERR_clear_error();
  }
  SSL* ssl() const { return ssl_; }
  bool accepted() const { return accepted_; }

 private:
  SSL_CTX* ctx_;
  SSL* ssl_ = nullptr;
  bool accepted_ = false;
};

TEST(TlsTest, StartTlsVerifiesAgainstTheTrustedFile) {
  test::TempDir dir;
  std::ofstream(dir / "ca.pem") << Certificate().pem;
  std::ofstream(dir / "other.pem") << "";
  struct Case {
    const char* serverName;
    bool verifyPeer;
    bool trusted;              // SSL_CERT_FILE holds the server's certificate
    std::string error;         // "": the handshake succeeds
    std::string verification;  // the end of tlsDescription()
    const char* sni;
  };
  const Case cases[] = {
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
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.serverName) + (c.verifyPeer ? " verified" : " unverified") +
                 (c.trusted ? " trusted" : " untrusted"));
    test::ScopedEnv certFile("SSL_CERT_FILE", (dir / (c.trusted ? "ca.pem" : "other.pem")).c_str());
    test::ScopedEnv certDir("SSL_CERT_DIR", dir.path().c_str());
    std::string sni = "(none)";
    ServerThread server([&sni](int fd) {  // handshake, then echo one read
      ServerTls tls(fd);
      if (!tls.accepted()) return;
      const char* name = SSL_get_servername(tls.ssl(), TLSEXT_NAMETYPE_host_name);
      sni = name ? name : "";
      char line[64];
      const int n = WaitIn(fd) ? SSL_read(tls.ssl(), line, sizeof line) : 0;
      if (n > 0) SSL_write(tls.ssl(), line, n);
      SSL_shutdown(tls.ssl());
    });
    NetError error;
    auto connection = OpenLocal(server.port(), error);
    ASSERT_NE(connection, nullptr) << error.text;
    error = connection->StartTls(c.serverName, c.verifyPeer, 1s);
    EXPECT_EQ(error.text, c.error);
    EXPECT_EQ(error.kind, c.error.empty() ? NetError::Kind::None : NetError::Kind::Tls);
    EXPECT_EQ(connection->tlsActive(), c.error.empty());
    if (c.error.empty()) {
      const std::string description = connection->tlsDescription();
      EXPECT_TRUE(description.starts_with("TLSv1.")) << description;
      EXPECT_TRUE(description.ends_with(c.verification)) << description;
      ASSERT_FALSE(connection->Write("NOOP\r\n", 1s));
      EXPECT_EQ(ReadAtLeast(*connection, 6), "NOOP\r\n");
    } else {
      // Nothing may follow in plain text on a connection whose handshake failed.
      EXPECT_EQ(connection->Write("AUTH PLAIN x\r\n", 1s).kind, NetError::Kind::Tls);
    }
    connection.reset();
    server.Join();
    if (c.error.empty()) {
      EXPECT_EQ(sni, c.sni);
    }
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
    bool tls;  // StartTls before the action
    Action action;
    NetError::Kind kind;
  };
  const auto silent = [](int fd) { ReadExactly(fd, 1 << 20); };  // until the client closes
  const auto closes = [](int) {};
  const auto tlsThenCloses = [](int fd) { ServerTls tls(fd); };  // no close_notify
  const Case cases[] = {
      {"silent", silent, false, Action::Read, NetError::Kind::Timeout},
      {"silent TLS handshake", silent, false, Action::StartTls, NetError::Kind::Timeout},
      {"closed", closes, false, Action::Read, NetError::Kind::Closed},
      {"closed", closes, false, Action::Write, NetError::Kind::Closed},
      {"closed after TLS", tlsThenCloses, true, Action::Read, NetError::Kind::Closed},
      {"closed after TLS", tlsThenCloses, true, Action::Write, NetError::Kind::Closed},
  };
  const auto previous = ::signal(SIGPIPE, SIG_DFL);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + std::to_string(static_cast<int>(c.action)));
    ServerThread server(c.serve);
    NetError error;
    auto connection = OpenLocal(server.port(), error);
    ASSERT_NE(connection, nullptr) << error.text;
    if (c.tls) {
      ASSERT_FALSE(connection->StartTls("localhost", false, 1s));
    }
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
