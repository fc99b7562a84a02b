#include <gtest/gtest.h>

#include "ports/DeviceIds.h"

namespace irdload {
namespace {

TEST(DeviceIdsTest, UsbIdsAndSerialFromWindowsDeviceIds) {
  struct Case {
    const char* hardwareId;
    const char* instanceId;
    const char* vendor;
    const char* product;
    const char* serial;
  };
  const Case cases[] = {
      // FTDI under its own bus driver: the serial is the third field, port letter included.
      {"FTDIBUS\\COMPORT&VID_0403&PID_6001", "FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", "0403",
       "6001", "A50285BIA"},
      // usbser: the serial number is the instance id's last part.
      {"USB\\VID_2341&PID_0043&REV_0001", "USB\\VID_2341&PID_0043\\75439313737351E0A1B1", "2341",
       "0043", "75439313737351E0A1B1"},
      // An adapter without a serial number: Windows makes the last part up, with '&'.
      {"USB\\VID_1A86&PID_7523&REV_0264", "USB\\VID_1A86&PID_7523\\5&2C8E3B5F&0&1", "1a86", "7523",
       ""},
      // Ids in the instance id only; lower-case hex as written.
      {"", "usb\\vid_10c4&pid_ea60\\0001", "10c4", "ea60", "0001"},
      // A PC's own port, and ids that are cut short.
      {"ACPI\\PNP0501", "ACPI\\PNP0501\\1", "", "", ""},
      {"USB\\VID_04", "USB\\VID_04&PID_60", "", "", ""},
      {"", "", "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.instanceId);
    const UsbIdentity usb = UsbIdentityFromIds(c.hardwareId, c.instanceId);
    EXPECT_EQ(usb.vendorId, c.vendor);
    EXPECT_EQ(usb.productId, c.product);
    EXPECT_EQ(usb.serialNumber, c.serial);
  }
}

}  // namespace
}  // namespace irdload
