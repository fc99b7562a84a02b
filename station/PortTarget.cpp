#include "station/PortTarget.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

namespace irdload::station {
namespace {

// Whether the kernel's terminal drivers take device major:minor. Lines read
// "name /dev/prefix major minor-range type"; the system's own entries (/dev/tty, the console,
// /dev/ptmx) and pseudo-terminal masters are no serial port. Nothing when the list is not there.
std::optional<bool> IsTerminal(unsigned major, unsigned minor) {
  std::ifstream drivers("/proc/tty/drivers");
  if (!drivers) return std::nullopt;
  for (std::string line; std::getline(drivers, line);) {
    std::istringstream words(line);
    std::string name, prefix, range, type;
    unsigned driverMajor = 0;
    if (!(words >> name >> prefix >> driverMajor >> range >> type)) continue;
    if (driverMajor != major || type.rfind("system", 0) == 0 || type == "pty:master") continue;
    unsigned low = 0, high = 0;
    const auto dash = range.find('-');
    try {
      low = static_cast<unsigned>(std::stoul(range.substr(0, dash)));
      high = dash == std::string::npos ? low
                                       : static_cast<unsigned>(std::stoul(range.substr(dash + 1)));
    } catch (const std::exception&) {
      continue;
    }
    if (minor >= low && minor <= high) return true;
  }
  return false;
}

std::string Kind(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISREG(mode)) return "a plain file";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISBLK(mode)) return "a block device";
  return "no device";
}

}  // namespace

PortTarget LookAt(const std::string& path) {
  PortTarget t;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return t;
  std::error_code ec;
  t.device = std::filesystem::canonical(path, ec).string();
  if (ec) t.device = path;
  if (!S_ISCHR(st.st_mode)) {
    t.kind = PortTarget::Kind::NotASerialPort;
    t.id = {st.st_dev, st.st_ino};
    t.what = Kind(st.st_mode);
    return t;
  }
  t.id = {st.st_rdev, 0};
  if (IsTerminal(major(st.st_rdev), minor(st.st_rdev)).value_or(true)) {
    t.kind = PortTarget::Kind::SerialDevice;
  } else {
    t.kind = PortTarget::Kind::NotASerialPort;
    t.what = t.device + ", which is not a terminal device";
  }
  return t;
}

}  // namespace irdload::station
