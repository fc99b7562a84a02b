#include "engine/Link.h"

#include <algorithm>
#include <cstring>

namespace irdload {

std::size_t ChunkLength(std::uint32_t payloadSize, std::uint32_t k) {
  const std::uint64_t start = std::uint64_t{k} * kChunkSize;
  if (start >= payloadSize) return 0;
  return static_cast<std::size_t>(std::min<std::uint64_t>(kChunkSize, payloadSize - start));
}

std::uint16_t PacketChecksum(const DataPacket& packet) {
  std::uint32_t sum = 0;
  for (std::size_t i = 1; i <= kChunkSize; ++i) sum += packet[i];
  return static_cast<std::uint16_t>(sum & 0xFFFF);
}

void BuildDataPacket(DataPacket& packet, const std::uint8_t* payload, std::uint32_t payloadSize,
                     std::uint32_t lastPacketIndex, std::uint32_t k) {
  packet.fill(0);
  packet[0] = kPacketType;
  (void)lastPacketIndex;  // the chunk length follows from the size alone
  // ChunkLength bounds the copy by the payload, so no k can read past its end.
  const std::size_t n = ChunkLength(payloadSize, k);
  if (n > 0) std::memcpy(packet.data() + 1, payload + std::size_t{k} * kChunkSize, n);
  const std::uint16_t sum = PacketChecksum(packet);
  packet[kPacketSize - 2] = static_cast<std::uint8_t>(sum >> 8);
  packet[kPacketSize - 1] = static_cast<std::uint8_t>(sum & 0xFF);
}

}  // namespace irdload
