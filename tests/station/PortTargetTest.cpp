// What a path leads to, looked at without opening it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "station/PortTarget.h"
#include "support/PtyPair.h"
#include "support/TempDir.h"

namespace irdload::station {
namespace {

namespace fs = std::filesystem;

TEST(PortTargetTest, DevicesAreToldApartByThemselves) {
  test::TempDir dir;
  test::PtyPair line, other;
  fs::create_directories(dir.path() / "folder");
  ASSERT_EQ(::mkfifo((dir.path() / "fifo").c_str(), 0600), 0);
  std::ofstream(dir.path() / "file") << "x";
  fs::create_symlink(line.slavePath(), dir.path() / "a");
  fs::create_symlink(dir.path() / "a", dir.path() / "b");
  struct Case {
    std::string path;
    PortTarget::Kind kind;
    const char* what;
  };
  const Case cases[] = {
      {line.slavePath(), PortTarget::Kind::SerialDevice, ""},
      {(dir.path() / "b").string(), PortTarget::Kind::SerialDevice, ""},
      {"/dev/zero", PortTarget::Kind::NotASerialPort, "not a terminal"},
      {(dir.path() / "folder").string(), PortTarget::Kind::NotASerialPort, "a folder"},
      {(dir.path() / "fifo").string(), PortTarget::Kind::NotASerialPort, "a FIFO"},
      {(dir.path() / "file").string(), PortTarget::Kind::NotASerialPort, "a plain file"},
      {(dir.path() / "none").string(), PortTarget::Kind::Absent, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const PortTarget t = LookAt(c.path);
    EXPECT_EQ(t.kind, c.kind);
    EXPECT_NE(t.what.find(c.what), std::string::npos) << t.what;
  }
  // A link of a link and the device itself are one device; another pseudo-terminal is not.
  EXPECT_EQ(LookAt((dir.path() / "b").string()).id, LookAt(line.slavePath()).id);
  EXPECT_EQ(LookAt((dir.path() / "b").string()).device, LookAt(line.slavePath()).device);
  EXPECT_NE(LookAt(other.slavePath()).id, LookAt(line.slavePath()).id);
}

}  // namespace
}  // namespace irdload::station
