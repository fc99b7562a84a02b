// The Linux build's own commands and options: the virtual IRD (send --simulate, virtual-ird) on
// pseudo-terminals, the station (inotify, signalfd) and the doctor (/proc, sysfs, udev).
#include "cli/Doctor.h"
#include "cli/FleetCommand.h"
#include "cli/PlatformCommands.h"
#include "cli/SimulatedReceiver.h"
#include "cli/StationCommand.h"
#include "cli/WholeNumber.h"

namespace irdload::cli {

struct PlatformCommands::State {
  bool simulate = false;
  std::uint32_t simulateBaud = 115200;  // the virtual IRD's line pacing; 0 = unpaced
  std::vector<std::string> simulateFaults;

  std::unique_ptr<StationCommand> station;
  std::unique_ptr<FleetCommand> fleet;

  VirtualIrdOptions farm;
  CLI::App* farmCmd = nullptr;

  DoctorOptions doctor;
  CLI::App* doctorCmd = nullptr;
};

PlatformCommands::PlatformCommands() : state_(std::make_unique<State>()) {}
PlatformCommands::~PlatformCommands() = default;

std::string PlatformCommands::PortHelp() {
  return "Serial port: COM1..COM4 (/dev/ttyS0..3) or a device path such as /dev/ttyUSB0";
}

std::string PlatformCommands::ExitCodes() {
  return "Exit codes: 0 success; 1 internal failure; 2 usage error or an upgrade file that cannot "
         "be sent; 3 the serial port cannot be opened; 4 the IRD reported failure (or the "
         "transfer had to be ended); 5 no response from the IRD; 6 --simulate found the image "
         "differs; 130 stopped by Ctrl-C.";
}

void PlatformCommands::AddSendOptions(CLI::App& send) {
  State& s = *state_;
  CLI::Option* simulate =
      send.add_flag("--simulate", s.simulate,
                    "Send to the built-in virtual IRD instead of a port, then check it "
                    "received the image byte for byte");
  send.add_option("--baud", s.simulateBaud,
                  "With --simulate: the virtual line's speed (0: as fast as possible)")
      ->capture_default_str()
      ->needs(simulate);
  send.add_option("--simulate-fault", s.simulateFaults,
                  "With --simulate: make the virtual IRD misbehave, as Kind[@at[:value]] "
                  "(NackHeader, NackPacket, DropReply, CorruptReply, ClearBit20, Garbage, "
                  "SilentFrom, FailTerminate, CorruptPacketByte, DelayReply, HangUpAt)")
      ->needs(simulate);
}

void PlatformCommands::AddCommands(CLI::App& app) {
  State& s = *state_;
  s.station = std::make_unique<StationCommand>(app);
  s.fleet = std::make_unique<FleetCommand>(app);

  VirtualIrdOptions& farm = s.farm;
  s.farmCmd = app.add_subcommand(
      "virtual-ird",
      "Run virtual IRDs on pseudo-terminals, for trying the station without receivers");
  CLI::App* farmCmd = s.farmCmd;
  farmCmd->add_option("--count", farm.count, "IRDs plugged in at the start")
      ->capture_default_str()
      ->check(WholeNumber(0, 999));
  farmCmd->add_option("--links", farm.linkDir,
                      "Folder for the links ird1, ird2, ... (standing for /dev/serial/by-path)");
  farmCmd->add_option("--baud", farm.baud, "Line speed (0: as fast as possible)")
      ->capture_default_str();
  farmCmd->add_option("--fault", farm.faults, "A fault for every IRD, as Kind[@at[:value]]")
      ->allow_extra_args(false);
  farmCmd->add_option("--seed", farm.seed, "Seed of the faults' details")->capture_default_str();
  farmCmd
      ->add_option("--repeat-after", farm.repeatAfterMs,
                   "Milliseconds after which an IRD repeats a reply left unanswered (0: never)")
      ->check(CLI::Range(0, 60000));
  farmCmd
      ->add_option("--hold", farm.holdMs,
                   "Milliseconds a USB adapter's latency timer holds each reply (0: not held)")
      ->check(CLI::Range(0, 255));
  farmCmd->add_flag("--timing", farm.timing, "Report each IRD's line time (for benchmarks)");

  DoctorOptions& doctor = s.doctor;
  s.doctorCmd = app.add_subcommand(
      "doctor",
      "Check this machine for what stops a download, each problem with the command that "
      "fixes it (exit 0 all pass, 1 warnings, 2 failures)");
  CLI::App* doctorCmd = s.doctorCmd;
  doctorCmd->add_option("port", doctor.port,
                        "COM1..COM4 or a device path; every port found when left out");
  doctorCmd->add_flag("--json", doctor.json, "Write one JSON object for scripts");
  doctorCmd->footer(
      "Exit codes: 0 every check passed; 1 warnings; 2 failures. The optional udev "
      "rule that the fixes install: " +
      InstalledUdevRuleTemplate());
}

void PlatformCommands::PrepareSend(SendOptions& send) {
  const State& s = *state_;
  if (!s.simulate) return;
  send.ownReceiver = [baud = s.simulateBaud, faults = s.simulateFaults](std::ostream& err,
                                                                        int& exitCode) {
    return StartSimulatedReceiver(baud, faults, err, exitCode);
  };
}

std::optional<int> PlatformCommands::Run(std::ostream& out, std::ostream& err) {
  State& s = *state_;
  if (s.station->chosen()) return s.station->Run(out, err);
  if (s.fleet->chosen()) return s.fleet->Run(out, err);
  if (*s.farmCmd) return RunVirtualIrd(s.farm, out, err);
  if (*s.doctorCmd) return RunDoctor(s.doctor, {{}, InstalledUdevRuleTemplate()}, out);
  return std::nullopt;
}

std::string PlatformCommands::Unavailable(int, const char* const*) {
  return {};
}

}  // namespace irdload::cli
