// The Windows command line's line efficiency under wine beside the Linux build's, in the same
// run, against the same paced virtual IRD: irdload-cli.exe reaches it through COM5 of a wine
// prefix of the benchmark's own, which leads to the IRD's pseudo-terminal.
#pragma once

#include <string>
#include <vector>

#include "bench/BenchContext.h"
#include "bench/Table.h"

namespace irdload::bench {

/// `windowsBuild`: the cross build's folder (with cli/irdload-cli.exe).
void MeasureWineEfficiency(BenchContext& context, const std::string& windowsBuild,
                           std::vector<Row>& rows);

}  // namespace irdload::bench
