#pragma once
// `postvane-spool`: the scripting library as a command, and, called as "sendmail", the
// sendmail front end writing into the spool of the spooler that will read it.
#include <istream>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace pv {

// args without the program name; the body of "mail" comes from in. The exit code
// (SpoolToolExitCode).
int RunSpoolTool(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                 std::ostream& err);

// `sendmail ARGS` with the spool target, the spool writer, the run request and the queue
// listing of this system. The exit code (SendmailExitCode).
int RunSendmailCommand(const std::vector<std::string>& args, std::istream& in,
                       std::ostream& err);

// Whether argv[0] (any directory) is "sendmail".
bool CalledAsSendmail(std::string_view programPath);

// The process: picks the front end by argv[0].
int RunSpoolToolMain(int argc, char** argv);

}  // namespace pv
