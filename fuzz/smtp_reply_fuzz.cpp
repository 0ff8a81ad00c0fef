// The SMTP reply reader on any bytes, fed in random pieces: replies stay within the limits,
// the reader never holds more than a reply's worth, and an error is final.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "transport/smtp_reply.h"

namespace {

using Reader = pv::SmtpReplyReader;

void CheckReply(const pv::SmtpReply& reply, const std::vector<std::string>& raw) {
  FUZZ_CHECK(reply.code >= 200 && reply.code <= 599);
  FUZZ_CHECK(!reply.lines.empty() && raw.size() == reply.lines.size());
  std::size_t total = 0;
  for (const std::string& line : raw) {
    FUZZ_CHECK(line.size() <= Reader::kMaxLineLength + 2);
    total += line.size();
  }
  FUZZ_CHECK(total <= Reader::kMaxReplyLength + 2 * raw.size());
  for (const std::string& line : reply.lines) {
    for (const char c : line) FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && c != 0x7f);
  }
  (void)reply.OneLine();
  (void)pv::SmtpCapabilities::FromEhloReply(reply);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  Reader reader;
  bool failed = false;
  while (input.remaining_bytes() > 0) {
    const std::size_t piece = input.ConsumeIntegralInRange<std::size_t>(1, 4096);
    reader.Feed(input.ConsumeBytesAsString(piece));
    for (int replies = 0;; ++replies) {
      FUZZ_CHECK(replies <= 4096);
      pv::SmtpReply reply;
      std::string error;
      std::vector<std::string> raw;
      const Reader::Status status = reader.Next(reply, error, &raw);
      if (status == Reader::Status::NeedMore) {
        FUZZ_CHECK(!failed);
        break;
      }
      if (status == Reader::Status::Error) {
        FUZZ_CHECK(!error.empty());
        failed = true;
        break;
      }
      FUZZ_CHECK(!failed);
      CheckReply(reply, raw);
    }
  }
  reader.Clear();
  FUZZ_CHECK(!reader.HasPendingBytes());
  return 0;
}
