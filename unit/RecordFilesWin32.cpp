// The report folder's files on Windows: the C runtime's descriptors, _commit for fsync, and
// MoveFileEx without MOVEFILE_REPLACE_EXISTING, which never puts a record in place of another.
// The folder is held open without delete sharing, so that nobody removes it while records go in.
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>

#include "serial/Win32Error.h"
#include "unit/RecordFiles.h"

namespace irdload::unit {
namespace {

constexpr const char* kTempPrefix = ".record-";

std::string ErrnoText(int code) {
  return std::strerror(code);
}

bool WriteAll(int fd, const std::string& text, int* err) {
  std::size_t done = 0;
  while (done < text.size()) {
    const int n = ::_write(fd, text.data() + done, static_cast<unsigned>(text.size() - done));
    if (n <= 0) {
      *err = n < 0 ? errno : ENOSPC;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::mutex& AppendLock() {
  static std::mutex mu;
  return mu;
}

}  // namespace

struct TempRecordFile::Os {
  int fd = -1;
  std::string folder, name;
  bool named = false;
  std::string Path() const { return folder + "/" + name; }
};

struct RecordFolderFiles::Os {
  std::string path;
  HANDLE handle = INVALID_HANDLE_VALUE;
  std::mutex mu;  // the name generator
  std::mt19937_64 random{std::random_device{}()};
};

TempRecordFile::TempRecordFile(std::unique_ptr<Os> os) : os_(std::move(os)) {}

TempRecordFile::~TempRecordFile() {
  if (os_->fd >= 0) ::_close(os_->fd);
  if (!os_->named) ::_unlink(os_->Path().c_str());
}

bool TempRecordFile::Reserve(std::uint64_t bytes, std::string* why) {
  const int err = ::_chsize_s(os_->fd, static_cast<__int64>(bytes));
  if (err != 0) {
    *why = ErrnoText(err);
    return false;
  }
  reserved_ = bytes;
  return true;
}

bool TempRecordFile::Write(const std::string& text, std::string* why) {
  int err = 0;
  if (::_lseeki64(os_->fd, 0, SEEK_SET) != 0 || !WriteAll(os_->fd, text, &err) ||
      ::_chsize_s(os_->fd, static_cast<__int64>(text.size())) != 0 || ::_commit(os_->fd) != 0) {
    *why = ErrnoText(err != 0 ? err : errno);
    return false;
  }
  return true;
}

bool TempRecordFile::Name(const std::string& name, bool* taken, std::string* why) {
  *taken = false;
  // Windows renames no file that is open without delete sharing.
  if (os_->fd >= 0) ::_close(os_->fd);
  os_->fd = -1;
  const std::string target = os_->folder + "/" + name;
  if (!::MoveFileExA(os_->Path().c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
    const DWORD code = ::GetLastError();
    *taken = code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS;
    *why = WindowsErrorText(code);
    return false;
  }
  os_->named = true;
  os_->name = name;
  return true;
}

RecordFolderFiles::RecordFolderFiles() : os_(std::make_unique<Os>()) {}

RecordFolderFiles::~RecordFolderFiles() {
  if (os_->handle != INVALID_HANDLE_VALUE) ::CloseHandle(os_->handle);
}

bool RecordFolderFiles::Open(const std::string& path, std::string* why) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  if (ec) {
    *why = ec.message();
    return false;
  }
  if (!std::filesystem::is_directory(path, ec)) {
    *why = "not a folder";
    return false;
  }
  const HANDLE handle =
      ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *why = WindowsErrorText(::GetLastError());
    return false;
  }
  if (os_->handle != INVALID_HANDLE_VALUE) ::CloseHandle(os_->handle);
  os_->handle = handle;
  os_->path = path;
  return true;
}

bool RecordFolderFiles::StillThere(std::string* why) const {
  std::error_code ec;
  if (std::filesystem::is_directory(os_->path, ec)) return true;
  *why = "the report folder " + os_->path + " is gone";
  return false;
}

bool RecordFolderFiles::Sync(std::string*) {
  // Names are written through (MOVEFILE_WRITE_THROUGH); NTFS journals its folders.
  return true;
}

std::unique_ptr<TempRecordFile> RecordFolderFiles::CreateTemp(std::string* why) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  int err = EEXIST;
  for (int attempt = 0; attempt < 100 && err == EEXIST; ++attempt) {
    std::string name = kTempPrefix;
    {
      std::lock_guard lk(os_->mu);
      for (int i = 0; i < 6; ++i) name += kLetters[os_->random() % (sizeof kLetters - 1)];
    }
    int fd = -1;
    // Held without delete sharing while its writer lives: RemoveAbandonedTemps cannot take it.
    err = ::_sopen_s(&fd, (os_->path + "/" + name).c_str(),
                     _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY | _O_NOINHERIT, _SH_DENYWR,
                     _S_IREAD | _S_IWRITE);
    if (err != 0) continue;
    auto os = std::make_unique<TempRecordFile::Os>();
    os->fd = fd;
    os->folder = os_->path;
    os->name = std::move(name);
    return std::unique_ptr<TempRecordFile>(new TempRecordFile(std::move(os)));
  }
  *why = ErrnoText(err);
  return nullptr;
}

void RecordFolderFiles::RemoveAbandonedTemps() {
  std::error_code ec;
  const auto now = std::filesystem::file_time_type::clock::now();
  for (std::filesystem::directory_iterator it(os_->path, ec), end; !ec && it != end;
       it.increment(ec)) {
    if (it->path().filename().string().rfind(kTempPrefix, 0) != 0) continue;
    std::error_code timeEc;
    const auto written = it->last_write_time(timeEc);
    if (!timeEc && now - written > std::chrono::minutes(1)) ::_unlink(it->path().string().c_str());
  }
}

void RecordFolderFiles::Remove(const std::string& name) {
  ::_unlink((os_->path + "/" + name).c_str());
}

bool RecordFolderFiles::Append(const std::string& name, const std::string& header,
                               const std::string& line, std::string* why) {
  std::lock_guard lk(AppendLock());
  int fd = -1;
  const int open = ::_sopen_s(&fd, (os_->path + "/" + name).c_str(),
                              _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT,
                              _SH_DENYNO, _S_IREAD | _S_IWRITE);
  if (open != 0) {
    *why = ErrnoText(open);
    return false;
  }
  const __int64 size = ::_filelengthi64(fd);
  const std::string text = (size == 0 ? header : std::string()) + line;
  int err = 0;
  const bool ok = WriteAll(fd, text, &err) && ::_commit(fd) == 0;
  if (!ok) {
    ::_chsize_s(fd, size);
    *why = ErrnoText(err != 0 ? err : errno);
  }
  ::_close(fd);
  return ok;
}

bool RecordFolderFiles::CanAppend(const std::string& name, std::string* why) const {
  const std::string path = os_->path + "/" + name;
  if (::_access(path.c_str(), 0) != 0 || ::_access(path.c_str(), 2) == 0) return true;
  *why = ErrnoText(errno);
  return false;
}

}  // namespace irdload::unit
