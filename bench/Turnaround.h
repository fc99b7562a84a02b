// Figure 2: how fast the PC answers each reply on an unpaced line, with the engine's own port
// and with a port that polls with plain 1 ms sleeps.
#pragma once

#include <vector>

#include "bench/BenchContext.h"
#include "bench/Table.h"

namespace irdload::bench {

void MeasureTurnaround(BenchContext& context, std::vector<Row>& rows);

}  // namespace irdload::bench
