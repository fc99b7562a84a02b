// Another program run by the benchmark: started with its standard streams on given
// descriptors, waited for with a bound, and measured (its own CPU time and peak memory).
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace irdload::bench {

struct ChildExit {
  int status = 0;  // as waitpid reports it
  rusage usage{};  // the child's own use, from wait4
  // The program's own peak resident memory (VmHWM), sampled while it ran; 0 when never seen.
  // Unlike usage.ru_maxrss it leaves out the parent's peak, which Linux hands to a child that
  // was forked from it and carries across exec.
  std::uint64_t peakResidentBytes = 0;
  std::chrono::nanoseconds wall{0};  // from the start to the exit being seen
  // When the exit was seen; steady_clock is CLOCK_MONOTONIC here, so this compares with the
  // simulator's instants.
  std::chrono::steady_clock::time_point exitedAt{};

  bool Succeeded() const;
  // "exit code 3", "killed by signal 9".
  std::string Describe() const;
  std::chrono::nanoseconds CpuTime() const;  // user + system
};

class ChildProcess {
 public:
  struct Command {
    std::string program;
    std::vector<std::string> args;      // without the program name
    int stdinFd = -1;                   // -1: /dev/null
    int stdoutFd = -1;                  // -1: /dev/null
    int stderrFd = -1;                  // -1: /dev/null
    std::string workDir;                // empty: the benchmark's own
    std::vector<std::string> extraEnv;  // "NAME=value", replacing any NAME already set
  };

  ChildProcess() = default;
  // Ends and reaps a child that is still running.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts the program; false with the reason (call and errno text) in `error`.
  bool Start(const Command& command, std::string* error);

  // Waits until the child exits, at most `bound`, sampling its peak memory as it goes. Between
  // short waits `keepWaiting` may end the wait early by returning false. Nothing when the child
  // is still running.
  std::optional<ChildExit> Wait(std::chrono::milliseconds bound,
                                const std::function<bool()>& keepWaiting = {});

  // SIGTERM, then SIGKILL if it has not gone after a grace period; reaps it.
  void Terminate();

  bool running() const { return pid_ > 0; }

 private:
  void Reap();

  void SamplePeakResident();

  pid_t pid_ = -1;
  int pidFd_ = -1;
  std::uint64_t peakResidentBytes_ = 0;
  std::chrono::steady_clock::time_point startedAt_{};
};

}  // namespace irdload::bench
