#include "serial/PortName.h"

#include <algorithm>
#include <cctype>

namespace irdload {

std::string ClassicPortName(int index) {
  return "COM" + std::to_string(index + 1);
}

std::optional<int> ClassicPortNumber(const std::string& typed) {
  // "COM5:" is how Windows' own tools write a port.
  const std::string name =
      !typed.empty() && typed.back() == ':' ? typed.substr(0, typed.size() - 1) : typed;
  if (name.size() < 4 || name.size() > 7) return std::nullopt;
  const std::string prefix = name.substr(0, 3);
  if (prefix != "COM" && prefix != "com") return std::nullopt;
  const std::string digits = name.substr(3);
  if (!std::all_of(digits.begin(), digits.end(),
                   [](unsigned char c) { return std::isdigit(c) != 0; })) {
    return std::nullopt;
  }
  const int n = std::stoi(digits);
  if (n < 1) return std::nullopt;
  return n;
}

std::string DevicePathForPortName(const std::string& name, const std::filesystem::path& devRoot) {
  std::string path = DevicePathForPortName(name);
  if (name.rfind('/', 0) != 0 && path.rfind("/dev/", 0) == 0 && devRoot != "/dev") {
    path = (devRoot / path.substr(5)).string();
  }
  return path;
}

}  // namespace irdload
