#include "soak/LineSoak.h"

#include <cstdio>
#include <random>

#include "engine/ImageWriter.h"

namespace irdload::soak {

int LineSoakTotals::forbidden() const {
  // A wrong image is allowed only where the line's errors explain it (a pattern the protocol
  // cannot see); hangs and ends without a verdict are bugs.
  return hangs + leaks + unexplained;
}

LineSoakTotals RunLineSoak(const LineSoakOptions& options, std::ostream& log) {
  LineSoakTotals totals;
  std::mt19937_64 plans(options.seed);
  for (int run = 0; run < options.runs; ++run) {
    const std::size_t size = std::uniform_int_distribution<std::size_t>(0, 12 * 1021)(plans);
    const std::uint64_t lineSeed = plans();
    const auto file =
        ComposeImage(kTypeSingle, PatternPayload(size, static_cast<std::uint32_t>(lineSeed)));
    test::ModelLineOptions line;
    line.bitErrorRate = options.bitErrorRate;
    line.seed = lineSeed;
    line.timing.repeatAfter = options.repeatAfter;
    line.timing.holdTick = options.holdTick;
    test::ModelLine model(line);
    const test::ModelRun result = model.Run(file);
    ++totals.runs;
    totals.bitsFlipped += result.bitsFlipped;
    totals.packets += size / kChunkSize + 1;
    if (result.hung) {
      ++totals.hangs;
      log << "run " << run << ": HANG\n";
      continue;
    }
    if (result.gaveUpCalling) {
      ++totals.gaveUpCalling;
      continue;
    }
    switch (result.outcome.kind) {
      case OutcomeKind::Success: {
        const test::WrongImage wrong = test::Compare(result.ird, file);
        if (wrong == test::WrongImage::None) {
          ++totals.exactSuccesses;
          if (result.bitsFlipped > 0 || result.ird.repeatsSent > 0) ++totals.recovered;
        } else {
          ++totals.wrongImages[wrong];
          const bool explained = test::Explained(wrong, result);
          if (!explained) ++totals.unexplained;
          log << "run " << run << " (seed " << lineSeed << ", " << size
              << " bytes): wrong image reported as loaded: " << test::WrongImageName(wrong)
              << (explained ? "" : ", NOT EXPLAINED by the line's errors") << '\n';
        }
        break;
      }
      case OutcomeKind::Failed:
      case OutcomeKind::NoResponse:
        if (result.outcome.message.empty()) {
          ++totals.leaks;
          log << "run " << run << ": ended without a message\n";
        } else {
          ++totals.cleanFailures;
        }
        break;
      default:
        ++totals.leaks;
        log << "run " << run << ": ended as " << OutcomeName(result.outcome.kind) << '\n';
        break;
    }
  }
  return totals;
}

void PrintLineTable(const LineSoakOptions& options, const LineSoakTotals& t, std::ostream& out) {
  char rate[32];
  std::snprintf(rate, sizeof rate, "%g", options.bitErrorRate);
  const std::string repeats = options.repeatAfter.count() > 0
                                  ? std::to_string(options.repeatAfter.count()) + " ms"
                                  : std::string("never");
  out << "| bit-error rate | IRD repeats after | reply hold | runs | seed | bits flipped | exact "
         "image | of which recovered | clean failure | gave up calling | wrong image reported as "
         "loaded | hang, silent end or unexplained |\n"
      << "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n"
      << "| " << rate << " | " << repeats << " | " << options.holdTick.count() << " ms | " << t.runs
      << " | " << options.seed << " | " << t.bitsFlipped << " | " << t.exactSuccesses << " | "
      << t.recovered << " | " << t.cleanFailures << " | " << t.gaveUpCalling << " | " << t.wrong()
      << " | " << t.hangs + t.leaks + t.unexplained << " |\n";
  if (t.wrong() == 0) return;
  out << "\n| pattern the protocol cannot see | runs | per download |\n|---|---:|---:|\n";
  for (const auto& [pattern, count] : t.wrongImages) {
    char per[32];
    std::snprintf(per, sizeof per, "%.2e", static_cast<double>(count) / t.runs);
    out << "| " << test::WrongImageName(pattern) << " | " << count << " | " << per << " |\n";
  }
}

}  // namespace irdload::soak
