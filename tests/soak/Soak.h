// The fault soak: many downloads against the virtual IRD, each with a seeded mix of faults, each
// ending in success with the exact image on the IRD or a clear failure with the engine idle.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>

namespace irdload::soak {

struct SoakOptions {
  int runs = 1000;
  std::uint64_t seed = 1;
  bool verbose = false;
  int only = -1;  // run just this one (the earlier plans are still drawn, so it is the same run)
  int faultsPerRun = -1;  // exactly this many faults in every run; -1: 0 to 3, drawn
};

struct SoakTotals {
  int runs = 0;
  int successes = 0;
  int recovered = 0;  // successes with the exact image although a fault or repeat took effect
  int cleanFailures = 0;
  int stoppedAsDesigned = 0;  // the IRD never answered: the engine asks until stopped
  // The forbidden columns.
  int wrongImage = 0;  // success reported, but the IRD holds something else
  int hangs = 0;       // not idle within the bound
  int leakedPayload = 0;
  int silentFailures = 0;  // failed without telling the operator
  std::map<std::string, int> faultsInjected;

  int forbidden() const { return wrongImage + hangs + leakedPayload + silentFailures; }
};

SoakTotals RunSoak(const SoakOptions& options, std::ostream& log);
void PrintTable(const SoakOptions& options, const SoakTotals& totals, std::ostream& out);

}  // namespace irdload::soak
