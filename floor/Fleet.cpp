#include "floor/Fleet.h"

#include <mosquitto.h>

#include <filesystem>

#include "floor/DashboardPage.h"
#include "floor/ReportFiles.h"

namespace irdload::floor {
namespace {

using namespace std::chrono_literals;

// Station states move between records: the page gets the floor at least this often.
constexpr auto kRefresh = 1s;
// A status is a word; anything longer is not a station's.
constexpr std::size_t kStatusLimit = 16;

}  // namespace

Fleet::Fleet(FleetOptions options) : options_(std::move(options)) {}

Fleet::~Fleet() {
  stop_ = true;
  if (pump_.joinable()) pump_.join();
  if (server_) server_->Stop();
  if (!client_) return;
  // The session stays with the broker: records published while the fleet is away wait for it.
  mosquitto_disconnect(client_);
  mosquitto_loop_stop(client_, false);
  mosquitto_destroy(client_);
}

bool Fleet::Prepare(std::string* error) {
  if (!options_.reportDir.empty()) {
    folder_ = std::make_unique<FleetFolder>(options_.reportDir);
    if (!folder_->Prepare(error)) return false;
  }
  if (!options_.http.empty()) {
    server_ = std::make_unique<HttpServer>([this](const std::string& path) { return Route(path); },
                                           "/api/events", [this] { return StateMessage(); },
                                           options_.limits);
    if (!server_->Listen(options_.http, error)) return false;
  }
  client_ = MakeMqttClient(options_.broker, "irdload-fleet-" + TopicLevel(options_.name), true,
                           this, error);
  if (!client_) return false;
  mosquitto_connect_callback_set(client_, &Fleet::OnConnect);
  mosquitto_disconnect_callback_set(client_, &Fleet::OnDisconnect);
  mosquitto_message_callback_set(client_, &Fleet::OnMessage);
  return true;
}

void Fleet::Start() {
  if (!client_ || pump_.joinable()) return;
  const std::string said = StartConnecting(client_, options_.broker);
  if (!said.empty()) Note(said + "; trying again");
  if (server_) server_->Start();
  pump_ = std::thread([this] { Pump(); });
}

std::vector<std::string> Fleet::TakeNotes() {
  std::lock_guard lock(mu_);
  return std::exchange(notes_, {});
}

std::string Fleet::url() const {
  return server_ ? server_->url() : std::string();
}

std::size_t Fleet::records() const {
  std::lock_guard lock(mu_);
  return folder_ ? folder_->records() : 0;
}

void Fleet::Note(std::string text) {
  std::lock_guard lock(mu_);
  notes_.push_back(std::move(text));
}

void Fleet::OnConnect(mosquitto* m, void* self, int rc) {
  auto* f = static_cast<Fleet*>(self);
  std::lock_guard lock(f->mu_);
  if (auto said = f->broker_.Answered(rc, f->options_.broker, "the fleet")) {
    f->notes_.push_back(std::move(*said));
  }
  if (rc != 0) return;
  // The records at QoS 1, kept for the fleet while it is away; the states at QoS 0, whose
  // retained copy is all a returning fleet needs.
  mosquitto_subscribe(m, nullptr, "irdload/+/record", 1);
  mosquitto_subscribe(m, nullptr, "irdload/+/snapshot", 0);
  mosquitto_subscribe(m, nullptr, "irdload/+/status", 0);
  f->changed_ = true;
}

void Fleet::OnDisconnect(mosquitto*, void* self, int rc) {
  auto* f = static_cast<Fleet*>(self);
  std::lock_guard lock(f->mu_);
  if (f->broker_.Lost(rc)) {
    f->notes_.push_back("MQTT: lost the broker; the records sent meanwhile wait for the fleet");
  }
  f->changed_ = true;
}

void Fleet::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
  auto* f = static_cast<Fleet*>(self);
  const std::string topic = message->topic ? message->topic : "";
  const std::string payload(
      static_cast<const char*>(message->payload),
      static_cast<std::size_t>(message->payloadlen < 0 ? 0 : message->payloadlen));
  // irdload/<station>/<leaf>, the station's level free of '/' by how it was made.
  constexpr std::string_view kRoot = "irdload/";
  const std::size_t slash = topic.find('/', kRoot.size());
  if (topic.rfind(kRoot, 0) != 0 || slash == std::string::npos) return;
  const std::string level = topic.substr(kRoot.size(), slash - kRoot.size());
  const std::string leaf = topic.substr(slash + 1);
  if (leaf == "record") {
    f->TakeRecord(level, payload);
    return;
  }
  std::lock_guard lock(f->mu_);
  if (leaf == "snapshot") {
    unit::Json snapshot = unit::Json::parse(payload, nullptr, false);
    if (snapshot.is_discarded() || !snapshot.is_object()) return;
    Station& s = f->stations_[level];
    if (s.name.empty()) s.name = level;
    s.snapshot = std::move(snapshot);
  } else if (leaf == "status" && payload.size() <= kStatusLimit) {
    Station& s = f->stations_[level];
    if (s.name.empty()) s.name = level;
    s.status = payload;
  } else {
    return;
  }
  f->changed_ = true;
}

void Fleet::TakeRecord(const std::string& level, const std::string& payload) {
  const unit::Json message = unit::Json::parse(payload, nullptr, false);
  const auto text = [&](const char* field) -> std::string {
    if (!message.is_object() || !message.contains(field) || !message[field].is_string()) return {};
    return message[field].get<std::string>();
  };
  const std::string station = text("station"), id = text("id");
  // The id is "<station>/<its record's name>".
  if (station.empty() || TopicLevel(station) != level || id.rfind(station + "/", 0) != 0 ||
      !message.contains("record")) {
    Note("MQTT: a message on irdload/" + level + "/record that is not a station's record");
    return;
  }
  const std::string name = id.substr(station.size() + 1);
  const unit::Json& record = message["record"];
  std::lock_guard lock(mu_);
  std::string kept;
  if (folder_) {
    std::string path, error;
    switch (folder_->Keep(station, name, record, &path, &error)) {
      case FleetFolder::Kept::AlreadyKept:
        return;
      case FleetFolder::Kept::Refused:
        notes_.push_back("not kept: " + error);
        return;
      case FleetFolder::Kept::Stored:
        kept = std::filesystem::path(path).filename().string();
        notes_.push_back("kept " + kept + " from " + station);
        break;
    }
  } else if (!seen_.insert(id).second) {
    return;
  }
  Station& s = stations_[level];
  s.name = station;
  unit::Json u;
  const auto field = [&](const char* key) {
    return record.is_object() && record.contains(key) ? record[key] : unit::Json();
  };
  u["station"] = station;
  u["time"] = field("ended");
  u["port"] = field("port");
  u["unit"] = field("unit");
  u["unitId"] = field("unitId");
  u["loaded"] = field("loaded");
  u["outcome"] = field("outcome");
  u["reason"] = field("reason");
  u["record"] = unit::TextOrNull(kept);
  units_.push_front(std::move(u));
  if (units_.size() > kLatestUnits) units_.pop_back();
  changed_ = true;
}

void Fleet::Pump() {
  auto lastSent = std::chrono::steady_clock::now() - kRefresh;
  const auto started = std::chrono::steady_clock::now();
  while (!stop_) {
    std::this_thread::sleep_for(kTick);
    const auto now = std::chrono::steady_clock::now();
    bool changed;
    {
      std::lock_guard lock(mu_);
      changed = std::exchange(changed_, false);
      if (broker_.Silent(started, options_.answerWithin)) {
        notes_.push_back("MQTT: no answer from the broker at " + BrokerAddress(options_.broker) +
                         "; trying again");
      }
    }
    if (server_ && (changed || now - lastSent >= kRefresh)) {
      server_->Broadcast(StateMessage());
      lastSent = now;
    }
  }
}

unit::Json Fleet::State() const {
  unit::Json state;
  state["title"] = "irdload floor";
  std::lock_guard lock(mu_);
  state["broker"] = broker_.connected();
  unit::Json stations = unit::Json::array();
  for (const auto& [level, s] : stations_) {
    unit::Json one;
    one["name"] = s.name;
    one["status"] = unit::TextOrNull(s.status);
    one["snapshot"] = s.snapshot;
    stations.push_back(std::move(one));
  }
  state["stations"] = std::move(stations);
  unit::Json units = unit::Json::array();
  for (const unit::Json& u : units_) units.push_back(u);
  state["units"] = std::move(units);
  state["records"] = folder_ != nullptr;
  return state;
}

std::string Fleet::StateMessage() const {
  return "event: floor\ndata: " + unit::JsonText(State()) + "\n\n";
}

std::optional<HttpReply> Fleet::Route(const std::string& path) const {
  if (auto page = ServePage(path, kFloorPage)) return page;
  if (path == "/api/state") return JsonReply(unit::JsonText(State()));
  return ServeReportFile(options_.reportDir, path);
}

}  // namespace irdload::floor
