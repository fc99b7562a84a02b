// JSON Lines as a station writes them: progress held back and written on the next tick, and
// nothing else held back behind a newer event.
#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "support/Json.h"
#include "unit/JsonEvents.h"

namespace irdload::unit {
namespace {

using namespace std::chrono_literals;

PortEvent Progress(std::size_t port, std::uint32_t done) {
  return {port, std::chrono::system_clock::now(),
          ProgressShown{1, 1, done, 10, std::uint64_t{done} * 1021, 10210, 0, 0, 0}};
}

std::vector<test::JsonValue> Lines(const std::string& text) {
  std::string bad;
  const auto lines = test::JsonLines(text, &bad);
  EXPECT_TRUE(lines) << "not JSON: " << bad;
  return lines.value_or(std::vector<test::JsonValue>{});
}

TEST(JsonEventsTest, ProgressHeldBackIsWrittenOnTheNextTick) {
  std::ostringstream out;
  JsonEventWriter writer(out, {"A", "B"}, 50ms);
  writer.Write(Progress(1, 1));  // the first goes at once
  writer.Write(Progress(1, 2));  // held: too soon after the first
  std::this_thread::sleep_for(60ms);
  writer.Tick();
  writer.Tick();  // nothing is held any more
  const auto lines = Lines(out.str());
  ASSERT_EQ(lines.size(), 2u) << out.str();
  EXPECT_EQ(lines[1]["event"].text, "progress");
  EXPECT_EQ(lines[1]["port"].text, "B");
  EXPECT_EQ(lines[1]["packetsDone"].Int(), 2);
}

TEST(JsonEventsTest, AnotherEventDropsTheProgressHeldBeforeIt) {
  std::ostringstream out;
  JsonEventWriter writer(out, {"A"}, 1h);
  writer.Write(Progress(0, 1));
  writer.Write(Progress(0, 2));
  writer.Write({0, std::chrono::system_clock::now(), MessageShown{"text", "detail"}});
  writer.Tick();
  const auto lines = Lines(out.str());
  ASSERT_EQ(lines.size(), 2u) << out.str();
  EXPECT_EQ(lines[0]["packetsDone"].Int(), 1);
  EXPECT_EQ(lines[1]["event"].text, "message");
}

}  // namespace
}  // namespace irdload::unit
