// A station that stops starting units the moment its report folder stops taking records, so
// that no unit is ever loaded without one.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include "station/StationDriver.h"
#include "support/Child.h"
#include "support/IrdFarm.h"
#include "support/TempDir.h"

namespace irdload::station {
namespace {

using unit::MessageShown;
using unit::ProgressShown;
using unit::UnitEnded;
using unit::UnitStarted;

// The folder fills after the first unit: the port halts before it calls the next receiver.
TEST(StationRecordsTest, StationStopsStartingUnitsWhenRecordsCanNoLongerBeWritten) {
  test::TempDir dir;
  const test::TestImage image = test::WriteImage(dir.path(), 2000);
  const test::ChildResult child = test::RunInChild([&](std::string& text) {
    test::IrdFarm farm((dir.path() / "links").string(), 1);
    if (!farm.started()) return 100;
    StationOptions o;
    o.ports = {{"A", farm.Link(1)}};
    o.files = {image.path};
    o.units = 2;
    o.reportDir = (dir.path() / "out").string();
    test::StationDriver d(o);
    if (!d.Start()) return 101;
    if (!d.WaitFor([&] { return d.InPhase(0, PortPhase::WaitingForNextUnit); })) return 102;
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit cap{400, 400};
    if (::setrlimit(RLIMIT_FSIZE, &cap) != 0) return 103;
    if (!farm.Swap(1)) return 104;
    if (!d.WaitFor([&] { return d.station().Finished(); })) return 105;
    d.Drain();
    for (const auto& e : d.events()) {
      if (const auto* m = std::get_if<MessageShown>(&e.body)) text += m->text + "\n";
    }
    const auto irds = farm.Report();
    if (irds.size() != 2 || irds.at({1, 2}).files != 0) return 106;  // the new receiver untouched
    if (d.Count<UnitStarted>(0) != 1) return 107;
    return d.station().Summary().halted ? 0 : 108;
  });
  ASSERT_TRUE(child.exited);
  EXPECT_EQ(child.code, 0) << child.text;
  EXPECT_NE(child.text.find("no unit is started"), std::string::npos) << child.text;
  EXPECT_EQ(test::ReadRecords(dir.path() / "out").size(), 1u);
}

}  // namespace
}  // namespace irdload::station
