#include "station/PortMailbox.h"

#include <unistd.h>

namespace irdload::station {

void PortMailbox::Post(PortEventBody body) {
  const bool progress = std::holds_alternative<ProgressShown>(body);
  {
    std::lock_guard lk(mu_);
    Apply(body);
    if (progress && !events_.empty() &&
        std::holds_alternative<ProgressShown>(events_.back().body)) {
      events_.back() = {port_, std::chrono::system_clock::now(), std::move(body)};
    } else {
      events_.push_back({port_, std::chrono::system_clock::now(), std::move(body)});
    }
  }
  // Progress waits for the front end's next tick; everything else wakes it.
  if (!progress && wakeFd_ >= 0) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
  }
}

void PortMailbox::Apply(const PortEventBody& body) {
  PortSnapshot& s = snapshot_;
  if (const auto* e = std::get_if<PhaseChanged>(&body)) {
    if (e->phase == PortPhase::SendingHeader && s.phase != PortPhase::SendingHeader &&
        s.transferSince == std::chrono::steady_clock::time_point{}) {
      s.transferSince = std::chrono::steady_clock::now();
    }
    s.phase = e->phase;
    s.status = e->status;
    s.detail = e->detail;
  } else if (const auto* e = std::get_if<UnitStarted>(&body)) {
    s.unit = e->unit;
    s.file = 0;
    s.packetsDone = s.packets = 0;
    s.bytesDone = s.bytes = 0;
    s.transferSince = {};
  } else if (const auto* e = std::get_if<ProgressShown>(&body)) {
    s.file = e->file;
    s.packetsDone = e->packetsDone;
    s.packets = e->packets;
    s.bytesDone = e->bytesDone;
    s.bytes = e->bytes;
  } else if (const auto* e = std::get_if<UnitEnded>(&body)) {
    if (e->counted && e->final) {
      (e->outcome.kind == OutcomeKind::Success ? s.ok : s.failed) += 1;
    }
  } else if (std::holds_alternative<PortFinished>(body)) {
    s.finished = true;
  }
}

void PortMailbox::TakeInto(std::vector<PortEvent>& out) {
  std::lock_guard lk(mu_);
  for (auto& e : events_) out.push_back(std::move(e));
  events_.clear();
}

PortSnapshot PortMailbox::Snapshot() const {
  std::lock_guard lk(mu_);
  return snapshot_;
}

TransferPace PaceOf(const PortSnapshot& r, std::chrono::steady_clock::time_point now) {
  TransferPace pace;
  const bool moving = r.phase == PortPhase::Transferring || r.phase == PortPhase::SendingHeader ||
                      r.phase == PortPhase::Terminating;
  if (!moving || r.transferSince == std::chrono::steady_clock::time_point{}) return pace;
  const double secs = std::chrono::duration<double>(now - r.transferSince).count();
  if (secs <= 0.5) return pace;
  pace.bytesPerSecond = static_cast<double>(r.bytesDone) / secs;
  if (pace.bytesPerSecond > 0 && r.bytes >= r.bytesDone) {
    pace.secondsLeft = static_cast<double>(r.bytes - r.bytesDone) / pace.bytesPerSecond;
  }
  return pace;
}

}  // namespace irdload::station
