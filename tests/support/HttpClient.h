// A raw HTTP client for tests: whatever bytes a test wants on a TCP connection to 127.0.0.1,
// and what comes back, each wait bounded.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace irdload::test {

class HttpConnection {
 public:
  explicit HttpConnection(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<std::uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) Close();
  }
  ~HttpConnection() { Close(); }
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  bool connected() const { return fd_ >= 0; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  bool Send(const std::string& bytes) {
    std::size_t sent = 0;
    while (fd_ >= 0 && sent < bytes.size()) {
      const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return false;
      sent += static_cast<std::size_t>(n);
    }
    return fd_ >= 0;
  }

  /// Reads until the server closes, `until` appears in what was read, or `bound` passes.
  std::string Read(std::chrono::milliseconds bound, const std::string& until = "") {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (fd_ >= 0 && (until.empty() || got_.find(until) == std::string::npos)) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      char buf[65536];
      const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) {
        closedByServer_ = true;
        Close();
        break;
      }
      got_.append(buf, static_cast<std::size_t>(n));
    }
    return got_;
  }
  bool closedByServer() const { return closedByServer_; }
  const std::string& got() const { return got_; }
  /// Forgets what was read so far.
  void Clear() { got_.clear(); }

 private:
  int fd_ = -1;
  std::string got_;
  bool closedByServer_ = false;
};

/// One GET (or any request) on a fresh connection: the whole response.
inline std::string HttpExchange(int port, const std::string& request,
                                std::chrono::milliseconds bound = std::chrono::seconds(30)) {
  HttpConnection c(port);
  if (!c.Send(request)) return {};
  return c.Read(bound);
}

inline std::string HttpGet(int port, const std::string& path) {
  return HttpExchange(port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
}

/// The body of a whole response; empty when there is none.
inline std::string HttpBody(const std::string& response) {
  const std::size_t end = response.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : response.substr(end + 4);
}

/// The status code of a response; 0 when it has none.
inline int HttpStatus(const std::string& response) {
  if (response.rfind("HTTP/1.1 ", 0) != 0 || response.size() < 12) return 0;
  return std::stoi(response.substr(9, 3));
}

}  // namespace irdload::test
