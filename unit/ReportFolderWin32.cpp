// The report folder on Windows: the same steps as on Linux with the C runtime's descriptors,
// _commit for fsync, and MoveFileEx, which never replaces an existing record unless asked to.
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

#include "serial/Win32Error.h"
#include "unit/ReportFolder.h"
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
    const int n = ::_write(fd, text.data() + done, static_cast<unsigned>(text.size() - done));
    if (n <= 0) {
      *err = n < 0 ? errno : ENOSPC;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool Sync(int fd, int* err) {
  if (::_commit(fd) == 0) return true;
  *err = errno;
  return false;
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
  const bool wrote = WriteAll(probe->fd, RecordJson(UnitRecord{}), &err) && Sync(probe->fd, &err);
  Release(*probe);
  if (!wrote) {
    *error = Why("the report folder " + folder_ + " does not take a record", err);
    return false;
  }
  const std::uintmax_t size = std::filesystem::file_size(CsvPath(), ec);
  if (ec || size == 0) return AppendCsv(CsvHeader(), error);
  if (::_access(CsvPath().c_str(), 2) != 0) {
    *error = Why("cannot add to " + CsvPath(), errno);
    return false;
  }
  return true;
}

std::optional<ReportFolder::Slot> ReportFolder::Reserve(std::string* error) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  int err = EEXIST;
  for (int attempt = 0; attempt < 100 && err == EEXIST; ++attempt) {
    std::string name = folder_ + "/.record-";
    for (int i = 0; i < 6; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
    int fd = -1;
    err = ::_sopen_s(&fd, name.c_str(), _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY | _O_NOINHERIT,
                     _SH_DENYWR, _S_IREAD | _S_IWRITE);
    if (err != 0) continue;
    err = ::_chsize_s(fd, static_cast<__int64>(kReservedBytes));
    if (err != 0) {
      ::_close(fd);
      ::_unlink(name.c_str());
      *error = Why("no room for records in " + folder_, err);
      return std::nullopt;
    }
    return Slot{fd, name};
  }
  *error = Why("cannot write in the report folder " + folder_, err);
  return std::nullopt;
}

void ReportFolder::Release(Slot& slot) {
  if (slot.fd < 0) return;
  ::_close(slot.fd);
  ::_unlink(slot.tempPath.c_str());
  slot.fd = -1;
}

bool ReportFolder::Commit(Slot& slot, const std::string& baseName, const std::string& json,
                          const std::string& csvLine, std::string* path, std::string* error) {
  int err = 0;
  const std::string text = json + "\n";
  if (::_chsize_s(slot.fd, 0) != 0 || ::_lseeki64(slot.fd, 0, SEEK_SET) != 0 ||
      !WriteAll(slot.fd, text, &err) || !Sync(slot.fd, &err)) {
    if (err == 0) err = errno;
    *error = Why("cannot write the record " + slot.tempPath, err);
    return false;
  }
  ::_close(slot.fd);
  slot.fd = -1;
  for (int n = 1;; ++n) {
    *path = folder_ + "/" + baseName + (n > 1 ? "-" + std::to_string(n) : "") + ".json";
    if (::MoveFileExA(slot.tempPath.c_str(), path->c_str(), MOVEFILE_WRITE_THROUGH)) break;
    const DWORD code = ::GetLastError();
    if ((code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) && n < 1000) continue;
    *error = "cannot name the record " + *path + ": " + WindowsErrorText(code);
    return false;
  }
  return AppendCsv(csvLine, error);
}

bool ReportFolder::AppendCsv(const std::string& line, std::string* error) {
  int fd = -1;
  const int open = ::_sopen_s(&fd, CsvPath().c_str(),
                              _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT,
                              _SH_DENYNO, _S_IREAD | _S_IWRITE);
  if (open != 0) {
    *error = Why("cannot add to " + CsvPath(), open);
    return false;
  }
  // One write per line: appends from several ports never interleave.
  int err = 0;
  const bool ok = WriteAll(fd, line, &err) && Sync(fd, &err);
  ::_close(fd);
  if (!ok) *error = Why("cannot add to " + CsvPath(), err);
  return ok;
}

}  // namespace irdload::unit
