// A record of every byte on the wire, both directions, timestamped, in hex.
#pragma once

#include <chrono>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <string>

#include "serial/SerialPort.h"

namespace irdload::unit {

class WireTrace {
 public:
  /// Creates (or truncates) the trace file and writes its first line; false with the reason
  /// when it cannot.
  bool Open(const std::string& path, std::string* error);
  /// One line per transfer: seconds since the trace began, direction, bytes in hex.
  void Record(WireDirection direction, const std::uint8_t* data, std::size_t length);
  /// Why the trace lost lines (a full disk, say); empty while every line was written.
  std::string failure() const;
  const std::string& path() const { return path_; }

 private:
  mutable std::mutex mu_;
  std::ofstream out_;
  std::string path_;
  std::string failure_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace irdload::unit
