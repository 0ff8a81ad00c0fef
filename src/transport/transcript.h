#pragma once
// The readable protocol of one delivery attempt: DNS answers, connections, TLS state, every
// command and reply. Secrets never enter it: callers pass commands that carry credentials
// through ClientSecret, which records only the part before the secret.
#include <string>
#include <string_view>

namespace pv {

class Transcript {
 public:
  // A command sent ("C: MAIL FROM:<a@b>").
  void Client(std::string_view line);
  // A command that carries a secret: only its first `visible` characters are recorded,
  // followed by "****" ("AUTH PLAIN ****"; a bare AUTH LOGIN answer is just "****").
  void ClientSecret(std::string_view line, std::size_t visible);
  // A reply line received ("S: 250 2.1.0 Ok").
  void Server(std::string_view line);
  // Anything else: DNS answers, connections, TLS, decisions ("* connected to ...").
  void Note(std::string_view text);

  const std::string& text() const { return text_; }
  bool empty() const { return text_.empty(); }
  void Clear() { text_.clear(); }

 private:
  void Add(std::string_view prefix, std::string_view line);
  std::string text_;
};

}  // namespace pv
