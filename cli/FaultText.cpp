#include "cli/FaultText.h"

#include <algorithm>

namespace irdload::cli {

bool ParseCount(const std::string& text, std::uint32_t& out) {
  if (text.empty() || text.size() > 10 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  const unsigned long long n = std::stoull(text);
  if (n > 0xFFFFFFFFull) return false;
  out = static_cast<std::uint32_t>(n);
  return true;
}

bool ParseFault(const std::string& text, sim::Fault& fault) {
  const auto atPos = text.find('@');
  const std::string name = text.substr(0, atPos);
  bool known = false;
  // A stalled PC needs the PC's process, which only a test running the IRD has.
  for (int k = 0; k <= static_cast<int>(sim::FaultKind::LosePcByte); ++k) {
    if (sim::FaultKindName(static_cast<sim::FaultKind>(k)) == name) {
      fault.kind = static_cast<sim::FaultKind>(k);
      known = true;
    }
  }
  if (!known) return false;
  if (atPos == std::string::npos) return true;
  const std::string rest = text.substr(atPos + 1);
  const auto colon = rest.find(':');
  std::uint32_t at = 0, value = 0;
  if (!ParseCount(rest.substr(0, colon), at)) return false;
  fault.at = at;
  if (colon != std::string::npos) {
    if (!ParseCount(rest.substr(colon + 1), value)) return false;
    if (fault.kind == sim::FaultKind::DelayReply) {
      fault.delay = std::chrono::microseconds{value};
    } else {
      fault.value = value;
    }
  }
  return true;
}

}  // namespace irdload::cli
