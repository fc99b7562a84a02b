#include "floor/Dashboard.h"

#include <poll.h>

#include "floor/DashboardPage.h"
#include "floor/ReportFiles.h"

namespace irdload::floor {
namespace {

using namespace std::chrono_literals;

// Rates and times left move between events: the page gets the state at least this often.
constexpr auto kRefresh = 1s;

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

Dashboard::Dashboard(station::Station& station, DashboardOptions options)
    : station_(station),
      options_(std::move(options)),
      server_([this](const std::string& path) { return Route(path); }, "/api/events",
              [this] { return StateMessage(); }, options_.limits) {
  for (std::size_t i = 0; i < station_.portCount(); ++i) labels_.push_back(station_.port(i).label);
}

Dashboard::~Dashboard() {
  stop_ = true;
  if (pump_.joinable()) pump_.join();
  server_.Stop();
}

bool Dashboard::Listen(std::string* error) {
  if (!server_.Listen(options_.address, error)) return false;
  events_ = station_.Subscribe();
  return true;
}

void Dashboard::Start() {
  if (!events_ || pump_.joinable()) return;
  server_.Start();
  pump_ = std::thread([this] { Pump(); });
}

void Dashboard::Pump() {
  auto lastSent = std::chrono::steady_clock::now() - kRefresh;
  bool changed = true;
  while (!stop_) {
    pollfd wake{events_->wakeFd(), POLLIN, 0};
    ::poll(&wake, 1, static_cast<int>(kTick.count()));
    std::uint64_t dropped = 0;
    const std::vector<unit::PortEvent> events = events_->Take(&dropped);
    // A unit starting or ending, a phase, a message: on the page at once. Progress waits for
    // the tick.
    bool urgent = false;
    for (const unit::PortEvent& e : events) {
      Take(e);
      urgent = urgent || !std::holds_alternative<unit::ProgressShown>(e.body);
    }
    if (dropped > 0) {
      std::lock_guard lock(mu_);
      lost_ += dropped;
    }
    changed = changed || !events.empty() || dropped > 0;
    const auto now = std::chrono::steady_clock::now();
    if (urgent || (changed && now - lastSent >= kTick) || now - lastSent >= kRefresh) {
      server_.Broadcast(StateMessage());
      lastSent = now;
      changed = false;
    }
  }
}

void Dashboard::Take(const unit::PortEvent& event) {
  const auto* ended = std::get_if<unit::UnitEnded>(&event.body);
  if (!ended || !ended->counted || !ended->final || event.port >= labels_.size()) return;
  unit::Json u;
  u["time"] = unit::UtcTimestamp(event.time);
  u["port"] = labels_[event.port];
  u["unit"] = ended->unit;
  u["unitId"] = ended->unitId;
  u["loaded"] = ended->outcome.kind == OutcomeKind::Success;
  u["outcome"] = OutcomeName(ended->outcome.kind);
  u["reason"] = FailureReasonName(ended->outcome.reason);
  u["exitCode"] = ended->exitCode;
  u["record"] = unit::TextOrNull(BaseName(ended->record));
  std::lock_guard lock(mu_);
  units_.push_front(std::move(u));
  if (units_.size() > kLatestUnits) units_.pop_back();
}

unit::Json Dashboard::State() const {
  const std::string snapshot = station::SnapshotJson(
      station_.Snapshot(), std::chrono::system_clock::now(), std::chrono::steady_clock::now());
  unit::Json state;
  state["title"] = options_.title;
  state["snapshot"] = unit::Json::parse(snapshot);
  std::lock_guard lock(mu_);
  unit::Json units = unit::Json::array();
  for (const unit::Json& u : units_) units.push_back(u);
  state["units"] = std::move(units);
  state["lost"] = lost_;
  state["records"] = !options_.reportDir.empty();
  return state;
}

std::string Dashboard::StateMessage() const {
  return "event: state\ndata: " + unit::JsonText(State()) + "\n\n";
}

std::optional<HttpReply> Dashboard::Route(const std::string& path) const {
  if (auto page = ServePage(path, kStationPage)) return page;
  if (path == "/api/snapshot") {
    return JsonReply(station::SnapshotJson(station_.Snapshot(), std::chrono::system_clock::now(),
                                           std::chrono::steady_clock::now()));
  }
  if (path == "/api/state") return JsonReply(unit::JsonText(State()));
  return ServeReportFile(options_.reportDir, path);
}

}  // namespace irdload::floor
