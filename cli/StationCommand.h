// irdload-cli station: the command declares its options, keeps them as the station takes them,
// and runs itself: one place for each option.
#pragma once

#include <CLI/CLI.hpp>
#include <ostream>

#include "cli/Commands.h"

namespace irdload::cli {

class StationCommand {
 public:
  /// Adds `station` and its options to `app`.
  explicit StationCommand(CLI::App& app);
  /// True when the command line chose it.
  bool chosen() const { return static_cast<bool>(*command_); }
  int Run(std::ostream& out, std::ostream& err) const { return RunStation(options_, out, err); }

 private:
  CLI::App* command_;
  StationCliOptions options_;
};

}  // namespace irdload::cli
