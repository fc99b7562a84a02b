#include "bench/EngineRun.h"

#include "bench/BenchHost.h"
#include "engine/DownloadEngine.h"
#include "engine/Link.h"
#include "sim/LineClock.h"

namespace irdload::bench {

using namespace std::chrono_literals;

std::chrono::nanoseconds ProtocolLimit(std::size_t payloadBytes, std::uint32_t baud) {
  // 68 PC bytes (0xE1, 0xEF, the 64-byte header, 0xE6, 0xED) and 4 IRD bytes (0xE2, 0xE3, 0xE4,
  // 0xEB); per packet the 1024 packet bytes, the PC's 0xEA and the IRD's 0xE7 and 0xE8.
  const std::uint64_t packets = payloadBytes / kChunkSize + 1;
  const std::uint64_t byteTimes = 72 + 1027 * packets;
  return std::chrono::nanoseconds{
      static_cast<std::int64_t>(byteTimes * 10 * 1'000'000'000ULL / baud)};
}

std::chrono::seconds TransferBound(std::chrono::nanoseconds lineTime) {
  return std::chrono::ceil<std::chrono::seconds>(lineTime * 2) + 60s;
}

EngineRun RunEngineDownload(const std::string& imagePath, const std::vector<std::uint8_t>& payload,
                            sim::VirtualIrd::Options irdOptions, std::unique_ptr<PortLink> port,
                            std::chrono::seconds bound, const std::function<void()>& atEnd) {
  EngineRun run;
  irdOptions.recordTiming = true;
  sim::VirtualIrd ird(std::move(irdOptions));
  if (!ird.Start(&run.error)) {
    run.error = "the virtual IRD did not start: " + run.error;
    return run;
  }
  BenchHost host(ird.SlavePath(), imagePath);
  {
    EngineOptions options;
    options.port = std::move(port);
    DownloadEngine engine(std::move(options));
    if (engine.Init(host, ird.SlavePath()) != 1 || engine.StartDownload() != 1) {
      run.error = "the engine did not start the download: " + host.Messages();
      return run;
    }
    if (!engine.WaitIdle(bound)) {
      engine.Finish();
      run.error = "the download did not end within " + std::to_string(bound.count()) + " s";
      return run;
    }
    const std::optional<Outcome> outcome = engine.lastOutcome();
    if (!outcome || outcome->kind != OutcomeKind::Success) {
      run.error = "the download failed: " + host.Messages();
      return run;
    }
    // The engine is done once its terminate answer is written, which on a pty is before the
    // IRD has read it; closing the port purges both directions, and on a pty that purge also
    // drops what the IRD has not read yet. So the port stays open until the IRD has it.
    ird.WaitForTerminatedFiles(1, bound);
    if (atEnd) atEnd();
  }  // the engine closes its port before the IRD goes
  run.report = ird.GetReport();
  if (run.report.files.size() != 1 || run.report.files[0].payload != payload ||
      !run.report.files[0].successTerminate || !run.report.files[0].terminated) {
    run.error = "the virtual IRD does not hold the image byte for byte";
    return run;
  }
  run.ok = true;
  return run;
}

}  // namespace irdload::bench
