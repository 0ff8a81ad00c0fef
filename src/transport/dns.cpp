#include "transport/dns.h"

#include <ares.h>
#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <netdb.h>
#include <poll.h>
#include <strings.h>

#include <algorithm>
#include <mutex>
#include <cerrno>
#include <climits>
#include <cstring>
#include <random>
#include <string_view>

#include "support/host_port.h"
#include "support/ip_literal.h"
#include "support/server_address.h"
#include "support/text.h"

namespace pv {
namespace {

using Clock = std::chrono::steady_clock;

// c-ares asks for one library initialisation per process before the first channel.
int AresLibraryStatus() {
  static const int status = ares_library_init(ARES_LIB_INIT_ALL);
  return status;
}

// The owner of one c-ares channel.
class Channel {
 public:
  Channel() = default;
  ~Channel() { Reset(); }
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  // DNS queries only wait per try this long; 2 tries. Addresses come from /etc/hosts, then DNS.
  int Init(int per_try_ms) {
    Reset();
    ares_options options{};
    options.timeout = per_try_ms;  // milliseconds with ARES_OPT_TIMEOUTMS
    options.tries = 2;
    options.lookups = const_cast<char*>("fb");
    return ares_init_options(&channel_, &options,
                             ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES | ARES_OPT_LOOKUPS);
  }
  void Reset() {
    if (channel_ != nullptr) ares_destroy(channel_);
    channel_ = nullptr;
  }
  ares_channel get() const { return channel_; }

 private:
  ares_channel channel_ = nullptr;
};

struct ServerList {
  std::string csv;  // for ares_set_servers_ports_csv; "" for the system's servers
  int count = 0;
  std::string error;
};

// The comma-separated setting: blanks around items and empty items are ignored.
ServerList ParseServerList(const std::string& servers) {
  ServerList list;
  std::size_t start = 0;
  while (start <= servers.size()) {
    std::size_t comma = servers.find(',', start);
    if (comma == std::string::npos) comma = servers.size();
    const std::string item(Trim(std::string_view(servers).substr(start, comma - start), " \t"));
    start = comma + 1;
    if (item.empty()) continue;
    const std::string server = CanonicalDnsServer(item);
    if (server.empty()) {
      list.error = "\"" + item + "\" is not an IP address (with an optional :port)";
      return list;
    }
    list.csv += (list.count++ > 0 ? "," : "") + server;
  }
  return list;
}

int CountServers(ares_channel channel) {
  ares_addr_port_node* servers = nullptr;
  if (ares_get_servers_ports(channel, &servers) != ARES_SUCCESS) return 1;
  int count = 0;
  for (auto* node = servers; node != nullptr; node = node->next) ++count;
  ares_free_data(servers);
  return std::max(count, 1);
}

// c-ares sends `tries` rounds over all servers and doubles the wait each round; with 2 tries a
// lookup that gets no answer at all takes servers * (t + 2t). Choose t so that this fits.
int PerTryMs(std::chrono::milliseconds total, int servers) {
  const long long ms = total.count() / (3LL * std::max(servers, 1));
  return static_cast<int>(std::clamp<long long>(ms, 50, INT_MAX));
}

int ToPollMs(const timeval& tv) {
  const long long ms = tv.tv_sec * 1000LL + (tv.tv_usec + 999) / 1000;
  return static_cast<int>(std::clamp<long long>(ms, 0, INT_MAX));
}

timeval ToTimeval(Clock::duration d) {
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(d).count();
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(us / 1000000);
  tv.tv_usec = static_cast<suseconds_t>(us % 1000000);
  return tv;
}

// Waits on the channel's sockets and lets c-ares work until `outstanding` drops to zero. When
// the deadline passes first, every open query is cancelled (its callback sees ARES_ECANCELLED).
bool RunUntilDone(ares_channel channel, const int& outstanding, Clock::time_point deadline) {
  while (outstanding > 0) {
    const auto now = Clock::now();
    if (now >= deadline) {
      ares_cancel(channel);
      return false;
    }
    ares_socket_t socks[ARES_GETSOCK_MAXNUM];
    const int bits = ares_getsock(channel, socks, ARES_GETSOCK_MAXNUM);
    pollfd fds[ARES_GETSOCK_MAXNUM];
    nfds_t count = 0;
    for (int i = 0; i < ARES_GETSOCK_MAXNUM; ++i) {
      short events = 0;
      if (ARES_GETSOCK_READABLE(bits, i)) events |= POLLIN;
      if (ARES_GETSOCK_WRITABLE(bits, i)) events |= POLLOUT;
      if (events != 0) fds[count++] = pollfd{socks[i], events, 0};
    }
    timeval max_wait = ToTimeval(deadline - now);
    timeval wait{};
    const int ready = poll(fds, count, ToPollMs(*ares_timeout(channel, &max_wait, &wait)));
    if (ready < 0 && errno != EINTR) {
      ares_cancel(channel);
      return false;
    }
    if (ready <= 0) {
      ares_process_fd(channel, ARES_SOCKET_BAD, ARES_SOCKET_BAD);  // timeouts and retries
      continue;
    }
    for (nfds_t i = 0; i < count; ++i) {
      const bool readable = (fds[i].revents & (POLLIN | POLLERR | POLLHUP)) != 0;
      const bool writable = (fds[i].revents & POLLOUT) != 0;
      ares_process_fd(channel, readable ? fds[i].fd : ARES_SOCKET_BAD,
                      writable ? fds[i].fd : ARES_SOCKET_BAD);
    }
  }
  return true;
}

DnsStatus MapStatus(int ares_status) {
  switch (ares_status) {
    case ARES_SUCCESS:
      return DnsStatus::Ok;
    case ARES_ENODATA:
      return DnsStatus::NoData;
    case ARES_ENOTFOUND:
    case ARES_EBADNAME:
      return DnsStatus::NotFound;  // a name that can never resolve
    default:
      return DnsStatus::TempFail;
  }
}

// ARES_ECANCELLED: the lookup ran out of `timeout` and was cancelled.
std::string DescribeFailure(int ares_status, const char* no_data,
                            std::chrono::milliseconds timeout) {
  switch (ares_status) {
    case ARES_ENODATA:
      return no_data;
    case ARES_ECANCELLED:
      return "temporary failure: no answer within " + std::to_string(timeout.count()) + " ms";
    case ARES_ENOTFOUND:
      return "not found (NXDOMAIN)";
    case ARES_EBADNAME:
      return "not a valid domain name";
    case ARES_ESERVFAIL:
      return "temporary failure: server failure (SERVFAIL)";
    case ARES_EREFUSED:
      return "temporary failure: query refused (REFUSED)";
    case ARES_ETIMEOUT:
      return "temporary failure: no answer from the DNS servers (timeout)";
    case ARES_ECONNREFUSED:  // c-ares 1.18 also ends with this after SERVFAIL and REFUSED
      return "temporary failure: no usable answer from the DNS servers "
             "(unreachable, SERVFAIL or REFUSED)";
    default:
      return std::string("temporary failure: ") + ares_strerror(ares_status);
  }
}

struct MxQuery {
  explicit MxQuery(int* counter) : outstanding(counter) {}
  int* outstanding;
  int status = ARES_ECANCELLED;
  std::vector<MxHost> hosts;
};

void OnMxAnswer(void* arg, int status, int /*timeouts*/, unsigned char* abuf, int alen) {
  auto* query = static_cast<MxQuery*>(arg);
  --*query->outstanding;
  query->status = status;
  if (status != ARES_SUCCESS) return;
  ares_mx_reply* replies = nullptr;
  query->status = ares_parse_mx_reply(abuf, alen, &replies);
  for (auto* mx = replies; mx != nullptr; mx = mx->next) {
    query->hosts.push_back(MxHost{mx->priority, mx->host != nullptr ? mx->host : ""});
  }
  ares_free_data(replies);
}

bool IsNullHost(const MxHost& host) { return host.name.empty() || host.name == "."; }

// By preference; hosts with equal preference in random order, so that load spreads.
void SortHosts(std::vector<MxHost>& hosts) {
  std::mt19937 random(std::random_device{}());
  std::shuffle(hosts.begin(), hosts.end(), random);
  std::stable_sort(hosts.begin(), hosts.end(),
                   [](const MxHost& a, const MxHost& b) { return a.preference < b.preference; });
}

MxAnswer MakeMxAnswer(const std::string& domain, MxQuery& query,
                      std::chrono::milliseconds timeout) {
  MxAnswer answer;
  const std::string prefix = "MX " + domain + ": ";
  answer.status = MapStatus(query.status);
  if (answer.status != DnsStatus::Ok) {
    answer.text =
        prefix + DescribeFailure(query.status, "no MX record (NOERROR, no data)", timeout);
    return answer;
  }
  // RFC 7505: "MX 0 ." says the domain takes no mail. Beside real hosts it means nothing.
  std::vector<MxHost> hosts;
  for (auto& host : query.hosts) {
    if (!IsNullHost(host)) hosts.push_back(std::move(host));
  }
  if (hosts.empty()) {
    answer.status = DnsStatus::NullMx;
    answer.text = prefix + "null MX \"0 .\" (the domain accepts no mail)";
    return answer;
  }
  SortHosts(hosts);
  answer.text = prefix;
  for (std::size_t i = 0; i < hosts.size(); ++i) {
    if (i > 0) answer.text += ", ";
    answer.text += std::to_string(hosts[i].preference) + " " + hosts[i].name;
  }
  answer.hosts = std::move(hosts);
  return answer;
}

struct HostQuery {
  explicit HostQuery(int* counter) : outstanding(counter) {}
  int* outstanding;
  int status = ARES_ECANCELLED;
  std::vector<std::string> addresses;
};

void OnHostAnswer(void* arg, int status, int /*timeouts*/, hostent* host) {
  auto* query = static_cast<HostQuery*>(arg);
  --*query->outstanding;
  query->status = status;
  if (status != ARES_SUCCESS || host == nullptr) return;
  char text[INET6_ADDRSTRLEN];
  for (char** addr = host->h_addr_list; addr != nullptr && *addr != nullptr; ++addr) {
    if (inet_ntop(host->h_addrtype, *addr, text, sizeof text) != nullptr) {
      query->addresses.emplace_back(text);
    }
  }
  if (query->addresses.empty()) query->status = ARES_ENODATA;
}

// The IP address in "1.2.3.4", "::1", "[1.2.3.4]" or "[IPv6:::1]", normalised; "" for a name.
std::string IpLiteral(std::string_view host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
    if (host.size() > 5 && strncasecmp(host.data(), "IPv6:", 5) == 0) host.remove_prefix(5);
  }
  return NormalIpText(host);
}

// "localhost" and the names below it (RFC 6761 section 6.3), with or without the final dot.
bool IsLocalhostName(std::string_view name) {
  if (!name.empty() && name.back() == '.') name.remove_suffix(1);
  constexpr std::string_view kLocal = "localhost";
  if (name.size() < kLocal.size()) return false;
  const std::string_view tail = name.substr(name.size() - kLocal.size());
  const bool below = name.size() == kLocal.size() || name[name.size() - kLocal.size() - 1] == '.';
  return below && strncasecmp(tail.data(), kLocal.data(), kLocal.size()) == 0;
}

// One answer from the A and the AAAA lookup: any address is success; otherwise a temporary
// failure of either wins over a permanent "no such name"/"no address".
int CombineStatus(int v4, int v6) {
  if (v4 == ARES_SUCCESS || v6 == ARES_SUCCESS) return ARES_SUCCESS;
  if (MapStatus(v4) == DnsStatus::TempFail) return v4;
  if (MapStatus(v6) == DnsStatus::TempFail) return v6;
  if (v4 == ARES_ENOTFOUND && v6 == ARES_ENOTFOUND) return ARES_ENOTFOUND;
  return v4 == ARES_EBADNAME ? v4 : ARES_ENODATA;
}

std::string Join(const std::vector<std::string>& items) {
  std::string text;
  for (const auto& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

}  // namespace

std::string_view DnsStatusName(DnsStatus status) {
  switch (status) {
    case DnsStatus::Ok:
      return "Ok";
    case DnsStatus::NoData:
      return "NoData";
    case DnsStatus::NotFound:
      return "NotFound";
    case DnsStatus::NullMx:
      return "NullMx";
    case DnsStatus::TempFail:
      return "TempFail";
  }
  return "?";
}

// The resolver's channels: c-ares channels are not for two threads at once, and each holds
// about 70 KB of tables, so the concurrent deliveries that share a resolver borrow one for
// each lookup; there are only ever as many as lookups ran at once.
struct DnsResolver::Impl {
  std::string servers;
  std::chrono::milliseconds timeout{};
  std::string init_error;
  std::mutex mutex;
  std::vector<std::unique_ptr<Channel>> idle;

  std::string InitChannel(Channel& channel) const;
  std::unique_ptr<Channel> Borrow() {
    {
      const std::lock_guard lock(mutex);
      if (!idle.empty()) {
        std::unique_ptr<Channel> channel = std::move(idle.back());
        idle.pop_back();
        return channel;
      }
    }
    auto channel = std::make_unique<Channel>();
    if (!InitChannel(*channel).empty()) channel->Reset();
    return channel;
  }
  void GiveBack(std::unique_ptr<Channel> channel) {
    const std::lock_guard lock(mutex);
    idle.push_back(std::move(channel));
  }
  // Runs the queries started on the channel; those still open after `timeout` are cancelled.
  void Run(Channel& channel, const int& outstanding) const {
    RunUntilDone(channel.get(), outstanding, Clock::now() + timeout);
  }
};

// "" when the channel is ready for the servers.
std::string DnsResolver::Impl::InitChannel(Channel& channel) const {
  int status = AresLibraryStatus();
  if (status != ARES_SUCCESS)
    return std::string("c-ares library initialisation failed: ") + ares_strerror(status);
  const ServerList list = ParseServerList(servers);
  if (!list.error.empty()) return "bad DNS server list \"" + servers + "\": " + list.error;
  status = channel.Init(PerTryMs(timeout, list.count));
  if (status == ARES_SUCCESS && list.csv.empty()) {
    // The system's servers: the per-try time depends on how many /etc/resolv.conf lists.
    const int system_count = CountServers(channel.get());
    if (system_count > 1) status = channel.Init(PerTryMs(timeout, system_count));
  }
  if (status != ARES_SUCCESS) {
    channel.Reset();
    return std::string("cannot create a DNS resolver: ") + ares_strerror(status);
  }
  if (list.csv.empty()) return "";
  // Unchecked, a bad list would leave the system's servers in place and send the queries there.
  status = ares_set_servers_ports_csv(channel.get(), list.csv.c_str());
  if (status != ARES_SUCCESS) {
    channel.Reset();
    return "bad DNS server list \"" + servers + "\": " + ares_strerror(status);
  }
  return "";
}

DnsResolver::DnsResolver(const std::string& servers, std::chrono::milliseconds timeout)
    : impl_(std::make_unique<Impl>()) {
  impl_->servers = servers;
  impl_->timeout = std::max(timeout, std::chrono::milliseconds(100));
  auto first = std::make_unique<Channel>();
  impl_->init_error = impl_->InitChannel(*first);
  if (impl_->init_error.empty()) impl_->idle.push_back(std::move(first));
}

DnsResolver::~DnsResolver() = default;

const std::string& DnsResolver::initError() const { return impl_->init_error; }

MxAnswer DnsResolver::LookupMx(const std::string& domain) {
  MxAnswer answer;
  if (!impl_->init_error.empty()) {
    answer.text = "MX " + domain + ": temporary failure: " + impl_->init_error;
    return answer;
  }
  const std::string name(Trim(domain, " \t"));
  if (name.empty()) {
    answer.status = DnsStatus::NotFound;
    answer.text = "MX: empty domain name";
    return answer;
  }
  int outstanding = 1;
  MxQuery query(&outstanding);
  std::unique_ptr<Channel> channel = impl_->Borrow();
  if (channel->get() == nullptr) {
    answer.text = "MX " + domain + ": temporary failure: cannot create a DNS resolver";
    return answer;
  }
  ares_query(channel->get(), name.c_str(), ns_c_in, ns_t_mx, OnMxAnswer, &query);
  impl_->Run(*channel, outstanding);
  impl_->GiveBack(std::move(channel));
  return MakeMxAnswer(domain, query, impl_->timeout);
}

AddressAnswer DnsResolver::LookupAddresses(const std::string& host) {
  AddressAnswer answer;
  const std::string prefix = "A/AAAA " + host + ": ";
  const std::string name(Trim(host, " \t"));
  if (std::string literal = IpLiteral(name); !literal.empty()) {
    answer.status = DnsStatus::Ok;
    answer.addresses.push_back(literal);
    answer.text = prefix + literal + " (IP literal, no lookup)";
    return answer;
  }
  if (IsLocalhostName(name)) {
    // The loopback addresses, as RFC 6761 asks. c-ares 1.18 would find 127.0.0.1 in /etc/hosts
    // but, without a "::1 localhost" line there, leaks memory in its own fallback for IPv6.
    answer.status = DnsStatus::Ok;
    answer.addresses = {"127.0.0.1", "::1"};
    answer.text = prefix + "127.0.0.1, ::1 (loopback name, no lookup)";
    return answer;
  }
  if (!impl_->init_error.empty()) {
    answer.text = prefix + "temporary failure: " + impl_->init_error;
    return answer;
  }
  if (name.empty()) {
    answer.status = DnsStatus::NotFound;
    answer.text = "A/AAAA: empty host name";
    return answer;
  }
  int outstanding = 2;
  HostQuery v4(&outstanding);
  HostQuery v6(&outstanding);
  std::unique_ptr<Channel> channel = impl_->Borrow();
  if (channel->get() == nullptr) {
    answer.text = prefix + "temporary failure: cannot create a DNS resolver";
    return answer;
  }
  ares_gethostbyname(channel->get(), name.c_str(), AF_INET, OnHostAnswer, &v4);
  ares_gethostbyname(channel->get(), name.c_str(), AF_INET6, OnHostAnswer, &v6);
  impl_->Run(*channel, outstanding);
  impl_->GiveBack(std::move(channel));
  const int status = CombineStatus(v4.status, v6.status);
  answer.status = MapStatus(status);
  if (answer.status != DnsStatus::Ok) {
    answer.text =
        prefix + DescribeFailure(status, "no address record (NOERROR, no data)", impl_->timeout);
    return answer;
  }
  answer.addresses = std::move(v4.addresses);
  answer.addresses.insert(answer.addresses.end(), v6.addresses.begin(), v6.addresses.end());
  answer.text = prefix + Join(answer.addresses);
  return answer;
}

}  // namespace pv
