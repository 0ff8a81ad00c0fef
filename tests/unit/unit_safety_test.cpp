#include "service/unit_safety.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "unit/temp_dir.h"

namespace pv {
namespace {

namespace fs = std::filesystem;

TEST(UnitSafety, ExecStartProgram) {
  struct Case { const char* name; const char* text; const char* program; };
  const Case cases[] = {
      {"plain", "[Service]\nExecStart=/usr/bin/postvane service=1\n", "/usr/bin/postvane"},
      {"quoted", "[Service]\nExecStart=\"/opt/my apps/postvane\" service=1\n", "/opt/my apps/postvane"},
      {"single quotes", "[Service]\nExecStart='/opt/my apps/postvane'\n", "/opt/my apps/postvane"},
      {"specifier escape", "[Service]\nExecStart=\"/opt/100%% x/postvane\"\n", "/opt/100% x/postvane"},
      {"prefixes", "[Service]\nExecStart=-+/usr/bin/postvane\n", "/usr/bin/postvane"},
      {"blanks around", "[Service]\n  ExecStart = /usr/bin/postvane \n", "/usr/bin/postvane"},
      {"reset first", "[Service]\nExecStart=\nExecStart=/usr/bin/b\n", "/usr/bin/b"},
      {"first wins", "[Service]\nExecStart=/usr/bin/a\nExecStart=/usr/bin/b\n", "/usr/bin/a"},
      {"other section", "[Unit]\nExecStart=/tmp/x\n[Service]\nExecStart=/usr/bin/p\n", "/usr/bin/p"},
      {"commented", "[Service]\n#ExecStart=/tmp/x\nExecStart=/usr/bin/p\n", "/usr/bin/p"},
      {"other key", "[Service]\nExecStartPre=/tmp/x\nExecStart=/usr/bin/p\n", "/usr/bin/p"},
      {"none", "[Service]\nType=notify\n", ""},
      {"outside Service", "[Unit]\nExecStart=/usr/bin/p\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ExecStartProgram(c.text), c.program);
  }
}

// A scratch directory below the build tree, whose directories above belong to root or to the
// user running the tests and are not writable by others (a directory below /tmp never is).
class UnitSafetyFiles : public testing::Test {
 protected:
  void SetUp() override {
    trusted_ = ::geteuid();
    base_ = fs::path(POSTVANE_TEST_SCRATCH_DIR) / ("unit-safety-" + std::to_string(::getpid()));
    fs::create_directories(base_ / "bin");
    ::chmod(base_.c_str(), 0755);
    ::chmod((base_ / "bin").c_str(), 0755);
    program_ = (base_ / "bin/postvane").string();
    test::WriteFile(program_, "#!/bin/sh\n");
    ::chmod(program_.c_str(), 0755);
    unit_ = (base_ / "PostvaneSpooler.service").string();
    test::WriteFile(unit_, "[Service]\nExecStart=\"" + program_ + "\" service=1\n");
    ::chmod(unit_.c_str(), 0644);
    const std::string above = PathSafetyProblem(base_.parent_path().string(), trusted_);
    if (!above.empty()) GTEST_SKIP() << "the build tree itself is not safe: " << above;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(base_, ignored);
  }

  uid_t trusted_ = 0;
  fs::path base_;
  std::string program_;
  std::string unit_;
};

TEST_F(UnitSafetyFiles, SafeWhenNobodyElseCanWrite) {
  EXPECT_EQ(UnitSafetyProblem(unit_, trusted_), "");
}

TEST_F(UnitSafetyFiles, RefusesWhatOthersCanWrite) {
  struct Case { const char* name; std::string path; mode_t mode; };
  const Case cases[] = {
      {"unit file writable by all", unit_, 0646},
      {"program writable by all", program_, 0757},
      {"program's directory writable by all", (base_ / "bin").string(), 0777},
      {"both files' directory group-writable", base_.string(), 0775},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    struct stat before {};
    ASSERT_EQ(::stat(c.path.c_str(), &before), 0);
    ::chmod(c.path.c_str(), c.mode);
    const std::string problem = UnitSafetyProblem(unit_, trusted_);
    if ((c.mode & S_IWOTH) == 0 && before.st_gid == 0) {
      // Root's own group may write: that is root.
      EXPECT_EQ(problem, "");
    } else {
      EXPECT_NE(problem.find(c.path), std::string::npos) << problem;
    }
    ::chmod(c.path.c_str(), before.st_mode & 07777);
  }
  EXPECT_EQ(UnitSafetyProblem(unit_, trusted_), "");
}

TEST_F(UnitSafetyFiles, RefusesAWritableGroupOtherThanRoots) {
  // Root may hand the directory to another group (nogroup); anyone else has a group of their own.
  if (trusted_ == 0) {
    ASSERT_EQ(::chown(base_.c_str(), static_cast<uid_t>(-1), 65534), 0);
  }
  struct stat info {};
  ASSERT_EQ(::stat(base_.c_str(), &info), 0);
  if (info.st_gid == 0) GTEST_SKIP() << "the scratch directory belongs to root's group";
  EXPECT_EQ(UnitSafetyProblem(unit_, trusted_), "");
  ::chmod(base_.c_str(), 0775);
  const std::string problem = UnitSafetyProblem(unit_, trusted_);
  EXPECT_NE(problem.find(base_.string() + " is writable by group"), std::string::npos) << problem;
}

TEST_F(UnitSafetyFiles, RefusesALinkIntoAWritablePlace) {
  // The program name leads through a symbolic link to a directory anyone may write.
  const fs::path open = base_ / "open";
  fs::create_directories(open);
  ::chmod(open.c_str(), 0777);
  test::WriteFile((open / "postvane").string(), "#!/bin/sh\n");
  ::chmod((open / "postvane").c_str(), 0755);
  fs::create_directory_symlink(open, base_ / "linked");
  test::WriteFile(unit_, "[Service]\nExecStart=" + (base_ / "linked/postvane").string() + "\n");
  EXPECT_NE(UnitSafetyProblem(unit_, trusted_).find(open.string()), std::string::npos);
}

TEST_F(UnitSafetyFiles, RefusesOtherOwnersAndOddPrograms) {
  // Owned by root and nobody else: the files of this scratch directory count as another's.
  if (trusted_ != 0) {
    EXPECT_NE(UnitSafetyProblem(unit_, 0), "");
  }
  test::WriteFile(unit_, "[Service]\nExecStart=postvane service=1\n");
  EXPECT_NE(UnitSafetyProblem(unit_, trusted_).find("no absolute program"), std::string::npos);
  test::WriteFile(unit_, "[Service]\nExecStart=" + (base_ / "missing").string() + "\n");
  EXPECT_NE(UnitSafetyProblem(unit_, trusted_), "");
  EXPECT_NE(UnitSafetyProblem((base_ / "no.service").string(), trusted_), "");
  EXPECT_NE(PathSafetyProblem("relative/path", trusted_), "");
  // A root directory chain a user cannot write: the system's own shell.
  EXPECT_EQ(PathSafetyProblem("/bin/sh"), "");
}

}  // namespace
}  // namespace pv
