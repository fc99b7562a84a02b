#include "floor/MqttPublisher.h"

#include <mosquitto.h>
#include <poll.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "unit/Json.h"
#include "unit/JsonEvents.h"

namespace irdload::floor {
namespace {

const std::string kOnline = "online", kOffline = "offline";

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::optional<std::string> FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  if (!in) return std::nullopt;
  return text.str();
}

}  // namespace

MqttPublisher::MqttPublisher(station::Station& station, MqttPublisherOptions options)
    : station_(station), options_(std::move(options)) {
  for (std::size_t i = 0; i < station_.portCount(); ++i) labels_.push_back(station_.port(i).label);
}

MqttPublisher::~MqttPublisher() {
  stop_ = true;
  if (pump_.joinable()) pump_.join();
  if (!client_) return;
  bool connected;
  {
    std::lock_guard lock(mu_);
    connected = broker_.connected();
  }
  if (connected) {
    // A station that ends on purpose says so itself; the last will is for one that vanishes.
    mosquitto_publish(client_, nullptr, Topic("status").c_str(), static_cast<int>(kOffline.size()),
                      kOffline.data(), 1, true);
  }
  // Told to disconnect, the client's thread ends by itself, also between attempts to reach a
  // broker that is away: cancelling it mid-connect would leak what it was resolving.
  mosquitto_disconnect(client_);
  mosquitto_loop_stop(client_, false);
  mosquitto_destroy(client_);
}

std::string MqttPublisher::Topic(const std::string& leaf) const {
  return "irdload/" + TopicLevel(options_.station) + "/" + leaf;
}

bool MqttPublisher::Prepare(std::string* error) {
  if (!options_.outboxDir.empty()) {
    outbox_ = std::make_unique<Outbox>(options_.outboxDir);
    if (!outbox_->Open(error)) return false;
  }
  // Its own per process: two stations given one name must not throw each other off the broker.
  const std::string id =
      "irdload-" + TopicLevel(options_.station) + "-" + std::to_string(::getpid());
  client_ = MakeMqttClient(options_.broker, id, false, this, error);
  if (!client_) return false;
  const int rc = mosquitto_will_set(client_, Topic("status").c_str(),
                                    static_cast<int>(kOffline.size()), kOffline.data(), 1, true);
  if (rc != MOSQ_ERR_SUCCESS) {
    *error = std::string("cannot set up the MQTT client: ") + mosquitto_strerror(rc);
    return false;
  }
  mosquitto_connect_callback_set(client_, &MqttPublisher::OnConnect);
  mosquitto_disconnect_callback_set(client_, &MqttPublisher::OnDisconnect);
  mosquitto_publish_callback_set(client_, &MqttPublisher::OnPublish);
  events_ = station_.Subscribe();
  return true;
}

void MqttPublisher::Start() {
  if (!events_ || pump_.joinable()) return;
  const std::string said = StartConnecting(client_, options_.broker);
  if (!said.empty()) Note(said + "; trying again while the station loads");
  pump_ = std::thread([this] { Pump(); });
}

std::vector<std::string> MqttPublisher::TakeNotes() {
  std::lock_guard lock(mu_);
  return std::exchange(notes_, {});
}

std::size_t MqttPublisher::waiting() const {
  return outbox_ ? outbox_->Waiting().size() : 0;
}

std::size_t MqttPublisher::Drain(std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  // The pump takes the station's last events on its next tick.
  std::this_thread::sleep_for(2 * kTick);
  while (std::chrono::steady_clock::now() < deadline) {
    {
      std::lock_guard lock(mu_);
      if (!broker_.connected() || (waiting_.empty() && inFlight_.empty())) break;
    }
    std::this_thread::sleep_for(kTick / 2);
  }
  return waiting();
}

void MqttPublisher::Note(std::string text) {
  std::lock_guard lock(mu_);
  notes_.push_back(std::move(text));
}

void MqttPublisher::OnConnect(mosquitto*, void* self, int rc) {
  auto* p = static_cast<MqttPublisher*>(self);
  std::lock_guard lock(p->mu_);
  if (auto said = p->broker_.Answered(rc, p->options_.broker, "the station")) {
    p->notes_.push_back(*said + (rc != 0 ? "; the loads go on, records wait" : ""));
  }
  if (rc == 0) p->sendAll_ = true;
}

void MqttPublisher::OnDisconnect(mosquitto*, void* self, int rc) {
  auto* p = static_cast<MqttPublisher*>(self);
  std::lock_guard lock(p->mu_);
  if (p->broker_.Lost(rc)) {
    p->notes_.push_back("MQTT: lost the broker; records wait in the outbox until it is back");
  }
  // Whatever the broker had not acknowledged goes again, from the outbox, once it is back.
  p->inFlight_.clear();
}

void MqttPublisher::OnPublish(mosquitto*, void* self, int mid) {
  auto* p = static_cast<MqttPublisher*>(self);
  std::lock_guard lock(p->mu_);
  const auto it = p->inFlight_.find(mid);
  if (it == p->inFlight_.end()) return;
  if (p->outbox_) p->outbox_->Remove(it->second);
  p->inFlight_.erase(it);
}

void MqttPublisher::Pump() {
  auto lastSnapshot = std::chrono::steady_clock::now() - kSnapshotEvery;
  const auto started = std::chrono::steady_clock::now();
  while (!stop_) {
    pollfd wake{events_->wakeFd(), POLLIN, 0};
    ::poll(&wake, 1, static_cast<int>(kTick.count()));
    std::uint64_t dropped = 0;
    for (const unit::PortEvent& e : events_->Take(&dropped)) Take(e);
    bool connected;
    {
      std::lock_guard lock(mu_);
      connected = broker_.connected();
      if (broker_.Silent(started, options_.answerWithin)) {
        notes_.push_back("MQTT: no answer from the broker at " + BrokerAddress(options_.broker) +
                         "; the loads go on, records wait in the outbox until it answers");
      }
    }
    const auto now = std::chrono::steady_clock::now();
    if (!connected) continue;
    SendWaiting();
    if (now - lastSnapshot >= kSnapshotEvery) {
      const std::string snapshot =
          station::SnapshotJson(station_.Snapshot(), std::chrono::system_clock::now(), now);
      mosquitto_publish(client_, nullptr, Topic("status").c_str(), static_cast<int>(kOnline.size()),
                        kOnline.data(), 1, true);
      mosquitto_publish(client_, nullptr, Topic("snapshot").c_str(),
                        static_cast<int>(snapshot.size()), snapshot.data(), 1, true);
      lastSnapshot = now;
    }
  }
}

void MqttPublisher::Take(const unit::PortEvent& event) {
  const bool ofPort = event.port < labels_.size();
  bool connected;
  {
    std::lock_guard lock(mu_);
    connected = broker_.connected();
  }
  if (connected) {
    // QoS 0: an event missed while the broker is away is told again by the snapshot.
    const std::string text = unit::EventJson(event, ofPort ? &labels_[event.port] : nullptr);
    const std::string topic =
        ofPort ? Topic(TopicLevel(labels_[event.port]) + "/event") : Topic("event");
    mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(text.size()), text.data(),
                      0, false);
  }
  const auto* ended = std::get_if<unit::UnitEnded>(&event.body);
  if (!ended || ended->record.empty() || !outbox_) return;
  const std::optional<std::string> record = FileText(ended->record);
  std::string error;
  Outbox::Entry entry;
  unit::Json payload;
  payload["id"] = options_.station + "/" + BaseName(ended->record);
  payload["station"] = options_.station;
  payload["record"] = record ? unit::Json::parse(*record, nullptr, false) : unit::Json();
  if (!record || payload["record"].is_discarded()) {
    Note("MQTT: cannot read the record " + ended->record + " to publish it");
    return;
  }
  if (!outbox_->Add(unit::JsonText(payload), &entry, &error)) {
    Note("MQTT: " + error);
    return;
  }
  std::lock_guard lock(mu_);
  waiting_.push_back(std::move(entry));
}

void MqttPublisher::SendWaiting() {
  std::lock_guard lock(mu_);
  if (!broker_.connected()) return;
  if (sendAll_ && outbox_) {
    waiting_ = outbox_->Waiting();
    sendAll_ = false;
  }
  const std::string topic = Topic("record");
  std::size_t sent = 0;
  for (const Outbox::Entry& e : waiting_) {
    int mid = 0;
    // Held under the lock, so that the acknowledgement finds its entry.
    if (mosquitto_publish(client_, &mid, topic.c_str(), static_cast<int>(e.payload.size()),
                          e.payload.data(), 1, false) != MOSQ_ERR_SUCCESS) {
      break;  // the connection went: the outbox has the rest
    }
    inFlight_[mid] = e.name;
    ++sent;
  }
  waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(sent));
}

}  // namespace irdload::floor
