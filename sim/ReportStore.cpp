#include "sim/ReportStore.h"

#include <algorithm>

namespace irdload::sim {
namespace {

// Appends what still fits under the cap and says whether anything was cut.
bool AppendCapped(std::vector<std::uint8_t>& log, const std::uint8_t* data, std::size_t len) {
  const std::size_t room = kWireLogCapBytes - std::min(log.size(), kWireLogCapBytes);
  const std::size_t taken = std::min(room, len);
  log.insert(log.end(), data, data + taken);
  return taken < len;
}

}  // namespace

Report ReportStore::Snapshot() const {
  std::lock_guard lock(mutex_);
  return report_;
}

void ReportStore::AppendFromPc(const std::uint8_t* data, std::size_t len) {
  // Nobody waits on the wire logs, so no wake-up is needed.
  std::lock_guard lock(mutex_);
  if (AppendCapped(report_.fromPc, data, len)) report_.fromPcTruncated = true;
}

void ReportStore::LogToPcLocked(std::uint8_t byte) {
  if (AppendCapped(report_.toPc, &byte, 1)) report_.toPcTruncated = true;
}

void ReportStore::CountUnexpected() {
  std::lock_guard lock(mutex_);
  ++report_.unexpectedBytes;
}

void ReportStore::CountFault(FaultKind kind) {
  std::lock_guard lock(mutex_);
  ++report_.faultsInjected[kind];
}

void ReportStore::NoteReadFromPc(MonotonicTime readAt) {
  std::lock_guard lock(mutex_);
  auto& replies = report_.timing.replies;
  for (; repliesAnswered_ < replies.size(); ++repliesAnswered_) {
    replies[repliesAnswered_].answerReadAt = readAt;
  }
}

void ReportStore::NoteConnectRequest(MonotonicTime lineStart) {
  std::lock_guard lock(mutex_);
  if (report_.timing.firstConnectRequestAt.count() == 0) {
    report_.timing.firstConnectRequestAt = lineStart;
  }
}

void ReportStore::NoteTerminateAnswer(MonotonicTime arrived) {
  std::lock_guard lock(mutex_);
  report_.timing.lastTerminateAnswerAt = arrived;
}

void ReportStore::MarkStopped() {
  Update([this](Report&) { stopped_ = true; });
}

bool ReportStore::WaitForTerminatedFiles(std::size_t n, std::chrono::milliseconds timeout) const {
  const auto enough = [&] {
    return static_cast<std::size_t>(
               std::count_if(report_.files.begin(), report_.files.end(),
                             [](const ReceivedFile& file) { return file.terminated; })) >= n;
  };
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, timeout, [&] { return enough() || stopped_; });
  return enough();
}

}  // namespace irdload::sim
