#include "bench/Efficiency.h"

#include <algorithm>

#include "bench/EngineRun.h"
#include "bench/ProgramRun.h"
#include "bench/Stats.h"
#include "engine/Image.h"
#include "engine/Link.h"

namespace irdload::bench {
namespace {

constexpr double kEfficiencyGoal = 0.99;
constexpr double kCpuShareGoal = 0.01;
constexpr double kMemoryHeadroomBytes = 16.0 * 1024 * 1024;

struct SizePlan {
  std::size_t bytes;
  int runs;
};

std::vector<SizePlan> Plan(bool quick) {
  if (quick) return {{64 * 1024, 3}};
  return {{64 * 1024, 5}, {1024 * 1024, 3}, {4 * 1024 * 1024, 3}};
}

struct Sample {
  int redone;
  double efficiency;
  std::chrono::nanoseconds span;
  double cpuShare;
  ChildExit exit;
};

double Seconds(const timeval& tv) {
  return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
}

// Runs a program `runs` times; the samples, or the first error.
std::vector<Sample> RunRepeatedly(BenchContext& context, const Program& program, std::size_t bytes,
                                  int runs, const std::string& figure, ProgramRun& failed,
                                  std::chrono::microseconds holdTick = {}) {
  std::vector<Sample> samples;
  const auto limit = ProtocolLimit(bytes, kLineBaud);
  for (int run = 0; run < runs; ++run) {
    context.Progress(figure + ": run " + std::to_string(run + 1) + " of " + std::to_string(runs) +
                     " (" + Duration(limit) + " of line time)");
    ProgramRun result = RunProgram(context, program, bytes, holdTick);
    if (!result.ok) {
      failed = std::move(result);
      break;
    }
    const auto& timing = result.report.timing;
    const auto span = timing.lastTerminateAnswerAt - timing.firstConnectRequestAt;
    const double cpu = std::chrono::duration<double>(result.exit.CpuTime()).count();
    const double wall = std::chrono::duration<double>(result.exit.wall).count();
    samples.push_back({result.redone,
                       static_cast<double>(limit.count()) / static_cast<double>(span.count()), span,
                       cpu / wall, result.exit});
  }
  return samples;
}

// The sample whose value is nearest the median: its details stand for the run shown.
template <class Key>
const Sample& NearestMedian(const std::vector<Sample>& samples, Key key) {
  std::vector<double> values;
  for (const auto& s : samples) values.push_back(key(s));
  const double median = Median(values);
  return *std::min_element(samples.begin(), samples.end(), [&](const auto& a, const auto& b) {
    return std::abs(key(a) - median) < std::abs(key(b) - median);
  });
}

void Failed(BenchContext& context, const ProgramRun& run, std::vector<Row*> failedRows,
            std::vector<Row>& rows) {
  if (!run.unavailable) context.MarkBroken();
  for (Row* row : failedRows) {
    row->value = (run.unavailable ? "not available: " : "failed: ") + run.error;
    row->ratio = "—";
    rows.push_back(*row);
  }
}

}  // namespace

std::vector<OurLineTime> MeasureCliEfficiency(BenchContext& context, std::vector<Row>& rows) {
  std::vector<OurLineTime> ours;
  const Program cli{"irdload-cli", CliPath(context), {}, {"send"}, false};
  for (const SizePlan& plan : Plan(context.quick())) {
    const std::string size = SizeName(plan.bytes);
    Row efficiency{"Line efficiency, " + size + " (irdload-cli)", "", "",
                   "≥ 0.99 of the protocol limit", ""};
    Row cpu{"CPU, irdload-cli, " + size, "", "", "< 1% of one core during the paced transfer", ""};
    Row memory{"Peak resident memory, irdload-cli, " + size, "", "", "", ""};
    const double payload = static_cast<double>(plan.bytes);
    memory.goal = "< payload + 16 MiB = " + MiB(payload + kMemoryHeadroomBytes);
    const std::string loadBefore = LoadNow();
    ProgramRun failed;
    const auto samples =
        RunRepeatedly(context, cli, plan.bytes, plan.runs, efficiency.figure, failed);
    const std::string loads = loadBefore + " at the start, " + LoadNow() + " at the end";
    if (samples.size() < static_cast<std::size_t>(plan.runs)) {
      efficiency.inputs = cpu.inputs = memory.inputs = size + ", " + loads;
      Failed(context, failed, {&efficiency, &cpu, &memory}, rows);
      continue;
    }
    std::vector<double> effs, shares;
    double peak = 0;
    int redone = 0;
    for (const auto& s : samples) {
      redone += s.redone;
      effs.push_back(s.efficiency);
      shares.push_back(s.cpuShare);
      peak = std::max(peak, static_cast<double>(s.exit.peakResidentBytes));
    }
    const auto limit = ProtocolLimit(plan.bytes, kLineBaud);
    const auto& shown = NearestMedian(samples, [](const auto& s) { return s.efficiency; });
    const std::uint64_t estimate =
        EstimateSeconds(static_cast<std::uint32_t>(plan.bytes),
                        LastPacketIndex(static_cast<std::uint32_t>(plan.bytes)));
    efficiency.inputs =
        "irdload-cli send in its own process, the virtual IRD paced at 115200 8N1 "
        "in the benchmark's; " +
        std::to_string(plan.bytes / kChunkSize + 1) + " packets; limit " + Duration(limit) +
        ", measured " + Duration(shown.span) + " (0xE1 to 0xED); " + Repeats(effs, 4) +
        "; tool's estimate " + std::to_string(estimate) + " s; " + loads +
        (redone > 0 ? "; " + std::to_string(redone) +
                          " runs done again: the program's exit purged its "
                          "last byte before the IRD read it (a pty only)"
                    : "");
    efficiency.value = Fixed(Median(effs), 4);
    efficiency.ratio = RatioToGoal(Median(effs), kEfficiencyGoal, GoalKind::AtLeast);
    const auto& typical = NearestMedian(samples, [](const auto& s) { return s.cpuShare; });
    cpu.inputs = "the same runs; user " + Fixed(Seconds(typical.exit.usage.ru_utime), 2) +
                 " s + sys " + Fixed(Seconds(typical.exit.usage.ru_stime), 2) + " s over " +
                 Fixed(std::chrono::duration<double>(typical.exit.wall).count(), 1) +
                 " s wall; share " + Repeats(shares, 4) + "; " + loads;
    cpu.value = Fixed(Median(shares) * 100.0, 2) + "% of one core";
    cpu.ratio = RatioToGoal(Median(shares), kCpuShareGoal, GoalKind::Under);
    memory.inputs = "the same runs; the child's VmHWM sampled every 50 ms, the largest of " +
                    std::to_string(samples.size());
    memory.value = MiB(peak);
    memory.ratio = RatioToGoal(peak, payload + kMemoryHeadroomBytes, GoalKind::Under);
    rows.push_back(efficiency);
    rows.push_back(cpu);
    rows.push_back(memory);
    ours.push_back({plan.bytes, shown.span});
  }
  return ours;
}

void MeasureDialogCost(BenchContext& context, std::vector<Row>& rows) {
  const std::size_t bytes = context.quick() ? 64 * 1024 : 1024 * 1024;
  const int runs = context.quick() ? 1 : 3;
  const Program dialog{
      "irdload", DialogPath(context), {"QT_QPA_PLATFORM=offscreen"}, {"--headless-send"}, true,
      true};
  Row cpu{"CPU, irdload (dialog, offscreen), " + SizeName(bytes), "", "",
          "< 1% of one core during the paced transfer", ""};
  Row memory{"Peak resident memory, irdload (dialog, offscreen), " + SizeName(bytes), "", "",
             "none set (reported only)", "—"};
  const std::string loadBefore = LoadNow();
  ProgramRun failed;
  const auto samples = RunRepeatedly(context, dialog, bytes, runs, cpu.figure, failed);
  const std::string loads = loadBefore + " at the start, " + LoadNow() + " at the end";
  if (samples.size() < static_cast<std::size_t>(runs)) {
    cpu.inputs = memory.inputs = SizeName(bytes) + ", " + loads;
    Failed(context, failed, {&cpu, &memory}, rows);
    return;
  }
  std::vector<double> shares, effs;
  double peak = 0;
  for (const auto& s : samples) {
    shares.push_back(s.cpuShare);
    effs.push_back(s.efficiency);
    peak = std::max(peak, static_cast<double>(s.exit.peakResidentBytes));
  }
  const auto& typical = NearestMedian(samples, [](const auto& s) { return s.cpuShare; });
  cpu.inputs =
      "irdload --headless-send in its own process (Qt offscreen, start-up included), the "
      "virtual IRD paced at 115200; user " +
      Fixed(Seconds(typical.exit.usage.ru_utime), 2) + " s + sys " +
      Fixed(Seconds(typical.exit.usage.ru_stime), 2) + " s over " +
      Fixed(std::chrono::duration<double>(typical.exit.wall).count(), 1) + " s wall; share " +
      Repeats(shares, 4) + "; line efficiency " + Repeats(effs, 4) + "; " + loads;
  cpu.value = Fixed(Median(shares) * 100.0, 2) + "% of one core";
  cpu.ratio = RatioToGoal(Median(shares), kCpuShareGoal, GoalKind::Under);
  memory.inputs = "the same runs, VmHWM sampled every 50 ms";
  memory.value = MiB(peak);
  rows.push_back(cpu);
  rows.push_back(memory);
}

void MeasureAdapterLatency(BenchContext& context, std::vector<Row>& rows) {
  using namespace std::chrono_literals;
  const std::size_t bytes = context.quick() ? 64 * 1024 : 1024 * 1024;
  const Program cli{"irdload-cli", CliPath(context), {}, {"send"}, false};
  const auto limit = ProtocolLimit(bytes, kLineBaud);
  const std::size_t packets = bytes / kChunkSize + 1;
  for (const std::chrono::milliseconds tick : {0ms, 1ms, 16ms}) {
    Row row{"Line efficiency, " + SizeName(bytes) + ", replies held " +
                std::to_string(tick.count()) + " ms (a USB adapter's latency timer)",
            "", "", "reported beside the protocol limit (1.0)", "—"};
    const std::string loadBefore = LoadNow();
    ProgramRun failed;
    const auto samples = RunRepeatedly(context, cli, bytes, 1, row.figure, failed, tick);
    const std::string loads = loadBefore + " at the start, " + LoadNow() + " at the end";
    if (samples.empty()) {
      row.inputs = SizeName(bytes) + ", " + loads;
      Failed(context, failed, {&row}, rows);
      continue;
    }
    // A free-running timer holds each reply half a period on average; a packet waits for two
    // replies, so about one period a packet.
    const double expected =
        std::chrono::duration<double>(limit).count() /
        (std::chrono::duration<double>(limit).count() +
         static_cast<double>(packets) * std::chrono::duration<double>(tick).count());
    row.inputs =
        "irdload-cli send, the virtual IRD paced at 115200 with each reply held to the "
        "next tick of a free-running " +
        std::to_string(tick.count()) + " ms timer (0: not held); " + std::to_string(packets) +
        " packets; limit " + Duration(limit) + ", measured " + Duration(samples.front().span) +
        "; about one period a packet would give " + Fixed(expected, 4) + "; " + loads;
    row.value = Fixed(samples.front().efficiency, 4);
    rows.push_back(row);
  }
}

}  // namespace irdload::bench
