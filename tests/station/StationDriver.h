// A station under test: started on real pseudo-terminals (through a farm in its own process),
// with every event it posts kept (as a subscriber of its own), and bounded waits for what a test
// expects to happen.
#pragma once

#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "engine/Link.h"
#include "station/Station.h"
#include "support/Records.h"

namespace irdload::test {

using namespace std::chrono_literals;

// Only ever a bound on a wait: sanitizer builds share two cores with other builds.
inline constexpr std::chrono::milliseconds kStationBound{60000};

class StationDriver {
 public:
  explicit StationDriver(station::StationOptions options)
      : station_(std::move(options)), events_feed_(station_.Subscribe()) {}

  ::testing::AssertionResult Start() {
    std::string error;
    if (!station_.Start(&error)) return ::testing::AssertionFailure() << error;
    return ::testing::AssertionSuccess();
  }

  station::Station& station() { return station_; }
  const std::vector<unit::PortEvent>& events() const { return events_; }

  /// Drains events until `done` holds; false when `bound` passed first.
  bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds bound = kStationBound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
      Drain();
      if (done()) return true;
      if (std::chrono::steady_clock::now() >= deadline) return false;
      pollfd p{events_feed_->wakeFd(), POLLIN, 0};
      ::poll(&p, 1, 50);
    }
  }
  void Drain() {
    for (auto& e : events_feed_->Take()) events_.push_back(std::move(e));
  }

  /// The final ends of counted units on `port`, in order.
  std::vector<unit::UnitEnded> Units(std::size_t port) const {
    std::vector<unit::UnitEnded> out;
    for (const auto& e : events_) {
      const auto* end = std::get_if<unit::UnitEnded>(&e.body);
      if (e.port == port && end && end->counted && end->final) out.push_back(*end);
    }
    return out;
  }
  template <typename T>
  std::size_t Count(std::size_t port, const std::function<bool(const T&)>& match = {}) const {
    std::size_t n = 0;
    for (const auto& e : events_) {
      const auto* t = std::get_if<T>(&e.body);
      if (e.port == port && t && (!match || match(*t))) ++n;
    }
    return n;
  }
  /// Every event so far, one line each, for a failure's message.
  std::string Story() const {
    std::string text;
    for (const auto& e : events_) {
      text += "port " + std::to_string(e.port) + ": ";
      if (const auto* p = std::get_if<unit::PhaseChanged>(&e.body)) {
        text += std::string(unit::PhaseName(p->phase)) + " " + p->status + " " + p->detail;
      } else if (const auto* u = std::get_if<unit::UnitStarted>(&e.body)) {
        text += "start unit " + std::to_string(u->unit) + " attempt " + std::to_string(u->attempt);
      } else if (const auto* m = std::get_if<unit::MessageShown>(&e.body)) {
        text += "message " + m->text + " " + m->detail;
      } else if (const auto* end = std::get_if<unit::UnitEnded>(&e.body)) {
        text += "end unit " + std::to_string(end->unit) + " " +
                std::string(OutcomeName(end->outcome.kind)) + " " + end->outcome.detail;
      } else if (const auto* g = std::get_if<unit::ProgressShown>(&e.body)) {
        text += "progress " + std::to_string(g->packetsDone) + "/" + std::to_string(g->packets);
      } else {
        text += "finished";
      }
      text += "\n";
    }
    return text;
  }
  bool InPhase(std::size_t port, unit::PortPhase phase) const {
    for (auto it = events_.rbegin(); it != events_.rend(); ++it) {
      const auto* p = std::get_if<unit::PhaseChanged>(&it->body);
      if (it->port == port && p) return p->phase == phase;
    }
    return false;
  }

 private:
  station::Station station_;
  std::shared_ptr<station::Subscription> events_feed_;
  std::vector<unit::PortEvent> events_;
};

}  // namespace irdload::test
