#pragma once
// A settings file fit to be mailed: every secret (the keys the key table marks as secrets,
// ProxyPassword and RelayPassword, in whatever section and case) keeps its key with an empty
// value. The enciphered values could otherwise be read by anyone holding the program.
#include <string>
#include <string_view>

namespace pv {

// The settings text with the value of every secret key removed ("RelayPassword=abc" becomes
// "RelayPassword="); every other line, comments and line ends included, comes back unchanged.
std::string BlankSecretValues(std::string_view settingsText);

// A copy of a settings file with its secrets blanked, under the file's own name in a private
// temporary directory (mode 0700; the copy 0600), removed with the object. The original is only
// read.
class BlankedSettingsCopy {
 public:
  explicit BlankedSettingsCopy(const std::string& settingsFile);
  ~BlankedSettingsCopy();
  BlankedSettingsCopy(const BlankedSettingsCopy&) = delete;
  BlankedSettingsCopy& operator=(const BlankedSettingsCopy&) = delete;

  bool ok() const { return error_.empty(); }
  // The copy's full path; "" when it could not be made.
  const std::string& path() const { return path_; }
  // Why the copy could not be made.
  const std::string& error() const { return error_; }

 private:
  std::string directory_;
  std::string path_;
  std::string error_;
};

}  // namespace pv
