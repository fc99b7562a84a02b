#include "ui/PortChoices.h"

namespace irdload::ui {

std::vector<PortChoice> ListPortChoices(const InventoryRoots& roots,
                                        const std::vector<std::string>& extraPorts) {
  std::vector<PortChoice> choices;
  for (int n = 1; n <= 4; ++n) {
    choices.push_back({PortChoice::Kind::kClassicCom, "COM" + std::to_string(n)});
  }
  for (const PortInfo& port : ListSerialPorts(roots)) {
    const std::string device = port.device.substr(port.device.rfind('/') + 1);
    const bool classic = device.size() == 5 && device.compare(0, 4, "ttyS") == 0 &&
                         device[4] >= '0' && device[4] <= '3';
    if (!classic) choices.push_back({PortChoice::Kind::kFoundPort, port.device});
  }
  for (const std::string& path : extraPorts) {
    choices.push_back({PortChoice::Kind::kFoundPort, path});
  }
  choices.push_back({PortChoice::Kind::kVirtualIrd, kVirtualIrdLabel});
  return choices;
}

}  // namespace irdload::ui
