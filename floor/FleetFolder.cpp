#include "floor/FleetFolder.h"

#include <fstream>
#include <sstream>

#include "engine/Sha256.h"
#include "floor/ReportFiles.h"
#include "unit/RecordParse.h"
#include "unit/UnitCsv.h"

namespace irdload::floor {
namespace {

// Room beyond the record and its line, as the station sets aside for its numbers.
constexpr std::uint64_t kSlack = 1024;

std::string Key(const std::string& text) {
  return ToHex(Sha256Of(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::string WithoutJsonEnd(const std::string& name) {
  constexpr std::string_view kEnd = ".json";
  if (name.size() > kEnd.size() &&
      name.compare(name.size() - kEnd.size(), kEnd.size(), kEnd) == 0) {
    return name.substr(0, name.size() - kEnd.size());
  }
  return name;
}

}  // namespace

bool FleetFolder::Prepare(std::string* error) {
  if (!reports_.Prepare(error)) return false;
  for (const std::string& name : RecordNames(reports_.folder())) {
    std::ifstream in(reports_.folder() + "/" + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const unit::Json json = unit::Json::parse(text.str(), nullptr, false);
    std::string why;
    const std::optional<unit::UnitRecord> record =
        json.is_discarded() ? std::nullopt : unit::ParseRecord(json, &why);
    // Anything else in the folder is somebody else's file: left alone, never matched.
    if (record) known_.insert(Key(unit::RecordJson(*record)));
  }
  return true;
}

FleetFolder::Kept FleetFolder::Keep(const std::string& station, const std::string& name,
                                    const unit::Json& record, std::string* path,
                                    std::string* error) {
  std::string why;
  const std::optional<unit::UnitRecord> parsed = unit::ParseRecord(record, &why);
  if (!parsed) {
    *error = "a record from " + station + " (" + name + ") that this program cannot keep: " + why;
    return Kept::Refused;
  }
  // The text the station wrote, to the byte: what it is known by, and what is kept.
  const std::string json = unit::RecordJson(*parsed);
  const std::string key = Key(json);
  if (known_.count(key) != 0) return Kept::AlreadyKept;
  const std::string csv = unit::CsvLine(*parsed);
  std::unique_ptr<unit::TempRecordFile> slot =
      reports_.Reserve(json.size() + csv.size() + kSlack, error);
  if (!slot) return Kept::Refused;
  const std::string base = unit::FileSafe(station) + "_" + unit::FileSafe(WithoutJsonEnd(name));
  if (!reports_.Commit(std::move(slot), base, json, csv, path, error)) return Kept::Refused;
  known_.insert(key);
  return Kept::Stored;
}

}  // namespace irdload::floor
