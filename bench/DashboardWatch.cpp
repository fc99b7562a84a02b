#include "bench/DashboardWatch.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <set>

#include "unit/Json.h"

namespace irdload::bench {
namespace {

using namespace std::chrono_literals;

// "2026-12-10T06:52:01.123Z" as a time; nothing for any other text.
std::optional<std::chrono::system_clock::time_point> UtcTime(const std::string& text) {
  std::tm tm{};
  int ms = 0;
  if (text.size() != 24 ||
      std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3dZ", &tm.tm_year, &tm.tm_mon,
                  &tm.tm_mday, &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &ms) != 7) {
    return std::nullopt;
  }
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  return std::chrono::system_clock::from_time_t(::timegm(&tm)) + std::chrono::milliseconds(ms);
}

}  // namespace

DashboardWatch::DashboardWatch(std::filesystem::path log)
    : log_(std::move(log)), thread_([this] { Run(); }) {}

DashboardWatch::~DashboardWatch() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

std::vector<double> DashboardWatch::Finish(std::size_t* states, std::string* error) {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(mu_);
  *states = states_;
  *error = error_;
  return latencies_;
}

void DashboardWatch::Run() {
  int port = 0;
  while (!stop_ && port == 0) {
    std::ifstream in(log_);
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("dashboard on http://127.0.0.1:", 0) == 0) port = std::stoi(line.substr(30));
    }
    std::this_thread::sleep_for(10ms);
  }
  if (port == 0) return;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const std::string request = "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) < 0) {
    std::lock_guard lock(mu_);
    error_ = "could not open the dashboard's event stream";
    ::close(fd);
    return;
  }
  std::set<std::string> seen;  // "port unit" of the units listed already
  std::string got;
  while (!stop_) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    char buf[65536];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    const auto now = std::chrono::system_clock::now();
    got.append(buf, static_cast<std::size_t>(n));
    for (std::size_t end; (end = got.find("\n\n")) != std::string::npos;) {
      const std::string message = got.substr(0, end);
      got.erase(0, end + 2);
      constexpr std::string_view kState = "event: state\ndata: ";
      if (message.rfind(kState, 0) != 0) continue;
      const unit::Json state = unit::Json::parse(message.substr(kState.size()), nullptr, false);
      if (!state.is_object()) continue;
      std::lock_guard lock(mu_);
      ++states_;
      for (const unit::Json& u : state["units"]) {
        const std::string key =
            u["port"].get<std::string>() + " " + std::to_string(u["unit"].get<int>());
        if (!seen.insert(key).second) continue;
        if (const auto ended = UtcTime(u["time"].get<std::string>())) {
          latencies_.push_back(std::chrono::duration<double, std::milli>(now - *ended).count());
        }
      }
    }
  }
  ::close(fd);
}

}  // namespace irdload::bench
