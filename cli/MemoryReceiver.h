// send --simulate on the in-memory line: the virtual IRD in this process, which every platform
// has, as the download's receiver, and the check that it received the image byte for byte.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>

#include "cli/Commands.h"

namespace irdload::cli {

/// The in-memory virtual IRD, its replies paced at `baud` (0: at once).
std::unique_ptr<OwnReceiver> StartMemoryReceiver(std::uint32_t baud);

}  // namespace irdload::cli
