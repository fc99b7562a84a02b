#include "bench/WineEfficiency.h"

#include <unistd.h>

#include <filesystem>

#include "bench/ChildProcess.h"
#include "bench/EngineRun.h"
#include "bench/ProgramRun.h"
#include "bench/Stats.h"

namespace irdload::bench {
namespace {

namespace fs = std::filesystem;

constexpr int kRuns = 3;

// A Linux path as a Windows program names it: on the Z: drive, which is /.
std::string OnDriveZ(const std::string& path) {
  std::string text = "Z:" + path;
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
  return text;
}

// The wine prefix of this run, with its server kept running between the program's runs.
class WinePrefix {
 public:
  explicit WinePrefix(fs::path path) : path_(std::move(path)) {}
  ~WinePrefix() {
    stop_ = true;
    Shell("wineserver");
  }

  bool Make() {
    if (!Shell("wineboot")) return false;
    // Kept running for the runs (it says 2 when wineboot's server still runs, which then stays).
    Shell("wineserver");
    return true;
  }
  std::string env() const { return "WINEPREFIX=" + path_.string(); }
  // COM5 leads to `target`; wine reads the link when the port opens.
  std::string Link(const std::string& target) const {
    const fs::path com = path_ / "dosdevices" / "com5";
    std::error_code ec;
    fs::remove(com, ec);
    fs::create_symlink(target, com, ec);
    return "COM5";
  }

 private:
  bool Shell(const std::string& command) const {
    ChildProcess::Command c;
    c.program = "/usr/bin/env";
    c.args = {env(), "WINEDEBUG=-all", "WINEDLLOVERRIDES=mscoree,mshtml=", command};
    if (command == "wineserver") c.args.push_back(stop_ ? "-k" : "-p");
    if (command == "wineboot") c.args.push_back("-i");
    ChildProcess child;
    std::string error;
    if (!child.Start(c, &error)) {
      why_ = error;
      return false;
    }
    const std::optional<ChildExit> exit = child.Wait(std::chrono::minutes(2));
    if (!exit || !exit->Succeeded()) why_ = command + ": " + (exit ? exit->Describe() : "no end");
    return exit && exit->Succeeded();
  }
  mutable bool stop_ = false;
  mutable std::string why_;

 public:
  const std::string& why() const { return why_; }
  fs::path path_;
};

}  // namespace

void MeasureWineEfficiency(BenchContext& context, const std::string& windowsBuild,
                           std::vector<Row>& rows) {
  const std::string exe = fs::absolute(fs::path(windowsBuild) / "cli" / "irdload-cli.exe").string();
  WinePrefix prefix(context.workspace().path() / "wineprefix");
  context.Progress("a wine prefix for irdload-cli.exe");
  const bool built = access(exe.c_str(), R_OK) == 0;
  if (!built || !prefix.Make()) {
    rows.push_back(
        {"Line efficiency under wine (irdload-cli.exe)", windowsBuild,
         "not available: " + (built ? "wine did not make a prefix: " + prefix.why() : "no " + exe),
         "within 0.01 of the Linux build", "—"});
    return;
  }
  Program linux;
  linux.label = "irdload-cli";
  linux.path = CliPath(context);
  linux.args = {"send"};
  Program windows;
  windows.label = "irdload-cli.exe";
  windows.path = "/usr/bin/env";
  windows.args = {prefix.env(), "WINEDEBUG=-all", "WINEDLLOVERRIDES=mscoree,mshtml=", "wine", exe,
                  "send"};
  windows.portName = [&](const std::string& slave) { return prefix.Link(slave); };
  windows.fileName = OnDriveZ;
  const std::vector<std::size_t> sizes = context.quick()
                                             ? std::vector<std::size_t>{64 * 1024}
                                             : std::vector<std::size_t>{64 * 1024, 1024 * 1024};
  for (const std::size_t bytes : sizes) {
    const std::string size = SizeName(bytes);
    const auto limit = ProtocolLimit(bytes, kLineBaud);
    std::vector<double> linuxRuns, windowsRuns;
    std::string error;
    const std::string loadBefore = LoadNow();
    // Alternately, so that both meet the same load.
    for (int run = 0; run < kRuns && error.empty(); ++run) {
      for (Program* program : {&linux, &windows}) {
        context.Progress("line efficiency, " + size + ", " + program->label + ": run " +
                         std::to_string(run + 1) + " of " + std::to_string(kRuns));
        const ProgramRun result = RunProgram(context, *program, bytes);
        if (!result.ok) {
          error = program->label + ": " + result.error;
          break;
        }
        const auto span =
            result.report.timing.lastTerminateAnswerAt - result.report.timing.firstConnectRequestAt;
        (program == &linux ? linuxRuns : windowsRuns)
            .push_back(static_cast<double>(limit.count()) / static_cast<double>(span.count()));
      }
    }
    const std::string inputs = size + ", " + std::to_string(kRuns) + " runs each, alternately, " +
                               loadBefore + " at the start, " + LoadNow() + " at the end";
    if (!error.empty()) {
      context.MarkBroken();
      rows.push_back({"Line efficiency under wine, " + size + " (irdload-cli.exe)", inputs,
                      "failed: " + error, "within 0.01 of the Linux build", "—"});
      continue;
    }
    const double ours = Median(linuxRuns);
    const double wine = Median(windowsRuns);
    const double gap = ours - wine;
    rows.push_back(
        {"Line efficiency, " + size + " (irdload-cli, Linux)", inputs, Fixed(ours, 4), "", ""});
    rows.push_back({"Line efficiency under wine, " + size + " (irdload-cli.exe)", inputs,
                    Fixed(wine, 4) + " (Linux − wine: " + Fixed(gap, 4) + ")",
                    "within 0.01 of the Linux build",
                    gap <= 0.01 ? "met (" + Fixed(gap, 4) + " ≤ 0.01)"
                                : "missed (" + Fixed(gap, 4) + " > 0.01)"});
  }
}

}  // namespace irdload::bench
