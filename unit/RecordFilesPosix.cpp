// The report folder's files on Linux: every call relative to the folder's own descriptor, so
// that a folder removed mid-run takes no new file (and is noticed), temporary files marked by a
// lock while their writer lives, and names given with renameat2's RENAME_NOREPLACE.
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <vector>

#include "unit/RecordFiles.h"

namespace irdload::unit {
namespace {

constexpr const char* kTempPrefix = ".record-";

std::string ErrnoText(int code) {
  char buf[256];
  return ::strerror_r(code, buf, sizeof buf);
}

bool WriteAllAt(int fd, const std::string& text, off_t at, int* err) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n =
        ::pwrite(fd, text.data() + done, text.size() - done, at + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *err = n < 0 ? errno : ENOSPC;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteAll(int fd, const std::string& text, int* err) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *err = n < 0 ? errno : ENOSPC;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// One appender at a time in this process: several ports share one units.csv.
std::mutex& AppendLock() {
  static std::mutex mu;
  return mu;
}

}  // namespace

struct TempRecordFile::Os {
  int folder = -1;  // a descriptor of its own on the folder
  int fd = -1;
  std::string name;  // in the folder
  bool named = false;
};

struct RecordFolderFiles::Os {
  std::string path;
  int fd = -1;
  dev_t dev = 0;
  ino_t ino = 0;
  std::mutex mu;  // the name generator
  std::mt19937_64 random{std::random_device{}()};
};

TempRecordFile::TempRecordFile(std::unique_ptr<Os> os) : os_(std::move(os)) {}

TempRecordFile::~TempRecordFile() {
  if (!os_->named) ::unlinkat(os_->folder, os_->name.c_str(), 0);
  if (os_->fd >= 0) ::close(os_->fd);
  ::close(os_->folder);
}

bool TempRecordFile::Reserve(std::uint64_t bytes, std::string* why) {
  const int err = ::posix_fallocate(os_->fd, 0, static_cast<off_t>(bytes));
  if (err == EOPNOTSUPP || err == EINVAL) {
    // A file system that cannot allocate ahead: zeros take the room instead.
    int writeErr = 0;
    if (!WriteAllAt(os_->fd, std::string(bytes, '\0'), 0, &writeErr) || ::fsync(os_->fd) != 0) {
      *why = ErrnoText(writeErr != 0 ? writeErr : errno);
      return false;
    }
  } else if (err != 0) {
    *why = ErrnoText(err);
    return false;
  }
  reserved_ = bytes;
  return true;
}

bool TempRecordFile::Write(const std::string& text, std::string* why) {
  int err = 0;
  if (!WriteAllAt(os_->fd, text, 0, &err)) {
    *why = ErrnoText(err);
    return false;
  }
  if (::ftruncate(os_->fd, static_cast<off_t>(text.size())) != 0 || ::fsync(os_->fd) != 0) {
    *why = ErrnoText(errno);
    return false;
  }
  return true;
}

bool TempRecordFile::Name(const std::string& name, bool* taken, std::string* why) {
  *taken = false;
  int rc = ::renameat2(os_->folder, os_->name.c_str(), os_->folder, name.c_str(), RENAME_NOREPLACE);
  if (rc != 0 && errno == EINVAL) {
    // A file system without RENAME_NOREPLACE: a hard link fails on a name in use just as well.
    rc = ::linkat(os_->folder, os_->name.c_str(), os_->folder, name.c_str(), 0);
    if (rc == 0) ::unlinkat(os_->folder, os_->name.c_str(), 0);
  }
  if (rc != 0) {
    *taken = errno == EEXIST;
    *why = ErrnoText(errno);
    return false;
  }
  os_->named = true;
  os_->name = name;
  ::close(os_->fd);
  os_->fd = -1;
  return true;
}

RecordFolderFiles::RecordFolderFiles() : os_(std::make_unique<Os>()) {}

RecordFolderFiles::~RecordFolderFiles() {
  if (os_->fd >= 0) ::close(os_->fd);
}

bool RecordFolderFiles::Open(const std::string& path, std::string* why) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  if (ec) {
    *why = ec.message();
    return false;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    *why = errno == ENOTDIR ? "not a folder" : ErrnoText(errno);
    return false;
  }
  struct stat st {};
  ::fstat(fd, &st);
  if (os_->fd >= 0) ::close(os_->fd);
  os_->path = path;
  os_->fd = fd;
  os_->dev = st.st_dev;
  os_->ino = st.st_ino;
  return true;
}

bool RecordFolderFiles::StillThere(std::string* why) const {
  struct stat st {};
  if (::stat(os_->path.c_str(), &st) != 0) {
    *why = "the report folder " + os_->path + " is gone: " + ErrnoText(errno);
    return false;
  }
  if (st.st_dev != os_->dev || st.st_ino != os_->ino) {
    *why = "the report folder " + os_->path + " was removed and another put in its place";
    return false;
  }
  return true;
}

bool RecordFolderFiles::Sync(std::string* why) {
  if (::fsync(os_->fd) == 0) return true;
  *why = ErrnoText(errno);
  return false;
}

std::unique_ptr<TempRecordFile> RecordFolderFiles::CreateTemp(std::string* why) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = kTempPrefix;
    {
      std::lock_guard lk(os_->mu);
      for (int i = 0; i < 6; ++i) name += kLetters[os_->random() % (sizeof kLetters - 1)];
    }
    const int fd =
        ::openat(os_->fd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) {
      *why = ErrnoText(errno);
      return nullptr;
    }
    // Held while its writer lives: RemoveAbandonedTemps leaves it alone.
    ::flock(fd, LOCK_EX | LOCK_NB);
    auto os = std::make_unique<TempRecordFile::Os>();
    os->folder = ::fcntl(os_->fd, F_DUPFD_CLOEXEC, 0);
    os->fd = fd;
    os->name = std::move(name);
    return std::unique_ptr<TempRecordFile>(new TempRecordFile(std::move(os)));
  }
  *why = "no free name for a temporary file";
  return nullptr;
}

void RecordFolderFiles::RemoveAbandonedTemps() {
  const int fd = ::fcntl(os_->fd, F_DUPFD_CLOEXEC, 0);
  DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
  if (dir == nullptr) {
    if (fd >= 0) ::close(fd);
    return;
  }
  std::vector<std::string> names;
  while (const dirent* e = ::readdir(dir)) {
    if (std::strncmp(e->d_name, kTempPrefix, std::strlen(kTempPrefix)) == 0) {
      names.emplace_back(e->d_name);
    }
  }
  ::closedir(dir);
  const auto now = std::chrono::system_clock::now();
  for (const std::string& name : names) {
    const int file = ::openat(os_->fd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (file < 0) continue;
    struct stat st {};
    const bool old =
        ::fstat(file, &st) == 0 && S_ISREG(st.st_mode) &&
        now - std::chrono::system_clock::from_time_t(st.st_mtime) > std::chrono::minutes(1);
    if (old && ::flock(file, LOCK_EX | LOCK_NB) == 0) ::unlinkat(os_->fd, name.c_str(), 0);
    ::close(file);
  }
}

void RecordFolderFiles::Remove(const std::string& name) {
  ::unlinkat(os_->fd, name.c_str(), 0);
}

bool RecordFolderFiles::Append(const std::string& name, const std::string& header,
                               const std::string& line, std::string* why) {
  std::lock_guard lk(AppendLock());
  const int fd =
      ::openat(os_->fd, name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    *why = ErrnoText(errno);
    return false;
  }
  struct stat st {};
  ::fstat(fd, &st);
  const std::string text = (st.st_size == 0 ? header : std::string()) + line;
  int err = 0;
  bool ok = WriteAll(fd, text, &err);
  if (ok && ::fsync(fd) != 0) {
    err = errno;
    ok = false;
  }
  if (!ok) {
    // Half a line would join the next one: the file goes back to where it was.
    [[maybe_unused]] const int undone = ::ftruncate(fd, st.st_size);
    *why = ErrnoText(err);
  }
  ::close(fd);
  return ok;
}

bool RecordFolderFiles::CanAppend(const std::string& name, std::string* why) const {
  if (::faccessat(os_->fd, name.c_str(), F_OK, 0) != 0) {
    if (::faccessat(os_->fd, ".", W_OK, 0) == 0) return true;
  } else if (::faccessat(os_->fd, name.c_str(), W_OK, 0) == 0) {
    return true;
  }
  *why = ErrnoText(errno);
  return false;
}

}  // namespace irdload::unit
