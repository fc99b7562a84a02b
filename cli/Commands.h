// The command-line front end's commands, callable from main() and from tests.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "engine/Events.h"
#include "ports/PortInventory.h"
#include "serial/SerialPort.h"

namespace irdload::cli {

/// Exit codes, as documented in --help.
enum ExitCode : int {
  EXIT_OK = 0,
  EXIT_INTERNAL = 1,     // something outside the download failed (e.g. the virtual IRD)
  EXIT_REFUSED = 2,      // usage error, or an upgrade file that cannot be sent
  EXIT_PORT = 3,         // the serial port cannot be opened
  EXIT_IRD_FAILED = 4,   // the IRD's failure terminate, or a transfer the PC had to end
  EXIT_NO_RESPONSE = 5,  // the IRD stopped answering (retry limit) or never answered in time
  EXIT_VERIFY = 6,       // --simulate: the virtual IRD's image differs from the file
  EXIT_STOPPED = 130,    // stopped by Ctrl-C (SIGINT) or SIGTERM
};

/// A receiver that the command brings along instead of a port's (send --simulate's virtual IRD).
class OwnReceiver {
 public:
  virtual ~OwnReceiver() = default;
  /// The device it listens on.
  virtual const std::string& port() const = 0;
  /// Where the port's device comes from when it is not the system's (an in-memory line).
  virtual DeviceSource deviceSource() const { return {}; }
  /// After a successful download: EXIT_OK when it holds what the engine loaded, byte for byte;
  /// EXIT_VERIFY with the complaint written otherwise.
  virtual int Verify(const std::vector<ImageLoaded>& loaded, std::ostream& out,
                     std::ostream& err) const = 0;
};

/// Starts the receiver; null with the complaint written and `exitCode` set when it cannot.
using MakeOwnReceiver =
    std::function<std::unique_ptr<OwnReceiver>(std::ostream& err, int& exitCode)>;

/// The longest --connect-timeout, in seconds: a day.
inline constexpr int kMaxConnectTimeout = 86400;
/// The most units a station port takes in one run.
inline constexpr std::uint32_t kMaxUnits = 1000000;

struct SendOptions {
  std::string port = "COM1";
  std::vector<std::string> files;
  /// Set: the download goes to this receiver, not to `port`.
  MakeOwnReceiver ownReceiver;
  std::string tracePath;
  std::chrono::seconds connectTimeout{0};  // 0: wait for the IRD until stopped
  /// How long a reply may take to start arriving (ReadByte's bound).
  std::chrono::milliseconds replyWait{50};
  bool handleSignals = true;  // tests run the command without touching the process's stop keys
  bool json = false;          // JSON Lines on `out`, the person's text on `err`
  std::string reportDir;      // one record for the unit
  std::string unitId;
};

struct StationCliOptions {
  std::vector<std::string> ports;  // as typed: PATH or LABEL=PATH
  std::vector<std::string> files;
  std::optional<std::uint32_t> units;
  int retries = 0;
  std::string nextUnit;  // prompt, replug or quiet:SECONDS; empty: prompt on a terminal
  bool askUnitId = false;
  bool json = false;
  std::string reportDir, traceDir;
  std::string name;  // the station's name on its dashboard; empty: the host's
  std::string http;  // HOST:PORT to serve the dashboard on; empty: none
  std::string mqtt, mqttCa, mqttCredentials;  // the floor's broker; empty: none
  std::chrono::seconds connectTimeout{0};
  std::chrono::milliseconds replyWait{50};
  bool handleSignals = true;
  int inputFd = 0;  // where Enter and unit ids come from
  InventoryRoots roots;
};

struct VirtualIrdOptions {
  int count = 1;
  std::uint32_t baud = 115200;
  std::string linkDir;              // links ird1, ird2, ... standing for /dev/serial/by-path
  std::vector<std::string> faults;  // for every IRD, as "Kind[@at[:value]]"
  std::uint64_t seed = 1;
  std::uint32_t repeatAfterMs = 0;  // each IRD repeats a reply left unanswered this long; 0: never
  std::uint32_t holdMs = 0;         // replies held like a USB adapter's latency timer; 0: not
  bool timing = false;              // each IRD keeps the line timing its report line shows
  bool handleSignals = true;
};

int RunSend(const SendOptions& options, std::ostream& out, std::ostream& err);
int RunStation(const StationCliOptions& options, std::ostream& out, std::ostream& err);
int RunVirtualIrd(const VirtualIrdOptions& options, std::ostream& out, std::ostream& err);
int RunInspect(const std::string& file, std::ostream& out, std::ostream& err);
int RunPorts(const InventoryRoots& roots, std::ostream& out);

struct SampleOptions {
  std::string path;
  std::size_t size = 65536;
  std::string type = "single";  // single, first, second
  std::uint32_t seed = 1;
};
int RunMakeSample(const SampleOptions& options, std::ostream& out, std::ostream& err);

/// Parses the command line and runs the command.
int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace irdload::cli
