// A seeded soak: 8 ports, 10 units each, every receiver with one of the virtual IRD's faults,
// each unit swapped for the next by a replug. Every record must match what its receiver holds,
// and no record may be lost or doubled.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "station/StationDriver.h"
#include "support/IrdFarm.h"
#include "support/TempDir.h"

namespace irdload::station {
namespace {

using unit::MessageShown;
using unit::ProgressShown;
using unit::UnitEnded;
using unit::UnitStarted;

using namespace std::chrono_literals;

constexpr int kPorts = 8;
constexpr std::uint32_t kUnits = 10;
constexpr std::uint64_t kSeed = 20261210;
// A 2-packet image: the IRD sends 8 replies in a clean load.
constexpr std::size_t kImageBytes = 2000;
constexpr std::uint32_t kReplies = 8;

// One fault for the next receiver, as the farm takes it; every kind the virtual IRD has. Line
// cuts and silence come after the IRD's first answer, so that every receiver makes a unit.
std::string DrawFault(std::mt19937_64& rng) {
  const std::uint32_t at = static_cast<std::uint32_t>(rng() % kReplies);
  const std::uint32_t late = 1 + static_cast<std::uint32_t>(rng() % (kReplies - 1));
  switch (rng() % 12) {
    case 0:
      return "NackHeader@0";
    case 1:
      return "NackPacket@" + std::to_string(rng() % 2);
    case 2:
      return "DropReply@" + std::to_string(at);
    case 3:
      return "CorruptReply@" + std::to_string(at) + ":" + std::to_string(rng() % 256);
    case 4:
      return "ClearBit20@" + std::to_string(at);
    case 5:
      return "Garbage@" + std::to_string(at) + ":3";
    case 6:
      return "SilentFrom@" + std::to_string(late);
    case 7:
      return "FailTerminate";
    case 8:
      return "CorruptPacketByte@" + std::to_string(rng() % 2);
    case 9:
      return "DelayReply@" + std::to_string(at) + ":200000";
    case 10:
      return "HangUpAt@" + std::to_string(late);
    default:
      return "";  // a healthy receiver
  }
}

TEST(StationSoakTest, EveryRecordMatchesItsReceiverAndNoneIsLostOrDoubled) {
  test::TempDir dir;
  const test::TestImage image = test::WriteImage(dir.path(), kImageBytes);
  test::IrdFarm farm((dir.path() / "links").string(), 0);
  ASSERT_TRUE(farm.started()) << farm.errors();
  std::mt19937_64 rng(kSeed);
  // Each receiver's fault by (socket, serial), for a failure's message.
  std::map<std::pair<int, int>, std::string> faults;
  StationOptions o;
  for (int i = 1; i <= kPorts; ++i) {
    faults[{i, 1}] = DrawFault(rng);
    ASSERT_TRUE(farm.Plug(i, faults[{i, 1}]));
    o.ports.push_back({"S" + std::to_string(i), farm.Link(i)});
  }
  o.files = {image.path};
  o.units = kUnits;
  o.reportDir = (dir.path() / "out").string();
  o.replyWait = 20ms;
  o.limits.retryLimit = 25;
  test::StationDriver d(o);
  ASSERT_TRUE(d.Start());

  // Each unit that ends is swapped for a new receiver, as an operator would.
  std::vector<std::size_t> swapped(kPorts, 0);
  ASSERT_TRUE(d.WaitFor(
      [&] {
        for (int i = 0; i < kPorts; ++i) {
          const std::size_t ended = d.Units(static_cast<std::size_t>(i)).size();
          while (swapped[i] < ended && ended < kUnits) {
            ++swapped[i];
            std::string& fault = faults[{i + 1, static_cast<int>(swapped[i]) + 1}];
            fault = DrawFault(rng);
            EXPECT_TRUE(farm.Swap(i + 1, fault));
          }
        }
        return d.station().Finished();
      },
      240s))
      << d.Story();
  d.Drain();

  const auto irds = farm.Report();
  const auto records = test::ReadRecords(dir.path() / "out");
  ASSERT_EQ(records.size(), kPorts * kUnits);
  EXPECT_EQ(test::CsvLines(dir.path() / "out"), kPorts * kUnits + 1);
  std::set<std::pair<std::string, std::int64_t>> seen;
  std::size_t loaded = 0;
  for (const auto& r : records) {
    const std::string port = r["port"].text;
    const std::int64_t unit = r["unit"].Int();
    const int socket = std::stoi(port.substr(1));
    const std::string& fault = faults[{socket, static_cast<int>(unit)}];
    SCOPED_TRACE(port + " unit " + std::to_string(unit) + ": " + r["outcome"].text + " " +
                 r["detail"].text + "; its receiver's fault: \"" + fault + "\"");
    EXPECT_TRUE(seen.insert({port, unit}).second) << "a doubled record";
    // Unit n on socket s went to the socket's n-th receiver.
    const auto ird = irds.find({socket, static_cast<int>(unit)});
    ASSERT_NE(ird, irds.end());
    EXPECT_EQ(r["adapter"]["device"].text, ird->second.slave);
    if (r["loaded"].boolean) {
      ++loaded;
      EXPECT_EQ(r["outcome"].text, "success");
      EXPECT_EQ(r["files"].items[0]["sha256"].text, image.sha256);
      EXPECT_EQ(ird->second.sha256, std::vector<std::string>{image.sha256});
      EXPECT_EQ(ird->second.loaded, std::vector<bool>{true});
    } else {
      EXPECT_NE(r["outcome"].text, "success");
      EXPECT_NE(r["exitCode"].Int(), 0);
    }
  }
  EXPECT_EQ(loaded, d.station().Summary().ok);
  EXPECT_EQ(records.size() - loaded, d.station().Summary().failed);
  // Some of each, or the soak proved little.
  EXPECT_GT(loaded, 0u);
  EXPECT_LT(loaded, records.size());
}

}  // namespace
}  // namespace irdload::station
