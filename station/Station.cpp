#include "station/Station.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "station/PortRunner.h"
#include "unit/UnitFiles.h"

namespace irdload::station {
namespace {

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

}  // namespace

struct Station::Port {
  Port(std::size_t i, const PortSpec& spec, const StationPlan& plan, int wakeFd,
       std::function<void()> halt)
      : mailbox(i, wakeFd), runner(spec, plan, mailbox, std::move(halt)) {}
  PortMailbox mailbox;
  PortRunner runner;
};

Station::Station(StationOptions options) : options_(std::move(options)) {}

Station::~Station() {
  for (auto& p : ports_) p->runner.StopNow();
  watcher_.Stop();
  ports_.clear();
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

bool Station::Start(std::string* error) {
  if (options_.ports.empty()) {
    *error = "give at least one --port";
    return false;
  }
  if (!CheckDistinct(options_.ports, error)) return false;
  std::vector<unit::CheckedFile> checked;
  if (const std::optional<Refusal> refusal = unit::CheckUnitFiles(options_.files, checked)) {
    *error = refusal->message + (refusal->detail.empty() ? "" : ": " + refusal->detail);
    return false;
  }
  if (options_.nextUnit == NextUnit::Quiet && options_.quiet.count() <= 0) {
    *error = "--next-unit quiet needs a quiet time of at least 1 second";
    return false;
  }
  if (!options_.reportDir.empty()) {
    report_ = std::make_unique<unit::ReportFolder>(options_.reportDir);
    if (!report_->Prepare(error)) return false;
  }
  if (!options_.traceDir.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(options_.traceDir, ec);
    if (ec || ::access(options_.traceDir.c_str(), W_OK) != 0) {
      *error = "cannot write traces in " + options_.traceDir + ": " +
               (ec ? ec.message() : std::string(std::strerror(errno)));
      return false;
    }
  }
  plan_ = options_;
  plan_.report = report_.get();
  plan_.host = HostName();

  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd_ < 0) {
    *error = std::string("eventfd: ") + std::strerror(errno);
    return false;
  }
  for (std::size_t i = 0; i < options_.ports.size(); ++i) {
    ports_.push_back(std::make_unique<Port>(i, options_.ports[i], plan_, wakeFd_, [this] {
      halted_ = true;
      for (auto& p : ports_) p->runner.StopStarting();
    }));
    PortRunner& runner = ports_.back()->runner;
    watcher_.Add(options_.ports[i].path,
                 [&runner](bool present, bool arrived) { runner.OnPresence(present, arrived); });
  }
  if (!watcher_.Start(error)) return false;
  for (auto& p : ports_) p->runner.Start();
  return true;
}

void Station::Arm(std::size_t i, std::optional<std::string> unitId) {
  if (i < ports_.size()) ports_[i]->runner.Arm(std::move(unitId));
}

void Station::StopUnit(std::size_t i) {
  if (i < ports_.size()) ports_[i]->runner.StopUnit();
}

void Station::StopStarting() {
  stopped_ = true;
  for (auto& p : ports_) p->runner.StopStarting();
}

void Station::StopNow() {
  stopped_ = true;
  for (auto& p : ports_) p->runner.StopNow();
}

std::vector<PortEvent> Station::TakeEvents() {
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &count, sizeof count);
  std::vector<PortEvent> events;
  for (auto& p : ports_) p->mailbox.TakeInto(events);
  return events;
}

std::vector<PortSnapshot> Station::Snapshots() const {
  std::vector<PortSnapshot> rows;
  for (const auto& p : ports_) rows.push_back(p->mailbox.Snapshot());
  return rows;
}

bool Station::Finished() const {
  for (const auto& p : ports_) {
    if (!p->runner.finished()) return false;
  }
  return true;
}

StationSummary Station::Summary() const {
  StationSummary s;
  for (const auto& p : ports_) {
    s.ok += p->runner.ok();
    s.failed += p->runner.failed();
  }
  s.stopped = stopped_.load();
  s.halted = halted_.load();
  return s;
}

}  // namespace irdload::station
