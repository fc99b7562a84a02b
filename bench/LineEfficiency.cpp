#include "bench/LineEfficiency.h"

#include <algorithm>

#include "bench/EngineRun.h"
#include "bench/Stats.h"
#include "engine/Image.h"
#include "engine/Link.h"

namespace irdload::bench {
namespace {

struct SizePlan {
  std::size_t bytes;
  int runs;
};

std::vector<SizePlan> Plan(bool quick) {
  if (quick) return {{64 * 1024, 2}};
  return {{64 * 1024, 5}, {1024 * 1024, 2}, {4 * 1024 * 1024, 1}};
}

constexpr double kGoal = 0.99;

}  // namespace

std::vector<OurLineTime> MeasureLineEfficiency(BenchContext& context, std::vector<Row>& rows) {
  std::vector<OurLineTime> ours;
  for (const SizePlan& plan : Plan(context.quick())) {
    Row row;
    row.figure = "Line efficiency, " + SizeName(plan.bytes);
    row.goal = "≥ 0.99 of the protocol limit";
    const auto limit = ProtocolLimit(plan.bytes, kLineBaud);
    const auto packets = plan.bytes / kChunkSize + 1;
    std::string error;
    const std::string image = context.ImagePath(plan.bytes, &error);
    std::vector<double> efficiencies;
    std::vector<std::chrono::nanoseconds> measured;
    for (int run = 0; run < plan.runs && error.empty(); ++run) {
      context.Progress(row.figure + ": run " + std::to_string(run + 1) + " of " +
                       std::to_string(plan.runs) + " (" + Duration(limit) + " of line time)");
      sim::VirtualIrd::Options options;
      options.baud = kLineBaud;
      EngineRun result = RunEngineDownload(image, context.Payload(plan.bytes), options, nullptr,
                                           TransferBound(limit));
      if (!result.ok) {
        error = result.error;
        break;
      }
      const auto& timing = result.report.timing;
      const auto span = timing.lastTerminateAnswerAt - timing.firstConnectRequestAt;
      measured.push_back(span);
      efficiencies.push_back(static_cast<double>(limit.count()) /
                             static_cast<double>(span.count()));
    }
    if (!error.empty()) {
      context.MarkBroken();
      row.inputs = "115200 8N1, zero turnaround";
      row.value = "failed: " + error;
      row.ratio = "—";
      rows.push_back(row);
      continue;
    }
    const double efficiency = Median(efficiencies);
    // The run whose efficiency is the median gives the time shown and used for the peer.
    const auto medianRun =
        std::find(efficiencies.begin(), efficiencies.end(), efficiency) - efficiencies.begin();
    const auto time = measured[static_cast<std::size_t>(medianRun)];
    const auto [low, high] = std::minmax_element(efficiencies.begin(), efficiencies.end());
    const std::uint64_t estimate =
        EstimateSeconds(static_cast<std::uint32_t>(plan.bytes),
                        LastPacketIndex(static_cast<std::uint32_t>(plan.bytes)));
    row.inputs = "115200 8N1, IRD turnaround 0, engine in-process on a SerialPort; " +
                 std::to_string(packets) + " packets; limit " + Duration(limit) + ", measured " +
                 Duration(time) + " (0xE1 to 0xED; median of " + std::to_string(plan.runs) +
                 (plan.runs > 1 ? ", range " + Fixed(*low, 4) + "–" + Fixed(*high, 4) : "") +
                 "); tool's estimate " + std::to_string(estimate) + " s (" +
                 FormatMinutesSeconds(estimate) + ")";
    row.value = Fixed(efficiency, 4);
    row.ratio = RatioToGoal(efficiency, kGoal, GoalKind::AtLeast);
    rows.push_back(row);
    ours.push_back({plan.bytes, time});
  }
  return ours;
}

}  // namespace irdload::bench
