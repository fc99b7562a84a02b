// Figure 3: what a download costs the machine: CPU time per MiB at 115200 and peak resident
// memory, for the command-line program and the dialog program run as child processes.
#pragma once

#include <vector>

#include "bench/BenchContext.h"
#include "bench/Table.h"

namespace irdload::bench {

void MeasureCost(BenchContext& context, std::vector<Row>& rows);

}  // namespace irdload::bench
