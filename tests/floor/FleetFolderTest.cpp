// The floor's folder on real files: each unit kept once whoever sends it again, also to a folder
// opened again; units that only share a name both kept; names made safe; other files left alone.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "floor/FleetFolder.h"
#include "support/Records.h"
#include "support/TempDir.h"
#include "unit/UnitCsv.h"

namespace irdload::floor {
namespace {

namespace fs = std::filesystem;
using Kept = FleetFolder::Kept;

unit::Json Record(std::uint32_t unitNumber, const std::string& port = "A") {
  unit::UnitRecord r;
  r.toolVersion = "irdload-cli 1.2.0";
  r.started = std::chrono::system_clock::time_point(std::chrono::seconds(1796885521));
  r.ended = r.started + std::chrono::seconds(60);
  r.portLabel = port;
  r.unit = unitNumber;
  r.outcome = {OutcomeKind::Success, FailureReason::None, "Download end successfully.", ""};
  return unit::Json::parse(unit::RecordJson(r));
}

TEST(FleetFolderTest, EachUnitOnceByWhatItsRecordSays) {
  struct Step {
    std::string station, name;
    unit::Json record;
    Kept kept;
    std::string file;  // the name it is kept under, when stored
  };
  test::TempDir dir;
  const fs::path folder = dir.path() / "floor";
  fs::create_directories(folder);
  std::ofstream(folder / "notes.json") << "{\"mine\": true}";  // somebody else's file
  const std::vector<Step> steps = {
      {"line1", "u1.json", Record(1), Kept::Stored, "line1_u1.json"},
      {"line1", "u1.json", Record(1), Kept::AlreadyKept, ""},
      // The same unit under another name (a station renamed between runs) is still that unit.
      {"line2", "other.json", Record(1), Kept::AlreadyKept, ""},
      // Two stations given one name on two PCs: two units that share a record's name.
      {"line1", "u1.json", Record(2), Kept::Stored, "line1_u1-2.json"},
      {"bay/3 west", "../u.json", Record(3), Kept::Stored, "bay_3_west__.._u.json"},
  };
  {
    FleetFolder floor(folder.string());
    std::string error;
    ASSERT_TRUE(floor.Prepare(&error)) << error;
    for (const Step& s : steps) {
      std::string path, why;
      EXPECT_EQ(floor.Keep(s.station, s.name, s.record, &path, &why), s.kept) << s.name << why;
      if (s.kept == Kept::Stored) {
        EXPECT_EQ(fs::path(path).filename(), s.file);
        EXPECT_EQ(test::FileText(path), unit::JsonText(s.record) + "\n");
      }
    }
    EXPECT_EQ(floor.records(), 3u);
  }
  // Opened again, it knows what it holds.
  FleetFolder again(folder.string());
  std::string error, path;
  ASSERT_TRUE(again.Prepare(&error)) << error;
  EXPECT_EQ(again.records(), 3u);
  for (std::uint32_t unitNumber : {1u, 2u, 3u}) {
    EXPECT_EQ(again.Keep("line9", "x.json", Record(unitNumber), &path, &error), Kept::AlreadyKept);
  }
  EXPECT_EQ(again.Keep("line1", "u4.json", Record(4, "B"), &path, &error), Kept::Stored);
  EXPECT_EQ(test::RecordFileNames(folder),
            std::vector<std::string>({"bay_3_west__.._u.json", "line1_u1-2.json", "line1_u1.json",
                                      "line1_u4.json", "notes.json"}));
  EXPECT_EQ(test::FileText(folder / "notes.json"), "{\"mine\": true}");
  // One line per unit kept, after the header.
  const std::string csv = test::FileText(folder / "units.csv");
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 5) << csv;
  EXPECT_EQ(csv.rfind(unit::CsvHeader(), 0), 0u);
}

}  // namespace
}  // namespace irdload::floor
