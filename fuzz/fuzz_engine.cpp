// The protocol machine against the IRD's session on an in-process line with a virtual clock, the
// fuzzer choosing what goes wrong: bytes changed either way, replies lost, answers lost, PC bytes
// lost, the PC stalled, an IRD that repeats unanswered replies, replies held like a USB adapter's.
// The IRD stores packets by its own count, as a real one does. On every run: the machine stays
// within its states and counts and ends; and a download reported as loaded holds the exact image
// unless the changes explain it by a pattern the protocol itself cannot see.
#include <cstdlib>
#include <vector>

#include "engine/ImageWriter.h"
#include "support/ModelLine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace irdload;
  using namespace std::chrono_literals;
  if (size < 3) return 0;
  // Two bytes choose a payload of up to 4 KiB (up to five packets); one byte the line: bit 0 an
  // IRD that repeats after 300 ms, bits 1-2 an adapter's hold (none, 1 ms, 16 ms). Then each four
  // bytes are one fault: a kind and three bytes of where.
  const std::size_t payloadSize = (std::size_t{data[0]} << 8 | data[1]) % 4096;
  test::ModelLineOptions options;
  const std::uint8_t mode = data[2];
  if (mode & 1) options.timing.repeatAfter = 300ms;
  if ((mode >> 1 & 3) == 1) options.timing.holdTick = 1ms;
  if ((mode >> 1 & 3) == 2) options.timing.holdTick = 16ms;
  for (std::size_t i = 3; i + 4 <= size; i += 4) {
    const std::uint8_t a = data[i + 1], b = data[i + 2], c = data[i + 3];
    switch (data[i] % 5) {
      case 0:
        if (c != 0) options.flips.push_back({std::uint64_t{a} | std::uint64_t{b} << 8, c});
        break;
      case 1:
        options.irdFaults.push_back({sim::FaultKind::DropReply, a});
        break;
      case 2:
        options.irdFaults.push_back({sim::FaultKind::LoseAnswer, a});
        break;
      case 3: {
        sim::Fault stall{sim::FaultKind::StallPc, a};
        stall.delay = std::chrono::milliseconds{10 * (b + 1)};
        options.irdFaults.push_back(stall);
        break;
      }
      case 4:
        options.irdFaults.push_back({sim::FaultKind::LosePcByte, std::uint32_t{a} |
                                                                     std::uint32_t{b} << 8 |
                                                                     std::uint32_t{c} << 16});
        break;
    }
  }
  options.limits.retryLimit = 8;
  const auto file = ComposeImage(
      kTypeSingle, PatternPayload(payloadSize, static_cast<std::uint32_t>(payloadSize)));
  test::ModelLine line(options);
  const test::ModelRun run = line.Run(file);
  if (run.hung) std::abort();
  if (run.gaveUpCalling) return 0;
  switch (run.outcome.kind) {
    case OutcomeKind::Success:
      if (!test::Explained(test::Compare(run.ird, file), run)) std::abort();
      break;
    case OutcomeKind::Failed:
    case OutcomeKind::NoResponse:
      if (run.outcome.message.empty()) std::abort();
      break;
    default:
      std::abort();
  }
  return 0;
}
