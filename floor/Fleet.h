// The floor in one place: every station on the broker, their records kept once each in one
// report folder with one units.csv, and a floor dashboard (a row per station, its sockets as
// tiles) kept live from the states the stations retain on the broker. It only listens: nothing
// it does reaches a station.
//
// Records come at QoS 1 through a session the broker keeps while the fleet is away (a client id
// of its own, `name`), so that records published meanwhile wait for it; the broker must keep its
// sessions through its own restarts (mosquitto: persistence true). The stations' states come at
// QoS 0: the retained one is what a returning fleet needs, and nothing piles up for it.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "floor/FleetFolder.h"
#include "floor/HttpServer.h"
#include "floor/MqttClient.h"
#include "floor/MqttSettings.h"
#include "unit/Json.h"

struct mosquitto;
struct mosquitto_message;

namespace irdload::floor {

struct FleetOptions {
  MqttSettings broker;
  std::string name = "fleet";  ///< the fleet's own name: its session on the broker
  std::string reportDir;       ///< the floor's report folder; empty: records are not kept
  std::string http;            ///< the floor dashboard's HOST:PORT or PORT; empty: none
  HttpLimits limits;
  /// How long the broker may take to answer before the operator is told.
  std::chrono::milliseconds answerWithin{10000};
};

class Fleet {
 public:
  /// Units the page lists, newest first.
  static constexpr std::size_t kLatestUnits = 30;
  static constexpr std::chrono::milliseconds kTick{200};

  explicit Fleet(FleetOptions options);
  /// Disconnects (the broker keeps the session) and stops serving.
  ~Fleet();
  Fleet(const Fleet&) = delete;
  Fleet& operator=(const Fleet&) = delete;

  /// Prepares the report folder, the MQTT client and the dashboard's address; false with a
  /// sentence for the operator.
  bool Prepare(std::string* error);
  /// Connects (a broker that is down is tried again, and told about) and serves.
  void Start();
  /// Sentences for the operator since the last call (each record kept, refusals, the broker
  /// coming and going), from any thread.
  std::vector<std::string> TakeNotes();
  /// "http://HOST:PORT/" of the dashboard; empty without one.
  std::string url() const;
  /// Records kept in the folder, those found there at the start included.
  std::size_t records() const;

 private:
  struct Station {
    std::string name;
    std::string status;   // "online", "offline", or empty before the first word
    unit::Json snapshot;  // its last retained state; null before one
  };

  static void OnConnect(mosquitto*, void* self, int rc);
  static void OnDisconnect(mosquitto*, void* self, int rc);
  static void OnMessage(mosquitto*, void* self, const mosquitto_message* message);

  void TakeRecord(const std::string& level, const std::string& payload);
  void Pump();
  void Note(std::string text);
  unit::Json State() const;
  std::string StateMessage() const;
  std::optional<HttpReply> Route(const std::string& path) const;

  const FleetOptions options_;
  std::unique_ptr<FleetFolder> folder_;
  std::unique_ptr<HttpServer> server_;
  mosquitto* client_ = nullptr;

  mutable std::mutex mu_;
  BrokerWatch broker_;
  std::map<std::string, Station> stations_;  // by topic level
  std::deque<unit::Json> units_;             // newest first
  std::set<std::string> seen_;               // record ids, without a folder to know them by
  std::vector<std::string> notes_;
  bool changed_ = true;

  std::atomic<bool> stop_{false};
  std::thread pump_;
};

}  // namespace irdload::floor
