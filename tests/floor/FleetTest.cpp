// irdload-cli fleet against a real mosquitto broker and two stations loading virtual IRDs in
// other processes: every record of both stations kept exactly once in the floor's folder, as on
// the station's disk, with the same units.csv lines, through a broker restart mid-run; the floor
// dashboard shows both stations; a fleet started again knows what it kept, keeps what is new and
// says what it cannot keep.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "engine/ImageWriter.h"
#include "engine/Link.h"
#include "support/HttpClient.h"
#include "support/IrdFarm.h"
#include "support/Mosquitto.h"
#include "support/Process.h"
#include "support/Records.h"
#include "support/TempDir.h"

namespace irdload::floor {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Json = nlohmann::json;

constexpr auto kBound = 60s;
const std::string kUser = "floor", kPassword = "an0ther pass";

// units.csv's lines after its header, sorted.
std::vector<std::string> CsvRows(const fs::path& folder) {
  std::istringstream in(test::FileText(folder / "units.csv"));
  std::vector<std::string> rows;
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) rows.push_back(line);
  std::sort(rows.begin(), rows.end());
  return rows;
}

int DashboardPort(test::Process& fleet) {
  const auto line = fleet.WaitLine(
      [](const std::string& l) { return l.rfind("dashboard on http://", 0) == 0; }, kBound);
  if (!line) return 0;
  return std::stoi(line->substr(line->rfind(':') + 1));
}

class FleetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (test::Mosquitto::Program().empty()) GTEST_SKIP() << "mosquitto is not installed";
    image_ = dir_.WriteBytes("fw.uuc", ComposeImage(kTypeSingle, PatternPayload(20000, 6)));
    credentials_ = (dir_.path() / "credentials").string();
    std::ofstream(credentials_) << kUser << "\n" << kPassword << "\n";
  }
  fs::path Floor() const { return dir_.path() / "floor"; }
  fs::path Out(const std::string& station) const { return dir_.path() / ("out-" + station); }

  bool StartFleet(test::Process& fleet, const test::Mosquitto& broker) {
    return fleet.Start(IRDLOAD_CLI, {"fleet", "--mqtt", broker.url(), "--mqtt-credentials",
                                     credentials_, "--report", Floor().string(), "--http",
                                     "127.0.0.1:0", "--name", "test-floor"});
  }
  bool StartStation(test::Process& station, const test::Mosquitto& broker, const std::string& name,
                    test::IrdFarm& farm) {
    return station.Start(
               IRDLOAD_CLI,
               {"station", "--mqtt", broker.url(), "--mqtt-credentials", credentials_, "--name",
                name, "--units", "3", "--next-unit", "prompt", "--report", Out(name).string(),
                "--port", "A=" + farm.Link(1), "--port", "B=" + farm.Link(2), image_}) &&
           // The operator's Enter for each port's next two units, typed ahead.
           station.Write(std::string(4, '\n'));
  }

  test::TempDir dir_;
  std::string image_, credentials_;
};

TEST_F(FleetTest, TwoStationsThroughABrokerRestartEachRecordKeptOnce) {
  test::Mosquitto broker(dir_.path() / "broker", kUser, kPassword);
  ASSERT_TRUE(broker.Start());
  test::Process fleet;
  ASSERT_TRUE(StartFleet(fleet, broker));
  const int http = DashboardPort(fleet);
  ASSERT_NE(http, 0) << fleet.err();
  ASSERT_TRUE(fleet.WaitLine(
      [](const std::string& l) { return l.rfind("MQTT: connected", 0) == 0; }, kBound))
      << fleet.out() << fleet.err();

  test::IrdFarm farm1((dir_.path() / "links1").string(), 2),
      farm2((dir_.path() / "links2").string(), 2);
  ASSERT_TRUE(farm1.started() && farm2.started());
  test::Process line1, line2;
  ASSERT_TRUE(StartStation(line1, broker, "line1", farm1));
  ASSERT_TRUE(StartStation(line2, broker, "line2", farm2));
  const auto onStations = [&] {
    return test::RecordFileNames(Out("line1")).size() + test::RecordFileNames(Out("line2")).size();
  };
  ASSERT_TRUE(test::WaitUntil([&] { return !test::RecordFileNames(Floor()).empty(); }))
      << fleet.out();
  broker.Stop();
  const std::size_t before = onStations();
  // Units end while the broker is away; their records wait in the stations' outboxes.
  EXPECT_TRUE(test::WaitUntil([&] { return onStations() >= before + 2; }));
  ASSERT_TRUE(broker.Start());
  ASSERT_EQ(line1.Wait(kBound), 0) << line1.out() << line1.err();
  ASSERT_EQ(line2.Wait(kBound), 0) << line2.out() << line2.err();
  ASSERT_EQ(onStations(), 12u);

  // Every record once, as on its station's disk, and each station's units.csv line with it.
  ASSERT_TRUE(test::WaitUntil([&] { return test::RecordFileNames(Floor()).size() >= 12; }))
      << fleet.out();
  std::this_thread::sleep_for(1s);  // a record that came twice would be written by now
  EXPECT_EQ(test::RecordFileNames(Floor()).size(), 12u);
  std::vector<std::string> stationRows;
  for (const std::string station : {"line1", "line2"}) {
    for (const std::string& name : test::RecordFileNames(Out(station))) {
      const fs::path kept = Floor() / (station + "_" + name);
      ASSERT_TRUE(fs::exists(kept)) << kept;
      EXPECT_EQ(test::FileText(kept), test::FileText(Out(station) / name)) << name;
    }
    for (const std::string& row : CsvRows(Out(station))) stationRows.push_back(row);
  }
  std::sort(stationRows.begin(), stationRows.end());
  EXPECT_EQ(CsvRows(Floor()), stationRows);

  // The floor dashboard: both stations, said offline as they ended, with their sockets, and
  // the units they loaded.
  ASSERT_TRUE(test::WaitUntil([&] {
    const Json state =
        Json::parse(test::HttpBody(test::HttpGet(http, "/api/state")), nullptr, false);
    if (state.is_discarded() || state["stations"].size() != 2) return false;
    for (const Json& s : state["stations"]) {
      if (s["status"] != "offline" || s["snapshot"].is_null() || s["snapshot"]["ok"] != 6)
        return false;
    }
    return true;
  })) << test::HttpBody(test::HttpGet(http, "/api/state"));
  const Json state = Json::parse(test::HttpBody(test::HttpGet(http, "/api/state")));
  EXPECT_EQ(state["stations"][0]["name"], "line1");
  EXPECT_EQ(state["stations"][1]["snapshot"]["ports"].size(), 2u);
  EXPECT_EQ(state["units"].size(), 12u);
  EXPECT_EQ(test::HttpBody(test::HttpGet(http, "/units.csv")),
            test::FileText(Floor() / "units.csv"));
  EXPECT_NE(test::HttpBody(test::HttpGet(http, "/")).find("data-page=\"floor\""),
            std::string::npos);
  fleet.Signal(SIGINT);
  ASSERT_EQ(fleet.Wait(kBound), 0) << fleet.err();
}

TEST_F(FleetTest, AFleetStartedAgainKnowsWhatItKeptAndSaysWhatItCannotKeep) {
  test::Mosquitto broker(dir_.path() / "broker", kUser, kPassword);
  ASSERT_TRUE(broker.Start());
  test::IrdFarm farm((dir_.path() / "links").string(), 2);
  ASSERT_TRUE(farm.started());
  {
    test::Process fleet;
    ASSERT_TRUE(StartFleet(fleet, broker));
    ASSERT_TRUE(fleet.WaitLine(
        [](const std::string& l) { return l.rfind("MQTT: connected", 0) == 0; }, kBound));
    test::Process station;
    ASSERT_TRUE(StartStation(station, broker, "line1", farm));
    ASSERT_EQ(station.Wait(kBound), 0) << station.err();
    ASSERT_TRUE(test::WaitUntil([&] { return test::RecordFileNames(Floor()).size() == 6; }))
        << fleet.out();
    fleet.Signal(SIGTERM);
    ASSERT_EQ(fleet.Wait(kBound), 0) << fleet.err();
  }
  test::Process fleet;
  ASSERT_TRUE(StartFleet(fleet, broker));
  ASSERT_TRUE(fleet.WaitLine(
      [](const std::string& l) { return l.find(": 6") != std::string::npos; }, kBound))
      << fleet.out();
  ASSERT_TRUE(fleet.WaitLine(
      [](const std::string& l) { return l.rfind("MQTT: connected", 0) == 0; }, kBound));

  // The same record again (a station's outbox sends again what the broker had not taken), a
  // new one, and two that are not records of this program.
  const std::string name = test::RecordFileNames(Out("line1")).front();
  Json record = Json::parse(test::FileText(Out("line1") / name));
  const auto message = [](const std::string& id, const Json& r) {
    return Json{{"id", id}, {"station", "line1"}, {"record", r}}.dump();
  };
  Json newer = record;
  newer["unit"] = 99;
  Json older = record;
  older["schema"] = 1;
  for (const std::string& payload :
       {message("line1/" + name, record), message("line1/late.json", newer),
        message("line1/old.json", older), std::string("not json")}) {
    ASSERT_TRUE(
        test::PublishOnce(broker.port(), kUser, kPassword, "irdload/line1/record", payload));
  }
  ASSERT_TRUE(fleet.WaitLine(
      [](const std::string& l) { return l == "kept line1_late.json from line1"; }, kBound))
      << fleet.out();
  ASSERT_TRUE(fleet.WaitLine(
      [](const std::string& l) {
        return l.rfind("MQTT: a message on irdload/line1/record", 0) == 0;
      },
      kBound))
      << fleet.out();
  EXPECT_NE(fleet.out().find("not kept: a record from line1 (old.json) that this program cannot "
                             "keep: a record of schema 1"),
            std::string::npos)
      << fleet.out();
  EXPECT_EQ(test::RecordFileNames(Floor()).size(), 7u);
  EXPECT_EQ(CsvRows(Floor()).size(), 7u);
  EXPECT_EQ(Json::parse(test::FileText(Floor() / "line1_late.json"))["unit"], 99);
  fleet.Signal(SIGINT);
  ASSERT_EQ(fleet.Wait(kBound), 0) << fleet.err();
}

TEST_F(FleetTest, SettingsItCannotUseAreRefused) {
  struct Case {
    std::vector<std::string> args;
    std::string said;
  };
  const std::string file = (dir_.path() / "a-file").string();
  std::ofstream(file) << "x";
  const Case cases[] = {
      {{"--mqtt", "http://127.0.0.1:1"}, "mqtt"},
      {{"--mqtt", "mqtt://user:pw@127.0.0.1:1"}, "password"},
      {{"--mqtt", "mqtt://127.0.0.1:1", "--report", file}, file},
      {{"--mqtt", "mqtt://127.0.0.1:1", "--http", "nowhere:x"}, "nowhere:x"},
  };
  for (const Case& c : cases) {
    test::Process fleet;
    std::vector<std::string> args = {"fleet"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ASSERT_TRUE(fleet.Start(IRDLOAD_CLI, args));
    EXPECT_EQ(fleet.Wait(kBound), 2) << c.said;
    EXPECT_NE(fleet.err().find(c.said), std::string::npos) << fleet.err();
  }
}

}  // namespace
}  // namespace irdload::floor
