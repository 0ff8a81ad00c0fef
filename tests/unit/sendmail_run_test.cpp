#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "engine/spool_file.h"
#include "scripting/sendmail/sendmail_run.h"
#include "support/exit_codes.h"
#include "support/text.h"
#include "transport/wire_data.h"

namespace pv {
namespace {

const LocalDateTime kNow = LocalDateTime::FromCivil(2026, 12, 7, 10, 0, 0);

// A sendmail call with recording services.
struct Call {
  std::vector<std::string> written;
  int runs = 0, listings = 0;
  int writeResult = 0;
  bool spoolerReachable = true;
  std::string err;

  int Run(const std::vector<std::string>& args, const std::string& input) {
    const SendmailServices services{
        [this](std::string_view bytes, std::string& error) {
          if (writeResult != 0) {
            error = "cannot write the spool file";
            return writeResult;
          }
          written.emplace_back(bytes);
          return 0;
        },
        [this](std::string& error) {
          ++runs;
          if (!spoolerReachable) error = "no spooler is running";
          return spoolerReachable;
        },
        [this] { return ++listings, 0; }};
    std::istringstream in(input);
    std::ostringstream errors;
    const SendmailContext context{"alice", "", "host.test", "admin@x.test", kNow, 60};
    const int code = RunSendmail(args, in, context, services, errors);
    err = errors.str();
    return code;
  }
};

struct CallerCase {
  std::string caller;
  std::vector<std::string> args;
  std::string input;
  std::string due;       // who the engine sends to
  std::string returnTo;  // X-pvx-ReturnTo
  std::string hidden;    // must not be in the sent header
  std::string body;      // the body as the engine sends it
};

TEST(SendmailRun, TheFourCallers) {
  const std::vector<CallerCase> cases = {
      {"PHP mail()", {"-t", "-i"},
       "To: a@x.test\nSubject: Order 17\nFrom: shop@x.test\nBcc: audit@x.test\n\nline\n.\nend\n",
       "a@x.test, audit@x.test", "", "audit@x.test", "line\r\n.\r\nend\r\n"},
      {"Debian cron", {"-FCronDaemon", "-i", "-B8BITMIME", "-oem", "root"},
       "From: root (Cron Daemon)\nTo: root\nSubject: Cron <root@h> /usr/bin/job\n"
       "MIME-Version: 1.0\nContent-Type: text/plain; charset=UTF-8\n"
       "Content-Transfer-Encoding: 8bit\nX-Cron-Env: <SHELL=/bin/sh>\n\nfertig \xC3\xBC\n",
       "admin@x.test", "", "", "fertig \xC3\xBC\r\n"},
      {"mail(1)", {"-i", "--", "a@x.test", "hidden@y.test"},
       "To: a@x.test\nSubject: hello\n\nhi\n", "a@x.test, hidden@y.test", "", "hidden@y.test",
       "hi\r\n"},
      {"git send-email", {"-i", "-f", "dev@x.test", "list@x.test", "rev@y.test"},
       "From: Dev <dev@x.test>\nTo: list@x.test\nCc: Rev <rev@y.test>, other@z.test\n"
       "Subject: [PATCH] fix\nDate: Mon, 7 Dec 2026 09:00:00 +0000\nMessage-ID: <p1@x.test>\n"
       "MIME-Version: 1.0\n\n---\n.\n-- \n2.39.5\n",
       "list@x.test, Rev <rev@y.test>", "dev@x.test", "", "---\r\n.\r\n-- \r\n2.39.5\r\n"},
  };
  for (const CallerCase& c : cases) {
    SCOPED_TRACE(c.caller);
    Call call;
    ASSERT_EQ(call.Run(c.args, c.input), 0) << call.err;
    ASSERT_EQ(call.written.size(), 1u);
    EXPECT_EQ(call.runs, 1);
    EXPECT_EQ(call.err, "");
    SpoolFile f;
    ParseSpoolText(call.written.front(), kNow, f);
    EXPECT_EQ(RecipientsOf(f), c.due);
    EXPECT_EQ(f.ReturnTo, c.returnTo);
    EXPECT_EQ(f.Body(), c.body);
    const std::string wire = PrepareWireData(MailTextOf(f)).bytes;
    const std::string headers = wire.substr(0, wire.find("\r\n\r\n"));
    // As a header name: the random Message-ID may hold the letters.
    EXPECT_EQ(FindNoCase("\r\n" + headers, "\r\nbcc:"), std::string::npos) << headers;
    if (!c.hidden.empty()) {
      EXPECT_EQ(headers.find(c.hidden), std::string::npos) << headers;
    }
  }
}

struct OutcomeCase {
  std::vector<std::string> args;
  std::string input;
  int writeResult;
  bool spoolerReachable;
  int code;
  std::string err;  // a part of what is said; "" for silence
  int written, runs, listings;
};

TEST(SendmailRun, ExitCodesAndRequests) {
  const std::vector<OutcomeCase> cases = {
      {{"-x"}, "", 0, true, kUsageErrorExit, "sendmail: unknown option -x\nusage:", 0, 0, 0},
      {{}, "To: a@x.test\n\nb\n", 0, true, kUsageErrorExit, "no recipients", 0, 0, 0},
      {{"-t"}, std::string("To: a@x.test\n\n\0\n", 16), 0, true, kSendmailDataError, "NUL", 0, 0,
       0},
      {{"-t"}, "Subject: s\n\nb\n", 0, true, kSendmailDataError, "no recipients", 0, 0, 0},
      {{"-t"}, "To: a@x.test\n\nb\n", kSendmailCannotSpool, true, kSendmailCannotSpool,
       "sendmail: cannot write the spool file", 0, 0, 0},
      // Spooled is spooled: the spooler's timer sends it when it cannot be asked.
      {{"-t"}, "To: a@x.test\n\nb\n", 0, false, 0, "its next run sends it", 1, 1, 0},
      {{"-q"}, "To: a@x.test\n\nb\n", 0, true, 0, "", 0, 1, 0},
      {{"-q"}, "", 0, false, kSendmailTempFail, "no spooler is running", 0, 1, 0},
      {{"-bp"}, "", 0, true, 0, "", 0, 0, 1},
  };
  for (const OutcomeCase& c : cases) {
    SCOPED_TRACE(c.args.empty() ? std::string("(none)") : c.args.front());
    Call call;
    call.writeResult = c.writeResult;
    call.spoolerReachable = c.spoolerReachable;
    EXPECT_EQ(call.Run(c.args, c.input), c.code);
    if (c.err.empty()) {
      EXPECT_EQ(call.err, "");
    } else {
      EXPECT_NE(call.err.find(c.err), std::string::npos) << call.err;
    }
    EXPECT_EQ(static_cast<int>(call.written.size()), c.written);
    EXPECT_EQ(call.runs, c.runs);
    EXPECT_EQ(call.listings, c.listings);
  }
}

}  // namespace
}  // namespace pv
