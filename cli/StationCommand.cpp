// irdload-cli station: a thin front end over the station library. One event loop: the
// station's wake-up descriptor, the operator's lines (Enter, unit ids) and the signals; the
// table or the log (or JSON Lines) drawn from what the ports post.
#include "cli/StationCommand.h"

#include <poll.h>
#include <unistd.h>

#include <iostream>
#include <sstream>

#include "cli/Console.h"
#include "cli/FaultText.h"
#include "cli/Os.h"
#include "cli/SignalFd.h"
#include "cli/StationView.h"
#include "cli/WholeNumber.h"
#include "floor/Dashboard.h"
#include "floor/MqttPublisher.h"
#include "irdload/BuildInfo.h"
#include "station/Station.h"
#include "unit/JsonEvents.h"

namespace irdload::cli {
namespace {

using namespace std::chrono_literals;

static_assert(EXIT_IRD_FAILED == 4 && EXIT_NO_RESPONSE == 5 && EXIT_STOPPED == 130,
              "the station's unit exit codes are the command line's");

// The redraw and event tick: the table at most 10 times a second.
constexpr auto kTick = 100ms;

bool ParseNextUnit(const std::string& text, bool terminal, station::NextUnit& mode,
                   std::chrono::seconds& quiet) {
  if (text.empty()) {
    mode = terminal ? station::NextUnit::Prompt : station::NextUnit::Replug;
  } else if (text == "prompt") {
    mode = station::NextUnit::Prompt;
  } else if (text == "replug") {
    mode = station::NextUnit::Replug;
  } else if (text.rfind("quiet:", 0) == 0) {
    std::uint32_t seconds = 0;
    if (!ParseCount(text.substr(6), seconds) || seconds == 0 || seconds > 86400) return false;
    mode = station::NextUnit::Quiet;
    quiet = std::chrono::seconds(seconds);
  } else {
    return false;
  }
  return true;
}

// The operator's lines from a descriptor (a terminal, a scanner, a pipe), one answer each.
class OperatorLines {
 public:
  OperatorLines(station::Station& station, int fd) : station_(station), fd_(fd) {}

  int fd() const { return open_ ? fd_ : -1; }
  bool open() const { return open_; }

  void Read() {
    char buf[4096];
    const ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n <= 0) {
      open_ = false;
      return;
    }
    partial_.append(buf, static_cast<std::size_t>(n));
    for (std::size_t nl; (nl = partial_.find('\n')) != std::string::npos;) {
      std::string line = partial_.substr(0, nl);
      partial_.erase(0, nl + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      station_.Give(std::move(line));
    }
  }

 private:
  station::Station& station_;
  const int fd_;
  bool open_ = true;
  std::string partial_;
};

// The options as the library takes them; an error sentence when one is refused.
bool Translate(const StationCliOptions& o, station::StationOptions& s, std::string* error) {
  for (const auto& text : o.ports) {
    const std::optional<station::PortSpec> spec = station::ParsePortSpec(text, error);
    if (!spec) return false;
    s.ports.push_back(*spec);
  }
  if (!ParseNextUnit(o.nextUnit, ::isatty(o.inputFd) == 1, s.nextUnit, s.quiet)) {
    *error =
        "--next-unit takes prompt, replug or quiet:SECONDS (SECONDS a whole number from 1 "
        "to 86400), not \"" +
        Printable(o.nextUnit) + "\"";
    return false;
  }
  s.files = o.files;
  s.units = o.units;
  s.retries = o.retries;
  s.askUnitId = o.askUnitId;
  s.reportDir = o.reportDir;
  s.traceDir = o.traceDir;
  s.connectTimeout = o.connectTimeout;
  s.replyWait = o.replyWait;
  s.roots = o.roots;
  s.toolVersion = std::string("irdload-cli ") + build::kVersion;
  return true;
}

std::string StationName(const StationCliOptions& o) {
  return o.name.empty() ? HostName() : o.name;
}

int StationExitCode(const station::StationSummary& s) {
  if (s.stopped && !s.halted) return EXIT_STOPPED;
  if (s.halted) return EXIT_INTERNAL;
  return s.failed > 0 ? EXIT_IRD_FAILED : EXIT_OK;
}

}  // namespace

StationCommand::StationCommand(CLI::App& app) {
  StationCliOptions& o = options_;
  command_ = app.add_subcommand("station",
                                "Load FILE [SECOND] into unit after unit on several ports at once");
  command_
      ->add_option("--port,-p", o.ports,
                   "A port: a device path, a /dev/serial/by-path or by-id link, COMn, or "
                   "LABEL=PATH (a label of letters, digits, '-', '_' and '.'); once per port")
      ->required()
      ->allow_extra_args(false);
  command_
      ->add_option_function<std::uint32_t>(
          "--units", [&o](std::uint32_t units) { o.units = units; },
          "Units per port, loaded or failed (default: until Ctrl-C)")
      ->check(WholeNumber(1, kMaxUnits));
  command_
      ->add_option("--retries", o.retries,
                   "Whole-unit retries on the same IRD before the unit counts as failed")
      ->capture_default_str()
      ->check(WholeNumber(0, 100));
  command_->add_option("--next-unit", o.nextUnit,
                       "What arms a port's next unit: prompt (Enter, or the unit id; the "
                       "default when standard input is a terminal), replug (the adapter "
                       "vanished and came back; the default otherwise) or quiet:SECONDS (the "
                       "IRD left connect requests unanswered that long)");
  command_->add_flag("--ask-unit-id", o.askUnitId,
                     "Read each unit's id from standard input (one line per unit, as a barcode "
                     "scanner types it) before loading it");
  command_->add_flag("--json", o.json, "JSON Lines on standard output (see docs/json-events.md)");
  command_->add_option("--report", o.reportDir,
                       "One JSON record per unit in this folder, and a line per unit in its "
                       "units.csv");
  command_->add_option("--trace-dir", o.traceDir, "One wire trace per unit in this folder");
  command_->add_option("--name", o.name,
                       "The station's name on its dashboard (default: the host's)");
  command_->add_option("--http", o.http,
                       "Serve a live dashboard (read-only) on HOST:PORT, or PORT on 127.0.0.1");
  CLI::Option* mqtt = command_->add_option(
      "--mqtt", o.mqtt,
      "Publish events, records (with --report; they wait in REPORT.mqtt-outbox until the broker "
      "has them) and the station's state to the broker at mqtt://HOST[:PORT] or "
      "mqtts://HOST[:PORT]");
  command_->add_option("--mqtt-ca", o.mqttCa, "With mqtts://: the CA file that signs the broker")
      ->needs(mqtt);
  command_
      ->add_option("--mqtt-credentials", o.mqttCredentials,
                   "A file with the broker's user name on its first line and the password on "
                   "its second")
      ->needs(mqtt);
  command_
      ->add_option_function<int>(
          "--connect-timeout",
          [&o](int seconds) { o.connectTimeout = std::chrono::seconds(seconds); },
          "Count a unit as failed when its IRD has not asked for the header this many seconds "
          "after the first connect request (0: call until it answers)")
      ->default_str("0")
      ->check(WholeNumber(0, kMaxConnectTimeout));
  command_
      ->add_option_function<int>(
          "--read-pauses", [&o](int pauses) { o.replyWait = std::chrono::milliseconds(pauses); },
          "As for send: how many 1 ms pauses a reply may take to start arriving")
      ->default_str("50")
      ->check(WholeNumber(10, 10000));
  command_->add_option("files", o.files, "FILE [SECOND]")->required()->expected(1, 2);
}

int RunStation(const StationCliOptions& options, std::ostream& out, std::ostream& err) {
  std::ostream& human = options.json ? err : out;
  station::StationOptions so;
  std::string error;
  // Before any thread starts, so that every thread leaves the signals to this loop.
  SignalFd signals(options.handleSignals);
  // A resized terminal gets its table at once.
  SignalFd resized(options.handleSignals, {SIGWINCH});
  const auto refuse = [&] {
    Complain(err, error);
    if (options.json) unit::JsonEventWriter(out, {}).Refused(EXIT_REFUSED, error, "");
    return EXIT_REFUSED;
  };
  if (!Translate(options, so, &error)) return refuse();
  station::Station st(so);
  // The table, the JSON lines and the dashboard are subscribers, each with its own queue.
  const std::shared_ptr<station::Subscription> shown = st.Subscribe();
  const std::shared_ptr<station::Subscription> written = options.json ? st.Subscribe() : nullptr;
  std::unique_ptr<floor::Dashboard> dashboard;
  if (!options.http.empty()) {
    dashboard = std::make_unique<floor::Dashboard>(
        st, floor::DashboardOptions{options.http, StationName(options), so.reportDir, {}});
    if (!dashboard->Listen(&error)) return refuse();
  }
  std::unique_ptr<floor::MqttPublisher> publisher;
  if (!options.mqtt.empty()) {
    const std::optional<floor::MqttSettings> broker =
        floor::ParseMqttSettings(options.mqtt, options.mqttCa, options.mqttCredentials, &error);
    if (!broker) return refuse();
    std::string report = so.reportDir;
    while (report.size() > 1 && report.back() == '/') report.pop_back();
    publisher = std::make_unique<floor::MqttPublisher>(
        st, floor::MqttPublisherOptions{
                *broker, StationName(options), report.empty() ? "" : report + ".mqtt-outbox", {}});
    if (!publisher->Prepare(&error)) return refuse();
  }
  if (!st.Start(&error)) return refuse();
  if (dashboard) {
    dashboard->Start();
    human << "dashboard on " << dashboard->url() << std::endl;
  }
  if (publisher) publisher->Start();
  std::vector<std::string> labels;
  for (std::size_t i = 0; i < st.portCount(); ++i) labels.push_back(st.port(i).label);
  unit::JsonEventWriter json(out, labels);
  const bool table = !options.json && &out == &std::cout && ::isatty(STDOUT_FILENO) == 1;
  StationView view(human, labels, table, StandardOutputSize);
  OperatorLines lines(st, options.inputFd);
  bool toldInputClosed = false;
  int interrupts = 0;
  auto lastDraw = std::chrono::steady_clock::now() - kTick;
  for (bool last = false; !last;) {
    last = st.Finished();  // one more pass drains what the ports posted before they ended
    pollfd fds[5] = {{shown->wakeFd(), POLLIN, 0},
                     {written ? written->wakeFd() : -1, POLLIN, 0},
                     {signals.fd(), POLLIN, 0},
                     {lines.fd(), POLLIN, 0},
                     {resized.fd(), POLLIN, 0}};
    if (!last) ::poll(fds, 5, static_cast<int>(kTick.count()));
    const bool redrawNow = resized.Take() > 0;
    if (const int n = signals.Take(); n > 0) {
      interrupts += n;
      if (interrupts == n) {
        view.Note("stopping: running units finish, no new one starts; Ctrl-C again stops them now");
        st.StopStarting();
      }
      if (interrupts >= 2) st.StopNow();
    }
    if ((fds[3].revents & (POLLIN | POLLHUP)) != 0) lines.Read();
    std::uint64_t dropped = 0;
    for (const unit::PortEvent& e : shown->Take(&dropped)) view.Add(e);
    if (dropped > 0)
      view.Note(std::to_string(dropped) + " events were not shown: too many at once");
    if (written) {
      for (const unit::PortEvent& e : written->Take(&dropped)) json.Write(e);
      if (dropped > 0) json.Lost(dropped);
      json.Tick();
    }
    if (publisher) {
      for (const std::string& note : publisher->TakeNotes()) view.Note(note);
    }
    if (!lines.open() && st.AnyoneAsking() && !toldInputClosed) {
      view.Note("standard input is closed: the ports waiting for the operator wait until Ctrl-C");
      toldInputClosed = true;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - lastDraw >= kTick || last || redrawNow) {
      view.Draw(st.Snapshot().ports);
      lastDraw = now;
    }
  }
  if (publisher) {
    using namespace std::chrono_literals;
    const std::size_t left = publisher->Drain(10s);
    for (const std::string& note : publisher->TakeNotes()) view.Note(note);
    if (left > 0) {
      view.Note("MQTT: " + std::to_string(left) +
                " records wait in the outbox; the next station run with --mqtt and this "
                "--report publishes them");
    }
    view.Draw(st.Snapshot().ports);
  }
  const station::StationSummary summary = st.Summary();
  const int code = StationExitCode(summary);
  human << summary.ok << " units loaded, " << summary.failed << " failed"
        << (summary.stopped ? " (stopped)" : "") << '\n';
  if (options.json) json.Summary(summary.ok, summary.failed, summary.stopped, code);
  return code;
}

}  // namespace irdload::cli
