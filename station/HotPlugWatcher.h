// One watcher for every port's path: inotify on the folder each path lives in (or, while that
// folder does not exist, as /dev/serial does not without a USB adapter, on its nearest existing
// parent), one thread, no polling. Each path's listener hears when its path appears, vanishes,
// or is replaced by a new device under the same name.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace irdload::station {

class HotPlugWatcher {
 public:
  /// `present`: the path leads to something (a link to nothing counts as absent). `arrived`:
  /// it has just appeared, or was replaced, since the last call. Called once at Start with the
  /// state then (arrived false), later on the watcher's thread, and again on any change in the
  /// path's folder that touches it (so a listener waiting to retry an open hears of it).
  using Listener = std::function<void(bool present, bool arrived)>;

  HotPlugWatcher() = default;
  /// Ends the thread.
  ~HotPlugWatcher();
  HotPlugWatcher(const HotPlugWatcher&) = delete;
  HotPlugWatcher& operator=(const HotPlugWatcher&) = delete;

  /// What a path leads to: compared to tell a replug from nothing new.
  struct Identity {
    bool present = false;
    std::uint64_t device = 0, inode = 0, linkInode = 0;
    bool operator==(const Identity&) const = default;
  };

  /// Before Start only.
  void Add(std::string path, Listener listener);
  /// False with the call and its errno text in `error`.
  bool Start(std::string* error);
  void Stop();

 private:
  struct Entry {
    std::string path, folder, name;
    Listener listener;
    Identity seen;
    int wd = -1;               // the watch this entry listens on
    bool onOwnFolder = false;  // false while only a parent folder exists
  };

  void Rewatch(Entry& e);
  void Run();
  void HandleEvents(const char* buffer, long length);

  std::vector<Entry> entries_;
  int fd_ = -1;
  int wakeFd_ = -1;
  std::jthread thread_;
};

}  // namespace irdload::station
