// One line per port for the operator, the same on every platform.
#include <filesystem>
#include <string_view>

#include "ports/PortInventory.h"

namespace irdload {
namespace {

std::string Join(const std::vector<std::string>& parts, std::string_view separator) {
  std::string joined;
  for (const std::string& part : parts) {
    if (!joined.empty()) joined += separator;
    joined += part;
  }
  return joined;
}

}  // namespace

std::string DescribePort(const PortInfo& port) {
  std::vector<std::string> titleParts;
  if (!port.manufacturer.empty()) titleParts.push_back(port.manufacturer);
  if (!port.product.empty()) titleParts.push_back(port.product);
  std::string title = Join(titleParts, " ");
  if (title.empty()) title = port.kind;

  const bool hasUsbIds = !port.usbVendorId.empty() && !port.usbProductId.empty();
  std::vector<std::string> details;
  if (hasUsbIds) details.push_back(port.usbVendorId + ":" + port.usbProductId);
  if (!port.serialNumber.empty()) details.push_back("serial " + port.serialNumber);
  if (port.latencyTimerMs)
    details.push_back("latency " + std::to_string(*port.latencyTimerMs) + " ms");
  // Without USB ids the driver is the only hint of what a port is.
  if (!hasUsbIds && !port.driver.empty()) details.push_back("driver " + port.driver);

  std::string line = port.device;
  if (!title.empty() || !details.empty()) line += "  ";
  line += title;
  if (!details.empty()) line += (title.empty() ? "(" : " (") + Join(details, ", ") + ")";

  std::vector<std::string> linkNames;
  for (const std::string& link : port.byIdLinks) {
    linkNames.push_back(std::filesystem::path(link).filename().string());
  }
  if (!linkNames.empty()) line += " by-id: " + Join(linkNames, " ");
  return line;
}

}  // namespace irdload
