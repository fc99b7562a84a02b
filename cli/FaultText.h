// The virtual IRD's faults as the command line writes them: "Kind[@at[:value]]".
#pragma once

#include <cstdint>
#include <string>

#include "sim/VirtualIrd.h"

namespace irdload::cli {

/// Decimal digits only, within 32 bits: "-1" or "4294967296" must not wrap into a position.
bool ParseCount(const std::string& text, std::uint32_t& out);

/// "Kind[@at[:value]]" as a fault of the virtual IRD; DelayReply's value is in microseconds.
bool ParseFault(const std::string& text, sim::Fault& fault);

}  // namespace irdload::cli
