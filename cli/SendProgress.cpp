#include "cli/SendProgress.h"

#include <cstdio>
#include <vector>

#include "cli/TextColumns.h"
#include "unit/Durations.h"

namespace irdload::cli {
namespace {

// The longest status of the data loop ("Sending data transfer NACK"): the columns after the
// state stand still while a transfer runs.
constexpr std::size_t kStatusWidth = 26;

// One failed step is the beat of a healthy line, not trouble: a 1024-byte packet takes 89 ms at
// 115200 baud and a reply wait 50 ms, so its acknowledge arrives during the second wait.
constexpr int kRetriesShownFrom = 2;

// Ranks: the highest goes first when the width is short.
enum Rank : int { kKept = 0, kTrouble = 1, kBytes = 2, kLeft = 3, kRate = 4, kElapsed = 5 };

Column Cell(std::string text, int rank) {
  Column c;
  c.cells = {std::move(text)};
  c.dropRank = rank;
  return c;
}

std::string Counted(std::uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Percent(std::uint32_t done, std::uint32_t total) {
  return std::to_string(total > 0 ? std::uint64_t{done} * 100 / total : 0) + "%";
}

std::string Line(Column lead, const SendFigures& f, std::size_t limit) {
  std::vector<Column> columns = {std::move(lead),
                                 Cell(CountOf(f.packetsDone, f.packets) + " packets", kKept),
                                 Cell(CountOf(f.bytesDone, f.bytes) + " bytes", kBytes)};
  if (f.bytesPerSecond) columns.push_back(Cell(Rate(*f.bytesPerSecond), kRate));
  if (f.left) columns.push_back(Cell(MinutesSeconds(*f.left) + " left", kLeft));
  if (f.elapsed) columns.push_back(Cell(MinutesSeconds(*f.elapsed) + " elapsed", kElapsed));
  if (f.connectRequests) {
    columns.push_back(
        Cell(Counted(*f.connectRequests, "connect request", "connect requests"), kTrouble));
  } else if (f.retryCount >= kRetriesShownFrom) {
    columns.push_back(Cell("retries " + std::to_string(f.retryCount), kTrouble));
  }
  return FitColumns(columns, 1, limit).front();
}

}  // namespace

std::string MinutesSeconds(std::chrono::seconds duration) {
  return unit::MinutesSeconds(duration);
}

std::string CountOf(std::uint64_t done, std::uint64_t total) {
  const std::string of = std::to_string(total);
  return PadLeft(std::to_string(done), of.size()) + "/" + of;
}

std::string Rate(double bytesPerSecond) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f KiB/s", bytesPerSecond / 1024.0);
  return buf;
}

std::string ProgressLine(const SendFigures& f, std::size_t limit) {
  Column status = Cell(f.status, kKept);
  status.shrinks = true;
  status.minWidth = kStatusWidth;
  return Line(std::move(status), f, limit);
}

std::string ProgressLogLine(const SendFigures& f, std::size_t limit) {
  Column share = Cell(Percent(f.packetsDone, f.packets), kKept);
  share.alignRight = true;
  share.minWidth = 4;  // "100%"
  return Line(std::move(share), f, limit);
}

std::string SummaryLine(const SendTotals& t, std::size_t limit) {
  std::vector<Column> columns = {
      Cell("Sent " + std::to_string(t.packetsDone) + "/" + std::to_string(t.packets) + " packets",
           kKept),
      Cell(std::to_string(t.bytesDone) + "/" + std::to_string(t.bytes) + " bytes", kBytes)};
  if (t.elapsed) {
    columns.push_back(
        Cell("in " + MinutesSeconds(std::chrono::duration_cast<std::chrono::seconds>(*t.elapsed)),
             kLeft));
  }
  if (t.bytesPerSecond) columns.push_back(Cell(Rate(*t.bytesPerSecond), kRate));
  // Only what happened: a clean line says nothing more.
  if (t.rejections > 0) {
    columns.push_back(Cell(Counted(t.rejections, "rejection", "rejections"), kTrouble));
  }
  if (t.repeats > 0) {
    columns.push_back(Cell(Counted(t.repeats, "reply repeated", "replies repeated"), kTrouble));
  }
  if (t.lateReplies > 0) {
    columns.push_back(Cell(Counted(t.lateReplies, "late reply", "late replies"), kLeft));
  }
  return FitColumns(columns, 1, limit).front();
}

}  // namespace irdload::cli
