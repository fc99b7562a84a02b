#include "floor/Outbox.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace irdload::floor {
namespace {

constexpr std::size_t kDigits = 12;
constexpr const char* kEnd = ".record";

bool IsEntry(const std::string& name) {
  return name.size() == kDigits + std::strlen(kEnd) &&
         std::all_of(name.begin(), name.begin() + kDigits,
                     [](char c) { return c >= '0' && c <= '9'; }) &&
         name.compare(kDigits, std::string::npos, kEnd) == 0;
}

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool Outbox::Open(std::string* error) {
  if (::mkdir(folder_.c_str(), 0755) != 0 && errno != EEXIST) {
    *error = "cannot make the MQTT outbox " + folder_ + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::stat(folder_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
      ::access(folder_.c_str(), W_OK) != 0) {
    *error = "the MQTT outbox " + folder_ + " is not a folder this user can write";
    return false;
  }
  for (const Entry& e : Waiting())
    next_ = std::max<std::uint64_t>(next_, std::stoull(e.name.substr(0, kDigits)) + 1);
  return true;
}

bool Outbox::Add(const std::string& payload, Entry* entry, std::string* error) {
  char name[32];
  std::snprintf(name, sizeof name, "%012llu%s", static_cast<unsigned long long>(next_), kEnd);
  const std::string path = folder_ + "/" + name, temp = path + ".tmp";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const bool ok = fd >= 0 && WriteAll(fd, payload) && ::fsync(fd) == 0;
  const int saved = errno;
  if (fd >= 0) ::close(fd);
  if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
    *error = "cannot keep a record in the MQTT outbox " + folder_ + ": " +
             std::strerror(ok ? errno : saved);
    ::unlink(temp.c_str());
    return false;
  }
  if (const int dir = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  ++next_;
  *entry = {name, payload};
  return true;
}

std::vector<Outbox::Entry> Outbox::Waiting() const {
  std::vector<Entry> entries;
  DIR* dir = ::opendir(folder_.c_str());
  if (!dir) return entries;
  while (const dirent* d = ::readdir(dir)) {
    if (!IsEntry(d->d_name)) continue;
    std::ifstream in(folder_ + "/" + d->d_name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (in) entries.push_back({d->d_name, text.str()});
  }
  ::closedir(dir);
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return a.name < b.name; });
  return entries;
}

void Outbox::Remove(const std::string& name) {
  if (IsEntry(name)) ::unlink((folder_ + "/" + name).c_str());
}

}  // namespace irdload::floor
