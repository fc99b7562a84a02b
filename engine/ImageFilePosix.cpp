#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/ImageFile.h"

namespace irdload {

ImageFile::~ImageFile() {
  Close();
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
    return fail(
        path + ": " +
        (S_ISDIR(st.st_mode) ? "is a folder, not an upgrade file" : "is not a regular file"));
  }
  if (::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    ::close(fd);
    return fail(path + ": another program holds the file locked");
  }
  handle_ = fd;
  return true;
}

void ImageFile::Close() {
  if (isOpen()) ::close(static_cast<int>(handle_));
  handle_ = kClosed;
}

std::size_t ImageFile::ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::pread(static_cast<int>(handle_), buffer + done, length - done,
                              static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

std::uint64_t ImageFile::Length() {
  struct stat st {};
  return ::fstat(static_cast<int>(handle_), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

std::unique_ptr<UpgradeFile> OpenUpgradeFile(const std::string& path, std::string* error) {
  auto file = std::make_unique<ImageFile>();
  if (!file->Open(path, error)) return nullptr;
  return file;
}

}  // namespace irdload
