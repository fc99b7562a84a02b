// The protocol machine against the IRD's receiver on an in-process line, with the fuzzer choosing
// which bytes the line changes, both ways. The IRD stores packets by its own count, as a real
// one does. On every run: the machine stays within its states and counts and ends; and a download
// reported as loaded holds the exact image unless the changes explain it by a pattern the
// protocol itself cannot see.
#include <cstdlib>
#include <vector>

#include "engine/ImageWriter.h"
#include "support/ModelLine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace irdload;
  if (size < 2) return 0;
  // The first two bytes choose a payload of up to 4 KiB: up to five packets. Then each three
  // bytes are one change: a 16-bit gap after the previous one and the mask.
  const std::size_t payloadSize = (std::size_t{data[0]} << 8 | data[1]) % 4096;
  test::ModelLineOptions options;
  for (std::size_t i = 2; i + 3 <= size; i += 3) {
    const std::uint8_t mask = data[i + 2];
    if (mask == 0) continue;
    options.flips.push_back({std::uint64_t{data[i]} | std::uint64_t{data[i + 1]} << 8, mask});
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
