#include "bench/Stats.h"

#include <algorithm>
#include <cmath>

namespace irdload::bench {

std::chrono::nanoseconds Percentile(std::vector<std::chrono::nanoseconds> samples, double p) {
  if (samples.empty()) return std::chrono::nanoseconds{0};
  std::sort(samples.begin(), samples.end());
  const auto rank =
      static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(samples.size())));
  return samples[std::clamp<std::size_t>(rank, 1, samples.size()) - 1];
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  return values[(values.size() - 1) / 2];
}

}  // namespace irdload::bench
