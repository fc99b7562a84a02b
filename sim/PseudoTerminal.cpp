#include "sim/PseudoTerminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>
#include <utility>

namespace irdload::sim {
namespace {

bool Fail(const char* what, int err, std::string* error) {
  if (error != nullptr) {
    *error = std::string(what) + ": " + std::generic_category().message(err) + " (errno " +
             std::to_string(err) + ")";
  }
  return false;
}

bool MakeRaw(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return false;
  cfmakeraw(&tio);
  return tcsetattr(fd, TCSANOW, &tio) == 0;
}

int OpenRetryingEintr(const char* path, int flags) {
  for (;;) {
    const int fd = open(path, flags);
    if (fd >= 0 || errno != EINTR) return fd;
  }
}

}  // namespace

void CloseAndReset(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

bool OpenRawPseudoTerminal(bool keepSlaveOpen, PseudoTerminal& out, std::string* error) {
  PseudoTerminal pty;
  // `err` is taken by the caller right after the failing call, before anything can touch errno.
  const auto fail = [&](const char* what, int err) {
    CloseAndReset(pty.slave);
    CloseAndReset(pty.master);
    return Fail(what, err, error);
  };

  pty.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (pty.master < 0) return fail("posix_openpt", errno);
  if (grantpt(pty.master) != 0) return fail("grantpt", errno);
  if (unlockpt(pty.master) != 0) return fail("unlockpt", errno);
  std::array<char, 256> name{};
  if (const int err = ptsname_r(pty.master, name.data(), name.size()); err != 0) {
    return fail("ptsname_r", err);
  }
  pty.slavePath = name.data();
  // Writes to the master must never block the thread: a PC that stops reading fills the queue.
  const int flags = fcntl(pty.master, F_GETFL);
  if (flags < 0 || fcntl(pty.master, F_SETFL, flags | O_NONBLOCK) != 0) {
    return fail("fcntl O_NONBLOCK", errno);
  }
  if (!MakeRaw(pty.master)) return fail("raw mode on the master", errno);

  pty.slave = OpenRetryingEintr(pty.slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (pty.slave < 0) {
    const int err = errno;
    return fail(("open " + pty.slavePath).c_str(), err);
  }
  if (!MakeRaw(pty.slave)) return fail("raw mode on the slave", errno);
  if (!keepSlaveOpen) CloseAndReset(pty.slave);

  out = std::move(pty);
  return true;
}

}  // namespace irdload::sim
