#include "sim/VirtualIrd.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "sim/FaultPlan.h"
#include "sim/IrdReceiver.h"
#include "sim/LineClock.h"
#include "sim/PseudoTerminal.h"
#include "sim/ReportStore.h"

namespace irdload::sim {
namespace {

// Backstop for the wake-up descriptor; also how long a full output queue is waited on per pass.
constexpr int kPollIntervalMs = 5;
// How long to wait before looking again when no slave is open (the PC is between close and
// reopen): long enough not to spin, short enough to miss nothing the PC sends next.
constexpr std::chrono::milliseconds kNoSlaveRetry{1};
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
  }
  return "Unknown";
}

struct VirtualIrd::Impl {
  explicit Impl(Options opts)
      : options(std::move(opts)),
        plan(options.faults, options.seed),
        receiver(plan, store),
        paced(options.baud > 0),
        byteTime(ByteLineTime(options.baud)) {}

  void Run();
  bool HandleInput(const std::uint8_t* data, std::size_t len, MonotonicTime readAt);
  void NoteTimedByte(std::uint8_t byte, MonotonicTime lineStart, MonotonicTime arrived);
  bool SendReply(std::uint8_t reply, MonotonicTime triggerArrival);
  bool PutOnLine(std::uint8_t byte, MonotonicTime earliest);
  bool WriteToMaster(std::uint8_t byte);
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
  IrdReceiver receiver;
  const bool paced;
  const std::chrono::nanoseconds byteTime;
  MonotonicTime rxLineFreeAt{0};  // when the PC's latest byte has fully arrived
  MonotonicTime txLineFreeAt{0};  // when our latest byte has fully left
  std::uint32_t replyIndex = 0;
  std::uint8_t lastReplyDecided = 0;  // the receiver's latest answer, before faults; 0: none
  bool silent = false;
};

void VirtualIrd::Impl::Run() {
  if (paced || options.replyLatency.count() > 0) prctl(PR_SET_TIMERSLACK, kTimerSlackNs, 0, 0, 0);
  std::array<std::uint8_t, kReadChunkBytes> buffer{};
  while (!stopRequested.load(std::memory_order_acquire)) {
    std::array<pollfd, 2> fds{{{masterFd, POLLIN, 0}, {wakeFd, POLLIN, 0}}};
    const int ready = poll(fds.data(), fds.size(), kPollIntervalMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0 || (fds[1].revents & POLLIN) != 0) continue;
    if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
      const ssize_t got = read(masterFd, buffer.data(), buffer.size());
      if (got > 0) {
        const MonotonicTime readAt =
            paced || options.recordTiming ? MonotonicNow() : MonotonicTime{0};
        if (!HandleInput(buffer.data(), static_cast<std::size_t>(got), readAt)) break;
        continue;
      }
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    }
    // POLLHUP without data or EIO: no slave is open at the moment.
    SleepBeforeRetry();
  }
  store.MarkStopped();
}

bool VirtualIrd::Impl::HandleInput(const std::uint8_t* data, std::size_t len,
                                   MonotonicTime readAt) {
  store.AppendFromPc(data, len);
  if (options.recordTiming) store.NoteReadFromPc(readAt);
  for (std::size_t i = 0; i < len; ++i) {
    MonotonicTime lineStart = readAt;
    if (paced) {
      // A byte is there only once its line time has passed after the one before it.
      lineStart = std::max(rxLineFreeAt, readAt);
      rxLineFreeAt = lineStart + byteTime;
    }
    if (options.recordTiming) NoteTimedByte(data[i], lineStart, paced ? rxLineFreeAt : readAt);
    if (silent) continue;
    const std::optional<std::uint8_t> reply = receiver.Feed(data[i]);
    if (reply && !SendReply(*reply, rxLineFreeAt)) return false;
  }
  return true;
}

void VirtualIrd::Impl::NoteTimedByte(std::uint8_t byte, MonotonicTime lineStart,
                                     MonotonicTime arrived) {
  // Packet data may hold any value, so the commands are told apart by where they stand: the
  // connect request before any reply, the terminate answer right after a terminate request.
  if (byte == CMD_CONNECT_REQ && replyIndex == 0) store.NoteConnectRequest(lineStart);
  if (byte == CMD_TERMINATE_ANSWER &&
      (lastReplyDecided == CMD_TERMINATE_OK || lastReplyDecided == CMD_TERMINATE_FAIL)) {
    store.NoteTerminateAnswer(arrived);
    lastReplyDecided = 0;
  }
}

bool VirtualIrd::Impl::SendReply(std::uint8_t reply, MonotonicTime triggerArrival) {
  const std::uint32_t index = replyIndex++;
  lastReplyDecided = reply;
  if (plan.Find(FaultKind::HangUpAt, index) != nullptr) {
    store.CountFault(FaultKind::HangUpAt);
    CloseLine();
    return false;
  }
  if (plan.SilentAt(index)) {
    silent = true;
    store.CountFault(FaultKind::SilentFrom);
    return true;
  }

  // Zero means "at once", which keeps the unpaced path free of clock reads.
  MonotonicTime earliest = paced ? triggerArrival : MonotonicTime{0};
  if (options.replyLatency.count() > 0) {
    earliest = (paced ? triggerArrival : MonotonicNow()) + options.replyLatency;
  }
  if (const Fault* delay = plan.Find(FaultKind::DelayReply, index)) {
    store.CountFault(FaultKind::DelayReply);
    earliest = std::max(earliest, MonotonicNow()) + delay->delay;
  }
  if (const Fault* garbage = plan.Find(FaultKind::Garbage, index)) {
    store.CountFault(FaultKind::Garbage);
    for (std::uint32_t i = 0; i < garbage->value; ++i) {
      if (!PutOnLine(plan.GarbageByte(index, i), earliest)) return false;
    }
  }
  if (plan.Find(FaultKind::DropReply, index) != nullptr) {
    store.CountFault(FaultKind::DropReply);
    return true;
  }
  if (const Fault* corrupt = plan.Find(FaultKind::CorruptReply, index)) {
    store.CountFault(FaultKind::CorruptReply);
    reply = static_cast<std::uint8_t>(corrupt->value & 0xFF);
  }
  if (plan.Find(FaultKind::ClearBit20, index) != nullptr) {
    store.CountFault(FaultKind::ClearBit20);
    reply = static_cast<std::uint8_t>(reply & ~0x20);
  }
  return PutOnLine(reply, earliest);
}

bool VirtualIrd::Impl::PutOnLine(std::uint8_t byte, MonotonicTime earliest) {
  MonotonicTime due = earliest;
  if (paced) {
    // The byte reaches the PC only once its own line time is over.
    txLineFreeAt = std::max(txLineFreeAt, earliest) + byteTime;
    due = txLineFreeAt;
  }
  if (due.count() > 0 && !SleepUntil(due, wakeFd, stopRequested)) return false;
  return WriteToMaster(byte);
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
      poll(fds.data(), fds.size(), kPollIntervalMs);
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

Report VirtualIrd::GetReport() const {
  return impl_->store.Snapshot();
}

bool VirtualIrd::WaitForTerminatedFiles(std::size_t n, std::chrono::milliseconds timeout) const {
  return impl_->store.WaitForTerminatedFiles(n, timeout);
}

}  // namespace irdload::sim
