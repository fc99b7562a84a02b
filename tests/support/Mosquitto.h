// A real mosquitto broker for tests, started on a free loopback port with a password file and a
// persistent store of its own, so that it can be stopped and started again on the same port
// with the sessions it had; and a subscriber that keeps every message it gets.
#pragma once

#include <mosquitto.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/HttpClient.h"

extern char** environ;

namespace irdload::test {

class Mosquitto {
 public:
  static std::string Program() {
    return ::access("/usr/sbin/mosquitto", X_OK) == 0 ? "/usr/sbin/mosquitto" : std::string();
  }

  /// A broker whose one user is `user` with `password`, keeping its files in `folder`.
  Mosquitto(const std::filesystem::path& folder, const std::string& user,
            const std::string& password)
      : folder_(folder) {
    std::filesystem::create_directories(folder_);
    port_ = FreePort();
    const std::string passwd = (folder_ / "passwd").string();
    started_ = Run({"/usr/bin/mosquitto_passwd", "-b", "-c", passwd, user, password});
    std::ofstream(folder_ / "mosquitto.conf")
        // Run as root it would become the mosquitto user, who cannot read the test's folder.
        << "user " << ::getpwuid(::getuid())->pw_name << "\n"
        << "listener " << port_ << " 127.0.0.1\n"
        << "allow_anonymous false\npassword_file " << passwd << "\n"
        << "persistence true\npersistence_location " << folder_.string() << "/\n"
        << "log_dest file " << (folder_ / "mosquitto.log").string() << "\n";
  }
  ~Mosquitto() { Stop(); }

  int port() const { return port_; }
  std::string url() const { return "mqtt://127.0.0.1:" + std::to_string(port_); }

  /// Starts it and waits until it takes connections.
  bool Start() {
    if (!started_) return false;
    std::vector<std::string> args = {Program(), "-c", (folder_ / "mosquitto.conf").string()};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, args[0].c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
      return false;
    }
    // Half a minute: a loaded machine may be slow to start it.
    for (int i = 0; i < 1200; ++i) {
      if (HttpConnection(port_).connected()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
  }
  /// Stops it (it saves its sessions as it goes).
  void Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }

  /// A loopback port nobody listens on now.
  static int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    ::close(fd);
    return ntohs(sa.sin_port);
  }

 private:
  static bool Run(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawn(&pid, args[0].c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
      return false;
    }
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  std::filesystem::path folder_;
  int port_ = 0;
  bool started_ = false;
  pid_t pid_ = -1;
};

/// A subscriber to irdload/# with a session the broker keeps (QoS 1), reconnecting by itself.
class MqttListener {
 public:
  struct Message {
    std::string topic, payload;
    bool retained;
  };

  MqttListener(int port, const std::string& user, const std::string& password) {
    mosquitto_lib_init();
    client_ = mosquitto_new("irdload-test-listener", false, this);
    mosquitto_username_pw_set(client_, user.c_str(), password.c_str());
    mosquitto_reconnect_delay_set(client_, 1, 1, false);
    mosquitto_connect_callback_set(client_, [](mosquitto* m, void* self, int rc) {
      if (rc != 0) return;
      mosquitto_subscribe(m, nullptr, "irdload/#", 1);
      static_cast<MqttListener*>(self)->connected_ = true;
    });
    mosquitto_message_callback_set(client_, [](mosquitto*, void* self, const mosquitto_message* m) {
      auto* l = static_cast<MqttListener*>(self);
      std::lock_guard lock(l->mu_);
      l->messages_.push_back({m->topic,
                              std::string(static_cast<const char*>(m->payload),
                                          static_cast<std::size_t>(m->payloadlen)),
                              m->retain});
    });
    mosquitto_connect_async(client_, "127.0.0.1", port, 5);
    mosquitto_loop_start(client_);
  }
  ~MqttListener() {
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
  }

  bool connected() const { return connected_; }
  std::vector<Message> Messages() {
    std::lock_guard lock(mu_);
    return messages_;
  }

 private:
  mosquitto* client_;
  std::atomic<bool> connected_{false};
  std::mutex mu_;
  std::vector<Message> messages_;
};

/// Publishes one message at QoS 1 and waits, at most `bound`, until the broker has it.
inline bool PublishOnce(int port, const std::string& user, const std::string& password,
                        const std::string& topic, const std::string& payload,
                        std::chrono::milliseconds bound = std::chrono::seconds(30)) {
  mosquitto_lib_init();
  mosquitto* client = mosquitto_new(nullptr, true, nullptr);
  if (!client) return false;
  bool published = false;
  mosquitto_user_data_set(client, &published);
  mosquitto_publish_callback_set(
      client, [](mosquitto*, void* done, int) { *static_cast<bool*>(done) = true; });
  mosquitto_username_pw_set(client, user.c_str(), password.c_str());
  if (mosquitto_connect(client, "127.0.0.1", port, 5) == MOSQ_ERR_SUCCESS &&
      mosquitto_publish(client, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                        payload.data(), 1, false) == MOSQ_ERR_SUCCESS) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!published && std::chrono::steady_clock::now() < deadline) {
      if (mosquitto_loop(client, 100, 1) != MOSQ_ERR_SUCCESS) break;
    }
  }
  mosquitto_disconnect(client);
  mosquitto_destroy(client);
  return published;
}

}  // namespace irdload::test
