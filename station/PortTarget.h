// What a port's path leads to, told apart by the device itself, not by the path's text: a link
// and its target, or two links, that reach one device are one device, and a path that reaches
// something that is no serial port (a folder, a FIFO, a plain file, /dev/zero) is said to be so.
#pragma once

#include <cstdint>
#include <string>

namespace irdload::station {

/// A device's identity: a character device's number (st_rdev), which every name of it shares;
/// for anything else its file system and inode.
struct DeviceId {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  auto operator<=>(const DeviceId&) const = default;
};

struct PortTarget {
  enum class Kind { Absent, SerialDevice, NotASerialPort };
  Kind kind = Kind::Absent;
  DeviceId id;
  std::string device;  ///< the path it resolves to
  std::string what;    ///< for NotASerialPort: "a folder", "/dev/zero, which is not a terminal"
};

/// Looks at `path` without opening it. A character device counts as a serial device when the
/// kernel lists it among its terminal drivers (/proc/tty/drivers: serial ports, USB adapters,
/// pseudo-terminal slaves); when that list cannot be read, every character device does.
PortTarget LookAt(const std::string& path);

}  // namespace irdload::station
