// What the station's publisher and the fleet share of a libmosquitto client: one made to log in
// as the settings say, connecting in the background, and what the operator is told about the
// broker (a refusal once per reason, a connection after none or after a refusal, a broker that
// never answers, a broker lost).
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "floor/MqttSettings.h"

struct mosquitto;

namespace irdload::floor {

/// A client called `id` that logs in and checks the broker as `settings` say and reconnects by
/// itself; with `keepSession`, the broker keeps its subscriptions and messages while it is away.
/// Null, with a sentence for the operator, when it cannot be made.
mosquitto* MakeMqttClient(const MqttSettings& settings, const std::string& id, bool keepSession,
                          void* self, std::string* error);

/// Starts connecting (and its network thread); a sentence when not even the first attempt could
/// start (it is tried again all the same), empty otherwise.
std::string StartConnecting(mosquitto* client, const MqttSettings& settings);

/// "HOST:PORT".
std::string BrokerAddress(const MqttSettings& settings);

/// The link to the broker as the operator hears of it. Not thread-safe: its owner's lock.
class BrokerWatch {
 public:
  /// The broker's answer (0, or why it refused `who`): the sentence to tell, if any.
  std::optional<std::string> Answered(int rc, const MqttSettings& settings, const std::string& who);
  /// The link went (rc 0: on purpose). True when the operator should hear of it.
  bool Lost(int rc);
  /// True once, when the broker has not answered at all within `within` of `since`.
  bool Silent(std::chrono::steady_clock::time_point since, std::chrono::milliseconds within);

  bool connected() const { return connected_; }

 private:
  bool connected_ = false, everConnected_ = false, toldSilent_ = false;
  int lastRefusal_ = 0;
};

}  // namespace irdload::floor
