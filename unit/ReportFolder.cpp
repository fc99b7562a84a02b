#include "unit/ReportFolder.h"

#include "unit/UnitCsv.h"
#include "unit/UnitRecord.h"

namespace irdload::unit {

bool ReportFolder::Prepare(std::string* error) {
  std::string why;
  if (!files_.Open(folder_, &why)) {
    *error = "cannot use the report folder " + folder_ + ": " + why;
    return false;
  }
  files_.RemoveAbandonedTemps();
  std::unique_ptr<TempRecordFile> probe = Reserve(kProbeBytes, error);
  if (!probe) return false;
  if (!probe->Write(RecordJson(UnitRecord{}), &why)) {
    *error = "the report folder " + folder_ + " does not take a record: " + why;
    return false;
  }
  probe.reset();
  // An empty line adds nothing but the header to a new or empty units.csv.
  if (!files_.CanAppend(kCsvName, &why) || !files_.Append(kCsvName, CsvHeader(), "", &why)) {
    *error = "cannot add to " + CsvPath() + ": " + why;
    return false;
  }
  return true;
}

std::unique_ptr<TempRecordFile> ReportFolder::Reserve(std::uint64_t bytes, std::string* error) {
  std::string why;
  if (!files_.StillThere(&why)) {
    *error = why;
    return nullptr;
  }
  std::unique_ptr<TempRecordFile> slot = files_.CreateTemp(&why);
  if (!slot) {
    *error = "cannot write in the report folder " + folder_ + ": " + why;
    return nullptr;
  }
  if (!slot->Reserve(bytes, &why)) {
    *error = "no room for records in " + folder_ + ": " + why;
    return nullptr;
  }
  return slot;
}

bool ReportFolder::Commit(std::unique_ptr<TempRecordFile> slot, const std::string& baseName,
                          const std::string& json, const std::string& csvLine, std::string* path,
                          std::string* error) {
  path->clear();
  std::string why;
  if (!slot->Write(json + "\n", &why)) {
    *error = "cannot write the record in " + folder_ + ": " + why;
    return false;
  }
  std::string name;
  for (int n = 1;; ++n) {
    name = baseName + (n > 1 ? "-" + std::to_string(n) : "") + ".json";
    bool taken = false;
    if (slot->Name(name, &taken, &why)) break;
    if (!taken || n >= 1000) {
      *error = "cannot name the record " + folder_ + "/" + name + ": " + why;
      return false;
    }
  }
  // Named, the record is no temporary file any more: from here a failure removes it.
  const auto undo = [&](const std::string& text) {
    files_.Remove(name);
    files_.Sync(&why);
    *error = text;
    return false;
  };
  if (!files_.Sync(&why)) return undo("cannot sync the report folder " + folder_ + ": " + why);
  if (!files_.StillThere(&why)) return undo(why);
  if (!files_.Append(kCsvName, CsvHeader(), csvLine, &why)) {
    return undo("cannot add to " + CsvPath() + ": " + why);
  }
  *path = folder_ + "/" + name;
  return true;
}

}  // namespace irdload::unit
