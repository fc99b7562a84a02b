// The Windows build has the commands every build has, and send --simulate on the in-memory line;
// the station, the doctor and the pseudo-terminal's virtual IRDs stand on Linux's
// pseudo-terminals, inotify, signalfd and /proc. Whoever asks for one of them hears so, instead
// of only that the word is unknown.
#include <cstring>

#include "cli/MemoryReceiver.h"
#include "cli/PlatformCommands.h"

namespace irdload::cli {

struct PlatformCommands::State {
  bool simulate = false;
};

PlatformCommands::PlatformCommands() : state_(std::make_unique<State>()) {}
PlatformCommands::~PlatformCommands() = default;

std::string PlatformCommands::PortHelp() {
  return "Serial port: COM1, COM2, ... (COM10 and above too); irdload-cli ports lists them";
}

std::string PlatformCommands::ExitCodes() {
  return "Exit codes: 0 success; 1 internal failure; 2 usage error or an upgrade file that cannot "
         "be sent; 3 the serial port cannot be opened; 4 the IRD reported failure (or the "
         "transfer had to be ended); 5 no response from the IRD; 6 --simulate found the image "
         "differs; 130 stopped by Ctrl-C.";
}

void PlatformCommands::AddSendOptions(CLI::App& send) {
  send.add_flag("--simulate", state_->simulate,
                "Send to the built-in virtual IRD (in this program, at 115200 baud) instead of a "
                "port, then check it received the image byte for byte");
}

void PlatformCommands::AddCommands(CLI::App&) {}

void PlatformCommands::PrepareSend(SendOptions& send) {
  if (!state_->simulate) return;
  send.ownReceiver = [](std::ostream&, int&) { return StartMemoryReceiver(115200); };
}

std::optional<int> PlatformCommands::Run(std::ostream&, std::ostream&) {
  return std::nullopt;
}

std::string PlatformCommands::Unavailable(int argc, const char* const* argv) {
  static constexpr const char* kLinuxOnly[] = {"--simulate-fault", "--baud", "station",
                                               "virtual-ird", "doctor"};
  for (int i = 1; i < argc; ++i) {
    for (const char* word : kLinuxOnly) {
      if (std::strcmp(argv[i], word) == 0) {
        return std::string(word) +
               " is in the Linux build only: the station, the doctor and the virtual IRD's "
               "faults stand on what Linux has (pseudo-terminals, inotify, /proc).";
      }
    }
  }
  return {};
}

}  // namespace irdload::cli
