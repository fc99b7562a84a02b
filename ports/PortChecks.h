// The pre-flight checks of `irdload-cli doctor`: everything on this machine that commonly stops a
// serial download before the IRD is ever reached, each found problem with the exact command that
// fixes it. Plain values; the command line prints them.
#pragma once

#include <string>
#include <vector>

#include "ports/PortInventory.h"

namespace irdload {

enum class CheckStatus { Pass, Warn, Fail };

struct CheckResult {
  /// Short name: "port", "access", "holder", "modemmanager", "latency", "names" or "brltty".
  std::string check;
  CheckStatus status = CheckStatus::Pass;
  /// The device the line is about; empty for machine-wide checks.
  std::string port;
  /// What was found, in one sentence.
  std::string summary;
  /// The command that fixes it; empty when the check passed.
  std::string fix;
};

struct CheckSetup {
  InventoryRoots roots;
  /// The installed udev rule template whose fields the fix commands fill in.
  std::string udevRuleTemplate;
};

/// Checks `portName` (COM1..COM4 or a device path), or every port found when it is empty, then
/// the machine-wide brltty check. Never throws, never prints.
std::vector<CheckResult> RunPortChecks(const std::string& portName, const CheckSetup& setup);

/// Fail over Warn over Pass; Pass for no results.
CheckStatus WorstStatus(const std::vector<CheckResult>& results);

const char* StatusName(CheckStatus status);

/// The shell command that installs the udev rule template for `port`'s USB adapter (ModemManager
/// kept off it, the /dev/irdload link, FTDI latency 1 ms) and applies it; "" when the port has
/// no usable USB ids.
std::string UdevRuleCommand(const PortInfo& port, const std::string& templatePath);

}  // namespace irdload
