// irdload-cli fleet: a thin front end over the floor's fleet. One loop: the signals, and the
// fleet's sentences (each record kept, the broker coming and going) written as log lines.
#include "cli/FleetCommand.h"

#include <poll.h>

#include <chrono>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/SignalFd.h"
#include "floor/Fleet.h"

namespace irdload::cli {
namespace {

constexpr std::chrono::milliseconds kTick{200};

}  // namespace

FleetCommand::FleetCommand(CLI::App& app) {
  FleetCliOptions& o = options_;
  command_ = app.add_subcommand(
      "fleet",
      "Keep every station's records from the floor's broker in one report folder (each unit "
      "once, one units.csv) and serve the floor's dashboard; runs until Ctrl-C");
  command_
      ->add_option("--mqtt", o.mqtt,
                   "The floor's broker, mqtt://HOST[:PORT] or mqtts://HOST[:PORT]; it must keep "
                   "sessions through its restarts (mosquitto: persistence true)")
      ->required();
  command_->add_option("--mqtt-ca", o.mqttCa, "With mqtts://: the CA file that signs the broker");
  command_->add_option("--mqtt-credentials", o.mqttCredentials,
                       "A file with the broker's user name on its first line and the password "
                       "on its second");
  command_->add_option("--report", o.reportDir,
                       "The floor's report folder: every station's records, and units.csv");
  command_->add_option("--http", o.http,
                       "Serve the floor's dashboard (read-only) on HOST:PORT, or PORT on "
                       "127.0.0.1");
  command_
      ->add_option("--name", o.name,
                   "The fleet's name on the broker, which keeps the records for it while it is "
                   "away; one name for each fleet")
      ->capture_default_str();
}

int RunFleet(const FleetCliOptions& options, std::ostream& out, std::ostream& err) {
  // Before any thread starts, so that every thread leaves the signals to this loop.
  SignalFd signals(options.handleSignals);
  std::string error;
  const std::optional<floor::MqttSettings> broker =
      floor::ParseMqttSettings(options.mqtt, options.mqttCa, options.mqttCredentials, &error);
  if (!broker) {
    Complain(err, error);
    return EXIT_REFUSED;
  }
  floor::Fleet fleet({*broker, options.name, options.reportDir, options.http, {}});
  if (!fleet.Prepare(&error)) {
    Complain(err, error);
    return EXIT_REFUSED;
  }
  fleet.Start();
  if (!options.reportDir.empty()) {
    out << "records in " << options.reportDir << ": " << fleet.records() << std::endl;
  }
  if (!options.http.empty()) out << "dashboard on " << fleet.url() << std::endl;
  for (bool stop = false; !stop;) {
    pollfd fd{signals.fd(), POLLIN, 0};
    ::poll(&fd, 1, static_cast<int>(kTick.count()));
    stop = signals.Take() > 0;
    for (const std::string& note : fleet.TakeNotes()) out << note << std::endl;
  }
  if (!options.reportDir.empty()) {
    out << "records in " << options.reportDir << ": " << fleet.records() << std::endl;
  }
  return EXIT_OK;
}

}  // namespace irdload::cli
