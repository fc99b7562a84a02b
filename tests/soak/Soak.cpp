#include "soak/Soak.h"

#include <chrono>
#include <optional>
#include <random>

#include "engine/DownloadEngine.h"
#include "engine/ImageWriter.h"
#include "sim/VirtualIrd.h"
#include "support/Outcomes.h"
#include "support/RecordingHost.h"
#include "support/StallingPort.h"
#include "support/TempDir.h"

namespace irdload::soak {
namespace {

using namespace std::chrono_literals;
using sim::Fault;
using sim::FaultKind;

// A short read bound and retry limit keep a run that ends in silence to about a second; the
// delays are scaled to the same bound ("within" and "beyond" it).
constexpr auto kReplyWait = 5ms;
constexpr int kRetryLimit = 150;
constexpr auto kRunBound = 60s;
constexpr auto kStopAfterSilence = 300ms;

struct RunPlan {
  std::size_t payloadSize;
  std::vector<Fault> faults;
  bool silentFromStart = false;
  // An IRD that repeats an unanswered reply after this silence; 0: one that never does. Scaled to
  // the short reply bound as 300 ms is to 50 ms.
  std::chrono::milliseconds repeatAfter{0};
  // The PC stalls after reading this reply, for this long.
  std::optional<std::uint32_t> stallAfter;
  std::chrono::milliseconds stall{0};
};

Fault Delay(std::uint32_t at, std::uint32_t microseconds) {
  return {FaultKind::DelayReply, at, 0, std::chrono::microseconds{microseconds}};
}

RunPlan PlanRun(std::mt19937_64& rng, int faultsPerRun) {
  RunPlan plan;
  plan.payloadSize = std::uniform_int_distribution<std::size_t>(0, 12 * 1021)(rng);
  const std::uint32_t packets = static_cast<std::uint32_t>(plan.payloadSize / 1021 + 1);
  const std::uint32_t replies = 3 + 2 * packets + 1;  // E2 E3 E4, (E7 E8) per packet, EB
  const std::uint32_t pcBytes = 2 + 64 + 1 + packets * 1025 + 1;
  const auto pick = [&](std::uint32_t lo, std::uint32_t hi) {
    return std::uniform_int_distribution<std::uint32_t>(lo, std::max(lo, hi))(rng);
  };
  if (pick(0, 1) == 1) plan.repeatAfter = std::chrono::milliseconds{pick(20, 60)};
  const bool exact = faultsPerRun >= 0;
  const int count = exact ? faultsPerRun : std::uniform_int_distribution<int>(0, 3)(rng);
  // With an exact count every draw is a fault; otherwise one kind in 16 may stay silent.
  for (int i = 0; i < count; ++i) {
    switch (std::uniform_int_distribution<int>(0, exact ? 14 : 15)(rng)) {
      case 0:
        plan.faults.push_back({FaultKind::NackHeader, pick(0, 1)});
        break;
      case 1:
        plan.faults.push_back({FaultKind::NackPacket, pick(0, packets)});
        break;
      case 2:
        plan.faults.push_back({FaultKind::ClearBit20, pick(0, replies)});
        break;
      case 3:
        plan.faults.push_back({FaultKind::Garbage, pick(0, replies), pick(1, 8)});
        break;
      case 4:
        plan.faults.push_back({FaultKind::CorruptPacketByte, pick(0, packets)});
        break;
      case 5:
        plan.faults.push_back(Delay(pick(0, replies), pick(200, 3000)));
        break;
      case 6:
        plan.faults.push_back(Delay(pick(0, replies), pick(8000, 30000)));
        break;
      case 7:
        plan.faults.push_back({FaultKind::FailTerminate});
        break;
      case 8:
        plan.faults.push_back({FaultKind::SilentFrom, pick(3, replies)});
        break;
      case 9:
        plan.faults.push_back({FaultKind::HangUpAt, pick(3, replies)});
        break;
      case 10: {
        // A reply turned into another command byte: the case that can desynchronise the ends.
        const std::uint32_t codes[] = {0xE2, 0xE3, 0xE4, 0xE5, 0xE7, 0xE8, 0xE9, 0xEB, 0xEC};
        plan.faults.push_back({FaultKind::CorruptReply, pick(0, replies), codes[pick(0, 8)]});
        break;
      }
      case 11:
        plan.faults.push_back({FaultKind::DropReply, pick(0, replies)});
        break;
      case 12:
        plan.faults.push_back({FaultKind::LoseAnswer, pick(0, replies)});
        break;
      case 13:
        plan.faults.push_back({FaultKind::LosePcByte, pick(0, pcBytes)});
        break;
      case 14:
        // A busy PC: longer than the IRD's silence before a repeat, so repeats wait for it.
        plan.stallAfter = pick(0, replies);
        plan.stall = std::chrono::milliseconds{pick(10, 90)};
        break;
      case 15:
        if (std::uniform_int_distribution<int>(0, 3)(rng) == 0) plan.silentFromStart = true;
        break;
    }
  }
  if (plan.silentFromStart) plan.faults.push_back({FaultKind::SilentFrom, 0});
  return plan;
}

// Waits for the engine to go idle. False when it is still in the connect phase with the IRD
// gone or silent for a while (it would ask for ever); true otherwise, idle or past the bound.
bool WaitForVerdict(DownloadEngine& engine, const sim::VirtualIrd& ird) {
  const auto deadline = std::chrono::steady_clock::now() + kRunBound;
  int quietConnectPolls = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    if (engine.WaitIdle(100ms)) return true;
    const int state = engine.state();
    const sim::Report report = ird.GetReport();
    const bool irdAway = report.lineGone || report.faultsInjected.count(FaultKind::SilentFrom) > 0;
    const bool connecting = state == STATUS_SEND_CONNECT_REQ || state == STATUS_WAIT_CONNECT_ACK;
    quietConnectPolls = irdAway && connecting ? quietConnectPolls + 1 : 0;
    if (quietConnectPolls >= 10) return false;
  }
  return true;
}

bool HoldsExactly(const sim::Report& report, const std::vector<std::uint8_t>& file) {
  if (report.files.size() != 1) return false;
  const auto& got = report.files[0];
  return std::equal(got.header.begin(), got.header.end(), file.begin()) &&
         got.payload == std::vector<std::uint8_t>(file.begin() + 64, file.end());
}

}  // namespace

SoakTotals RunSoak(const SoakOptions& options, std::ostream& log) {
  SoakTotals totals;
  std::mt19937_64 rng(options.seed);
  test::TempDir dir;
  for (int run = 0; run < options.runs; ++run) {
    const RunPlan plan = PlanRun(rng, options.faultsPerRun);
    if (options.only >= 0 && run != options.only) continue;
    const int forbiddenBefore = totals.forbidden();
    if (options.verbose) {
      log << "run " << run << " plan:";
      for (const auto& f : plan.faults)
        log << ' ' << sim::FaultKindName(f.kind) << '@' << f.at << ':' << f.value;
      log << '\n';
    }
    const auto file = ComposeImage(
        kTypeSingle, PatternPayload(plan.payloadSize, static_cast<std::uint32_t>(run)));
    const std::string path = dir.WriteBytes("soak.uuc", file);

    sim::VirtualIrd::Options irdOptions;
    irdOptions.faults = plan.faults;
    irdOptions.repeatAfter = plan.repeatAfter;
    irdOptions.seed = options.seed * 1000003 + static_cast<std::uint64_t>(run);
    sim::VirtualIrd ird(irdOptions);
    std::string why;
    if (!ird.Start(&why)) {
      log << "run " << run << ": the virtual IRD did not start: " << why << '\n';
      ++totals.hangs;
      continue;
    }
    test::RecordingHost host;
    host.SetPortPath(ird.SlavePath());
    host.SetFiles(path);
    EngineOptions engineOptions;
    engineOptions.replyWait = kReplyWait;
    engineOptions.limits.retryLimit = kRetryLimit;
    if (plan.stallAfter) {
      engineOptions.port =
          std::make_unique<test::StallingPort>(kReplyWait, *plan.stallAfter, plan.stall);
    }
    DownloadEngine engine(std::move(engineOptions));
    engine.Init(host, ird.SlavePath());
    ++totals.runs;
    if (engine.StartDownload() != 1) {
      log << "run " << run << ": the start was refused\n";
      ++totals.silentFailures;
      continue;
    }
    std::string verdict;
    if (plan.silentFromStart) {
      // Asking to connect until stopped is the design; stop it as an operator would.
      const bool idle = engine.WaitIdle(kStopAfterSilence);
      engine.Finish();
      if (idle && test::LastOutcomeKind(engine) == OutcomeKind::Success &&
          !HoldsExactly(ird.GetReport(), file)) {
        ++totals.wrongImage;
        verdict = "WRONG IMAGE";
      } else {
        ++totals.stoppedAsDesigned;
        verdict = "stopped";
      }
    } else if (!WaitForVerdict(engine, ird)) {
      // The IRD went away (or silent) before it answered the connect request: the engine asks
      // until stopped, as designed; the soak stops it like an operator.
      engine.Finish();
      ++totals.stoppedAsDesigned;
      verdict = "stopped";
    } else if (!engine.IsIdle()) {
      ++totals.hangs;
      verdict = "HANG in state " + std::to_string(engine.state()) + ", status \"" +
                host.field(FIELD_STATUS) + "\", last reply " + host.field(FIELD_LAST_REPLY) +
                ", line gone " + (ird.GetReport().lineGone ? "yes" : "no");
      engine.Finish();
    } else {
      const std::optional<OutcomeKind> outcome = test::LastOutcomeKind(engine);
      if (outcome == OutcomeKind::Success) {
        if (HoldsExactly(ird.GetReport(), file)) {
          ++totals.successes;
          const bool faulted = plan.stallAfter || !ird.GetReport().faultsInjected.empty() ||
                               ird.GetReport().repeatsSent > 0;
          if (faulted) ++totals.recovered;
          verdict = faulted ? "recovered" : "success";
        } else {
          ++totals.wrongImage;
          verdict = "WRONG IMAGE";
        }
      } else if ((outcome == OutcomeKind::Failed || outcome == OutcomeKind::NoResponse) &&
                 !host.messages().empty()) {
        ++totals.cleanFailures;
        verdict = "failure: " + host.messages().back().text;
      } else {
        ++totals.silentFailures;
        verdict = "SILENT FAILURE";
      }
    }
    if (engine.snapshot().payloadHeld) {
      ++totals.leakedPayload;
      verdict += " LEAKED PAYLOAD";
    }
    for (const auto& [kind, count] : ird.GetReport().faultsInjected) {
      totals.faultsInjected[std::string(sim::FaultKindName(kind))] += static_cast<int>(count);
    }
    if (plan.stallAfter) ++totals.faultsInjected["PC stalled"];
    totals.faultsInjected["repeats sent"] += static_cast<int>(ird.GetReport().repeatsSent);
    if (options.verbose || totals.forbidden() > forbiddenBefore) {
      log << "run " << run << " (" << plan.payloadSize << " bytes, " << plan.faults.size()
          << " faults): " << verdict << '\n';
    }
  }
  return totals;
}

void PrintTable(const SoakOptions& options, const SoakTotals& t, std::ostream& out) {
  out << "| runs | seed | faults per run | successes | of which recovered | clean failures | "
         "stopped as designed | wrong image | hang | leaked payload | silent failure |\n"
      << "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n"
      << "| " << t.runs << " | " << options.seed << " | "
      << (options.faultsPerRun >= 0 ? std::to_string(options.faultsPerRun) : "0-3") << " | "
      << t.successes << " | " << t.recovered << " | " << t.cleanFailures << " | "
      << t.stoppedAsDesigned << " | " << t.wrongImage << " | " << t.hangs << " | "
      << t.leakedPayload << " | " << t.silentFailures << " |\n\n"
      << "| fault injected | count |\n|---|---:|\n";
  for (const auto& [kind, count] : t.faultsInjected) {
    out << "| " << kind << " | " << count << " |\n";
  }
}

}  // namespace irdload::soak
