// What the command line offers on this platform beyond the commands every build has (Cli.cpp):
// on Linux the virtual IRD (send --simulate, virtual-ird), the station and the doctor, which
// stand on pseudo-terminals, inotify, signalfd and /proc (CliLinux.cpp); on Windows nothing
// more, and a word for whoever asks for them (CliWindows.cpp).
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "cli/Commands.h"

namespace irdload::cli {

class PlatformCommands {
 public:
  PlatformCommands();
  ~PlatformCommands();
  PlatformCommands(const PlatformCommands&) = delete;
  PlatformCommands& operator=(const PlatformCommands&) = delete;

  /// What `send --port` takes here.
  static std::string PortHelp();
  /// The exit codes, for the help's footer.
  static std::string ExitCodes();

  /// Adds this platform's options to `send`, after --port.
  void AddSendOptions(CLI::App& send);
  /// Adds this platform's commands to `app`, after send.
  void AddCommands(CLI::App& app);
  /// After a parse: what this platform's send options ask of `send`.
  void PrepareSend(SendOptions& send);
  /// The exit code of this platform's command, when the command line chose one.
  std::optional<int> Run(std::ostream& out, std::ostream& err);
  /// For a refused command line: why it asked for what this build does not have; empty when it
  /// did not.
  static std::string Unavailable(int argc, const char* const* argv);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace irdload::cli
