// Figure 1: how close the engine comes to the protocol's own limit on a paced 115200 line.
#pragma once

#include <chrono>
#include <cstddef>
#include <vector>

#include "bench/BenchContext.h"
#include "bench/Table.h"

namespace irdload::bench {

// The engine's time on the line for one payload size (median of the runs), for the peer
// comparison.
struct OurLineTime {
  std::size_t payloadBytes = 0;
  std::chrono::nanoseconds measured{0};
};

std::vector<OurLineTime> MeasureLineEfficiency(BenchContext& context, std::vector<Row>& rows);

}  // namespace irdload::bench
