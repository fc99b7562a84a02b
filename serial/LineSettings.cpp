#include "serial/LineSettings.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <sstream>
#include <vector>

namespace irdload {
namespace {

std::string Trim(std::string s) {
  const auto notSpace = [](unsigned char c) { return !std::isspace(c); };
  s.erase(s.begin(), std::find_if(s.begin(), s.end(), notSpace));
  s.erase(std::find_if(s.rbegin(), s.rend(), notSpace).base(), s.end());
  return s;
}

}  // namespace

std::optional<LineSettings> ParseMode(const std::string& mode) {
  std::vector<std::string> parts;
  std::stringstream in(mode);
  for (std::string part; std::getline(in, part, ',');) parts.push_back(Trim(part));
  if (parts.size() != 4) return std::nullopt;
  LineSettings line;
  const std::string& baud = parts[0];
  const auto [end, ec] = std::from_chars(baud.data(), baud.data() + baud.size(), line.baud);
  if (baud.empty() || ec != std::errc() || end != baud.data() + baud.size() || line.baud == 0) {
    return std::nullopt;
  }
  if (parts[1].size() != 1) return std::nullopt;
  line.parity = static_cast<char>(std::toupper(static_cast<unsigned char>(parts[1][0])));
  if (std::string("NEOMS").find(line.parity) == std::string::npos) return std::nullopt;
  if (parts[2].size() != 1 || parts[2][0] < '5' || parts[2][0] > '8') return std::nullopt;
  line.dataBits = parts[2][0] - '0';
  if (parts[3] != "1" && parts[3] != "2") return std::nullopt;
  line.stopBits = parts[3][0] - '0';
  return line;
}

}  // namespace irdload
