// The classic port names, "COM1" to "COM4" and beyond, in one place: what a port list entry is
// called and which port number a name means. Each platform layer turns the number into its own
// device.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace irdload {

/// The classic entries every port list starts with.
inline constexpr int kClassicPortCount = 4;

/// "COM<index + 1>": the name of the port list entry at `index`; no selection (-1) gives "COM0".
std::string ClassicPortName(int index);

/// n for a name "COMn" (or "comn", either with a colon after it, "COM5:") with n from 1 to
/// 9999; nothing for any other name.
std::optional<int> ClassicPortNumber(const std::string& name);

/// The device a port name opens on this platform, empty for a name that names no port. Linux
/// (PosixTty.cpp): "COMn" is /dev/ttyS<n-1>, a name starting with "/" a device path as it
/// stands. Windows (Win32Port.cpp): "COMn" is \\.\COMn, which reaches COM10 and above too, and
/// a name starting with \\.\ stays as it is.
std::string DevicePathForPortName(const std::string& name);
/// The same, with the system's device folder ("/dev/") standing at `devRoot`: a fake tree's
/// "COM1" is <devRoot>/ttyS0. Paths given whole and Windows devices are left as they are.
std::string DevicePathForPortName(const std::string& name, const std::filesystem::path& devRoot);

}  // namespace irdload
