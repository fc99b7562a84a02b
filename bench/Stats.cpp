#include "bench/Stats.h"

#include <algorithm>
#include <cmath>

#include "bench/Table.h"

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
  const std::size_t mid = values.size() / 2;
  return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2.0;
}

std::string Spread::Describe() const {
  return "p50 " + Duration(p50) + " · p99 " + Duration(p99) + " · max " + Duration(max);
}

Spread SpreadOf(const std::vector<std::chrono::nanoseconds>& samples) {
  return {Percentile(samples, 50), Percentile(samples, 99), Percentile(samples, 100),
          samples.size()};
}

std::string Repeats(const std::vector<double>& values, int decimals) {
  if (values.empty()) return "no runs";
  const auto [low, high] = std::minmax_element(values.begin(), values.end());
  std::string text =
      "median " + Fixed(Median(values), decimals) + " of " + std::to_string(values.size());
  if (values.size() > 1) text += " (" + Fixed(*low, decimals) + "–" + Fixed(*high, decimals) + ")";
  return text;
}

}  // namespace irdload::bench
