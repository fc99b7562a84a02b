#include "ui/PortChoices.h"

#include "serial/PortName.h"

namespace irdload::ui {

std::vector<PortChoice> ListPortChoices(const InventoryRoots& roots,
                                        const std::vector<std::string>& extraPorts) {
  std::vector<PortChoice> choices;
  for (int index = 0; index < kClassicPortCount; ++index) {
    choices.push_back({PortChoice::Kind::kClassicCom, ClassicPortName(index)});
  }
  for (const PortInfo& port : ListSerialPorts(roots)) {
    bool classic = false;
    for (int index = 0; index < kClassicPortCount; ++index) {
      classic = classic || DevicePathForPortName(ClassicPortName(index)) == port.device;
    }
    if (!classic) choices.push_back({PortChoice::Kind::kFoundPort, port.device});
  }
  for (const std::string& path : extraPorts) {
    choices.push_back({PortChoice::Kind::kFoundPort, path});
  }
  choices.push_back({PortChoice::Kind::kVirtualIrd, kVirtualIrdLabel});
  return choices;
}

}  // namespace irdload::ui
