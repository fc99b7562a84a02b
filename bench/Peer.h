// Figure 4: the closest widely used stop-and-wait serial transfer, XMODEM-1K through lrzsz,
// over the pacing relay at the same line speed and with the same payload size as ours.
#pragma once

#include <vector>

#include "bench/BenchContext.h"
#include "bench/Efficiency.h"
#include "bench/Table.h"

namespace irdload::bench {

void MeasurePeer(BenchContext& context, const std::vector<OurLineTime>& ours,
                 std::vector<Row>& rows);

}  // namespace irdload::bench
