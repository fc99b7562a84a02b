// Runs the command line in this process, as main() would, and keeps what it printed.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "cli/Commands.h"

namespace irdload::test {

struct Result {
  int code;
  std::string out, err;
};

inline Result Cli(std::vector<std::string> args) {
  args.insert(args.begin(), "irdload-cli");
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  std::ostringstream out, err;
  // The send command masks SIGINT and SIGTERM in this thread while it runs and restores them.
  const int code = cli::RunCli(static_cast<int>(argv.size()), argv.data(), out, err);
  return {code, out.str(), err.str()};
}

}  // namespace irdload::test
