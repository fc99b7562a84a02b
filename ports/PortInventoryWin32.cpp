// The COM ports Windows has, from the registry's SERIALCOMM map (every port a driver registered,
// whatever its bus), with what SetupAPI knows of each: the maker, the description, USB ids and
// serial number, the driver service.
#include <windows.h>
// After windows.h, which it needs.
#include <setupapi.h>

#include <algorithm>
#include <map>
#include <optional>
#include <tuple>

#include "ports/DeviceIds.h"
#include "ports/PortInventory.h"
#include "serial/PortName.h"

namespace irdload {
namespace {

// The "Ports (COM & LPT)" device class.
constexpr GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

struct DeviceDetails {
  std::string manufacturer, description, hardwareId, instanceId, service;
};

std::string Property(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
  char buffer[1024] = {};
  DWORD type = 0;
  if (!::SetupDiGetDeviceRegistryPropertyA(set, &device, property, &type,
                                           reinterpret_cast<BYTE*>(buffer), sizeof buffer - 2,
                                           nullptr)) {
    return {};
  }
  // A multi-string (the hardware ids) yields its first, most specific entry.
  return std::string(buffer);
}

std::string PortNameOf(HDEVINFO set, SP_DEVINFO_DATA& device) {
  const HKEY key = ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
  if (key == INVALID_HANDLE_VALUE) return {};
  char name[256] = {};
  DWORD size = sizeof name - 1;
  DWORD type = 0;
  const LONG rc =
      ::RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
  ::RegCloseKey(key);
  return rc == ERROR_SUCCESS && type == REG_SZ ? std::string(name) : std::string();
}

// What SetupAPI knows of the present ports, by COM name.
std::map<std::string, DeviceDetails> PresentPortDevices() {
  std::map<std::string, DeviceDetails> found;
  const HDEVINFO set = ::SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return found;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &device); ++i) {
    const std::string name = PortNameOf(set, device);
    if (name.empty()) continue;
    DeviceDetails d;
    d.manufacturer = Property(set, device, SPDRP_MFG);
    d.description = Property(set, device, SPDRP_DEVICEDESC);
    d.hardwareId = Property(set, device, SPDRP_HARDWAREID);
    d.service = Property(set, device, SPDRP_SERVICE);
    char instance[512] = {};
    if (::SetupDiGetDeviceInstanceIdA(set, &device, instance, sizeof instance, nullptr)) {
      d.instanceId = instance;
    }
    found[name] = d;
  }
  ::SetupDiDestroyDeviceInfoList(set);
  return found;
}

// SERIALCOMM: one value per port, named by the driver's device object ("\Device\Serial0",
// "\Device\VCP0"), holding the COM name.
std::map<std::string, std::string> SerialCommMap() {
  std::map<std::string, std::string> ports;
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return ports;
  }
  for (DWORD i = 0;; ++i) {
    char object[512] = {};
    char name[256] = {};
    DWORD objectSize = sizeof object - 1;
    DWORD nameSize = sizeof name - 1;
    DWORD type = 0;
    const LONG rc = ::RegEnumValueA(key, i, object, &objectSize, nullptr, &type,
                                    reinterpret_cast<BYTE*>(name), &nameSize);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS || type != REG_SZ || name[0] == '\0') continue;
    ports[name] = object;
  }
  ::RegCloseKey(key);
  return ports;
}

}  // namespace

std::vector<PortInfo> ListSerialPorts(const InventoryRoots&) {
  const std::map<std::string, DeviceDetails> devices = PresentPortDevices();
  std::vector<PortInfo> ports;
  for (const auto& [name, object] : SerialCommMap()) {
    PortInfo port;
    port.device = name;
    port.kind = object.rfind("\\Device\\Serial", 0) == 0 ? "pc" : "serial";
    const auto it = devices.find(name);
    if (it != devices.end()) {
      const DeviceDetails& d = it->second;
      port.manufacturer = d.manufacturer;
      port.product = d.description;
      port.driver = d.service;
      const UsbIdentity usb = UsbIdentityFromIds(d.hardwareId, d.instanceId);
      port.usbVendorId = usb.vendorId;
      port.usbProductId = usb.productId;
      port.serialNumber = usb.serialNumber;
      if (!usb.vendorId.empty()) port.kind = d.service == "usbser" ? "usb-acm" : "usb-serial";
    }
    ports.push_back(std::move(port));
  }
  // COM2 before COM10; names that are not COMn after them, by name.
  const auto order = [](const PortInfo& p) {
    return std::make_tuple(ClassicPortNumber(p.device).value_or(1 << 30), p.device);
  };
  std::sort(ports.begin(), ports.end(),
            [&](const PortInfo& a, const PortInfo& b) { return order(a) < order(b); });
  return ports;
}

}  // namespace irdload
