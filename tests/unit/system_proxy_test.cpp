#include "settings/system_proxy.h"

#include <gtest/gtest.h>

#include "unit/temp_dir.h"

namespace pv {
namespace {

TEST(SystemProxyTest, SocksProxyFromUrl) {
  const std::pair<const char*, const char*> cases[] = {
      {"socks5h://user:pw@proxy.local:1080/", "proxy.local:1080"},
      {"socks4a://a:b@c@host:9?x#y", "host:9"},
      {"socks5://[::1]:1080", "[::1]:1080"},
      {"socks5://proxy.local:", "proxy.local:1080"},
      {"socks5://proxy.local:http", ""},
      {"socks5://:1080", ""},
      {"http://proxy.local:8080", ""},
      {"proxy.local:1080", ""},
  };
  for (const auto& [url, expected] : cases) EXPECT_EQ(SocksProxyFromUrl(url), expected) << url;
}

TEST(SystemProxyTest, UpperCaseVariableWinsEvenWhenEmpty) {
  test::ScopedEnv upper("ALL_PROXY", nullptr);
  test::ScopedEnv lower("all_proxy", "socks5://lower:1");
  EXPECT_EQ(GetSystemSocksProxy(), "lower:1");
  ::setenv("ALL_PROXY", "", 1);
  EXPECT_EQ(GetSystemSocksProxy(), "");
  ::setenv("ALL_PROXY", "socks4://upper:2", 1);
  EXPECT_EQ(GetSystemSocksProxy(), "upper:2");
}

}  // namespace
}  // namespace pv
