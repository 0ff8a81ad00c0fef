#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "support/durable_write.h"
#include "support/textfile.h"
#include "unit/temp_dir.h"

namespace pv {
namespace {

using test::TempDir;
using test::ReadFile;

void Put(const std::string& path, const std::string& bytes) {
  ASSERT_FALSE(WriteFileDurably(path, bytes));
}

TEST(ByteOrderMark, Detection) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {std::string("\xFF\xFE" "a\0", 4), "utf16le"},
      {"\xFF\xFE", "utf32le"},  // bytes past the end count as 00
      {std::string("\0\0\xFE\xFF", 4), "utf32be"},
      {"abc", ""},
  };
  for (const auto& [bytes, expected] : cases) EXPECT_EQ(DetectByteOrderMark(bytes), expected);
}

struct ReadCase {
  std::string name;
  std::string bytes;
  std::string encoding;
  std::string expectedText;
  std::string expectedEncoding;
};

TEST(ReadTextFile, DecodesByMarkOrByName) {
  const std::vector<ReadCase> cases = {
      {"mark wins over ansi-1031", "\xEF\xBB\xBF" "Gr\xC3\xBC\xC3\x9F" "e", "ansi-1031", "Grüße", "utf8"},
      {"empty name reads 1252", "Gr\xFC\xDF" "e", "", "Grüße", ""},
      {"utf16le skips its mark", std::string("\xFF\xFE" "a\0b\0", 6), "x", "ab", "utf16le"},
      {"utf8 without a mark loses three bytes", "abcdef", "utf8", "def", "utf8"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    Put(dir / "f", c.bytes);
    std::string text, encoding = c.encoding;
    IoError error;
    ASSERT_TRUE(ReadTextFile(dir / "f", text, error, encoding)) << c.name;
    EXPECT_EQ(text, c.expectedText) << c.name;
    EXPECT_EQ(encoding, c.expectedEncoding) << c.name;
  }
}

TEST(ReadTextFile, MissingFileLengthAndPrefix) {
  TempDir dir;
  std::string text = "old", encoding;
  IoError error;
  EXPECT_FALSE(ReadTextFile(dir / "missing", text, error, encoding));
  EXPECT_EQ(error.number, kErrFileNotFound);
  EXPECT_EQ(text, "");

  Put(dir / "f", "hello");
  EXPECT_TRUE(ReadTextFile(dir / "f", text, error, encoding, -3));
  EXPECT_EQ(text, "hel");
  EXPECT_TRUE(ReadTextFile(dir / "f", text, error, encoding, 99));
  EXPECT_EQ(text, "hello");
}

struct WriteCase {
  std::string encoding;
  std::string text;
  std::string expectedBytes;
};

TEST(WriteTextFile, NewFilesCarryTheirMark) {
  const std::vector<WriteCase> cases = {
      {"utf8", "ü", "\xEF\xBB\xBF\xC3\xBC"},
      {"utf8", "", "\xEF\xBB\xBF"},  // the mark alone still tells the encoding
      {"utf16", "a", std::string("\xFF\xFE" "a\0", 4)},
      {"", "ü", "\xC3\xBC"},  // the system code page of a UTF-8 locale
  };
  TempDir dir;
  for (const auto& c : cases) {
    IoError error;
    ASSERT_TRUE(WriteTextFile(dir / "f", c.text, false, "", error, c.encoding)) << c.encoding;
    EXPECT_EQ(ReadFile(dir / "f"), c.expectedBytes) << c.encoding;
  }
}

TEST(WriteTextFile, AppendFollowsTheFilesOwnMark) {
  TempDir dir;
  IoError error;
  Put(dir / "le", std::string("\xFF\xFE" "a\0", 4));
  ASSERT_TRUE(WriteTextFile(dir / "le", "b", true, "", error, "utf8"));
  EXPECT_EQ(ReadFile(dir / "le"), std::string("\xFF\xFE" "a\0b\0", 6));

  // No mark, or no file: the system code page, whatever the caller asked for.
  ASSERT_TRUE(WriteTextFile(dir / "new", "ü", true, "", error, "utf16be"));
  ASSERT_TRUE(WriteTextFile(dir / "new", "ü", true, "", error, "ansi-1031"));
  EXPECT_EQ(ReadFile(dir / "new"), "\xC3\xBC\xC3\xBC");
}

TEST(DurableWrite, ReplacesWholeKeepsModeAndLeavesNoTempFiles) {
  TempDir dir;
  const std::string path = dir / "s.start";
  ASSERT_FALSE(WriteFileDurably(path, "one", {0600, false}));
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  ::chmod(path.c_str(), 0640);
  ASSERT_FALSE(WriteFileDurably(path, "two"));
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(ReadFile(path), "two");

  const IoError exists = WriteFileDurably(path, "three", {0644, true});
  EXPECT_TRUE(exists);
  EXPECT_EQ(ReadFile(path), "two");

  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(DurableWrite, AbandonedTempFilesOfDeadWritersAreRemoved) {
  test::TempDir dir;
  // 4194305 is above the kernel's largest pid: that writer cannot be alive.
  const std::string dead = dir / ".a.eml.tmp4194305-7";
  const std::string live = dir / (".b.eml.tmp" + std::to_string(::getpid()) + "-1");
  for (const std::string& path : {dead, live, dir / "a.eml", dir / ".c.eml.tmp12x-1"})
    ASSERT_FALSE(WriteFileDurably(path, "x"));
  EXPECT_EQ(RemoveAbandonedTempFiles(dir.path()), 1);
  EXPECT_FALSE(std::filesystem::exists(dead));
  EXPECT_TRUE(std::filesystem::exists(live));
  EXPECT_TRUE(std::filesystem::exists(dir / "a.eml"));
}

}  // namespace
}  // namespace pv
