// Figure 5: the station against many receivers at once. 1, 4, 8, 16, 32 and 64 ports at 115200,
// one image each, the virtual IRDs in a process of their own (irdload-cli virtual-ird) so that the
// station's own cost is measured alone: each port's line efficiency against the protocol's
// limit, the station's CPU per port, its peak memory; and 16 receivers loaded by 16 separate
// `irdload-cli send` processes.
#pragma once

#include <vector>

#include "bench/BenchContext.h"
#include "bench/Table.h"

namespace irdload::bench {

void MeasureStation(BenchContext& context, std::vector<Row>& rows);

}  // namespace irdload::bench
