#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "scripting/sendmail/sendmail_run.h"
#include "support/exit_codes.h"

namespace pv {
namespace {

const LocalDateTime kNow = LocalDateTime::FromCivil(2026, 12, 7, 10, 0, 0);

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
