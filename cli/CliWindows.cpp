// The Windows build has the commands every build has and nothing more: the virtual IRD, the
// station and the doctor stand on Linux's pseudo-terminals, inotify, signalfd and /proc. Whoever
// asks for one of them hears so, instead of only that the word is unknown.
#include <cstring>

#include "cli/PlatformCommands.h"

namespace irdload::cli {

struct PlatformCommands::State {};

PlatformCommands::PlatformCommands() = default;
PlatformCommands::~PlatformCommands() = default;

std::string PlatformCommands::PortHelp() {
  return "Serial port: COM1, COM2, ... (COM10 and above too); irdload-cli ports lists them";
}

std::string PlatformCommands::ExitCodes() {
  return "Exit codes: 0 success; 1 internal failure; 2 usage error or an upgrade file that cannot "
         "be sent; 3 the serial port cannot be opened; 4 the IRD reported failure (or the "
         "transfer had to be ended); 5 no response from the IRD; 130 stopped by Ctrl-C.";
}

void PlatformCommands::AddSendOptions(CLI::App&) {}

void PlatformCommands::AddCommands(CLI::App&) {}

void PlatformCommands::PrepareSend(SendOptions&) {}

std::optional<int> PlatformCommands::Run(std::ostream&, std::ostream&) {
  return std::nullopt;
}

std::string PlatformCommands::Unavailable(int argc, const char* const* argv) {
  static constexpr const char* kLinuxOnly[] = {"--simulate", "--simulate-fault", "--baud",
                                               "station",    "virtual-ird",      "doctor"};
  for (int i = 1; i < argc; ++i) {
    for (const char* word : kLinuxOnly) {
      if (std::strcmp(argv[i], word) == 0) {
        return std::string(word) +
               " is in the Linux build only: the virtual IRD, the station "
               "and the doctor stand on what Linux has (pseudo-terminals, inotify, /proc).";
      }
    }
  }
  return {};
}

}  // namespace irdload::cli
