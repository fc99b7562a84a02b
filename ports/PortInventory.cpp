#include "ports/PortInventory.h"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <system_error>
#include <tuple>
#include <utility>

#include "ports/SysFiles.h"

namespace irdload {
namespace {

namespace fs = std::filesystem;

enum class TtyFamily { kPc, kUsbSerial, kUsbAcm };

struct TtyName {
  TtyFamily family;
  unsigned long number;
  std::string name;
};

struct ByIdLink {
  fs::path link;
  fs::path target;  // where the link points, made absolute and normalised
};

// Only these three prefixes matter to a receiver loader; ttyAMA, rfcomm and the rest are not
// offered.
std::optional<TtyName> ParseTtyName(const std::string& name) {
  static constexpr std::pair<std::string_view, TtyFamily> kPrefixes[] = {
      {"ttyUSB", TtyFamily::kUsbSerial}, {"ttyACM", TtyFamily::kUsbAcm}, {"ttyS", TtyFamily::kPc}};
  for (const auto& [prefix, family] : kPrefixes) {
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
    const char* first = name.data() + prefix.size();
    const char* last = name.data() + name.size();
    if (!std::all_of(first, last, [](char c) { return c >= '0' && c <= '9'; })) return std::nullopt;
    unsigned long number = 0;
    const auto [end, ec] = std::from_chars(first, last, number);
    if (ec != std::errc{} || end != last) return std::nullopt;
    return TtyName{family, number, name};
  }
  return std::nullopt;
}

const char* KindOf(TtyFamily family) {
  switch (family) {
    case TtyFamily::kPc:
      return "pc";
    case TtyFamily::kUsbSerial:
      return "usb-serial";
    case TtyFamily::kUsbAcm:
      return "usb-acm";
  }
  return "";
}

using sysfiles::EntryExists;

// Attributes that cannot be read (missing, a directory, no permission) read as "".
std::string ReadAttribute(const fs::path& path) {
  return sysfiles::ReadSmallFile(path);
}

std::optional<int> ParseMilliseconds(const std::string& text) {
  const auto value = sysfiles::ParseUnsigned(text);
  if (!value || *value > 1'000'000) return std::nullopt;
  return static_cast<int>(*value);
}

// The driver link's own name is the driver; its target need not be followed.
std::string DriverName(const fs::path& deviceLink) {
  return sysfiles::LinkTargetName(deviceLink / "driver");
}

// Placeholder ports that serial8250 registers for every possible legacy slot have no UART behind
// them and report PORT_UNKNOWN (type 0). Since Linux 6.5 the same ports are bound to the
// serial-base "port" driver instead, so both names get the check.
bool IsRealPcPort(const fs::path& ttyDir) {
  const fs::path device = ttyDir / "device";
  std::error_code ec;
  if (!fs::exists(device, ec) || !EntryExists(device / "driver")) return false;
  const std::string driver = DriverName(device);
  if (driver != "serial8250" && driver != "port") return true;
  if (!EntryExists(ttyDir / "type")) return true;
  return ReadAttribute(ttyDir / "type") != "0";
}

bool IsBelow(const fs::path& path, const fs::path& root) {
  const auto [rootEnd, pathEnd] = std::mismatch(root.begin(), root.end(), path.begin(), path.end());
  return rootEnd == root.end() && pathEnd != path.end();
}

// The USB device is the first ancestor of the tty's device holding idVendor and idProduct. The
// walk stays strictly below the sysfs root so that a fake tree never picks up ids from outside it.
std::optional<fs::path> FindUsbDevice(const fs::path& ttyDir, const fs::path& sysRoot) {
  std::error_code ec;
  fs::path dir = fs::canonical(ttyDir / "device", ec);
  if (ec) return std::nullopt;
  for (; IsBelow(dir, sysRoot); dir = dir.parent_path()) {
    if (EntryExists(dir / "idVendor") && EntryExists(dir / "idProduct")) return dir;
  }
  return std::nullopt;
}

// The links udev keeps in /dev/serial/<folder> ("by-id", "by-path"), with their targets.
std::vector<ByIdLink> ReadSerialLinks(const fs::path& devRoot, const char* folder) {
  std::vector<ByIdLink> links;
  const fs::path byIdDir = devRoot / "serial" / folder;
  std::error_code ec;
  fs::directory_iterator it(byIdDir, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::error_code linkEc;
    if (!it->is_symlink(linkEc)) continue;
    const fs::path target = fs::read_symlink(it->path(), linkEc);
    if (linkEc) continue;
    // udev writes "../../ttyUSB0"; the device node itself may be absent in a container.
    const fs::path resolved = fs::weakly_canonical(byIdDir / target, linkEc);
    if (linkEc) continue;
    links.push_back({it->path(), resolved});
  }
  std::sort(links.begin(), links.end(),
            [](const ByIdLink& a, const ByIdLink& b) { return a.link < b.link; });
  return links;
}

PortInfo DescribeFromSysfs(const TtyName& tty, const fs::path& ttyDir, const InventoryRoots& roots,
                           const fs::path& sysRoot, const std::vector<ByIdLink>& byIdLinks,
                           const std::vector<ByIdLink>& byPathLinks) {
  PortInfo port;
  const fs::path node = roots.dev / tty.name;
  port.device = node.string();
  port.kind = KindOf(tty.family);

  std::error_code ec;
  const fs::path nodeResolved = fs::weakly_canonical(node, ec);
  if (!ec) {
    for (const ByIdLink& link : byIdLinks) {
      if (link.target == nodeResolved) port.byIdLinks.push_back(link.link.string());
    }
    for (const ByIdLink& link : byPathLinks) {
      if (link.target == nodeResolved) port.byPathLinks.push_back(link.link.string());
    }
  }

  const fs::path device = ttyDir / "device";
  port.driver = DriverName(device);

  if (tty.family != TtyFamily::kPc) {
    if (const auto usb = FindUsbDevice(ttyDir, sysRoot)) {
      port.usbVendorId = ReadAttribute(*usb / "idVendor");
      port.usbProductId = ReadAttribute(*usb / "idProduct");
      port.serialNumber = ReadAttribute(*usb / "serial");
      port.manufacturer = ReadAttribute(*usb / "manufacturer");
      port.product = ReadAttribute(*usb / "product");
    }
  }

  const fs::path latency = device / "latency_timer";
  if (EntryExists(latency)) {
    port.latencyTimerPath = latency.string();
    port.latencyTimerMs = ParseMilliseconds(ReadAttribute(latency));
  }
  return port;
}

std::vector<PortInfo> ListSerialPortsOrThrow(const InventoryRoots& roots) {
  std::vector<PortInfo> ports;
  const fs::path classTty = roots.sys / "class" / "tty";
  std::error_code ec;
  fs::directory_iterator it(classTty, ec);
  if (ec) return ports;

  std::vector<TtyName> names;
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    if (auto tty = ParseTtyName(it->path().filename().string())) names.push_back(std::move(*tty));
  }
  std::sort(names.begin(), names.end(), [](const TtyName& a, const TtyName& b) {
    return std::tie(a.family, a.number, a.name) < std::tie(b.family, b.number, b.name);
  });

  fs::path sysRoot = fs::weakly_canonical(roots.sys, ec);
  if (ec) sysRoot = roots.sys;
  const std::vector<ByIdLink> byIdLinks = ReadSerialLinks(roots.dev, "by-id");
  const std::vector<ByIdLink> byPathLinks = ReadSerialLinks(roots.dev, "by-path");

  for (const TtyName& tty : names) {
    const fs::path ttyDir = classTty / tty.name;
    if (tty.family == TtyFamily::kPc && !IsRealPcPort(ttyDir)) continue;
    // One port's odd sysfs entry must not hide the others.
    try {
      ports.push_back(DescribeFromSysfs(tty, ttyDir, roots, sysRoot, byIdLinks, byPathLinks));
    } catch (const fs::filesystem_error&) {
    }
  }
  return ports;
}

}  // namespace

std::vector<PortInfo> ListSerialPorts(const InventoryRoots& roots) {
  try {
    return ListSerialPortsOrThrow(roots);
  } catch (const fs::filesystem_error&) {
    return {};
  }
}

}  // namespace irdload
