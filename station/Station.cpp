#include "station/Station.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "station/PortTarget.h"
#include "unit/UnitFiles.h"
#include "unit/UnitId.h"

namespace irdload::station {
namespace {

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

}  // namespace

Station::Station(StationOptions options)
    : options_(std::move(options)),
      answers_(options_.nextUnit, [this](std::size_t port, std::optional<std::string> answer) {
        // Under answersMu_: the port takes its answer and asks no more.
        if (port < ports_.size()) ports_[port]->Arm(std::move(answer));
      }) {}

Station::~Station() {
  for (auto& p : ports_) p->StopNow();
  watcher_.Stop();
  ports_.clear();
}

bool Station::Start(std::string* error) {
  if (options_.ports.empty()) {
    *error = "a station needs at least one port";
    return false;
  }
  if (!CheckDistinct(options_.ports, error)) return false;
  // Told apart by what they lead to: two names of one device are one device.
  std::map<DeviceId, std::size_t> devices;
  for (std::size_t i = 0; i < options_.ports.size(); ++i) {
    const PortTarget target = LookAt(options_.ports[i].path);
    if (target.kind != PortTarget::Kind::SerialDevice) continue;
    const auto [it, first] = devices.try_emplace(target.id, i);
    if (first) continue;
    const PortSpec& a = options_.ports[it->second];
    const PortSpec& b = options_.ports[i];
    *error = "ports " + a.label + " (" + a.path + ") and " + b.label + " (" + b.path +
             ") lead to one device, " + target.device + ": one device takes one port";
    return false;
  }
  std::vector<unit::CheckedFile> checked;
  if (const std::optional<Refusal> refusal = unit::CheckUnitFiles(options_.files, checked)) {
    *error = refusal->message + (refusal->detail.empty() ? "" : ": " + refusal->detail);
    return false;
  }
  if (options_.nextUnit == NextUnit::Quiet && options_.quiet.count() <= 0) {
    *error = "the quiet time that arms the next unit must be at least 1 second";
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
  plan_.checked = std::move(checked);
  plan_.report = report_.get();
  plan_.host = HostName();

  {
    std::lock_guard lk(rowsMu_);
    for (const PortSpec& spec : options_.ports) {
      rows_.push_back({});
      rows_.back().label = spec.label;
      rows_.back().path = spec.path;
    }
  }
  for (std::size_t i = 0; i < options_.ports.size(); ++i) {
    PortHome& home = *this;
    ports_.push_back(std::make_unique<PortRunner>(i, options_.ports[i], plan_, home));
    PortRunner& runner = *ports_.back();
    watcher_.Add(options_.ports[i].path,
                 [&runner](bool present, bool arrived) { runner.OnPresence(present, arrived); });
  }
  if (!watcher_.Start(error)) return false;
  for (auto& p : ports_) p->Start();
  return true;
}

std::shared_ptr<Subscription> Station::Subscribe(std::size_t capacity) {
  auto subscription = std::make_shared<Subscription>(capacity);
  std::lock_guard lk(subscribersMu_);
  subscribers_.push_back(subscription);
  return subscription;
}

void Station::Post(std::size_t port, unit::PortEventBody body) {
  const unit::PortEvent event{port, std::chrono::system_clock::now(), std::move(body)};
  {
    std::lock_guard lk(rowsMu_);
    if (port < rows_.size()) Fold(rows_[port], event.body);
  }
  if (const auto* phase = std::get_if<unit::PhaseChanged>(&event.body)) {
    std::lock_guard lk(answersMu_);
    answers_.Phase(port, phase->phase);
  }
  Publish(event);
}

void Station::Publish(const unit::PortEvent& event) {
  std::lock_guard lk(subscribersMu_);
  std::erase_if(subscribers_, [&](const std::weak_ptr<Subscription>& weak) {
    const std::shared_ptr<Subscription> subscriber = weak.lock();
    if (!subscriber) return true;  // its front end has gone
    subscriber->Deliver(event);
    return false;
  });
}

std::optional<std::string> Station::Claim(std::size_t port, const DeviceId& device) {
  std::lock_guard lk(claimsMu_);
  const auto [it, claimed] = claims_.try_emplace(device, port);
  if (claimed || it->second == port) {
    // A port holds one device: what it held before is free again.
    std::erase_if(claims_, [&](const auto& c) { return c.second == port && c.first != device; });
    return std::nullopt;
  }
  return options_.ports[it->second].label;
}

void Station::Release(std::size_t port) {
  std::lock_guard lk(claimsMu_);
  std::erase_if(claims_, [&](const auto& c) { return c.second == port; });
}

void Station::Halt() {
  halted_ = true;
  for (auto& p : ports_) p->StopStarting();
}

StationSnapshot Station::Snapshot() const {
  StationSnapshot s;
  {
    std::lock_guard lk(rowsMu_);
    s.ports = rows_;
  }
  for (const PortSnapshot& r : s.ports) {
    s.ok += r.ok;
    s.failed += r.failed;
    s.stopped += r.stopped;
  }
  s.stopping = stopped_.load();
  s.halted = halted_.load();
  s.finished = Finished();
  return s;
}

void Station::Give(std::string answer) {
  if (const std::optional<std::string> refusal = unit::UnitIdRefusal(answer)) {
    Publish({unit::kNoPort, std::chrono::system_clock::now(),
             unit::MessageShown{*refusal, "\"" + unit::ShownUnitId(answer) +
                                              "\" is not taken: scan or type the id again"}});
    return;
  }
  std::lock_guard lk(answersMu_);
  answers_.Give(std::move(answer));
}

void Station::Go(std::size_t i) {
  if (i >= ports_.size()) return;
  PortPhase phase;
  {
    std::lock_guard lk(rowsMu_);
    phase = rows_[i].phase;
  }
  if (phase != PortPhase::WaitingForAdapter && phase != PortPhase::WaitingForNextUnit) return;
  {
    // Answered by its own button: a scanned answer goes to another port.
    std::lock_guard lk(answersMu_);
    answers_.Withdraw(i);
  }
  ports_[i]->Arm(std::nullopt);
}

void Station::GoAll() {
  for (std::size_t i = 0; i < ports_.size(); ++i) Go(i);
}

bool Station::AnyoneAsking() const {
  std::lock_guard lk(answersMu_);
  return answers_.anyoneAsking();
}

void Station::StopUnit(std::size_t i) {
  if (i < ports_.size()) ports_[i]->StopUnit();
}

void Station::StopStarting() {
  stopped_ = true;
  for (auto& p : ports_) p->StopStarting();
}

void Station::StopNow() {
  stopped_ = true;
  for (auto& p : ports_) p->StopNow();
}

bool Station::Finished() const {
  for (const auto& p : ports_) {
    if (!p->finished()) return false;
  }
  return !ports_.empty();
}

StationSummary Station::Summary() const {
  StationSummary s;
  for (const auto& p : ports_) {
    s.ok += p->ok();
    s.failed += p->failed();
  }
  s.stopped = stopped_.load();
  s.halted = halted_.load();
  return s;
}

}  // namespace irdload::station
