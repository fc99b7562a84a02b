#include "station/PortRunner.h"

namespace irdload::station {
namespace {

using namespace std::chrono_literals;
using unit::MessageShown;
using unit::PhaseChanged;
using unit::PortPhase;
using unit::UnitResult;

// How soon a port that did not open is tried again when nothing is heard of its path.
constexpr auto kReopenPause = 1000ms;

unit::UnitRunSetup SetupFor(const PortSpec& spec, const StationPlan& plan) {
  unit::UnitRunSetup s;
  s.label = spec.label;
  s.path = spec.path;
  s.files = plan.checked;
  s.toolVersion = plan.toolVersion;
  s.host = plan.host;
  s.roots = plan.roots;
  s.report = plan.report;
  s.traceDir = plan.traceDir;
  s.retries = plan.retries;
  s.replyWait = plan.replyWait;
  s.limits = plan.limits;
  s.connectTimeout = plan.connectTimeout;
  return s;
}

}  // namespace

PortRunner::PortRunner(std::size_t index, PortSpec spec, const StationPlan& plan, PortHome& home)
    : index_(index),
      spec_(std::move(spec)),
      plan_(plan),
      home_(home),
      next_(MakeNextUnitWait(plan.nextUnit, plan.quiet, plan.askUnitId)),
      unit_(SetupFor(spec_, plan), sink_) {}

PortRunner::~PortRunner() {
  StopNow();
  if (thread_.joinable()) thread_.join();
}

void PortRunner::Start() {
  thread_ = std::jthread([this] { Main(); });
}

void PortRunner::Sink::Post(unit::PortEventBody body) {
  {
    std::lock_guard lk(mu_);
    const auto* message = std::get_if<MessageShown>(&body);
    if (message && lastMessage_ && message->text == lastMessage_->text &&
        message->detail == lastMessage_->detail) {
      return;
    }
    lastMessage_ = message ? std::optional(*message) : std::nullopt;
  }
  r_.home_.Post(r_.index_, std::move(body));
}

void PortRunner::OnPresence(bool present, bool arrived) {
  // Whatever the path led to, it leads somewhere else now: another port may take that device.
  if (!present || arrived) home_.Release(index_);
  {
    std::lock_guard lk(mu_);
    present_ = present;
    if (arrived) ++arrivals_;
    ++news_;
  }
  cv_.notify_all();
}

void PortRunner::Arm(std::optional<std::string> answer) {
  {
    std::lock_guard lk(mu_);
    armRequested_ = true;
    if (answer) givenId_ = std::move(answer);
  }
  cv_.notify_all();
  unit_.Wake();
}

void PortRunner::StopUnit() {
  {
    std::lock_guard lk(mu_);
    if (!inUnit_) return;
    stopUnit_ = true;
  }
  cv_.notify_all();
  unit_.Wake();
}

void PortRunner::StopStarting() {
  {
    std::lock_guard lk(mu_);
    stopStarting_ = true;
  }
  cv_.notify_all();
  unit_.Wake();
}

void PortRunner::StopNow() {
  {
    std::lock_guard lk(mu_);
    stopStarting_ = stopNow_ = true;
  }
  cv_.notify_all();
  unit_.Wake();
}

unit::UnitControl::Stop PortRunner::stop() const {
  std::lock_guard lk(mu_);
  if (stopNow_ || stopUnit_) return Stop::Now;
  if (stopStarting_) return Stop::BeforeAnswer;
  return Stop::None;
}

bool PortRunner::Stopping() const {
  std::lock_guard lk(mu_);
  return StoppingLocked();
}

void PortRunner::Pause(std::chrono::milliseconds d) {
  std::unique_lock lk(mu_);
  const std::uint64_t seen = news_;
  cv_.wait_for(lk, d, [&] { return StoppingLocked() || news_ != seen; });
}

void PortRunner::Main() {
  std::uint32_t done = 0;
  bool armed = plan_.armFirst;
  std::optional<std::string> unitId;
  std::uint64_t arrivalsAtUnit = 0;
  bool halted = false;
  std::string haltedWhy;
  while (!plan_.units || done < *plan_.units) {
    if (!WaitForAdapter()) break;
    if (!armed) {
      if (!next_->Wait(*this, arrivalsAtUnit)) break;
      armed = true;
      // An id scanned as the go names the unit even when ids are not asked for; a bare go does
      // not.
      std::lock_guard lk(mu_);
      if (givenId_ && (plan_.askUnitId || !givenId_->empty())) unitId = std::move(givenId_);
      givenId_.reset();
      continue;  // the adapter may have gone meanwhile
    }
    if (plan_.askUnitId && !unitId && !WaitForUnitId(unitId)) break;
    {
      std::lock_guard lk(mu_);
      if (!present_) continue;
      arrivalsAtUnit = arrivalsAtOpen_ = arrivals_;
      inUnit_ = true;
      stopUnit_ = false;
      armRequested_ = false;  // a go given while the unit ran was for this unit
    }
    const UnitResult result = unit_.Run(done + 1, unitId.value_or(""), *this);
    bool stoppedByOperator;
    {
      std::lock_guard lk(mu_);
      stoppedByOperator = stopUnit_;
      inUnit_ = stopUnit_ = false;
    }
    if (result.outcome.reason == FailureReason::AdapterDisconnected) NoteLineLost();
    if (result.counted()) (result.loaded() ? ok_ : failed_) += 1;
    switch (result.kind) {
      case UnitResult::Kind::NoUnit:
        // A call the operator stopped waits for the operator's go, not for the IRD to answer.
        if (stoppedByOperator) {
          armed = false;
          unitId.reset();
        } else if (result.openFailure) {
          Pause(kReopenPause);
        }
        continue;
      case UnitResult::Kind::Recorded:
        ++done;
        armed = false;
        unitId.reset();
        continue;
      case UnitResult::Kind::NoRoom:
        haltedWhy = "the report folder takes no more records: no unit is started";
        break;
      case UnitResult::Kind::FilesFailed:
        haltedWhy = "the upgrade no longer loads: no unit is started";
        break;
      case UnitResult::Kind::RecordFailed:
        haltedWhy = "a record could not be written: no unit is started without its record";
        break;
    }
    Post(MessageShown{haltedWhy, result.why});
    halted = true;
    home_.Halt();
    break;
  }
  // Letting the port go purges the line: the last unit's answer must have reached its IRD.
  unit_.Settle([this] {
    std::lock_guard lk(mu_);
    return stopNow_;
  });
  unit_.ReleasePort();
  Post(PhaseChanged{halted ? PortPhase::Halted : PortPhase::Done, {}, haltedWhy});
  Post(unit::PortFinished{ok_.load(), failed_.load(), halted});
  finished_ = true;
}

bool PortRunner::WaitForAdapter() {
  bool told = false;
  for (;;) {
    std::uint64_t arrival;
    {
      std::unique_lock lk(mu_);
      const auto ready = [&] {
        return present_ && arrivals_ != refusedAt_ &&
               (!lostAt_ || arrivals_ != *lostAt_ || armRequested_);
      };
      if (!ready() && !StoppingLocked() && !told) {
        lk.unlock();
        Post(PhaseChanged{PortPhase::WaitingForAdapter, {}, spec_.path});
        told = true;
        lk.lock();
      }
      cv_.wait(lk, [&] { return ready() || StoppingLocked(); });
      if (StoppingLocked()) return false;
      lostAt_.reset();
      arrival = arrivals_;
    }
    const PortTarget target = LookAt(spec_.path);
    if (target.kind == PortTarget::Kind::Absent) {
      Pause(kReopenPause);  // gone again before it could be looked at
      continue;
    }
    const std::optional<MessageShown> refusal = Refusal(target);
    if (!refusal) return true;
    Post(*refusal);
    Post(PhaseChanged{PortPhase::WaitingForAdapter, {}, spec_.path});
    told = true;
    std::lock_guard lk(mu_);
    refusedAt_ = arrival;
  }
}

std::optional<MessageShown> PortRunner::Refusal(const PortTarget& target) {
  if (target.kind == PortTarget::Kind::NotASerialPort) {
    return MessageShown{"not a serial port: " + spec_.path + " leads to " + target.what,
                        "waiting until it leads to a serial port"};
  }
  if (const std::optional<std::string> holder = home_.Claim(index_, target.id)) {
    return MessageShown{"the device " + target.device + " is port " + *holder + "'s",
                        spec_.path + " leads to the device that port " + *holder +
                            " holds: waiting until it leads to another"};
  }
  return std::nullopt;
}

void PortRunner::NoteLineLost() {
  std::lock_guard lk(mu_);
  lostAt_ = arrivalsAtOpen_;
}

bool PortRunner::WaitForUnitId(std::optional<std::string>& unitId) {
  Post(PhaseChanged{PortPhase::WaitingForUnitId, {}, "scan or type the unit's id"});
  std::unique_lock lk(mu_);
  cv_.wait(lk, [&] { return StoppingLocked() || givenId_.has_value(); });
  if (StoppingLocked()) return false;
  armRequested_ = false;
  unitId = std::move(givenId_);
  givenId_.reset();
  return true;
}

void PortRunner::ShowWaiting(const std::string& hint) {
  Post(PhaseChanged{PortPhase::WaitingForNextUnit, {}, hint});
}

bool PortRunner::WaitForGo(std::optional<std::uint64_t> replugSince) {
  std::unique_lock lk(mu_);
  cv_.wait(lk, [&] {
    return StoppingLocked() || armRequested_ ||
           (replugSince && present_ && arrivals_ != *replugSince);
  });
  if (StoppingLocked()) return false;
  armRequested_ = false;
  return true;
}

bool PortRunner::GoWithin(std::chrono::milliseconds d) {
  std::unique_lock lk(mu_);
  cv_.wait_for(lk, d, [&] { return StoppingLocked() || armRequested_; });
  if (!armRequested_ || StoppingLocked()) return false;
  armRequested_ = false;
  return true;
}

bool PortRunner::WaitForLine(bool lost) {
  if (!lost) {
    Pause(kReopenPause);
    return !Stopping();
  }
  NoteLineLost();
  if (!WaitForAdapter()) return false;
  std::lock_guard lk(mu_);
  arrivalsAtOpen_ = arrivals_;
  return true;
}

}  // namespace irdload::station
