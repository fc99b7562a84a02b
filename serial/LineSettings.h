// A serial line's settings as one value: what a mode text such as "115200,N,8,1" says, parsed
// once above the platform layers, which each apply the same value in their own terms.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace irdload {

/// Line settings as a mode text such as "115200,N,8,1" gives them.
struct LineSettings {
  std::uint32_t baud = 0;  // 0: not known
  char parity = 'N';       // N, E, O, M, S
  int dataBits = 8;        // 5..8
  int stopBits = 1;        // 1 or 2

  friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

/// Parses "baud,parity,data,stop" (blanks around each part allowed, the parity letter in either
/// case); nothing when a part is missing, not a number, or out of range. Whether the hardware
/// can run at the baud rate is the platform layer's to say.
std::optional<LineSettings> ParseMode(const std::string& mode);

/// Line time of one byte with these settings: start, data, parity and stop bits; 0 when the
/// baud rate is not known.
inline std::chrono::nanoseconds ByteTime(const LineSettings& line) {
  if (line.baud == 0) return std::chrono::nanoseconds(0);
  const int bits = 1 + line.dataBits + (line.parity == 'N' ? 0 : 1) + line.stopBits;
  return std::chrono::nanoseconds(std::int64_t{bits} * 1'000'000'000LL / line.baud);
}

}  // namespace irdload
