#include "ports/DeviceIds.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace irdload {
namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The four hex digits after `key` ("VID_"), lower case; "" when they are not there.
std::string HexAfter(const std::string& id, const std::string& key) {
  const std::size_t at = Upper(id).find(key);
  if (at == std::string::npos || at + key.size() + 4 > id.size()) return {};
  std::string digits = id.substr(at + key.size(), 4);
  if (!std::all_of(digits.begin(), digits.end(),
                   [](unsigned char c) { return std::isxdigit(c) != 0; })) {
    return {};
  }
  for (char& c : digits) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return digits;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts(1);
  for (const char c : text) {
    if (c == separator) {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

std::string SerialFromInstanceId(const std::string& instanceId) {
  const std::vector<std::string> parts = Split(instanceId, '\\');
  if (parts.size() != 3) return {};
  const std::string bus = Upper(parts[0]);
  if (bus == "FTDIBUS") {
    const std::vector<std::string> fields = Split(parts[1], '+');
    return fields.size() == 3 ? fields[2] : std::string();
  }
  if (bus != "USB" || parts[2].empty() || parts[2].find('&') != std::string::npos) return {};
  return parts[2];
}

}  // namespace

UsbIdentity UsbIdentityFromIds(const std::string& hardwareId, const std::string& instanceId) {
  UsbIdentity usb;
  for (const std::string* id : {&hardwareId, &instanceId}) {
    usb.vendorId = HexAfter(*id, "VID_");
    usb.productId = HexAfter(*id, "PID_");
    if (!usb.vendorId.empty() && !usb.productId.empty()) break;
    usb.vendorId.clear();
    usb.productId.clear();
  }
  usb.serialNumber = SerialFromInstanceId(instanceId);
  return usb;
}

}  // namespace irdload
