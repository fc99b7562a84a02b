// Small, safe reads from sysfs, /proc and /etc for the port inventory and diagnostics: nothing
// here throws or blocks, and a file that cannot be read reads as empty.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace irdload::sysfiles {

/// The text of a regular file, at most `maxBytes` of it, without trailing newlines; "" when the
/// file is missing, unreadable or not a regular file (a FIFO or device planted in a fake tree
/// must not block).
std::string ReadSmallFile(const std::filesystem::path& path, std::size_t maxBytes = 4096);

/// True when `path` exists as anything, a dangling symlink included.
bool EntryExists(const std::filesystem::path& path);

/// The last component of where the symlink `link` points ("ftdi_sio" for a driver link), or "".
std::string LinkTargetName(const std::filesystem::path& link);

/// The names in `dir` that are all digits (process ids in /proc), in no particular order.
std::vector<std::string> NumericEntries(const std::filesystem::path& dir);

/// `text` cut at `separator`; empty fields are kept.
std::vector<std::string> Split(const std::string& text, char separator);

/// A decimal number that is the whole of `text`.
std::optional<unsigned long> ParseUnsigned(const std::string& text);

}  // namespace irdload::sysfiles
