// irdload-cli station --http as a program of its own, its receivers in another: the snapshot,
// the event stream, the records and units.csv fetched while and after it loads, the same files
// as on disk; nothing outside the report folder reachable; and addresses it cannot serve on
// refused before any unit starts.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "engine/ImageWriter.h"
#include "engine/Link.h"
#include "support/HttpClient.h"
#include "support/IrdFarm.h"
#include "support/Process.h"
#include "support/Records.h"
#include "support/TempDir.h"

namespace irdload::floor {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Json = nlohmann::json;
using test::HttpBody;
using test::HttpGet;
using test::HttpStatus;

constexpr auto kBound = 60s;

// The port of the "dashboard on http://HOST:PORT/" line; 0 when there is none.
int DashboardPort(test::Process& station) {
  const auto line = station.WaitLine(
      [](const std::string& l) { return l.rfind("dashboard on http://", 0) == 0; }, kBound);
  if (!line) return 0;
  const std::size_t colon = line->rfind(':');
  return std::stoi(line->substr(colon + 1));
}

class DashboardTest : public ::testing::Test {
 protected:
  std::string Image(std::size_t size) {
    return dir_.WriteBytes("fw.uuc", ComposeImage(kTypeSingle, PatternPayload(size, 5)));
  }
  std::string Links() const { return (dir_.path() / "links").string(); }
  fs::path Out() const { return dir_.path() / "out"; }

  test::TempDir dir_;
};

TEST_F(DashboardTest, ServesTheLiveStationAndItsRecordsAsOnDisk) {
  const std::string image = Image(60000);
  test::IrdFarm farm(Links(), 2);
  ASSERT_TRUE(farm.started());
  test::Process station;
  ASSERT_TRUE(station.Start(
      IRDLOAD_CLI,
      {"station", "--http", "127.0.0.1:0", "--name", "bench 7", "--units", "1", "--report",
       Out().string(), "--port", "A=" + farm.Link(1), "--port", "B=" + farm.Link(2), image}));
  const int port = DashboardPort(station);
  ASSERT_GT(port, 0) << station.out() << station.err();

  // The event stream: the state at once, then newer states as the units load.
  test::HttpConnection stream(port);
  ASSERT_TRUE(stream.Send("GET /api/events HTTP/1.1\r\n\r\n"));
  std::vector<std::uint64_t> bytesDone;  // port A's, state after state, while it loads
  for (auto deadline = std::chrono::steady_clock::now() + kBound;
       std::chrono::steady_clock::now() < deadline && stream.connected();) {
    const std::string& got = stream.Read(kBound, "\n\n");
    const std::size_t end = got.find("\n\n");
    if (end == std::string::npos) continue;
    const std::string message = got.substr(0, end);
    stream.Clear();
    constexpr std::string_view kState = "event: state\ndata: ";
    if (message.rfind(kState, 0) != 0) continue;  // "retry:" and keep-alives
    const Json state = Json::parse(message.substr(kState.size()));
    EXPECT_EQ(state["title"], "bench 7");
    ASSERT_EQ(state["snapshot"]["ports"].size(), 2u);
    const Json& a = state["snapshot"]["ports"][0];
    if (a["state"] == "transferring") bytesDone.push_back(a["bytesDone"]);
    if (bytesDone.size() >= 2 && bytesDone.back() > bytesDone.front()) break;
  }
  ASSERT_GE(bytesDone.size(), 2u) << "no state while port A loaded";
  EXPECT_GT(bytesDone.back(), bytesDone.front()) << "the stream's states never moved";

  // The snapshot, as docs/json-events.md has it.
  const std::string snap = HttpGet(port, "/api/snapshot");
  ASSERT_EQ(HttpStatus(snap), 200) << snap;
  EXPECT_NE(snap.find("Content-Type: application/json\r\n"), std::string::npos);
  const Json s = Json::parse(HttpBody(snap));
  EXPECT_EQ(s["schema"], 2);
  ASSERT_EQ(s["ports"].size(), 2u);
  EXPECT_EQ(s["ports"][0]["port"], "A");
  EXPECT_EQ(s["ports"][1]["port"], "B");
  EXPECT_EQ(s["ports"][1]["portPath"], farm.Link(2));

  // The dashboard takes nothing from the load: every unit loads.
  ASSERT_EQ(station.Wait(kBound), 0) << station.out() << station.err();
  const auto irds = farm.Report();
  ASSERT_EQ(irds.size(), 2u);
  for (const auto& [key, ird] : irds) {
    EXPECT_EQ(ird.loaded, std::vector<bool>({true})) << key.first;
  }
}

TEST_F(DashboardTest, RecordsAndUnitsCsvDownloadAsOnDiskAndNothingElse) {
  const std::string image = Image(20000);
  test::IrdFarm farm(Links(), 2);
  ASSERT_TRUE(farm.started());
  test::Process station;
  // Each port loads its first unit, then waits for the operator's Enter, and the dashboard
  // serves meanwhile.
  ASSERT_TRUE(station.Start(
      IRDLOAD_CLI,
      {"station", "--http", "127.0.0.1:0", "--next-unit", "prompt", "--report", Out().string(),
       "--port", "A=" + farm.Link(1), "--port", "B=" + farm.Link(2), image}));
  const int port = DashboardPort(station);
  ASSERT_GT(port, 0) << station.out() << station.err();
  // A unit a port, each named on the page's list once its record is durable.
  Json state;
  for (auto deadline = std::chrono::steady_clock::now() + kBound;
       std::chrono::steady_clock::now() < deadline;) {
    state = Json::parse(HttpBody(HttpGet(port, "/api/state")));
    if (state["units"].size() == 2) break;
    std::this_thread::sleep_for(100ms);
  }
  ASSERT_EQ(state["units"].size(), 2u) << state.dump();
  for (const Json& u : state["units"]) {
    EXPECT_EQ(u["loaded"], true) << u.dump();
    ASSERT_TRUE(u["record"].is_string()) << u.dump();
    const std::string name = u["record"];
    const std::string r = HttpGet(port, "/records/" + name);
    EXPECT_EQ(HttpStatus(r), 200) << r;
    EXPECT_EQ(HttpBody(r), test::FileText(Out() / name)) << name;
    EXPECT_NE(r.find("filename=\"" + name + "\""), std::string::npos);
  }
  const std::string names = HttpBody(HttpGet(port, "/api/records"));
  EXPECT_EQ(Json::parse(names).size(), 2u) << names;
  const std::string csv = HttpGet(port, "/units.csv");
  EXPECT_EQ(HttpStatus(csv), 200);
  EXPECT_EQ(HttpBody(csv), test::FileText(Out() / "units.csv"));

  // Files beside the records, and paths out of the folder, are not served.
  std::ofstream(Out() / "notes.txt") << "private";
  std::ofstream(dir_.path() / "secret.json") << "{}";
  fs::create_symlink(dir_.path() / "secret.json", Out() / "linked.json");
  for (const std::string& path : std::vector<std::string>{
           "/records/notes.txt", "/records/../secret.json", "/records/%2e%2e/secret.json",
           "/records/linked.json", "/records/", "/records/.hidden.json", "/records/units.csv",
           "/out/units.csv", "/" + Out().string() + "/units.csv", "/records//etc/passwd"}) {
    EXPECT_EQ(HttpStatus(HttpGet(port, path)), 404) << path;
  }
  station.Signal(SIGINT);
  EXPECT_EQ(station.Wait(kBound), 130) << station.out() << station.err();
}

TEST_F(DashboardTest, AnAddressItCannotServeOnIsRefusedBeforeAnyUnit) {
  const std::string image = Image(2000);
  test::IrdFarm farm(Links(), 1);
  ASSERT_TRUE(farm.started());
  test::Process holder;  // a station that holds a port first
  ASSERT_TRUE(holder.Start(IRDLOAD_CLI, {"station", "--http", "127.0.0.1:0", "--next-unit",
                                         "prompt", "--port", farm.Link(1), image}));
  const int taken = DashboardPort(holder);
  ASSERT_GT(taken, 0);
  const struct {
    std::string address, says;
  } cases[] = {
      {"nonsense", "--http takes HOST:PORT or PORT"},
      {"127.0.0.1:99999", "--http takes HOST:PORT or PORT"},
      {"example.com:80", "is not an IPv4 address"},
      {"127.0.0.1:" + std::to_string(taken), "cannot serve the dashboard on 127.0.0.1:"},
  };
  for (const auto& c : cases) {
    test::Process station;
    ASSERT_TRUE(station.Start(
        IRDLOAD_CLI, {"station", "--http", c.address, "--units", "1", "--report", Out().string(),
                      "--port", dir_.path().string() + "/nothing", image}));
    EXPECT_EQ(station.Wait(kBound), 2) << c.address;
    EXPECT_NE(station.err().find(c.says), std::string::npos) << station.err();
    EXPECT_FALSE(fs::exists(Out() / "units.csv")) << c.address;
  }
  holder.Signal(SIGINT);
  holder.Wait(kBound);
}

}  // namespace
}  // namespace irdload::floor
