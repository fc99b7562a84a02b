// The bit-error soak: seeded downloads on the in-process line, each byte flipped at a given rate,
// the IRD storing packets by its own count. Counts exact images, clean failures and wrong images
// reported as loaded, the last by the pattern the protocol cannot see.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <ostream>

#include "support/ModelLine.h"

namespace irdload::soak {

struct LineSoakOptions {
  double bitErrorRate = 1e-4;
  int runs = 100000;
  std::uint64_t seed = 1;
  std::chrono::milliseconds repeatAfter{0};  ///< an IRD that repeats unanswered replies
  std::chrono::milliseconds holdTick{0};     ///< replies held like a USB adapter's
};

struct LineSoakTotals {
  int runs = 0;
  int exactSuccesses = 0;
  int recovered = 0;  // exact images although the line flipped bits or the IRD repeated
  int cleanFailures = 0;
  int gaveUpCalling = 0;
  std::map<test::WrongImage, int> wrongImages;  // reported as loaded, but not the file
  int hangs = 0;
  int leaks = 0;        // an outcome without its message, or none at all
  int unexplained = 0;  // a wrong image the line's errors do not account for: the PC's fault
  std::uint64_t bitsFlipped = 0;
  std::uint64_t packets = 0;

  int wrong() const {
    int n = 0;
    for (const auto& [pattern, count] : wrongImages) n += count;
    return n;
  }
  /// Wrong images the protocol could have caught, hangs and silent ends: never allowed.
  int forbidden() const;
};

LineSoakTotals RunLineSoak(const LineSoakOptions& options, std::ostream& log);
void PrintLineTable(const LineSoakOptions& options, const LineSoakTotals& totals,
                    std::ostream& out);

}  // namespace irdload::soak
