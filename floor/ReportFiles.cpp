#include "floor/ReportFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace irdload::floor {

bool IsRecordName(const std::string& name) {
  constexpr std::string_view kEnd = ".json";
  if (name.size() <= kEnd.size() || name.size() > 255 || name[0] == '.') return false;
  if (name.compare(name.size() - kEnd.size(), kEnd.size(), kEnd) != 0) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_';
  });
}

std::optional<std::string> ReadReportFile(const std::string& folder, const std::string& name,
                                          std::size_t limit) {
  if (folder.empty() || (name != "units.csv" && !IsRecordName(name))) return std::nullopt;
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return std::nullopt;
  const int fd = ::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  ::close(dir);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  std::optional<std::string> text;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
      static_cast<std::size_t>(st.st_size) <= limit) {
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
      const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    text = std::move(bytes);
  }
  ::close(fd);
  return text;
}

std::vector<std::string> RecordNames(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = folder.empty() ? nullptr : ::opendir(folder.c_str());
  if (!dir) return names;
  while (const dirent* e = ::readdir(dir)) {
    if (IsRecordName(e->d_name)) names.emplace_back(e->d_name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace irdload::floor
