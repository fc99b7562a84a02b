// A virtual IRD: the receiver's side of the download protocol, run on a thread behind a
// pseudo-terminal so that the PC side can be tested, measured and shown without a receiver.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/Link.h"

namespace irdload::sim {

/// Scripted misbehaviour of the IRD. "Reply byte n" counts, from 0, every reply byte the IRD
/// sends in the session (a dropped byte counts, inserted garbage does not); "header n" and
/// "packet n" count every reception over the session, resends included.
enum class FaultKind {
  NackHeader,         ///< header `at` is answered 0xE5 and not stored
  NackPacket,         ///< packet `at` is answered 0xE9 and not stored
  DropReply,          ///< reply byte `at` is never sent (the IRD goes on as if it had been)
  CorruptReply,       ///< reply byte `at` is replaced by the low 8 bits of `value`
  ClearBit20,         ///< reply byte `at` is sent with bit 0x20 cleared
  Garbage,            ///< `value` noise bytes go out before reply byte `at`
  SilentFrom,         ///< from reply byte `at` on the IRD sends nothing and ignores all input
  FailTerminate,      ///< every file ends with 0xEC instead of 0xEB (`at` unused)
  CorruptPacketByte,  ///< packet `at` gets one byte (1..1023) flipped as if on the line
  DelayReply,         ///< reply byte `at` goes out `delay` late
  HangUpAt,           ///< before reply byte `at` the IRD closes the line and stops
  LoseAnswer,         ///< the PC's first byte after reply byte `at` is lost on the line
  LosePcByte,         ///< byte `at` from the PC (counted from 0 over the session) is lost
  StallPc,            ///< once reply byte `at` has reached it, the PC is stalled for `delay`
};

/// Short English name of a fault kind, e.g. "NackHeader".
std::string_view FaultKindName(FaultKind kind);

struct Fault {
  FaultKind kind;
  std::uint32_t at = 0;
  std::uint32_t value = 0;             ///< the byte (CorruptReply) or count (Garbage)
  std::chrono::microseconds delay{0};  ///< DelayReply
};

/// One file as the IRD received it.
struct ReceivedFile {
  std::array<std::uint8_t, kHeaderSize> header{};  ///< the accepted header; all zero until one is
  /// Reassembled payload: grows as packets are accepted and holds exactly the header's payload
  /// size once the last packet carrying data is in.
  std::vector<std::uint8_t> payload;
  /// payload size / 1021 + 1 once a header is accepted (rounded up instead with
  /// Options::skipsPaddingPacket)
  std::uint32_t packetsExpected = 0;
  std::uint32_t packetsAccepted = 0;
  std::uint32_t packetsRejected = 0;
  std::uint32_t headersRejected = 0;
  bool terminated = false;        ///< the PC answered the terminate request (0xED)
  bool successTerminate = false;  ///< the terminate request was 0xEB rather than 0xEC
  /// The PC answered the success terminate by chaining the pair's second file (a new 0xE1).
  bool chainedToNext = false;
};

/// Each direction's wire log keeps at most this many bytes.
inline constexpr std::size_t kWireLogCapBytes = std::size_t{4} * 1024 * 1024;

/// One byte the IRD put on the line and the PC's reaction to it (Options::recordTiming).
/// Instants are CLOCK_MONOTONIC readings, as the time since that clock's origin.
struct ReplyTiming {
  std::uint8_t byte = 0;                     ///< as put on the line, after any fault
  std::chrono::nanoseconds writtenAt{0};     ///< when it went into the line (write() returned)
  std::chrono::nanoseconds answerReadAt{0};  ///< when the PC's next bytes were read; 0: none yet
};

/// Timestamps for measuring the PC side (Options::recordTiming); all zero when not recorded.
struct LineTiming {
  /// When the session's first connect request (0xE1) began to arrive: the start of its line time
  /// on a paced line, the moment it was read otherwise.
  std::chrono::nanoseconds firstConnectRequestAt{0};
  /// When the latest terminate answer (0xED right after 0xEB or 0xEC) had fully arrived.
  std::chrono::nanoseconds lastTerminateAnswerAt{0};
  /// Every byte put on the line to the PC, in order, garbage included.
  std::vector<ReplyTiming> replies;
};

/// A snapshot of what the IRD has seen and done so far.
struct Report {
  /// One entry per file, in order, from the PC's connect re-acknowledge (0xEF) on.
  std::vector<ReceivedFile> files;
  std::uint64_t unexpectedBytes = 0;  ///< bytes that arrived when the IRD waited for another
  std::vector<std::uint8_t> fromPc;   ///< bytes as the PC wrote them, before line faults
  std::vector<std::uint8_t> toPc;     ///< bytes the IRD put on the line, garbage included
  bool fromPcTruncated = false;       ///< fromPc reached kWireLogCapBytes and stopped growing
  bool toPcTruncated = false;         ///< toPc reached kWireLogCapBytes and stopped growing
  std::map<FaultKind, std::uint32_t> faultsInjected;  ///< how often each fault took effect
  std::uint64_t repeatsSent = 0;  ///< replies sent again after a silence (Options::repeatAfter)
  bool lineGone = false;          ///< the IRD closed its end (HangUp or a HangUpAt fault)
  LineTiming timing;              ///< filled only with Options::recordTiming
};

/// The IRD on the master side of a fresh pseudo-terminal; the PC opens SlavePath().
/// All public calls may be made from any thread; the receiving thread runs from Start() until
/// destruction, HangUp() or a HangUpAt fault.
class VirtualIrd {
 public:
  struct Options {
    std::uint32_t baud = 0;  ///< line speed for pacing; 0 = bytes move as fast as the pty allows
    std::chrono::microseconds replyLatency{0};  ///< the IRD's turnaround before each reply
    /// A reply the PC leaves unanswered this long is sent again, as many receivers do; 0: never.
    std::chrono::microseconds repeatAfter{0};
    /// Bytes to the PC wait for the next tick of a timer of this period, as a USB adapter's
    /// latency timer holds them (1 ms, or 16 ms by default on FTDI chips); 0: not held.
    std::chrono::microseconds holdTick{0};
    /// The PC's process, for StallPc faults (SIGSTOP, then SIGCONT); 0: StallPc does nothing.
    /// SetPcProcess gives it later, for a PC started after the IRD.
    int pcProcess = 0;
    /// The IRD counts packets by payload bytes and never asks for a last packet that would
    /// carry none.
    bool skipsPaddingPacket = false;
    std::vector<Fault> faults{};
    std::uint64_t seed = 1;  ///< drives every fault detail that is not given (garbage, positions)
    /// Hold the slave open for the simulator's life, so the PC may close and reopen the port
    /// without the master side seeing a hang-up.
    bool keepSlaveOpen = true;
    /// Fill Report::timing. Costs a clock read per read and per byte written, which the
    /// unpaced line otherwise avoids, and a record per byte written.
    bool recordTiming = false;
  };

  explicit VirtualIrd(Options options);
  /// Stops and joins the thread and closes every descriptor.
  ~VirtualIrd();

  VirtualIrd(const VirtualIrd&) = delete;
  VirtualIrd& operator=(const VirtualIrd&) = delete;

  /// Opens the pseudo-terminal, puts both ends into raw mode and starts the thread.
  /// False with the reason (call and errno text) in `error` when any step fails.
  bool Start(std::string* error);

  /// Path of the slave device for the PC side; empty before a successful Start().
  const std::string& SlavePath() const;

  /// Unplugs the line: stops the thread and closes the master and the held slave, so the PC's
  /// descriptor sees POLLHUP and EIO. The report stays readable.
  void HangUp();

  Report GetReport() const;

  /// The PC's process for StallPc faults, when it was started after the IRD.
  void SetPcProcess(int pid);

  /// Waits until at least `n` files are terminated; false on timeout or when the IRD stopped
  /// (line gone) short of that.
  bool WaitForTerminatedFiles(std::size_t n, std::chrono::milliseconds timeout) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace irdload::sim
