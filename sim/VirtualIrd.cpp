#include "sim/VirtualIrd.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "sim/FaultPlan.h"
#include "sim/IrdSession.h"
#include "sim/LineClock.h"
#include "sim/PseudoTerminal.h"
#include "sim/ReportStore.h"

namespace irdload::sim {
namespace {

// How long to wait before looking again when no slave is open (the PC is between close and
// reopen): long enough not to spin, short enough to miss nothing the PC sends next.
constexpr std::chrono::milliseconds kNoSlaveRetry{1};
// How long a full output queue is waited on before a stop is looked at again.
constexpr int kFullQueueWaitMs = 5;
constexpr std::size_t kReadChunkBytes = 4096;
// Pacing sleeps are a few tens of microseconds; the default 50 us timer slack would swamp them.
constexpr unsigned long kTimerSlackNs = 1000;

}  // namespace

std::string_view FaultKindName(FaultKind kind) {
  switch (kind) {
    case FaultKind::NackHeader:
      return "NackHeader";
    case FaultKind::NackPacket:
      return "NackPacket";
    case FaultKind::DropReply:
      return "DropReply";
    case FaultKind::CorruptReply:
      return "CorruptReply";
    case FaultKind::ClearBit20:
      return "ClearBit20";
    case FaultKind::Garbage:
      return "Garbage";
    case FaultKind::SilentFrom:
      return "SilentFrom";
    case FaultKind::FailTerminate:
      return "FailTerminate";
    case FaultKind::CorruptPacketByte:
      return "CorruptPacketByte";
    case FaultKind::DelayReply:
      return "DelayReply";
    case FaultKind::HangUpAt:
      return "HangUpAt";
    case FaultKind::LoseAnswer:
      return "LoseAnswer";
    case FaultKind::LosePcByte:
      return "LosePcByte";
    case FaultKind::StallPc:
      return "StallPc";
  }
  return "Unknown";
}

struct VirtualIrd::Impl {
  explicit Impl(Options opts)
      : options(std::move(opts)),
        plan(options.faults, options.seed),
        session(SessionOptions{options.baud, options.replyLatency, options.repeatAfter,
                               options.holdTick, options.recordTiming, options.skipsPaddingPacket},
                plan, store),
        pcProcess(options.pcProcess) {}

  void Run();
  // Carries out what is due; false once the line is closed or a stop cut a write short.
  bool Carry(const std::vector<LineAction>& actions);
  bool WriteToMaster(std::uint8_t byte);
  void ResumePc();
  void CloseLine();
  void StopThread();
  void SleepBeforeRetry() { SleepUntil(MonotonicNow() + kNoSlaveRetry, wakeFd, stopRequested); }

  const Options options;
  ReportStore store;
  FaultPlan plan;

  // Start, HangUp and destruction may come from different threads.
  std::mutex lifecycleMutex;
  bool started = false;
  std::thread thread;
  std::atomic<bool> stopRequested{false};
  int wakeFd = -1;
  // Written by Start before the thread exists; read-only afterwards.
  std::string slavePath;

  // The descriptors below and the state after them belong to the thread while it runs, and to
  // whoever joined it afterwards.
  int masterFd = -1;
  int keptSlaveFd = -1;
  IrdSession session;
  std::atomic<int> pcProcess;
  std::optional<MonotonicTime> pcStalledUntil;
  int pcStalled = 0;  // the process stopped, until pcStalledUntil
};

void VirtualIrd::Impl::Run() {
  const bool timed = options.baud > 0 || options.replyLatency.count() > 0 ||
                     options.repeatAfter.count() > 0 || options.holdTick.count() > 0;
  if (timed) prctl(PR_SET_TIMERSLACK, kTimerSlackNs, 0, 0, 0);
  std::array<std::uint8_t, kReadChunkBytes> buffer{};
  std::vector<LineAction> due;
  while (!stopRequested.load(std::memory_order_acquire)) {
    MonotonicTime now = MonotonicNow();
    due.clear();
    session.Advance(now, due);
    if (!Carry(due)) break;
    if (pcStalledUntil && now >= *pcStalledUntil) ResumePc();
    // Asleep on the descriptors until the next thing falls due: an idle IRD costs nothing.
    std::optional<MonotonicTime> next = session.NextDue();
    if (pcStalledUntil) next = next ? std::min(*next, *pcStalledUntil) : *pcStalledUntil;
    timespec left{};
    const timespec* timeout = nullptr;
    if (next) {
      now = MonotonicNow();
      left = ToTimespec(*next > now ? *next - now : MonotonicTime{0});
      timeout = &left;
    }
    std::array<pollfd, 2> fds{{{masterFd, POLLIN, 0}, {wakeFd, POLLIN, 0}}};
    const int ready = ppoll(fds.data(), fds.size(), timeout, nullptr);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || (fds[1].revents & POLLIN) != 0) continue;
    if ((fds[0].revents & POLLIN) != 0) {
      const ssize_t got = read(masterFd, buffer.data(), buffer.size());
      if (got > 0) {
        session.FromPc(buffer.data(), static_cast<std::size_t>(got), MonotonicNow());
        continue;
      }
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    }
    // POLLHUP without data or EIO: no slave is open at the moment.
    SleepBeforeRetry();
  }
  ResumePc();
  store.MarkStopped();
}

bool VirtualIrd::Impl::Carry(const std::vector<LineAction>& actions) {
  for (const LineAction& action : actions) {
    switch (action.kind) {
      case LineAction::Kind::Byte:
        if (!WriteToMaster(action.byte)) return false;
        break;
      case LineAction::Kind::HangUp:
        CloseLine();
        return false;
      case LineAction::Kind::Stall:
        if (const int pid = pcProcess.load(); pid > 0 && kill(pid, SIGSTOP) == 0) {
          pcStalled = pid;
          pcStalledUntil = MonotonicNow() + action.stall;
        }
        break;
    }
  }
  return true;
}

void VirtualIrd::Impl::ResumePc() {
  if (!pcStalledUntil) return;
  kill(pcStalled, SIGCONT);
  pcStalledUntil.reset();
}

bool VirtualIrd::Impl::WriteToMaster(std::uint8_t byte) {
  for (;;) {
    int err = 0;
    const bool went = store.PutAndLogToPc(
        byte,
        [&] {
          const ssize_t written = write(masterFd, &byte, 1);
          err = written < 0 ? errno : 0;
          return written == 1;
        },
        options.recordTiming);
    if (went) return true;
    if (err == EINTR) continue;
    if (err == EAGAIN) {
      // The PC is not reading and the queue is full: wait for room, but keep seeing a stop.
      std::array<pollfd, 2> fds{{{masterFd, POLLOUT, 0}, {wakeFd, POLLIN, 0}}};
      poll(fds.data(), fds.size(), kFullQueueWaitMs);
      if (stopRequested.load(std::memory_order_acquire)) return false;
      continue;
    }
    // Nobody at the other end: the byte is lost, as on a cable without a PC.
    return true;
  }
}

void VirtualIrd::Impl::CloseLine() {
  // Under the report's lock, so that a PC that has seen the hang-up finds it reported.
  store.Update([this](Report& report) {
    CloseAndReset(masterFd);
    CloseAndReset(keptSlaveFd);
    report.lineGone = true;
  });
}

void VirtualIrd::Impl::StopThread() {
  if (!thread.joinable()) return;
  stopRequested.store(true, std::memory_order_release);
  const std::uint64_t one = 1;
  while (write(wakeFd, &one, sizeof one) < 0 && errno == EINTR) {
  }
  thread.join();
}

VirtualIrd::VirtualIrd(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

VirtualIrd::~VirtualIrd() {
  std::lock_guard lock(impl_->lifecycleMutex);
  impl_->StopThread();
  CloseAndReset(impl_->masterFd);
  CloseAndReset(impl_->keptSlaveFd);
  CloseAndReset(impl_->wakeFd);
}

bool VirtualIrd::Start(std::string* error) {
  std::lock_guard lock(impl_->lifecycleMutex);
  Impl& impl = *impl_;
  if (impl.started) {
    // A running thread owns the descriptors: leave them alone.
    if (error != nullptr) *error = "the virtual IRD was already started";
    return false;
  }
  const auto fail = [&](std::string reason) {
    CloseAndReset(impl.masterFd);
    CloseAndReset(impl.keptSlaveFd);
    CloseAndReset(impl.wakeFd);
    if (error != nullptr) *error = std::move(reason);
    return false;
  };
  PseudoTerminal pty;
  if (!OpenRawPseudoTerminal(impl.options.keepSlaveOpen, pty, error)) return false;
  impl.masterFd = pty.master;
  impl.keptSlaveFd = pty.slave;

  impl.wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (impl.wakeFd < 0) {
    const int err = errno;
    return fail("eventfd: " + std::generic_category().message(err) + " (errno " +
                std::to_string(err) + ")");
  }
  impl.slavePath = pty.slavePath;
  try {
    impl.thread = std::thread([&impl] { impl.Run(); });
  } catch (const std::system_error& e) {
    impl.slavePath.clear();
    return fail(std::string("starting the receiving thread: ") + e.what());
  }
  impl.started = true;
  return true;
}

const std::string& VirtualIrd::SlavePath() const {
  return impl_->slavePath;
}

void VirtualIrd::HangUp() {
  std::lock_guard lock(impl_->lifecycleMutex);
  if (!impl_->started) return;
  impl_->StopThread();
  impl_->CloseLine();
}

void VirtualIrd::SetPcProcess(int pid) {
  impl_->pcProcess.store(pid);
}

Report VirtualIrd::GetReport() const {
  return impl_->store.Snapshot();
}

bool VirtualIrd::WaitForTerminatedFiles(std::size_t n, std::chrono::milliseconds timeout) const {
  return impl_->store.WaitForTerminatedFiles(n, timeout);
}

}  // namespace irdload::sim
