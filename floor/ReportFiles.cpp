#include "floor/ReportFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "unit/Json.h"

namespace irdload::floor {
namespace {

constexpr std::size_t kRecordLimit = 4 << 20;
constexpr std::size_t kCsvLimit = 64 << 20;

}  // namespace

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

std::optional<HttpReply> ServeReportFile(const std::string& folder, const std::string& path) {
  if (path == "/api/records") {
    return HttpReply{200, "application/json", unit::JsonText(unit::Json(RecordNames(folder))), {}};
  }
  if (path == "/units.csv") {
    auto csv = ReadReportFile(folder, "units.csv", kCsvLimit);
    if (!csv) return std::nullopt;
    return HttpReply{200, "text/csv; charset=utf-8", std::move(*csv), "units.csv"};
  }
  constexpr std::string_view kRecords = "/records/";
  if (path.rfind(kRecords, 0) == 0) {
    const std::string name = path.substr(kRecords.size());
    auto record = ReadReportFile(folder, name, kRecordLimit);
    if (!record || name == "units.csv") return std::nullopt;
    return HttpReply{200, "application/json", std::move(*record), name};
  }
  return std::nullopt;
}

}  // namespace irdload::floor
