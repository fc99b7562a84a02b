#include "engine/ImageWriter.h"

#include "engine/Image.h"

namespace irdload {

std::vector<std::uint8_t> ComposeImage(std::uint32_t typeCode,
                                       const std::vector<std::uint8_t>& payload) {
  std::vector<std::uint8_t> file(kHeaderSize + payload.size());
  for (std::size_t i = 0; i < kHeaderSize; ++i) file[i] = static_cast<std::uint8_t>(0xA0 + i);
  WriteLe32(file.data() + kMagicOffset, kImageMagic);
  WriteLe32(file.data() + kTypeOffset, typeCode);
  WriteLe32(file.data() + kSizeOffset, static_cast<std::uint32_t>(payload.size()));
  std::copy(payload.begin(), payload.end(), file.begin() + kHeaderSize);
  return file;
}

std::vector<std::uint8_t> PatternPayload(std::size_t size, std::uint32_t seed) {
  std::vector<std::uint8_t> out(size);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& b : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<std::uint8_t>(x);
  }
  return out;
}

}  // namespace irdload
