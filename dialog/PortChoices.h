// The entries of the port list: the four classic COM names, the serial ports found on this
// machine, and the in-process virtual IRD.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ports/PortInventory.h"

namespace irdload {

inline constexpr const char* kVirtualIrdLabel = "Virtual IRD";

struct PortChoice {
  enum class Kind { kClassicCom, kFoundPort, kVirtualIrd };
  Kind kind;
  /// What the list shows and a start opens: "COM1".."COM4", a found port's stable name (its
  /// /dev/serial/by-id link, else its by-path link, else its device node), or "Virtual IRD".
  std::string label;
  /// A found port's details for its tooltip: maker, product, serial, driver, latency timer.
  std::string details;
  /// What the inventory knows of the port, for a dialog that words the details itself.
  std::optional<PortInfo> info;
};

/// "COM1".."COM4" first (they keep their places whatever else is found), then every port
/// ListSerialPorts() finds under `roots`, in its order (less those COM1..COM4 already name), then
/// `extraPorts`, then "Virtual IRD" (when `virtualIrd`). A classic entry that the inventory
/// found too carries what it knows of it.
std::vector<PortChoice> ListPortChoices(const InventoryRoots& roots,
                                        const std::vector<std::string>& extraPorts = {},
                                        bool virtualIrd = true);

}  // namespace irdload
