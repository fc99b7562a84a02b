#include "sim/FaultPlan.h"

#include <algorithm>
#include <utility>

#include "engine/Link.h"

namespace irdload::sim {
namespace {

// SplitMix64: a cheap, well-mixed step, so each choice depends only on (seed, kind, at, salt)
// and not on the order in which faults happen to fire.
std::uint64_t Mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

bool LooksLikeCommand(std::uint8_t byte) {
  const std::uint8_t normalised = NormaliseReply(byte);
  return normalised >= CMD_CONNECT_REQ && normalised <= CMD_CONNECT_RE_ACK;
}

}  // namespace

FaultPlan::FaultPlan(std::vector<Fault> faults, std::uint64_t seed)
    : faults_(std::move(faults)), seed_(seed) {}

const Fault* FaultPlan::Find(FaultKind kind, std::uint32_t at) const {
  const auto it = std::find_if(faults_.begin(), faults_.end(), [&](const Fault& fault) {
    return fault.kind == kind && fault.at == at;
  });
  return it == faults_.end() ? nullptr : &*it;
}

bool FaultPlan::Has(FaultKind kind) const {
  return std::any_of(faults_.begin(), faults_.end(),
                     [&](const Fault& fault) { return fault.kind == kind; });
}

bool FaultPlan::SilentAt(std::uint32_t replyIndex) const {
  return std::any_of(faults_.begin(), faults_.end(), [&](const Fault& fault) {
    return fault.kind == FaultKind::SilentFrom && fault.at <= replyIndex;
  });
}

std::uint8_t FaultPlan::GarbageByte(std::uint32_t at, std::uint32_t i) const {
  // 15 of 256 values are excluded, so a few redraws at most.
  for (std::uint64_t attempt = 0;; ++attempt) {
    const auto byte =
        static_cast<std::uint8_t>(Draw(FaultKind::Garbage, at, (std::uint64_t{i} << 16) | attempt));
    if (!LooksLikeCommand(byte)) return byte;
  }
}

FaultPlan::ByteFlip FaultPlan::PacketFlip(std::uint32_t at) const {
  const std::uint64_t position = Draw(FaultKind::CorruptPacketByte, at, 0);
  const std::uint64_t mask = Draw(FaultKind::CorruptPacketByte, at, 1);
  return ByteFlip{1 + static_cast<std::size_t>(position % (kPacketSize - 1)),
                  static_cast<std::uint8_t>(1 + mask % 255)};
}

std::uint64_t FaultPlan::Draw(FaultKind kind, std::uint32_t at, std::uint64_t salt) const {
  std::uint64_t h = Mix(seed_);
  h = Mix(h ^ static_cast<std::uint64_t>(kind));
  h = Mix(h ^ at);
  return Mix(h ^ salt);
}

}  // namespace irdload::sim
