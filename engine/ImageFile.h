// An upgrade file opened for reading, behind a small interface so that the loader can be handed a
// file that fails the way disks and networks do.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace irdload {

class UpgradeFile {
 public:
  virtual ~UpgradeFile() = default;
  /// Up to `length` bytes from `offset`; fewer only at the end of the file or on a read error.
  virtual std::size_t ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) = 0;
  /// The file's length in bytes.
  virtual std::uint64_t Length() = 0;
};

/// A regular file opened read-only, closed when the object goes.
class ImageFile final : public UpgradeFile {
 public:
  ImageFile() = default;
  ~ImageFile() override;
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;

  /// Opens `path` read-only, kept from writers while open (an advisory lock on Linux, which
  /// keeps out cooperating programs; share mode read on Windows). Only regular files are taken:
  /// a directory, FIFO or device fails at once, with the reason in `error`.
  bool Open(const std::string& path, std::string* error);
  void Close();
  bool isOpen() const { return handle_ != kClosed; }

  std::size_t ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) override;
  std::uint64_t Length() override;

 private:
  // A descriptor on Linux (ImageFilePosix.cpp), a HANDLE on Windows (ImageFileWin32.cpp); -1
  // is closed on both (INVALID_HANDLE_VALUE on Windows).
  static constexpr std::intptr_t kClosed = -1;
  std::intptr_t handle_ = kClosed;
};

/// An upgrade file held in memory.
class MemoryUpgradeFile final : public UpgradeFile {
 public:
  explicit MemoryUpgradeFile(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  std::size_t ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) override {
    if (offset >= bytes_.size()) return 0;
    const std::size_t n = std::min<std::uint64_t>(length, bytes_.size() - offset);
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), n, buffer);
    return n;
  }
  std::uint64_t Length() override { return bytes_.size(); }

 private:
  std::vector<std::uint8_t> bytes_;
};

/// Opens the upgrade file at `path`; null with the reason in `error` when it cannot.
std::unique_ptr<UpgradeFile> OpenUpgradeFile(const std::string& path, std::string* error);

}  // namespace irdload
