// A real headless Chromium for tests, driven over its DevTools pipe (--remote-debugging-pipe:
// JSON messages, each ended by a NUL, on descriptors 3 and 4): open a page, evaluate script in
// it while it runs, and take a screenshot.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace irdload::test {

class Chromium {
 public:
  using Json = nlohmann::json;

  /// The browser's program, or empty when the machine has none.
  static std::string Program() {
    for (const char* p : {"/usr/bin/chromium", "/usr/bin/chromium-browser"}) {
      if (::access(p, X_OK) == 0) return p;
    }
    return {};
  }

  /// Starts it headless on `url` with a fresh profile in `profile`.
  bool Start(const std::string& url, const std::string& profile) {
    int toChrome[2], fromChrome[2];
    if (::pipe2(toChrome, O_CLOEXEC) != 0 || ::pipe2(fromChrome, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, toChrome[0], 3);
    posix_spawn_file_actions_adddup2(&actions, fromChrome[1], 4);
    std::vector<std::string> args = {Program(),
                                     "--headless",
                                     "--no-sandbox",
                                     "--disable-gpu",
                                     "--disable-quic",
                                     "--no-first-run",
                                     "--disable-background-networking",
                                     "--disable-component-update",
                                     "--disable-sync",
                                     "--user-data-dir=" + profile,
                                     "--window-size=1000,640",
                                     "--remote-debugging-pipe",
                                     url};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, args[0].c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(toChrome[0]);
    ::close(fromChrome[1]);
    to_ = toChrome[1];
    from_ = fromChrome[0];
    if (rc != 0) {
      pid_ = -1;
      return false;
    }
    return Attach();
  }

  ~Chromium() {
    if (pid_ > 0) {
      Call("Browser.close", Json::object(), false);
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      int status = 0;
      while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
          ::kill(pid_, SIGKILL);
          ::waitpid(pid_, &status, 0);
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
    if (to_ >= 0) ::close(to_);
    if (from_ >= 0) ::close(from_);
  }

  /// The value of a script expression in the page (a string, or its JSON text).
  std::optional<std::string> Evaluate(const std::string& expression) {
    const auto r = Call("Runtime.evaluate", {{"expression", expression}, {"returnByValue", true}});
    if (!r || !r->contains("result") || !(*r)["result"].contains("value")) return std::nullopt;
    const Json& v = (*r)["result"]["value"];
    return v.is_string() ? v.get<std::string>() : v.dump();
  }

  /// The page as it shows now, as a PNG file.
  bool Screenshot(const std::string& path) {
    const auto r = Call("Page.captureScreenshot", {{"format", "png"}});
    if (!r || !r->contains("data")) return false;
    const std::string png = Base64((*r)["data"].get<std::string>());
    std::ofstream out(path, std::ios::binary);
    out.write(png.data(), static_cast<std::streamsize>(png.size()));
    return out.good() && png.size() > 8;
  }

 private:
  bool Attach() {
    // The page target appears once the browser has opened the url's tab.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
      const auto targets = Call("Target.getTargets", Json::object(), false);
      if (!targets) return false;
      for (const Json& t : (*targets)["targetInfos"]) {
        if (t["type"] != "page") continue;
        const auto attached =
            Call("Target.attachToTarget", {{"targetId", t["targetId"]}, {"flatten", true}}, false);
        if (!attached) return false;
        session_ = (*attached)["sessionId"].get<std::string>();
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }

  // A command's result (to the page's session unless `browser`), each wait bounded.
  std::optional<Json> Call(const std::string& method, const Json& params, bool page = true) {
    Json message = {{"id", ++id_}, {"method", method}, {"params", params}};
    if (page) message["sessionId"] = session_;
    const std::string text = message.dump() + '\0';
    if (::write(to_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
      return std::nullopt;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
      for (std::size_t nul; (nul = buffer_.find('\0')) != std::string::npos;) {
        const Json reply = Json::parse(buffer_.substr(0, nul), nullptr, false);
        buffer_.erase(0, nul + 1);
        if (reply.is_object() && reply.value("id", -1) == id_) {
          if (!reply.contains("result")) return std::nullopt;
          return reply["result"];
        }
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd p{from_, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
        return std::nullopt;
      }
      char buf[65536];
      const ssize_t n = ::read(from_, buf, sizeof buf);
      if (n <= 0) return std::nullopt;
      buffer_.append(buf, static_cast<std::size_t>(n));
    }
  }

  static std::string Base64(const std::string& text) {
    std::string out;
    unsigned value = 0;
    int bits = -8;
    for (const char c : text) {
      const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
      const char* at = c ? std::strchr(alphabet, c) : nullptr;
      if (!at) continue;
      value = (value << 6) | static_cast<unsigned>(at - alphabet);
      bits += 6;
      if (bits >= 0) {
        out.push_back(static_cast<char>((value >> bits) & 0xFF));
        bits -= 8;
      }
    }
    return out;
  }

  pid_t pid_ = -1;
  int to_ = -1, from_ = -1;
  int id_ = 0;
  std::string session_, buffer_;
};

}  // namespace irdload::test
