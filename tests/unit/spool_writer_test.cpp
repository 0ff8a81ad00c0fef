// The spool writer as the spooler meets it. (A group member writing into the service's 3730
// spool: service_account_test.cpp.)
#include "scripting/spool_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>

#include "engine/spool_directory.h"
#include "support/durable_write.h"
#include "temp_dir.h"

namespace pv {
namespace {

struct stat StatOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st;
}

TEST(SpoolWriterTest, ExactModeUniqueNamesAndNothingReplaced) {
  test::TempDir dir;
  const mode_t saved = ::umask(077);
  std::vector<std::string> paths;
  for (int i = 0; i < 20; ++i) {
    const SpoolWriteResult written = WriteSpoolFile(dir.path(), "eml", "mail " + std::to_string(i));
    ASSERT_TRUE(written.ok()) << written.error;
    paths.push_back(written.path);
  }
  ::umask(saved);
  const std::regex name(R"(\d{8}-\d{6}-\d+-[0-9a-f]{8}\.eml)");
  for (std::size_t i = 0; i < paths.size(); ++i) {
    EXPECT_TRUE(std::regex_match(paths[i].substr(dir.path().size() + 1), name)) << paths[i];
    EXPECT_EQ(StatOf(paths[i]).st_mode & 07777, 0640u) << "umask 077 must not matter";
    EXPECT_EQ(test::ReadFile(paths[i]), "mail " + std::to_string(i));
  }
  EXPECT_EQ(ListSpoolNames(dir.path(), "*.eml").size(), 20u);

  // The durable write underneath never replaces a mail that holds the name.
  DurableWriteOptions noReplace;
  noReplace.failIfExists = true;
  EXPECT_TRUE(WriteFileDurably(paths[0], "other", noReplace));
  EXPECT_EQ(test::ReadFile(paths[0]), "mail 0");

  const struct {
    std::string directory, extension;
  } refused[] = {{dir / "missing", "eml"}, {"", "eml"}, {dir.path(), ""}, {dir.path(), "a/b"}};
  for (const auto& c : refused) {
    const SpoolWriteResult written = WriteSpoolFile(c.directory, c.extension, "x");
    EXPECT_FALSE(written.ok()) << c.directory << " " << c.extension;
    EXPECT_EQ(written.path, "");
  }
}

// A killed writer leaves its hidden temp file: no scan matches it, and the spooler's start
// removes it once its writer is gone.
TEST(SpoolWriterTest, TempOfAKilledWriterIsNeverClaimed) {
  test::TempDir dir;
  const pid_t child = ::fork();
  if (child == 0) {
    ::pause();
    ::_exit(0);
  }
  ASSERT_GT(child, 0);
  const std::string temp = dir / (".20261207-235959-1-00000000.eml.tmp" + std::to_string(child) + "-7");
  test::WriteFile(temp, "From: half");
  EXPECT_TRUE(ListSpoolNames(dir.path(), "*.eml").empty());
  EXPECT_EQ(RemoveAbandonedTempFiles(dir.path()), 0) << "its writer still runs";
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  EXPECT_EQ(RemoveAbandonedTempFiles(dir.path()), 1);
  EXPECT_FALSE(std::filesystem::exists(temp));
}

}  // namespace
}  // namespace pv
