#include "station/PortRunner.h"

#include "engine/Link.h"
#include "unit/AdapterInfo.h"
#include "unit/ReportFolder.h"
#include "unit/WireTrace.h"

namespace irdload::station {
namespace {

using namespace std::chrono_literals;

// How soon a port that did not open is tried again when nothing is heard of its path.
constexpr auto kReopenPause = 1000ms;
// Between connect requests while waiting for a quiet line.
constexpr auto kProbeInterval = 200ms;

std::string NextUnitHint(const StationPlan& plan) {
  switch (plan.nextUnit) {
    case NextUnit::Prompt:
      return plan.askUnitId ? "scan or type the next unit's id" : "press Enter for the next unit";
    case NextUnit::Replug:
      return "unplug the adapter and plug it in again for the next unit";
    case NextUnit::Quiet:
      return "waiting until the IRD leaves connect requests unanswered for " +
             std::to_string(plan.quiet.count()) + " s";
  }
  return {};
}

}  // namespace

PortRunner::PortRunner(PortSpec spec, const StationPlan& plan, PortMailbox& mailbox,
                       std::function<void()> halt)
    : spec_(std::move(spec)),
      plan_(plan),
      mailbox_(mailbox),
      halt_(std::move(halt)),
      observer_(spec_.path, plan.files, mailbox, [this] {
        { std::lock_guard lk(mu_); }
        cv_.notify_all();
      }) {
  auto link = std::make_unique<SerialPortLink>(plan.replyWait);
  link_ = link.get();
  EngineOptions options;
  options.port = std::move(link);
  options.replyWait = plan.replyWait;
  options.limits = plan.limits;
  options.connectTimeout = plan.connectTimeout;
  engine_ = std::make_unique<DownloadEngine>(std::move(options));
}

PortRunner::~PortRunner() {
  StopNow();
  if (thread_.joinable()) thread_.join();
  engine_.reset();  // its worker ends before the observer goes
}

void PortRunner::Start() {
  thread_ = std::jthread([this] { Main(); });
}

void PortRunner::OnPresence(bool present, bool arrived) {
  {
    std::lock_guard lk(mu_);
    present_ = present;
    if (arrived) ++arrivals_;
    ++news_;
  }
  cv_.notify_all();
}

void PortRunner::Arm(std::optional<std::string> unitId) {
  {
    std::lock_guard lk(mu_);
    armRequested_ = true;
    if (unitId) givenId_ = std::move(unitId);
  }
  cv_.notify_all();
}

void PortRunner::StopUnit() {
  {
    std::lock_guard lk(mu_);
    if (!inUnit_) return;
    stopUnit_ = true;
  }
  cv_.notify_all();
}

void PortRunner::StopStarting() {
  {
    std::lock_guard lk(mu_);
    stopStarting_ = true;
  }
  cv_.notify_all();
}

void PortRunner::StopNow() {
  {
    std::lock_guard lk(mu_);
    stopStarting_ = stopNow_ = true;
  }
  cv_.notify_all();
}

void PortRunner::Pause(std::chrono::milliseconds d) {
  std::unique_lock lk(mu_);
  const std::uint64_t seen = news_;
  cv_.wait_for(lk, d, [&] { return Stopping() || news_ != seen; });
}

void PortRunner::Main() {
  std::uint32_t done = 0;
  bool armed = plan_.armFirst;
  std::optional<std::string> unitId;
  std::uint64_t arrivalsAtStart = 0;
  bool halted = false;
  while (!plan_.units || done < *plan_.units) {
    if (!WaitForAdapter()) break;
    if (!armed) {
      if (plan_.nextUnit == NextUnit::Prompt) {
        if (!WaitForOperator(false, unitId)) break;
      } else if (!WaitForArming(arrivalsAtStart)) {
        break;
      }
      armed = true;
      continue;  // the adapter may have gone meanwhile
    }
    if (plan_.askUnitId && !unitId && !WaitForOperator(true, unitId)) break;
    {
      std::lock_guard lk(mu_);
      if (!present_) continue;
      arrivalsAtStart = arrivalsAtOpen_ = arrivals_;
      inUnit_ = true;
      stopUnit_ = false;
      armRequested_ = false;  // a go given while the unit ran was for this unit
    }
    const UnitResult result = RunUnit(done + 1, unitId.value_or(""));
    bool stoppedByOperator;
    {
      std::lock_guard lk(mu_);
      stoppedByOperator = stopUnit_;
      inUnit_ = stopUnit_ = false;
    }
    if (result == UnitResult::Halt) {
      halted = true;
      halt_();
      break;
    }
    if (result == UnitResult::NotAUnit) {
      // A call the operator stopped waits for the operator's go, not for the IRD to answer.
      if (stoppedByOperator) {
        armed = false;
        unitId.reset();
      } else if (observer_.openFailed()) {
        Pause(kReopenPause);
      }
      continue;
    }
    ++done;
    armed = false;
    unitId.reset();
  }
  // Closing purges the line: the last unit's answer must have reached its IRD first.
  {
    std::unique_lock lk(mu_);
    cv_.wait_until(lk, lastEnd_ + kLineSettle, [&] { return stopNow_; });
  }
  link_->Close();
  Post(PhaseChanged{halted ? PortPhase::Halted : PortPhase::Done, {}, {}});
  Post(PortFinished{ok_.load(), failed_.load(), halted});
  finished_ = true;
}

bool PortRunner::WaitForAdapter() {
  std::unique_lock lk(mu_);
  const auto ready = [&] {
    return present_ && (!lostAt_ || arrivals_ != *lostAt_ || armRequested_);
  };
  if (!ready() && !Stopping()) {
    lk.unlock();
    Post(PhaseChanged{PortPhase::WaitingForAdapter, {}, spec_.path});
    lk.lock();
  }
  cv_.wait(lk, [&] { return ready() || Stopping(); });
  if (Stopping()) return false;
  lostAt_.reset();
  return true;
}

void PortRunner::NoteLineLost() {
  std::lock_guard lk(mu_);
  lostAt_ = arrivalsAtOpen_;
}

bool PortRunner::WaitForArming(std::uint64_t arrivalsAtStart) {
  Post(PhaseChanged{PortPhase::WaitingForNextUnit, {}, NextUnitHint(plan_)});
  if (plan_.nextUnit == NextUnit::Quiet) return WaitQuiet();
  std::unique_lock lk(mu_);
  cv_.wait(lk, [&] {
    return (present_ && arrivals_ != arrivalsAtStart) || armRequested_ || Stopping();
  });
  armRequested_ = false;
  return !Stopping();
}

bool PortRunner::WaitForOperator(bool wantId, std::optional<std::string>& unitId) {
  if (wantId) {
    Post(PhaseChanged{PortPhase::WaitingForUnitId, {}, "scan or type the unit's id"});
  } else {
    Post(PhaseChanged{PortPhase::WaitingForNextUnit, {}, NextUnitHint(plan_)});
  }
  std::unique_lock lk(mu_);
  cv_.wait(lk, [&] { return Stopping() || (wantId ? givenId_.has_value() : armRequested_); });
  if (Stopping()) return false;
  armRequested_ = false;
  // An id scanned as the go names the unit even when ids are not asked for; a bare go does not.
  if (givenId_ && (plan_.askUnitId || !givenId_->empty())) unitId = std::move(givenId_);
  givenId_.reset();
  return true;
}

bool PortRunner::WaitQuiet() {
  SerialPort& port = link_->port();
  auto lastAnswer = std::chrono::steady_clock::now();
  for (;;) {
    {
      std::lock_guard lk(mu_);
      if (Stopping()) return false;
      if (armRequested_) {
        armRequested_ = false;
        return true;
      }
    }
    if (!port.isOpen() || port.lineLost()) {
      if (port.lineLost()) NoteLineLost();
      port.Close();
      if (!WaitForAdapter()) return false;
      {
        std::lock_guard lk(mu_);
        arrivalsAtOpen_ = arrivals_;
      }
      if (!port.Open(spec_.path, DownloadEngine::Mode())) {
        Pause(kReopenPause);
        continue;
      }
    }
    port.WriteByte(CMD_CONNECT_REQ);
    std::uint8_t reply = 0;
    if (port.ReadByte(reply) && NormaliseReply(reply) == CMD_CONNECT_ACK) {
      lastAnswer = std::chrono::steady_clock::now();
    }
    if (port.lineLost()) {
      // Another adapter, or the same one back: its IRD must stay quiet as long again.
      lastAnswer = std::chrono::steady_clock::now();
      continue;
    }
    if (std::chrono::steady_clock::now() - lastAnswer >= plan_.quiet) return true;
    std::unique_lock lk(mu_);
    cv_.wait_for(lk, kProbeInterval, [&] { return Stopping() || armRequested_; });
  }
}

}  // namespace irdload::station
