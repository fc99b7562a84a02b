// How `irdload-cli station` shows its ports to a person: one line per event worth one, each
// prefixed with the port's label (so that grep LABEL gives one socket's story), or on a terminal
// a live table, one row per port, redrawn in place at the bottom of the screen with the same
// lines scrolling above it.
#pragma once

#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/Os.h"
#include "cli/StationTable.h"
#include "station/StationSnapshot.h"
#include "unit/UnitEvents.h"

namespace irdload::cli {

class StationView {
 public:
  /// `table`: `out` is a terminal of the size `size` tells (zeros when not known).
  StationView(std::ostream& out, std::vector<std::string> labels, bool table,
              std::function<TerminalSize()> size = {});

  /// Turns an event into its line (progress at every tenth of a file).
  void Add(const unit::PortEvent& event);
  /// A line of the station's own, not of a port.
  void Note(const std::string& text);
  /// Prints the lines held since the last call and, on a terminal, redraws the table.
  void Draw(const std::vector<station::PortSnapshot>& ports);

  /// A port's snapshot as the table's row.
  static StationRow RowOf(const std::string& label, const station::PortSnapshot& port,
                          std::chrono::steady_clock::time_point now);

 private:
  std::ostream& out_;
  const std::vector<std::string> labels_;
  const bool table_;
  const std::function<TerminalSize()> size_;
  std::vector<std::string> pending_;
  // Per port: the tenths of its file already logged, and which file that was.
  std::vector<std::uint64_t> tenthsLogged_;
  std::vector<std::pair<std::uint32_t, int>> fileLogged_;
  std::size_t rowsDrawn_ = 0;
  TerminalSize drawnFor_{};
};

}  // namespace irdload::cli
