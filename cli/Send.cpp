// irdload-cli send: the files checked before any port is touched, the download run by the
// engine, and the exit code taken from how it ended.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/ConsoleHost.h"
#include "cli/WireTrace.h"
#include "engine/DownloadEngine.h"
#include "engine/FileChoice.h"
#include "engine/Image.h"
#include "sim/VirtualIrd.h"

namespace irdload::cli {
namespace {

using namespace std::chrono_literals;

struct CheckedFile {
  std::string path;
  ImageCheck seen;
};

// The file choice checked before any port is touched: the dialog's extension rules, then
// every check the engine's load makes. Prints the refusal and returns false.
bool CheckFiles(const std::vector<std::string>& files, std::vector<CheckedFile>& checked,
                std::ostream& err) {
  if (files.empty() || files.size() > 2) {
    Complain(err, "give one upgrade file (.uuc), or a pair (.u01 then .u02)");
    return false;
  }
  const std::string ext = ChosenExtension(files[0]);
  if (ext != "uuc" && ext != "u01") {
    Complain(err, "Invalid File", files[0] + ": the first file must end in .uuc or .u01");
    return false;
  }
  if (ext == "uuc" && files.size() == 2) {
    Complain(err, "a single-file upgrade (.uuc) takes no second file");
    return false;
  }
  if (ext == "u01" && files.size() == 1) {
    Complain(err, "the first file of a pair (.u01) needs its second file (.u02)");
    return false;
  }
  if (files.size() == 2 && ChosenExtension(files[1]) != "u02") {
    Complain(err, "Invalid Second File", files[1] + ": the second file must end in .u02");
    return false;
  }
  ImageKind kind = IMAGE_NONE;
  for (const auto& path : files) {
    ImageFile file;
    std::string why;
    if (!file.Open(path, &why)) {
      Complain(err, "Open Error!", why);
      return false;
    }
    CheckedFile c{path, InspectImage(file, kind)};
    if (!c.seen.loads()) {
      Complain(err, c.seen.refusal, path);
      return false;
    }
    kind = c.seen.kindAfterLoad;
    checked.push_back(std::move(c));
  }
  return true;
}

// Reads a whole file for the final comparison; empty on failure.
std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int VerifySimulated(const sim::Report& report, const std::vector<CheckedFile>& files,
                    std::ostream& out, std::ostream& err) {
  if (report.files.size() != files.size()) {
    Complain(err, "the virtual IRD received " + std::to_string(report.files.size()) +
                      " files, not " + std::to_string(files.size()));
    return EXIT_VERIFY;
  }
  std::size_t bytes = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const auto whole = ReadAll(files[i].path);
    const std::size_t cut = std::min<std::size_t>(kHeaderSize, whole.size());
    const std::vector<std::uint8_t> payload(whole.begin() + static_cast<long>(cut), whole.end());
    const auto& got = report.files[i];
    if (!std::equal(whole.begin(), whole.begin() + static_cast<long>(cut), got.header.begin()) ||
        got.payload != payload) {
      Complain(err, "the virtual IRD's image differs from " + files[i].path);
      return EXIT_VERIFY;
    }
    bytes += payload.size();
  }
  out << "Verified: the virtual IRD holds the image byte for byte (" << bytes << " bytes)\n";
  return EXIT_OK;
}

// "Kind[@at[:value]]" as a fault of the virtual IRD; DelayReply's value is in microseconds.
bool ParseFault(const std::string& text, sim::Fault& fault) {
  const auto atPos = text.find('@');
  const std::string name = text.substr(0, atPos);
  bool known = false;
  for (int k = 0; k <= static_cast<int>(sim::FaultKind::HangUpAt); ++k) {
    if (sim::FaultKindName(static_cast<sim::FaultKind>(k)) == name) {
      fault.kind = static_cast<sim::FaultKind>(k);
      known = true;
    }
  }
  if (!known) return false;
  if (atPos == std::string::npos) return true;
  const std::string rest = text.substr(atPos + 1);
  const auto colon = rest.find(':');
  try {
    std::size_t used = 0;
    const std::string at = rest.substr(0, colon);
    fault.at = static_cast<std::uint32_t>(std::stoul(at, &used));
    if (used != at.size()) return false;
    if (colon != std::string::npos) {
      const std::string value = rest.substr(colon + 1);
      const auto number = static_cast<std::uint32_t>(std::stoul(value, &used));
      if (used != value.size()) return false;
      if (fault.kind == sim::FaultKind::DelayReply) {
        fault.delay = std::chrono::microseconds{number};
      } else {
        fault.value = number;
      }
    }
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

// Blocks SIGINT and SIGTERM in this thread and every thread it starts, so that the command
// takes them with sigtimedwait at its own pace instead of in a handler.
class SignalCatcher {
 public:
  explicit SignalCatcher(bool active) : active_(active) {
    if (!active_) return;
    sigemptyset(&set_);
    sigaddset(&set_, SIGINT);
    sigaddset(&set_, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set_, &old_);
  }
  ~SignalCatcher() {
    if (active_) pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  bool Caught() {
    if (!active_) return false;
    timespec zero{0, 0};
    return sigtimedwait(&set_, nullptr, &zero) > 0;
  }

 private:
  bool active_;
  sigset_t set_{}, old_{};
};

// Everything a send needs, checked and made before the engine runs.
struct Prepared {
  std::vector<CheckedFile> files;
  std::unique_ptr<sim::VirtualIrd> ird;  // with --simulate
  std::string port;
  std::unique_ptr<WireTrace> trace;
};

// Checks the files and options and makes the virtual IRD and the trace; an exit code when
// something is refused.
std::optional<int> Prepare(const SendOptions& options, Prepared& p, std::ostream& err) {
  if (!CheckFiles(options.files, p.files, err)) return EXIT_REFUSED;
  p.port = options.port;
  if (options.simulate) {
    sim::VirtualIrd::Options o;
    o.baud = options.simulateBaud;
    for (const auto& text : options.simulateFaults) {
      sim::Fault fault{};
      if (!ParseFault(text, fault)) {
        Complain(err, "unknown fault \"" + text + "\"", "use Kind[@at[:value]], e.g. NackPacket@3");
        return EXIT_REFUSED;
      }
      o.faults.push_back(fault);
    }
    p.ird = std::make_unique<sim::VirtualIrd>(o);
    std::string why;
    if (!p.ird->Start(&why)) {
      Complain(err, "the virtual IRD did not start", why);
      return EXIT_INTERNAL;
    }
    p.port = p.ird->SlavePath();
  }
  if (!options.tracePath.empty()) {
    p.trace = std::make_unique<WireTrace>();
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
  bool portOpenFailed = false;
  bool stopped = false;
  bool timedOut = false;
};

RunResult RunDownload(const SendOptions& options, Prepared& p, std::ostream& out,
                      std::ostream& err) {
  SignalCatcher signals(options.handleSignals);
  const bool interactive = ::isatty(STDOUT_FILENO) && &out == &std::cout;
  ConsoleHost host(p.port, p.files[0].path, p.files.size() > 1 ? p.files[1].path : "", out, err,
                   interactive);
  auto port = std::make_unique<SerialPortLink>(options.replyWait);
  if (p.trace) {
    port->port().SetTap([trace = p.trace.get()](WireDirection d, const std::uint8_t* bytes,
                                                std::size_t n) { trace->Record(d, bytes, n); });
  }
  EngineOptions engineOptions;
  engineOptions.port = std::move(port);
  auto engine = std::make_unique<DownloadEngine>(std::move(engineOptions));
  RunResult result;
  if (!engine->Init(host, p.port)) return result;
  if (host.portOpenFailure()) {
    result.portOpenFailed = true;
    return result;
  }

  std::uint64_t totalBytes = 0, packets = 0;
  for (const auto& f : p.files) {
    totalBytes += f.seen.payloadSize;
    packets += f.seen.packets();
  }
  out << "Sending " << p.files[0].path << (p.files.size() > 1 ? " and " + p.files[1].path : "")
      << " to " << (p.ird ? "the virtual IRD (" + p.port + ")" : p.port) << ": " << totalBytes
      << " bytes in " << packets << " packets\n";
  if (!engine->StartDownload()) {
    result.outcome = host.outcome();
    return result;
  }
  if (host.portOpenFailure()) {
    engine->Finish();
    result.portOpenFailed = true;
    return result;
  }

  const auto started = std::chrono::steady_clock::now();
  while (!engine->WaitIdle(100ms)) {
    host.Render(false);
    if (signals.Caught()) {
      result.stopped = true;
      engine->Finish();
    } else if (options.connectTimeout.count() > 0 && !host.connected() &&
               std::chrono::steady_clock::now() - started > options.connectTimeout) {
      result.timedOut = true;
      engine->Finish();
    }
  }
  host.Render(true);
  engine.reset();  // the worker ends before the host goes
  result.outcome = host.outcome();
  return result;
}

int Verdict(const SendOptions& options, const Prepared& p, const RunResult& r, std::ostream& out,
            std::ostream& err) {
  if (r.portOpenFailed) return EXIT_PORT;
  if (r.stopped) {
    Complain(err, "stopped");
    return EXIT_STOPPED;
  }
  if (r.timedOut) {
    Complain(err,
             "the IRD did not answer the connect request within " +
                 std::to_string(options.connectTimeout.count()) + " s",
             "check the cable and the port, and switch the receiver on");
    return EXIT_NO_RESPONSE;
  }
  if (!r.outcome) return EXIT_INTERNAL;
  switch (r.outcome->kind) {
    case OutcomeKind::Success:
      return p.ird ? VerifySimulated(p.ird->GetReport(), p.files, out, err) : EXIT_OK;
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

}  // namespace

int RunSend(const SendOptions& options, std::ostream& out, std::ostream& err) {
  Prepared prepared;
  if (const std::optional<int> refused = Prepare(options, prepared, err)) return *refused;
  const RunResult result = RunDownload(options, prepared, out, err);
  return Verdict(options, prepared, result, out, err);
}

}  // namespace irdload::cli
