// A record of every byte on the wire, both directions, timestamped, in hex.
#pragma once

#include <chrono>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <string>

#include "serial/SerialPort.h"

namespace irdload::cli {

class WireTrace {
 public:
  /// Creates (or truncates) the trace file; false with the reason when it cannot.
  bool Open(const std::string& path, std::string* error);
  /// One line per transfer: seconds since the trace began, direction, bytes in hex.
  void Record(WireDirection direction, const std::uint8_t* data, std::size_t length);

 private:
  std::mutex mu_;
  std::ofstream out_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace irdload::cli
