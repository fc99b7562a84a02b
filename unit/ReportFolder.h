// The report folder: one JSON record per unit, written atomically (a reserved temporary file,
// fsync, rename), and one line per unit appended to units.csv. Room for a record is reserved
// before its unit starts, so that a unit is never loaded without a place for its record.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace irdload::unit {

class ReportFolder {
 public:
  /// Room set aside for each record before its unit starts.
  static constexpr std::size_t kReservedBytes = 64 * 1024;

  explicit ReportFolder(std::string folder) : folder_(std::move(folder)) {}

  /// Creates the folder when it is missing and proves it takes a record: a reserved file
  /// written, synced and removed, and units.csv started with its header line. False with a
  /// sentence for the operator (read-only, full, not a folder, ...).
  bool Prepare(std::string* error);

  /// Room for one record: a temporary file in the folder with the space allocated.
  struct Slot {
    int fd = -1;
    std::string tempPath;
  };
  std::optional<Slot> Reserve(std::string* error);
  /// Writes `json` into the slot, syncs it, renames it to `<baseName>.json` (never over
  /// another record: a number is added instead), and appends `csvLine` to units.csv.
  /// The record's path in `path`. False with the reason when any step fails.
  bool Commit(Slot& slot, const std::string& baseName, const std::string& json,
              const std::string& csvLine, std::string* path, std::string* error);
  /// Gives the room back when its unit did not happen.
  void Release(Slot& slot);

  const std::string& folder() const { return folder_; }
  std::string CsvPath() const { return folder_ + "/units.csv"; }

 private:
  bool AppendCsv(const std::string& line, std::string* error);

  std::string folder_;
};

}  // namespace irdload::unit
