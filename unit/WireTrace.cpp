#include "unit/WireTrace.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace irdload::unit {

bool WireTrace::Open(const std::string& path, std::string* error) {
  path_ = path;
  errno = 0;
  out_.open(path, std::ios::out | std::ios::trunc);
  out_ << "# irdload wire trace: seconds, direction, bytes (hex)\n";
  out_.flush();
  if (!out_) {
    if (error) *error = path + ": " + (errno != 0 ? std::strerror(errno) : "cannot be written");
    return false;
  }
  start_ = std::chrono::steady_clock::now();
  return true;
}

void WireTrace::Record(WireDirection direction, const std::uint8_t* data, std::size_t length) {
  const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  std::string line;
  line.reserve(32 + length * 3);
  char head[48];
  const char* way = direction == WireDirection::ToDevice     ? "PC>IRD"
                    : direction == WireDirection::FromDevice ? "IRD>PC"
                                                             : "IRD>PC stale, dropped:";
  std::snprintf(head, sizeof head, "%12.6f %s", t, way);
  line += head;
  static constexpr char kHex[] = "0123456789abcdef";
  for (std::size_t i = 0; i < length; ++i) {
    line += ' ';
    line += kHex[data[i] >> 4];
    line += kHex[data[i] & 0xF];
  }
  line += '\n';
  std::lock_guard lk(mu_);
  if (!failure_.empty()) return;
  errno = 0;
  out_ << line;
  out_.flush();
  if (!out_) failure_ = path_ + ": " + (errno != 0 ? std::strerror(errno) : "write failed");
}

std::string WireTrace::failure() const {
  std::lock_guard lk(mu_);
  return failure_;
}

}  // namespace irdload::unit
