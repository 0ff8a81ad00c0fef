// The spool-file reader on any text: the fields, the outgoing mail and the recipient list.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/spool_file.h"
#include "fuzz_check.h"

namespace {

bool EndsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// A header list joined by CR LF: an empty line in it would end the header block early and
// push the lines after it into the body when the list is written.
void CheckHeaderList(std::string_view list) {
  FUZZ_CHECK(list.find("\r\n\r\n") == std::string_view::npos);
  FUZZ_CHECK(!list.starts_with("\r\n") && !EndsWith(list, "\r\n"));
}

void CheckLineEnds(const std::string& original) {
  std::string text = original;
  pv::UseCrLfLineEnds(text);
  if (original.find("\r\n") != std::string::npos) {
    FUZZ_CHECK(text == original);
    return;
  }
  const auto lfs = static_cast<std::size_t>(std::count(original.begin(), original.end(), '\n'));
  FUZZ_CHECK(text.size() == original.size() + lfs);
  // Taking out the CR before every LF gives the original back.
  std::string back;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) back += text[i];
  }
  if (lfs > 0) FUZZ_CHECK(back == original);
  std::string again = text;
  pv::UseCrLfLineEnds(again);
  FUZZ_CHECK(again == text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  CheckLineEnds(text);

  pv::SpoolFile file;
  pv::ParseSpoolText(text, pv::LocalDateTime::FromCivil(2026, 12, 7, 12), file);
  FUZZ_CHECK(file.Content == text);
  FUZZ_CHECK(file.Body() == pv::BodyOf(text));
  CheckHeaderList(file.SendHeaders);
  CheckHeaderList(file.FileHeaders);

  const std::string mail = pv::MailTextOf(file);
  FUZZ_CHECK(EndsWith(mail, file.Body()));
  // The mail that goes out has the same body and none of the control headers.
  FUZZ_CHECK(pv::BodyOf(mail) == file.Body());
  (void)pv::RecipientsOf(file);
  return 0;
}
