// Virtual IRDs in a process of their own (irdload-cli virtual-ird), so that a station under test
// and its receivers never share a process: links in a folder stand for /dev/serial/by-path, and
// the test plugs, unplugs and swaps them, then asks what each IRD received.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/Process.h"

#ifndef IRDLOAD_CLI
#error "IRDLOAD_CLI must name the irdload-cli program"
#endif

namespace irdload::test {

/// What one virtual IRD received, from the farm's report.
struct FarmIrd {
  std::string slave;
  std::size_t files = 0;
  std::vector<bool> loaded;    ///< per file: whole, and the success terminate request sent
  std::vector<bool> answered;  ///< per file: the PC answered its terminate request
  std::vector<std::string> sha256;
  bool lineGone = false;
  long long lineNs = 0;
};

class IrdFarm {
 public:
  /// Starts the farm with `count` IRDs plugged in; `linkDir` holds ird1, ird2, ...
  IrdFarm(const std::string& linkDir, int count, std::uint32_t baud = 115200,
          std::vector<std::string> extra = {})
      : linkDir_(linkDir) {
    std::vector<std::string> args = {
        "virtual-ird", "--links",           linkDir, "--count", std::to_string(count),
        "--baud",      std::to_string(baud)};
    args.insert(args.end(), extra.begin(), extra.end());
    started_ =
        process_.Start(IRDLOAD_CLI, args) &&
        process_.WaitLine([](const std::string& l) { return l == "ready"; }, kBound).has_value();
  }
  ~IrdFarm() {
    process_.CloseInput();
    process_.Wait(kBound);
  }

  bool started() const { return started_; }
  std::string Link(int n) const { return linkDir_ + "/ird" + std::to_string(n); }

  /// A new IRD on socket n: the link appears (or now leads to it). False when it did not.
  bool Plug(int n, const std::string& faults = "") { return Do("plug", n, faults, "plugged"); }
  bool Unplug(int n) { return Do("unplug", n, "", "unplugged"); }
  bool Swap(int n, const std::string& faults = "") { return Do("swap", n, faults, "plugged"); }

  /// Every IRD the farm has had, by (socket, serial from 1).
  std::map<std::pair<int, int>, FarmIrd> Report() {
    std::map<std::pair<int, int>, FarmIrd> irds;
    if (!process_.Write("report\n")) return irds;
    for (;;) {
      const auto line = process_.WaitLine(
          [](const std::string& l) { return l.rfind("ird ", 0) == 0 || l == "end-of-report"; },
          kBound);
      if (!line || *line == "end-of-report") break;
      std::istringstream words(*line);
      std::string word;
      int socket = 0, serial = 0;
      words >> word >> socket >> serial;
      FarmIrd ird;
      while (words >> word) {
        const auto eq = word.find('=');
        const std::string key = word.substr(0, eq), value = word.substr(eq + 1);
        if (key == "slave") ird.slave = value;
        if (key == "files") ird.files = std::stoul(value);
        if (key == "lineGone") ird.lineGone = value == "1";
        if (key == "lineNs") ird.lineNs = std::stoll(value);
        if ((key == "loaded" || key == "answered" || key == "sha256") && value != "-") {
          std::istringstream parts(value);
          for (std::string p; std::getline(parts, p, ',');) {
            if (key == "loaded") ird.loaded.push_back(p == "1");
            if (key == "answered") ird.answered.push_back(p == "1");
            if (key == "sha256") ird.sha256.push_back(p);
          }
        }
      }
      irds[{socket, serial}] = ird;
    }
    return irds;
  }

  const std::string& errors() const { return process_.err(); }

 private:
  static constexpr std::chrono::milliseconds kBound{20000};

  bool Do(const std::string& verb, int n, const std::string& faults, const std::string& answer) {
    if (!process_.Write(verb + " " + std::to_string(n) + " " + faults + "\n")) return false;
    const std::string prefix = answer + " " + std::to_string(n) + " ";
    return process_.WaitLine([&](const std::string& l) { return l.rfind(prefix, 0) == 0; }, kBound)
        .has_value();
  }

  std::string linkDir_;
  Process process_;
  bool started_ = false;
};

}  // namespace irdload::test
