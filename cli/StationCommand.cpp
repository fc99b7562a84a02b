// irdload-cli station: a thin front end over the station library. One event loop: the
// station's wake-up descriptor, the operator's lines (Enter, unit ids) and the signals; the
// table or the log (or JSON Lines) drawn from what the ports post.
#include <poll.h>
#include <unistd.h>

#include <iostream>
#include <sstream>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/FaultText.h"
#include "cli/SignalFd.h"
#include "cli/StationView.h"
#include "irdload/BuildInfo.h"
#include "station/OperatorQueue.h"
#include "station/Station.h"
#include "unit/JsonEvents.h"
#include "unit/UnitRecord.h"

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
  OperatorLines(station::OperatorQueue& queue, int fd) : queue_(queue), fd_(fd) {}

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
      queue_.Give(std::move(line));
    }
  }

 private:
  station::OperatorQueue& queue_;
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
    *error = "--next-unit takes prompt, replug or quiet:SECONDS, not \"" + o.nextUnit + "\"";
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

int StationExitCode(const station::StationSummary& s) {
  if (s.stopped && !s.halted) return EXIT_STOPPED;
  if (s.halted) return EXIT_INTERNAL;
  return s.failed > 0 ? EXIT_IRD_FAILED : EXIT_OK;
}

}  // namespace

int RunStation(const StationCliOptions& options, std::ostream& out, std::ostream& err) {
  std::ostream& human = options.json ? err : out;
  station::StationOptions so;
  std::string error;
  // Before any thread starts, so that every thread leaves the signals to this loop.
  SignalFd signals(options.handleSignals);
  const auto refuse = [&] {
    Complain(err, error);
    if (options.json) unit::JsonEventWriter(out, {}).Refused(EXIT_REFUSED, error, "");
    return EXIT_REFUSED;
  };
  if (!Translate(options, so, &error)) return refuse();
  station::Station st(so);
  if (!st.Start(&error)) return refuse();
  std::vector<std::string> labels;
  for (std::size_t i = 0; i < st.portCount(); ++i) labels.push_back(st.port(i).label);
  unit::JsonEventWriter json(out, labels);
  const bool table = !options.json && &out == &std::cout && ::isatty(STDOUT_FILENO) == 1;
  StationView view(human, labels, table);
  station::OperatorQueue answers(
      so.nextUnit,
      [&st](std::size_t port, std::optional<std::string> a) { st.Arm(port, std::move(a)); });
  OperatorLines lines(answers, options.inputFd);
  bool toldInputClosed = false;
  int interrupts = 0;
  auto lastDraw = std::chrono::steady_clock::now() - kTick;
  for (bool last = false; !last;) {
    last = st.Finished();  // one more pass drains what the ports posted before they ended
    pollfd fds[3] = {{st.wakeFd(), POLLIN, 0}, {signals.fd(), POLLIN, 0}, {lines.fd(), POLLIN, 0}};
    if (!last) ::poll(fds, 3, static_cast<int>(kTick.count()));
    if (const int n = signals.Take(); n > 0) {
      interrupts += n;
      if (interrupts == n) {
        view.Note("stopping: running units finish, no new one starts; Ctrl-C again stops them now");
        st.StopStarting();
      }
      if (interrupts >= 2) st.StopNow();
    }
    if ((fds[2].revents & (POLLIN | POLLHUP)) != 0) lines.Read();
    for (const station::PortEvent& e : st.TakeEvents()) {
      if (const auto* p = std::get_if<station::PhaseChanged>(&e.body))
        answers.Phase(e.port, p->phase);
      if (options.json) json.Write(e);
      view.Add(e);
    }
    if (!lines.open() && answers.anyoneAsking() && !toldInputClosed) {
      view.Note("standard input is closed: the ports waiting for the operator wait until Ctrl-C");
      toldInputClosed = true;
    }
    json.Tick();
    const auto now = std::chrono::steady_clock::now();
    if (now - lastDraw >= kTick || last) {
      view.Draw(st.Snapshots());
      lastDraw = now;
    }
  }
  const station::StationSummary summary = st.Summary();
  const int code = StationExitCode(summary);
  human << summary.ok << " units loaded, " << summary.failed << " failed"
        << (summary.stopped ? " (stopped)" : "") << '\n';
  if (options.json) json.Summary(summary.ok, summary.failed, summary.stopped, code);
  return code;
}

}  // namespace irdload::cli
