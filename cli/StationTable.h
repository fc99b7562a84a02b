// The station's live table as a pure function of the ports' figures and the terminal's size:
// whatever the station's front-end contract gives, an adapter turns each port into a row.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace irdload::cli {

/// One port, as the table shows it.
struct StationRow {
  std::string label;
  std::string state;  ///< the port's phase, by its stable name
  /// No file in flight yet when `packets` is 0: the counts are left blank.
  std::uint32_t packetsDone = 0, packets = 0;
  std::uint64_t bytesDone = 0, bytes = 0;
  std::optional<double> bytesPerSecond;  ///< once it can be measured
  std::optional<std::chrono::seconds> left;
  std::uint32_t ok = 0, failed = 0;
};

/// The table's lines for a terminal `columns` wide and `rows` high (0: not known; taken as 80
/// by 24): a header, then a line per port, each fitted to the width (the rate goes first, then
/// the time left, then the bytes; the port, state, packets and units stay). The table takes two
/// rows less than the screen at most, so that it never scrolls: ports beyond that are summed
/// up in its last line.
std::vector<std::string> StationTable(const std::vector<StationRow>& ports, int columns, int rows);

}  // namespace irdload::cli
