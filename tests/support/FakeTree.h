// A fake sysfs, /dev, /proc, /etc and /run in a temporary folder, for the port inventory and
// diagnostics tests.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ports/PortInventory.h"

namespace irdload::test {

namespace fs = std::filesystem;

struct UsbAttributes {
  std::string vendor, product, serial, manufacturer, productName;
};

// A throwaway sysfs, /dev, /proc, /etc and /run laid out the way Linux does it: class and bus
// entries are relative symlinks into /sys/devices, `device` and `driver` are relative symlinks too.
class FakeTreeTest : public ::testing::Test {
 public:  // tables of cases arrange the tree from outside the fixture
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "irdload-ports-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr) << "mkdtemp: " << std::strerror(errno);
    // Canonical, so that links the code resolves compare equal to the paths tests build.
    root_ = fs::canonical(pattern);
    sys_ = root_ / "sys";
    dev_ = root_ / "dev";
    proc_ = root_ / "proc";
    etc_ = root_ / "etc";
    run_ = root_ / "run";
    for (const fs::path& dir : {sys_ / "class" / "tty", dev_, proc_, etc_, run_}) {
      fs::create_directories(dir);
    }
  }

  void TearDown() override {
    if (root_.empty()) return;
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  InventoryRoots Roots() const { return {sys_, dev_, proc_, etc_, run_}; }
  std::string Dev(const std::string& name) const { return (dev_ / name).string(); }
  fs::path UsbBus() const { return sys_ / "devices" / "pci0000:00" / "0000:00:14.0" / "usb1"; }

  static void WriteFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
  }

  static void RelativeSymlink(const fs::path& link, const fs::path& target) {
    fs::create_directories(link.parent_path());
    fs::create_symlink(target.lexically_relative(link.parent_path()), link);
  }

  void BindDriver(const fs::path& deviceDir, const std::string& bus, const std::string& driver) {
    const fs::path driverDir = sys_ / "bus" / bus / "drivers" / driver;
    fs::create_directories(driverDir);
    if (!fs::exists(fs::symlink_status(deviceDir / "driver"))) {
      RelativeSymlink(deviceDir / "driver", driverDir);
    }
  }

  // Creates <deviceDir>/tty/<name> with its `device` link and the /sys/class/tty entry.
  fs::path AddTty(const std::string& name, const fs::path& deviceDir) {
    const fs::path ttyDir = deviceDir / "tty" / name;
    fs::create_directories(ttyDir);
    WriteFile(ttyDir / "dev", "188:0\n");
    RelativeSymlink(ttyDir / "device", deviceDir);
    RelativeSymlink(sys_ / "class" / "tty" / name, ttyDir);
    return ttyDir;
  }

  // A tty known to sysfs but with no device behind it, as /sys/devices/virtual has them.
  fs::path AddVirtualTty(const std::string& name) {
    const fs::path ttyDir = sys_ / "devices" / "virtual" / "tty" / name;
    fs::create_directories(ttyDir);
    RelativeSymlink(sys_ / "class" / "tty" / name, ttyDir);
    return ttyDir;
  }

  fs::path AddUsbDevice(const std::string& busPort, const UsbAttributes& attributes) {
    const fs::path usbDir = UsbBus() / busPort;
    fs::create_directories(usbDir);
    RelativeSymlink(sys_ / "bus" / "usb" / "devices" / busPort, usbDir);
    const std::pair<const char*, const std::string*> files[] = {
        {"idVendor", &attributes.vendor},
        {"idProduct", &attributes.product},
        {"serial", &attributes.serial},
        {"manufacturer", &attributes.manufacturer},
        {"product", &attributes.productName}};
    for (const auto& [file, value] : files) {
      if (!value->empty()) WriteFile(usbDir / file, *value + "\n");
    }
    return usbDir;
  }

  // Interface 1.0 of a USB device, listed in /sys/bus/usb/devices like the device itself; an empty
  // driver leaves it unbound.
  fs::path AddUsbInterface(const fs::path& usbDir, const std::string& cls,
                           const std::string& subclass, const std::string& driver) {
    const std::string name = usbDir.filename().string() + ":1.0";
    const fs::path interfaceDir = usbDir / name;
    fs::create_directories(interfaceDir);
    WriteFile(interfaceDir / "bInterfaceClass", cls + "\n");
    WriteFile(interfaceDir / "bInterfaceSubClass", subclass + "\n");
    if (!driver.empty()) BindDriver(interfaceDir, "usb", driver);
    if (!fs::exists(fs::symlink_status(sys_ / "bus" / "usb" / "devices" / name))) {
      RelativeSymlink(sys_ / "bus" / "usb" / "devices" / name, interfaceDir);
    }
    return interfaceDir;
  }

  // ftdi_sio: interface 1-1:1.0, usb-serial device 1-1:1.0/ttyUSBn holding latency_timer.
  // Returns the usb-serial device directory.
  fs::path AddFtdiPort(int number, const fs::path& usbDir,
                       std::optional<std::string> latencyContent = "16\n") {
    const fs::path interfaceDir = AddUsbInterface(usbDir, "ff", "ff", "ftdi_sio");
    const std::string name = "ttyUSB" + std::to_string(number);
    const fs::path serialDir = interfaceDir / name;
    fs::create_directories(serialDir);
    BindDriver(serialDir, "usb-serial", "ftdi_sio");
    if (latencyContent) WriteFile(serialDir / "latency_timer", *latencyContent);
    AddTty(name, serialDir);
    return serialDir;
  }

  void AddAcmPort(int number, const fs::path& usbDir) {
    const fs::path interfaceDir = AddUsbInterface(usbDir, "02", "02", "cdc_acm");
    AddTty("ttyACM" + std::to_string(number), interfaceDir);
  }

  // bus "platform": the shared serial8250 platform device of kernels before 6.5;
  // "serial-base": the per-port device of newer kernels; "pnp": an ACPI-described UART;
  // "" : no device at all. An empty driver leaves the device unbound.
  void AddPcPort(int number, const std::string& bus, const std::string& driver,
                 const std::optional<std::string>& type) {
    const std::string name = "ttyS" + std::to_string(number);
    fs::path ttyDir;
    if (bus.empty()) {
      ttyDir = AddVirtualTty(name);
    } else {
      fs::path deviceDir = sys_ / "devices" / "platform" / "serial8250";
      if (bus == "serial-base") {
        deviceDir = deviceDir / "serial8250:0" / ("serial8250:0." + std::to_string(number));
      } else if (bus == "pnp") {
        deviceDir = sys_ / "devices" / "pnp0" / ("00:0" + std::to_string(number));
      }
      fs::create_directories(deviceDir);
      if (!driver.empty()) BindDriver(deviceDir, bus, driver);
      ttyDir = AddTty(name, deviceDir);
    }
    if (type) WriteFile(ttyDir / "type", *type + "\n");
  }

  void AddFtdiAdapter(const std::string& busPort, int number) {
    AddFtdiPort(number, AddUsbDevice(busPort, {"0403", "6001", "S" + busPort, "FTDI", "FT232R"}));
  }

  // A process in <proc> with its command name, owner and descriptors open on `paths`.
  void AddProcess(const std::string& pid, const std::string& command, unsigned uid,
                  const std::vector<fs::path>& paths = {}) {
    WriteFile(proc_ / pid / "comm", command + "\n");
    WriteFile(proc_ / pid / "status", Status(uid, uid, {}));
    fs::create_directories(proc_ / pid / "fd");
    int fd = 3;
    for (const fs::path& path : paths) {
      fs::create_symlink(path, proc_ / pid / "fd" / std::to_string(fd++));
    }
  }

  // This process as the code under test sees it, through <proc>/self/status.
  void SetSelf(unsigned uid, unsigned gid, const std::vector<unsigned>& groups) {
    WriteFile(proc_ / "self" / "status", Status(uid, gid, groups));
  }

  static std::string Status(unsigned uid, unsigned gid, const std::vector<unsigned>& groups) {
    const auto four = [](unsigned id) {
      const std::string s = std::to_string(id);
      return s + "\t" + s + "\t" + s + "\t" + s;
    };
    std::string list;
    for (unsigned g : groups) list += std::to_string(g) + " ";
    return "Name:\tirdload-cli\nUmask:\t0022\nState:\tR (running)\nUid:\t" + four(uid) +
           "\nGid:\t" + four(gid) + "\nFDSize:\t64\nGroups:\t" + list + "\nVmPeak:\t 1 kB\n";
  }

  void WriteAccounts(const std::string& passwd, const std::string& group) {
    WriteFile(etc_ / "passwd", passwd);
    WriteFile(etc_ / "group", group);
  }

  // A device node stand-in: a regular file with the given mode, owned by whoever runs the test.
  fs::path AddNode(const std::string& name, fs::perms mode) {
    WriteFile(dev_ / name, "");
    fs::permissions(dev_ / name, mode);
    return dev_ / name;
  }

  static std::vector<std::string> Devices(const std::vector<PortInfo>& ports) {
    std::vector<std::string> devices;
    for (const PortInfo& port : ports) devices.push_back(port.device);
    return devices;
  }

  fs::path root_, sys_, dev_, proc_, etc_, run_;
};

}  // namespace irdload::test
