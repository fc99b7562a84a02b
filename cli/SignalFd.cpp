#include "cli/SignalFd.h"

#include <sys/signalfd.h>
#include <unistd.h>

namespace irdload::cli {

SignalFd::SignalFd(bool active, std::initializer_list<int> signals) {
  if (!active) return;
  sigemptyset(&set_);
  for (const int s : signals) sigaddset(&set_, s);
  pthread_sigmask(SIG_BLOCK, &set_, &old_);
  fd_ = signalfd(-1, &set_, SFD_NONBLOCK | SFD_CLOEXEC);
}

SignalFd::~SignalFd() {
  if (fd_ < 0) return;
  ::close(fd_);
  // Signals that came after the last Take stay blocked and pending until the mask goes back.
  timespec zero{0, 0};
  while (sigtimedwait(&set_, nullptr, &zero) > 0) {
  }
  pthread_sigmask(SIG_SETMASK, &old_, nullptr);
}

int SignalFd::Take() {
  if (fd_ < 0) return 0;
  int count = 0;
  signalfd_siginfo info{};
  while (::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) ++count;
  return count;
}

}  // namespace irdload::cli
