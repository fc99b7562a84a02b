#include "dialog/PortChoices.h"

#include "serial/PortName.h"

namespace irdload {
namespace {

// The name that stays the same for an adapter: by-id names the adapter, by-path its socket.
std::string StableName(const PortInfo& port) {
  if (!port.byIdLinks.empty()) return port.byIdLinks.front();
  if (!port.byPathLinks.empty()) return port.byPathLinks.front();
  return port.device;
}

std::string Details(const PortInfo& port) {
  std::string text = port.device;
  const auto add = [&](const std::string& label, const std::string& value) {
    if (!value.empty()) text += "\n" + label + ": " + value;
  };
  add("Maker", port.manufacturer);
  add("Product", port.product);
  add("Serial number", port.serialNumber);
  add("Driver", port.driver);
  if (port.latencyTimerMs) {
    add("Low-latency reception",
        *port.latencyTimerMs <= 1 ? "on (latency timer 1 ms)"
                                  : "off (latency timer " + std::to_string(*port.latencyTimerMs) +
                                        " ms; the loader asks for 1 ms when it opens the port)");
  }
  return text;
}

}  // namespace

std::vector<PortChoice> ListPortChoices(const InventoryRoots& roots,
                                        const std::vector<std::string>& extraPorts,
                                        bool virtualIrd) {
  std::vector<PortChoice> choices;
  for (int index = 0; index < kClassicPortCount; ++index) {
    choices.push_back({PortChoice::Kind::kClassicCom, ClassicPortName(index), {}, {}});
  }
  for (const PortInfo& port : ListSerialPorts(roots)) {
    // Linux lists device nodes (/dev/ttyS0 is COM1), Windows the COM names themselves.
    bool classic = false;
    for (int index = 0; index < kClassicPortCount; ++index) {
      const std::string name = ClassicPortName(index);
      if (DevicePathForPortName(name) == port.device || name == port.device) {
        classic = true;
        choices[static_cast<std::size_t>(index)].info = port;
      }
    }
    if (!classic)
      choices.push_back({PortChoice::Kind::kFoundPort, StableName(port), Details(port), port});
  }
  for (const std::string& path : extraPorts) {
    choices.push_back({PortChoice::Kind::kFoundPort, path, path, {}});
  }
  if (virtualIrd) choices.push_back({PortChoice::Kind::kVirtualIrd, kVirtualIrdLabel, {}, {}});
  return choices;
}

}  // namespace irdload
