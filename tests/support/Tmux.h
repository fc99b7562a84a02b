// A terminal of a set size that a test can read as a person sees it: a tmux server of the test's
// own (its socket in a temporary folder), one window running a command, and its screen captured
// as text. The command's exit is marked on the screen, and the window stays for the last look.
#pragma once

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/Process.h"
#include "support/TempDir.h"

namespace irdload::test {

class TmuxScreen {
 public:
  static constexpr const char* kProgram = "/usr/bin/tmux";
  static bool Available() { return ::access(kProgram, X_OK) == 0; }

  TmuxScreen(int columns, int rows) : columns_(columns), rows_(rows) {}
  ~TmuxScreen() {
    if (started_) Tmux({"kill-server"});
  }
  TmuxScreen(const TmuxScreen&) = delete;
  TmuxScreen& operator=(const TmuxScreen&) = delete;

  /// Runs `command` (a shell command line) in the window; after it ends, "[exit N]" shows.
  bool Run(const std::string& command) {
    started_ = Tmux({"-f", "/dev/null", "new-session", "-d", "-x", std::to_string(columns_), "-y",
                     std::to_string(rows_), command + "; echo \"[exit $?]\"; exec sleep 3600"})
                   .has_value();
    return started_;
  }

  /// The screen's rows, as shown; `joined`: a row the terminal wrapped comes back as one line
  /// with its continuation, so that a line wider than the terminal shows as such.
  std::vector<std::string> Screen(bool joined = false) {
    std::vector<std::string> args = {"capture-pane", "-p"};
    if (joined) args.push_back("-J");
    const std::optional<std::string> text = Tmux(args);
    std::vector<std::string> lines;
    if (!text) return lines;
    std::istringstream in(*text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  /// The row the cursor is on, from 0.
  int CursorRow() {
    const std::optional<std::string> text = Tmux({"display-message", "-p", "#{cursor_y}"});
    return text ? std::atoi(text->c_str()) : -1;
  }

  /// The screen (joined rows) and the cursor's row at one moment: taken again while the screen
  /// changes under the look (a redraw may be half read).
  struct Look {
    std::vector<std::string> rows;
    int cursor = -1;
  };
  Look Steady() {
    Look look;
    for (int tries = 0; tries < 20; ++tries) {
      look.rows = Screen(true);
      look.cursor = CursorRow();
      if (Screen(true) == look.rows) break;
    }
    return look;
  }

  /// Waits, at most `bound`, until a row of the screen holds `text`.
  bool WaitFor(const std::string& text, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < deadline) {
      for (const auto& line : Screen()) {
        if (line.find(text) != std::string::npos) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  /// The exit code the screen shows, once the command has ended.
  std::optional<int> ExitCode() {
    for (const auto& line : Screen()) {
      if (line.rfind("[exit ", 0) == 0) return std::atoi(line.c_str() + 6);
    }
    return std::nullopt;
  }

 private:
  std::optional<std::string> Tmux(std::vector<std::string> args) {
    args.insert(args.begin(), {"-S", (dir_.path() / "socket").string()});
    Process p;
    if (!p.Start(kProgram, args)) return std::nullopt;
    p.CloseInput();
    const std::optional<int> code = p.Wait(std::chrono::seconds(20));
    if (!code || *code != 0) return std::nullopt;
    return p.out();
  }

  const int columns_, rows_;
  TempDir dir_;
  bool started_ = false;
};

}  // namespace irdload::test
