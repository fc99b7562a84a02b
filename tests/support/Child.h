// Runs part of a test in a forked child (to drop privileges or cap resources without touching the
// test process) and brings back its exit code and the text it reported.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace irdload::test {

struct ChildResult {
  bool exited = false;  // false: killed by a signal, or it could not be started
  int code = -1;
  std::string text;
};

/// Runs `body` in a child; the child exits with body's return value after writing `text`.
inline ChildResult RunInChild(const std::function<int(std::string& text)>& body) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  const pid_t child = ::fork();
  if (child < 0) return {};
  if (child == 0) {
    ::close(fds[0]);
    std::string text;
    const int code = body(text);
    if (::write(fds[1], text.data(), text.size()) < 0) ::_exit(125);
    ::_exit(code);
  }
  ::close(fds[1]);
  ChildResult result;
  char buf[512];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) {
    result.text.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  result.exited = WIFEXITED(status);
  result.code = result.exited ? WEXITSTATUS(status) : -1;
  return result;
}

/// Drops to the unprivileged user "nobody"; false when that is not possible.
inline bool BecomeNobody() {
  return ::setgid(65534) == 0 && ::setuid(65534) == 0;
}

}  // namespace irdload::test
