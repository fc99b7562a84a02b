// The ports a station serves, as the operator names them: a device path, a /dev/serial/by-path
// or /dev/serial/by-id link (the names that stay with a physical socket), "COMn", or any of
// these as LABEL=PATH with the operator's name for the socket (letters, digits, '-', '_', '.').
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace irdload::station {

struct PortSpec {
  std::string label;  ///< the operator's name, or the path's last part when none was given
  std::string path;   ///< where the device appears (absolute); it need not exist yet
};

/// Parses one port; nothing, with the reason in `error`, when it cannot be used. The path does
/// not have to exist: an adapter may be plugged in later.
std::optional<PortSpec> ParsePortSpec(const std::string& text, std::string* error);

/// Every label and every path must be distinct: two workers on one device would fight over it,
/// and records under one label could not be told apart. (Two paths that lead to one device are
/// found by the station, which looks at the devices.)
bool CheckDistinct(const std::vector<PortSpec>& ports, std::string* error);

}  // namespace irdload::station
