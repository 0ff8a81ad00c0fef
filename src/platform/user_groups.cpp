#include "platform/user_groups.h"

#include <algorithm>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace pv {
namespace {

std::size_t LookupBufferSize() {
  const long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  return size > 0 ? static_cast<std::size_t>(size) : 16384;
}

}  // namespace

bool UserInGroup(uid_t uid, const std::string& group) {
  std::vector<char> buffer(LookupBufferSize());
  passwd entry{};
  passwd* user = nullptr;
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &user) != 0 || user == nullptr)
    return false;
  std::vector<char> groupBuffer(LookupBufferSize());
  struct group groupEntry {};
  struct group* found = nullptr;
  if (::getgrnam_r(group.c_str(), &groupEntry, groupBuffer.data(), groupBuffer.size(),
                   &found) != 0 || found == nullptr)
    return false;
  std::vector<gid_t> groups(32);
  int count = static_cast<int>(groups.size());
  while (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<std::size_t>(count) > groups.size() ? static_cast<std::size_t>(count)
                                                                  : groups.size() * 2);
    count = static_cast<int>(groups.size());
  }
  groups.resize(static_cast<std::size_t>(count));
  return std::find(groups.begin(), groups.end(), found->gr_gid) != groups.end();
}

}  // namespace pv
