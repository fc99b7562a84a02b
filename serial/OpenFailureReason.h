// Why a port did not open, as values rather than a sentence: the kind of failure and what a
// sentence about it names (the device, who holds it, the group to join). The English sentence
// travels beside it; a front end that speaks another language words its own from these.
#pragma once

#include <string>
#include <vector>

namespace irdload {

enum class OpenFailureKind {
  Unexplained,        ///< only the system's text (`systemText`) says why
  NotAPortName,       ///< `portName` names no serial port
  NoSuchDevice,       ///< `devicePath` does not exist: no adapter plugged in
  AdapterWithoutTty,  ///< `devicePath` does not exist, but `adapters` are plugged in with no tty
  Busy,               ///< another program holds `devicePath` (`holders`, when visible)
  PermissionDenied,   ///< this user may not open `devicePath`; `group` may
  NoSuchPortOnPc,     ///< Windows: no such port; `systemText` is the system's text
  PortInUse,          ///< Windows: refused, another program may have it; `systemText` too
};

/// A process that has the port open.
struct OpenFailureHolder {
  std::string command;  ///< "?" when unreadable
  std::string pid;
  bool self = false;  ///< this program
};

struct OpenFailureReason {
  OpenFailureKind kind = OpenFailureKind::Unexplained;
  std::string portName;               ///< as the operator chose it
  std::string devicePath;             ///< what it opened; empty for NotAPortName
  int code = 0;                       ///< errno or GetLastError(); 0 when not the system's
  std::string systemText;             ///< the system's own text for `code`, as it gave it
  std::vector<std::string> adapters;  ///< "1a86:7523 USB Serial" per adapter without a tty
  std::vector<OpenFailureHolder> holders;
  std::string group;  ///< the group whose members may open the device
};

}  // namespace irdload
