// What the command line asks of the operating system: Linux in OsPosix.cpp, Windows in
// OsWin32.cpp.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace irdload::cli {

/// Ctrl-C (and a polite termination) as something a command asks about at its own pace instead
/// of in a handler: SIGINT and SIGTERM blocked and taken with sigtimedwait on Linux, the
/// console's control handler on Windows.
class StopKeys {
 public:
  /// Inactive: nothing of the process is touched and Pressed() is always false (tests run
  /// commands in their own process).
  explicit StopKeys(bool active);
  /// Gives the keys back as they were.
  ~StopKeys();
  StopKeys(const StopKeys&) = delete;
  StopKeys& operator=(const StopKeys&) = delete;

  /// True when a stop came since the last call.
  bool Pressed();

 private:
  struct Os;
  std::unique_ptr<Os> os_;
};

/// The command line as UTF-8 words, whatever the system's code page: on Windows from the wide
/// command line, with the system's own way of asking for help ("/?") read as "--help"; on
/// Linux `argv` as it is.
std::vector<std::string> CommandLineWords(int argc, char** argv);

/// Makes the console show what the program writes, UTF-8 (Windows' console takes its own code
/// page otherwise); nothing on Linux.
void PrepareConsole();

/// True when standard output is a terminal (a console window on Windows).
bool StandardOutputIsTerminal();

/// The terminal (console window) that standard output shows in, as it is now: its columns and
/// rows, zeros when standard output is not one or its size is not known.
struct TerminalSize {
  int columns = 0;
  int rows = 0;
};
TerminalSize StandardOutputSize();

/// This machine's name, for records; empty when it cannot be had.
std::string HostName();

}  // namespace irdload::cli
