// What any front end gets of a station, and nothing more: a queue of events of its own, a
// snapshot of every port as a value and as JSON, and the operator's answers handed to the port
// that waited longest, checked first.
#include <gtest/gtest.h>

#include <filesystem>

#include "station/StationDriver.h"
#include "support/IrdFarm.h"
#include "support/TempDir.h"

namespace irdload::station {
namespace {

using unit::MessageShown;
using unit::PortEvent;
using unit::UnitStarted;
using namespace std::chrono_literals;

class StationContractTest : public ::testing::Test {
 protected:
  StationOptions Options(int ports, const test::TestImage& image, const test::IrdFarm& farm) {
    StationOptions o;
    for (int i = 1; i <= ports; ++i) o.ports.push_back({"P" + std::to_string(i), farm.Link(i)});
    o.files = {image.path};
    o.reportDir = (dir_.path() / "out").string();
    return o;
  }
  test::TempDir dir_;
};

// Every event but progress, as "<port> <kind>", in order: progress is coalesced by each queue at
// its own pace.
std::vector<std::string> Story(const std::vector<PortEvent>& events) {
  std::vector<std::string> out;
  for (const PortEvent& e : events) {
    if (std::holds_alternative<unit::ProgressShown>(e.body)) continue;
    out.push_back(std::to_string(e.port) + " " + std::to_string(e.body.index()));
  }
  return out;
}

TEST_F(StationContractTest, EverySubscriberHearsEverythingAndTheSnapshotAgrees) {
  const test::TestImage image = test::WriteImage(dir_.path(), 20000);
  test::IrdFarm farm((dir_.path() / "links").string(), 2);
  ASSERT_TRUE(farm.started()) << farm.errors();
  StationOptions o = Options(2, image, farm);
  o.units = 1;
  test::StationDriver d(o);
  const std::shared_ptr<Subscription> second = d.station().Subscribe();
  ASSERT_TRUE(d.Start());
  ASSERT_TRUE(d.WaitFor([&] { return d.Count<unit::ProgressShown>(0) > 0; })) << d.Story();
  const StationSnapshot loading = d.station().Snapshot();
  EXPECT_EQ(loading.ports[0].label, "P1");
  EXPECT_EQ(loading.ports[0].unit, 1u);
  EXPECT_GT(loading.ports[0].packets, 0u);
  ASSERT_TRUE(d.WaitFor([&] { return d.station().Finished(); })) << d.Story();
  d.Drain();
  EXPECT_EQ(Story(second->Take()), Story(d.events()));

  const StationSnapshot s = d.station().Snapshot();
  EXPECT_TRUE(s.finished);
  EXPECT_EQ(s.ok, 2u);
  for (const PortSnapshot& row : s.ports) {
    SCOPED_TRACE(row.label);
    EXPECT_EQ(row.phase, PortPhase::Done);
    EXPECT_EQ(row.packetsDone, row.packets);
    ASSERT_TRUE(row.last);
    EXPECT_TRUE(row.last->loaded);
    EXPECT_TRUE(std::filesystem::exists(row.last->record)) << row.last->record;
    // A clean paced unit: nothing rejected. Late replies only where a busy scheduler held a
    // thread past the bound; a lateness that forgot the line time would count every packet.
    EXPECT_EQ(row.rejections, 0u);
    EXPECT_LT(row.lateReplies, row.packets / 4);
  }
  for (const auto& record : test::ReadRecords(o.reportDir)) {
    EXPECT_EQ(record["rejections"].Int(), 0);
    EXPECT_LT(record["lateReplies"].Int(), 5);
    EXPECT_EQ(record["repeats"].Int(), 0);
  }
  const auto json = test::JsonParser(SnapshotJson(s, std::chrono::system_clock::now(),
                                                  std::chrono::steady_clock::now()))
                        .Parse();
  ASSERT_TRUE(json);
  ASSERT_EQ((*json)["ports"].items.size(), 2u);
  EXPECT_EQ((*json)["ports"].items[1]["port"].text, "P2");
  EXPECT_EQ((*json)["ports"].items[1]["state"].text, "done");
  EXPECT_TRUE((*json)["ports"].items[1]["last"]["loaded"].boolean);
  EXPECT_EQ((*json)["ok"].Int(), 2);
}

// A front end that never takes its events loses the oldest it could not hold, counted; the
// ports load as fast as ever.
TEST_F(StationContractTest, SlowSubscriberLosesEventsNeverTheLoad) {
  const test::TestImage image = test::WriteImage(dir_.path(), 2000);
  test::IrdFarm farm((dir_.path() / "links").string(), 2);
  ASSERT_TRUE(farm.started()) << farm.errors();
  StationOptions o = Options(2, image, farm);
  o.units = 1;
  test::StationDriver d(o);
  const std::shared_ptr<Subscription> slow = d.station().Subscribe(3);
  ASSERT_TRUE(d.Start());
  ASSERT_TRUE(d.WaitFor([&] { return d.station().Finished(); })) << d.Story();
  EXPECT_EQ(d.station().Summary().ok, 2u);
  std::uint64_t dropped = 0;
  EXPECT_EQ(slow->Take(&dropped).size(), 3u);
  EXPECT_GT(dropped, 0u);
}

// An id no record could hold is refused before any port takes it, with the reason to every
// subscriber; the port goes on waiting, and the next good id names its unit.
TEST_F(StationContractTest, AnswerThatCannotNameAUnitIsRefused) {
  const test::TestImage image = test::WriteImage(dir_.path(), 2000);
  test::IrdFarm farm((dir_.path() / "links").string(), 1);
  ASSERT_TRUE(farm.started()) << farm.errors();
  StationOptions o = Options(1, image, farm);
  o.units = 1;
  o.nextUnit = NextUnit::Prompt;
  o.askUnitId = true;
  test::StationDriver d(o);
  ASSERT_TRUE(d.Start());
  ASSERT_TRUE(d.WaitFor([&] { return d.InPhase(0, PortPhase::WaitingForUnitId); }));
  EXPECT_TRUE(d.station().AnyoneAsking());
  d.station().Give(std::string(129, '7'));
  ASSERT_TRUE(d.WaitFor([&] {
    for (const PortEvent& e : d.events()) {
      const auto* m = std::get_if<MessageShown>(&e.body);
      if (m && e.port == unit::kNoPort && m->text.find("128") != std::string::npos) return true;
    }
    return false;
  })) << d.Story();
  EXPECT_EQ(d.Count<UnitStarted>(0), 0u);
  EXPECT_TRUE(d.station().AnyoneAsking());
  d.station().Give("SN-77");
  ASSERT_TRUE(d.WaitFor([&] { return d.station().Finished(); })) << d.Story();
  d.Drain();
  ASSERT_EQ(d.Units(0).size(), 1u);
  EXPECT_EQ(d.Units(0)[0].unitId, "SN-77");
}

}  // namespace
}  // namespace irdload::station
