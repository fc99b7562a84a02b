// The programs as users run them, each in its own process against the paced virtual IRD: line
// efficiency against the protocol's limit, CPU and memory, for irdload-cli at several sizes and
// for the dialog.
#pragma once

#include <chrono>
#include <cstddef>
#include <vector>

#include "bench/BenchContext.h"
#include "bench/Table.h"

namespace irdload::bench {

struct OurLineTime {
  std::size_t payloadBytes = 0;
  std::chrono::nanoseconds measured{0};  // 0xE1 to 0xED of the median run
};

std::vector<OurLineTime> MeasureCliEfficiency(BenchContext& context, std::vector<Row>& rows);
void MeasureDialogCost(BenchContext& context, std::vector<Row>& rows);
/// What a USB adapter's latency timer costs: irdload-cli's line efficiency with the IRD's replies
/// held to the next tick of a 0, 1 and 16 ms timer, beside the protocol limit.
void MeasureAdapterLatency(BenchContext& context, std::vector<Row>& rows);

}  // namespace irdload::bench
