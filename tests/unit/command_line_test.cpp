#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/command_line.h"
#include "shell/deliver_command.h"

namespace pv {
namespace {

struct ParseCase {
  std::vector<std::string> args;
  Command command;
  std::string file;
};

TEST(CommandLine, CommandsSwitchesAndUsageErrors) {
  const std::vector<ParseCase> cases = {
      {{}, Command::RunSpooler, ""},
      {{"whatever"}, Command::RunSpooler, ""},  // left to the switch search, as before
      {{"--help"}, Command::Help, ""},
      {{"--status", "--spool-now"}, Command::Status, ""},  // the first command wins
      {{"--deliver", "a.eml"}, Command::Deliver, "a.eml"},
      {{"--deliver", "service=1"}, Command::Deliver, "service=1"},  // the file is the next argument
      {{"-t", "-i"}, Command::UsageError, ""},
      {{"--help", "--bogus"}, Command::UsageError, ""},  // checked before anything runs
      {{"service=1", "--Status"}, Command::UsageError, ""},  // options are exact
      {{"--deliver=a.eml"}, Command::UsageError, ""},
      {{"--check-config"}, Command::CheckConfig, ""},
      {{"--set-password", "relay", "--service"}, Command::SetPassword, "relay"},
      {{"--set-password", "secret"}, Command::UsageError, ""},  // never the password itself
  };
  for (const ParseCase& c : cases) {
    std::string shown;
    for (const std::string& arg : c.args) shown += "[" + arg + "]";
    const CommandLine line = ParseCommandLine(c.args);
    EXPECT_EQ(line.command, c.command) << shown;
    EXPECT_EQ(line.file, c.file) << shown;
    EXPECT_EQ(line.error.empty(), c.command != Command::UsageError) << shown << line.error;
  }
}

struct ExitCase {
  bool delivered;
  std::string recipients, served, refused;
  int code;
};

std::string Entries(const std::vector<std::string>& items) {
  std::string list;
  for (const std::string& item : items) list += (list.empty() ? "" : std::string(1, '\0')) + item + "\t250 ok";
  return list;
}

TEST(DeliverCommand, ExitCodeOfAnAttempt) {
  const std::vector<ExitCase> cases = {
      {true, "a@x.test", Entries({"a@x.test"}), "", kDeliverDelivered},
      {false, "a@x.test", "", Entries({"a@x.test"}), kDeliverPermanentFailure},
      // One refused, one failed for now: a later attempt may still reach it.
      {false, "a@x.test,b@x.test", "", Entries({"a@x.test"}), kDeliverTemporaryFailure},
      // No recipient was answered at all (no connection, say).
      {false, "a@x.test", "", "", kDeliverTemporaryFailure},
      // A display name with a comma is two items of one mailbox: both are refused.
      {false, "\"Lee, Ann\" <a@x.test>", "", Entries({"\"Lee", " Ann\" <a@x.test>"}),
       kDeliverPermanentFailure},
      // Refused once per mailbox while the list has two items: not sure, so temporary.
      {false, "\"Lee, Ann\" <a@x.test>,b@x.test", Entries({"b@x.test"}), Entries({"a@x.test"}),
       kDeliverTemporaryFailure},
  };
  for (const ExitCase& c : cases)
    EXPECT_EQ(DeliveryExitCode(c.delivered, c.recipients, c.served, c.refused), c.code)
        << c.recipients;
}

}  // namespace
}  // namespace pv

// ---- The queue tools ----------------------------------------------------------------------

namespace pv {
namespace {

TEST(CommandLine, QueueToolsTakeTheirMailsAndModifiers) {
  using Files = std::vector<std::string>;
  const struct {
    std::vector<std::string> args;
    Command command;
    Files files;
    bool json, all, service;
  } cases[] = {
      {{"--queue"}, Command::Queue, {}, false, false, false},
      {{"--delete", "a.eml", "/s/b.eml"}, Command::Delete, {"a.eml", "/s/b.eml"}, false, false, false},
      {{"--release", "a.eml.hold", "--service"}, Command::Release, {"a.eml.hold"}, false, false, true},
      {{"--retry-now", "--all"}, Command::RetryNow, {}, false, true, false},
      {{"--queue", "a.eml"}, Command::UsageError, {}, false, false, false},
      {{"--hold", "service=1"}, Command::UsageError, {}, false, false, false},
      {{"--delete", "a.eml", "--json"}, Command::UsageError, {}, false, false, false},
      {{"--status", "--service"}, Command::UsageError, {}, false, false, false},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const std::string& arg : c.args) shown += "[" + arg + "]";
    const CommandLine line = ParseCommandLine(c.args);
    EXPECT_EQ(line.command, c.command) << shown;
    EXPECT_EQ(line.error.empty(), c.command != Command::UsageError) << shown << line.error;
    if (c.command == Command::UsageError) continue;
    EXPECT_EQ(line.files, c.files) << shown;
    EXPECT_EQ(line.json, c.json) << shown;
    EXPECT_EQ(line.all, c.all) << shown;
    EXPECT_EQ(line.service, c.service) << shown;
  }
  EXPECT_TRUE(CalledAsMailq("/usr/bin/mailq"));
  EXPECT_FALSE(CalledAsMailq("/usr/bin/postvane"));
}

}  // namespace
}  // namespace pv
