#include "floor/MqttSettings.h"

#include <fstream>

namespace irdload::floor {

std::optional<MqttSettings> ParseMqttSettings(const std::string& url, const std::string& caFile,
                                              const std::string& credentialsFile,
                                              std::string* error) {
  MqttSettings s;
  std::string rest;
  if (url.rfind("mqtt://", 0) == 0) {
    rest = url.substr(7);
  } else if (url.rfind("mqtts://", 0) == 0) {
    rest = url.substr(8);
    s.tls = true;
    s.port = 8883;
  } else {
    *error = "--mqtt takes mqtt://HOST[:PORT] or mqtts://HOST[:PORT], not \"" + url + "\"";
    return std::nullopt;
  }
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  if (rest.find('@') != std::string::npos) {
    *error =
        "--mqtt: a user or password in the url would show in the process list; put them in a "
        "file given with --mqtt-credentials instead";
    return std::nullopt;
  }
  const std::size_t colon = rest.rfind(':');
  s.host = rest.substr(0, colon);
  if (colon != std::string::npos) {
    const std::string port = rest.substr(colon + 1);
    int value = 0;
    bool ok = !port.empty() && port.size() <= 5;
    for (char c : port) {
      ok = ok && c >= '0' && c <= '9';
      if (ok) value = value * 10 + (c - '0');
    }
    if (!ok || value == 0 || value > 65535) {
      *error = "--mqtt: \"" + port + "\" is not a port number";
      return std::nullopt;
    }
    s.port = value;
  }
  if (s.host.empty() || s.host.find('/') != std::string::npos) {
    *error = "--mqtt takes mqtt://HOST[:PORT] or mqtts://HOST[:PORT], not \"" + url + "\"";
    return std::nullopt;
  }
  if (s.tls) {
    if (caFile.empty()) {
      *error =
          "--mqtt mqtts://... needs --mqtt-ca FILE, the CA that signs the broker's certificate";
      return std::nullopt;
    }
    if (!std::ifstream(caFile)) {
      *error = "--mqtt-ca: cannot read \"" + caFile + "\"";
      return std::nullopt;
    }
    s.caFile = caFile;
  }
  if (!credentialsFile.empty()) {
    std::ifstream in(credentialsFile);
    if (!in || !std::getline(in, s.user) || s.user.empty()) {
      *error = "--mqtt-credentials: cannot read a user name from \"" + credentialsFile +
               "\" (the user on its first line, the password on its second)";
      return std::nullopt;
    }
    std::getline(in, s.password);
    for (std::string* t : {&s.user, &s.password}) {
      if (!t->empty() && t->back() == '\r') t->pop_back();
    }
  }
  return s;
}

std::string TopicLevel(const std::string& name) {
  std::string out = name.empty() ? "_" : name;
  for (char& c : out) {
    if (c == '/' || c == '+' || c == '#' || static_cast<unsigned char>(c) < 0x20) c = '_';
  }
  return out;
}

}  // namespace irdload::floor
