#include "sim/InMemoryIrd.h"

#include <atomic>
#include <thread>
#include <vector>

#include "sim/FaultPlan.h"
#include "sim/IrdSession.h"
#include "sim/ReportStore.h"

namespace irdload::sim {
namespace {

using Clock = std::chrono::steady_clock;

// The session's time: the steady clock's, which is CLOCK_MONOTONIC where the report's notes are
// taken on it.
IrdSession::Time SessionTime(Clock::time_point t) {
  return std::chrono::duration_cast<IrdSession::Time>(t.time_since_epoch());
}

}  // namespace

struct InMemoryIrd::Impl {
  explicit Impl(const VirtualIrd::Options& options)
      : plan(options.faults, options.seed),
        session(SessionOptions{options.baud, options.replyLatency, options.repeatAfter,
                               options.holdTick, options.recordTiming, options.skipsPaddingPacket},
                plan, store),
        line(MemoryLine::Make()),
        recordTiming(options.recordTiming) {}

  void Run() {
    std::vector<std::uint8_t> fromPc;
    std::vector<LineAction> due;
    for (;;) {
      due.clear();
      session.Advance(SessionTime(Clock::now()), due);
      for (const LineAction& action : due) {
        if (action.kind == LineAction::Kind::Byte) {
          store.PutAndLogToPc(
              action.byte,
              [&] {
                line->PutToPc(&action.byte, 1);
                return true;
              },
              recordTiming);
        } else if (action.kind == LineAction::Kind::HangUp) {
          line->HangUp();
          store.Update([](Report& r) { r.lineGone = true; });
          store.MarkStopped();
          return;
        }
        // A stalled PC is a pseudo-terminal's matter: here the PC is never held.
      }
      // Asleep until the PC writes or the next byte falls due: an idle IRD costs nothing.
      const std::optional<IrdSession::Time> next = session.NextDue();
      const Clock::time_point deadline =
          next ? Clock::time_point(std::chrono::duration_cast<Clock::duration>(*next))
               : Clock::now() + std::chrono::hours(24);
      Clock::time_point writtenAt;
      if (!line->TakeFromPc(fromPc, writtenAt, deadline)) break;
      if (!fromPc.empty()) session.FromPc(fromPc.data(), fromPc.size(), SessionTime(writtenAt));
    }
    store.MarkStopped();
  }

  ReportStore store;
  FaultPlan plan;
  IrdSession session;
  std::shared_ptr<MemoryLine> line;
  const bool recordTiming;
  std::thread thread;
};

InMemoryIrd::InMemoryIrd(const VirtualIrd::Options& options)
    : impl_(std::make_unique<Impl>(options)) {
  impl_->thread = std::thread([this] { impl_->Run(); });
}

InMemoryIrd::~InMemoryIrd() {
  impl_->line->Shut();
  impl_->thread.join();
}

DeviceSource InMemoryIrd::Source() const {
  return [line = impl_->line](const std::string& portName) -> std::unique_ptr<PortDevice> {
    if (portName != kPortName) return nullptr;
    return line->PcEnd();
  };
}

Report InMemoryIrd::GetReport() const {
  return impl_->store.Snapshot();
}

}  // namespace irdload::sim
