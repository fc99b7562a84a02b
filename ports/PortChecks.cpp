#include "ports/PortChecks.h"

#include <cerrno>
#include <filesystem>
#include <optional>
#include <system_error>

#include "ports/PortAccess.h"
#include "ports/PortDiagnostics.h"
#include "ports/SysFiles.h"
#include "serial/PortName.h"

namespace irdload {
namespace {

namespace fs = std::filesystem;

const char* const kRulesFile = "/etc/udev/rules.d/60-irdload.rules";

CheckResult Pass(const char* check, const std::string& port, std::string summary) {
  return {check, CheckStatus::Pass, port, std::move(summary), ""};
}

CheckResult Problem(CheckStatus status, const char* check, const std::string& port,
                    std::string summary, std::string fix) {
  return {check, status, port, std::move(summary), std::move(fix)};
}

std::string Join(const std::vector<std::string>& parts, const std::string& separator) {
  std::string text;
  for (const auto& part : parts) text += (text.empty() ? "" : separator) + part;
  return text;
}

bool IsUsb(const PortInfo& port) {
  return port.kind == "usb-serial" || port.kind == "usb-acm";
}

bool IsHexId(const std::string& id) {
  return id.size() == 4 && id.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

// COMn names a /dev/ttyS port; in a fake tree it is looked for under the tree's dev root.
std::string DevicePath(const std::string& portName, const InventoryRoots& roots) {
  return DevicePathForPortName(portName, roots.dev);
}

// The inventory's entry for `path` (a by-id link finds its node), or a bare one for a device the
// inventory does not list, such as a pseudo-terminal.
PortInfo DescribeNode(const std::string& path, const std::vector<PortInfo>& ports) {
  std::error_code ec;
  const fs::path node = fs::canonical(path, ec);
  for (const PortInfo& port : ports) {
    std::error_code portEc;
    if (!ec && fs::canonical(port.device, portEc) == node && !portEc) return port;
  }
  PortInfo bare;
  bare.device = path;
  return bare;
}

CheckResult AccessCheck(const PortInfo& port, const CheckSetup& setup) {
  const auto who = CurrentIdentity(setup.roots);
  const auto node = OwnershipOf(port.device);
  if (!who || !node) {
    return Problem(CheckStatus::Warn, "access", port.device,
                   "cannot tell whether this user may open " + port.device,
                   "ls -lL " + port.device + " && id");
  }
  std::string group = GroupName(node->gid, setup.roots);
  if (group.empty()) group = std::to_string(node->gid);
  if (MayAccess(*who, *node, true)) {
    return Pass(
        "access", port.device,
        who->uid == 0 ? "running as root" : "this user may open it (group '" + group + "')");
  }
  if (AccountInGroup(who->uid, node->gid, setup.roots)) {
    return Problem(CheckStatus::Fail, "access", port.device,
                   "this user is in the group '" + group +
                       "' but this login is not yet: log out and in again, or for this shell "
                       "only run the fix",
                   "newgrp " + group);
  }
  return Problem(CheckStatus::Fail, "access", port.device,
                 "this user may not open it: only the group '" + group +
                     "' may; log out and in again after the fix",
                 "sudo usermod -aG " + group + " $USER");
}

CheckResult HolderCheck(const PortInfo& port, const CheckSetup& setup) {
  const auto who = CurrentIdentity(setup.roots);
  std::vector<std::string> names, ownPids, otherPids;
  bool modemManager = false;
  for (const PortHolder& holder : HoldersOf(port.device, setup.roots)) {
    if (holder.self) continue;
    names.push_back(holder.command + " (pid " + holder.pid + ")");
    if (holder.command == "ModemManager") {
      modemManager = true;
    } else if (who && who->uid == holder.uid) {
      ownPids.push_back(holder.pid);
    } else {
      otherPids.push_back(holder.pid);
    }
  }
  if (names.empty()) {
    const bool root = who && who->uid == 0;
    return Pass("holder", port.device,
                std::string("no other program has it open") +
                    (root ? "" : " (of the processes this user can see)"));
  }
  std::vector<std::string> fixes;
  if (modemManager) fixes.push_back("sudo systemctl stop ModemManager");
  if (!ownPids.empty()) fixes.push_back("kill " + Join(ownPids, " "));
  if (!otherPids.empty()) fixes.push_back("sudo kill " + Join(otherPids, " "));
  return Problem(CheckStatus::Fail, "holder", port.device,
                 "held open by " + Join(names, ", ") + ": close it first", Join(fixes, " && "));
}

// udev's database entry for the tty says whether a rule told ModemManager to keep off.
bool ModemManagerIgnores(const PortInfo& port, const InventoryRoots& roots) {
  const std::string name = fs::path(port.device).filename().string();
  const std::string devNumbers =
      sysfiles::ReadSmallFile(roots.sys / "class" / "tty" / name / "dev");
  if (devNumbers.empty()) return false;
  const std::string data =
      sysfiles::ReadSmallFile(roots.run / "udev" / "data" / ("c" + devNumbers), 1 << 16);
  for (const std::string& line : sysfiles::Split(data, '\n')) {
    if (line == "E:ID_MM_DEVICE_IGNORE=1" || line == "E:ID_MM_PORT_IGNORE=1") return true;
  }
  return false;
}

CheckResult ModemManagerCheck(const PortInfo& port, const CheckSetup& setup) {
  if (!IsUsb(port)) {
    return Pass("modemmanager", port.device, "not a USB port: ModemManager leaves it alone");
  }
  if (!ProcessRunning("ModemManager", setup.roots)) {
    return Pass("modemmanager", port.device, "ModemManager is not running");
  }
  if (ModemManagerIgnores(port, setup.roots)) {
    return Pass("modemmanager", port.device, "ModemManager runs but a udev rule keeps it off");
  }
  std::string fix = UdevRuleCommand(port, setup.udevRuleTemplate);
  if (fix.empty()) fix = "sudo systemctl disable --now ModemManager";
  return Problem(CheckStatus::Warn, "modemmanager", port.device,
                 "ModemManager is running and may probe the adapter with modem commands when it "
                 "is plugged in",
                 fix);
}

std::optional<CheckResult> LatencyCheck(const PortInfo& port, const CheckSetup& setup) {
  if (port.latencyTimerPath.empty()) return std::nullopt;  // not an FTDI adapter
  if (port.latencyTimerMs && *port.latencyTimerMs <= 1) {
    return Pass("latency", port.device, "FTDI latency timer is 1 ms");
  }
  const std::string now =
      port.latencyTimerMs ? std::to_string(*port.latencyTimerMs) + " ms" : "unreadable";
  const auto who = CurrentIdentity(setup.roots);
  const auto timer = OwnershipOf(port.latencyTimerPath);
  if (who && timer && MayAccess(*who, *timer, true)) {
    return Pass("latency", port.device,
                "FTDI latency timer is " + now + "; irdload sets 1 ms when it opens the port");
  }
  return Problem(CheckStatus::Warn, "latency", port.device,
                 "FTDI latency timer is " + now +
                     " and this user may not lower it, so each reply may wait that long "
                     "(the udev rule sets it for good)",
                 "echo 1 | sudo tee " + port.latencyTimerPath);
}

CheckResult NamesCheck(const PortInfo& port, const CheckSetup& setup) {
  if (!IsUsb(port)) return Pass("names", port.device, "a built-in port: its name does not change");
  std::vector<std::string> names = port.byIdLinks;
  names.insert(names.end(), port.byPathLinks.begin(), port.byPathLinks.end());
  if (!names.empty()) {
    return Pass("names", port.device, "stable names for --port: " + Join(names, ", "));
  }
  std::string fix = UdevRuleCommand(port, setup.udevRuleTemplate);
  if (fix.empty()) fix = "sudo udevadm trigger --subsystem-match=tty";
  return Problem(CheckStatus::Warn, "names", port.device,
                 "no /dev/serial/by-id name: the number may change when the adapter is plugged "
                 "in again",
                 fix);
}

CheckResult BrlttyCheck(const CheckSetup& setup) {
  const auto adapters = FindUsbSerialWithoutTty(setup.roots);
  const bool brltty = ProcessRunning("brltty", setup.roots) ||
                      sysfiles::EntryExists(setup.roots.etc / "brltty.conf");
  if (adapters.empty()) {
    return Pass(
        "brltty", "",
        brltty ? "brltty is installed but holds no USB serial adapter" : "brltty is not installed");
  }
  std::vector<std::string> names, modules;
  for (const auto& adapter : adapters) {
    names.push_back(DescribeAdapter(adapter));
    if (!adapter.driverModule.empty()) modules.push_back(adapter.driverModule);
  }
  if (brltty) {
    return Problem(CheckStatus::Fail, "brltty", "",
                   "the USB serial adapter " + Join(names, ", ") +
                       " has no serial port: brltty (the braille display service) has claimed "
                       "it; unless a braille display is used, remove brltty and plug the "
                       "adapter in again",
                   "sudo apt-get remove brltty");
  }
  return Problem(
      CheckStatus::Warn, "brltty", "",
      "the USB serial adapter " + Join(names, ", ") +
          " has no serial port: its driver is not loaded or another program claimed "
          "it",
      modules.empty() ? "sudo modprobe usbserial" : "sudo modprobe " + Join(modules, " "));
}

void CheckPort(const PortInfo& port, const CheckSetup& setup, std::vector<CheckResult>& results) {
  const std::string described = DescribePort(port);
  results.push_back(
      Pass("port", port.device,
           described == port.device ? "a device node" : described.substr(port.device.size() + 2)));
  results.push_back(AccessCheck(port, setup));
  results.push_back(HolderCheck(port, setup));
  results.push_back(ModemManagerCheck(port, setup));
  if (auto latency = LatencyCheck(port, setup)) results.push_back(std::move(*latency));
  results.push_back(NamesCheck(port, setup));
}

}  // namespace

std::vector<CheckResult> RunPortChecks(const std::string& portName, const CheckSetup& setup) {
  std::vector<CheckResult> results;
  const auto ports = ListSerialPorts(setup.roots);
  CheckResult brltty = BrlttyCheck(setup);

  if (portName.empty()) {
    if (ports.empty()) {
      results.push_back(Problem(CheckStatus::Fail, "port", "",
                                "no serial port found: plug the adapter in, then run the fix",
                                "irdload-cli doctor"));
    }
    for (const PortInfo& port : ports) CheckPort(port, setup, results);
  } else {
    const std::string path = DevicePath(portName, setup.roots);
    if (path.empty()) {
      results.push_back(Problem(CheckStatus::Fail, "port", portName,
                                "\"" + portName + "\" names no serial port; the fix lists them",
                                "irdload-cli ports"));
    } else if (std::error_code ec; !fs::exists(path, ec)) {
      // An adapter that lost its tty is the likelier cause than one not plugged in.
      results.push_back(Problem(CheckStatus::Fail, "port", path,
                                ExplainOpenFailure(path, ENOENT, setup.roots),
                                brltty.fix.empty() ? "irdload-cli ports" : brltty.fix));
    } else {
      CheckPort(DescribeNode(path, ports), setup, results);
    }
  }
  results.push_back(std::move(brltty));
  return results;
}

CheckStatus WorstStatus(const std::vector<CheckResult>& results) {
  CheckStatus worst = CheckStatus::Pass;
  for (const CheckResult& r : results) {
    if (static_cast<int>(r.status) > static_cast<int>(worst)) worst = r.status;
  }
  return worst;
}

const char* StatusName(CheckStatus status) {
  switch (status) {
    case CheckStatus::Pass:
      return "pass";
    case CheckStatus::Warn:
      return "warn";
    case CheckStatus::Fail:
      return "fail";
  }
  return "";
}

std::string UdevRuleCommand(const PortInfo& port, const std::string& templatePath) {
  if (!IsHexId(port.usbVendorId) || !IsHexId(port.usbProductId)) return {};
  std::string sed =
      "sed -e 's/@VENDOR@/" + port.usbVendorId + "/' -e 's/@PRODUCT@/" + port.usbProductId + "/'";
  // A serial number that needs quoting is left out: the rule then matches by ids alone.
  const bool plainSerial =
      !port.serialNumber.empty() &&
      port.serialNumber.find_first_not_of(
          "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz._-") == std::string::npos;
  sed += plainSerial ? " -e 's/@SERIAL@/" + port.serialNumber + "/'"
                     : " -e 's/ ATTRS{serial}==\"@SERIAL@\",//'";
  return sed + " " + templatePath + " | sudo tee " + kRulesFile +
         " >/dev/null && sudo udevadm control --reload && sudo udevadm trigger "
         "--subsystem-match=tty --subsystem-match=usb-serial";
}

}  // namespace irdload
