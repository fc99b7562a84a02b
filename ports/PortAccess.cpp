#include "ports/PortAccess.h"

#include <grp.h>
#include <sys/stat.h>

#include <algorithm>
#include <sstream>

#include "ports/SysFiles.h"

namespace irdload {
namespace {

namespace fs = std::filesystem;

// Account files of a busy machine are larger than a sysfs page.
constexpr std::size_t kAccountFileBytes = 1 << 20;

// The ids of "Uid:" / "Gid:" / "Groups:" lines of a status file.
std::vector<unsigned> StatusIds(const std::string& status, const std::string& key) {
  std::istringstream lines(status);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(key + ":", 0) != 0) continue;
    std::istringstream fields(line.substr(key.size() + 1));
    std::vector<unsigned> ids;
    for (unsigned long id; fields >> id;) ids.push_back(static_cast<unsigned>(id));
    return ids;
  }
  return {};
}

// Each line of an account file as its ':'-separated fields, lines with fewer than `minFields`
// skipped.
std::vector<std::vector<std::string>> AccountRecords(const fs::path& path, std::size_t minFields) {
  std::vector<std::vector<std::string>> records;
  std::istringstream lines(sysfiles::ReadSmallFile(path, kAccountFileBytes));
  for (std::string line; std::getline(lines, line);) {
    auto fields = sysfiles::Split(line, ':');
    if (fields.size() >= minFields) records.push_back(std::move(fields));
  }
  return records;
}

std::string UserName(unsigned uid, const InventoryRoots& roots) {
  for (const auto& user : AccountRecords(roots.etc / "passwd", 4)) {
    if (sysfiles::ParseUnsigned(user[2]) == uid) return user[0];
  }
  return {};
}

}  // namespace

std::optional<ProcessIdentity> IdentityOf(const std::string& pid, const InventoryRoots& roots) {
  const std::string status = sysfiles::ReadSmallFile(roots.proc / pid / "status");
  const auto uids = StatusIds(status, "Uid");
  const auto gids = StatusIds(status, "Gid");
  // Real, effective, saved and filesystem ids; access checks use the effective ones.
  if (uids.size() < 2 || gids.size() < 2) return std::nullopt;
  return ProcessIdentity{uids[1], gids[1], StatusIds(status, "Groups")};
}

std::optional<ProcessIdentity> CurrentIdentity(const InventoryRoots& roots) {
  return IdentityOf("self", roots);
}

std::string GroupName(unsigned gid, const InventoryRoots& roots) {
  for (const auto& group : AccountRecords(roots.etc / "group", 3)) {
    if (sysfiles::ParseUnsigned(group[2]) == gid) return group[0];
  }
  // Groups from LDAP or sssd are not in the file.
  if (roots.etc != InventoryRoots{}.etc) return {};
  struct group entry {};
  struct group* found = nullptr;
  char buffer[4096];
  if (::getgrgid_r(gid, &entry, buffer, sizeof buffer, &found) == 0 && found) return found->gr_name;
  return {};
}

bool AccountInGroup(unsigned uid, unsigned gid, const InventoryRoots& roots) {
  for (const auto& user : AccountRecords(roots.etc / "passwd", 4)) {
    if (sysfiles::ParseUnsigned(user[2]) == uid && sysfiles::ParseUnsigned(user[3]) == gid) {
      return true;
    }
  }
  const std::string name = UserName(uid, roots);
  if (name.empty()) return false;
  for (const auto& group : AccountRecords(roots.etc / "group", 4)) {
    if (sysfiles::ParseUnsigned(group[2]) != gid) continue;
    const auto members = sysfiles::Split(group[3], ',');
    if (std::find(members.begin(), members.end(), name) != members.end()) return true;
  }
  return false;
}

std::optional<NodeOwnership> OwnershipOf(const fs::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return NodeOwnership{info.st_uid, info.st_gid, static_cast<unsigned>(info.st_mode & 07777)};
}

bool MayAccess(const ProcessIdentity& who, const NodeOwnership& node, bool write) {
  if (who.uid == 0) return true;
  const unsigned wanted = write ? 6u : 4u;  // rw- or r--
  unsigned granted;
  if (who.uid == node.uid) {
    granted = (node.mode >> 6) & 7u;
  } else if (who.gid == node.gid ||
             std::find(who.groups.begin(), who.groups.end(), node.gid) != who.groups.end()) {
    granted = (node.mode >> 3) & 7u;
  } else {
    granted = node.mode & 7u;
  }
  return (granted & wanted) == wanted;
}

}  // namespace irdload
