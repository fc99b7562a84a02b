#include "bench/Cost.h"

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "bench/ChildProcess.h"
#include "bench/EngineRun.h"
#include "sim/VirtualIrd.h"

namespace irdload::bench {
namespace {

using namespace std::chrono_literals;

constexpr double kCpuShareGoal = 0.01;
constexpr double kMemoryHeadroomBytes = 16.0 * 1024 * 1024;
// A dialog program that does not know the option shows its window and waits: it is given this
// long to put a connect request on the line.
constexpr auto kGuiConnectBound = 20s;

struct Program {
  std::string label;  // names its log file
  std::string path;
  std::vector<std::string> extraEnv;
};

struct Measured {
  bool ok = false;
  bool unavailable = false;  // the program cannot do this; not a failure
  std::string error;
  ChildExit exit;
};

std::string Tail(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  std::string s = text.str();
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  const auto cut = s.find_last_of('\n');
  return cut == std::string::npos ? s : s.substr(cut + 1);
}

// Runs one program against a paced virtual IRD and checks the IRD holds the image.
Measured Run(BenchContext& context, const Program& program, std::size_t bytes,
             const std::vector<std::string>& argsBeforePortAndFile, bool portFirst,
             bool mayNotKnowOption) {
  Measured m;
  std::string error;
  const std::string image = context.ImagePath(bytes, &error);
  if (image.empty()) {
    m.error = error;
    return m;
  }
  sim::VirtualIrd::Options options;
  options.baud = kLineBaud;
  options.recordTiming = true;
  sim::VirtualIrd ird(options);
  if (!ird.Start(&error)) {
    m.error = "the virtual IRD did not start: " + error;
    return m;
  }
  const std::string logPath = (context.workspace().path() / (program.label + ".log")).string();
  const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ChildProcess::Command command;
  command.program = program.path;
  command.args = argsBeforePortAndFile;
  if (portFirst) {
    command.args.insert(command.args.end(), {"--port", ird.SlavePath(), image});
  } else {
    command.args.insert(command.args.end(), {image, "--port", ird.SlavePath()});
  }
  command.stdoutFd = log;
  command.stderrFd = log;
  command.extraEnv = program.extraEnv;
  ChildProcess child;
  const bool started = child.Start(command, &error);
  if (log >= 0) close(log);
  if (!started) {
    m.error = error;
    return m;
  }
  const auto bound = TransferBound(ProtocolLimit(bytes, kLineBaud));
  const auto waitStarted = std::chrono::steady_clock::now();
  bool neverConnected = false;
  const auto connectedInTime = [&] {
    if (!mayNotKnowOption || std::chrono::steady_clock::now() - waitStarted < kGuiConnectBound) {
      return true;
    }
    neverConnected = ird.GetReport().fromPc.empty();
    return !neverConnected;
  };
  std::optional<ChildExit> exit =
      child.Wait(std::chrono::duration_cast<std::chrono::milliseconds>(bound), connectedInTime);
  if (!exit) {
    child.Terminate();
    if (neverConnected) {
      m.unavailable = true;
      m.error = "it sent nothing within " + std::to_string(kGuiConnectBound.count()) + " s of `" +
                command.args.front() + "` (the option is not there yet?)";
    } else {
      m.error = "it did not finish within " + std::to_string(bound.count()) + " s";
    }
    return m;
  }
  // The IRD may still be reading the last bytes (a program's exit purges its port, and on a
  // pty that can even drop them: only the payload is checked).
  if (exit->Succeeded()) ird.WaitForTerminatedFiles(1, 2s);
  const sim::Report report = ird.GetReport();
  if (!exit->Succeeded()) {
    m.unavailable = mayNotKnowOption && report.fromPc.empty();
    m.error = "it ended with " + exit->Describe() + ": " + Tail(logPath);
    return m;
  }
  if (report.files.size() != 1 || report.files[0].payload != context.Payload(bytes)) {
    m.error = "the virtual IRD does not hold the image byte for byte";
    return m;
  }
  m.ok = true;
  m.exit = *exit;
  return m;
}

void AddRows(BenchContext& context, const std::string& label, std::size_t bytes, const Measured& m,
             bool memoryGoal, std::vector<Row>& rows) {
  Row cpu;
  cpu.figure = "CPU per MiB, " + label;
  cpu.goal = "< 1% of one core during the paced transfer";
  Row memory;
  memory.figure = "Peak resident memory, " + label;
  const double payload = static_cast<double>(bytes);
  memory.goal = memoryGoal ? "< payload + 16 MiB = " + MiB(payload + kMemoryHeadroomBytes)
                           : "none set (reported only)";
  if (!m.ok) {
    if (!m.unavailable) context.MarkBroken();
    const std::string value = (m.unavailable ? "not available: " : "failed: ") + m.error;
    for (Row* row : {&cpu, &memory}) {
      row->inputs = SizeName(bytes) + " at 115200 to the paced virtual IRD, as a child process";
      row->value = value;
      row->ratio = "—";
      rows.push_back(*row);
    }
    return;
  }
  const double cpuSeconds = std::chrono::duration<double>(m.exit.CpuTime()).count();
  const double wallSeconds = std::chrono::duration<double>(m.exit.wall).count();
  const double mib = payload / (1024.0 * 1024.0);
  const double share = cpuSeconds / wallSeconds;
  const auto seconds = [](const timeval& tv) {
    return Fixed(static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6, 2);
  };
  cpu.inputs = SizeName(bytes) + " at 115200 to the paced virtual IRD, as a child process; user " +
               seconds(m.exit.usage.ru_utime) + " s + sys " + seconds(m.exit.usage.ru_stime) +
               " s over " + Fixed(wallSeconds, 1) + " s wall";
  cpu.value =
      Fixed(cpuSeconds / mib, 3) + " s per MiB = " + Fixed(share * 100.0, 2) + "% of one core";
  cpu.ratio = RatioToGoal(share, kCpuShareGoal, GoalKind::Under);
  const double rssBytes = static_cast<double>(m.exit.peakResidentBytes);
  memory.inputs = SizeName(bytes) +
                  " payload; the child's VmHWM sampled every 50 ms (its ru_maxrss, " +
                  MiB(static_cast<double>(m.exit.usage.ru_maxrss) * 1024.0) +
                  ", also holds this benchmark's own peak, inherited through the spawn)";
  memory.value = MiB(rssBytes);
  memory.ratio =
      memoryGoal ? RatioToGoal(rssBytes, payload + kMemoryHeadroomBytes, GoalKind::Under) : "—";
  rows.push_back(cpu);
  rows.push_back(memory);
}

}  // namespace

void MeasureCost(BenchContext& context, std::vector<Row>& rows) {
  const std::size_t bytes = context.quick() ? 64 * 1024 : 4 * 1024 * 1024;
  const std::filesystem::path buildDir = context.binaryDir().parent_path();

  const std::string cli = (buildDir / "cli" / "irdload-cli").string();
  context.Progress("Cost, irdload-cli send, " + SizeName(bytes) + " at 115200");
  Measured cliRun;
  if (access(cli.c_str(), X_OK) != 0) {
    cliRun.error = cli + " is not there (build the irdload-cli target)";
  } else {
    cliRun = Run(context, {"irdload-cli", cli, {}}, bytes, {"send"}, true, false);
  }
  AddRows(context, "irdload-cli", bytes, cliRun, true, rows);

  const std::string gui = (buildDir / "ui" / "irdload").string();
  Measured guiRun;
  if (access(gui.c_str(), X_OK) != 0) {
    guiRun.unavailable = true;
    guiRun.error = gui +
                   " is not built (configured with IRDLOAD_GUI=OFF, or the dialog program "
                   "is not in this tree yet)";
  } else {
    context.Progress("Cost, irdload --headless-send (offscreen), " + SizeName(bytes) + " at 115200");
    guiRun = Run(context, {"irdload", gui, {"QT_QPA_PLATFORM=offscreen"}}, bytes, {"--headless-send"},
                 false, true);
  }
  AddRows(context, "irdload (dialog, offscreen)", bytes, guiRun, false, rows);
}

}  // namespace irdload::bench
