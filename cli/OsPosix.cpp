#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "cli/Os.h"

namespace irdload::cli {

// Blocked in this thread and every thread it starts, so that no handler runs.
struct StopKeys::Os {
  sigset_t set{}, old{};
};

StopKeys::StopKeys(bool active) {
  if (!active) return;
  os_ = std::make_unique<Os>();
  sigemptyset(&os_->set);
  sigaddset(&os_->set, SIGINT);
  sigaddset(&os_->set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &os_->set, &os_->old);
}

StopKeys::~StopKeys() {
  if (os_) pthread_sigmask(SIG_SETMASK, &os_->old, nullptr);
}

bool StopKeys::Pressed() {
  if (!os_) return false;
  timespec zero{0, 0};
  return sigtimedwait(&os_->set, nullptr, &zero) > 0;
}

std::vector<std::string> CommandLineWords(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

void PrepareConsole() {}

bool StandardOutputIsTerminal() {
  return ::isatty(STDOUT_FILENO) != 0;
}

TerminalSize StandardOutputSize() {
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return {};
  return {size.ws_col, size.ws_row};
}

std::string HostName() {
  char host[256] = {};
  return ::gethostname(host, sizeof host - 1) == 0 ? std::string(host) : std::string();
}

}  // namespace irdload::cli
