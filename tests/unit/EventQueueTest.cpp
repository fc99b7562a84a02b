// The queue between a unit's threads and one reader: newer progress replaces what the reader has
// not taken, without ever reordering a port's events, and a full queue drops and counts.
#include <gtest/gtest.h>

#include "unit/EventQueue.h"

namespace irdload::unit {
namespace {

PortEvent Progress(std::size_t port, std::uint32_t done) {
  return {port, {}, ProgressShown{1, 1, done, 9, done, 9, 0, 0, 0}};
}
PortEvent Message(std::size_t port, std::string text) {
  return {port, {}, MessageShown{std::move(text), ""}};
}

// "p<port>:<packets>" or "m<port>:<text>", in the order taken.
std::vector<std::string> Shown(const std::vector<PortEvent>& events) {
  std::vector<std::string> out;
  for (const PortEvent& e : events) {
    if (const auto* p = std::get_if<ProgressShown>(&e.body)) {
      out.push_back("p" + std::to_string(e.port) + ":" + std::to_string(p->packetsDone));
    } else if (const auto* m = std::get_if<MessageShown>(&e.body)) {
      out.push_back("m" + std::to_string(e.port) + ":" + m->text);
    }
  }
  return out;
}

TEST(EventQueueTest, NewerProgressReplacesWhatWaitsWithoutReordering) {
  struct Case {
    const char* name;
    std::vector<PortEvent> pushed;
    std::vector<std::string> taken;
  };
  const Case cases[] = {
      {"the latest progress", {Progress(0, 1), Progress(0, 2)}, {"p0:2"}},
      {"never past an event of its port",
       {Progress(0, 1), Message(0, "x"), Progress(0, 2)},
       {"p0:1", "m0:x", "p0:2"}},
      {"other ports do not stand in the way",
       {Progress(0, 1), Progress(1, 5), Message(1, "y"), Progress(0, 2)},
       {"p0:2", "p1:5", "m1:y"}},
  };
  for (const Case& c : cases) {
    EventQueue q(100);
    for (const PortEvent& e : c.pushed) q.Push(e);
    EXPECT_EQ(Shown(q.Take()), c.taken) << c.name;
    EXPECT_TRUE(q.Take().empty()) << c.name;
  }
}

TEST(EventQueueTest, FullQueueDropsAndCounts) {
  EventQueue q(2);
  EXPECT_TRUE(q.Push(Message(0, "a")));
  EXPECT_TRUE(q.Push(Message(0, "b")));
  EXPECT_FALSE(q.Push(Message(0, "c")));
  EXPECT_FALSE(q.Push(Message(1, "d")));
  std::uint64_t dropped = 0;
  EXPECT_EQ(Shown(q.Take(&dropped)), (std::vector<std::string>{"m0:a", "m0:b"}));
  EXPECT_EQ(dropped, 2u);
  q.Take(&dropped);
  EXPECT_EQ(dropped, 0u) << "counted once";
}

}  // namespace
}  // namespace irdload::unit
