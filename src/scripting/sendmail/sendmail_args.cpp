#include "scripting/sendmail/sendmail_args.h"

#include <string_view>

#include "support/text.h"

namespace pv {
namespace {

// Letters that take a value, attached ("-fADDR") or as the next argument ("-f ADDR").
constexpr std::string_view kValueLetters = "fFrBNRVob";

std::string Option(char letter, std::string_view value = {}) {
  return "-" + std::string(1, letter) + std::string(value);
}

std::string SetMode(SendmailMode mode, SendmailOptions& o) {
  if (o.mode != SendmailMode::Submit && o.mode != mode) return "-q and -bp exclude each other";
  o.mode = mode;
  return {};
}

// "-oX": the sendmail options that callers pass. Only "i" changes anything here.
std::string ApplyOption(std::string_view value, SendmailOptions& o) {
  if (value == "i") {
    o.dotIsData = true;
    return {};
  }
  // m: "me too"; eX: how errors are told (the spooler's return mail tells them);
  // dX: the delivery mode (the spooler always delivers in the background).
  const bool errorMode = value.size() == 2 && value[0] == 'e' &&
                         std::string_view("meqpw").find(value[1]) != std::string_view::npos;
  const bool deliveryMode = value.size() == 2 && value[0] == 'd' &&
                            std::string_view("ibqd").find(value[1]) != std::string_view::npos;
  if (value == "m" || errorMode || deliveryMode) return {};
  return "unknown option " + Option('o', value);
}

std::string ApplyMode(std::string_view value, SendmailOptions& o) {
  if (value == "m") return {};  // deliver mail the usual way: what this command does anyway
  if (value == "p") return SetMode(SendmailMode::ListQueue, o);
  if (value == "s")
    return "-bs (SMTP on standard input) is not supported; pass the mail with -t instead";
  return "unsupported option " + Option('b', value);
}

// The return address as given: a bare address, or one in angle brackets; "<>" is none.
std::string SenderOf(std::string_view value) {
  std::string_view v = Trim(value, " \t");
  if (v.size() >= 2 && v.front() == '<' && v.back() == '>') v = Trim(v.substr(1, v.size() - 2));
  return std::string(v);
}

std::string ApplyValue(char letter, const std::string& value, SendmailOptions& o) {
  switch (letter) {
    case 'f':
    case 'r':  // -r is sendmail's older name for -f
      o.senderGiven = true;
      o.sender = SenderOf(value);
      return {};
    case 'F':
      o.fullNameGiven = true;
      o.fullName = std::string(Trim(value, " \t"));
      return {};
    case 'B':  // the body type: the spooler sends 8-bit bodies as they are or converts them
      if (EqualsNoCase(value, "7BIT") || EqualsNoCase(value, "8BITMIME")) return {};
      return "-B takes 7BIT or 8BITMIME, not \"" + value + "\"";
    case 'N':  // delivery status notifications, the return of the content, the envelope id:
    case 'R':  // the spooler's own return mail reports failures
    case 'V':
      return {};
    case 'o':
      return ApplyOption(value, o);
    default:  // 'b'
      return ApplyMode(value, o);
  }
}

std::string ApplyFlag(char letter, bool hasMore, SendmailOptions& o) {
  switch (letter) {
    case 't': o.recipientsFromHeaders = true; return {};
    case 'i': o.dotIsData = true; return {};
    case 'v': return {};  // verbose: there is no conversation to show
    case 'm': return {};  // "me too", as -om
    case 'q':
      if (hasMore) return "-q with a queue interval is not supported; -q alone asks for a run";
      return SetMode(SendmailMode::SpoolNow, o);
    default: return "unknown option " + Option(letter);
  }
}

class ArgsParser {
 public:
  explicit ArgsParser(const std::vector<std::string>& args) : args_(args) {}

  SendmailArgsResult Run() {
    std::size_t i = 0;
    for (; i < args_.size() && result_.ok(); ++i) {
      const std::string& arg = args_[i];
      if (arg == "--") { ++i; break; }
      if (arg.size() < 2 || arg[0] != '-') break;
      i = TakeGroup(i);
    }
    if (!result_.ok()) return result_;
    SendmailOptions& o = result_.options;
    o.recipients.assign(args_.begin() + static_cast<std::ptrdiff_t>(std::min(i, args_.size())),
                        args_.end());
    if (o.mode != SendmailMode::Submit && !o.recipients.empty())
      result_.error = "-q and -bp take no recipients";
    return result_;
  }

 private:
  // One argument of option letters; a letter that takes a value ends it. Gives the index of
  // the last argument used.
  std::size_t TakeGroup(std::size_t i) {
    const std::string& arg = args_[i];
    for (std::size_t pos = 1; pos < arg.size(); ++pos) {
      const char letter = arg[pos];
      if (kValueLetters.find(letter) == std::string_view::npos) {
        result_.error = ApplyFlag(letter, pos + 1 < arg.size(), result_.options);
        if (!result_.ok()) return i;
        continue;
      }
      std::string value = arg.substr(pos + 1);
      if (value.empty()) {
        if (++i >= args_.size()) {
          result_.error = "option " + Option(letter) + " needs a value";
          return i;
        }
        value = args_[i];
      }
      result_.error = ApplyValue(letter, value, result_.options);
      return i;
    }
    return i;
  }

  const std::vector<std::string>& args_;
  SendmailArgsResult result_;
};

}  // namespace

SendmailArgsResult ParseSendmailArgs(const std::vector<std::string>& args) {
  return ArgsParser(args).Run();
}

}  // namespace pv
