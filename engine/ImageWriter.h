// Composing upgrade files: for samples, demos, benchmarks and tests.
#pragma once

#include <cstdint>
#include <vector>

namespace irdload {

/// A whole upgrade file: header (magic, type code, payload size, the other header bytes a
/// recognisable pattern) followed by the payload.
std::vector<std::uint8_t> ComposeImage(std::uint32_t typeCode,
                                       const std::vector<std::uint8_t>& payload);

/// A payload of `size` bytes with a deterministic pattern from `seed` (not all one value, so a
/// lost or repeated chunk always shows).
std::vector<std::uint8_t> PatternPayload(std::size_t size, std::uint32_t seed = 1);

}  // namespace irdload
