#include "bench/Turnaround.h"

#include <array>
#include <memory>

#include "bench/EngineRun.h"
#include "bench/SleepPollingPort.h"
#include "bench/Stats.h"
#include "engine/Link.h"

namespace irdload::bench {
namespace {

using namespace std::chrono_literals;

constexpr auto kGoalP50 = 100us;
constexpr auto kGoalP99 = 1ms;
// Unpaced, a download takes a fraction of its line time; the sleeping port adds about 2 ms a
// packet. This only bounds a stuck run.
constexpr std::chrono::seconds kBound = 600s;

struct Percentiles {
  std::chrono::nanoseconds p50{0}, p99{0}, max{0};
  std::size_t count = 0;
};

// The PC's answer times to every reply byte `reply` the IRD wrote.
Percentiles AnswerTimes(const sim::LineTiming& timing, std::uint8_t reply) {
  std::vector<std::chrono::nanoseconds> samples;
  for (const sim::ReplyTiming& r : timing.replies) {
    if (r.byte == reply && r.answerReadAt.count() > 0)
      samples.push_back(r.answerReadAt - r.writtenAt);
  }
  return {Percentile(samples, 50), Percentile(samples, 99), Percentile(samples, 100),
          samples.size()};
}

std::string Describe(const Percentiles& p) {
  return "p50 " + Duration(p.p50) + " · p99 " + Duration(p.p99) + " · max " + Duration(p.max);
}

double Ratio(std::chrono::nanoseconds value, std::chrono::nanoseconds goal) {
  return static_cast<double>(value.count()) / static_cast<double>(goal.count());
}

struct Variant {
  const char* name;
  const char* port;
  bool naive;
};

}  // namespace

void MeasureTurnaround(BenchContext& context, std::vector<Row>& rows) {
  const std::size_t bytes = context.quick() ? 64 * 1024 : 4 * 1024 * 1024;
  const std::size_t packets = bytes / kChunkSize + 1;
  const Variant variants[] = {
      {"engine's SerialPort", "SerialPort (ReadByte waits on the descriptor)", false},
      {"1 ms sleep-polling port", "bench-only port: ReadByte polls with plain 1 ms sleeps", true},
  };
  std::array<Percentiles, 2> oursByReply{};
  for (const Variant& variant : variants) {
    context.Progress(std::string("Reply turnaround, ") + variant.name + ", " + SizeName(bytes));
    std::string error;
    const std::string image = context.ImagePath(bytes, &error);
    EngineRun run;
    if (error.empty()) {
      std::unique_ptr<PortLink> port;
      if (variant.naive) port = std::make_unique<SleepPollingPort>();
      run = RunEngineDownload(image, context.Payload(bytes), {}, std::move(port), kBound);
      error = run.error;
    }
    const std::pair<std::uint8_t, const char*> replies[] = {{CMD_DATA_REQ, "0xE7 → packet"},
                                                            {CMD_DATA_ACK, "0xE8 → 0xEA"}};
    for (std::size_t i = 0; i < 2; ++i) {
      Row row;
      row.figure =
          std::string("Reply turnaround, ") + replies[i].second + " (" + variant.name + ")";
      row.inputs = "unpaced pty, " + SizeName(bytes) + " (" + std::to_string(packets) +
                   " packets), " + variant.port;
      if (!error.empty()) {
        context.MarkBroken();
        row.value = "failed: " + error;
        row.goal = "p50 < 100 µs, p99 < 1 ms";
        row.ratio = "—";
        rows.push_back(row);
        continue;
      }
      const Percentiles p = AnswerTimes(run.report.timing, replies[i].first);
      row.inputs +=
          "; " + std::to_string(p.count) + " replies, IRD write to IRD read of the answer";
      row.value = Describe(p);
      if (!variant.naive) {
        oursByReply[i] = p;
        row.goal = "p50 < 100 µs, p99 < 1 ms";
        row.ratio = "p50 " + RatioToGoal(Ratio(p.p50, kGoalP50), 1.0, GoalKind::Under) + " · p99 " +
                    RatioToGoal(Ratio(p.p99, kGoalP99), 1.0, GoalKind::Under);
      } else {
        row.goal = "none (the naive design, for comparison)";
        row.ratio =
            oursByReply[i].p50.count() > 0
                ? "p50 " + Fixed(Ratio(p.p50, oursByReply[i].p50), 1) + "× the engine's port"
                : "—";
      }
      rows.push_back(row);
    }
  }
}

}  // namespace irdload::bench
