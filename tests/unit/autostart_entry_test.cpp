#include "platform/autostart_entry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "unit/temp_dir.h"

namespace pv {
namespace {

TEST(AutostartEntry, QuotesExecArguments) {
  struct Case { const char* argument; const char* expected; };
  const Case cases[] = {
      {"/usr/bin/postvane", "/usr/bin/postvane"},
      {"service=1", "service=1"},
      {"/opt/my apps/postvane", "\"/opt/my apps/postvane\""},
      {"/opt/a\"b", "\"/opt/a\\\\\"b\""},
      {"/opt/$HOME", "\"/opt/\\\\$HOME\""},
      {"/opt/100%", "/opt/100%%"},
      {"/opt/100% sure", "\"/opt/100%% sure\""},
      {"C:\\x", "\"C:\\\\\\\\x\""},
      {"/opt/say \"hi\"", "\"/opt/say \\\\\"hi\\\\\"\""},
      {"/opt/a`b", "\"/opt/a\\\\`b\""},
      {"it's", "\"it's\""},
      {"a\nb", "\"a\\nb\""},
      {"", "\"\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.argument);
    EXPECT_EQ(QuoteExecArgument(c.argument), c.expected);
  }
}

TEST(AutostartEntry, ExecLineJoinsQuotedArguments) {
  EXPECT_EQ(ExecLine("/usr/bin/postvane", {}), "/usr/bin/postvane");
  EXPECT_EQ(ExecLine("/opt/my apps/postvane", {"service=1", "x y"}),
            "\"/opt/my apps/postvane\" service=1 \"x y\"");
}

TEST(AutostartEntry, EntryTextHoldsOneValuePerLine) {
  const std::string text = AutostartEntryText("/opt/my apps/postvane", {"service=1"}, "Postvane",
                                              "Mail\nSpooler");
  EXPECT_EQ(text,
            "[Desktop Entry]\nType=Application\nName=Postvane\nComment=Mail Spooler\n"
            "Exec=\"/opt/my apps/postvane\" service=1\nPath=/opt/my apps\nIcon=postvane\n"
            "Terminal=false\nX-GNOME-Autostart-enabled=true\n");
  EXPECT_TRUE(AutostartEntryEnabled(text));
}

TEST(AutostartEntry, DisabledEntries) {
  struct Case { const char* name; const char* text; bool enabled; };
  const Case cases[] = {
      {"plain", "[Desktop Entry]\nType=Application\nExec=postvane\n", true},
      {"hidden", "[Desktop Entry]\nExec=postvane\nHidden=true\n", false},
      {"hidden false", "[Desktop Entry]\nExec=postvane\nHidden=false\n", true},
      {"hidden with blanks", "[Desktop Entry]\nHidden = true \n", false},
      {"gnome disabled", "[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n", false},
      {"gnome enabled", "[Desktop Entry]\nX-GNOME-Autostart-enabled=true\n", true},
      {"another group", "[Desktop Entry]\nExec=postvane\n[Desktop Action X]\nHidden=true\n"
                        "X-GNOME-Autostart-enabled=false\n", true},
      {"before the group", "Hidden=true\n[Desktop Entry]\nExec=postvane\n", true},
      {"no group", "Exec=postvane\n", false},
      {"empty", "", false},
      {"only another group", "[Desktop Action X]\nExec=postvane\n", false},
      {"crlf hidden", "[Desktop Entry]\r\nExec=postvane\r\nHidden=true\r\n", false},
      {"crlf enabled", "[Desktop Entry]\r\nExec=postvane\r\n", true},
      {"commented", "[Desktop Entry]\n#Hidden=true\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(AutostartEntryEnabled(c.text), c.enabled);
  }
}

TEST(AutostartEntry, CreateEnabledRemove) {
  test::TempDir dir;
  const std::string config = dir / "config";
  test::ScopedEnv env("XDG_CONFIG_HOME", config.c_str());
  ASSERT_EQ(AutostartEntryPath(), config + "/autostart/Postvane.desktop");
  EXPECT_FALSE(AutostartEnabled());
  EXPECT_FALSE(RemoveAutostartEntry()) << "a missing entry is removed already";

  const IoError created = CreateAutostartEntry("/opt/my apps/postvane", {"service=1"});
  ASSERT_FALSE(created) << created.text;
  struct stat st {};
  ASSERT_EQ(::stat((config + "/autostart").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  ASSERT_EQ(::stat(AutostartEntryPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  EXPECT_EQ(test::ReadFile(AutostartEntryPath()),
            AutostartEntryText("/opt/my apps/postvane", {"service=1"}));
  EXPECT_TRUE(AutostartEnabled());

  test::WriteFile(AutostartEntryPath(), test::ReadFile(AutostartEntryPath()) + "Hidden=true\n");
  EXPECT_FALSE(AutostartEnabled()) << "a desktop switched it off";

  EXPECT_FALSE(RemoveAutostartEntry());
  EXPECT_FALSE(std::filesystem::exists(AutostartEntryPath()));
  EXPECT_FALSE(AutostartEnabled());
}

TEST(AutostartEntry, ErrorsCarryTheirText) {
  test::TempDir dir;
  const std::string blocker = dir / "file";
  test::WriteFile(blocker, "x");
  test::ScopedEnv env("XDG_CONFIG_HOME", blocker.c_str());
  const IoError created = CreateAutostartEntry("/usr/bin/postvane", {});
  EXPECT_TRUE(created);
  EXPECT_NE(created.text.find(blocker), std::string::npos) << created.text;
}

// The entries written for awkward program paths pass desktop-file-validate without a word.
TEST(AutostartEntryValidate, EntriesForAwkwardPathsAreClean) {
  if (std::system("command -v desktop-file-validate >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "desktop-file-validate (desktop-file-utils) is missing";
  }
  const char* const programs[] = {
      "/usr/bin/postvane", "/opt/my apps/postvane", "/opt/say \"hi\"/postvane",
      "/opt/100%/postvane", "/opt/it's $HOME/post`vane`", "/opt/back\\slash/postvane",
  };
  test::TempDir dir;
  for (const char* program : programs) {
    SCOPED_TRACE(program);
    const std::string path = dir / "Postvane.desktop";
    test::WriteFile(path, AutostartEntryText(program, {"service=1", "50%"}));
    const std::string command = "desktop-file-validate '" + path + "' 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buffer[512];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    const int status = ::pclose(pipe);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, "");
  }
}

}  // namespace
}  // namespace pv
