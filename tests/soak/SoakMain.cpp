// irdload-soak [--runs N] [--seed S] [--verbose]: prints the soak's table; exits 1 when any
// forbidden column is not zero.
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "soak/Soak.h"

int main(int argc, char** argv) {
  irdload::soak::SoakOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--runs" && hasValue) {
      options.runs = std::atoi(argv[++i]);
    } else if (arg == "--seed" && hasValue) {
      options.seed = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--only" && hasValue) {
      options.only = std::atoi(argv[++i]);
    } else if (arg == "--verbose") {
      options.verbose = true;
    } else {
      std::cerr << "usage: irdload-soak [--runs N] [--seed S] [--only RUN] [--verbose]\n";
      return 2;
    }
  }
  const auto totals = irdload::soak::RunSoak(options, std::cerr);
  irdload::soak::PrintTable(options, totals, std::cout);
  const int forbidden = totals.forbidden();
  std::cout << '\n' << totals.successes + totals.cleanFailures + totals.stoppedAsDesigned
            << " passed, " << forbidden << " failed\n";
  return forbidden == 0 ? 0 : 1;
}
