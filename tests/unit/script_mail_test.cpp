// Mails of the scripting object, read back by the spool engine's own reader.
#include "scripting/script_mail.h"

#include <gtest/gtest.h>

#include <functional>

#include "engine/spool_directory.h"
#include "engine/spool_file.h"
#include "temp_dir.h"

namespace pv {
namespace {

struct MailCase {
  const char* name;
  std::function<bool(ScriptMail&)> build;  // after NewTextMail; false: a step was refused
  std::string refused;                     // the refusal or Spool error; "" for a spool file
  std::function<void(const SpoolFile&)> check;
};

TEST(ScriptMailTest, SpoolFilesAsTheEngineReadsThem) {
  const LocalDateTime christmas = LocalDateTime::FromCivil(2026, 12, 24, 18, 30);
  const std::vector<MailCase> cases = {
      {"Cc, Bcc, control headers and an extra header",
       [&](ScriptMail& m) {
         m.SetCc("c@c.example");
         m.SetBcc("Hidden <h@h.example>");
         m.SetSendAfter(christmas);
         return m.SetReturnTo("bounce@a.example") && m.AddHeader("X-Job", "nightly");
       },
       "",
       [&](const SpoolFile& f) {
         EXPECT_EQ(f.Cc, "c@c.example");
         EXPECT_EQ(f.Bcc, "Hidden <h@h.example>");
         EXPECT_EQ(f.SendAfter, christmas);
         EXPECT_EQ(f.ReturnTo, "bounce@a.example");
         EXPECT_NE(f.SendHeaders.find("X-Job: nightly"), std::string::npos);
         EXPECT_EQ(f.SendHeaders.find("Bcc"), std::string::npos);
       }},
      {"empty From", [](ScriptMail& m) { return m.NewTextMail("s", " ", "b@b.example", ""); },
       "'From' field can not be empty.", nullptr},
      {"invalid recipient", [](ScriptMail& m) { m.SetBcc("nobody"); return true; },
       "Bcc: invalid address", nullptr},
      {"line break in a header", [](ScriptMail& m) { return m.AddHeader("X-A", "1\r\nBcc: x@y.example"); },
       "line break", nullptr},
      {"the spooler's own headers", [](ScriptMail& m) { return m.AddHeader("X-pvx-Retry", "0"); },
       "the spooler's own", nullptr},
      {"unreadable attachment", [](ScriptMail& m) { return m.AddAttachment("/nonexistent/a.pdf"); },
       "cannot read the attachment", nullptr},
  };
  for (const MailCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    ScriptMail mail;
    mail.SetTarget(dir.path(), "eml");
    ASSERT_TRUE(mail.NewTextMail("Report", "a@a.example", "b@b.example", "Body\n"));
    const bool built = c.build(mail);
    const bool spooled = built && mail.Spool();
    const std::vector<std::string> files = ListSpoolNames(dir.path(), "*.eml");
    if (!c.refused.empty()) {
      EXPECT_FALSE(spooled);
      EXPECT_NE(mail.LastResultMsg().find(c.refused), std::string::npos) << mail.LastResultMsg();
      EXPECT_TRUE(files.empty()) << "nothing written";
      continue;
    }
    ASSERT_TRUE(spooled) << mail.LastResultMsg();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(mail.LastResultMsg(), dir / files[0]);
    std::string text, encoding;
    IoError error;
    ASSERT_TRUE(ReadSpoolText(mail.LastResultMsg(), text, encoding, error)) << error.text;
    const std::string_view header = HeaderBlockOf(text);
    for (unsigned char ch : header) ASSERT_LT(ch, 0x80) << "headers are ASCII";
    SpoolFile file;
    ParseSpoolText(text, LocalDateTime::Now(), file);
    EXPECT_EQ(file.To, "b@b.example");
    c.check(file);
  }
}

}  // namespace
}  // namespace pv
