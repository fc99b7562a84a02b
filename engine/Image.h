// Upgrade files: a 64-byte header (magic, type code, payload size; little-endian) and the
// payload. Loading checks the header and takes the payload into memory.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>

#include "engine/Link.h"

namespace irdload {

class EngineHost;

enum ImageKind : int { IMAGE_NONE = 0, IMAGE_SINGLE = 1, IMAGE_FIRST = 2, IMAGE_SECOND = 3 };

inline constexpr std::uint32_t kTypeFirstOfPair = 0xFFEEFFAA;
inline constexpr std::uint32_t kTypeSecondOfPair = 0xFFEEFFBB;
inline constexpr std::uint32_t kTypeSingle = 0xFFEEFFCC;

using ImageHeader = std::array<std::uint8_t, kHeaderSize>;

/// The loaded image as the engine holds it.
struct UpgradeImage {
  ImageHeader header{};
  std::uint32_t payloadSize = 0;
  std::uint32_t lastPacketIndex = 0;
  std::unique_ptr<std::uint8_t[]> payload;
};

/// An upgrade file opened read-only, closed when the object goes.
class ImageFile {
 public:
  ImageFile() = default;
  ~ImageFile();
  ImageFile(ImageFile&& other) noexcept;
  ImageFile& operator=(ImageFile&& other) noexcept;

  /// Opens `path` read-only and unshared (an advisory lock keeps other cooperating programs
  /// out). Only regular files are taken: a directory, FIFO or device fails at once, with the
  /// reason in `error`.
  bool Open(const std::string& path, std::string* error);
  void Close();
  bool isOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

/// Estimated download time in whole seconds for a payload, from the tool's own formula.
std::uint64_t EstimateSeconds(std::uint32_t payloadSize, std::uint32_t lastPacketIndex);
/// "%02d:%02ld" of minutes and seconds; minutes are not limited to two digits.
std::string FormatMinutesSeconds(std::uint64_t seconds);

/// Loads an open upgrade file: header, magic, size against the file's length, kind by type
/// code, total-size and estimate fields, progress range, payload. On failure the operator has
/// been told through `host` and `image` is left as it was; `kind` may already have changed
/// (as the type code was applied). The file is closed either way.
bool LoadImage(ImageFile& file, ImageKind& kind, EngineHost& host, UpgradeImage& image,
               std::stop_token stop = {});

/// What LoadImage would decide, without any host: for inspection before a send.
struct ImageInspection {
  bool loads = false;
  std::string refusal;  // the message LoadImage would show
  ImageHeader header{};
  std::uint32_t typeCode = 0;
  std::uint32_t payloadSize = 0;
  std::uint64_t fileLength = 0;
  std::uint32_t lastPacketIndex = 0;
  ImageKind kindAfterLoad = IMAGE_NONE;
};
ImageInspection InspectImage(ImageFile& file, ImageKind kindBefore);

}  // namespace irdload
