// Another program run by a test, with its standard streams on pipes: lines written to its input,
// its output read line by line with a bounded wait, signals sent, its exit waited for.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace irdload::test {

class Process {
 public:
  Process() = default;
  ~Process() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    for (int fd : {in_, out_, err_}) {
      if (fd >= 0) ::close(fd);
    }
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  /// `stdoutFd` >= 0: the child's standard output goes there instead of a pipe.
  bool Start(const std::string& program, const std::vector<std::string>& args, int stdoutFd = -1) {
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
        ::pipe2(err, O_CLOEXEC) != 0) {
      return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, stdoutFd >= 0 ? stdoutFd : out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<std::string> all = {program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
    if (rc != 0) pid_ = -1;
    return rc == 0;
  }

  bool Write(const std::string& text) {
    return in_ >= 0 && ::write(in_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  }
  void CloseInput() {
    if (in_ >= 0) ::close(in_);
    in_ = -1;
  }
  void Signal(int sig) {
    if (pid_ > 0) ::kill(pid_, sig);
  }

  /// Waits, at most `bound`, for an output line that `match` accepts; returns it.
  std::optional<std::string> WaitLine(const std::function<bool(const std::string&)>& match,
                                      std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
      while (next_ < lines_.size()) {
        const std::string& line = lines_[next_++];
        if (match(line)) return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !Pump(left)) return std::nullopt;
    }
  }

  /// Waits, at most `bound`, until standard error holds `text`.
  bool WaitErr(const std::string& text, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (errText_.find(text) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !Pump(left)) return false;
    }
    return true;
  }

  /// Waits for the exit, at most `bound`; its status, or nothing. Reads all output meanwhile.
  std::optional<int> Wait(std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (out_ >= 0 || err_ >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      Pump(left);
    }
    int status = 0;
    if (::waitpid(pid_, &status, 0) != pid_) return std::nullopt;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  pid_t pid() const { return pid_; }
  const std::string& out() const { return outText_; }
  const std::string& err() const { return errText_; }

 private:
  // Reads what is there within `bound`; false when both streams have ended.
  bool Pump(std::chrono::milliseconds bound) {
    if (out_ < 0 && err_ < 0) return false;
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (::poll(fds, 2, static_cast<int>(bound.count())) <= 0) return true;
    char buf[8192];
    if (fds[0].revents != 0) {
      const ssize_t n = ::read(out_, buf, sizeof buf);
      if (n <= 0) {
        ::close(out_);
        out_ = -1;
      } else {
        outText_.append(buf, static_cast<std::size_t>(n));
        partial_.append(buf, static_cast<std::size_t>(n));
        for (std::size_t nl; (nl = partial_.find('\n')) != std::string::npos;) {
          lines_.push_back(partial_.substr(0, nl));
          partial_.erase(0, nl + 1);
        }
      }
    }
    if (fds[1].revents != 0) {
      const ssize_t n = ::read(err_, buf, sizeof buf);
      if (n <= 0) {
        ::close(err_);
        err_ = -1;
      } else {
        errText_.append(buf, static_cast<std::size_t>(n));
      }
    }
    return true;
  }

  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
  std::string outText_, errText_, partial_;
  std::vector<std::string> lines_;
  std::size_t next_ = 0;
};

}  // namespace irdload::test
