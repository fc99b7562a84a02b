// The scripted faults of one session, looked up by kind and count, and the seeded choices
// that go with them (noise bytes, which packet byte to flip).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/VirtualIrd.h"

namespace irdload::sim {

class FaultPlan {
 public:
  FaultPlan(std::vector<Fault> faults, std::uint64_t seed);

  // The first fault of `kind` scheduled at count `at`, or nullptr.
  const Fault* Find(FaultKind kind, std::uint32_t at) const;
  bool Has(FaultKind kind) const;

  // True when a SilentFrom fault covers reply byte `replyIndex`.
  bool SilentAt(std::uint32_t replyIndex) const;

  // Noise byte `i` of the garbage sent before reply byte `at`. Never a byte that the PC
  // would normalise into a command (0xE1..0xEF after OR 0x20).
  std::uint8_t GarbageByte(std::uint32_t at, std::uint32_t i) const;

  struct ByteFlip {
    std::size_t position;  // 1..1023: the type byte stays, so the checksum test must catch it
    std::uint8_t mask;     // nonzero, so the byte really changes
  };
  ByteFlip PacketFlip(std::uint32_t at) const;

 private:
  std::uint64_t Draw(FaultKind kind, std::uint32_t at, std::uint64_t salt) const;

  std::vector<Fault> faults_;
  std::uint64_t seed_;
};

}  // namespace irdload::sim
