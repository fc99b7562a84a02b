// The benchmark's output: one markdown table row per figure, with its goal and how the value
// stands against it.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace irdload::bench {

struct Row {
  std::string figure;
  std::string inputs;
  std::string value;
  std::string goal;
  std::string ratio;  // value / goal, with whether the goal was met
};

enum class GoalKind {
  AtLeast,  // met when value >= goal
  Under,    // met when value < goal
};

// "1.008 (met)" or "0.73 (missed)": the ratio value / goal and the verdict.
std::string RatioToGoal(double value, double goal, GoalKind kind);

std::string RenderTable(const std::vector<Row>& rows);

// Numbers as a person reads them: "0.998", "42 µs", "1.24 ms", "5.81 s", "12.3 MiB".
std::string Fixed(double value, int decimals);
std::string Duration(std::chrono::nanoseconds d);
std::string MiB(double bytes);
// A payload size: "64 KiB", "1 MiB", "4 MiB", or bytes when not a whole KiB.
std::string SizeName(std::size_t bytes);

}  // namespace irdload::bench
