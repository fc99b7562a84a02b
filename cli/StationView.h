// How `irdload-cli station` shows its ports to a person: one line per event, each prefixed with
// the port's label (so that grep LABEL gives one socket's story), or on a terminal a live table,
// one row per port, redrawn in place, with the same lines scrolling above it.
#pragma once

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "station/StationSnapshot.h"
#include "unit/UnitEvents.h"

namespace irdload::cli {

class StationView {
 public:
  StationView(std::ostream& out, std::vector<std::string> labels, bool table);

  /// Turns an event into its line (progress lines at most one a second per port, and the
  /// last of each file).
  void Add(const unit::PortEvent& event);
  /// A line of the station's own, not of a port.
  void Note(const std::string& text);
  /// Prints the lines held since the last call and, on a terminal, redraws the table.
  void Draw(const std::vector<station::PortSnapshot>& rows);

  /// One table row, for tests: label, state, packets, bytes, rate, ETA, units ok / failed.
  static std::string Row(const std::string& label, const station::PortSnapshot& row,
                         std::chrono::steady_clock::time_point now);

 private:
  std::ostream& out_;
  const std::vector<std::string> labels_;
  const bool table_;
  std::vector<std::string> pending_;
  std::vector<std::chrono::steady_clock::time_point> lastProgress_;
  std::size_t rowsDrawn_ = 0;
};

}  // namespace irdload::cli
