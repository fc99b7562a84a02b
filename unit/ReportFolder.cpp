#include "unit/ReportFolder.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "unit/UnitCsv.h"
#include "unit/UnitRecord.h"

namespace irdload::unit {
namespace {

std::string Why(const std::string& what, int err) {
  return what + ": " + std::strerror(err);
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

void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

bool ReportFolder::Prepare(std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(folder_, ec);
  if (ec) {
    *error = "cannot make the report folder " + folder_ + ": " + ec.message();
    return false;
  }
  if (!std::filesystem::is_directory(folder_, ec)) {
    *error = folder_ + " is not a folder";
    return false;
  }
  std::optional<Slot> probe = Reserve(error);
  if (!probe) return false;
  int err = 0;
  const bool wrote = WriteAll(probe->fd, RecordJson(UnitRecord{}), &err) && ::fsync(probe->fd) == 0;
  if (!wrote && err == 0) err = errno;
  Release(*probe);
  if (!wrote) {
    *error = Why("the report folder " + folder_ + " does not take a record", err);
    return false;
  }
  struct stat st {};
  if (::stat(CsvPath().c_str(), &st) != 0 || st.st_size == 0) {
    return AppendCsv(CsvHeader(), error);
  }
  if (::access(CsvPath().c_str(), W_OK) != 0) {
    *error = Why("cannot add to " + CsvPath(), errno);
    return false;
  }
  return true;
}

std::optional<ReportFolder::Slot> ReportFolder::Reserve(std::string* error) {
  std::string templ = folder_ + "/.record-XXXXXX";
  const int fd = ::mkostemp(templ.data(), O_CLOEXEC);
  if (fd < 0) {
    *error = Why("cannot write in the report folder " + folder_, errno);
    return std::nullopt;
  }
  const int err = ::posix_fallocate(fd, 0, kReservedBytes);
  // Some file systems cannot allocate ahead; they report it rather than a lack of room.
  if (err != 0 && err != EOPNOTSUPP && err != EINVAL) {
    ::close(fd);
    ::unlink(templ.c_str());
    *error = Why("no room for records in " + folder_, err);
    return std::nullopt;
  }
  return Slot{fd, templ};
}

void ReportFolder::Release(Slot& slot) {
  if (slot.fd < 0) return;
  ::close(slot.fd);
  ::unlink(slot.tempPath.c_str());
  slot.fd = -1;
}

bool ReportFolder::Commit(Slot& slot, const std::string& baseName, const std::string& json,
                          const std::string& csvLine, std::string* path, std::string* error) {
  int err = 0;
  const std::string text = json + "\n";
  if (::ftruncate(slot.fd, 0) != 0 || ::lseek(slot.fd, 0, SEEK_SET) != 0 ||
      !WriteAll(slot.fd, text, &err) || ::fsync(slot.fd) != 0) {
    if (err == 0) err = errno;
    *error = Why("cannot write the record " + slot.tempPath, err);
    return false;
  }
  ::close(slot.fd);
  slot.fd = -1;
  for (int n = 1;; ++n) {
    *path = folder_ + "/" + baseName + (n > 1 ? "-" + std::to_string(n) : "") + ".json";
    if (::renameat2(AT_FDCWD, slot.tempPath.c_str(), AT_FDCWD, path->c_str(), RENAME_NOREPLACE) ==
        0) {
      break;
    }
    if (errno == EEXIST && n < 1000) continue;
    *error = Why("cannot name the record " + *path, errno);
    return false;
  }
  SyncFolder(folder_);
  return AppendCsv(csvLine, error);
}

bool ReportFolder::AppendCsv(const std::string& line, std::string* error) {
  const int fd = ::open(CsvPath().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = Why("cannot add to " + CsvPath(), errno);
    return false;
  }
  // One write per line: appends from several ports never interleave.
  int err = 0;
  const bool ok = WriteAll(fd, line, &err) && ::fsync(fd) == 0;
  if (!ok && err == 0) err = errno;
  ::close(fd);
  if (!ok) *error = Why("cannot add to " + CsvPath(), err);
  return ok;
}

}  // namespace irdload::unit
