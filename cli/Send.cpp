// irdload-cli send: the files checked before any port is touched, the download run by the
// engine, and the exit code taken from how it ended.
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/ConsoleHost.h"
#include "cli/Os.h"
#include "engine/DownloadEngine.h"
#include "engine/FileChoice.h"
#include "engine/Image.h"
#include "irdload/BuildInfo.h"
#include "unit/EventQueue.h"
#include "unit/JsonEvents.h"
#include "unit/ReportFolder.h"
#include "unit/UnitFiles.h"
#include "unit/UnitId.h"
#include "unit/UnitRun.h"
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

// The whole job's size: every file's packets and payload bytes.
JobSize JobOf(const Prepared& p) {
  JobSize job{0, 0};
  for (const auto& f : p.files) {
    job.bytes += f.seen.payloadSize;
    job.packets += f.seen.packets();
  }
  return job;
}

// Send's side of its one unit: the console drawn and the JSON lines written on every tick, Ctrl-C
// read, the line saying what goes where, and the verdict, which --simulate and --trace make
// stricter than the download's.
class SendControl final : public unit::UnitControl {
 public:
  SendControl(const SendOptions& options, const Prepared& p, ConsoleHost& console,
              unit::EventQueue& events, unit::JsonEventWriter* json, StopKeys& keys,
              std::ostream& out, std::ostream& err)
      : options_(options),
        p_(p),
        console_(console),
        events_(events),
        json_(json),
        out_(out),
        err_(err),
        keys_(keys) {}

  Stop stop() const override { return stopped_ ? Stop::Now : Stop::None; }
  std::optional<std::chrono::milliseconds> tick() const override { return 100ms; }
  void Tick() override {
    console_.Render(false);
    WriteEvents();
    if (keys_.Pressed()) stopped_ = true;
  }
  void Starting() override {
    if (announced_) return;
    announced_ = true;
    const JobSize job = JobOf(p_);
    console_.Note(
        "Sending " + p_.files[0].path + (p_.files.size() > 1 ? " and " + p_.files[1].path : "") +
        " to " + (p_.receiver ? "the virtual IRD (" + p_.port + ")" : p_.port) + ": " +
        std::to_string(job.bytes) + " bytes in " + std::to_string(job.packets) + " packets");
  }
  int Verdict(const Outcome& outcome) override {
    Render();
    int code = DownloadCode(outcome);
    if (code == EXIT_OK && p_.receiver) code = p_.receiver->Verify(console_.loaded(), out_, err_);
    // A trace asked for and left incomplete fails an otherwise good run.
    const std::string traceFailure = p_.trace ? p_.trace->failure() : std::string();
    if (!traceFailure.empty()) {
      Complain(err_, "the trace is incomplete", traceFailure);
      if (code == EXIT_OK) code = EXIT_INTERNAL;
    }
    return code;
  }

  /// The exit code of a download that ended so, and the word for the person when it was stopped.
  int DownloadCode(const Outcome& outcome) {
    if (stopped_ || outcome.kind == OutcomeKind::Stopped) {
      if (!toldStopped_) Complain(err_, "stopped");
      toldStopped_ = true;
      return EXIT_STOPPED;
    }
    return unit::UnitExitCode(outcome.kind);
  }
  /// The final progress line, once.
  void Render() {
    if (rendered_) return;
    rendered_ = true;
    console_.Render(true);
  }
  void WriteEvents() {
    for (const unit::PortEvent& e : events_.Take()) {
      if (json_) json_->Write(e);
    }
    if (json_) json_->Tick();
  }
  bool stopped() const { return stopped_; }

 private:
  const SendOptions& options_;
  const Prepared& p_;
  ConsoleHost& console_;
  unit::EventQueue& events_;
  unit::JsonEventWriter* const json_;
  std::ostream& out_;
  std::ostream& err_;
  StopKeys& keys_;
  std::atomic<bool> stopped_{false};
  bool announced_ = false, rendered_ = false, toldStopped_ = false;
};

// The exit code of the unit's run.
int Verdict(const unit::UnitResult& r, SendControl& control, std::ostream& err) {
  using Kind = unit::UnitResult::Kind;
  switch (r.kind) {
    case Kind::NoRoom:
      Complain(err, r.why);
      return EXIT_REFUSED;
    case Kind::FilesFailed:
      return EXIT_REFUSED;
    case Kind::NoUnit:
      if (r.openFailure) return EXIT_PORT;
      return control.DownloadCode(r.outcome);
    case Kind::RecordFailed:
      Complain(err, "the unit's record could not be written", r.why);
      return r.exitCode;
    case Kind::Recorded:
      return r.exitCode;
  }
  return EXIT_INTERNAL;
}

}  // namespace

int RunSend(const SendOptions& options, std::ostream& out, std::ostream& err) {
  // Under --json standard output carries the events only; the person's text goes to err.
  std::ostream& human = options.json ? err : out;
  std::ostream* jsonOut = options.json ? &out : nullptr;
  // Before the virtual IRD's threads start, so that none of them takes Ctrl-C and ends the
  // process before the download is stopped and summed up.
  StopKeys stopKeys(options.handleSignals);
  Prepared p;
  std::ostringstream refusal;
  std::optional<int> refused = Prepare(options, p, refusal);
  std::unique_ptr<unit::ReportFolder> report;
  if (!refused && !options.reportDir.empty()) {
    report = std::make_unique<unit::ReportFolder>(options.reportDir);
    std::string why;
    if (!report->Prepare(&why)) {
      Complain(refusal, why);
      refused = EXIT_REFUSED;
    }
  }
  if (refused) {
    err << refusal.str();
    if (jsonOut) {
      // The complaint's first line is the message, the indented rest its detail.
      std::istringstream lines(refusal.str());
      std::string message, detail, line;
      std::getline(lines, message);
      if (message.rfind("irdload-cli: ", 0) == 0) message.erase(0, 13);
      while (std::getline(lines, line)) {
        const auto text = line.find_first_not_of(' ');
        if (text != std::string::npos) detail += (detail.empty() ? "" : " ") + line.substr(text);
      }
      unit::JsonEventWriter(*jsonOut, {}).Refused(*refused, message, detail);
    }
    return *refused;
  }

  const std::string label = p.receiver ? "virtual-ird" : options.port;
  ConsoleOutput output{human, err, StandardOutputIsTerminal() && &human == &std::cout,
                       [] { return StandardOutputSize().columns; }};
  ConsoleHost console(p.port, p.files[0].path, p.files.size() > 1 ? p.files[1].path : "",
                      std::move(output), JobOf(p));
  unit::EventQueue events(4096);
  unit::QueueSink sink(events, 0);
  std::optional<unit::JsonEventWriter> json;
  if (jsonOut) json.emplace(*jsonOut, std::vector<std::string>{label});
  unit::UnitRunSetup setup;
  setup.label = label;
  setup.path = p.port;
  setup.files = p.files;
  setup.toolVersion = std::string("irdload-cli ") + build::kVersion;
  setup.host = HostName();
  setup.report = report.get();
  setup.trace = p.trace.get();
  setup.replyWait = options.replyWait;
  setup.connectTimeout = options.connectTimeout;
  setup.front = &console;
  if (p.receiver) setup.devices = p.receiver->deviceSource();
  SendControl control(options, p, console, events, json ? &*json : nullptr, stopKeys, human, err);
  unit::UnitResult result;
  {
    unit::UnitRun run(std::move(setup), sink);
    result = run.Run(1, options.unitId, control);
  }  // the engine's worker ends before the console goes
  control.Render();
  const int code = Verdict(result, control, err);
  control.WriteEvents();
  if (json) {
    const bool ok = result.counted() && code == EXIT_OK;
    json->Summary(ok ? 1 : 0, result.counted() && !ok ? 1 : 0, control.stopped(), code);
  }
  return code;
}

}  // namespace irdload::cli
