// What every figure of the benchmark shares: the run's options, the scratch folder with the
// images, where the other programs are, and whether anything broke.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench/Workspace.h"

namespace irdload::bench {

inline constexpr std::uint32_t kLineBaud = 115200;

// The one-minute load average now, as "load 0.42", to stand beside every figure.
std::string LoadNow();

class BenchContext {
 public:
  BenchContext(bool quick, std::filesystem::path binaryDir, Workspace& workspace);

  bool quick() const { return quick_; }
  // The folder of the irdload-bench binary: build/<preset>/bench.
  const std::filesystem::path& binaryDir() const { return binaryDir_; }
  const Workspace& workspace() const { return workspace_; }

  // The pattern payload of `bytes` bytes, made once.
  const std::vector<std::uint8_t>& Payload(std::size_t bytes);
  // A single-file upgrade image (.uuc) of that payload, written once; empty with `error` set.
  std::string ImagePath(std::size_t bytes, std::string* error);
  // The bare payload as a file, for programs that send plain files; empty with `error` set.
  std::string PayloadPath(std::size_t bytes, std::string* error);

  // Something failed that is not a missed goal; the benchmark ends with a non-zero status.
  void MarkBroken() { broken_ = true; }
  bool broken() const { return broken_; }

  // A progress line on the error stream, only when that is a terminal.
  void Progress(const std::string& text) const;

 private:
  const bool quick_;
  const std::filesystem::path binaryDir_;
  Workspace& workspace_;
  std::map<std::size_t, std::vector<std::uint8_t>> payloads_;
  std::map<std::size_t, std::string> images_;
  std::map<std::size_t, std::string> payloadFiles_;
  bool broken_ = false;
  const bool progressShown_;
};

}  // namespace irdload::bench
