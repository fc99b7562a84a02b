// send --simulate: the built-in virtual IRD on a pseudo-terminal as the download's receiver, and
// the check that it received the image byte for byte. Linux only: it stands on a pseudo-terminal.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "cli/Commands.h"

namespace irdload::cli {

/// Starts a virtual IRD at `baud` (0: unpaced) with `faults` ("Kind[@at[:value]]"); null with
/// the complaint written and `exitCode` set when a fault does not parse or the IRD cannot start.
std::unique_ptr<OwnReceiver> StartSimulatedReceiver(std::uint32_t baud,
                                                    const std::vector<std::string>& faults,
                                                    std::ostream& err, int& exitCode);

}  // namespace irdload::cli
