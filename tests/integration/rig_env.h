#pragma once
// The loopback rig (tests/rig) as a test sees it: the addresses that rig-up.sh wrote to
// $TESTRIG_STATE/rig.env, and the mail that its SMTP servers received.
//
// Every accepted message is NNNNNN-PID.eml (the data as received) plus NNNNNN-PID.json (the
// envelope: server, listen, peer, helo, tls, tls_mode, auth_user, mail_from, rcpt_tos, refused,
// data_reply, ...). The .json is written last, so only messages with one are listed. Messages
// refused after DATA are in <maildir>/rejected in the same form.
#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace pv::test {

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream data;
  data << in.rdbuf();
  return data.str();
}

struct Endpoint {
  std::string host;
  int port = 0;
};

class RigEnv {
 public:
  // Reads $TESTRIG_STATE/rig.env; ok() is false when it cannot, and error() says why.
  static RigEnv Load() {
    RigEnv env;
    const char* state = std::getenv("TESTRIG_STATE");
    if (state == nullptr || *state == '\0') {
      env.error_ = "TESTRIG_STATE is not set (run the test through ctest, which starts the rig)";
      return env;
    }
    const std::string path = std::string(state) + "/rig.env";
    std::ifstream in(path);
    if (!in) {
      env.error_ = "cannot read " + path + " (is the rig up?)";
      return env;
    }
    for (std::string line; std::getline(in, line);) {
      const auto eq = line.find('=');
      if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
      env.values_[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return env;
  }

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

  // "" when the key is missing.
  std::string Str(const std::string& key) const {
    const auto it = values_.find(key);
    return it == values_.end() ? std::string() : it->second;
  }
  // RIG_SINK_UP=1 and the like.
  bool Flag(const std::string& key) const { return Str(key) == "1"; }
  // "127.0.0.7:587" -> {127.0.0.7, 587}.
  Endpoint Address(const std::string& key) const {
    const std::string value = Str(key);
    const auto colon = value.rfind(':');
    if (colon == std::string::npos) return {value, 0};
    return {value.substr(0, colon), std::atoi(value.c_str() + colon + 1)};
  }

 private:
  std::string error_;
  std::map<std::string, std::string> values_;
};

struct ReceivedMail {
  std::string id;    // "000001-4242"
  std::string eml;   // the data as received
  QJsonObject meta;  // the .json

  std::string Str(const char* key) const { return meta.value(key).toString().toStdString(); }
  bool Bool(const char* key) const { return meta.value(key).toBool(); }
  int Int(const char* key) const { return meta.value(key).toInt(); }
  // rcpt_tos, mail_options.
  std::vector<std::string> Strings(const char* key) const {
    std::vector<std::string> items;
    for (const QJsonValue& item : meta.value(key).toArray()) {
      items.push_back(item.toString().toStdString());
    }
    return items;
  }
};

// The complete messages in maildir (a server's RIG_..._MAILDIR, or its "rejected" folder),
// oldest first. A folder that does not exist yet holds none.
inline std::vector<ReceivedMail> ListMails(const std::string& maildir) {
  std::vector<std::string> ids;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(maildir, ec)) {
    if (entry.path().extension() == ".json") ids.push_back(entry.path().stem().string());
  }
  std::sort(ids.begin(), ids.end());
  std::vector<ReceivedMail> mails;
  for (const auto& id : ids) {
    const std::string base = maildir + "/" + id;
    const QByteArray json = QByteArray::fromStdString(ReadWholeFile(base + ".json"));
    mails.push_back(
        ReceivedMail{id, ReadWholeFile(base + ".eml"), QJsonDocument::fromJson(json).object()});
  }
  return mails;
}

// Waits for the first message that `match` accepts (a unique Subject or Message-ID in the data,
// say), at most `timeout`. Messages of earlier tests in the same maildir are passed over.
inline std::optional<ReceivedMail> WaitForMail(
    const std::string& maildir, const std::function<bool(const ReceivedMail&)>& match,
    std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    for (auto& mail : ListMails(maildir)) {
      if (match(mail)) return std::move(mail);
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

inline std::optional<ReceivedMail> WaitForMailContaining(
    const std::string& maildir, const std::string& text,
    std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  return WaitForMail(
      maildir, [&](const ReceivedMail& mail) { return mail.eml.find(text) != std::string::npos; },
      timeout);
}

}  // namespace pv::test
