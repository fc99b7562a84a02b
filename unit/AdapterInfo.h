// What the record says of a port's adapter: the device its path leads to, the stable names
// (by-path, by-id) that lead there too, and the USB descriptors sysfs has for it.
#pragma once

#include <string>

#include "ports/PortInventory.h"
#include "unit/UnitRecord.h"

namespace irdload::unit {

/// Fields the machine does not have stay empty (a pseudo-terminal has none of the USB ones).
AdapterRecord DescribeAdapter(const std::string& portPath, const InventoryRoots& roots = {});

}  // namespace irdload::unit
