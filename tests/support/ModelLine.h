// A download on an in-process line: the protocol machine as the PC, the virtual IRD's receiver
// as the IRD, one thread, no clock. Every byte on the line may have one bit flipped, both ways,
// and the IRD stores each packet it accepts in its own next slot, whatever the PC meant: so what
// the IRD ends up holding is what a real one would. Fast enough for hundreds of thousands of
// seeded downloads.
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
#include "sim/IrdReceiver.h"
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
  /// Scripted IRD faults (decisions such as rejections; line faults are the bit errors).
  std::vector<sim::Fault> irdFaults;
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
  explicit ModelLine(const ModelLineOptions& options)
      : options_(options),
        plan_(options.irdFaults, options.seed),
        receiver_(plan_, store_),
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
    pc.Begin(image.lastPacketIndex);
    std::uint32_t connectRequests = 0;
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
      if (pc.state().state == STATUS_SEND_CONNECT_REQ &&
          ++connectRequests > options_.connectRequestLimit) {
        run.gaveUpCalling = true;
        run.outcome = pc.Finish();
        break;
      }
      pc.Step(Perform(action, image));
    }
    run.bitsFlipped = flips_;
    run.changedHeadersAccepted = changedHeadersAccepted_;
    run.changedPacketsAccepted = changedPacketsAccepted_;
    run.acceptsSeenAsRejects = acceptsSeenAsRejects_;
    run.rejectsSeenAsAccepts = rejectsSeenAsAccepts_;
    run.ird = store_.Snapshot();
    return run;
  }

 private:
  Input Perform(const Action& action, const UpgradeImage& image) {
    switch (action.kind) {
      case Action::Kind::SendCommand:
        ToIrd(&action.byte, 1);
        return Input::Of(Input::Kind::Sent);
      case Action::Kind::SendHeader:
        if (ToIrd(image.header.data(), kHeaderSize) > 0 && lastDecision_ == CMD_HEADER_ACK) {
          ++changedHeadersAccepted_;
        }
        return Input::Of(Input::Kind::Sent);
      case Action::Kind::SendPacket:
        BuildDataPacket(packet_, image.payload.get(), image.payloadSize, image.lastPacketIndex,
                        action.packet);
        if (ToIrd(packet_.data(), kPacketSize) > 1 && lastDecision_ == CMD_DATA_ACK) {
          ++changedPacketsAccepted_;
        }
        return Input::Of(Input::Kind::Sent);
      case Action::Kind::AwaitReply: {
        if (toPc_.empty()) return Input::Of(Input::Kind::NoReply);
        const std::uint8_t byte = toPc_.front();
        toPc_.pop_front();
        return Input::Reply(byte);
      }
      default:
        return Input::Of(Input::Kind::SecondFileRefused);
    }
  }

  // Feeds the IRD; returns how many of the bytes the line changed.
  std::size_t ToIrd(const std::uint8_t* data, std::size_t length) {
    std::size_t changed = 0;
    lastDecision_ = 0;
    for (std::size_t i = 0; i < length; ++i) {
      const std::uint8_t arrived = OnTheLine(data[i]);
      if (arrived != data[i]) ++changed;
      if (const std::optional<std::uint8_t> reply = receiver_.Feed(arrived)) {
        lastDecision_ = *reply;
        const std::uint8_t heard = OnTheLine(*reply);
        if (*reply == CMD_DATA_ACK && NormaliseReply(heard) == CMD_DATA_NACK) {
          ++acceptsSeenAsRejects_;
        }
        if (*reply == CMD_DATA_NACK && NormaliseReply(heard) == CMD_DATA_ACK) {
          ++rejectsSeenAsAccepts_;
        }
        toPc_.push_back(heard);
      }
    }
    return changed;
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
  sim::IrdReceiver receiver_;
  std::mt19937_64 rng_;
  std::geometric_distribution<std::uint64_t> gap_;
  std::uint64_t untilFlip_ = 0;
  std::size_t nextScripted_ = 0;
  std::uint64_t flips_ = 0;
  std::uint8_t lastDecision_ = 0;  // the IRD's answer to the last unit, before the line
  std::uint64_t changedHeadersAccepted_ = 0;
  std::uint64_t changedPacketsAccepted_ = 0;
  std::uint64_t acceptsSeenAsRejects_ = 0;
  std::uint64_t rejectsSeenAsAccepts_ = 0;
  std::deque<std::uint8_t> toPc_;
  DataPacket packet_{};
};

}  // namespace irdload::test
