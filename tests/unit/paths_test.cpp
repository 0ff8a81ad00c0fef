#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "support/paths.h"
#include "support/wait.h"

namespace pv {
namespace {

struct Case {
  std::string in;
  std::string out;
};

TEST(Paths, Separators) {
  for (const auto& [in, out] : std::vector<Case>{
           {"", ""}, {"/a", "/a/"}, {"/a/", "/a/"}, {"a\\", "a\\"}, {"x", "x/"}})
    EXPECT_EQ(AddTrailingSeparator(in), out) << in;
  for (const auto& [in, out] : std::vector<Case>{
           {"/", "/"}, {"/tmp/", "/tmp"}, {"/tmp", "/tmp"}, {"a\\", "a"}, {"", ""}})
    EXPECT_EQ(RemoveTrailingSeparator(in), out) << in;
}

struct ExtensionCase {
  std::string path;
  std::string extension;
  std::string changed;
};

TEST(Paths, Extensions) {
  const std::vector<ExtensionCase> cases = {
      {"x/a.txt", "$$$", "x/a.$$$"},
      {"/a.b/file", "csv", "/a.b/file.csv"},  // a dot in a directory is no extension
      {"x\\a.eml", "eml.error", "x\\a.eml.error"},
  };
  for (const auto& c : cases) EXPECT_EQ(ChangeExtension(c.path, c.extension), c.changed) << c.path;
  EXPECT_EQ(ExtensionOf("/a.b/file"), "");
  EXPECT_EQ(ExtensionOf("/d/f.tar.gz"), "gz");
  EXPECT_EQ(FileNamePart("/d/e\\f.txt"), "f.txt");
  EXPECT_EQ(DirectoryPart("/d/e\\f.txt"), "/d/e\\");
}

TEST(Paths, ExpandEnvironment) {
  ::setenv("PV_TEST_ROOT", "/srv", 1);
  ::unsetenv("PV_TEST_NONE");
  EXPECT_EQ(ExpandEnvironment("%PV_TEST_ROOT%\\x"), "/srv\\x");
  EXPECT_EQ(ExpandEnvironment("%PV_TEST_NONE%/x"), "%PV_TEST_NONE%/x");
  EXPECT_EQ(ExpandEnvironment("50% of %PV_TEST_ROOT%"), "50% of /srv");
}

TEST(WaitSeconds, ReturnsOnlyAfterStrictlyMoreThanTheSpanAndPumpsEvents) {
  int pumped = 0;
  SetEventPump([&] { ++pumped; });
  const auto start = std::chrono::steady_clock::now();
  WaitSeconds(0.05);
  EXPECT_GT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
  EXPECT_GT(pumped, 0);
  SetEventPump(nullptr);
}

}  // namespace
}  // namespace pv
