#include "station/HotPlugWatcher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace irdload::station {
namespace {

constexpr std::uint32_t kFolderEvents = IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM |
                                        IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// What the path is now: nothing (stat follows links, so a by-path link whose device has gone is
// absent), or the link and the device it leads to, which a replug renews even under one name.
HotPlugWatcher::Identity Look(const std::string& path) {
  struct stat target {
  }, link{};
  if (::stat(path.c_str(), &target) != 0 || ::lstat(path.c_str(), &link) != 0) return {};
  return {true, target.st_dev, target.st_ino, link.st_ino};
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

HotPlugWatcher::~HotPlugWatcher() {
  Stop();
}

void HotPlugWatcher::Add(std::string path, Listener listener) {
  Entry e;
  const std::filesystem::path p(path);
  e.folder =
      p.has_parent_path() ? p.parent_path().string() : std::filesystem::current_path().string();
  e.name = p.filename().string();
  e.path = std::move(path);
  e.listener = std::move(listener);
  entries_.push_back(std::move(e));
}

void HotPlugWatcher::Rewatch(Entry& e) {
  const std::filesystem::path target = e.folder;
  for (;;) {
    std::filesystem::path folder = target;
    while (!IsFolder(folder.string()) && folder.has_parent_path() && folder != folder.root_path()) {
      folder = folder.parent_path();
    }
    e.wd = inotify_add_watch(fd_, folder.c_str(), kFolderEvents);
    e.onOwnFolder = e.wd >= 0 && folder == target;
    if (e.wd < 0 || e.onOwnFolder) return;
    // A folder on the way made between the look and the watch sent its event to nobody: look
    // again now that the watch is there.
    std::filesystem::path next = target;
    while (next.parent_path() != folder) next = next.parent_path();
    if (!IsFolder(next.string())) return;
  }
}

bool HotPlugWatcher::Start(std::string* error) {
  fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) {
    *error = std::string("inotify_init1: ") + std::strerror(errno);
    return false;
  }
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd_ < 0) {
    *error = std::string("eventfd: ") + std::strerror(errno);
    return false;
  }
  for (Entry& e : entries_) {
    Rewatch(e);
    if (e.wd < 0) {
      *error = "cannot watch the folder of " + e.path + ": " + std::strerror(errno);
      return false;
    }
    e.seen = Look(e.path);
    e.listener(e.seen.present, false);
  }
  thread_ = std::jthread([this] { Run(); });
  return true;
}

void HotPlugWatcher::Stop() {
  if (thread_.joinable()) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
    thread_.join();
  }
  if (fd_ >= 0) ::close(fd_);
  if (wakeFd_ >= 0) ::close(wakeFd_);
  fd_ = wakeFd_ = -1;
}

void HotPlugWatcher::Run() {
  alignas(inotify_event) char buffer[16 * 1024];
  for (;;) {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if ((fds[1].revents & POLLIN) != 0) return;
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n <= 0) continue;
    HandleEvents(buffer, n);
  }
}

void HotPlugWatcher::HandleEvents(const char* buffer, long length) {
  std::vector<bool> touched(entries_.size(), false);
  bool rewatch = false;
  for (long at = 0; at < length;) {
    const auto* ev = reinterpret_cast<const inotify_event*>(buffer + at);
    at += static_cast<long>(sizeof(inotify_event) + ev->len);
    if ((ev->mask & IN_Q_OVERFLOW) != 0) {
      // Events were lost: look at every path again.
      rewatch = true;
      touched.assign(entries_.size(), true);
      continue;
    }
    if ((ev->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) != 0) rewatch = true;
    const std::string name = ev->len > 0 ? std::string(ev->name) : std::string();
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      const Entry& e = entries_[i];
      if (e.wd != ev->wd) continue;
      // Only a parent is watched: a folder on the way may have appeared.
      if (!e.onOwnFolder) {
        rewatch = true;
        touched[i] = true;
      } else if (name == e.name || name.empty()) {
        touched[i] = true;
      }
    }
  }
  if (rewatch) {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      const bool wasOwn = entries_[i].onOwnFolder;
      Rewatch(entries_[i]);
      if (entries_[i].onOwnFolder != wasOwn) touched[i] = true;
    }
  }
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (!touched[i]) continue;
    Entry& e = entries_[i];
    const Identity now = Look(e.path);
    const bool arrived = now.present && !(now == e.seen);
    e.seen = now;
    e.listener(now.present, arrived);
  }
}

}  // namespace irdload::station
