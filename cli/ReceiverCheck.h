// The check after `send --simulate`: the virtual IRD holds what the engine loaded, byte for byte.
#pragma once

#include <ostream>
#include <vector>

#include "engine/Events.h"
#include "sim/VirtualIrd.h"

namespace irdload::cli {

/// EXIT_OK with the verdict written, or EXIT_VERIFY with the complaint.
int VerifyReceived(const sim::Report& report, const std::vector<ImageLoaded>& loaded,
                   std::ostream& out, std::ostream& err);

}  // namespace irdload::cli
