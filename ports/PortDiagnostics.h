// What the system knows about a serial port beyond its descriptor: the programs that hold it
// (from /proc), USB serial adapters that have no tty node (brltty took them, or no driver), the
// FTDI latency timer in sysfs. SerialPort words its open failures with it and `irdload-cli
// doctor` builds its checks on it. Every path goes through InventoryRoots so that tests use fake
// trees; nothing here prints.
#pragma once

#include <string>
#include <vector>

#include "ports/PortInventory.h"
#include "serial/OpenFailureReason.h"

namespace irdload {

/// A process with the port open.
struct PortHolder {
  std::string pid;
  std::string command;  // from <proc>/<pid>/comm, "?" when unreadable
  unsigned uid = 0;     // owner of the process, from its status
  bool self = false;    // this program
};

/// The processes that hold `devicePath` (or the node a link such as by-id names) open. Best
/// effort: other users' processes are only visible to root.
std::vector<PortHolder> HoldersOf(const std::string& devicePath, const InventoryRoots& roots = {});

/// True when a process with this command name (e.g. "ModemManager") runs.
bool ProcessRunning(const std::string& command, const InventoryRoots& roots = {});

/// A USB interface of a serial adapter with no tty below it: brltty claims CH340 and CP210x
/// adapters this way, and an adapter whose driver is not loaded looks the same.
struct UsbSerialWithoutTty {
  std::string interface;            // sysfs name, e.g. "1-1:1.0"
  std::string vendorId, productId;  // "1a86", "7523"
  std::string product;              // the USB product string, may be empty
  std::string driverModule;         // the kernel module that drives this chip, "" if unknown
};
std::vector<UsbSerialWithoutTty> FindUsbSerialWithoutTty(const InventoryRoots& roots = {});

/// "1a86:7523 USB Serial" style name of such an adapter.
std::string DescribeAdapter(const UsbSerialWithoutTty& adapter);

/// Why an open of `devicePath` failed with errno `code`, as values: an absent port (with the
/// adapters that lost their tty), a busy one (with who holds it) and one this user may not open
/// (with the group to join). Unexplained for any other code.
OpenFailureReason DiagnoseOpenFailure(const std::string& devicePath, int code,
                                      const InventoryRoots& roots = {});

/// The operator's English text for a reason DiagnoseOpenFailure gives; "" for Unexplained.
std::string DescribeOpenFailure(const OpenFailureReason& reason);

/// DescribeOpenFailure(DiagnoseOpenFailure(devicePath, code, roots)).
std::string ExplainOpenFailure(const std::string& devicePath, int code,
                               const InventoryRoots& roots = {});

/// Sets the FTDI receive latency timer of `devicePath` to 1 ms where sysfs has one and lets
/// this user write it (root, or a udev rule that allows it). True when it took.
bool LowerFtdiLatencyTimer(const std::string& devicePath, const InventoryRoots& roots = {});

}  // namespace irdload
