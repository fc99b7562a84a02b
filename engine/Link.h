// The units that travel on the serial line between the PC and the IRD: single command bytes,
// the 64-byte header and 1024-byte data packets with a 16-bit checksum.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace irdload {

/// Command bytes. PC-to-IRD and IRD-to-PC codes share one numbering.
enum Command : std::uint8_t {
  CMD_CONNECT_REQ = 0xE1,       // PC: connect request
  CMD_CONNECT_ACK = 0xE2,       // IRD: connect acknowledge
  CMD_HEADER_REQ = 0xE3,        // IRD: header request
  CMD_HEADER_ACK = 0xE4,        // IRD: header accepted
  CMD_HEADER_NACK = 0xE5,       // IRD: header rejected
  CMD_HEADER_ANSWER = 0xE6,     // PC: answer to 0xE4 and 0xE5
  CMD_DATA_REQ = 0xE7,          // IRD: send the next packet
  CMD_DATA_ACK = 0xE8,          // IRD: packet accepted
  CMD_DATA_NACK = 0xE9,         // IRD: packet rejected
  CMD_DATA_ANSWER = 0xEA,       // PC: answer to 0xE8 and 0xE9
  CMD_TERMINATE_OK = 0xEB,      // IRD: terminate request, success
  CMD_TERMINATE_FAIL = 0xEC,    // IRD: terminate request, failure
  CMD_TERMINATE_ANSWER = 0xED,  // PC: answer to 0xEB and 0xEC
  CMD_CONNECT_RE_ACK = 0xEF,    // PC: connect request re-acknowledge
};

inline constexpr std::size_t kHeaderSize = 64;
inline constexpr std::size_t kPacketSize = 1024;
inline constexpr std::size_t kChunkSize = 1021;
inline constexpr std::uint8_t kPacketType = 0x47;

/// Every byte received from the IRD is OR-ed with 0x20 before it is shown or compared.
constexpr std::uint8_t NormaliseReply(std::uint8_t received) {
  return static_cast<std::uint8_t>(received | 0x20);
}

// The header fields the IRD reads; the rest of the 64 bytes passes through unchanged.
inline constexpr std::uint32_t kImageMagic = 0x04212500;
inline constexpr std::size_t kMagicOffset = 0;
inline constexpr std::size_t kTypeOffset = 20;
inline constexpr std::size_t kSizeOffset = 28;

// Type codes at kTypeOffset: which file of an upgrade this is.
inline constexpr std::uint32_t kTypeFirstOfPair = 0xFFEEFFAA;
inline constexpr std::uint32_t kTypeSecondOfPair = 0xFFEEFFBB;
inline constexpr std::uint32_t kTypeSingle = 0xFFEEFFCC;

constexpr std::uint32_t ReadLe32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

constexpr void WriteLe32(std::uint8_t* p, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

using DataPacket = std::array<std::uint8_t, kPacketSize>;

/// Index of the last packet for a payload: payloadSize / 1021. Counted in 32 bits, so that a
/// payload of 65536 chunks or more is never cut short by a wrapped count.
constexpr std::uint32_t LastPacketIndex(std::uint32_t payloadSize) {
  return payloadSize / static_cast<std::uint32_t>(kChunkSize);
}

/// Number of payload bytes packet k carries (0 for the all-fill last packet of an exact multiple).
std::size_t ChunkLength(std::uint32_t payloadSize, std::uint32_t k);

/// Sum modulo 65536 of the 1021 chunk bytes (offsets 1..1021) of a packet.
std::uint16_t PacketChecksum(const DataPacket& packet);

/// Fills `packet` with packet number k (0 <= k <= LastPacketIndex(payloadSize)): type byte 0x47,
/// the chunk zero-filled to 1021 bytes, and the checksum high byte first.
void BuildDataPacket(DataPacket& packet, const std::uint8_t* payload, std::uint32_t payloadSize,
                     std::uint32_t lastPacketIndex, std::uint32_t k);

}  // namespace irdload
