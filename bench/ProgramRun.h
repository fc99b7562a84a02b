// One of our programs, run as a child process against a paced virtual IRD in this process: the
// download as a user runs it, with the IRD's timing record and the child's own CPU and memory.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "bench/BenchContext.h"
#include "bench/ChildProcess.h"
#include "sim/VirtualIrd.h"

namespace irdload::bench {

struct Program {
  std::string label;  // names its log file
  std::string path;
  std::vector<std::string> extraEnv;
  std::vector<std::string> args;  // before "--port PORT FILE" (or "FILE --port PORT")
  bool fileFirst = false;
  // A program that may not know the option shows a window and waits: it gets a bound.
  bool mayNotKnowOption = false;
  // How the program names the IRD's line and the image, when not by their Linux paths (a Windows
  // program under wine: a COM port and a Z: path).
  std::function<std::string(const std::string& slavePath)> portName = {};
  std::function<std::string(const std::string& imagePath)> fileName = {};
};

struct ProgramRun {
  bool ok = false;
  bool unavailable = false;  // the program cannot do this; not a failure
  std::string error;
  ChildExit exit;
  sim::Report report;  // with timing
  // Runs done again because the program's exit dropped its last byte before the IRD read it:
  // on a pseudo-terminal, the port's purge at close can take bytes the drain already let go.
  int redone = 0;
};

// Sends the `bytes` image with `program` to a virtual IRD paced at 115200 and checks the IRD
// holds the image. `holdTick`: the IRD's replies are held like a USB adapter's latency timer.
ProgramRun RunProgram(BenchContext& context, const Program& program, std::size_t bytes,
                      std::chrono::microseconds holdTick = {});

// Where the built programs are, relative to the benchmark's own folder.
std::string CliPath(const BenchContext& context);
std::string DialogPath(const BenchContext& context);

}  // namespace irdload::bench
