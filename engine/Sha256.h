// SHA-256 of what was loaded and sent, for the checks and records that must name an image
// exactly.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace irdload {

using Sha256Digest = std::array<std::uint8_t, 32>;

class Sha256 {
 public:
  Sha256();
  void Update(const std::uint8_t* data, std::size_t length);
  Sha256Digest Final();

 private:
  void Block(const std::uint8_t* block);

  std::array<std::uint32_t, 8> h_;
  std::array<std::uint8_t, 64> buffer_{};
  std::size_t buffered_ = 0;
  std::uint64_t totalBytes_ = 0;
};

Sha256Digest Sha256Of(const std::uint8_t* data, std::size_t length);
/// Lower-case hex, 64 characters.
std::string ToHex(const Sha256Digest& digest);

}  // namespace irdload
