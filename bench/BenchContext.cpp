#include "bench/BenchContext.h"

#include <unistd.h>

#include <fstream>
#include <iostream>

#include "engine/Image.h"
#include "engine/ImageWriter.h"

namespace irdload::bench {

BenchContext::BenchContext(bool quick, std::filesystem::path binaryDir, Workspace& workspace)
    : quick_(quick),
      binaryDir_(std::move(binaryDir)),
      workspace_(workspace),
      progressShown_(isatty(STDERR_FILENO) != 0) {}

const std::vector<std::uint8_t>& BenchContext::Payload(std::size_t bytes) {
  auto it = payloads_.find(bytes);
  if (it == payloads_.end()) {
    it = payloads_.emplace(bytes, PatternPayload(bytes, static_cast<std::uint32_t>(bytes))).first;
  }
  return it->second;
}

std::string BenchContext::ImagePath(std::size_t bytes, std::string* error) {
  if (auto it = images_.find(bytes); it != images_.end()) return it->second;
  const std::string path = workspace_.Write("image-" + std::to_string(bytes) + ".uuc",
                                            ComposeImage(kTypeSingle, Payload(bytes)), error);
  if (!path.empty()) images_[bytes] = path;
  return path;
}

std::string BenchContext::PayloadPath(std::size_t bytes, std::string* error) {
  if (auto it = payloadFiles_.find(bytes); it != payloadFiles_.end()) return it->second;
  const std::string path =
      workspace_.Write("payload-" + std::to_string(bytes) + ".bin", Payload(bytes), error);
  if (!path.empty()) payloadFiles_[bytes] = path;
  return path;
}

void BenchContext::Progress(const std::string& text) const {
  if (progressShown_) std::cerr << "irdload-bench: " << text << std::endl;
}

std::string LoadNow() {
  std::ifstream in("/proc/loadavg");
  std::string one;
  in >> one;
  return "load " + (one.empty() ? std::string("unknown") : one);
}

}  // namespace irdload::bench
