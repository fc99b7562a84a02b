#include "cli/ConsoleHost.h"

#include <cstdio>
#include <cstdlib>

#include "engine/Link.h"

namespace irdload::cli {
namespace {

using Clock = std::chrono::steady_clock;

// The data loop's statuses repeat for every packet; a plain log shows progress lines instead.
bool IsDataLoopStatus(const std::string& s) {
  return s == "Waiting data request" || s == "Sendig data packet" || s == "Waiting data ACK" ||
         s == "Sending data transfer ACK" || s == "Sending data transfer NACK";
}

std::string MinSec(Clock::duration d) {
  const long long s = std::chrono::duration_cast<std::chrono::seconds>(d).count();
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02lld:%02lld", s / 60, s % 60);
  return buf;
}

}  // namespace

ConsoleHost::ConsoleHost(std::string portName, std::string first, std::string second,
                         std::ostream& out, std::ostream& err, bool interactive)
    : portName_(std::move(portName)),
      first_(std::move(first)),
      second_(std::move(second)),
      out_(out),
      err_(err),
      interactive_(interactive) {}

void ConsoleHost::SetField(int id, const std::string& text) {
  std::lock_guard lk(mu_);
  fields_[id] = text;
  if (id == FIELD_STATUS && !interactive_ && text != lastStatusPrinted_) {
    lastStatusPrinted_ = text;
    if (!IsDataLoopStatus(text)) pendingLines_.push_back(text);
  }
}

void ConsoleHost::SetProgressRange(int, int upper) {
  std::lock_guard lk(mu_);
  packetsTotal_ = upper;
  packetPos_ = 0;
}

void ConsoleHost::SetProgressPos(int pos) {
  std::lock_guard lk(mu_);
  // The position wraps to 0 after the last packet; show that as complete.
  packetPos_ = pos == 0 && packetPos_ > 0 ? packetsTotal_ : pos;
}

void ConsoleHost::StartElapsedClock() {
  std::lock_guard lk(mu_);
  clockStart_ = Clock::now();
  clockRunning_ = true;
}

void ConsoleHost::StopElapsedClock() {
  std::lock_guard lk(mu_);
  if (clockRunning_) clockShown_ = Clock::now() - clockStart_;
  clockRunning_ = false;
}

void ConsoleHost::MessageBox(const std::string& text, const std::string& detail, std::stop_token) {
  std::lock_guard lk(mu_);
  messages_.push_back({text, detail});
  if (interactive_ && lastLineWidth_ > 0) {
    out_ << '\n';
    out_.flush();
    lastLineWidth_ = 0;
  }
  err_ << "irdload-cli: " << text << '\n';
  if (!detail.empty()) err_ << "  " << detail << '\n';
  err_.flush();
}

std::vector<ConsoleHost::Message> ConsoleHost::messages() const {
  std::lock_guard lk(mu_);
  return messages_;
}

bool ConsoleHost::portOpenFailed() const {
  std::lock_guard lk(mu_);
  for (const auto& m : messages_) {
    if (m.text.size() > 12 && m.text.compare(m.text.size() - 12, 12, " Open Error!") == 0 &&
        m.text != "Open Error!") {
      return true;
    }
  }
  return false;
}

bool ConsoleHost::connected() const {
  std::lock_guard lk(mu_);
  return clockStart_ != Clock::time_point{};
}

std::string ConsoleHost::field(int id) const {
  std::lock_guard lk(mu_);
  auto it = fields_.find(id);
  return it == fields_.end() ? std::string() : it->second;
}

std::string ConsoleHost::ProgressLine() const {
  const auto get = [&](int id) {
    auto it = fields_.find(id);
    return it == fields_.end() ? std::string() : it->second;
  };
  const Clock::duration elapsed = clockRunning_ ? Clock::now() - clockStart_ : clockShown_;
  const double secs = std::chrono::duration<double>(elapsed).count();
  const long long bytes = std::min<long long>(
      static_cast<long long>(packetPos_) * static_cast<long long>(kChunkSize),
      std::atoll(get(FIELD_TOTAL_SIZE).c_str()));
  const double rate = secs > 0.5 ? static_cast<double>(bytes) / secs : 0.0;
  std::string eta = "--:--";
  const long long total = std::atoll(get(FIELD_TOTAL_SIZE).c_str());
  if (rate > 0 && total >= bytes) {
    eta = MinSec(std::chrono::seconds(static_cast<long long>(static_cast<double>(total - bytes) / rate)));
  }
  char buf[256];
  std::snprintf(buf, sizeof buf, "%-30s %d/%d packets  %lld/%lld bytes  %.1f KiB/s  %s elapsed  %s left  retries %s",
                get(FIELD_STATUS).c_str(), packetPos_, packetsTotal_, bytes, total, rate / 1024.0,
                MinSec(elapsed).c_str(), eta.c_str(), get(FIELD_RETRY_COUNT).empty() ? "0" : get(FIELD_RETRY_COUNT).c_str());
  return buf;
}

void ConsoleHost::Render(bool final) {
  std::lock_guard lk(mu_);
  if (interactive_) {
    std::string line = ProgressLine();
    const std::size_t width = line.size();
    if (width < lastLineWidth_) line.append(lastLineWidth_ - width, ' ');
    out_ << '\r' << line;
    if (final) out_ << '\n';
    out_.flush();
    lastLineWidth_ = final ? 0 : width;
    return;
  }
  for (const auto& l : pendingLines_) out_ << l << '\n';
  pendingLines_.clear();
  const auto now = Clock::now();
  const bool inData = IsDataLoopStatus(lastStatusPrinted_);
  if ((inData && now - lastProgressPrinted_ >= std::chrono::seconds(1)) || final) {
    if (packetsTotal_ > 0) out_ << ProgressLine() << '\n';
    lastProgressPrinted_ = now;
  }
  out_.flush();
}

}  // namespace irdload::cli
