#include "bench/BenchHost.h"

namespace irdload::bench {

BenchHost::BenchHost(std::string portPath, std::string imagePath)
    : portPath_(std::move(portPath)), imagePath_(std::move(imagePath)) {}

void BenchHost::OnEvent(const EngineEvent& event) {
  std::lock_guard lock(mu_);
  ++events_;
  if (const auto* progress = std::get_if<ProgressMade>(&event))
    packetsDone_ = progress->packetsDone;
}

void BenchHost::MessageBox(const std::string& text, const std::string& detail, std::stop_token) {
  std::lock_guard lock(mu_);
  messages_.push_back(detail.empty() ? text : text + " (" + detail + ")");
}

std::string BenchHost::Messages() const {
  std::lock_guard lock(mu_);
  std::string out;
  for (const auto& m : messages_) out += (out.empty() ? "" : "; ") + m;
  return out;
}

}  // namespace irdload::bench
