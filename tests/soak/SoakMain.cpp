// irdload-soak: prints the soak's table; exits 1 when any forbidden column is not zero.
//   [--runs N] [--seed S] [--faults N] [--only RUN] [--verbose]: downloads against the virtual
//     IRD on a pseudo-terminal, each with scripted faults, half of them with an IRD that repeats
//     unanswered replies;
//   --ber P [--runs N] [--seed S] [--repeat-after MS] [--hold MS]: downloads on the in-process
//     line, every byte flipped with probability P, the IRD repeating unanswered replies after MS
//     and its replies held like a USB adapter's.
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "soak/LineSoak.h"
#include "soak/Soak.h"

int main(int argc, char** argv) {
  irdload::soak::SoakOptions options;
  double bitErrorRate = -1;
  long repeatAfterMs = 0, holdMs = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--runs" && hasValue) {
      options.runs = std::atoi(argv[++i]);
    } else if (arg == "--seed" && hasValue) {
      options.seed = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--faults" && hasValue) {
      options.faultsPerRun = std::atoi(argv[++i]);
    } else if (arg == "--ber" && hasValue) {
      bitErrorRate = std::strtod(argv[++i], nullptr);
    } else if (arg == "--repeat-after" && hasValue) {
      repeatAfterMs = std::atol(argv[++i]);
    } else if (arg == "--hold" && hasValue) {
      holdMs = std::atol(argv[++i]);
    } else if (arg == "--only" && hasValue) {
      options.only = std::atoi(argv[++i]);
    } else if (arg == "--verbose") {
      options.verbose = true;
    } else {
      std::cerr << "usage: irdload-soak [--runs N] [--seed S] [--faults N] [--only RUN] "
                   "[--verbose]\n       irdload-soak --ber P [--runs N] [--seed S] [--repeat-after "
                   "MS] [--hold MS]\n";
      return 2;
    }
  }
  if (bitErrorRate >= 0) {
    const irdload::soak::LineSoakOptions line{bitErrorRate, options.runs, options.seed,
                                              std::chrono::milliseconds{repeatAfterMs},
                                              std::chrono::milliseconds{holdMs}};
    const auto totals = irdload::soak::RunLineSoak(line, std::cerr);
    irdload::soak::PrintLineTable(line, totals, std::cout);
    return totals.forbidden() == 0 ? 0 : 1;
  }
  const auto totals = irdload::soak::RunSoak(options, std::cerr);
  irdload::soak::PrintTable(options, totals, std::cout);
  const int forbidden = totals.forbidden();
  std::cout << '\n'
            << totals.successes + totals.cleanFailures + totals.stoppedAsDesigned << " passed, "
            << forbidden << " failed\n";
  return forbidden == 0 ? 0 : 1;
}
