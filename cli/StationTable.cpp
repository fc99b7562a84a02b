#include "cli/StationTable.h"

#include <map>

#include "cli/SendProgress.h"
#include "cli/TextColumns.h"

namespace irdload::cli {
namespace {

constexpr int kDefaultRows = 24;
// Below the table: the cursor's line. Above it: one line at least of what the ports said.
constexpr std::size_t kRowsLeftFree = 2;

// The longest phase name ("waiting-for-next-unit"), and the widest rate and time left that
// come: the columns after them stand still as the ports change.
constexpr std::size_t kStateWidth = 21, kRateWidth = 10, kLeftWidth = 5;

// Ranks: the highest goes first when the width is short.
enum Rank : int { kKept = 0, kBytes = 2, kLeft = 3, kRate = 4 };

Column Named(std::string header, int rank, bool right) {
  Column c;
  c.header = std::move(header);
  c.dropRank = rank;
  c.alignRight = right;
  return c;
}

// "+3 more ports: 2 transferring, 1 calling; 14 ok, 1 failed".
std::string Others(const std::vector<StationRow>& ports, std::size_t from) {
  std::map<std::string, int> states;
  std::uint64_t ok = 0, failed = 0;
  for (std::size_t i = from; i < ports.size(); ++i) {
    ++states[ports[i].state];
    ok += ports[i].ok;
    failed += ports[i].failed;
  }
  std::string text = "+" + std::to_string(ports.size() - from) + " more ports:";
  const char* sep = " ";
  for (const auto& [state, n] : states) {
    text += sep + std::to_string(n) + " " + state;
    sep = ", ";
  }
  return text + "; " + std::to_string(ok) + " ok, " + std::to_string(failed) + " failed";
}

}  // namespace

std::vector<std::string> StationTable(const std::vector<StationRow>& ports, int columns, int rows) {
  const std::size_t limit = LineLimit(columns);
  const std::size_t screen = static_cast<std::size_t>(rows > 0 ? rows : kDefaultRows);
  // The header and one port at least, whatever the screen.
  const std::size_t room =
      std::max<std::size_t>(screen > kRowsLeftFree ? screen - kRowsLeftFree : 0, 2);
  std::size_t shown = ports.size();
  if (1 + shown > room) shown = room - 2;  // the header, the ports shown, the others' line

  Column port = Named("PORT", kKept, false), state = Named("STATE", kKept, false),
         packets = Named("PACKETS", kKept, true), bytes = Named("BYTES", kBytes, true),
         rate = Named("RATE", kRate, true), left = Named("LEFT", kLeft, true),
         ok = Named("OK", kKept, true), failed = Named("FAILED", kKept, true);
  port.shrinks = true;
  state.shrinks = true;
  state.minWidth = kStateWidth;
  rate.minWidth = kRateWidth;
  left.minWidth = kLeftWidth;
  // Counts as wide as the largest file's, before any file is in flight on a port.
  for (const StationRow& r : ports) {
    packets.minWidth = std::max(packets.minWidth, 2 * std::to_string(r.packets).size() + 1);
    bytes.minWidth = std::max(bytes.minWidth, 2 * std::to_string(r.bytes).size() + 1);
  }
  for (std::size_t i = 0; i < shown; ++i) {
    const StationRow& r = ports[i];
    port.cells.push_back(r.label);
    state.cells.push_back(r.state);
    packets.cells.push_back(r.packets > 0 ? CountOf(r.packetsDone, r.packets) : "");
    bytes.cells.push_back(r.packets > 0 ? CountOf(r.bytesDone, r.bytes) : "");
    rate.cells.push_back(r.bytesPerSecond ? Rate(*r.bytesPerSecond) : "");
    left.cells.push_back(r.left ? MinutesSeconds(*r.left) : "");
    ok.cells.push_back(std::to_string(r.ok));
    failed.cells.push_back(std::to_string(r.failed));
  }
  std::vector<std::string> lines =
      FitColumns({port, state, packets, bytes, rate, left, ok, failed}, shown, limit);
  if (shown < ports.size()) lines.push_back(CutToWidth(Others(ports, shown), limit));
  return lines;
}

}  // namespace irdload::cli
