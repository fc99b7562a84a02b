// How long a byte takes through a pseudo-terminal, master to slave: to a reader that never
// sleeps (the kernel's own part) and to one that sleeps until the byte lands (the kernel's part
// and the wake-up). Tells what the PC's wait can shave and what it cannot.
#pragma once

#include <vector>

#include "bench/BenchContext.h"
#include "bench/Table.h"

namespace irdload::bench {

void MeasurePtyDelivery(BenchContext& context, std::vector<Row>& rows);

}  // namespace irdload::bench
