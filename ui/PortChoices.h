// The entries of the port list: the four classic COM names, the serial ports found on this
// machine, and the in-process virtual IRD.
#pragma once

#include <string>
#include <vector>

#include "serial/PortInventory.h"

namespace irdload::ui {

inline constexpr const char* kVirtualIrdLabel = "Virtual IRD";

struct PortChoice {
  enum class Kind { kClassicCom, kFoundPort, kVirtualIrd };
  Kind kind;
  /// What the list shows: "COM1".."COM4", the device path, or "Virtual IRD".
  std::string label;
};

/// "COM1".."COM4" first (they keep their places whatever else is found), then every port
/// ListSerialPorts() finds under `roots` by its device path, in its order (less /dev/ttyS0..3,
/// which COM1..COM4 already name), then `extraPorts`, then "Virtual IRD".
std::vector<PortChoice> ListPortChoices(const InventoryRoots& roots,
                                        const std::vector<std::string>& extraPorts = {});

}  // namespace irdload::ui
