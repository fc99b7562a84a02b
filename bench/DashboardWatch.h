// A browser's part in the station figure: finds the dashboard's address in the station's log,
// keeps its event stream open and reads every state as a page would, and times each unit from
// its end (the event's own time) to the first state that lists it.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace irdload::bench {

class DashboardWatch {
 public:
  explicit DashboardWatch(std::filesystem::path log);
  ~DashboardWatch();
  DashboardWatch(const DashboardWatch&) = delete;
  DashboardWatch& operator=(const DashboardWatch&) = delete;

  /// Stops reading; the latencies seen, in milliseconds, and the states read.
  std::vector<double> Finish(std::size_t* states, std::string* error);

 private:
  void Run();

  const std::filesystem::path log_;
  std::atomic<bool> stop_{false};
  std::mutex mu_;
  std::vector<double> latencies_;
  std::size_t states_ = 0;
  std::string error_;
  std::thread thread_;
};

}  // namespace irdload::bench
