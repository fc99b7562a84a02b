// irdload-cli fleet: every station on the floor's broker in one place, its options kept as the
// fleet takes them.
#pragma once

#include <CLI/CLI.hpp>
#include <ostream>
#include <string>

namespace irdload::cli {

struct FleetCliOptions {
  std::string mqtt, mqttCa, mqttCredentials;
  std::string reportDir;
  std::string http;
  std::string name = "fleet";
  bool handleSignals = true;
};

/// Runs until SIGINT or SIGTERM: 0 then, 2 when it cannot start.
int RunFleet(const FleetCliOptions& options, std::ostream& out, std::ostream& err);

class FleetCommand {
 public:
  /// Adds `fleet` and its options to `app`.
  explicit FleetCommand(CLI::App& app);
  bool chosen() const { return static_cast<bool>(*command_); }
  int Run(std::ostream& out, std::ostream& err) const { return RunFleet(options_, out, err); }

 private:
  CLI::App* command_;
  FleetCliOptions options_;
};

}  // namespace irdload::cli
