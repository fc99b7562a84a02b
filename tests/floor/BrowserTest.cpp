// The dashboards in a real browser: headless Chromium opens a station's page while the station
// loads virtual IRDs; the tiles move without a reload, the finished units appear in the list,
// and a screenshot of the page is kept (floor-dashboard.png beside the test program) to look at.
// The fleet's page shows a row per station on the broker, its sockets as tiles
// (floor-fleet.png).
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <thread>

#include "engine/ImageWriter.h"
#include "engine/Link.h"
#include "support/Chromium.h"
#include "support/IrdFarm.h"
#include "support/Mosquitto.h"
#include "support/Process.h"
#include "support/TempDir.h"

namespace irdload::floor {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kBound = 60s;

// What each tile shows of its progress, as one text.
constexpr const char* kTilePaces =
    "[...document.querySelectorAll('.tile .pace')].map(e => e.textContent).join(' | ')";

// Time left as the dialog and the command line write it: "MM:SS left", two digits at least
// for the minutes. (Not std::regex: GCC 12 warns falsely inside it under the sanitizers.)
bool ShowsTimeLeft(const std::string& text) {
  const auto digit = [&](std::size_t i) {
    return std::isdigit(static_cast<unsigned char>(text[i])) != 0;
  };
  for (std::size_t at = text.find(" left"); at != std::string::npos;
       at = text.find(" left", at + 1)) {
    if (at >= 5 && digit(at - 5) && digit(at - 4) && text[at - 3] == ':' && digit(at - 2) &&
        digit(at - 1)) {
      return true;
    }
  }
  return false;
}

// Evaluates `expression` until `done` accepts its value; the last value.
std::string EvaluateUntil(test::Chromium& browser, const std::string& expression,
                          const std::function<bool(const std::string&)>& done) {
  std::string value;
  for (auto deadline = std::chrono::steady_clock::now() + kBound;
       std::chrono::steady_clock::now() < deadline;) {
    value = browser.Evaluate(expression).value_or("");
    if (done(value)) break;
    std::this_thread::sleep_for(50ms);
  }
  return value;
}

TEST(BrowserTest, TheStationPageShowsLiveTilesAndFinishedUnits) {
  if (test::Chromium::Program().empty()) GTEST_SKIP() << "chromium is not installed";
  test::TempDir dir;
  const std::string image =
      dir.WriteBytes("fw.uuc", ComposeImage(kTypeSingle, PatternPayload(150000, 9)));
  // The receivers are plugged in once the page is live: a browser that starts slowly must not
  // miss the whole load.
  test::IrdFarm farm((dir.path() / "links").string(), 0);
  ASSERT_TRUE(farm.started());
  test::Process station;
  std::vector<std::string> args = {"station", "--http",   "127.0.0.1:0",
                                   "--name",  "bench 3",  "--next-unit",
                                   "prompt",  "--report", (dir.path() / "out").string()};
  for (int i = 1; i <= 3; ++i) {
    args.insert(args.end(), {"--port", "S" + std::to_string(i) + "=" + farm.Link(i)});
  }
  args.push_back(image);
  ASSERT_TRUE(station.Start(IRDLOAD_CLI, args));
  const auto line = station.WaitLine(
      [](const std::string& l) { return l.rfind("dashboard on http://", 0) == 0; }, kBound);
  ASSERT_TRUE(line) << station.out() << station.err();
  const std::string url = line->substr(line->find("http://"));

  test::Chromium browser;
  ASSERT_TRUE(browser.Start(url, (dir.path() / "profile").string()));
  EXPECT_EQ(EvaluateUntil(browser, "document.getElementById('link').textContent",
                          [](const std::string& v) { return v == "live"; }),
            "live");
  EXPECT_EQ(browser.Evaluate("document.getElementById('title').textContent"), "bench 3");
  EXPECT_EQ(browser.Evaluate("document.querySelectorAll('.tile').length"), "3");
  for (int i = 1; i <= 3; ++i) ASSERT_TRUE(farm.Plug(i));
  // The same page, never reloaded, shows the load going on.
  const std::string loading = EvaluateUntil(browser, kTilePaces, [&](const std::string& v) {
    return v.find("% ·") != std::string::npos && v.find("KiB/s") != std::string::npos &&
           ShowsTimeLeft(v);
  });
  ASSERT_NE(loading.find("% ·"), std::string::npos) << loading;
  EXPECT_TRUE(ShowsTimeLeft(loading)) << loading;
  const std::string later = EvaluateUntil(browser, kTilePaces, [&](const std::string& v) {
    return v != loading && v.find("% ·") != std::string::npos;
  });
  EXPECT_NE(later, loading) << "the tiles did not move";
  const std::string shot = (fs::path(IRDLOAD_TEST_OUTPUT) / "floor-dashboard.png").string();
  ASSERT_TRUE(browser.Screenshot(shot));
  std::ifstream png(shot, std::ios::binary);
  char magic[8] = {};
  png.read(magic, 8);
  EXPECT_EQ(std::string(magic + 1, 3), "PNG");

  // Each port's unit ends loaded and is listed, with its record to open.
  const std::string rows = EvaluateUntil(
      browser,
      "[...document.querySelectorAll('#units tbody tr')].map(r => r.textContent).join('|')",
      [](const std::string& v) {
        return std::count(v.begin(), v.end(), '|') == 2 && v.find("loaded") != std::string::npos;
      });
  EXPECT_EQ(std::count(rows.begin(), rows.end(), '|'), 2) << rows;
  for (const char* port : {"S1", "S2", "S3"}) EXPECT_NE(rows.find(port), std::string::npos) << rows;
  EXPECT_EQ(browser.Evaluate("document.querySelectorAll('#units a[href^=\"/records/\"]').length"),
            "3");
  EXPECT_EQ(browser.Evaluate("document.querySelectorAll('.tile .last.good').length"), "3");
  station.Signal(SIGINT);
  EXPECT_EQ(station.Wait(kBound), 130) << station.out() << station.err();
}

TEST(BrowserTest, TheFleetPageShowsEveryStationWithItsSockets) {
  if (test::Chromium::Program().empty()) GTEST_SKIP() << "chromium is not installed";
  if (test::Mosquitto::Program().empty()) GTEST_SKIP() << "mosquitto is not installed";
  test::TempDir dir;
  const std::string image =
      dir.WriteBytes("fw.uuc", ComposeImage(kTypeSingle, PatternPayload(20000, 9)));
  const std::string credentials = (dir.path() / "credentials").string();
  std::ofstream(credentials) << "floor\npw\n";
  test::Mosquitto broker(dir.path() / "broker", "floor", "pw");
  ASSERT_TRUE(broker.Start());
  test::Process fleet;
  ASSERT_TRUE(fleet.Start(
      IRDLOAD_CLI, {"fleet", "--mqtt", broker.url(), "--mqtt-credentials", credentials, "--report",
                    (dir.path() / "floor").string(), "--http", "127.0.0.1:0"}));
  const auto line = fleet.WaitLine(
      [](const std::string& l) { return l.rfind("dashboard on http://", 0) == 0; }, kBound);
  ASSERT_TRUE(line) << fleet.out() << fleet.err();
  // Two stations; each port loads one unit, then waits for the operator's Enter.
  test::IrdFarm farm((dir.path() / "links").string(), 3);
  ASSERT_TRUE(farm.started());
  test::Process bench1, bench2;
  const auto start = [&](test::Process& station, const std::string& name, std::vector<int> irds) {
    std::vector<std::string> args = {"station",
                                     "--mqtt",
                                     broker.url(),
                                     "--mqtt-credentials",
                                     credentials,
                                     "--name",
                                     name,
                                     "--next-unit",
                                     "prompt",
                                     "--report",
                                     (dir.path() / name).string()};
    for (int i : irds)
      args.insert(args.end(), {"--port", "S" + std::to_string(i) + "=" + farm.Link(i)});
    args.push_back(image);
    return station.Start(IRDLOAD_CLI, args);
  };
  ASSERT_TRUE(start(bench1, "bench-1", {1, 2}));
  ASSERT_TRUE(start(bench2, "bench-2", {3}));

  test::Chromium browser;
  ASSERT_TRUE(
      browser.Start(line->substr(line->find("http://")), (dir.path() / "profile").string()));
  const std::string rows = EvaluateUntil(
      browser,
      "[...document.querySelectorAll('#units tbody tr')].map(r => r.textContent).join('|')",
      [](const std::string& v) { return std::count(v.begin(), v.end(), '|') == 2; });
  EXPECT_EQ(std::count(rows.begin(), rows.end(), '|'), 2) << rows;
  for (const char* name : {"bench-1S1", "bench-1S2", "bench-2S3"}) {
    EXPECT_NE(rows.find(name), std::string::npos) << rows;
  }
  EXPECT_EQ(EvaluateUntil(browser,
                          "[...document.querySelectorAll('.station')].map(s => s.dataset.station "
                          "+ ':' + s.querySelectorAll('.tile').length).join(' ')",
                          [](const std::string& v) { return v == "bench-1:2 bench-2:1"; }),
            "bench-1:2 bench-2:1");
  EXPECT_EQ(EvaluateUntil(browser, "document.querySelectorAll('.tile .last.good').length",
                          [](const std::string& v) { return v == "3"; }),
            "3");
  EXPECT_EQ(browser.Evaluate("document.getElementById('broker').textContent"), "broker");
  ASSERT_TRUE(browser.Screenshot((fs::path(IRDLOAD_TEST_OUTPUT) / "floor-fleet.png").string()));
  // A station that ends is said offline on its row.
  bench2.Signal(SIGINT);
  EXPECT_EQ(bench2.Wait(kBound), 130);
  EXPECT_EQ(EvaluateUntil(browser,
                          "document.querySelector('.station[data-station=\"bench-2\"]')"
                          ".classList.contains('offline')",
                          [](const std::string& v) { return v == "true"; }),
            "true");
  bench1.Signal(SIGINT);
  EXPECT_EQ(bench1.Wait(kBound), 130);
  fleet.Signal(SIGINT);
  EXPECT_EQ(fleet.Wait(kBound), 0) << fleet.err();
}

}  // namespace
}  // namespace irdload::floor
