// The watcher on a real folder: links that appear in a folder that did not exist, vanish, are
// replaced, or lead nowhere.
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "station/HotPlugWatcher.h"
#include "support/TempDir.h"

namespace irdload::station {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// What the listener heard, with a bounded wait for the next change.
struct Heard {
  std::mutex mu;
  std::condition_variable cv;
  bool present = false;
  int arrivals = 0, calls = 0;

  void On(bool p, bool arrived) {
    std::lock_guard lk(mu);
    present = p;
    arrivals += arrived ? 1 : 0;
    ++calls;
    cv.notify_all();
  }
  bool WaitFor(bool p, int arrivalCount, std::chrono::milliseconds bound = 10s) {
    std::unique_lock lk(mu);
    return cv.wait_for(lk, bound, [&] { return present == p && arrivals == arrivalCount; });
  }
};

TEST(HotPlugWatcherTest, FollowsALinkThroughFoldersThatComeAndGo) {
  test::TempDir dir;
  const fs::path device = dir.path() / "ttyUSB0";
  std::ofstream(device).put('x');
  const fs::path byPath = dir.path() / "serial" / "by-path";
  const fs::path link = byPath / "pci-0000:00:14.0-usb-0:1:1.0-port0";
  Heard heard;
  HotPlugWatcher watcher;
  watcher.Add(link.string(), [&](bool p, bool a) { heard.On(p, a); });
  std::string error;
  ASSERT_TRUE(watcher.Start(&error)) << error;
  EXPECT_TRUE(heard.WaitFor(false, 0));

  // udev makes the folders and the link when the first adapter arrives.
  fs::create_directories(byPath);
  fs::create_symlink(device, link);
  EXPECT_TRUE(heard.WaitFor(true, 1));

  fs::remove(link);
  EXPECT_TRUE(heard.WaitFor(false, 1));

  // A link to nothing is no adapter; its device appearing later is.
  const fs::path later = dir.path() / "ttyUSB1";
  fs::create_symlink(later, link);
  EXPECT_FALSE(heard.WaitFor(true, 2, 500ms)) << "a dangling link counted as present";
  fs::remove(link);

  // Replaced in one rename: the same name now leads to another device, as after a replug.
  fs::create_symlink(device, link);
  EXPECT_TRUE(heard.WaitFor(true, 2));
  const fs::path tmp = byPath / ".new";
  std::ofstream(later).put('y');
  fs::create_symlink(later, tmp);
  fs::rename(tmp, link);
  EXPECT_TRUE(heard.WaitFor(true, 3));

  // The last adapter goes: udev removes the folders too.
  fs::remove_all(dir.path() / "serial");
  EXPECT_TRUE(heard.WaitFor(false, 3));
  fs::create_directories(byPath);
  fs::create_symlink(device, link);
  EXPECT_TRUE(heard.WaitFor(true, 4));
  // Each arrival was heard once, however the kernel's events were batched.
  EXPECT_FALSE(heard.WaitFor(true, 5, 300ms));
}

}  // namespace
}  // namespace irdload::station
