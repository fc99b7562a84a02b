#include "bench/ProgramRun.h"

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "bench/EngineRun.h"

namespace irdload::bench {
namespace {

using namespace std::chrono_literals;

constexpr auto kGuiConnectBound = 20s;

std::string Tail(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  std::string s = text.str();
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  const auto cut = s.find_last_of('\n');
  return cut == std::string::npos ? s : s.substr(cut + 1);
}

}  // namespace

std::string CliPath(const BenchContext& context) {
  return (context.binaryDir().parent_path() / "cli" / "irdload-cli").string();
}

std::string DialogPath(const BenchContext& context) {
  return (context.binaryDir().parent_path() / "ui" / "irdload").string();
}

namespace {

ProgramRun RunOnce(BenchContext& context, const Program& program, std::size_t bytes,
                   std::chrono::microseconds holdTick) {
  ProgramRun m;
  if (access(program.path.c_str(), X_OK) != 0) {
    m.unavailable = program.mayNotKnowOption;
    m.error = program.path + " is not built";
    return m;
  }
  std::string error;
  const std::string image = context.ImagePath(bytes, &error);
  if (image.empty()) {
    m.error = error;
    return m;
  }
  sim::VirtualIrd::Options options;
  options.baud = kLineBaud;
  options.recordTiming = true;
  options.holdTick = holdTick;
  sim::VirtualIrd ird(options);
  if (!ird.Start(&error)) {
    m.error = "the virtual IRD did not start: " + error;
    return m;
  }
  const std::string logPath = (context.workspace().path() / (program.label + ".log")).string();
  const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ChildProcess::Command command;
  command.program = program.path;
  command.args = program.args;
  const std::string port = program.portName ? program.portName(ird.SlavePath()) : ird.SlavePath();
  const std::string file = program.fileName ? program.fileName(image) : image;
  if (program.fileFirst) {
    command.args.insert(command.args.end(), {file, "--port", port});
  } else {
    command.args.insert(command.args.end(), {"--port", port, file});
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
  const auto keepWaiting = [&] {
    if (!program.mayNotKnowOption ||
        std::chrono::steady_clock::now() - waitStarted < kGuiConnectBound) {
      return true;
    }
    neverConnected = ird.GetReport().fromPc.empty();
    return !neverConnected;
  };
  std::optional<ChildExit> exit =
      child.Wait(std::chrono::duration_cast<std::chrono::milliseconds>(bound), keepWaiting);
  if (!exit) {
    child.Terminate();
    m.unavailable = neverConnected;
    m.error = neverConnected
                  ? "it sent nothing within " + std::to_string(kGuiConnectBound.count()) +
                        " s (the option is not there yet?)"
                  : "it did not finish within " + std::to_string(bound.count()) + " s";
    return m;
  }
  // The IRD may still be reading the last bytes (a program's exit purges its port, and on a
  // pty that can even drop them: only the payload is checked).
  if (exit->Succeeded()) ird.WaitForTerminatedFiles(1, 2s);
  m.report = ird.GetReport();
  if (!exit->Succeeded()) {
    m.unavailable = program.mayNotKnowOption && m.report.fromPc.empty();
    m.error = "it ended with " + exit->Describe() + ": " + Tail(logPath);
    return m;
  }
  if (m.report.files.size() != 1 || m.report.files[0].payload != context.Payload(bytes)) {
    m.error = "the virtual IRD does not hold the image byte for byte";
    return m;
  }
  m.ok = true;
  m.exit = *exit;
  return m;
}

}  // namespace

ProgramRun RunProgram(BenchContext& context, const Program& program, std::size_t bytes,
                      std::chrono::microseconds holdTick) {
  ProgramRun run;
  for (int attempt = 0; attempt < 3; ++attempt) {
    const int redone = run.redone;
    run = RunOnce(context, program, bytes, holdTick);
    run.redone = redone;
    if (!run.ok || run.report.timing.lastTerminateAnswerAt.count() > 0) return run;
    ++run.redone;
  }
  run.ok = false;
  run.error = "the IRD never read the terminate answer in 3 runs";
  return run;
}

}  // namespace irdload::bench
