// A small read-only HTTP/1.1 server on one thread: GET and HEAD of fixed routes, one response per
// connection, and Server-Sent Event streams that the owner feeds. Everything it holds is bounded:
// connections, the request's head, the time a request may take to arrive, and each stream's
// backlog (a browser that stops reading is dropped, never waited for). Anything it cannot serve
// gets a 4xx (or a 503 when full), never a hang.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace irdload::floor {

struct HttpReply {
  int status = 200;
  std::string type;  ///< Content-Type
  std::string body;
  std::string download;  ///< a file name: sent as an attachment of that name
};

/// A 200 with a JSON body.
inline HttpReply JsonReply(std::string body) {
  return {200, "application/json", std::move(body), {}};
}

struct HttpLimits {
  std::size_t connections = 64;         ///< open at once, streams included
  std::size_t streams = 32;             ///< event streams at once
  std::size_t requestHead = 8192;       ///< bytes of the request line and headers
  std::size_t streamBacklog = 1 << 20;  ///< bytes a stream may have unsent before it is dropped
  std::chrono::milliseconds requestTime{10000};  ///< for the whole request head to arrive
};

class HttpServer {
 public:
  /// The reply for a path (without its query); nothing for a path that is not served (404).
  using Route = std::function<std::optional<HttpReply>(const std::string& path)>;
  /// What a new event stream gets first (whole "event:/data:" messages).
  using Greeting = std::function<std::string()>;

  HttpServer(Route route, std::string streamPath, Greeting greeting, HttpLimits limits = {});
  /// Stops serving and closes every connection.
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  /// Binds "HOST:PORT" (an IPv4 address or "localhost"; port 0 picks a free one) or "PORT"
  /// (on 127.0.0.1). False with a sentence for the operator.
  bool Listen(const std::string& address, std::string* error);
  /// "http://HOST:PORT/" as bound.
  std::string url() const;
  /// The port as bound.
  int port() const;
  /// Serves on a thread of its own until Stop or the destructor.
  void Start();
  void Stop();

  /// Sends `message` (one or more whole "event:/data:" messages) to every open stream; from any
  /// thread, never blocking. Messages that pile up faster than the serving thread takes them
  /// are dropped oldest first past the stream backlog: send whole states, not changes.
  void Broadcast(std::string message);

 private:
  struct Loop;
  std::unique_ptr<Loop> loop_;
};

/// Splits "HOST:PORT" or "PORT" into its parts; false when it is neither.
bool ParseListenAddress(const std::string& text, std::string* host, int* port);

}  // namespace irdload::floor
