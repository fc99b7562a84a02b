// How the engine waits for replies, tried one way at a time in one run: the engine in this
// process on its real serial port, against the paced virtual IRD, with the wake path from the
// IRD's write of a reply to the worker's read of it, the answer time as the IRD sees it, the line
// efficiency and the worker's CPU.
#pragma once

#include <vector>

#include "bench/BenchContext.h"
#include "bench/Table.h"

namespace irdload::bench {

void MeasureWaitExperiments(BenchContext& context, std::vector<Row>& rows);

}  // namespace irdload::bench
