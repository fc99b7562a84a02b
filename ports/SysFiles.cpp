#include "ports/SysFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <system_error>

namespace irdload::sysfiles {

namespace fs = std::filesystem;

std::string ReadSmallFile(const fs::path& path, std::size_t maxBytes) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return {};

  std::string text;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    // sysfs and /proc report a size of 4096 or 0 whatever they hold, so read to the end.
    text.resize(maxBytes);
    std::size_t filled = 0;
    bool failed = false;
    while (filled < maxBytes) {
      const ssize_t n = ::read(fd, text.data() + filled, maxBytes - filled);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        failed = true;
        break;
      }
      if (n == 0) break;
      filled += static_cast<std::size_t>(n);
    }
    text.resize(failed ? 0 : filled);
  }
  ::close(fd);

  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

bool EntryExists(const fs::path& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

std::string LinkTargetName(const fs::path& link) {
  std::error_code ec;
  const fs::path target = fs::read_symlink(link, ec);
  if (ec) return {};
  return target.filename().string();
}

std::vector<std::string> NumericEntries(const fs::path& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (!name.empty() &&
        std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      names.push_back(std::move(name));
    }
  }
  return names;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> fields;
  std::string::size_type start = 0;
  for (;;) {
    const auto end = text.find(separator, start);
    fields.push_back(text.substr(start, end - start));
    if (end == std::string::npos) return fields;
    start = end + 1;
  }
}

std::optional<unsigned long> ParseUnsigned(const std::string& text) {
  unsigned long value = 0;
  const char* last = text.data() + text.size();
  const auto [end, ec] = std::from_chars(text.data(), last, value);
  if (text.empty() || ec != std::errc{} || end != last) return std::nullopt;
  return value;
}

}  // namespace irdload::sysfiles
