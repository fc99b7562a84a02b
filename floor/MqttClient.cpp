#include "floor/MqttClient.h"

#include <mosquitto.h>

#include <cerrno>
#include <cstring>

namespace irdload::floor {
namespace {

constexpr int kKeepAliveSeconds = 10;

struct LibraryInit {
  LibraryInit() { mosquitto_lib_init(); }
};

}  // namespace

mosquitto* MakeMqttClient(const MqttSettings& settings, const std::string& id, bool keepSession,
                          void* self, std::string* error) {
  static LibraryInit init;
  mosquitto* client = mosquitto_new(id.c_str(), !keepSession, self);
  if (!client) {
    *error = "cannot make an MQTT client";
    return nullptr;
  }
  int rc = MOSQ_ERR_SUCCESS;
  if (!settings.user.empty()) {
    rc = mosquitto_username_pw_set(client, settings.user.c_str(), settings.password.c_str());
  }
  if (rc == MOSQ_ERR_SUCCESS && settings.tls) {
    rc = mosquitto_tls_set(client, settings.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
  }
  if (rc != MOSQ_ERR_SUCCESS) {
    *error = std::string("cannot set up the MQTT client: ") + mosquitto_strerror(rc);
    mosquitto_destroy(client);
    return nullptr;
  }
  mosquitto_reconnect_delay_set(client, 1, 10, true);
  return client;
}

std::string StartConnecting(mosquitto* client, const MqttSettings& settings) {
  const int rc =
      mosquitto_connect_async(client, settings.host.c_str(), settings.port, kKeepAliveSeconds);
  std::string said;
  if (rc != MOSQ_ERR_SUCCESS) {
    said = "MQTT: cannot reach the broker at " + BrokerAddress(settings) + " (" +
           (rc == MOSQ_ERR_ERRNO ? std::string(std::strerror(errno)) : mosquitto_strerror(rc)) +
           ")";
  }
  mosquitto_loop_start(client);
  return said;
}

std::string BrokerAddress(const MqttSettings& settings) {
  return settings.host + ":" + std::to_string(settings.port);
}

std::optional<std::string> BrokerWatch::Answered(int rc, const MqttSettings& settings,
                                                 const std::string& who) {
  const std::string where = BrokerAddress(settings);
  if (rc != 0) {
    const bool again = rc == lastRefusal_;
    lastRefusal_ = rc;
    if (again) return std::nullopt;
    return "MQTT: the broker at " + where + " refused " + who + ": " + mosquitto_connack_string(rc);
  }
  const bool tell = !everConnected_ || lastRefusal_ != 0;
  connected_ = everConnected_ = true;
  lastRefusal_ = 0;
  if (!tell) return std::nullopt;
  return "MQTT: connected to " + where;
}

bool BrokerWatch::Lost(int rc) {
  const bool tell = connected_ && rc != 0;
  connected_ = false;
  return tell;
}

bool BrokerWatch::Silent(std::chrono::steady_clock::time_point since,
                         std::chrono::milliseconds within) {
  if (everConnected_ || lastRefusal_ != 0 || toldSilent_) return false;
  if (std::chrono::steady_clock::now() - since <= within) return false;
  toldSilent_ = true;
  return true;
}

}  // namespace irdload::floor
