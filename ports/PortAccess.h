// Who this process is and whether it may open a device node, worked out from the same files the
// kernel and login use (<proc>/self/status, <etc>/passwd, <etc>/group) so that tests can give it
// any user on a fake tree. Used to word a permission failure and by `irdload-cli doctor`.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "ports/PortInventory.h"

namespace irdload {

/// The ids this process runs with now: a group added by `usermod -aG` since login is not among
/// them until the next login.
struct ProcessIdentity {
  unsigned uid = 0;              // effective user id
  unsigned gid = 0;              // effective group id
  std::vector<unsigned> groups;  // supplementary groups
};

/// From <proc>/<pid>/status; nullopt when it cannot be read or parsed.
std::optional<ProcessIdentity> IdentityOf(const std::string& pid, const InventoryRoots& roots = {});

/// This process's identity, from <proc>/self/status.
std::optional<ProcessIdentity> CurrentIdentity(const InventoryRoots& roots = {});

/// The group's name from <etc>/group, else from the system's group database, else "".
std::string GroupName(unsigned gid, const InventoryRoots& roots = {});

/// True when the account database makes `uid` a member of `gid` (primary group in <etc>/passwd
/// or listed in <etc>/group), whether or not this login has it yet.
bool AccountInGroup(unsigned uid, unsigned gid, const InventoryRoots& roots = {});

/// Owner, group and mode of a file, followed through symlinks.
struct NodeOwnership {
  unsigned uid = 0, gid = 0;
  unsigned mode = 0;  // permission bits
};
std::optional<NodeOwnership> OwnershipOf(const std::filesystem::path& path);

/// Whether `who` may read and write (`write` true) or read only a file with `node`'s ownership,
/// by the classic owner / group / other rule; uid 0 always may.
bool MayAccess(const ProcessIdentity& who, const NodeOwnership& node, bool write);

}  // namespace irdload
