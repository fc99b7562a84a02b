// The station on the floor's broker: one more subscriber of the station, with its own thread and
// the MQTT client's own. Each event goes out on irdload/<station>/<port>/event (QoS 0), each
// unit's record on irdload/<station>/record (QoS 1, with its id), the station's snapshot retained
// on irdload/<station>/snapshot, and "online" retained on irdload/<station>/status, which the
// broker turns to "offline" (the last will) when the station goes without a word. Records wait
// in an outbox on disk until the broker has taken each, so a broker that is down, or goes away,
// loses none; nothing here ever waits for the broker on a port's behalf.
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "floor/MqttClient.h"
#include "floor/MqttSettings.h"
#include "floor/Outbox.h"
#include "station/Station.h"

struct mosquitto;

namespace irdload::floor {

struct MqttPublisherOptions {
  MqttSettings broker;
  std::string station;    ///< its name in the topics
  std::string outboxDir;  ///< empty: no records (the station keeps none)
  /// How long the broker may take to answer before the operator is told.
  std::chrono::milliseconds answerWithin{10000};
};

class MqttPublisher {
 public:
  static constexpr std::chrono::milliseconds kTick{100};
  /// The retained snapshot is refreshed at most this often.
  static constexpr std::chrono::milliseconds kSnapshotEvery{1000};

  MqttPublisher(station::Station& station, MqttPublisherOptions options);
  /// Says "offline", then disconnects; records not yet taken stay in the outbox.
  ~MqttPublisher();
  MqttPublisher(const MqttPublisher&) = delete;
  MqttPublisher& operator=(const MqttPublisher&) = delete;

  /// Opens the outbox and subscribes to the station; false with a sentence for the operator.
  /// Call before the station starts. Connecting is not waited for: a broker that is down is
  /// told about (Notes) and tried again, while the station loads.
  bool Prepare(std::string* error);
  void Start();

  /// Sentences for the operator since the last call (refused logins, a broker that does not
  /// answer, records kept waiting), from any thread.
  std::vector<std::string> TakeNotes();
  /// Records in the outbox not yet taken by the broker.
  std::size_t waiting() const;
  /// Once the station has finished: waits, at most `bound` and only while the broker is there,
  /// until every record has been taken. The records still waiting.
  std::size_t Drain(std::chrono::milliseconds bound);

 private:
  static void OnConnect(mosquitto*, void* self, int rc);
  static void OnDisconnect(mosquitto*, void* self, int rc);
  static void OnPublish(mosquitto*, void* self, int mid);

  void Pump();
  void Take(const unit::PortEvent& event);
  void SendWaiting();
  void Note(std::string text);
  std::string Topic(const std::string& leaf) const;

  station::Station& station_;
  const MqttPublisherOptions options_;
  std::vector<std::string> labels_;
  std::shared_ptr<station::Subscription> events_;
  std::unique_ptr<Outbox> outbox_;
  mosquitto* client_ = nullptr;

  mutable std::mutex mu_;
  BrokerWatch broker_;
  bool sendAll_ = false;
  std::map<int, std::string> inFlight_;  // message id -> outbox entry
  std::vector<Outbox::Entry> waiting_;   // not yet sent since the last connect, oldest first
  std::vector<std::string> notes_;

  std::atomic<bool> stop_{false};
  std::thread pump_;
};

}  // namespace irdload::floor
