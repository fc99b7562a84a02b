// A download on an in-process line: the protocol machine as the PC, doing what the engine's
// worker does around it (a bounded wait for each reply, stale bytes dropped before each write),
// and the virtual IRD's session as the IRD, on one thread with a virtual clock. The line runs at
// 115200 baud; every byte on it may have one bit flipped, both ways; the IRD may repeat replies,
// lose bytes, stall the PC or have its replies held like a USB adapter's; and it stores each
// packet it accepts in its own next slot, whatever the PC meant: so what the IRD ends up holding
// is what a real one would. Fast enough for hundreds of thousands of seeded downloads.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "engine/Image.h"
#include "engine/Link.h"
#include "engine/ProtocolMachine.h"
#include "sim/FaultPlan.h"
#include "sim/IrdSession.h"
#include "sim/LineClock.h"
#include "sim/ReportStore.h"

namespace irdload::test {

/// One scripted change on the line: `gap` bytes after the previous one (in both directions, in
/// the order they cross), the byte is XOR-ed with `mask`.
struct LineFlip {
  std::uint64_t gap;
  std::uint8_t mask;
};

struct ModelLineOptions {
  /// Each byte on the line has one random bit flipped with this probability, both directions.
  double bitErrorRate = 0.0;
  /// Instead of random errors: these changes, in order (for fuzzers).
  std::vector<LineFlip> flips;
  std::uint64_t seed = 1;
  /// Scripted IRD faults: its decisions (rejections), lost, late or changed replies, lost PC
  /// bytes, a stalled PC.
  std::vector<sim::Fault> irdFaults;
  /// The line's pace, the IRD's turnaround, its repeats and an adapter's hold.
  sim::SessionOptions timing{.baud = 115200};
  /// The PC's bound on each wait for a reply.
  std::chrono::milliseconds replyWait{50};
  MachineLimits limits{.retryLimit = 30, .rejectLimit = 50};
  /// Connect requests after which the PC gives up, as an operator (or --connect-timeout) would.
  std::uint32_t connectRequestLimit = 200;
};

/// How a run ended and what each side holds.
struct ModelRun {
  Outcome outcome;
  bool gaveUpCalling = false;  ///< the IRD never answered the connect request
  bool hung = false;           ///< the step bound ran out: a bug in the machine
  std::uint64_t bitsFlipped = 0;
  // What the changes hit, for telling a protocol limit from a fault of the PC.
  std::uint64_t changedHeadersAccepted = 0;  ///< headers the IRD accepted with a byte changed
  /// Packets the IRD accepted with two or more bytes changed (one change always shows in the
  /// sum; two or more may cancel).
  std::uint64_t changedPacketsAccepted = 0;
  std::uint64_t acceptsSeenAsRejects = 0;  ///< 0xE8 that reached the PC as 0xE9
  std::uint64_t rejectsSeenAsAccepts = 0;  ///< 0xE9 that reached the PC as 0xE8
  std::uint64_t repeatsAnswered = 0;       ///< replies the PC answered again
  std::uint64_t staleBytes = 0;            ///< bytes the PC dropped before a write
  std::chrono::nanoseconds took{0};        ///< on the virtual clock, first call to the end
  sim::Report ird;
};

/// Why an image the PC reported as loaded differs from the file, by what the line did.
enum class WrongImage {
  None,
  HeaderChanged,    ///< the header travels without a checksum: a flip that keeps the magic
  PacketMisplaced,  ///< a chunk stored in another chunk's slot (a repeat and a skip that cancel)
  PacketChanged,    ///< a chunk changed in a way its 16-bit sum does not show
};

inline const char* WrongImageName(WrongImage w) {
  switch (w) {
    case WrongImage::None:
      return "none";
    case WrongImage::HeaderChanged:
      return "header changed (no checksum on the header)";
    case WrongImage::PacketMisplaced:
      return "packet in the wrong slot (repeat and skip cancel)";
    case WrongImage::PacketChanged:
      return "packet changed, 16-bit sum unchanged";
  }
  return "?";
}

/// What the IRD holds against the file: None when it holds exactly the file.
inline WrongImage Compare(const sim::Report& ird, const std::vector<std::uint8_t>& file) {
  if (ird.files.size() != 1) return WrongImage::PacketMisplaced;
  const sim::ReceivedFile& got = ird.files[0];
  if (!std::equal(got.header.begin(), got.header.end(), file.begin())) {
    return WrongImage::HeaderChanged;
  }
  const std::vector<std::uint8_t> payload(file.begin() + kHeaderSize, file.end());
  if (got.payload == payload) return WrongImage::None;
  // A chunk that stands elsewhere in the file was put in the wrong slot; any other was changed.
  const auto size = static_cast<std::uint32_t>(payload.size());
  for (std::uint32_t k = 0; std::size_t{k} * kChunkSize < got.payload.size(); ++k) {
    const std::size_t at = std::size_t{k} * kChunkSize;
    const std::size_t n = std::min<std::size_t>(kChunkSize, got.payload.size() - at);
    if (at + n <= payload.size() &&
        std::equal(got.payload.begin() + at, got.payload.begin() + at + n, payload.begin() + at)) {
      continue;
    }
    for (std::uint32_t j = 0; j <= LastPacketIndex(size); ++j) {
      const std::size_t from = std::size_t{j} * kChunkSize;
      if (j != k && from + n <= payload.size() &&
          std::equal(got.payload.begin() + at, got.payload.begin() + at + n,
                     payload.begin() + from)) {
        return WrongImage::PacketMisplaced;
      }
    }
    return WrongImage::PacketChanged;
  }
  return WrongImage::PacketMisplaced;  // same chunks, different length
}

/// True when what the line did explains a wrong image, so that the protocol, not the PC, let it
/// through: a header byte changed (it has no checksum), two or more bytes changed on the way to
/// the IRD (a 16-bit sum misses some pairs), or an acceptance and a rejection each heard as the
/// other (a repeated packet and a skipped one leave the count right).
inline bool Explained(WrongImage wrong, const ModelRun& run) {
  switch (wrong) {
    case WrongImage::None:
      return true;
    case WrongImage::HeaderChanged:
      return run.changedHeadersAccepted > 0;
    case WrongImage::PacketChanged:
      return run.changedPacketsAccepted > 0;
    case WrongImage::PacketMisplaced:
      return run.acceptsSeenAsRejects > 0 && run.rejectsSeenAsAccepts > 0;
  }
  return false;
}

class ModelLine {
 public:
  using Time = std::chrono::nanoseconds;

  explicit ModelLine(const ModelLineOptions& options)
      : options_(options),
        plan_(options.irdFaults, options.seed),
        session_(options.timing, plan_, store_),
        byteTime_(sim::ByteLineTime(options.timing.baud)),
        rng_(options.seed),
        gap_(options.bitErrorRate > 0 ? options.bitErrorRate : 1.0) {
    DrawGap();
  }

  /// Sends one single-file image through the line.
  ModelRun Run(const std::vector<std::uint8_t>& file) {
    ModelRun run;
    MemoryUpgradeFile source(file);
    ImageKind kind = IMAGE_NONE;
    UpgradeImage image;
    if (!LoadImage(source, kind, image).loads()) {
      run.outcome.kind = OutcomeKind::FileRefused;
      return run;
    }
    ProtocolMachine pc(options_.limits);
    pc.SetKind(kind);
    pc.Begin(image.lastPacketIndex, ChunkLength(image.payloadSize, image.lastPacketIndex) == 0);
    std::uint32_t connectRequests = 0;
    const Time start = now_;
    for (std::uint64_t step = 0;; ++step) {
      if (step > 50'000'000) {
        run.hung = true;
        run.outcome = pc.Finish();
        break;
      }
      const Action action = pc.Next();
      if (action.kind == Action::Kind::None) break;
      if (action.kind == Action::Kind::Finish) {
        run.outcome = pc.Finish();
        break;
      }
      if (pc.state().state == STATUS_SEND_CONNECT_REQ && !pc.state().answerAgain &&
          ++connectRequests > options_.connectRequestLimit) {
        run.gaveUpCalling = true;
        run.outcome = pc.Finish();
        break;
      }
      const StepReport report = pc.Step(Perform(action, image));
      if (report.repeat) ++repeatsAnswered_;
    }
    run.took = now_ - start;
    run.bitsFlipped = flips_;
    run.changedHeadersAccepted = changedHeadersAccepted_;
    run.changedPacketsAccepted = changedPacketsAccepted_;
    run.acceptsSeenAsRejects = acceptsSeenAsRejects_;
    run.rejectsSeenAsAccepts = rejectsSeenAsAccepts_;
    run.repeatsAnswered = repeatsAnswered_;
    run.staleBytes = staleBytes_;
    run.ird = store_.Snapshot();
    return run;
  }

 private:
  struct Heard {
    std::uint8_t byte;
    Time at;
  };

  // What the engine's worker does for each action, on the virtual clock.
  Input Perform(const Action& action, const UpgradeImage& image) {
    switch (action.kind) {
      case Action::Kind::SendCommand:
        Write(&action.byte, 1, action.byte != CMD_CONNECT_REQ);
        return Input::Of(Input::Kind::Sent);
      case Action::Kind::SendHeader:
        if (Write(image.header.data(), kHeaderSize, true) > 0 &&
            decisionAfterWrite_ == CMD_HEADER_ACK) {
          ++changedHeadersAccepted_;
        }
        return Input::Of(Input::Kind::Sent);
      case Action::Kind::SendPacket:
        BuildDataPacket(packet_, image.payload.get(), image.payloadSize, image.lastPacketIndex,
                        action.packet);
        if (Write(packet_.data(), kPacketSize, true) > 1 && decisionAfterWrite_ == CMD_DATA_ACK) {
          ++changedPacketsAccepted_;
        }
        return Input::Of(Input::Kind::Sent);
      case Action::Kind::AwaitReply:
        return Await();
      default:
        return Input::Of(Input::Kind::SecondFileRefused);
    }
  }

  // The PC writes: after a stall, with what waits dropped first (unless it is a connect request,
  // which answers nothing), and the write returns once the bytes have left. Returns how many
  // bytes the line changed on the way to the IRD.
  std::size_t Write(const std::uint8_t* data, std::size_t length, bool dropStale) {
    now_ = std::max(now_, stalledUntil_);
    if (dropStale) {
      Pull(now_);
      while (!toPc_.empty() && toPc_.front().at <= now_) {
        toPc_.pop_front();
        ++staleBytes_;
      }
    }
    std::size_t changed = 0;
    onTheWire_.assign(data, data + length);
    for (std::uint8_t& byte : onTheWire_) {
      const std::uint8_t arrived = OnTheLine(byte);
      if (arrived != byte) ++changed;
      byte = arrived;
    }
    const std::uint64_t decisionsBefore = session_.decisions();
    const std::uint64_t lostBefore = session_.pcBytesLost();
    session_.FromPc(onTheWire_.data(), onTheWire_.size(), now_);
    // A byte lost shifts the rest of the unit: as good as two or more changed.
    if (session_.pcBytesLost() != lostBefore) changed += 2;
    decisionAfterWrite_ = session_.decisions() != decisionsBefore ? session_.lastDecision() : 0;
    now_ += byteTime_ * static_cast<std::int64_t>(length);
    return changed;
  }

  // ReadByte: the first reply byte that reaches the PC within the bound, else nothing.
  Input Await() {
    const Time deadline = now_ + options_.replyWait;
    for (;;) {
      if (!toPc_.empty() && toPc_.front().at <= deadline) {
        const Heard heard = toPc_.front();
        toPc_.pop_front();
        now_ = std::max(now_, heard.at);
        return Input::Reply(heard.byte);
      }
      const std::optional<Time> next = session_.NextDue();
      if (!next || *next > deadline) {
        Pull(deadline);
        if (!toPc_.empty() && toPc_.front().at <= deadline) continue;
        now_ = deadline;
        return Input::Of(session_.hungUp() ? Input::Kind::LineLost : Input::Kind::NoReply);
      }
      Pull(*next);
    }
  }

  // Takes what the IRD's side has put on the line by `until`, through the line's bit errors.
  void Pull(Time until) {
    due_.clear();
    session_.Advance(until, due_);
    for (const sim::LineAction& a : due_) {
      switch (a.kind) {
        case sim::LineAction::Kind::Byte: {
          const std::uint8_t heard = OnTheLine(a.byte);
          if (NormaliseReply(a.byte) == CMD_DATA_ACK && NormaliseReply(heard) == CMD_DATA_NACK) {
            ++acceptsSeenAsRejects_;
          }
          if (NormaliseReply(a.byte) == CMD_DATA_NACK && NormaliseReply(heard) == CMD_DATA_ACK) {
            ++rejectsSeenAsAccepts_;
          }
          toPc_.push_back({heard, a.at});
          break;
        }
        case sim::LineAction::Kind::Stall:
          stalledUntil_ = std::max(stalledUntil_, a.at + a.stall);
          break;
        case sim::LineAction::Kind::HangUp:
          break;
      }
    }
  }

  // Bytes between flips follow a geometric law: one draw per flip, not one per byte.
  std::uint8_t OnTheLine(std::uint8_t byte) {
    if (options_.bitErrorRate <= 0 && nextScripted_ >= options_.flips.size()) return byte;
    if (untilFlip_ > 0) {
      --untilFlip_;
      return byte;
    }
    std::uint8_t mask;
    if (options_.bitErrorRate > 0) {
      mask = static_cast<std::uint8_t>(1u << (rng_() % 8));
    } else {
      mask = options_.flips[nextScripted_++].mask;
    }
    DrawGap();
    ++flips_;
    return static_cast<std::uint8_t>(byte ^ mask);
  }

  void DrawGap() {
    if (options_.bitErrorRate > 0) {
      untilFlip_ = gap_(rng_);
    } else if (nextScripted_ < options_.flips.size()) {
      untilFlip_ = options_.flips[nextScripted_].gap;
    }
  }

  ModelLineOptions options_;
  sim::FaultPlan plan_;
  sim::ReportStore store_;
  sim::IrdSession session_;
  const std::chrono::nanoseconds byteTime_;
  std::mt19937_64 rng_;
  std::geometric_distribution<std::uint64_t> gap_;
  std::uint64_t untilFlip_ = 0;
  std::size_t nextScripted_ = 0;
  std::uint64_t flips_ = 0;
  Time now_ = std::chrono::seconds{1};
  Time stalledUntil_{0};
  std::uint8_t decisionAfterWrite_ = 0;  // the IRD's answer to the unit just written, if any
  std::uint64_t changedHeadersAccepted_ = 0;
  std::uint64_t changedPacketsAccepted_ = 0;
  std::uint64_t acceptsSeenAsRejects_ = 0;
  std::uint64_t rejectsSeenAsAccepts_ = 0;
  std::uint64_t repeatsAnswered_ = 0;
  std::uint64_t staleBytes_ = 0;
  std::deque<Heard> toPc_;
  std::vector<sim::LineAction> due_;
  std::vector<std::uint8_t> onTheWire_;
  DataPacket packet_{};
};

}  // namespace irdload::test
