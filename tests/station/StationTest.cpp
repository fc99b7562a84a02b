// The station's ports against virtual IRDs in a process of their own: adapters that come late,
// units that fail, units swapped for the next, adapters pulled out mid-transfer, and the three
// ways a next unit is armed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "station/StationDriver.h"
#include "support/IrdFarm.h"
#include "support/Json.h"
#include "support/TempDir.h"

namespace irdload::station {
namespace {

using unit::MessageShown;
using unit::ProgressShown;
using unit::UnitEnded;
using unit::UnitStarted;

using test::IrdFarm;
using test::StationDriver;
using namespace std::chrono_literals;

class StationTest : public ::testing::Test {
 protected:
  StationOptions Options(std::vector<std::string> links, const test::TestImage& image) {
    StationOptions o;
    for (std::size_t i = 0; i < links.size(); ++i) {
      o.ports.push_back({"P" + std::to_string(i + 1), links[i]});
    }
    o.files = {image.path};
    o.reportDir = (dir_.path() / "out").string();
    return o;
  }
  std::filesystem::path Links() const { return dir_.path() / "links"; }
  test::TempDir dir_;
};

TEST_F(StationTest, AdapterThatAppearsLaterIsLoadedOnceItDoes) {
  const test::TestImage image = test::WriteImage(dir_.path(), 2000);
  IrdFarm farm(Links().string(), 0);
  ASSERT_TRUE(farm.started()) << farm.errors();
  // Neither the link nor its folder exists yet, as /dev/serial/by-path without an adapter.
  const std::filesystem::path byPath = dir_.path() / "dev" / "serial" / "by-path";
  const std::string port = (byPath / "pci-0000:00:14.0-usb-0:2:1.0-port0").string();
  StationOptions o = Options({port}, image);
  o.units = 1;
  o.roots = {dir_.path() / "sys", dir_.path() / "dev"};
  StationDriver d(o);
  ASSERT_TRUE(d.Start());
  ASSERT_TRUE(d.WaitFor([&] { return d.InPhase(0, PortPhase::WaitingForAdapter); }));
  ASSERT_TRUE(farm.Plug(1));
  std::filesystem::create_directories(byPath);
  std::filesystem::create_symlink(farm.Link(1), port);
  ASSERT_TRUE(d.WaitFor([&] { return d.station().Finished(); })) << d.Story();
  d.Drain();
  ASSERT_EQ(d.Units(0).size(), 1u);
  EXPECT_EQ(d.Units(0)[0].outcome.kind, OutcomeKind::Success);
  const auto records = test::ReadRecords(dir_.path() / "out");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0]["adapter"]["byPath"].text, port);
  EXPECT_EQ(records[0]["files"].items[0]["sha256"].text, image.sha256);
  const auto irds = farm.Report();
  ASSERT_EQ(irds.size(), 1u);
  EXPECT_EQ(irds.at({1, 1}).sha256, std::vector<std::string>{image.sha256});
  EXPECT_EQ(records[0]["adapter"]["device"].text, irds.at({1, 1}).slave);
}

TEST_F(StationTest, FailingUnitIsRetriedOnTheSameIrdThenRecordedAsFailed) {
  const test::TestImage image = test::WriteImage(dir_.path(), 2000);
  IrdFarm farm(Links().string(), 1, 115200, {"--fault", "FailTerminate"});
  ASSERT_TRUE(farm.started()) << farm.errors();
  StationOptions o = Options({farm.Link(1)}, image);
  o.units = 1;
  o.retries = 1;
  o.traceDir = (dir_.path() / "traces").string();
  StationDriver d(o);
  ASSERT_TRUE(d.Start());
  ASSERT_TRUE(d.WaitFor([&] { return d.station().Finished(); })) << d.Story();
  d.Drain();
  EXPECT_EQ(d.Count<UnitStarted>(0), 2u);
  ASSERT_EQ(d.Units(0).size(), 1u);
  EXPECT_EQ(d.Units(0)[0].outcome.reason, FailureReason::IrdReportedFailure);
  EXPECT_EQ(d.Units(0)[0].exitCode, 4);
  EXPECT_EQ(d.station().Summary().failed, 1u);
  const auto records = test::ReadRecords(dir_.path() / "out");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_FALSE(records[0]["loaded"].boolean);
  EXPECT_EQ(records[0]["attempts"].Int(), 2);
  EXPECT_EQ(records[0]["earlierAttempts"].items.size(), 1u);
  // One trace per attempt; the record names the last.
  EXPECT_EQ(records[0]["trace"].text,
            (dir_.path() / "traces" / "P1-unit1-attempt2.trace").string());
  for (const char* name : {"P1-unit1.trace", "P1-unit1-attempt2.trace"}) {
    EXPECT_GT(std::filesystem::file_size(dir_.path() / "traces" / name), 0u) << name;
  }
  EXPECT_EQ(farm.Report().at({1, 1}).files, 2u) << "both attempts went to the same IRD";
}

// The IRD answers the connect request again right after its load; only a replug arms the next.
TEST_F(StationTest, NextUnitWaitsForTheReplugAndGoesToTheNewIrd) {
  const test::TestImage image = test::WriteImage(dir_.path(), 2000);
  IrdFarm farm(Links().string(), 1);
  ASSERT_TRUE(farm.started()) << farm.errors();
  StationOptions o = Options({farm.Link(1)}, image);
  o.units = 2;
  StationDriver d(o);
  ASSERT_TRUE(d.Start());
  ASSERT_TRUE(d.WaitFor([&] { return d.InPhase(0, PortPhase::WaitingForNextUnit); }));
  // Given time to go wrong, it does not call the same receiver again.
  EXPECT_FALSE(d.WaitFor([&] { return d.Count<UnitStarted>(0) > 1; }, 1500ms));
  ASSERT_TRUE(farm.Swap(1));
  ASSERT_TRUE(d.WaitFor([&] { return d.station().Finished(); })) << d.Story();
  d.Drain();
  const auto irds = farm.Report();
  ASSERT_EQ(irds.size(), 2u);
  for (const auto& [key, ird] : irds) {
    EXPECT_EQ(ird.files, 1u) << "IRD " << key.second;
    EXPECT_EQ(ird.sha256, std::vector<std::string>{image.sha256});
  }
  EXPECT_EQ(d.station().Summary().ok, 2u);
  EXPECT_EQ(test::CsvLines(dir_.path() / "out"), 3u);
}

TEST_F(StationTest, AdapterPulledOutMidTransferFailsTheUnitAndTheNextWaitsForIt) {
  const test::TestImage image = test::WriteImage(dir_.path(), 20000);
  IrdFarm farm(Links().string(), 1);
  ASSERT_TRUE(farm.started()) << farm.errors();
  StationOptions o = Options({farm.Link(1)}, image);
  o.units = 2;
  StationDriver d(o);
  ASSERT_TRUE(d.Start());
  ASSERT_TRUE(d.WaitFor([&] { return d.Count<ProgressShown>(0) > 0; }));
  ASSERT_TRUE(farm.Unplug(1));
  ASSERT_TRUE(d.WaitFor([&] { return d.Units(0).size() == 1; }));
  EXPECT_EQ(d.Units(0)[0].outcome.reason, FailureReason::AdapterDisconnected);
  ASSERT_TRUE(d.WaitFor([&] { return d.InPhase(0, PortPhase::WaitingForAdapter); }));
  ASSERT_TRUE(farm.Plug(1));
  ASSERT_TRUE(d.WaitFor([&] { return d.station().Finished(); })) << d.Story();
  d.Drain();
  ASSERT_EQ(d.Units(0).size(), 2u);
  EXPECT_EQ(d.Units(0)[1].outcome.kind, OutcomeKind::Success);
  const auto irds = farm.Report();
  EXPECT_TRUE(irds.at({1, 1}).lineGone);
  EXPECT_EQ(irds.at({1, 2}).loaded, std::vector<bool>{true});
  const auto records = test::ReadRecords(dir_.path() / "out");
  ASSERT_EQ(records.size(), 2u);
}

// A receiver answers, then its line dies while the path still leads to where its device was (a
// link left behind; the system may give that node to the next adapter, on another socket). The
// unit is recorded as failed, and the port opens that path again only once it leads somewhere
// new, or on the operator's go.
TEST_F(StationTest, LostLineIsNotReopenedUntilThePathLeadsSomewhereNew) {
  for (const NextUnit mode : {NextUnit::Replug, NextUnit::Quiet}) {
    const std::string name = mode == NextUnit::Replug ? "replug" : "quiet";
    SCOPED_TRACE(name);
    const test::TestImage image = test::WriteImage(dir_.path(), 2000);
    std::filesystem::create_directories(Links() / name);
    IrdFarm farm((Links() / name).string(), 0);
    ASSERT_TRUE(farm.started()) << farm.errors();
    ASSERT_TRUE(farm.Plug(1, "HangUpAt@1"));
    StationOptions o = Options({farm.Link(1)}, image);
    o.reportDir = (dir_.path() / ("out-" + name)).string();
    o.units = 2;
    o.nextUnit = mode;
    o.quiet = 1s;
    StationDriver d(o);
    ASSERT_TRUE(d.Start());
    ASSERT_TRUE(d.WaitFor([&] { return d.Units(0).size() == 1; })) << d.Story();
    EXPECT_EQ(d.Units(0)[0].outcome.reason, FailureReason::AdapterDisconnected);
    ASSERT_TRUE(d.WaitFor([&] { return d.InPhase(0, PortPhase::WaitingForAdapter); })) << d.Story();
    // Given time to go wrong, it neither calls nor tries to open the dead path.
    EXPECT_FALSE(d.WaitFor(
        [&] { return d.Count<UnitStarted>(0) > 1 || d.Count<MessageShown>(0) > 1; }, 1500ms))
        << d.Story();
    ASSERT_TRUE(farm.Swap(1));
    // A healthy receiver keeps answering: on a quiet line the operator gives the go.
    if (mode == NextUnit::Quiet) d.station().Go(0);
    ASSERT_TRUE(d.WaitFor([&] { return d.station().Finished(); })) << d.Story();
    d.Drain();
    ASSERT_EQ(d.Units(0).size(), 2u);
    EXPECT_EQ(d.Units(0)[1].outcome.kind, OutcomeKind::Success);
    const auto irds = farm.Report();
    EXPECT_TRUE(irds.at({1, 1}).lineGone);
    EXPECT_EQ(irds.at({1, 2}).loaded, std::vector<bool>{true});
    EXPECT_EQ(test::ReadRecords(o.reportDir).size(), 2u);
  }
}

// A receiver that rebooted into its new firmware stops answering; the next one on the same
// adapter is loaded once the line has been quiet long enough.
TEST_F(StationTest, QuietLineArmsTheNextUnit) {
  const test::TestImage image = test::WriteImage(dir_.path(), 2000);  // 2 packets: 8 replies
  IrdFarm farm(Links().string(), 0);
  ASSERT_TRUE(farm.started()) << farm.errors();
  ASSERT_TRUE(farm.Plug(1, "SilentFrom@8"));
  StationOptions o = Options({farm.Link(1)}, image);
  o.units = 2;
  o.nextUnit = NextUnit::Quiet;
  o.quiet = 1s;
  StationDriver d(o);
  ASSERT_TRUE(d.Start());
  ASSERT_TRUE(d.WaitFor([&] { return d.Count<ProgressShown>(0) > 0; }));
  // The cable moves to the next receiver while the first is loading.
  ASSERT_TRUE(farm.Plug(1));
  ASSERT_TRUE(d.WaitFor([&] { return d.station().Finished(); })) << d.Story();
  d.Drain();
  const auto irds = farm.Report();
  EXPECT_EQ(irds.at({1, 1}).loaded, std::vector<bool>{true});
  EXPECT_EQ(irds.at({1, 2}).loaded, std::vector<bool>{true});
  EXPECT_EQ(d.station().Summary().ok, 2u);
}

TEST_F(StationTest, PromptedUnitsCarryTheOperatorsIds) {
  const test::TestImage image = test::WriteImage(dir_.path(), 2000);
  IrdFarm farm(Links().string(), 1);
  ASSERT_TRUE(farm.started()) << farm.errors();
  StationOptions o = Options({farm.Link(1)}, image);
  o.units = 2;
  o.nextUnit = NextUnit::Prompt;
  o.askUnitId = true;
  StationDriver d(o);
  ASSERT_TRUE(d.Start());
  ASSERT_TRUE(d.WaitFor([&] { return d.InPhase(0, PortPhase::WaitingForUnitId); }));
  EXPECT_EQ(d.Count<UnitStarted>(0), 0u) << "no unit starts before its id";
  d.station().Give("SN-0001");
  ASSERT_TRUE(d.WaitFor([&] { return d.InPhase(0, PortPhase::WaitingForNextUnit); }));
  d.station().Give("SN-0002");
  ASSERT_TRUE(d.WaitFor([&] { return d.station().Finished(); })) << d.Story();
  d.Drain();
  ASSERT_EQ(d.Units(0).size(), 2u);
  EXPECT_EQ(d.Units(0)[0].unitId, "SN-0001");
  EXPECT_EQ(d.Units(0)[1].unitId, "SN-0002");
  std::set<std::string> ids;
  for (const auto& r : test::ReadRecords(dir_.path() / "out")) ids.insert(r["unitId"].text);
  EXPECT_EQ(ids, (std::set<std::string>{"SN-0001", "SN-0002"}));
}

TEST_F(StationTest, OperatorStopsAUnitAndTheNextWaitsForTheGo) {
  const test::TestImage image = test::WriteImage(dir_.path(), 20000);
  IrdFarm farm(Links().string(), 1);
  ASSERT_TRUE(farm.started()) << farm.errors();
  StationOptions o = Options({farm.Link(1)}, image);
  o.units = 2;
  o.nextUnit = NextUnit::Prompt;
  o.armFirst = false;
  StationDriver d(o);
  ASSERT_TRUE(d.Start());
  ASSERT_TRUE(d.WaitFor([&] { return d.InPhase(0, PortPhase::WaitingForNextUnit); }));
  EXPECT_FALSE(d.WaitFor([&] { return d.Count<UnitStarted>(0) > 0; }, 500ms))
      << "no unit starts before the operator's go";
  d.station().Give("SN-7");
  ASSERT_TRUE(d.WaitFor([&] { return d.Count<ProgressShown>(0) > 0; })) << d.Story();
  d.station().StopUnit(0);
  ASSERT_TRUE(d.WaitFor([&] { return d.Units(0).size() == 1; })) << d.Story();
  EXPECT_EQ(d.Units(0)[0].outcome.kind, OutcomeKind::Stopped);
  EXPECT_EQ(d.Units(0)[0].unitId, "SN-7") << "a scanned go names the unit";
  ASSERT_TRUE(d.WaitFor([&] { return d.InPhase(0, PortPhase::WaitingForNextUnit); }));
  {
    const StationSnapshot snapshot = d.station().Snapshot();
    EXPECT_EQ(snapshot.ports[0].failed, 1u);
    EXPECT_EQ(snapshot.ports[0].stopped, 1u) << "the failed unit is one the operator stopped";
    EXPECT_EQ(snapshot.stopped, 1u);
    // The dashboards and the floor read the port's count from the snapshot's JSON.
    const auto json = test::JsonParser(SnapshotJson(snapshot, std::chrono::system_clock::now(),
                                                    std::chrono::steady_clock::now()))
                          .Parse();
    ASSERT_TRUE(json);
    EXPECT_EQ((*json)["ports"].items[0]["stopped"].Int(), 1);
    EXPECT_EQ((*json)["ports"].items[0]["failed"].Int(), 1);
  }
  EXPECT_FALSE(d.station().Finished());
  // The stopped receiver is taken off and the next one put on before the go.
  ASSERT_TRUE(farm.Swap(1));
  d.station().Give("");
  ASSERT_TRUE(d.WaitFor([&] { return d.station().Finished(); })) << d.Story();
  d.Drain();
  ASSERT_EQ(d.Units(0).size(), 2u);
  EXPECT_EQ(d.Units(0)[1].outcome.kind, OutcomeKind::Success);
  EXPECT_EQ(d.Units(0)[1].unitId, "");
  EXPECT_EQ(farm.Report().at({1, 2}).sha256, std::vector<std::string>{image.sha256});
  const auto summary = d.station().Summary();
  EXPECT_EQ(summary.ok, 1u);
  EXPECT_EQ(summary.failed, 1u);
  EXPECT_EQ(d.station().Snapshot().stopped, 1u) << "the good unit after it is not a stopped one";
  EXPECT_FALSE(summary.stopped) << "stopping one unit is not stopping the station";
}

TEST_F(StationTest, StoppingACallThatNoIrdAnsweredIsNoUnit) {
  const test::TestImage image = test::WriteImage(dir_.path(), 2000);
  IrdFarm farm(Links().string(), 1);
  ASSERT_TRUE(farm.started()) << farm.errors();
  StationOptions o = Options({farm.Link(1)}, image);
  o.units = 1;
  StationDriver d(o);
  // An IRD that never answers: the port calls until the operator stops it.
  ASSERT_TRUE(farm.Swap(1, "SilentFrom@0"));
  ASSERT_TRUE(d.Start());
  ASSERT_TRUE(d.WaitFor([&] { return d.InPhase(0, PortPhase::Calling); }));
  d.station().StopUnit(0);
  ASSERT_TRUE(d.WaitFor([&] { return d.InPhase(0, PortPhase::WaitingForNextUnit); })) << d.Story();
  EXPECT_TRUE(d.Units(0).empty());
  EXPECT_EQ(d.Count<UnitStarted>(0), 1u) << "the port does not call again by itself";
  // In replug mode the operator's go stands in for the replug.
  ASSERT_TRUE(farm.Swap(1));
  d.station().Go(0);
  ASSERT_TRUE(d.WaitFor([&] { return d.station().Finished(); })) << d.Story();
  d.Drain();
  ASSERT_EQ(d.Units(0).size(), 1u);
  EXPECT_EQ(d.Units(0)[0].outcome.kind, OutcomeKind::Success);
  EXPECT_EQ(test::ReadRecords(dir_.path() / "out").size(), 1u);
}

// One receiver under two names (a link and its target, or two links to it) is one device: two
// ports on it would load it twice.
TEST_F(StationTest, OneDeviceUnderTwoNamesIsRefusedAtTheStart) {
  const test::TestImage image = test::WriteImage(dir_.path(), 2000);
  IrdFarm farm(Links().string(), 1);
  ASSERT_TRUE(farm.started()) << farm.errors();
  const std::string alias = (dir_.path() / "alias").string();
  std::filesystem::create_symlink(farm.Link(1), alias);
  const std::string slave = std::filesystem::read_symlink(farm.Link(1)).string();
  const std::vector<std::string> twins[] = {{farm.Link(1), alias}, {alias, slave}};
  for (const auto& paths : twins) {
    SCOPED_TRACE(paths[0] + " and " + paths[1]);
    Station st(Options(paths, image));
    std::string error;
    EXPECT_FALSE(st.Start(&error));
    EXPECT_NE(error.find("P1"), std::string::npos) << error;
    EXPECT_NE(error.find("P2"), std::string::npos) << error;
  }
  EXPECT_EQ(farm.Report().at({1, 1}).files, 0u);
}

// A path that comes to lead to a device another port holds is not opened: its port says which
// port holds the device and waits for its path to lead somewhere new.
TEST_F(StationTest, PathThatComesToLeadToAHeldDeviceWaitsNamingItsHolder) {
  const test::TestImage image = test::WriteImage(dir_.path(), 20000);
  IrdFarm farm(Links().string(), 1);
  ASSERT_TRUE(farm.started()) << farm.errors();
  const std::string late = (dir_.path() / "late").string();
  StationOptions o = Options({farm.Link(1), late}, image);
  o.units = 1;
  StationDriver d(o);
  ASSERT_TRUE(d.Start());
  ASSERT_TRUE(d.WaitFor([&] { return d.Count<ProgressShown>(0) > 0; })) << d.Story();
  std::filesystem::create_symlink(farm.Link(1), late);
  ASSERT_TRUE(d.WaitFor([&] {
    return d.Count<MessageShown>(1, [](const MessageShown& m) {
      return (m.text + m.detail).find("P1") != std::string::npos;
    }) > 0;
  })) << d.Story();
  ASSERT_TRUE(d.WaitFor([&] { return d.Units(0).size() == 1; })) << d.Story();
  // Given time to go wrong, the second port never calls the receiver the first loaded.
  EXPECT_FALSE(d.WaitFor([&] { return d.Count<UnitStarted>(1) > 0; }, 1500ms)) << d.Story();
  EXPECT_EQ(farm.Report().at({1, 1}).files, 1u);
  d.station().StopNow();
}

// A link to /dev/zero, a folder, a FIFO or a plain file: one message that says so, no unit, and
// the port waits until its path leads somewhere new.
TEST_F(StationTest, PathToSomethingThatIsNotASerialPortIsOneMessageThenAWait) {
  const test::TestImage image = test::WriteImage(dir_.path(), 2000);
  IrdFarm farm(Links().string(), 1);
  ASSERT_TRUE(farm.started()) << farm.errors();
  const std::filesystem::path things = dir_.path() / "things";
  std::filesystem::create_directories(things / "folder");
  ASSERT_EQ(::mkfifo((things / "fifo").c_str(), 0600), 0);
  std::ofstream(things / "file") << "not a port";
  std::filesystem::create_symlink("/dev/zero", things / "zero");
  const std::vector<std::string> paths = {(things / "zero").string(), (things / "folder").string(),
                                          (things / "fifo").string(), (things / "file").string()};
  StationOptions o = Options(paths, image);
  o.units = 1;
  StationDriver d(o);
  ASSERT_TRUE(d.Start());
  // Each port says it once, even given time to go wrong.
  const auto said = [&](std::size_t i) {
    return d.Count<MessageShown>(i, [](const MessageShown& m) {
      return m.text.find("not a serial port") != std::string::npos;
    });
  };
  ASSERT_TRUE(d.WaitFor([&] {
    for (std::size_t i = 0; i < paths.size(); ++i) {
      if (said(i) == 0) return false;
    }
    return true;
  })) << d.Story();
  d.WaitFor([] { return false; }, 2000ms);
  for (std::size_t i = 0; i < paths.size(); ++i) {
    SCOPED_TRACE(paths[i]);
    EXPECT_EQ(said(i), 1u) << d.Story();
    EXPECT_EQ(d.Count<UnitStarted>(i), 0u);
    EXPECT_EQ(d.Count<UnitEnded>(i), 0u);
  }
  // The link now leads to a receiver: the unit loads.
  std::filesystem::remove(things / "zero");
  std::filesystem::create_symlink(farm.Link(1), things / "zero");
  ASSERT_TRUE(d.WaitFor([&] { return d.Units(0).size() == 1; })) << d.Story();
  EXPECT_EQ(d.Units(0)[0].outcome.kind, OutcomeKind::Success);
  d.station().StopNow();
}

}  // namespace
}  // namespace irdload::station
