// Upgrade images written for a test, and the records a report folder holds, read back.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
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

/// A file's bytes; empty when it cannot be read.
inline std::string FileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

/// The names of the records (*.json) in `folder`, sorted; none when it is not there.
inline std::vector<std::string> RecordFileNames(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
    if (e.path().extension() == ".json") names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

/// Waits, at most `bound` (a minute: processes under sanitizers on a loaded machine are slow),
/// until `done` holds; whether it does.
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds bound = std::chrono::seconds(60)) {
  for (auto deadline = std::chrono::steady_clock::now() + bound;
       std::chrono::steady_clock::now() < deadline;) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return done();
}

inline std::size_t CsvLines(const std::filesystem::path& folder) {
  std::ifstream in(folder / "units.csv");
  std::size_t n = 0;
  for (std::string line; std::getline(in, line);) ++n;
  return n;
}

}  // namespace irdload::test
