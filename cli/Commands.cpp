#include "cli/Commands.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>

#include "cli/ConsoleHost.h"
#include "cli/WireTrace.h"
#include "engine/DownloadEngine.h"
#include "engine/Image.h"
#include "engine/ImageWriter.h"
#include "sim/VirtualIrd.h"

namespace irdload::cli {
namespace {

using namespace std::chrono_literals;

void Complain(std::ostream& err, const std::string& text, const std::string& detail = {}) {
  err << "irdload-cli: " << text << '\n';
  if (!detail.empty()) err << "  " << detail << '\n';
}

// The extension as the dialog's file selection sees it: after the last dot of the file name,
// case-sensitive; a name without one counts as "uuc".
std::string Extension(const std::string& path) {
  const std::string name = path.substr(path.find_last_of('/') + 1);
  const auto dot = name.rfind('.');
  return dot == std::string::npos ? "uuc" : name.substr(dot + 1);
}

const char* KindName(ImageKind kind) {
  switch (kind) {
    case IMAGE_SINGLE: return "single file";
    case IMAGE_FIRST: return "first file of a pair";
    case IMAGE_SECOND: return "second file of a pair";
    default: return "unknown type (kind unchanged)";
  }
}

struct CheckedFile {
  std::string path;
  ImageInspection seen;
  std::vector<std::uint8_t> header, payload;  // read for --simulate's final comparison
};

// The file choice checked before any port is touched: the dialog's extension rules, then
// every check the engine's load makes. Prints the refusal and returns false.
bool CheckFiles(const std::vector<std::string>& files, std::vector<CheckedFile>& checked,
                std::ostream& err) {
  if (files.empty() || files.size() > 2) {
    Complain(err, "give one upgrade file (.uuc), or a pair (.u01 then .u02)");
    return false;
  }
  const std::string ext = Extension(files[0]);
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
  if (files.size() == 2 && Extension(files[1]) != "u02") {
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
    CheckedFile c;
    c.path = path;
    c.seen = InspectImage(file, kind);
    if (!c.seen.loads) {
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
    const std::vector<std::uint8_t> header(whole.begin(), whole.begin() + std::min<std::size_t>(64, whole.size()));
    const std::vector<std::uint8_t> payload(whole.begin() + std::min<std::size_t>(64, whole.size()), whole.end());
    const auto& got = report.files[i];
    if (!std::equal(header.begin(), header.end(), got.header.begin()) || got.payload != payload) {
      Complain(err, "the virtual IRD's image differs from " + files[i].path);
      return EXIT_VERIFY;
    }
    bytes += payload.size();
  }
  out << "Verified: the virtual IRD holds the image byte for byte (" << bytes << " bytes)\n";
  return EXIT_OK;
}

// "Kind[@at[:value]]" as a fault of the virtual IRD.
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
      fault.value = static_cast<std::uint32_t>(std::stoul(value, &used));
      if (used != value.size()) return false;
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

}  // namespace

int RunSend(const SendOptions& options, std::ostream& out, std::ostream& err) {
  std::vector<CheckedFile> files;
  if (!CheckFiles(options.files, files, err)) return EXIT_REFUSED;

  SignalCatcher signals(options.handleSignals);
  std::unique_ptr<sim::VirtualIrd> ird;
  std::string port = options.port;
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
    ird = std::make_unique<sim::VirtualIrd>(o);
    std::string why;
    if (!ird->Start(&why)) {
      Complain(err, "the virtual IRD did not start", why);
      return EXIT_INTERNAL;
    }
    port = ird->SlavePath();
  }

  const bool interactive = ::isatty(STDOUT_FILENO) && &out == &std::cout;
  ConsoleHost host(port, files[0].path, files.size() > 1 ? files[1].path : "", out, err, interactive);
  EngineOptions engineOptions;
  engineOptions.readPauses = options.readPauses;
  auto engine = std::make_unique<DownloadEngine>(std::move(engineOptions));
  WireTrace trace;
  if (!options.tracePath.empty()) {
    std::string why;
    if (!trace.Open(options.tracePath, &why)) {
      Complain(err, "cannot write the trace", why);
      return EXIT_REFUSED;
    }
    static_cast<SerialPortLink&>(engine->port()).port().SetTap(
        [&trace](WireDirection d, const std::uint8_t* p, std::size_t n) { trace.Record(d, p, n); });
  }
  if (!engine->Init(host, port)) return EXIT_INTERNAL;
  if (host.portOpenFailed()) return EXIT_PORT;

  std::uint64_t totalBytes = 0, packets = 0;
  for (const auto& f : files) {
    totalBytes += f.seen.payloadSize;
    packets += f.seen.lastPacketIndex + 1;
  }
  out << "Sending " << files[0].path << (files.size() > 1 ? " and " + files[1].path : "")
      << " to " << (options.simulate ? "the virtual IRD (" + port + ")" : port) << ": "
      << totalBytes << " bytes in " << packets << " packets\n";
  if (!engine->StartDownload()) return host.portOpenFailed() ? EXIT_PORT : EXIT_REFUSED;
  if (host.portOpenFailed()) {
    engine->Finish();
    return EXIT_PORT;
  }

  bool stopped = false, timedOut = false;
  const auto started = std::chrono::steady_clock::now();
  while (!engine->WaitIdle(100ms)) {
    host.Render(false);
    if (signals.Caught()) {
      stopped = true;
      engine->Finish();
    } else if (options.connectTimeout.count() > 0 && !host.connected() &&
               std::chrono::steady_clock::now() - started > options.connectTimeout) {
      timedOut = true;
      engine->Finish();
    }
  }
  host.Render(true);
  const DownloadOutcome outcome = engine->lastOutcome();
  engine.reset();  // the worker ends before the host and the IRD go

  if (stopped) {
    Complain(err, "stopped");
    return EXIT_STOPPED;
  }
  if (timedOut) {
    Complain(err, "the IRD did not answer the connect request within " +
                      std::to_string(options.connectTimeout.count()) + " s",
             "check the cable and the port, and switch the receiver on");
    return EXIT_NO_RESPONSE;
  }
  switch (outcome) {
    case DownloadOutcome::Success:
      return ird ? VerifySimulated(ird->GetReport(), files, out, err) : EXIT_OK;
    case DownloadOutcome::Failed:
      return EXIT_IRD_FAILED;
    case DownloadOutcome::NoResponse:
      return EXIT_NO_RESPONSE;
    default:
      return EXIT_INTERNAL;
  }
}

int RunInspect(const std::string& path, std::ostream& out, std::ostream& err) {
  ImageFile file;
  std::string why;
  if (!file.Open(path, &why)) {
    Complain(err, "Open Error!", why);
    return EXIT_REFUSED;
  }
  // A second file is judged as the engine would judge it: after its first file.
  const ImageKind before = Extension(path) == "u02" ? IMAGE_FIRST : IMAGE_NONE;
  const ImageInspection seen = InspectImage(file, before);
  char type[16];
  std::snprintf(type, sizeof type, "0x%08X", seen.typeCode);
  char magic[16];
  std::snprintf(magic, sizeof magic, "0x%08X", ReadLe32(seen.header.data()));
  out << "file:          " << path << '\n';
  if (seen.fileLength > 0 || seen.loads) {
    out << "file length:   " << seen.fileLength << " bytes\n"
        << "magic:         " << magic << (ReadLe32(seen.header.data()) == kImageMagic ? " (ok)" : "") << '\n'
        << "type code:     " << type << " (" << KindName(seen.kindAfterLoad) << ")\n"
        << "payload size:  " << seen.payloadSize << " bytes\n";
  }
  if (seen.loads) {
    out << "packets:       " << seen.lastPacketIndex + 1 << " of 1024 bytes\n"
        << "estimate:      " << FormatMinutesSeconds(EstimateSeconds(seen.payloadSize, seen.lastPacketIndex))
        << '\n'
        << "would load:    yes\n";
    return EXIT_OK;
  }
  out << "would load:    no: " << seen.refusal << '\n';
  return EXIT_REFUSED;
}

int RunPorts(const InventoryRoots& roots, std::ostream& out) {
  const auto ports = ListSerialPorts(roots);
  if (ports.empty()) {
    out << "No serial ports found.\n";
    return EXIT_OK;
  }
  for (const auto& p : ports) out << DescribePort(p) << '\n';
  return EXIT_OK;
}

int RunMakeSample(const SampleOptions& options, std::ostream& out, std::ostream& err) {
  std::uint32_t type = kTypeSingle;
  if (options.type == "first") type = kTypeFirstOfPair;
  else if (options.type == "second") type = kTypeSecondOfPair;
  else if (options.type != "single") {
    Complain(err, "--type takes single, first or second");
    return EXIT_REFUSED;
  }
  if (options.size > 0xFFFFFFFFull) {
    Complain(err, "--size must fit 32 bits");
    return EXIT_REFUSED;
  }
  const auto bytes = ComposeImage(type, PatternPayload(options.size, options.seed));
  std::ofstream file(options.path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) {
    Complain(err, "cannot write " + options.path, std::strerror(errno));
    return EXIT_REFUSED;
  }
  out << "Wrote " << options.path << ": " << options.size << " payload bytes, " << options.type << '\n';
  return EXIT_OK;
}

}  // namespace irdload::cli
