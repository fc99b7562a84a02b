#include "bench/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>

extern char** environ;

namespace irdload::bench {
namespace {

using namespace std::chrono_literals;

constexpr auto kTerminateGrace = 3s;
// How often `keepWaiting` is asked and the peak memory sampled while a child runs. The peak is
// a high-water mark, so a sample only misses what the last slice before the exit added.
constexpr auto kWaitSlice = 50ms;

std::string ErrnoText(const std::string& what, int err) {
  return what + ": " + std::generic_category().message(err) + " (errno " + std::to_string(err) +
         ")";
}

std::chrono::nanoseconds FromTimeval(const timeval& tv) {
  return std::chrono::seconds(tv.tv_sec) + std::chrono::microseconds(tv.tv_usec);
}

// The environment with `extra` entries replacing those of the same name.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('=') + 1);
    const bool replaced = std::any_of(extra.begin(), extra.end(), [&](const std::string& x) {
      return x.compare(0, name.size(), name) == 0;
    });
    if (!replaced) env.push_back(entry);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

}  // namespace

bool ChildExit::Succeeded() const {
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string ChildExit::Describe() const {
  if (WIFEXITED(status)) return "exit code " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
  return "status " + std::to_string(status);
}

std::chrono::nanoseconds ChildExit::CpuTime() const {
  return FromTimeval(usage.ru_utime) + FromTimeval(usage.ru_stime);
}

ChildProcess::~ChildProcess() {
  Terminate();
}

bool ChildProcess::Start(const Command& command, std::string* error) {
  if (running()) {
    *error = "a child is already running";
    return false;
  }
  const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (devNull < 0) {
    *error = ErrnoText("open /dev/null", errno);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const int streams[3] = {command.stdinFd, command.stdoutFd, command.stderrFd};
  for (int target = 0; target < 3; ++target) {
    posix_spawn_file_actions_adddup2(&actions, streams[target] >= 0 ? streams[target] : devNull,
                                     target);
  }
  if (!command.workDir.empty())
    posix_spawn_file_actions_addchdir_np(&actions, command.workDir.c_str());

  std::vector<std::string> argvStrings = {command.program};
  argvStrings.insert(argvStrings.end(), command.args.begin(), command.args.end());
  std::vector<std::string> envStrings = MergedEnvironment(command.extraEnv);
  std::vector<char*> argv = Pointers(argvStrings);
  std::vector<char*> envp = Pointers(envStrings);

  startedAt_ = std::chrono::steady_clock::now();
  pid_t pid = -1;
  const int err =
      posix_spawn(&pid, command.program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(devNull);
  if (err != 0) {
    *error = ErrnoText("starting " + command.program, err);
    return false;
  }
  pid_ = pid;
  peakResidentBytes_ = 0;
  pidFd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
  if (pidFd_ < 0) {
    const int openErr = errno;
    Terminate();
    *error = ErrnoText("pidfd_open", openErr);
    return false;
  }
  return true;
}

std::optional<ChildExit> ChildProcess::Wait(std::chrono::milliseconds bound,
                                            const std::function<bool()>& keepWaiting) {
  if (!running()) return std::nullopt;
  const auto deadline = std::chrono::steady_clock::now() + bound;
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return std::nullopt;
    const auto slice = std::min<std::chrono::steady_clock::duration>(deadline - now, kWaitSlice);
    pollfd p{pidFd_, POLLIN, 0};
    const int ready =
        poll(&p, 1, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(slice).count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready > 0) break;
    SamplePeakResident();
    if (keepWaiting && !keepWaiting()) return std::nullopt;
  }
  ChildExit exit;
  exit.peakResidentBytes = peakResidentBytes_;
  exit.exitedAt = std::chrono::steady_clock::now();
  exit.wall = exit.exitedAt - startedAt_;
  pid_t got;
  do {
    got = wait4(pid_, &exit.status, 0, &exit.usage);
  } while (got < 0 && errno == EINTR);
  close(pidFd_);
  pidFd_ = -1;
  pid_ = -1;
  return exit;
}

void ChildProcess::SamplePeakResident() {
  // posix_spawn returns only once the child has exec'd, so this is the program's own memory.
  std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) {
      const std::uint64_t kib = std::strtoull(line.c_str() + 6, nullptr, 10);
      peakResidentBytes_ = std::max(peakResidentBytes_, kib * 1024);
    }
  }
}

void ChildProcess::Terminate() {
  if (!running()) return;
  kill(pid_, SIGTERM);
  pollfd p{pidFd_, POLLIN, 0};
  if (pidFd_ < 0 ||
      poll(&p, 1, static_cast<int>(std::chrono::milliseconds(kTerminateGrace).count())) <= 0) {
    kill(pid_, SIGKILL);
  }
  Reap();
}

void ChildProcess::Reap() {
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  if (pidFd_ >= 0) close(pidFd_);
  pidFd_ = -1;
  pid_ = -1;
}

}  // namespace irdload::bench
