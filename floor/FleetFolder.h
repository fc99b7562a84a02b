// The floor's report folder: every station's records in one place, each unit once. Records come
// through the broker, where a record the broker had not acknowledged comes again, and a record
// published again after a restart of either end comes again too: a unit is known by its record's
// content (two units never share a start time, port and unit number), and the folder's own
// records are known again when the fleet starts. A record is kept as its station wrote it, with
// its units.csv line made by the same code.
#pragma once

#include <set>
#include <string>

#include "unit/Json.h"
#include "unit/ReportFolder.h"

namespace irdload::floor {

class FleetFolder {
 public:
  enum class Kept { Stored, AlreadyKept, Refused };

  explicit FleetFolder(std::string folder) : folder_(std::move(folder)) {}

  /// Prepares the folder (see ReportFolder::Prepare) and learns the records already in it; false
  /// with a sentence for the operator.
  bool Prepare(std::string* error);

  /// Keeps `record` from `station`, which named it `name` in its own folder, as
  /// <station>_<name>: Stored with its path, AlreadyKept when the folder has it, or Refused with
  /// the reason (not a record of this program's schema, the folder full or gone).
  Kept Keep(const std::string& station, const std::string& name, const unit::Json& record,
            std::string* path, std::string* error);

  const std::string& folder() const { return reports_.folder(); }
  std::size_t records() const { return known_.size(); }

 private:
  std::string folder_;
  unit::ReportFolder reports_{folder_};
  std::set<std::string> known_;  // SHA-256 of each record's text
};

}  // namespace irdload::floor
