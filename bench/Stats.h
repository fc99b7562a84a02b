// Order statistics over samples.
#pragma once

#include <chrono>
#include <vector>

namespace irdload::bench {

// The nearest-rank percentile (0 < p <= 100) of `samples`; zero when there are none.
std::chrono::nanoseconds Percentile(std::vector<std::chrono::nanoseconds> samples, double p);

// The median of a few repetitions (the lower middle one for an even count); 0 when empty.
double Median(std::vector<double> values);

}  // namespace irdload::bench
