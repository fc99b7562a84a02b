#include "bench/Experiments.h"

#include "bench/EngineRun.h"
#include "bench/MeasuredPort.h"
#include "bench/Stats.h"
#include "engine/Link.h"

namespace irdload::bench {
namespace {

using namespace std::chrono_literals;
using Samples = std::vector<std::chrono::nanoseconds>;

constexpr auto kAnswerGoalP99 = 1ms;

const PortTuningVariant kVariants[] = {
    {"sleep until a byte lands, timer slack 1 µs (the default)", {}, true, false},
    {"reply watch: a 250 µs busy look where a reply is due",
     {.before = 50us, .after = 200us},
     true,
     false},
    {"the default 50 µs timer slack", {}, false, false},
    {"timer slack 1 µs, real-time priority", {}, true, true},
};

struct Pooled {
  std::vector<double> efficiencies, cpuShares;
  Samples wakeRequest, wakeAck;      // IRD write to the worker's read: 0xE7, 0xE8
  Samples answerRequest, answerAck;  // IRD write to the IRD's read of the answer
};

// Pairs each byte the IRD wrote with the worker's read of it: both see the same bytes in order.
void AddWakes(const sim::LineTiming& timing,
              const std::vector<std::pair<std::uint8_t, std::chrono::nanoseconds>>& reads,
              Pooled& pooled) {
  const std::size_t n = std::min(timing.replies.size(), reads.size());
  for (std::size_t i = 0; i < n; ++i) {
    const sim::ReplyTiming& r = timing.replies[i];
    if (r.byte != reads[i].first) break;  // out of step: stop pairing
    const auto wake = reads[i].second - r.writtenAt;
    if (r.byte == CMD_DATA_REQ) pooled.wakeRequest.push_back(wake);
    if (r.byte == CMD_DATA_ACK) pooled.wakeAck.push_back(wake);
    if (r.answerReadAt.count() == 0) continue;
    if (r.byte == CMD_DATA_REQ) pooled.answerRequest.push_back(r.answerReadAt - r.writtenAt);
    if (r.byte == CMD_DATA_ACK) pooled.answerAck.push_back(r.answerReadAt - r.writtenAt);
  }
}

}  // namespace

void MeasureWaitExperiments(BenchContext& context, std::vector<Row>& rows) {
  const std::size_t bytes = context.quick() ? 64 * 1024 : 256 * 1024;
  const int runs = context.quick() ? 1 : 3;
  const auto limit = ProtocolLimit(bytes, kLineBaud);
  std::string error;
  const std::string image = context.ImagePath(bytes, &error);
  bool first = true;
  for (const PortTuningVariant& variant : kVariants) {
    Row row{std::string("Waiting for replies: ") + variant.name, "", "", "", ""};
    const std::string loadBefore = LoadNow();
    Pooled pooled;
    for (int run = 0; run < runs && error.empty(); ++run) {
      context.Progress(row.figure + ": run " + std::to_string(run + 1) + " of " +
                       std::to_string(runs));
      auto port = std::make_unique<MeasuredPort>(variant);
      MeasuredPort* measured = port.get();
      std::vector<std::pair<std::uint8_t, std::chrono::nanoseconds>> reads;
      std::chrono::nanoseconds cpu{0};
      sim::VirtualIrd::Options options;
      options.baud = kLineBaud;
      EngineRun result = RunEngineDownload(image, context.Payload(bytes), options, std::move(port),
                                           TransferBound(limit), [&] {
                                             reads = measured->reads();
                                             cpu = measured->workerCpu();
                                           });
      if (!result.ok) {
        error = result.error;
        break;
      }
      const auto& timing = result.report.timing;
      const auto span = timing.lastTerminateAnswerAt - timing.firstConnectRequestAt;
      pooled.efficiencies.push_back(static_cast<double>(limit.count()) /
                                    static_cast<double>(span.count()));
      pooled.cpuShares.push_back(static_cast<double>(cpu.count()) /
                                 static_cast<double>(span.count()));
      AddWakes(timing, reads, pooled);
    }
    row.inputs = SizeName(bytes) +
                 ", engine in this process on its SerialPort, IRD paced at "
                 "115200 on its own thread; " +
                 std::to_string(runs) + " runs, " + loadBefore + " at the start";
    if (!error.empty()) {
      context.MarkBroken();
      row.value = "failed: " + error;
      row.goal = row.ratio = "—";
      rows.push_back(row);
      return;
    }
    const Spread wakeRequest = SpreadOf(pooled.wakeRequest), wakeAck = SpreadOf(pooled.wakeAck);
    const Spread answerRequest = SpreadOf(pooled.answerRequest);
    const Spread answerAck = SpreadOf(pooled.answerAck);
    row.inputs += "; wake (IRD write to the worker's read) 0xE7 " + wakeRequest.Describe() +
                  ", 0xE8 " + wakeAck.Describe() + "; answer as the IRD sees it 0xE7 → packet " +
                  answerRequest.Describe() + ", 0xE8 → 0xEA " + answerAck.Describe() +
                  "; worker CPU " + Fixed(Median(pooled.cpuShares) * 100.0, 2) +
                  "% of one core; efficiency " + Repeats(pooled.efficiencies, 4);
    row.value = "efficiency " + Fixed(Median(pooled.efficiencies), 4) + ", answer p99 " +
                Duration(std::max(answerRequest.p99, answerAck.p99));
    row.goal = "answer p99 < 1 ms, CPU < 1%";
    const double p99 = static_cast<double>(std::max(answerRequest.p99, answerAck.p99).count()) /
                       static_cast<double>(std::chrono::nanoseconds(kAnswerGoalP99).count());
    row.ratio = "answer " + RatioToGoal(p99, 1.0, GoalKind::Under) + " · CPU " +
                RatioToGoal(Median(pooled.cpuShares), 0.01, GoalKind::Under);
    if (first) {
      row.figure += " (the configuration shipped)";
      first = false;
    }
    rows.push_back(row);
  }
}

}  // namespace irdload::bench
