// Running the Windows programs under wine from a Linux test: the run's one prefix, COM ports
// that lead to pseudo-terminals, Linux paths as Windows sees them, and the programs' output with
// Windows' line ends taken off.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "support/Process.h"

namespace irdload::test {

/// COM<n> of the prefix leads to `target` (a pseudo-terminal) while the object lives. Made after
/// the wineserver started, which rewrites the links it knows, and with no Ports value in the
/// registry for it: wine reads the link when the port opens.
class ComLink {
 public:
  ComLink(int n, const std::string& target)
      : path_(std::filesystem::path(IRDLOAD_WINEPREFIX) / "dosdevices" /
              ("com" + std::to_string(n))) {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
    std::filesystem::create_symlink(target, path_, ec);
    made_ = !ec;
  }
  ~ComLink() {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
  ComLink(const ComLink&) = delete;
  ComLink& operator=(const ComLink&) = delete;

  bool made() const { return made_; }

 private:
  std::filesystem::path path_;
  bool made_ = false;
};

/// A Linux path as the Windows program names it: on the Z: drive, which is /.
inline std::string WindowsPath(const std::filesystem::path& path) {
  std::string text = "Z:" + std::filesystem::absolute(path).string();
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
  return text;
}

/// `text` without the carriage returns of Windows' line ends.
inline std::string Unix(std::string text) {
  std::erase(text, '\r');
  return text;
}

/// The X display the run's window programs show on (the test fixture's Xvfb), as DISPLAY=:N;
/// empty when there is none.
inline std::string DisplaySetting() {
  std::ifstream in(IRDLOAD_WINE_DISPLAY_FILE);
  std::string number;
  if (!(in >> number) || number.empty()) return {};
  return "DISPLAY=:" + number;
}

/// A Windows program running under wine, with the run's prefix (and display, for windows).
class WineProgram {
 public:
  WineProgram(const std::string& exe, const std::vector<std::string>& args) {
    std::vector<std::string> all = {"WINEPREFIX=" IRDLOAD_WINEPREFIX, "WINEDEBUG=-all",
                                    "WINEDLLOVERRIDES=mscoree,mshtml="};
    if (const std::string display = DisplaySetting(); !display.empty()) all.push_back(display);
    all.push_back(IRDLOAD_WINE);
    all.push_back(exe);
    all.insert(all.end(), args.begin(), args.end());
    started_ = process_.Start("/usr/bin/env", all);
  }

  bool started() const { return started_; }
  Process& process() { return process_; }
  /// Tells the program a word on its standard input.
  bool Tell(const std::string& word) { return process_.Write(word + "\n"); }
  /// The exit code, or nothing when it did not end within `bound`.
  std::optional<int> Wait(std::chrono::milliseconds bound) { return process_.Wait(bound); }
  std::string out() const { return Unix(process_.out()); }
  std::string err() const { return Unix(process_.err()); }

 private:
  Process process_;
  bool started_ = false;
};

/// Runs a Windows program to its end (bounded); the exit code, -1 when it did not end.
struct WineResult {
  int code = -1;
  std::string out, err;
};

inline WineResult RunWine(const std::string& exe, const std::vector<std::string>& args,
                          std::chrono::milliseconds bound = std::chrono::seconds(120)) {
  WineProgram program(exe, args);
  WineResult r;
  if (!program.started()) return r;
  program.process().CloseInput();
  r.code = program.Wait(bound).value_or(-1);
  r.out = program.out();
  r.err = program.err();
  return r;
}

}  // namespace irdload::test
