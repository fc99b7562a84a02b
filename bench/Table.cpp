#include "bench/Table.h"

#include <cstdio>

namespace irdload::bench {

std::string Fixed(double value, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
  return buf;
}

std::string Duration(std::chrono::nanoseconds d) {
  const double ns = static_cast<double>(d.count());
  if (ns < 1e6) return Fixed(ns / 1e3, ns < 1e4 ? 1 : 0) + " µs";
  if (ns < 1e9) return Fixed(ns / 1e6, 2) + " ms";
  return Fixed(ns / 1e9, 2) + " s";
}

std::string MiB(double bytes) {
  return Fixed(bytes / (1024.0 * 1024.0), 1) + " MiB";
}

std::string SizeName(std::size_t bytes) {
  if (bytes >= 1024 * 1024 && bytes % (1024 * 1024) == 0) {
    return std::to_string(bytes / (1024 * 1024)) + " MiB";
  }
  if (bytes >= 1024 && bytes % 1024 == 0) return std::to_string(bytes / 1024) + " KiB";
  return std::to_string(bytes) + " bytes";
}

std::string RatioToGoal(double value, double goal, GoalKind kind) {
  const double ratio = value / goal;
  const bool met = kind == GoalKind::AtLeast ? value >= goal : value < goal;
  // Near the goal two decimals would print "1.00" for a narrow miss: show as many as it takes.
  int digits = ratio < 0.1 ? 3 : 2;
  while (digits < 5 && ratio != 1.0 && Fixed(ratio, digits) == Fixed(1.0, digits)) ++digits;
  return Fixed(ratio, digits) + (met ? " (met)" : " (missed)");
}

std::string RenderTable(const std::vector<Row>& rows) {
  // Pipes inside a cell would split it.
  const auto cell = [](std::string text) {
    for (std::size_t at = text.find('|'); at != std::string::npos; at = text.find('|', at + 2)) {
      text.replace(at, 1, "\\|");
    }
    return text;
  };
  std::string out = "| figure | inputs | value | goal | ratio to goal |\n";
  out += "| --- | --- | --- | --- | --- |\n";
  for (const Row& row : rows) {
    out += "| " + cell(row.figure) + " | " + cell(row.inputs) + " | " + cell(row.value) + " | " +
           cell(row.goal) + " | " + cell(row.ratio) + " |\n";
  }
  return out;
}

}  // namespace irdload::bench
