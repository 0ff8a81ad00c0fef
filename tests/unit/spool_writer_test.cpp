// The spool writer as the spooler and a member of the service's group meet it.
#include "scripting/spool_writer.h"

#include <grp.h>
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

constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;

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

// The service's spool (mode 3730, setgid): a group member may write but not list it, so the
// directory cannot be opened for its fsync; the file still arrives, group-readable.
TEST(SpoolWriterTest, GroupMemberWritesIntoTheServiceSpool) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  test::TempDir dir;
  const std::string spool = dir / "spool";
  ASSERT_EQ(::mkdir(spool.c_str(), 0700), 0);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(::chown(spool.c_str(), 0, kNogroup), 0);
  ASSERT_EQ(::chmod(spool.c_str(), 03730), 0);
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[0]);
    const gid_t groups[] = {kNogroup};
    if (::setgroups(1, groups) != 0 || ::setgid(kNogroup) != 0 || ::setuid(kNobody) != 0)
      ::_exit(2);
    ::umask(077);
    const SpoolWriteResult written = WriteSpoolFile(spool, "eml", "From: a@b.example\r\n");
    const std::string report = written.ok() ? written.path : "ERROR " + written.error;
    (void)!::write(fds[1], report.data(), report.size());
    ::_exit(written.ok() ? 0 : 1);
  }
  ::close(fds[1]);
  std::string report;
  char buffer[512];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) report.append(buffer, n);
  ::close(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << report;
  const struct stat st = StatOf(report);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(st.st_gid, kNogroup) << "the setgid directory's group";
  EXPECT_EQ(ListSpoolNames(spool, "*.eml").size(), 1u);
}

}  // namespace
}  // namespace pv
