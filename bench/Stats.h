// Order statistics over samples and repetitions.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace irdload::bench {

// The nearest-rank percentile (0 < p <= 100) of `samples`; zero when there are none.
std::chrono::nanoseconds Percentile(std::vector<std::chrono::nanoseconds> samples, double p);

// The median: the middle value, or the mean of the middle two for an even count; 0 when empty.
double Median(std::vector<double> values);

// p50, p99 and the largest of samples, as a person reads them ("p50 41 µs · p99 64 µs · max
// 711 µs"), and the same numbers.
struct Spread {
  std::chrono::nanoseconds p50{0}, p99{0}, max{0};
  std::size_t count = 0;
  std::string Describe() const;
};
Spread SpreadOf(const std::vector<std::chrono::nanoseconds>& samples);

// "median 0.9912 of 3 (0.9901–0.9925)".
std::string Repeats(const std::vector<double>& values, int decimals);

}  // namespace irdload::bench
