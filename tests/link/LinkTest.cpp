#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "engine/Link.h"

namespace irdload {
namespace {

DataPacket Build(const std::vector<std::uint8_t>& payload, std::uint32_t k) {
  DataPacket p;
  p.fill(0xAA);  // rebuilt from scratch: nothing of an earlier packet may survive
  const auto size = static_cast<std::uint32_t>(payload.size());
  BuildDataPacket(p, payload.data(), size, LastPacketIndex(size), k);
  return p;
}

TEST(LinkTest, ExactChunkPayloadEndsWithAnAllFillPacket) {
  std::vector<std::uint8_t> payload(1021);
  std::iota(payload.begin(), payload.end(), 0);
  ASSERT_EQ(LastPacketIndex(1021), 1u);

  const DataPacket first = Build(payload, 0);
  EXPECT_EQ(first[0], 0x47);
  EXPECT_TRUE(std::equal(payload.begin(), payload.end(), first.begin() + 1));
  const std::uint32_t sum = std::accumulate(payload.begin(), payload.end(), 0u) & 0xFFFF;
  EXPECT_EQ(first[1022], sum >> 8);
  EXPECT_EQ(first[1023], sum & 0xFF);

  const DataPacket last = Build(payload, 1);
  EXPECT_EQ(last[0], 0x47);
  EXPECT_TRUE(std::all_of(last.begin() + 1, last.end(), [](std::uint8_t b) { return b == 0; }));
}

TEST(LinkTest, OneBytePayloadIsZeroFilledWithItsChecksum) {
  const DataPacket p = Build({0xFF}, 0);
  EXPECT_EQ(p[0], 0x47);
  EXPECT_EQ(p[1], 0xFF);
  EXPECT_TRUE(std::all_of(p.begin() + 2, p.begin() + 1022, [](std::uint8_t b) { return b == 0; }));
  EXPECT_EQ(p[1022], 0x00);
  EXPECT_EQ(p[1023], 0xFF);
}

TEST(LinkTest, ChecksumWrapsModulo65536) {
  const std::vector<std::uint8_t> payload(2 * 1021, 0xFF);
  const DataPacket p = Build(payload, 0);
  EXPECT_EQ(PacketChecksum(p), 0xF903);  // 260355 mod 65536
  EXPECT_EQ(p[1022], 0xF9);
  EXPECT_EQ(p[1023], 0x03);
}

TEST(LinkTest, ShortLastPacketCarriesTheRemainder) {
  std::vector<std::uint8_t> payload(2500);
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 7);
  const DataPacket p = Build(payload, 2);
  EXPECT_TRUE(std::equal(payload.begin() + 2042, payload.end(), p.begin() + 1));
  EXPECT_TRUE(
      std::all_of(p.begin() + 1 + 458, p.begin() + 1022, [](std::uint8_t b) { return b == 0; }));
}

TEST(LinkTest, ChunkLengthsCoverThePayloadExactly) {
  struct Case {
    std::uint32_t size;
    std::uint32_t lastIndex;
    std::size_t lastChunk;
  };
  const Case cases[] = {
      {0, 0, 0},
      {1, 0, 1},
      {1020, 0, 1020},
      {1021, 1, 0},
      {1022, 1, 1},
      {65536u * 1021, 65536, 0},
      {65536u * 1021 + 5, 65536, 5},
      {0xFFFFFFFFu, 0xFFFFFFFFu / 1021, 0xFFFFFFFFu % 1021},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    EXPECT_EQ(LastPacketIndex(c.size), c.lastIndex);
    EXPECT_EQ(ChunkLength(c.size, c.lastIndex), c.lastChunk);
    std::uint64_t total = 0;
    if (c.lastIndex > 0) total += std::uint64_t{ChunkLength(c.size, 0)} * c.lastIndex;
    total += ChunkLength(c.size, c.lastIndex);
    EXPECT_EQ(total, c.size);
  }
}

TEST(LinkTest, RepliesAreNormalisedWithBit20) {
  EXPECT_EQ(NormaliseReply(0xC2), CMD_CONNECT_ACK);
  EXPECT_EQ(NormaliseReply(0xE2), CMD_CONNECT_ACK);
  EXPECT_EQ(NormaliseReply(0xCB), CMD_TERMINATE_OK);
  EXPECT_EQ(NormaliseReply(0x47), 0x67);
}

}  // namespace
}  // namespace irdload
