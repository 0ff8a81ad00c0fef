#include "shell/settings_probe.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "reporting/syslog_sink.h"

namespace pv {
namespace {

inline constexpr const char* kServiceUser = "postvane";

std::string UserNameOf(uid_t uid) {
  const passwd* entry = ::getpwuid(uid);
  return entry != nullptr ? entry->pw_name : "uid " + std::to_string(uid);
}

std::vector<gid_t> GroupsOf(const passwd& entry) {
  int count = 64;
  std::vector<gid_t> groups(count);
  if (::getgrouplist(entry.pw_name, entry.pw_gid, groups.data(), &count) < 0) {
    groups.resize(count);
    ::getgrouplist(entry.pw_name, entry.pw_gid, groups.data(), &count);
  }
  groups.resize(count > 0 ? count : 0);
  return groups;
}

}  // namespace

SystemSettingsProbe SystemSettingsProbe::ForThisProcess() {
  return {UserNameOf(::geteuid()), ::geteuid(), {}, true};
}

SystemSettingsProbe SystemSettingsProbe::ForService() {
  const passwd* entry = ::getpwnam(kServiceUser);
  const uid_t uid = entry != nullptr ? entry->pw_uid : 0;
  if (uid == ::geteuid()) return ForThisProcess();
  if (entry == nullptr) return {"root", 0, {}, false};
  return {kServiceUser, uid, GroupsOf(*entry), false};
}

std::string SystemSettingsProbe::DirectoryProblem(const std::string& directory) {
  struct stat st {};
  if (::stat(directory.c_str(), &st) != 0) {
    if (errno == ENOENT) return "does not exist";
    return std::string("cannot be examined: ") + std::strerror(errno);
  }
  if (!S_ISDIR(st.st_mode)) return "is not a directory";
  const std::string notWritable = "is not writable by " + userName_;
  if (self_) return ::access(directory.c_str(), W_OK | X_OK) == 0 ? "" : notWritable;
  if (uid_ == 0) return "";
  mode_t needed = S_IWOTH | S_IXOTH;
  if (st.st_uid == uid_) needed = S_IWUSR | S_IXUSR;
  else if (std::find(groups_.begin(), groups_.end(), st.st_gid) != groups_.end())
    needed = S_IWGRP | S_IXGRP;
  return (st.st_mode & needed) == needed ? "" : notWritable;
}

std::string SystemSettingsProbe::SystemLogProblem() {
  const std::string path = SyslogSink::SocketPath();
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode))
    return "no socket at " + path + "; system log entries are lost";
  return "";
}

}  // namespace pv
