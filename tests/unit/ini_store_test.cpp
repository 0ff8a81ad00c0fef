#include "settings/ini_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <utility>
#include <vector>

#include "settings/ini_document.h"
#include "unit/temp_dir.h"

namespace pv {
namespace {

using test::ReadFile;
using test::WriteFile;

unsigned ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// ---- The document, without files ----

const char* const kSample =
    "; settings\r\n"
    "loose=1\r\n"
    "[Spooler]\r\n"
    "  UpDelay = 90  \r\n"
    "# a comment=1\r\n"
    "Quoted=\"  a b  \"\r\n"
    "Empty=\r\n"
    "bare line\r\n"
    "UpDelay=120\r\n"
    "\r\n"
    "[ Other ]\r\n"
    "k=v\r\n"
    "[SPOOLER]\r\n"
    "Second=x\r\n";

TEST(IniDocumentTest, FindAddressesEntriesOnly) {
  const IniDocument doc = IniDocument::Parse(kSample);
  struct Case { const char* section; const char* key; std::optional<std::string> expected; };
  const Case cases[] = {
      {" spooler ", " UPDELAY ", "90"},  // trimmed, any case; the first of two wins
      {"Spooler", "Quoted", "\"  a b  \""},    // quotes are kept here
      {"Spooler", "Empty", ""},
      {"Spooler", "# a comment", std::nullopt},
      {"Spooler", "bare line", std::nullopt},
      {"Spooler", "Second", std::nullopt},     // in the later duplicate section
      {"Other", "k", "v"},
      {"", "loose", std::nullopt},             // lines before any section
      {"Missing", "k", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(doc.Find(c.section, c.key), c.expected) << c.section << "/" << c.key;
  }
}

TEST(IniDocumentTest, SerializeKeepsLinesAndUsesLf) {
  std::string expected = kSample;
  for (std::size_t pos; (pos = expected.find('\r')) != std::string::npos;) expected.erase(pos, 1);
  EXPECT_EQ(IniDocument::Parse(kSample).Serialize(), expected);
  EXPECT_EQ(IniDocument::Parse("\xEF\xBB\xBF[a]\nk=v").Serialize(), "[a]\nk=v\n");
}

TEST(IniDocumentTest, SetRewritesInPlaceOrPlacesNewKeysAndSections) {
  struct Case { const char* before; const char* section; const char* key; const char* after; };
  const Case cases[] = {
      {"[A]\n; c\nx = 1\ny=2\n\n[B]\nz=3\n", "a", "X", "[A]\n; c\nx=v\ny=2\n\n[B]\nz=3\n"},
      // after the last entry, before blank lines and comments that lead to the next section
      {"[A]\nx=1\n\n; about B\n[B]\n", "A", "new", "[A]\nx=1\nnew=v\n\n; about B\n[B]\n"},
      {"[A]\n; note\n\n[B]\n", "A", "new", "[A]\n; note\nnew=v\n\n[B]\n"},
      {"[A]\nx=1\n", "B", "new", "[A]\nx=1\n\n[B]\nnew=v\n"},
      {"", "B", "new", "[B]\nnew=v\n"},
  };
  for (const Case& c : cases) {
    IniDocument doc = IniDocument::Parse(c.before);
    ASSERT_TRUE(doc.Set(c.section, c.key, "v")) << c.before;
    EXPECT_EQ(doc.Serialize(), c.after) << c.before;
  }
}

TEST(IniDocumentTest, SetRefusesWhatWouldNotReadBack) {
  struct Case { const char* section; const char* key; std::string value; };
  const Case cases[] = {
      {"A", "k", "line\nbreak"}, {"A", "k", std::string("nul\0x", 5)}, {"A", "k=j", "v"},
      {"A", ";k", "v"},          {"A]", "k", "v"},
  };
  for (const Case& c : cases) {
    IniDocument doc = IniDocument::Parse("[A]\nk=old\n");
    EXPECT_FALSE(doc.Set(c.section, c.key, c.value)) << c.section << "/" << c.key;
    EXPECT_EQ(doc.Serialize(), "[A]\nk=old\n");
  }
}

TEST(IniDocumentTest, StripEnclosingQuotes) {
  const std::pair<const char*, const char*> cases[] = {
      {"\"abc\"", "abc"}, {"'abc'", "abc"}, {"\"", "\""}, {"\"abc'", "\"abc'"},
      {"''x''", "'x'"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(StripEnclosingQuotes(in), out) << in;
}

// ---- Conversions ----

TEST(SettingConversionTest, TextToLong) {
  const std::pair<const char*, std::int32_t> cases[] = {
      {"90", 90},  {"abc", 0}, {"  12abc", 12}, {"2.5", 2}, {"3.5", 4}, {"1.5E+1", 15},
      {"2147483647", 2147483647}, {"2147483648", 0}, {"-2147483648", -2147483647 - 1},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(SettingTextToLong(text), value) << text;
}

TEST(SettingConversionTest, TextToBool) {
  for (const char* text : {"WAHR", "True", "1", "-1"}) {
    EXPECT_TRUE(SettingTextToBool(text)) << text;
  }
  for (const char* text : {"yes", "", "2", " 1"}) {
    EXPECT_FALSE(SettingTextToBool(text)) << text;
  }
}

// ---- The file operations ----

class IniStoreTest : public ::testing::Test {
 protected:
  test::TempDir dir_;
  std::string file_ = dir_ / "pvx.start";
};

TEST_F(IniStoreTest, ReadsAsTheProfileFunctionsDo) {
  WriteFile(file_, "\xEF\xBB\xBF[Spooler]\r\nName =  \"  quoted \"  \r\nSingle='x'\r\n"
                  "Empty=\r\nAnsi=M\xFC" "ller\r\n");
  struct Case { const char* key; const char* expected; };
  const Case cases[] = {
      {"name", "  quoted "}, {"SINGLE", "x"}, {"Empty", ""},
      {"Ansi", "M\xC3\xBCller"},  // a line that is not UTF-8 reads as code page 1252
      {"Missing", "dflt"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReadSettingString(file_, "spooler", c.key, "dflt"), c.expected) << c.key;
  }
  EXPECT_EQ(ReadSettingString(dir_ / "none.start", "Spooler", "Name", "dflt"), "dflt");
}

TEST_F(IniStoreTest, LongValuesAreCut) {
  std::string umlauts;
  for (int i = 0; i < 32000; ++i) umlauts += "\xC3\xA4";  // counted as characters, not bytes
  ASSERT_TRUE(WriteSettingString(file_, "S", "k", "\"" + umlauts + "\""));
  EXPECT_EQ(ReadSettingString(file_, "S", "k", ""), umlauts.substr(0, 2 * kSettingReadLimit));
  EXPECT_EQ(ReadSettingString(file_, "S", "missing", std::string(40000, 'd')).size(),
            kSettingReadLimit);
}

TEST_F(IniStoreTest, NumbersAndBooleans) {
  WriteFile(file_, "[S]\nempty=\nnum=90\nflag=WAHR\n");
  EXPECT_EQ(ReadSettingLong(file_, "S", "empty", 60), 0);  // present: not the default
  EXPECT_EQ(ReadSettingLong(file_, "S", "missing", -60), -60);
  EXPECT_FALSE(ReadSettingBool(file_, "S", "empty", true));
  EXPECT_TRUE(ReadSettingBool(file_, "S", "missing", true));
}

TEST_F(IniStoreTest, WriteCreatesFileWithPrivateModeAndKeepsExistingMode) {
  ASSERT_TRUE(WriteSettingString(file_, "Settings", "DefaultSpoolDir", "/var/spool/pv/"));
  EXPECT_EQ(ReadFile(file_), "[Settings]\nDefaultSpoolDir=/var/spool/pv/\n");
  EXPECT_EQ(ModeOf(file_), 0600u);

  ASSERT_EQ(::chmod(file_.c_str(), 0640), 0);
  ASSERT_TRUE(WriteSettingString(file_, "settings", "defaultspooldir", "/tmp/"));
  EXPECT_EQ(ReadFile(file_), "[Settings]\nDefaultSpoolDir=/tmp/\n");  // the stored key spelling
  EXPECT_EQ(ModeOf(file_), 0640u);
}

// Odd documents as editors leave them: a write reads back and changes no other entry.
TEST(IniStoreOddDocuments, AWriteChangesOnlyItsKey) {
  test::TempDir dir;
  const std::string file = dir / "odd.start";
  const std::pair<const char*, std::string> documents[] = {
      {"CR CR LF", "[S]\r\r\nk=v\r\r\nq=2\r\r\n"},
      {"lone CR", "[S]\rk=v\rq=2\r"},
      {"doubled mark", "\xEF\xBB\xBF\xEF\xBB\xBF[S]\nk=v\nq=2\n"},
      {"duplicate sections", "[S]\nk=v\n[T]\nq=1\n[s]\nk=shadowed\nq=late\n"},
      {"no line end", "[S]\nk=v"},
  };
  const std::pair<const char*, const char*> probes[] = {{"S", "k"}, {"S", "q"}, {"T", "q"}};
  const auto readAll = [&] {
    std::map<std::string, std::string> values;
    for (const auto& [section, key] : probes)
      values[std::string(section) + "/" + key] = ReadSettingString(file, section, key, "-");
    return values;
  };
  for (const auto& [name, text] : documents) {
    for (const auto& [section, key] : probes) {
      WriteFile(file, text);
      std::map<std::string, std::string> expected = readAll();
      ASSERT_TRUE(WriteSettingString(file, section, key, "x=y;z")) << name;
      expected[std::string(section) + "/" + key] = "x=y;z";
      EXPECT_EQ(readAll(), expected) << name << ": " << section << "/" << key << "\n"
                                     << ReadFile(file);
    }
  }
}

}  // namespace
}  // namespace pv
