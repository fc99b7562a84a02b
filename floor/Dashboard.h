// The station's dashboard: a page of its own with a tile per port and the latest units, kept
// live through Server-Sent Events, and the station's snapshot, records and units.csv to fetch.
// It is one more subscriber of the station: its own queue, drained on its own thread, so that a
// slow browser never slows a load. Read-only: nothing it serves starts or stops anything.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "floor/HttpServer.h"
#include "station/Station.h"
#include "unit/Json.h"

namespace irdload::floor {

struct DashboardOptions {
  std::string address = "127.0.0.1:8080";  ///< HOST:PORT or PORT
  std::string title;                       ///< the station's name on the page
  std::string reportDir;                   ///< the station's report folder; empty: none
  HttpLimits limits;
};

class Dashboard {
 public:
  /// Units the page lists, newest first.
  static constexpr std::size_t kLatestUnits = 20;
  /// The page's refresh: progress reaches it at most this often (anything else at once).
  static constexpr std::chrono::milliseconds kTick{100};

  Dashboard(station::Station& station, DashboardOptions options);
  ~Dashboard();
  Dashboard(const Dashboard&) = delete;
  Dashboard& operator=(const Dashboard&) = delete;

  /// Subscribes to the station and binds the address; false with a sentence for the operator.
  /// Call before the station starts, so that no unit goes by unseen.
  bool Listen(std::string* error);
  /// Serves until destroyed.
  void Start();
  std::string url() const { return server_.url(); }

 private:
  void Pump();
  void Take(const unit::PortEvent& event);
  unit::Json State() const;
  std::string StateMessage() const;
  std::optional<HttpReply> Route(const std::string& path) const;

  station::Station& station_;
  const DashboardOptions options_;
  std::vector<std::string> labels_;
  std::shared_ptr<station::Subscription> events_;
  HttpServer server_;
  mutable std::mutex mu_;
  std::deque<unit::Json> units_;  // newest first
  std::uint64_t lost_ = 0;
  std::atomic<bool> stop_{false};
  std::thread pump_;
};

}  // namespace irdload::floor
