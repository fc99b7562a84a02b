// Lists the machine's serial ports, for `irdload-cli ports` and the dialog's port list: from sysfs
// on Linux (PortInventory.cpp), from the registry and SetupAPI on Windows
// (PortInventoryWin32.cpp).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace irdload {

/// One serial port as the system describes it. Every text field is empty when the system does
/// not have it or it cannot be read.
struct PortInfo {
  /// Device node, e.g. "/dev/ttyUSB0"; on Windows the port's name, e.g. "COM3".
  std::string device;
  /// "pc" for ttyS, "usb-serial" for ttyUSB, "usb-acm" for ttyACM.
  std::string kind;
  /// Full paths of the /dev/serial/by-id links that point at `device`, sorted.
  std::vector<std::string> byIdLinks;
  /// Full paths of the /dev/serial/by-path links (the socket the adapter is in), sorted.
  std::vector<std::string> byPathLinks;
  /// USB vendor and product ids as sysfs writes them: four hex digits, e.g. "0403", "6001".
  std::string usbVendorId, usbProductId;
  /// USB descriptor strings and the kernel driver bound to the port's device
  /// (e.g. "ftdi_sio", "cdc_acm", "serial8250").
  std::string serialNumber, manufacturer, product, driver;
  /// FTDI receive latency timer in milliseconds, when the driver exposes one and it reads as a
  /// number.
  std::optional<int> latencyTimerMs;
  /// The sysfs latency_timer file whenever it exists (even if unreadable), so a caller can report
  /// whether it may be written.
  std::string latencyTimerPath;
};

/// Where sysfs, the device nodes, processes, accounts and udev's database are; tests point these
/// at a fake tree.
struct InventoryRoots {
  std::filesystem::path sys = "/sys";
  std::filesystem::path dev = "/dev";
  std::filesystem::path proc = "/proc";
  std::filesystem::path etc = "/etc";
  std::filesystem::path run = "/run";
};

/// Lists ttyS ports backed by a real UART, then every ttyUSB, then every ttyACM, each group in
/// numeric order (ttyUSB2 before ttyUSB10). A missing sysfs directory, by-id directory or
/// attribute gives fewer ports or empty fields; this never throws a filesystem error and never
/// prints.
std::vector<PortInfo> ListSerialPorts(const InventoryRoots& roots = {});

/// One human-readable line for `port`, e.g.
///   /dev/ttyUSB0  FTDI FT232R USB UART (0403:6001, serial A1B2C3, latency 16 ms) by-id: usb-...
/// Parts that `port` lacks are left out; a port without USB ids shows its driver instead, and
/// only the by-id link names are shown, not their folder.
std::string DescribePort(const PortInfo& port);

}  // namespace irdload
