// What Windows' device ids tell of a USB serial adapter. A hardware id reads
// "USB\VID_0403&PID_6001&REV_0600"; an instance id "USB\VID_2341&PID_0043\75439313737351E0A1B1"
// (the last part is the adapter's serial number) or, under FTDI's own bus driver,
// "FTDIBUS\VID_0403+PID_6001+A50285BIA\0000". Plain text work, so it builds and is tested on
// every platform.
#pragma once

#include <string>

namespace irdload {

struct UsbIdentity {
  std::string vendorId, productId;  // four hex digits, lower case as sysfs writes them
  std::string serialNumber;         // empty when Windows made the id up (it then holds '&')
};

/// The ids from `hardwareId` (or else from `instanceId`) and the serial number from
/// `instanceId`; empty fields for what they do not hold.
UsbIdentity UsbIdentityFromIds(const std::string& hardwareId, const std::string& instanceId);

}  // namespace irdload
