#include "engine/Image.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "engine/EngineHost.h"

namespace irdload {
namespace {

// Reads up to `len` bytes at `offset`, stopping early only at end of file or on an error.
std::size_t ReadAt(int fd, std::uint8_t* buf, std::size_t len, off_t offset) {
  std::size_t done = 0;
  while (done < len) {
    const ssize_t n = ::pread(fd, buf + done, len - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

// Header, magic and size checks; the refusal message, or nullptr when the header holds.
const char* CheckHeader(int fd, ImageInspection& out) {
  if (ReadAt(fd, out.header.data(), kHeaderSize, 0) < kHeaderSize) return "Read Error!";
  if (ReadLe32(out.header.data() + kMagicOffset) != kImageMagic) {
    return "Invalid file: magic number miss match";
  }
  struct stat st {};
  out.fileLength = ::fstat(fd, &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
  out.payloadSize = ReadLe32(out.header.data() + kSizeOffset);
  out.typeCode = ReadLe32(out.header.data() + kTypeOffset);
  // In 64 bits: a size near 2^32 must not wrap around into a match.
  if (std::uint64_t{out.payloadSize} + kHeaderSize != out.fileLength) {
    return "Invalid file size: check main.auc";
  }
  out.lastPacketIndex = LastPacketIndex(out.payloadSize);
  return nullptr;
}

// The kind after a type code, or a refusal.
const char* ApplyTypeCode(std::uint32_t typeCode, ImageKind& kind) {
  switch (typeCode) {
    case kTypeFirstOfPair:
      kind = IMAGE_FIRST;
      return nullptr;
    case kTypeSecondOfPair:
      if (kind != IMAGE_FIRST) return "Invalid Second file";
      kind = IMAGE_SECOND;
      return nullptr;
    case kTypeSingle:
      kind = IMAGE_SINGLE;
      return nullptr;
    default:
      return nullptr;
  }
}

}  // namespace

ImageFile::~ImageFile() { Close(); }

ImageFile::ImageFile(ImageFile&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

ImageFile& ImageFile::operator=(ImageFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

bool ImageFile::Open(const std::string& path, std::string* error) {
  Close();
  const auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  if (path.empty()) return fail("no file name");
  // O_NONBLOCK: opening a FIFO must not wait for a writer.
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return fail(path + ": " + std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return fail(path + ": " +
                (S_ISDIR(st.st_mode) ? "is a folder, not an upgrade file" : "is not a regular file"));
  }
  if (::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    ::close(fd);
    return fail(path + ": another program holds the file locked");
  }
  fd_ = fd;
  return true;
}

void ImageFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::uint64_t EstimateSeconds(std::uint32_t payloadSize, std::uint32_t lastPacketIndex) {
  // 64-bit: the 32-bit sum of the original formula wraps for payloads near 4 GiB.
  const std::uint64_t size = payloadSize;
  return (size + std::uint64_t{lastPacketIndex} * 300 + 64) / 14400 + (size / 65536) * 2 + 2;
}

std::string FormatMinutesSeconds(std::uint64_t seconds) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02llu:%02llu", static_cast<unsigned long long>(seconds / 60),
                static_cast<unsigned long long>(seconds % 60));
  return buf;
}

bool LoadImage(ImageFile& file, ImageKind& kind, EngineHost& host, UpgradeImage& image,
               std::stop_token stop) {
  const auto fail = [&](const char* message) {
    host.MessageBox(message, "", stop);
    file.Close();
    return false;
  };
  ImageInspection seen;
  if (const char* refusal = CheckHeader(file.fd(), seen)) return fail(refusal);
  // The range goes up before the type code is looked at, so a refused type keeps it.
  host.SetProgressRange(0, static_cast<int>(seen.lastPacketIndex + 1));
  if (const char* refusal = ApplyTypeCode(seen.typeCode, kind)) return fail(refusal);
  host.SetField(FIELD_TOTAL_SIZE, std::to_string(seen.payloadSize));
  host.SetField(FIELD_ESTIMATE,
                FormatMinutesSeconds(EstimateSeconds(seen.payloadSize, seen.lastPacketIndex)));
  // One byte more than asked, so that a zero-size payload still gets a block of its own.
  std::unique_ptr<std::uint8_t[]> block(new (std::nothrow) std::uint8_t[seen.payloadSize + std::size_t{1}]);
  if (!block) return fail("Malloc Error!");
  if (ReadAt(file.fd(), block.get(), seen.payloadSize, static_cast<off_t>(kHeaderSize)) <
      seen.payloadSize) {
    return fail("_lread Error!");
  }
  file.Close();
  image.header = seen.header;
  image.payloadSize = seen.payloadSize;
  image.lastPacketIndex = seen.lastPacketIndex;
  image.payload = std::move(block);
  return true;
}

ImageInspection InspectImage(ImageFile& file, ImageKind kindBefore) {
  ImageInspection seen;
  const char* refusal = CheckHeader(file.fd(), seen);
  ImageKind kind = kindBefore;
  if (!refusal) refusal = ApplyTypeCode(seen.typeCode, kind);
  seen.kindAfterLoad = kind;
  seen.loads = refusal == nullptr;
  if (refusal) seen.refusal = refusal;
  return seen;
}

}  // namespace irdload
