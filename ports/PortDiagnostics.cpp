#include "ports/PortDiagnostics.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "ports/PortAccess.h"
#include "ports/SysFiles.h"

namespace irdload {
namespace {

namespace fs = std::filesystem;
using sysfiles::EntryExists;
using sysfiles::ReadSmallFile;

// USB serial chips whose interfaces are vendor-specific (class ff), so that only their ids say
// what they are. A whole vendor id is an FTDI part whatever the product id.
struct SerialChip {
  std::string_view vendor, product;  // product "" matches any
  std::string_view module;
};
constexpr SerialChip kSerialChips[] = {
    {"0403", "", "ftdi_sio"},    // FTDI FT232R, FT2232, FT232H, FT-X
    {"1a86", "7523", "ch341"},   // QinHeng CH340
    {"1a86", "5523", "ch341"},   // QinHeng CH341
    {"10c4", "ea60", "cp210x"},  // Silicon Labs CP2102/CP2104
    {"10c4", "ea70", "cp210x"},  // Silicon Labs CP2105
    {"067b", "2303", "pl2303"},  // Prolific PL2303
    {"067b", "23a3", "pl2303"},  // Prolific PL2303GC
};

// Kernel drivers that make a tty out of a USB interface.
constexpr std::string_view kSerialDrivers[] = {"ftdi_sio", "ch341",  "cp210x",           "pl2303",
                                               "cdc_acm",  "option", "usbserial_generic"};

const SerialChip* FindChip(const std::string& vendor, const std::string& product) {
  for (const SerialChip& chip : kSerialChips) {
    if (chip.vendor == vendor && (chip.product.empty() || chip.product == product)) return &chip;
  }
  return nullptr;
}

bool IsSerialDriver(const std::string& driver) {
  return std::find(std::begin(kSerialDrivers), std::end(kSerialDrivers), driver) !=
         std::end(kSerialDrivers);
}

// usb-serial drivers put ttyUSBn right below the interface, cdc_acm puts tty/ttyACMn there.
bool HasTtyBelow(const fs::path& interfaceDir) {
  if (EntryExists(interfaceDir / "tty")) return true;
  std::error_code ec;
  fs::directory_iterator it(interfaceDir, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    if (it->path().filename().string().rfind("ttyUSB", 0) == 0) return true;
  }
  return false;
}

std::string JoinHolders(const std::vector<OpenFailureHolder>& holders) {
  std::string text;
  for (const OpenFailureHolder& h : holders) {
    if (!text.empty()) text += ", ";
    text += h.command + " (pid " + h.pid + (h.self ? ", this program" : "") + ")";
  }
  return text;
}

std::string AbsentText(const OpenFailureReason& r) {
  const std::string text = "no such device: " + r.devicePath + " does not exist";
  if (r.adapters.empty()) return text + " (is the adapter plugged in?)";
  std::string adapters;
  for (const std::string& adapter : r.adapters) {
    adapters += (adapters.empty() ? "" : ", ") + adapter;
  }
  return text + ". The USB serial adapter " + adapters +
         " is plugged in but has no serial port: another program (brltty) may have claimed it. "
         "Run 'irdload-cli doctor' for the command that frees it.";
}

std::string BusyText(const OpenFailureReason& r) {
  const std::string holders = JoinHolders(r.holders);
  std::string text = "the port " + r.devicePath + " is busy: another program holds it";
  if (!holders.empty()) text += " (" + holders + ")";
  return text + ". Close that program and try again.";
}

std::string PermissionText(const OpenFailureReason& r) {
  return "permission denied: this user may not open " + r.devicePath + ". Add the user to the '" +
         r.group + "' group (sudo usermod -aG " + r.group + " $USER), then log out and in again.";
}

}  // namespace

std::vector<PortHolder> HoldersOf(const std::string& devicePath, const InventoryRoots& roots) {
  std::error_code ec;
  fs::path target = fs::canonical(devicePath, ec);
  if (ec) target = devicePath;
  // In the real /proc, "self" links to this process's own pid.
  const std::string selfPid = sysfiles::LinkTargetName(roots.proc / "self");

  std::vector<PortHolder> holders;
  std::vector<std::string> pids = sysfiles::NumericEntries(roots.proc);
  std::sort(pids.begin(), pids.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  for (const std::string& pid : pids) {
    const fs::path fdDir = roots.proc / pid / "fd";
    bool holds = false;
    fs::directory_iterator it(fdDir, ec);
    for (; !ec && !holds && it != fs::directory_iterator(); it.increment(ec)) {
      std::error_code linkEc;
      holds = fs::read_symlink(it->path(), linkEc) == target && !linkEc;
    }
    ec.clear();
    if (!holds) continue;
    PortHolder holder;
    holder.pid = pid;
    holder.command = ReadSmallFile(roots.proc / pid / "comm");
    if (holder.command.empty()) holder.command = "?";
    if (const auto who = IdentityOf(pid, roots)) holder.uid = who->uid;
    holder.self = pid == selfPid;
    holders.push_back(std::move(holder));
  }
  return holders;
}

bool ProcessRunning(const std::string& command, const InventoryRoots& roots) {
  for (const std::string& pid : sysfiles::NumericEntries(roots.proc)) {
    if (ReadSmallFile(roots.proc / pid / "comm") == command) return true;
  }
  return false;
}

std::vector<UsbSerialWithoutTty> FindUsbSerialWithoutTty(const InventoryRoots& roots) {
  std::vector<UsbSerialWithoutTty> found;
  std::error_code ec;
  fs::directory_iterator it(roots.sys / "bus" / "usb" / "devices", ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.find(':') == std::string::npos) continue;  // a device, not an interface
    std::error_code pathEc;
    const fs::path interfaceDir = fs::canonical(it->path(), pathEc);
    if (pathEc) continue;
    const fs::path deviceDir = interfaceDir.parent_path();
    UsbSerialWithoutTty adapter{name, ReadSmallFile(deviceDir / "idVendor"),
                                ReadSmallFile(deviceDir / "idProduct"),
                                ReadSmallFile(deviceDir / "product"), ""};
    const std::string driver = sysfiles::LinkTargetName(interfaceDir / "driver");
    const std::string cls = ReadSmallFile(interfaceDir / "bInterfaceClass");
    const bool acm = cls == "02" && ReadSmallFile(interfaceDir / "bInterfaceSubClass") == "02";
    const SerialChip* chip = FindChip(adapter.vendorId, adapter.productId);
    const bool serial = IsSerialDriver(driver) || acm || (chip && cls == "ff");
    if (!serial || HasTtyBelow(interfaceDir)) continue;
    adapter.driverModule = chip ? std::string(chip->module) : acm ? "cdc_acm" : "";
    found.push_back(std::move(adapter));
  }
  std::sort(found.begin(), found.end(),
            [](const auto& a, const auto& b) { return a.interface < b.interface; });
  return found;
}

std::string DescribeAdapter(const UsbSerialWithoutTty& adapter) {
  std::string text = adapter.vendorId + ":" + adapter.productId;
  if (!adapter.product.empty()) text += " " + adapter.product;
  return text;
}

OpenFailureReason DiagnoseOpenFailure(const std::string& devicePath, int code,
                                      const InventoryRoots& roots) {
  OpenFailureReason r;
  r.devicePath = devicePath;
  r.code = code;
  switch (code) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
      for (const auto& adapter : FindUsbSerialWithoutTty(roots)) {
        r.adapters.push_back(DescribeAdapter(adapter));
      }
      r.kind =
          r.adapters.empty() ? OpenFailureKind::NoSuchDevice : OpenFailureKind::AdapterWithoutTty;
      break;
    case EBUSY:
      r.kind = OpenFailureKind::Busy;
      for (const PortHolder& h : HoldersOf(devicePath, roots)) {
        r.holders.push_back({h.command, h.pid, h.self});
      }
      break;
    case EACCES:
    case EPERM:
      r.kind = OpenFailureKind::PermissionDenied;
      if (const auto node = OwnershipOf(devicePath)) r.group = GroupName(node->gid, roots);
      if (r.group.empty()) r.group = "dialout";
      break;
    default:
      break;
  }
  return r;
}

std::string DescribeOpenFailure(const OpenFailureReason& reason) {
  switch (reason.kind) {
    case OpenFailureKind::NoSuchDevice:
    case OpenFailureKind::AdapterWithoutTty:
      return AbsentText(reason);
    case OpenFailureKind::Busy:
      return BusyText(reason);
    case OpenFailureKind::PermissionDenied:
      return PermissionText(reason);
    default:
      return {};
  }
}

std::string ExplainOpenFailure(const std::string& devicePath, int code,
                               const InventoryRoots& roots) {
  return DescribeOpenFailure(DiagnoseOpenFailure(devicePath, code, roots));
}

bool LowerFtdiLatencyTimer(const std::string& devicePath, const InventoryRoots& roots) {
  std::error_code ec;
  const fs::path node = fs::canonical(devicePath, ec);
  if (ec) return false;
  const fs::path timer = roots.sys / "class" / "tty" / node.filename() / "device" / "latency_timer";
  int fd;
  do {
    fd = ::open(timer.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  ssize_t n;
  do {
    n = ::write(fd, "1\n", 2);
  } while (n < 0 && errno == EINTR);
  ::close(fd);
  return n == 2;
}

}  // namespace irdload
