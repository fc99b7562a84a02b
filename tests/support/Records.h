// Upgrade images written for a test, and the records a report folder holds, read back.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/Image.h"
#include "engine/ImageWriter.h"
#include "engine/Sha256.h"
#include "support/Json.h"

namespace irdload::test {

/// A single-file image in `folder`, and its SHA-256 as the records give it.
struct TestImage {
  std::string path;
  std::string sha256;
};

inline TestImage WriteImage(const std::filesystem::path& folder, std::size_t size,
                            std::uint32_t seed = 1) {
  const std::vector<std::uint8_t> bytes = ComposeImage(kTypeSingle, PatternPayload(size, seed));
  TestImage image{(folder / ("fw" + std::to_string(seed) + ".uuc")).string(),
                  ToHex(Sha256Of(bytes.data(), bytes.size()))};
  std::ofstream(image.path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return image;
}

/// Every record in a report folder, parsed.
inline std::vector<JsonValue> ReadRecords(const std::filesystem::path& folder) {
  std::vector<JsonValue> records;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    if (e.path().extension() != ".json") continue;
    std::ifstream in(e.path());
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (auto v = JsonParser(text).Parse()) records.push_back(std::move(*v));
  }
  return records;
}

inline std::size_t CsvLines(const std::filesystem::path& folder) {
  std::ifstream in(folder / "units.csv");
  std::size_t n = 0;
  for (std::string line; std::getline(in, line);) ++n;
  return n;
}

}  // namespace irdload::test
