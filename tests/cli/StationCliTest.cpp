// irdload-cli station as a program of its own, its receivers in another: Ctrl-C once and twice,
// exit codes, the live table on a terminal, and standard output under --json that is JSON Lines
// and nothing else in every scenario, refusals included.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <thread>

#include "engine/ImageWriter.h"
#include "engine/Link.h"
#include "support/Child.h"
#include "support/CliRun.h"
#include "support/IrdFarm.h"
#include "support/Json.h"
#include "support/Process.h"
#include "support/PtyPair.h"
#include "support/TempDir.h"

namespace irdload::cli {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::JsonValue;

constexpr auto kBound = 60s;

class StationCliTest : public ::testing::Test {
 protected:
  std::string Image(std::size_t size) {
    return dir_.WriteBytes("fw.uuc", ComposeImage(kTypeSingle, PatternPayload(size, 3)));
  }
  std::string Links() const { return (dir_.path() / "links").string(); }
  std::string Out() const { return (dir_.path() / "out").string(); }

  // Standard output as JSON Lines, every line checked.
  static std::vector<JsonValue> Events(const std::string& out) {
    std::string bad;
    auto lines = test::JsonLines(out, &bad);
    EXPECT_TRUE(lines) << "not JSON: " << bad;
    if (!lines) return {};
    for (const JsonValue& l : *lines) {
      EXPECT_EQ(l["schema"].Int(), 2);
      EXPECT_TRUE(l.Has("time") && l.Has("event") && l.Has("port")) << out;
    }
    EXPECT_FALSE(lines->empty());
    if (!lines->empty()) {
      EXPECT_EQ(lines->back()["event"].text, "summary") << out;
    }
    return *lines;
  }
  static std::vector<JsonValue> Of(const std::vector<JsonValue>& events, const std::string& name) {
    std::vector<JsonValue> out;
    for (const auto& e : events) {
      if (e["event"].text == name) out.push_back(e);
    }
    return out;
  }
  static bool IsEvent(const std::string& line, const std::string& name) {
    return line.find("\"event\":\"" + name + "\"") != std::string::npos;
  }

  test::TempDir dir_;
};

TEST_F(StationCliTest, CtrlCOnceLetsTheRunningUnitFinishAndStartsNoOther) {
  const std::string image = Image(20000);
  test::IrdFarm farm(Links(), 1);
  ASSERT_TRUE(farm.started());
  test::Process station;
  ASSERT_TRUE(station.Start(IRDLOAD_CLI, {"station", "--json", "--port", "A=" + farm.Link(1),
                                          "--units", "3", "--report", Out(), image}));
  ASSERT_TRUE(
      station.WaitLine([](const std::string& l) { return IsEvent(l, "progress"); }, kBound));
  station.Signal(SIGINT);
  const auto code = station.Wait(kBound);
  ASSERT_TRUE(code);
  EXPECT_EQ(*code, EXIT_STOPPED) << station.err();
  const auto events = Events(station.out());
  ASSERT_EQ(Of(events, "end").size(), 1u) << station.out();
  EXPECT_TRUE(Of(events, "end")[0]["loaded"].boolean) << station.out();
  EXPECT_EQ(Of(events, "start").size(), 1u);
  EXPECT_TRUE(events.back()["stopped"].boolean);
  EXPECT_EQ(events.back()["exitCode"].Int(), EXIT_STOPPED);
  EXPECT_EQ(farm.Report().at({1, 1}).loaded, std::vector<bool>{true});
  EXPECT_NE(station.err().find("Ctrl-C again"), std::string::npos) << station.err();
}

TEST_F(StationCliTest, CtrlCTwiceStopsTheRunningUnitAtOnceAndRecordsIt) {
  const std::string image = Image(60000);
  test::IrdFarm farm(Links(), 1);
  ASSERT_TRUE(farm.started());
  test::Process station;
  ASSERT_TRUE(station.Start(
      IRDLOAD_CLI, {"station", "--json", "--port", "A=" + farm.Link(1), "--report", Out(), image}));
  ASSERT_TRUE(
      station.WaitLine([](const std::string& l) { return IsEvent(l, "progress"); }, kBound));
  station.Signal(SIGINT);
  // Two signals pending at once are one: the second goes only once the first was taken.
  ASSERT_TRUE(station.WaitErr("Ctrl-C again", kBound)) << station.err();
  station.Signal(SIGINT);
  const auto code = station.Wait(kBound);
  ASSERT_TRUE(code);
  EXPECT_EQ(*code, EXIT_STOPPED) << station.err();
  const auto events = Events(station.out());
  ASSERT_EQ(Of(events, "end").size(), 1u) << station.out();
  EXPECT_EQ(Of(events, "end")[0]["outcome"].text, "stopped");
  EXPECT_FALSE(Of(events, "end")[0]["loaded"].boolean);
  const auto ird = farm.Report().at({1, 1});
  EXPECT_TRUE(ird.loaded.empty() || !ird.loaded[0]);
  // The stopped unit has its record too.
  std::size_t records = 0;
  for (const auto& e : fs::directory_iterator(Out())) records += e.path().extension() == ".json";
  EXPECT_EQ(records, 1u);
}

TEST_F(StationCliTest, AnyFailedUnitExitsWithFourAndPersonTextGoesToStandardError) {
  const std::string image = Image(2000);
  test::IrdFarm farm(Links(), 2);
  ASSERT_TRUE(farm.started());
  ASSERT_TRUE(farm.Plug(2, "FailTerminate"));
  test::Process station;
  ASSERT_TRUE(station.Start(IRDLOAD_CLI, {"station", "--json", "--port", "A=" + farm.Link(1),
                                          "--port", "B=" + farm.Link(2), "--units", "1", image}));
  const auto code = station.Wait(kBound);
  ASSERT_TRUE(code);
  EXPECT_EQ(*code, EXIT_IRD_FAILED) << station.err();
  const auto events = Events(station.out());
  for (const auto& end : Of(events, "end")) {
    EXPECT_EQ(end["loaded"].boolean, end["port"].text == "A");
    EXPECT_EQ(end["exitCode"].Int(), end["port"].text == "A" ? 0 : 4);
  }
  EXPECT_EQ(events.back()["ok"].Int(), 1);
  EXPECT_EQ(events.back()["failed"].Int(), 1);
  EXPECT_NE(station.err().find("B: unit 1: failed"), std::string::npos) << station.err();
}

// Late adapters, swaps and pulled cables: standard output stays JSON Lines throughout, and a
// grep for a label gives that socket's whole story in the plain log.
TEST_F(StationCliTest, JsonLinesInEveryScenario) {
  const std::string image = Image(20000);
  struct Scenario {
    const char* name;
    int plugged;
    std::vector<std::string> extra;
    std::function<void(test::IrdFarm&, test::Process&)> drive;
  };
  const auto progress = [](test::Process& s) {
    return s.WaitLine([](const std::string& l) { return IsEvent(l, "progress"); }, kBound);
  };
  const auto ended = [](test::Process& s) {
    return s.WaitLine([](const std::string& l) { return IsEvent(l, "end"); }, kBound);
  };
  const Scenario scenarios[] = {
      {"late adapter",
       0,
       {"--units", "1"},
       [&](test::IrdFarm& f, test::Process& s) {
         EXPECT_TRUE(s.WaitLine(
             [](const std::string& l) {
               return l.find("waiting-for-adapter") != std::string::npos;
             },
             kBound));
         EXPECT_TRUE(f.Plug(1));
       }},
      {"swap",
       1,
       {"--units", "2", "--next-unit", "replug"},
       [&](test::IrdFarm& f, test::Process& s) {
         EXPECT_TRUE(ended(s));
         EXPECT_TRUE(f.Swap(1));
       }},
      {"unplugged mid-transfer",
       1,
       {"--units", "2"},
       [&](test::IrdFarm& f, test::Process& s) {
         EXPECT_TRUE(progress(s));
         EXPECT_TRUE(f.Unplug(1));
         EXPECT_TRUE(ended(s));
         EXPECT_TRUE(f.Plug(1));
       }},
  };
  for (const Scenario& sc : scenarios) {
    SCOPED_TRACE(sc.name);
    test::TempDir links;
    test::IrdFarm farm(links.path().string(), sc.plugged);
    ASSERT_TRUE(farm.started());
    std::vector<std::string> args = {"station", "--json", "--port", "A=" + farm.Link(1), image};
    args.insert(args.end(), sc.extra.begin(), sc.extra.end());
    test::Process station;
    ASSERT_TRUE(station.Start(IRDLOAD_CLI, args));
    sc.drive(farm, station);
    const auto code = station.Wait(kBound);
    ASSERT_TRUE(code);
    const auto events = Events(station.out());
    EXPECT_FALSE(Of(events, "start").empty());
    EXPECT_FALSE(Of(events, "end").empty());
    EXPECT_EQ(events.back()["exitCode"].Int(), *code);
  }
}

TEST_F(StationCliTest, RefusalsAreJsonOnStandardOutputAndTextOnStandardError) {
  const std::string image = Image(2000);
  const std::string ro = (dir_.path() / "ro").string();
  fs::create_directories(ro);
  ::chmod(dir_.path().c_str(), 0755);
  ::chmod(ro.c_str(), 0555);
  ::chmod(image.c_str(), 0644);
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::function<bool()> setUp;  // in a child of its own
    const char* fragment;         // in standard error and in the error event
  };
  const auto none = [] { return true; };
  const std::vector<Case> cases = {
      {"no port", {"station", "--json", image}, none, "--port"},
      {"bad next unit",
       {"station", "--json", "--port", "/dev/x", "--next-unit", "later", image},
       none,
       "--next-unit"},
      {"bad port", {"station", "--json", "--port", "ttyUSB0", image}, none, "device path"},
      {"same port twice",
       {"station", "--json", "--port", "/dev/x", "--port", "B=/dev/x", image},
       none,
       "twice"},
      {"missing file", {"station", "--json", "--port", "/dev/x", "/nope.uuc"}, none, "Open Error!"},
      {"send without file", {"send", "--json"}, none, "files"},
      {"read-only report",
       {"station", "--json", "--port", "/dev/x", "--report", ro, image},
       [] { return ::geteuid() != 0 || test::BecomeNobody(); },
       "Permission denied"},
      {"full report",
       {"station", "--json", "--port", "/dev/x", "--report", Out(), image},
       [] {
         ::signal(SIGXFSZ, SIG_IGN);
         const rlimit cap{400, 400};
         return ::setrlimit(RLIMIT_FSIZE, &cap) == 0;
       },
       "no room"},
      {"full report on send",
       {"send", "--json", "--simulate", "--report", Out(), image},
       [] {
         ::signal(SIGXFSZ, SIG_IGN);
         const rlimit cap{400, 400};
         return ::setrlimit(RLIMIT_FSIZE, &cap) == 0;
       },
       "no room"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string out, err;
    const test::ChildResult child = test::RunInChild([&](std::string& text) {
      if (!c.setUp()) return 100;
      const test::Result r = test::Cli(c.args);
      text = r.out + '\x1e' + r.err;
      return r.code;
    });
    ASSERT_TRUE(child.exited);
    EXPECT_EQ(child.code, EXIT_REFUSED) << child.text;
    const auto split = child.text.find('\x1e');
    ASSERT_NE(split, std::string::npos);
    out = child.text.substr(0, split);
    err = child.text.substr(split + 1);
    const auto events = Events(out);
    ASSERT_EQ(events.size(), 2u) << out;
    EXPECT_EQ(events[0]["event"].text, "error");
    EXPECT_NE((events[0]["message"].text + events[0]["detail"].text).find(c.fragment),
              std::string::npos)
        << out;
    EXPECT_EQ(events[1]["exitCode"].Int(), EXIT_REFUSED);
    EXPECT_NE(err.find(c.fragment), std::string::npos) << err;
  }
}

// A barcode scanner types one line per unit: each arms the next unit and names it.
TEST_F(StationCliTest, ScannedIdsArmAndNameTheUnits) {
  const std::string image = Image(2000);
  test::IrdFarm farm(Links(), 1);
  ASSERT_TRUE(farm.started());
  test::Process station;
  ASSERT_TRUE(station.Start(
      IRDLOAD_CLI, {"station", "--json", "--port", "A=" + farm.Link(1), "--next-unit", "prompt",
                    "--ask-unit-id", "--units", "2", "--report", Out(), image}));
  ASSERT_TRUE(station.Write("SN-1\r\nSN-2\n"));
  const auto code = station.Wait(kBound);
  ASSERT_TRUE(code);
  EXPECT_EQ(*code, EXIT_OK) << station.err();
  const auto ends = Of(Events(station.out()), "end");
  ASSERT_EQ(ends.size(), 2u);
  EXPECT_EQ(ends[0]["unitId"].text, "SN-1");
  EXPECT_EQ(ends[1]["unitId"].text, "SN-2");
  std::ifstream csv(Out() + "/units.csv");
  std::size_t lines = 0;
  for (std::string l; std::getline(csv, l);) lines += l.find("SN-") != std::string::npos;
  EXPECT_EQ(lines, 2u);
}

TEST_F(StationCliTest, SendWritesTheSameEventsAndARecordWithTheUnitId) {
  const std::string image = Image(3000);
  const test::Result r = test::Cli({"send", "--simulate", "--baud", "0", "--json", "--report",
                                    Out(), "--unit-id", "SN-42", image});
  EXPECT_EQ(r.code, EXIT_OK) << r.err;
  const auto events = Events(r.out);
  ASSERT_EQ(Of(events, "end").size(), 1u);
  const JsonValue end = Of(events, "end")[0];
  EXPECT_TRUE(end["loaded"].boolean);
  EXPECT_EQ(end["unitId"].text, "SN-42");
  std::ifstream in(end["record"].text);
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const auto record = test::JsonParser(text).Parse();
  ASSERT_TRUE(record) << text;
  EXPECT_EQ((*record)["unitId"].text, "SN-42");
  EXPECT_EQ((*record)["files"].items[0]["size"].Int(), 3064);
  EXPECT_NE(r.err.find("Verified"), std::string::npos) << "the person's text goes to stderr";
}

TEST_F(StationCliTest, TerminalGetsALiveTable) {
  const std::string image = Image(2000);
  test::IrdFarm farm(Links(), 1);
  ASSERT_TRUE(farm.started());
  test::PtyPair terminal;
  std::string screen;
  std::atomic<bool> done{false};
  // Reads until the station has ended and the terminal holds nothing more of its last frame.
  std::thread reader([&] {
    for (;;) {
      pollfd p{terminal.master(), POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) {
        if (done) break;
        continue;
      }
      char buf[4096];
      const ssize_t n = ::read(terminal.master(), buf, sizeof buf);
      if (n <= 0) break;
      screen.append(buf, static_cast<std::size_t>(n));
    }
  });
  test::Process station;
  ASSERT_TRUE(station.Start(IRDLOAD_CLI,
                            {"station", "--port", "bench-1=" + farm.Link(1), "--units", "1", image},
                            terminal.slave()));
  const auto code = station.Wait(kBound);
  done = true;
  reader.join();
  ASSERT_TRUE(code);
  EXPECT_EQ(*code, EXIT_OK) << station.err();
  EXPECT_NE(screen.find("PORT"), std::string::npos) << screen;
  EXPECT_NE(screen.find("\x1b["), std::string::npos) << "redrawn in place";
  EXPECT_NE(screen.find("bench-1: unit 1: success"), std::string::npos) << screen;
}

// Several ports under --json, each unit swapped for the next by a replug: the stream stays JSON
// Lines, every unit ends once with its record, and no temporary file stays behind. The
// sanitizer presets run it too.
TEST_F(StationCliTest, JsonSoakWithReplugsOnSeveralPorts) {
  constexpr int kPorts = 4;
  constexpr int kUnits = 3;
  // Packets come faster than progress lines are written: some wait for the writer's tick.
  const std::string image = Image(8000);
  test::IrdFarm farm(Links(), kPorts);
  ASSERT_TRUE(farm.started());
  std::vector<std::string> args = {"station",  "--json",  "--next-unit",
                                   "replug",   "--units", std::to_string(kUnits),
                                   "--report", Out(),     image};
  for (int i = 1; i <= kPorts; ++i) {
    args.insert(args.end(), {"--port", "S" + std::to_string(i) + "=" + farm.Link(i)});
  }
  test::Process station;
  ASSERT_TRUE(station.Start(IRDLOAD_CLI, args));
  std::map<std::string, int> ended;
  for (int n = 0; n < kPorts * kUnits; ++n) {
    const auto line =
        station.WaitLine([](const std::string& l) { return IsEvent(l, "end"); }, kBound);
    ASSERT_TRUE(line) << station.err();
    const auto end = test::JsonParser(*line).Parse();
    ASSERT_TRUE(end) << *line;
    const std::string port = (*end)["port"].text;
    if (++ended[port] < kUnits) {
      EXPECT_TRUE(farm.Swap(std::stoi(port.substr(1))));
    }
  }
  const auto code = station.Wait(kBound);
  ASSERT_TRUE(code);
  EXPECT_EQ(*code, EXIT_OK) << station.err();
  const auto events = Events(station.out());
  const auto ends = Of(events, "end");
  ASSERT_EQ(ends.size(), std::size_t{kPorts * kUnits});
  for (const auto& end : ends) {
    EXPECT_TRUE(end["loaded"].boolean) << end["port"].text << " " << end["detail"].text;
    EXPECT_TRUE(fs::exists(end["record"].text)) << end["record"].text;
  }
  EXPECT_EQ(events.back()["ok"].Int(), kPorts * kUnits);
  std::size_t records = 0, temporary = 0;
  for (const auto& e : fs::directory_iterator(Out())) {
    records += e.path().extension() == ".json";
    temporary += e.path().filename().string().rfind(".record-", 0) == 0;
  }
  EXPECT_EQ(records, std::size_t{kPorts * kUnits});
  EXPECT_EQ(temporary, 0u);
}

// A scanned id that no record could hold as given is refused with the reason; the port goes on
// waiting for an id, and the next good one names the unit.
TEST_F(StationCliTest, ScannedIdThatCannotBeRecordedIsRefused) {
  const std::string image = Image(2000);
  test::IrdFarm farm(Links(), 1);
  ASSERT_TRUE(farm.started());
  test::Process station;
  ASSERT_TRUE(station.Start(
      IRDLOAD_CLI, {"station", "--json", "--port", "A=" + farm.Link(1), "--next-unit", "prompt",
                    "--ask-unit-id", "--units", "1", "--report", Out(), image}));
  ASSERT_TRUE(
      station.Write("SN\x01"
                    "7\n" +
                    std::string(200, 'x') + "\nSN-\xFF\nSN-8\n"));
  const auto code = station.Wait(kBound);
  ASSERT_TRUE(code);
  EXPECT_EQ(*code, EXIT_OK) << station.err();
  const auto events = Events(station.out());
  ASSERT_EQ(Of(events, "start").size(), 1u) << station.out();
  ASSERT_EQ(Of(events, "end").size(), 1u);
  EXPECT_EQ(Of(events, "end")[0]["unitId"].text, "SN-8");
  std::size_t refusals = 0;
  for (const auto& m : Of(events, "message")) {
    refusals += m["text"].text.find("unit id") != std::string::npos;
  }
  EXPECT_EQ(refusals, 3u) << station.out();
}

// The report folder goes while a unit loads: the unit's record cannot be written, which is said
// on standard error and in the JSON (no record path that does not exist), and no other unit
// starts.
TEST_F(StationCliTest, ReportFolderDeletedMidRunFailsLoudly) {
  const std::string image = Image(30000);
  test::IrdFarm farm(Links(), 1);
  ASSERT_TRUE(farm.started());
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int code;
  };
  const Case cases[] = {
      {"station",
       {"station", "--json", "--port", "A=" + farm.Link(1), "--next-unit", "replug", "--units", "2",
        "--report", Out(), image},
       EXIT_INTERNAL},
      {"send", {"send", "--json", "--simulate", "--report", Out(), image}, EXIT_INTERNAL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::Process run;
    ASSERT_TRUE(run.Start(IRDLOAD_CLI, c.args));
    ASSERT_TRUE(run.WaitLine([](const std::string& l) { return IsEvent(l, "progress"); }, kBound));
    fs::remove_all(Out());
    if (std::string(c.name) == "station") {
      ASSERT_TRUE(run.WaitLine([](const std::string& l) { return IsEvent(l, "end"); }, kBound));
      EXPECT_TRUE(farm.Swap(1));
    }
    const auto code = run.Wait(kBound);
    ASSERT_TRUE(code);
    EXPECT_EQ(*code, c.code) << run.err();
    EXPECT_NE(run.err().find("record could not be written"), std::string::npos) << run.err();
    const auto events = Events(run.out());
    ASSERT_EQ(Of(events, "end").size(), 1u) << run.out();
    EXPECT_EQ(Of(events, "start").size(), 1u) << run.out();
    const JsonValue end = Of(events, "end")[0];
    EXPECT_EQ(end["record"].kind, JsonValue::Kind::Null) << run.out();
    EXPECT_FALSE(fs::exists(Out()));
    EXPECT_EQ(events.back()["exitCode"].Int(), c.code);
  }
}

}  // namespace
}  // namespace irdload::cli
