// The report folder: one JSON record per unit and one line per unit in units.csv. A unit counts
// only once its record is durable: the record's room is set aside before the unit starts, for
// the record's own size, and the record is written into it, synced, named without replacing
// another, the folder synced and checked to still stand, and its line appended. A record that
// cannot be completed leaves nothing behind: no temporary file, no record without its line.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "unit/RecordFiles.h"

namespace irdload::unit {

class ReportFolder {
 public:
  /// What Prepare sets aside to prove the folder takes a record: a few times a typical one.
  static constexpr std::uint64_t kProbeBytes = 16 * 1024;

  explicit ReportFolder(std::string folder) : folder_(std::move(folder)) {}

  /// Makes the folder when it is missing and holds it open, removes the temporary files of a
  /// run that was killed, proves the folder takes a record (room set aside, written, synced,
  /// removed) and starts units.csv with its header line. False with a sentence for the operator
  /// (read-only, full, not a folder, ...).
  bool Prepare(std::string* error);

  /// Room for one record of at most `bytes` (its JSON and its CSV line), set aside now; null
  /// with the reason when the folder takes no more records (full, removed).
  std::unique_ptr<TempRecordFile> Reserve(std::uint64_t bytes, std::string* error);
  /// Makes the record durable (see above) under `<baseName>.json`, or `<baseName>-<n>.json`
  /// when that name is taken, and gives its path. False with the reason; nothing then names
  /// the record, and the slot is gone.
  bool Commit(std::unique_ptr<TempRecordFile> slot, const std::string& baseName,
              const std::string& json, const std::string& csvLine, std::string* path,
              std::string* error);

  const std::string& folder() const { return folder_; }
  std::string CsvPath() const { return folder_ + "/" + kCsvName; }

 private:
  static constexpr const char* kCsvName = "units.csv";

  std::string folder_;
  RecordFolderFiles files_;
};

}  // namespace irdload::unit
