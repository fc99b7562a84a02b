#include "floor/HttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

namespace irdload::floor {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A comment line on every stream this often, so that a browser gone away is noticed.
constexpr auto kKeepAlive = 15s;

const char* Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 414:
      return "URI Too Long";
    case 431:
      return "Request Header Fields Too Large";
    case 503:
      return "Service Unavailable";
    default:
      return "Error";
  }
}

std::string Head(int status, const std::string& type, std::size_t length,
                 const std::string& extra) {
  return "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) + "\r\nContent-Type: " + type +
         "\r\nContent-Length: " + std::to_string(length) +
         "\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n"
         "Content-Security-Policy: default-src 'self'\r\nConnection: close\r\n" +
         extra + "\r\n";
}

std::string Plain(int status, const std::string& extra = "") {
  const std::string body = std::to_string(status) + " " + Reason(status) + "\n";
  return Head(status, "text/plain; charset=utf-8", body.size(), extra) + body;
}

struct Connection {
  int fd = -1;
  std::string in, out;
  Clock::time_point since;
  bool stream = false;   // an event stream: written to until it goes
  bool closing = false;  // closes once `out` is sent
  // Sent, and the write side shut: what the client still sends is read and dropped until it
  // closes too, so that a close with unread bytes cannot reset the answer away.
  bool halfClosed = false;
};

}  // namespace

struct HttpServer::Loop {
  Route route;
  std::string streamPath;
  Greeting greeting;
  HttpLimits limits;
  int listenFd = -1, wakeFd = -1;
  std::string host;
  int port = 0;
  std::thread thread;
  std::atomic<bool> stop{false};
  std::mutex mu;
  std::vector<std::string> pending;  // broadcasts not yet handed to the streams
  std::list<Connection> connections;
  std::size_t streams = 0;

  void Run();
  void Accept();
  void Read(Connection& c);
  void Answer(Connection& c, const std::string& head);
  void Write(Connection& c);
  void Close(std::list<Connection>::iterator it);
};

bool ParseListenAddress(const std::string& text, std::string* host, int* port) {
  const std::size_t colon = text.rfind(':');
  const std::string h = colon == std::string::npos ? "127.0.0.1" : text.substr(0, colon);
  const std::string p = colon == std::string::npos ? text : text.substr(colon + 1);
  if (p.empty() || p.size() > 5 || h.empty()) return false;
  int value = 0;
  for (char c : p) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value > 65535) return false;
  *host = h == "localhost" ? "127.0.0.1" : h;
  *port = value;
  return true;
}

HttpServer::HttpServer(Route route, std::string streamPath, Greeting greeting, HttpLimits limits)
    : loop_(std::make_unique<Loop>()) {
  loop_->route = std::move(route);
  loop_->streamPath = std::move(streamPath);
  loop_->greeting = std::move(greeting);
  loop_->limits = limits;
  loop_->wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

HttpServer::~HttpServer() {
  Stop();
  for (auto it = loop_->connections.begin(); it != loop_->connections.end();) {
    auto next = std::next(it);
    loop_->Close(it);
    it = next;
  }
  if (loop_->listenFd >= 0) ::close(loop_->listenFd);
  if (loop_->wakeFd >= 0) ::close(loop_->wakeFd);
}

bool HttpServer::Listen(const std::string& address, std::string* error) {
  std::string host;
  int port = 0;
  if (!ParseListenAddress(address, &host, &port)) {
    *error = "--http takes HOST:PORT or PORT (e.g. 127.0.0.1:8080), not \"" + address + "\"";
    return false;
  }
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::inet_pton(AF_INET, host.c_str(), &sa.sin_addr) != 1) {
    *error = "--http: \"" + host + "\" is not an IPv4 address";
    return false;
  }
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const int on = 1;
  if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, 64) != 0) {
    *error = "cannot serve the dashboard on " + host + ":" + std::to_string(port) + ": " +
             std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return false;
  }
  socklen_t len = sizeof sa;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  loop_->listenFd = fd;
  loop_->host = host;
  loop_->port = ntohs(sa.sin_port);
  return true;
}

std::string HttpServer::url() const {
  return "http://" + loop_->host + ":" + std::to_string(loop_->port) + "/";
}

int HttpServer::port() const {
  return loop_->port;
}

void HttpServer::Start() {
  if (loop_->listenFd < 0 || loop_->thread.joinable()) return;
  loop_->thread = std::thread([loop = loop_.get()] { loop->Run(); });
}

void HttpServer::Stop() {
  loop_->stop = true;
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(loop_->wakeFd, &one, sizeof one);
  if (loop_->thread.joinable()) loop_->thread.join();
}

void HttpServer::Broadcast(std::string message) {
  {
    std::lock_guard lock(loop_->mu);
    // Bounded like every stream: without a serving thread taking them, old ones go first.
    std::size_t bytes = message.size();
    for (const std::string& m : loop_->pending) bytes += m.size();
    while (!loop_->pending.empty() && bytes > loop_->limits.streamBacklog) {
      bytes -= loop_->pending.front().size();
      loop_->pending.erase(loop_->pending.begin());
    }
    loop_->pending.push_back(std::move(message));
  }
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(loop_->wakeFd, &one, sizeof one);
}

void HttpServer::Loop::Run() {
  auto lastKeepAlive = Clock::now();
  std::vector<pollfd> fds;
  std::vector<std::list<Connection>::iterator> at;
  while (!stop) {
    fds.clear();
    at.clear();
    fds.push_back({wakeFd, POLLIN, 0});
    fds.push_back({listenFd, POLLIN, 0});
    for (auto it = connections.begin(); it != connections.end(); ++it) {
      short events = it->out.empty() ? POLLIN : static_cast<short>(POLLIN | POLLOUT);
      fds.push_back({it->fd, events, 0});
      at.push_back(it);
    }
    ::poll(fds.data(), fds.size(), 500);
    if (stop) break;
    if (fds[0].revents & POLLIN) {
      std::uint64_t count;
      [[maybe_unused]] const ssize_t n = ::read(wakeFd, &count, sizeof count);
      std::vector<std::string> messages;
      {
        std::lock_guard lock(mu);
        messages.swap(pending);
      }
      for (Connection& c : connections) {
        if (!c.stream) continue;
        for (const std::string& m : messages) c.out += m;
      }
    }
    // Connections first: Accept may add to the list, which `at` does not cover.
    for (std::size_t i = 0; i < at.size(); ++i) {
      Connection& c = *at[i];
      const short re = fds[i + 2].revents;
      if (re & (POLLIN | POLLHUP | POLLERR)) Read(c);
      if (c.fd >= 0 && !c.out.empty() && (re & POLLOUT)) Write(c);
    }
    if (fds[1].revents & POLLIN) Accept();
    const auto now = Clock::now();
    const bool keepAlive = now - lastKeepAlive >= kKeepAlive;
    if (keepAlive) lastKeepAlive = now;
    for (auto it = connections.begin(); it != connections.end();) {
      auto next = std::next(it);
      Connection& c = *it;
      if (c.fd >= 0 && c.stream && keepAlive) c.out += ":\n\n";
      if (c.fd >= 0 && !c.stream && !c.closing && now - c.since > limits.requestTime) {
        Answer(c, Plain(408));
      }
      if (c.fd >= 0 && c.stream && c.out.size() > limits.streamBacklog) {
        // It stopped reading: let it go rather than hold everything the station says.
        ::shutdown(c.fd, SHUT_RDWR);
        Close(it);
      } else if (c.fd < 0 || (!c.stream && now - c.since > 2 * limits.requestTime)) {
        Close(it);
      } else if (c.closing && c.out.empty() && !c.halfClosed) {
        ::shutdown(c.fd, SHUT_WR);
        c.halfClosed = true;
      }
      it = next;
    }
  }
}

void HttpServer::Loop::Accept() {
  for (;;) {
    const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    if (connections.size() >= limits.connections) {
      const std::string busy = Plain(503, "Retry-After: 5\r\n");
      [[maybe_unused]] const ssize_t n = ::send(fd, busy.data(), busy.size(), MSG_NOSIGNAL);
      ::close(fd);
      continue;
    }
    Connection c;
    c.fd = fd;
    c.since = Clock::now();
    connections.push_back(std::move(c));
  }
}

void HttpServer::Loop::Read(Connection& c) {
  char buf[4096];
  // A few reads a pass, so that a client that never stops sending cannot hold the loop.
  for (int i = 0; i < 16; ++i) {
    const ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      ::close(c.fd);
      c.fd = -1;
      return;
    }
    if (n < 0) return;
    // A stream's browser says nothing more; an answered request's extra bytes are ignored.
    if (c.stream || c.closing) continue;
    c.in.append(buf, static_cast<std::size_t>(n));
    const std::size_t end = c.in.find("\r\n\r\n");
    if (end == std::string::npos) {
      if (c.in.size() > limits.requestHead) Answer(c, Plain(431));
      continue;
    }
    if (end + 4 > limits.requestHead) {
      Answer(c, Plain(431));
      continue;
    }
    Answer(c, c.in.substr(0, end));
  }
}

// Answers a request's head (the request line and headers), or sends `head` when it is a
// response already.
void HttpServer::Loop::Answer(Connection& c, const std::string& head) {
  c.in.clear();
  if (head.rfind("HTTP/", 0) == 0) {
    c.out += head;
    c.closing = true;
    return;
  }
  const std::string line = head.substr(0, head.find("\r\n"));
  const std::size_t sp1 = line.find(' ');
  const std::size_t sp2 = sp1 == std::string::npos ? sp1 : line.find(' ', sp1 + 1);
  if (sp2 == std::string::npos || line.compare(sp2 + 1, 7, "HTTP/1.") != 0 ||
      line.size() != sp2 + 9 || line.find(' ', sp2 + 1) != std::string::npos) {
    Answer(c, Plain(400));
    return;
  }
  const std::string method = line.substr(0, sp1);
  std::string target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  if (method != "GET" && method != "HEAD") {
    Answer(c, Plain(405, "Allow: GET, HEAD\r\n"));
    return;
  }
  if (target.empty() || target[0] != '/') {
    Answer(c, Plain(400));
    return;
  }
  target = target.substr(0, target.find('?'));
  if (target == streamPath && method == "GET") {
    if (streams >= limits.streams) {
      Answer(c, Plain(503, "Retry-After: 5\r\n"));
      return;
    }
    c.stream = true;
    ++streams;
    c.out +=
        "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
        "X-Content-Type-Options: nosniff\r\nConnection: keep-alive\r\n\r\nretry: 2000\n\n" +
        greeting();
    return;
  }
  std::optional<HttpReply> reply = route(target);
  if (!reply) {
    Answer(c, Plain(404));
    return;
  }
  std::string extra;
  if (!reply->download.empty()) {
    extra = "Content-Disposition: attachment; filename=\"" + reply->download + "\"\r\n";
  }
  c.out += Head(reply->status, reply->type, reply->body.size(), extra);
  if (method == "GET") c.out += reply->body;
  c.closing = true;
}

void HttpServer::Loop::Write(Connection& c) {
  while (!c.out.empty()) {
    const ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
      ::close(c.fd);
      c.fd = -1;
      return;
    }
    c.out.erase(0, static_cast<std::size_t>(n));
  }
}

void HttpServer::Loop::Close(std::list<Connection>::iterator it) {
  if (it->fd >= 0) ::close(it->fd);
  if (it->stream) --streams;
  connections.erase(it);
}

}  // namespace irdload::floor
