// irdload-cli send: the files checked before any port is touched, the download run by the
// engine, and the exit code taken from how it ended.
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/ConsoleHost.h"
#include "cli/Os.h"
#include "cli/SendEvents.h"
#include "engine/DownloadEngine.h"
#include "engine/FileChoice.h"
#include "engine/Image.h"
#include "unit/UnitFiles.h"
#include "unit/UnitId.h"
#include "unit/WireTrace.h"

namespace irdload::cli {
namespace {

using namespace std::chrono_literals;

using unit::CheckedFile;

// Prints the refusal and returns false.
bool CheckFiles(const std::vector<std::string>& files, std::vector<CheckedFile>& checked,
                std::ostream& err) {
  if (const std::optional<Refusal> refusal = unit::CheckUnitFiles(files, checked)) {
    Complain(err, refusal->message, refusal->detail);
    return false;
  }
  return true;
}

// True when `trace` names one of the input files (the same file, so links count too): writing
// the trace would destroy the image before it is sent.
bool TraceWouldOverwrite(const std::string& trace, const std::vector<CheckedFile>& files,
                         std::string* which) {
  for (const auto& f : files) {
    std::error_code ec;
    if (std::filesystem::equivalent(trace, f.path, ec) && !ec) {
      *which = f.path;
      return true;
    }
  }
  return false;
}

// Everything a send needs, checked and made before the engine runs.
struct Prepared {
  std::vector<CheckedFile> files;
  std::unique_ptr<OwnReceiver> receiver;  // with --simulate
  std::string port;
  std::unique_ptr<unit::WireTrace> trace;
};

// Checks the files and options and makes the virtual IRD and the trace; an exit code when
// something is refused.
std::optional<int> Prepare(const SendOptions& options, Prepared& p, std::ostream& err) {
  if (!CheckFiles(options.files, p.files, err)) return EXIT_REFUSED;
  if (const std::optional<std::string> refusal = unit::UnitIdRefusal(options.unitId)) {
    Complain(err, *refusal, "--unit-id \"" + unit::ShownUnitId(options.unitId) + "\"");
    return EXIT_REFUSED;
  }
  p.port = options.port;
  if (options.ownReceiver) {
    int code = EXIT_INTERNAL;
    p.receiver = options.ownReceiver(err, code);
    if (!p.receiver) return code;
    p.port = p.receiver->port();
  }
  if (!options.tracePath.empty()) {
    std::string input;
    if (TraceWouldOverwrite(options.tracePath, p.files, &input)) {
      Complain(err, "the trace would overwrite an upgrade file",
               options.tracePath + " is " + input + ": give the trace another name");
      return EXIT_REFUSED;
    }
    p.trace = std::make_unique<unit::WireTrace>();
    std::string why;
    if (!p.trace->Open(options.tracePath, &why)) {
      Complain(err, "cannot write the trace", why);
      return EXIT_REFUSED;
    }
  }
  return std::nullopt;
}

// How the run ended, as the verdict needs it.
struct RunResult {
  std::optional<Outcome> outcome;
  std::vector<ImageLoaded> loaded;
  bool portOpenFailed = false;
  bool stopped = false;
  std::string refused;  // why the report folder takes no record
};

RunResult RunDownload(const SendOptions& options, Prepared& p, std::ostream& out, std::ostream& err,
                      std::optional<SendEvents>& events, std::ostream* json) {
  StopKeys stopKeys(options.handleSignals);
  const bool interactive = StandardOutputIsTerminal() && &out == &std::cout;
  ConsoleHost console(p.port, p.files[0].path, p.files.size() > 1 ? p.files[1].path : "", out, err,
                      interactive);
  // With --json or --report the unit's events also go to the station's observer.
  std::vector<std::string> files;
  for (const auto& f : p.files) files.push_back(f.path);
  events.emplace(console, p.receiver ? "virtual-ird" : options.port, p.port, files, json,
                 options.reportDir, options.unitId);
  std::string why;
  if (!events->Prepare(&why)) {
    Complain(err, why);
    RunResult refused;
    refused.refused = why;
    return refused;
  }
  ConsoleHost& host = console;
  auto port = std::make_unique<SerialPortLink>(options.replyWait);
  if (p.trace) {
    port->port().SetTap([trace = p.trace.get()](WireDirection d, const std::uint8_t* bytes,
                                                std::size_t n) { trace->Record(d, bytes, n); });
  }
  EngineOptions engineOptions;
  engineOptions.port = std::move(port);
  engineOptions.connectTimeout = options.connectTimeout;
  auto engine = std::make_unique<DownloadEngine>(std::move(engineOptions));
  RunResult result;
  events->Started();
  if (!engine->Init(*events, p.port)) return result;
  if (host.portOpenFailure()) {
    result.portOpenFailed = true;
    return result;
  }

  std::uint64_t totalBytes = 0, packets = 0;
  for (const auto& f : p.files) {
    totalBytes += f.seen.payloadSize;
    packets += f.seen.packets();
  }
  out << Printable("Sending " + p.files[0].path +
                   (p.files.size() > 1 ? " and " + p.files[1].path : "") + " to " +
                   (p.receiver ? "the virtual IRD (" + p.port + ")" : p.port))
      << ": " << totalBytes << " bytes in " << packets << " packets\n";
  if (!engine->StartDownload()) {
    result.outcome = host.outcome();
    return result;
  }
  if (host.portOpenFailure()) {
    engine->Finish();
    result.portOpenFailed = true;
    return result;
  }
  while (!engine->WaitIdle(100ms)) {
    host.Render(false);
    events->Tick();
    if (stopKeys.Pressed()) {
      result.stopped = true;
      engine->Finish();
    }
  }
  host.Render(true);
  engine.reset();  // the worker ends before the host goes
  result.outcome = host.outcome();
  result.loaded = host.loaded();
  return result;
}

int DownloadVerdict(const Prepared& p, const RunResult& r, std::ostream& out, std::ostream& err) {
  if (!r.refused.empty()) return EXIT_REFUSED;
  if (r.portOpenFailed) return EXIT_PORT;
  if (r.stopped) {
    Complain(err, "stopped");
    return EXIT_STOPPED;
  }
  if (!r.outcome) return EXIT_INTERNAL;
  switch (r.outcome->kind) {
    case OutcomeKind::Success:
      return p.receiver ? p.receiver->Verify(r.loaded, out, err) : EXIT_OK;
    case OutcomeKind::Failed:
      return EXIT_IRD_FAILED;
    case OutcomeKind::NoResponse:
      return EXIT_NO_RESPONSE;
    case OutcomeKind::PortOpenFailed:
      return EXIT_PORT;
    case OutcomeKind::FileRefused:
      return EXIT_REFUSED;
    case OutcomeKind::Stopped:
      return EXIT_STOPPED;
  }
  return EXIT_INTERNAL;
}

// The download's verdict, and the trace's: a trace asked for and left incomplete fails an
// otherwise good run.
int Verdict(const Prepared& p, const RunResult& r, std::ostream& out, std::ostream& err) {
  const int code = DownloadVerdict(p, r, out, err);
  const std::string traceFailure = p.trace ? p.trace->failure() : std::string();
  if (traceFailure.empty()) return code;
  Complain(err, "the trace is incomplete", traceFailure);
  return code == EXIT_OK ? EXIT_INTERNAL : code;
}

}  // namespace

int RunSend(const SendOptions& options, std::ostream& out, std::ostream& err) {
  // Under --json standard output carries the events only; the person's text goes to err.
  std::ostream& human = options.json ? err : out;
  std::ostream* json = options.json ? &out : nullptr;
  Prepared prepared;
  std::ostringstream refusal;
  if (const std::optional<int> refused = Prepare(options, prepared, refusal)) {
    err << refusal.str();
    if (json) {
      // The complaint's first line is the message, the indented rest its detail.
      std::istringstream lines(refusal.str());
      std::string message, detail, line;
      std::getline(lines, message);
      if (message.rfind("irdload-cli: ", 0) == 0) message.erase(0, 13);
      while (std::getline(lines, line)) {
        const auto text = line.find_first_not_of(' ');
        if (text != std::string::npos) detail += (detail.empty() ? "" : " ") + line.substr(text);
      }
      unit::JsonEventWriter(*json, {}).Refused(*refused, message, detail);
    }
    return *refused;
  }
  std::optional<SendEvents> events;
  const RunResult result = RunDownload(options, prepared, human, err, events, json);
  const int code = Verdict(prepared, result, human, err);
  if (!result.refused.empty()) {
    if (json) unit::JsonEventWriter(*json, {}).Refused(code, result.refused, "");
  } else {
    events->Finished(code, result.portOpenFailed, result.stopped);
  }
  return code;
}

}  // namespace irdload::cli
