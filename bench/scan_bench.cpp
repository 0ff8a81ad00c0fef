// bench_spool_scan: the cost of a spool run over many mails that are not yet due.
//
// Fills a scratch spool directory with mails whose X-pvx-SendAfter lies a year ahead, then
// times SpoolEngine::RunSpoolCycle over them a few times. Every file is claimed, read, parsed
// and given back; nothing may be delivered or reported. Afterwards every file must still be
// there under its own name, byte for byte, and no working file may be left.
//
// usage: bench_spool_scan [FILES [REPEATS [PARENT_DIR]]]   (10000, 5, $TMPDIR or /tmp)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "reporting_api/notifier.h"
#include "reporting_api/result_reporter.h"
#include "engine/spool_engine.h"
#include "support/date_time.h"
#include "support/durable_write.h"

namespace pv::bench {
namespace {

struct Options {
  int files = 10000;
  int repeats = 5;
  std::string parent;
};

// Counts results; a run over mails that are not due must report none.
class CountingReporter : public ResultReporter {
 public:
  void ReportResult(ResultKind, const std::string&, const std::string&, const std::string&,
                    std::int32_t, const std::string& message, const std::string&) override {
    if (count_++ == 0) std::fprintf(stderr, "unexpected result: %s\n", message.c_str());
  }
  int count() const { return count_; }

 private:
  std::atomic<int> count_{0};
};

// A scratch directory, removed with everything in it.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& parent) {
    std::string pattern = parent + "/pvbench-scan.XXXXXX";
    if (::mkdtemp(pattern.data())) path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A plain mail of about 2 KB as scripts spool them, CR LF throughout.
std::string MailText(int index, const std::string& sendAfter) {
  const std::string n = std::to_string(index);
  std::string text = "From: Bench Sender <sender@bench.example>\r\n"
                     "To: Bench User " + n + " <user" + n + "@bench.example>\r\n"
                     "Subject: Nightly report " + n + "\r\n"
                     "MIME-Version: 1.0\r\n"
                     "Content-Type: text/plain; charset=utf-8\r\n"
                     "Content-Transfer-Encoding: 8bit\r\n"
                     "X-pvx-SendAfter: " + sendAfter + "\r\n\r\n";
  for (int line = 0; text.size() < 2000; ++line)
    text += "Line " + std::to_string(line) + " of report " + n +
            ": all jobs finished, nothing to do for anyone.\r\n";
  return text;
}

bool WriteSpoolFiles(const std::string& dir, int count, std::map<std::string, std::string>& files) {
  bool error = false;
  const std::string sendAfter = FormatIsoDateTime(LocalDateTime::Now().AddDays(365), error);
  if (error) return false;
  for (int i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "mail-%05d.eml", i);
    std::string text = MailText(i, sendAfter);
    const IoError written = WriteFileDurably(dir + "/" + name, text);
    if (written.number != kNoError) {
      std::fprintf(stderr, "cannot write %s: %s\n", name, written.text.c_str());
      return false;
    }
    files.emplace(name, std::move(text));
  }
  return true;
}

// Every file still there under its own name with its bytes, and nothing else in the directory.
bool Unchanged(const std::string& dir, const std::map<std::string, std::string>& files) {
  std::size_t seen = 0;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::filesystem::directory_entry& entry = *it;
    const std::string name = entry.path().filename().string();
    const auto expected = files.find(name);
    std::string bytes;
    if (expected == files.end()) {
      std::fprintf(stderr, "unexpected file %s\n", name.c_str());
      return false;
    }
    if (ReadWholeFile(entry.path().string(), bytes).number != kNoError ||
        bytes != expected->second) {
      std::fprintf(stderr, "%s changed\n", name.c_str());
      return false;
    }
    ++seen;
  }
  if (ec || seen != files.size()) {
    std::fprintf(stderr, "%zu of %zu files left\n", seen, files.size());
    return false;
  }
  return true;
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  if (argc > 1) options.files = std::max(1, std::atoi(argv[1]));
  if (argc > 2) options.repeats = std::clamp(std::atoi(argv[2]), 1, 100);
  const char* tmp = std::getenv("TMPDIR");
  options.parent = argc > 3 ? argv[3] : (tmp && *tmp ? tmp : "/tmp");
  return options;
}

// Times the runs; the seconds of each.
std::vector<double> TimeRuns(const std::string& dir, const Options& options, int& deliveries,
                             CountingReporter& reporter) {
  SpoolRunState state;
  MailTransport transport;
  SilentNotifier notifier;
  SpoolerSettings settings;
  settings.UpDelay = 3600;
  settings.DefaultExtension = "eml";
  settings.SpoolFilePattern = dir + "/*.eml";
  settings.RelayHostName = "127.0.0.50:2525";  // never reached: nothing is due
  DeliverFunction deliver = [&deliveries](const std::string&, const std::string&, std::string&,
                                           std::string&, const DeliveryContext&) {
    ++deliveries;
    return false;
  };
  SpoolEngine engine({state, transport, reporter, notifier, [settings] { return settings; },
                      nullptr, "bench_spool_scan", [] { return LocalDateTime::Now(); },
                      std::move(deliver)});
  std::vector<double> seconds;
  for (int run = 0; run < options.repeats; ++run) {
    const auto start = std::chrono::steady_clock::now();
    engine.RunSpoolCycle();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    seconds.push_back(took.count());
    std::printf("run %d: %.3f s (%.1f us/file)\n", run + 1, took.count(),
                took.count() * 1e6 / options.files);
  }
  return seconds;
}

int Run(const Options& options) {
  const ScratchDir scratch(options.parent);
  if (scratch.path().empty()) {
    std::fprintf(stderr, "cannot make a scratch directory in %s\n", options.parent.c_str());
    return 2;
  }
  std::map<std::string, std::string> files;
  const auto start = std::chrono::steady_clock::now();
  if (!WriteSpoolFiles(scratch.path(), options.files, files)) return 2;
  std::printf("%d not-due spool files of %zu bytes in %s (written in %.1f s)\n", options.files,
              files.begin()->second.size(), scratch.path().c_str(),
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());

  int deliveries = 0;
  CountingReporter reporter;
  std::vector<double> seconds = TimeRuns(scratch.path(), options, deliveries, reporter);
  std::sort(seconds.begin(), seconds.end());
  const std::size_t mid = seconds.size() / 2;
  const double median = seconds.size() % 2 ? seconds[mid] : (seconds[mid - 1] + seconds[mid]) / 2;
  std::printf("spool run over %d not-due files: min %.3f s, median %.3f s (%.1f us/file)\n",
              options.files, seconds.front(), median, median * 1e6 / options.files);

  const bool intact = Unchanged(scratch.path(), files);
  std::printf("files intact: %s; deliveries: %d; results reported: %d\n", intact ? "yes" : "NO",
              deliveries, reporter.count());
  return intact && deliveries == 0 && reporter.count() == 0 ? 0 : 1;
}

}  // namespace
}  // namespace pv::bench

int main(int argc, char** argv) { return pv::bench::Run(pv::bench::ParseOptions(argc, argv)); }
