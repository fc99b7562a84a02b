#include "sim/PacingRelay.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <system_error>
#include <thread>

#include "sim/LineClock.h"
#include "sim/PseudoTerminal.h"

namespace irdload::sim {
namespace {

// Like a UART driver's buffer: once a direction holds this much, the writer is left to wait
// (the pty fills up) instead of the relay taking the whole transfer into memory.
constexpr std::size_t kQueueCapBytes = 4096;
constexpr std::size_t kChunkBytes = 4096;
// Backstop for the wake-up descriptor and for a far end that cannot take bytes.
constexpr int kPollIntervalMs = 5;
// Deadlines are one byte time (86.8 us at 115200) apart; the default 50 us slack would swamp them.
constexpr unsigned long kTimerSlackNs = 1000;

std::string ErrnoText(const char* what, int err) {
  return std::string(what) + ": " + std::generic_category().message(err) + " (errno " +
         std::to_string(err) + ")";
}

}  // namespace

PacedByteQueue::PacedByteQueue(std::chrono::nanoseconds byteTime) : byteTime_(byteTime) {}

void PacedByteQueue::Push(const std::uint8_t* data, std::size_t len,
                          std::chrono::nanoseconds readAt) {
  for (std::size_t i = 0; i < len; ++i) {
    lastDue_ = std::max(lastDue_, readAt) + byteTime_;
    entries_.push_back({data[i], lastDue_});
  }
}

std::size_t PacedByteQueue::DueCount(std::chrono::nanoseconds now) const {
  std::size_t n = 0;
  while (n < entries_.size() && entries_[n].due <= now) ++n;
  return n;
}

std::size_t PacedByteQueue::CopyFront(std::uint8_t* out, std::size_t max) const {
  const std::size_t n = std::min(max, entries_.size());
  for (std::size_t i = 0; i < n; ++i) out[i] = entries_[i].byte;
  return n;
}

void PacedByteQueue::Drop(std::size_t n) {
  entries_.erase(entries_.begin(),
                 entries_.begin() + static_cast<std::ptrdiff_t>(std::min(n, entries_.size())));
}

std::optional<std::chrono::nanoseconds> PacedByteQueue::NextDue() const {
  if (entries_.empty()) return std::nullopt;
  return entries_.front().due;
}

struct PacingRelay::Impl {
  explicit Impl(std::uint32_t baud)
      : byteTime(ByteLineTime(baud)), queues{PacedByteQueue(byteTime), PacedByteQueue(byteTime)} {}

  // One direction: bytes read from `from`'s master go out of `to`'s master.
  struct Direction {
    int from;
    int to;
  };

  void Run();
  void ReadInto(std::size_t dir, MonotonicTime now);
  // Writes what is due; false when the far end could take no more for now.
  bool Deliver(std::size_t dir, MonotonicTime now);
  void ArmTimer(std::optional<MonotonicTime> deadline);
  void StopThread();
  void CloseAll();

  const std::chrono::nanoseconds byteTime;

  // Start, Stop and destruction may come from different threads.
  std::mutex lifecycleMutex;
  bool started = false;
  std::thread thread;
  std::atomic<bool> stopRequested{false};
  std::array<std::string, 2> slavePaths;  // written by Start before the thread exists
  std::array<std::atomic<std::uint64_t>, 2> delivered{};
  // Nanosecond counts of MonotonicTime; written by the thread only.
  std::atomic<std::int64_t> firstReadAt{0};
  std::array<std::atomic<std::int64_t>, 2> lastDeliveredAt{};

  // Owned by the thread while it runs.
  std::array<PseudoTerminal, 2> ptys;
  int timerFd = -1;
  int wakeFd = -1;
  std::array<PacedByteQueue, 2> queues;
  std::array<bool, 2> farEndFull{false, false};
};

void PacingRelay::Impl::Run() {
  prctl(PR_SET_TIMERSLACK, kTimerSlackNs, 0, 0, 0);
  while (!stopRequested.load(std::memory_order_acquire)) {
    const MonotonicTime now = MonotonicNow();
    std::optional<MonotonicTime> next;
    for (std::size_t dir = 0; dir < 2; ++dir) {
      farEndFull[dir] = !Deliver(dir, now);
      const auto due = queues[dir].NextDue();
      if (due && !farEndFull[dir] && (!next || *due < *next)) next = due;
    }
    ArmTimer(next);

    // Direction 0 reads A and writes B; direction 1 reads B and writes A.
    std::array<pollfd, 4> fds{};
    for (std::size_t end = 0; end < 2; ++end) {
      const std::size_t outgoing = end;      // the direction this end's master feeds
      const std::size_t incoming = 1 - end;  // the direction that writes into this end
      short events = 0;
      if (queues[outgoing].size() < kQueueCapBytes) events |= POLLIN;
      if (farEndFull[incoming]) events |= POLLOUT;
      fds[end] = {ptys[end].master, events, 0};
    }
    fds[2] = {timerFd, POLLIN, 0};
    fds[3] = {wakeFd, POLLIN, 0};
    const int ready = poll(fds.data(), fds.size(), kPollIntervalMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    if ((fds[2].revents & POLLIN) != 0) {
      std::uint64_t expirations = 0;
      while (read(timerFd, &expirations, sizeof expirations) < 0 && errno == EINTR) {
      }
    }
    const MonotonicTime readAt = MonotonicNow();
    for (std::size_t end = 0; end < 2; ++end) {
      if ((fds[end].revents & POLLIN) != 0) ReadInto(end, readAt);
    }
  }
}

void PacingRelay::Impl::ReadInto(std::size_t dir, MonotonicTime now) {
  std::array<std::uint8_t, kChunkBytes> buffer{};
  const std::size_t room = kQueueCapBytes - std::min(kQueueCapBytes, queues[dir].size());
  const ssize_t got = read(ptys[dir].master, buffer.data(), std::min(room, buffer.size()));
  // EAGAIN and EINTR: look again on the next pass. EIO cannot last: both slaves stay open.
  if (got <= 0) return;
  queues[dir].Push(buffer.data(), static_cast<std::size_t>(got), now);
  if (firstReadAt.load(std::memory_order_relaxed) == 0) {
    firstReadAt.store(now.count(), std::memory_order_relaxed);
  }
}

bool PacingRelay::Impl::Deliver(std::size_t dir, MonotonicTime now) {
  PacedByteQueue& queue = queues[dir];
  const int to = ptys[1 - dir].master;
  for (std::size_t due = queue.DueCount(now); due > 0; due = queue.DueCount(now)) {
    std::array<std::uint8_t, kChunkBytes> buffer{};
    const std::size_t n = queue.CopyFront(buffer.data(), std::min(due, buffer.size()));
    const ssize_t written = write(to, buffer.data(), n);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && errno == EAGAIN) return false;
    if (written < 0) {
      // Nobody can be at the far end (its slave is ours): drop, as a cable without a peer would.
      queue.Drop(n);
      continue;
    }
    queue.Drop(static_cast<std::size_t>(written));
    // The time first, so that whoever sees the count also sees the time.
    lastDeliveredAt[dir].store(MonotonicNow().count(), std::memory_order_relaxed);
    delivered[dir].fetch_add(static_cast<std::uint64_t>(written), std::memory_order_release);
  }
  return true;
}

void PacingRelay::Impl::ArmTimer(std::optional<MonotonicTime> deadline) {
  itimerspec setting{};
  // An all-zero value disarms; a deadline already past fires at once.
  if (deadline) setting.it_value = ToTimespec(std::max(*deadline, MonotonicTime{1}));
  timerfd_settime(timerFd, TFD_TIMER_ABSTIME, &setting, nullptr);
}

void PacingRelay::Impl::StopThread() {
  if (!thread.joinable()) return;
  stopRequested.store(true, std::memory_order_release);
  const std::uint64_t one = 1;
  while (write(wakeFd, &one, sizeof one) < 0 && errno == EINTR) {
  }
  thread.join();
}

void PacingRelay::Impl::CloseAll() {
  for (PseudoTerminal& pty : ptys) {
    CloseAndReset(pty.master);
    CloseAndReset(pty.slave);
  }
  CloseAndReset(timerFd);
  CloseAndReset(wakeFd);
}

PacingRelay::PacingRelay(std::uint32_t baud) : impl_(std::make_unique<Impl>(baud)) {}

PacingRelay::~PacingRelay() {
  std::lock_guard lock(impl_->lifecycleMutex);
  impl_->StopThread();
  impl_->CloseAll();
}

bool PacingRelay::Start(std::string* error) {
  std::lock_guard lock(impl_->lifecycleMutex);
  Impl& impl = *impl_;
  const auto fail = [&](std::string reason) {
    impl.CloseAll();
    if (error != nullptr) *error = std::move(reason);
    return false;
  };
  if (impl.started) {
    if (error != nullptr) *error = "the pacing relay was already started";
    return false;
  }
  if (impl.byteTime.count() == 0) return fail("the pacing relay needs a baud rate above 0");
  for (PseudoTerminal& pty : impl.ptys) {
    std::string why;
    if (!OpenRawPseudoTerminal(true, pty, &why)) return fail(why);
  }
  impl.timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
  if (impl.timerFd < 0) return fail(ErrnoText("timerfd_create", errno));
  impl.wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (impl.wakeFd < 0) return fail(ErrnoText("eventfd", errno));
  impl.slavePaths = {impl.ptys[0].slavePath, impl.ptys[1].slavePath};
  try {
    impl.thread = std::thread([&impl] { impl.Run(); });
  } catch (const std::system_error& e) {
    impl.slavePaths = {};
    return fail(std::string("starting the relay thread: ") + e.what());
  }
  impl.started = true;
  return true;
}

const std::string& PacingRelay::SlavePath(End end) const {
  return impl_->slavePaths[end == End::A ? 0 : 1];
}

std::uint64_t PacingRelay::BytesDelivered(End from) const {
  return impl_->delivered[from == End::A ? 0 : 1].load(std::memory_order_acquire);
}

std::chrono::nanoseconds PacingRelay::FirstByteReadAt() const {
  return std::chrono::nanoseconds{impl_->firstReadAt.load(std::memory_order_relaxed)};
}

std::chrono::nanoseconds PacingRelay::LastByteDeliveredAt(End from) const {
  return std::chrono::nanoseconds{
      impl_->lastDeliveredAt[from == End::A ? 0 : 1].load(std::memory_order_relaxed)};
}

void PacingRelay::Stop() {
  std::lock_guard lock(impl_->lifecycleMutex);
  impl_->StopThread();
}

}  // namespace irdload::sim
