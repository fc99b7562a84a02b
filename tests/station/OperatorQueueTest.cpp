// The operator's answers go to the ports that wait for one, the longest-waiting first; answers
// typed ahead wait for a port to ask.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "station/OperatorQueue.h"

namespace irdload::station {
namespace {

using Handed = std::vector<std::pair<std::size_t, std::string>>;

struct Step {
  enum { kPhase, kGive } what;
  std::size_t port = 0;
  PortPhase phase = PortPhase::Calling;
  std::string answer;
};

Step Ask(std::size_t port, PortPhase phase) {
  return {Step::kPhase, port, phase, {}};
}
Step Give(std::string answer) {
  return {Step::kGive, 0, {}, std::move(answer)};
}

struct Case {
  const char* name;
  NextUnit mode;
  std::vector<Step> steps;
  Handed handed;
};

TEST(OperatorQueueTest, AnswersGoToTheLongestWaitingPort) {
  const std::vector<Case> cases = {
      {"in order of asking",
       NextUnit::Prompt,
       {Ask(2, PortPhase::WaitingForNextUnit), Ask(0, PortPhase::WaitingForNextUnit), Give("a"),
        Give("b")},
       {{2, "a"}, {0, "b"}}},
      {"typed ahead",
       NextUnit::Prompt,
       {Give("a"), Give("b"), Ask(1, PortPhase::WaitingForNextUnit)},
       {{1, "a"}}},
      {"a port that moved on asks no more",
       NextUnit::Prompt,
       {Ask(0, PortPhase::WaitingForNextUnit), Ask(1, PortPhase::WaitingForNextUnit),
        Ask(0, PortPhase::WaitingForAdapter), Give("a")},
       {{1, "a"}}},
      {"asking again goes to the back",
       NextUnit::Prompt,
       {Ask(0, PortPhase::WaitingForUnitId), Ask(1, PortPhase::WaitingForUnitId),
        Ask(0, PortPhase::WaitingForUnitId), Give("a")},
       {{1, "a"}}},
      {"replug mode: only ids are asked for",
       NextUnit::Replug,
       {Ask(0, PortPhase::WaitingForNextUnit), Ask(1, PortPhase::WaitingForUnitId), Give("id")},
       {{1, "id"}}},
  };
  for (const Case& c : cases) {
    Handed handed;
    OperatorQueue q(c.mode, [&](std::size_t port, std::optional<std::string> a) {
      handed.emplace_back(port, a.value_or("<none>"));
    });
    for (const Step& s : c.steps) {
      if (s.what == Step::kPhase) {
        q.Phase(s.port, s.phase);
      } else {
        q.Give(s.answer);
      }
    }
    EXPECT_EQ(handed, c.handed) << c.name;
  }
}

}  // namespace
}  // namespace irdload::station
