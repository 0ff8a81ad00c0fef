#pragma once
// Group membership of a local user, as the system's user database tells it.
#include <string>
#include <sys/types.h>

namespace pv {

// The group of the users who may drop mails into the system service's spool directory and
// use the queue tools on it through the service.
inline constexpr const char* kServiceGroup = "postvane";

// Whether the user with that id belongs to the group: its primary group or one of its
// supplementary groups (getgrouplist of its passwd entry). False for an unknown user or group.
bool UserInGroup(uid_t uid, const std::string& group);

}  // namespace pv
