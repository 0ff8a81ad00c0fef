#include "transport/transcript.h"

namespace pv {

void Transcript::Add(std::string_view prefix, std::string_view line) {
  // Every entry is one CR LF line; a line break inside would forge further entries.
  text_.append(prefix);
  for (char c : line) text_ += (c == '\r' || c == '\n') ? ' ' : c;
  text_.append("\r\n");
}

void Transcript::Client(std::string_view line) { Add("C: ", line); }

void Transcript::ClientSecret(std::string_view line, std::size_t visible) {
  Add("C: ", std::string(line.substr(0, visible)) + "****");
}

void Transcript::Server(std::string_view line) { Add("S: ", line); }

void Transcript::Note(std::string_view text) { Add("* ", text); }

}  // namespace pv
