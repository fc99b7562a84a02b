// Where the floor's broker is and how to log in: mqtt://HOST[:PORT] or mqtts://HOST[:PORT] (with
// the CA file that signs the broker's certificate), and the user name and password read from a
// file, never taken from the command line where every user of the machine can see them.
#pragma once

#include <optional>
#include <string>

namespace irdload::floor {

struct MqttSettings {
  std::string host;
  int port = 1883;
  bool tls = false;
  std::string caFile;  ///< with tls
  std::string user, password;
};

/// The settings of `url`, the CA file and the credentials file ("user" on its first line,
/// "password" on its second; empty: none). Nothing, with a sentence for the operator, when any
/// is refused (a user or password in the url, a scheme other than mqtt or mqtts, mqtts without a
/// CA file, a file that cannot be read).
std::optional<MqttSettings> ParseMqttSettings(const std::string& url, const std::string& caFile,
                                              const std::string& credentialsFile,
                                              std::string* error);

/// A name that a topic level can carry: '/', '+', '#' and control bytes become '_'.
std::string TopicLevel(const std::string& name);

}  // namespace irdload::floor
