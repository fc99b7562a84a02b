#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "ports/PortInventory.h"
#include "support/FakeTree.h"

namespace irdload {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

using test::FakeTreeTest;
using test::UsbAttributes;

using PortInventoryTest = FakeTreeTest;

TEST_F(PortInventoryTest, FtdiAdapterIsFullyDescribed) {
  const fs::path usb = AddUsbDevice("1-1", {"0403", "6001", "A1B2C3", "FTDI", "FT232R USB UART"});
  AddFtdiPort(0, usb, "16\n");
  const fs::path link = dev_ / "serial" / "by-id" / "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0";
  fs::create_directories(link.parent_path());
  fs::create_symlink("../../ttyUSB0", link);

  const std::vector<PortInfo> ports = ListSerialPorts(Roots());

  ASSERT_EQ(ports.size(), 1u);
  const PortInfo& port = ports[0];
  EXPECT_EQ(port.device, Dev("ttyUSB0"));
  EXPECT_EQ(port.kind, "usb-serial");
  EXPECT_THAT(port.byIdLinks, ElementsAre(link.string()));
  EXPECT_EQ(port.usbVendorId, "0403");
  EXPECT_EQ(port.usbProductId, "6001");
  EXPECT_EQ(port.serialNumber, "A1B2C3");
  EXPECT_EQ(port.manufacturer, "FTDI");
  EXPECT_EQ(port.product, "FT232R USB UART");
  EXPECT_EQ(port.driver, "ftdi_sio");
  EXPECT_EQ(port.latencyTimerMs, 16);
  // The reported path must be the real file, so a caller can test it for writing.
  EXPECT_TRUE(fs::equivalent(port.latencyTimerPath, usb / "1-1:1.0" / "ttyUSB0" / "latency_timer"));
  EXPECT_EQ(DescribePort(port), Dev("ttyUSB0") +
                                    "  FTDI FT232R USB UART (0403:6001, serial A1B2C3, latency 16 "
                                    "ms) by-id: usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0");
}

TEST_F(PortInventoryTest, AcmDeviceHasNoLatencyTimer) {
  AddAcmPort(0, AddUsbDevice("1-2", {"2341", "0043", "8573531", "Arduino (www.arduino.cc)", ""}));

  const std::vector<PortInfo> ports = ListSerialPorts(Roots());

  ASSERT_EQ(ports.size(), 1u);
  const PortInfo& port = ports[0];
  EXPECT_EQ(port.device, Dev("ttyACM0"));
  EXPECT_EQ(port.kind, "usb-acm");
  EXPECT_EQ(port.usbVendorId, "2341");
  EXPECT_EQ(port.usbProductId, "0043");
  EXPECT_EQ(port.serialNumber, "8573531");
  EXPECT_EQ(port.manufacturer, "Arduino (www.arduino.cc)");
  EXPECT_EQ(port.product, "");
  EXPECT_EQ(port.driver, "cdc_acm");
  EXPECT_EQ(port.latencyTimerMs, std::nullopt);
  EXPECT_EQ(port.latencyTimerPath, "");
  EXPECT_THAT(port.byIdLinks, IsEmpty());
}

struct PcPortCase {
  const char* label;
  const char* bus;  // "" for a tty with no device
  const char* driver;
  std::optional<std::string> type;
  bool listed;
};

// Names the case in failure messages instead of dumping its bytes.
void PrintTo(const PcPortCase& c, std::ostream* os) {
  *os << c.label;
}

class PcPortFilterTest : public FakeTreeTest, public ::testing::WithParamInterface<PcPortCase> {};

TEST_P(PcPortFilterTest, ListsOnlyPortsWithARealUart) {
  const PcPortCase& c = GetParam();
  AddPcPort(0, c.bus, c.driver, c.type);

  const std::vector<PortInfo> ports = ListSerialPorts(Roots());

  if (!c.listed) {
    EXPECT_THAT(Devices(ports), IsEmpty());
    return;
  }
  ASSERT_EQ(ports.size(), 1u);
  EXPECT_EQ(ports[0].device, Dev("ttyS0"));
  EXPECT_EQ(ports[0].kind, "pc");
  EXPECT_EQ(ports[0].driver, c.driver);
  EXPECT_EQ(ports[0].usbVendorId, "");
  EXPECT_EQ(ports[0].latencyTimerMs, std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    PortInventory, PcPortFilterTest,
    ::testing::Values(PcPortCase{"serial8250_16550A", "platform", "serial8250", "4", true},
                      PcPortCase{"serial8250_unknown", "platform", "serial8250", "0", false},
                      PcPortCase{"serial8250_without_type", "platform", "serial8250", {}, true},
                      PcPortCase{"no_device", "", "", "4", false},
                      PcPortCase{"device_without_driver", "platform", "", "4", false},
                      PcPortCase{"serial_base_unknown", "serial-base", "port", "0", false},
                      PcPortCase{"serial_base_16550A", "serial-base", "port", "4", true},
                      PcPortCase{"pnp_without_type", "pnp", "serial", {}, true}),
    [](const ::testing::TestParamInfo<PcPortCase>& info) { return std::string(info.param.label); });

TEST_F(PortInventoryTest, OrdersByFamilyThenNumberAndSkipsOtherTtys) {
  AddPcPort(0, "platform", "serial8250", "4");
  AddPcPort(1, "platform", "serial8250", "0");
  AddPcPort(2, "", "", {});
  AddPcPort(3, "pnp", "serial", "4");
  AddPcPort(10, "serial-base", "port", "4");
  AddFtdiAdapter("1-1", 10);
  AddFtdiAdapter("1-2", 2);
  AddFtdiAdapter("1-3", 0);
  AddAcmPort(1, AddUsbDevice("1-4", {"2341", "0043", "", "", ""}));
  AddAcmPort(0, AddUsbDevice("1-5", {"2341", "0043", "", "", ""}));
  // Names that only look like ours, and ports of other families.
  for (const char* name : {"tty0", "console", "ptmx", "ttyUSB", "ttyUSBx", "ttySAC0", "ttyAMA0"}) {
    AddVirtualTty(name);
  }

  const std::vector<PortInfo> ports = ListSerialPorts(Roots());

  EXPECT_THAT(Devices(ports),
              ElementsAre(Dev("ttyS0"), Dev("ttyS3"), Dev("ttyS10"), Dev("ttyUSB0"), Dev("ttyUSB2"),
                          Dev("ttyUSB10"), Dev("ttyACM0"), Dev("ttyACM1")));
  // Each port must carry its own USB device's data, not a neighbour's.
  EXPECT_EQ(ports[5].serialNumber, "S1-1");
  EXPECT_EQ(ports[4].serialNumber, "S1-2");
  EXPECT_EQ(ports[3].serialNumber, "S1-3");
}

TEST_F(PortInventoryTest, ByIdLinksAreMatchedByResolvedTarget) {
  AddFtdiAdapter("1-1", 0);
  AddFtdiAdapter("1-2", 1);
  AddFtdiAdapter("1-3", 10);
  // Device nodes exist for some ports only; matching must not depend on them.
  WriteFile(dev_ / "ttyUSB0", "");
  WriteFile(dev_ / "ttyUSB1", "");
  const fs::path byId = dev_ / "serial" / "by-id";
  fs::create_directories(byId);
  fs::create_symlink("../../ttyUSB0", byId / "usb-FTDI_A-if00-port0");
  fs::create_symlink("../../ttyUSB0", byId / "usb-FTDI_A-alias");
  fs::create_symlink(dev_ / "ttyUSB1", byId / "usb-Prolific_B");            // absolute
  fs::create_symlink("../by-id/../../ttyUSB1", byId / "usb-Roundabout_B");  // not normalised
  fs::create_symlink("../../ttyUSB10", byId / "usb-FTDI_C");
  fs::create_symlink("../../ttyUSB9", byId / "usb-Gone");     // no such port
  fs::create_symlink("../ttyUSB0", byId / "usb-WrongLevel");  // dev/serial/ttyUSB0
  WriteFile(byId / "not-a-link", "");
  const fs::path byPath = dev_ / "serial" / "by-path";
  fs::create_directories(byPath);
  fs::create_symlink("../../ttyUSB0", byPath / "pci-0000:00:14.0-usb-0:1:1.0-port0");

  const std::vector<PortInfo> ports = ListSerialPorts(Roots());

  ASSERT_EQ(ports.size(), 3u);
  EXPECT_THAT(ports[0].byIdLinks, ElementsAre((byId / "usb-FTDI_A-alias").string(),
                                              (byId / "usb-FTDI_A-if00-port0").string()));
  EXPECT_THAT(ports[1].byIdLinks, ElementsAre((byId / "usb-Prolific_B").string(),
                                              (byId / "usb-Roundabout_B").string()));
  EXPECT_THAT(ports[2].byIdLinks, ElementsAre((byId / "usb-FTDI_C").string()));
  EXPECT_THAT(ports[0].byPathLinks,
              ElementsAre((byPath / "pci-0000:00:14.0-usb-0:1:1.0-port0").string()));
  EXPECT_THAT(ports[1].byPathLinks, IsEmpty());
}

TEST_F(PortInventoryTest, MissingClassTtyGivesNoPorts) {
  AddFtdiAdapter("1-1", 0);  // a valid tree elsewhere, so an empty result is not trivially right
  WriteFile(root_ / "class-tty-is-a-file" / "class" / "tty", "");
  fs::create_directories(root_ / "no-class-tty" / "class");
  const fs::path sysRoots[] = {root_ / "no-such-sys", root_ / "no-class-tty",
                               root_ / "class-tty-is-a-file"};

  for (const fs::path& sys : sysRoots) {
    SCOPED_TRACE(sys.filename().string());
    std::vector<PortInfo> ports;
    EXPECT_NO_THROW(ports = ListSerialPorts({sys, dev_}));
    EXPECT_THAT(ports, IsEmpty());
  }
  EXPECT_EQ(ListSerialPorts(Roots()).size(), 1u);
}

TEST_F(PortInventoryTest, MissingByIdFolderStillListsPorts) {
  AddFtdiAdapter("1-1", 0);

  for (const fs::path& dev : {dev_, root_ / "no-such-dev"}) {
    SCOPED_TRACE(dev.string());
    const std::vector<PortInfo> ports = ListSerialPorts({sys_, dev});
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].device, (dev / "ttyUSB0").string());
    EXPECT_THAT(ports[0].byIdLinks, IsEmpty());
  }
}

TEST_F(PortInventoryTest, UnreadableUsbAttributesLeaveFieldsEmpty) {
  const fs::path usb = AddUsbDevice("1-1", {"0403", "6001", "", "", "FT232R USB UART"});
  AddFtdiPort(0, usb);
  fs::create_directories(usb / "serial");                      // read fails with EISDIR
  fs::create_symlink("no-such-string", usb / "manufacturer");  // dangling

  std::vector<PortInfo> ports;
  ASSERT_NO_THROW(ports = ListSerialPorts(Roots()));

  ASSERT_EQ(ports.size(), 1u);
  EXPECT_EQ(ports[0].serialNumber, "");
  EXPECT_EQ(ports[0].manufacturer, "");
  EXPECT_EQ(ports[0].product, "FT232R USB UART");
  EXPECT_EQ(ports[0].usbVendorId, "0403");
}

TEST_F(PortInventoryTest, AttributeWithoutReadPermissionIsEmpty) {
  const fs::path usb = AddUsbDevice("1-1", {"0403", "6001", "A1B2C3", "FTDI", "FT232R"});
  AddFtdiPort(0, usb);
  fs::permissions(usb / "serial", fs::perms::none);
  if (::access((usb / "serial").c_str(), R_OK) == 0) {
    GTEST_SKIP() << "this user reads files regardless of their mode (root or CAP_DAC_OVERRIDE)";
  }

  std::vector<PortInfo> ports;
  ASSERT_NO_THROW(ports = ListSerialPorts(Roots()));

  ASSERT_EQ(ports.size(), 1u);
  EXPECT_EQ(ports[0].serialNumber, "");
  EXPECT_EQ(ports[0].manufacturer, "FTDI");
}

TEST_F(PortInventoryTest, LatencyTimerIsParsedOnlyWhenItIsANumber) {
  struct Case {
    const char* label;
    std::optional<std::string> content;  // nullopt: latency_timer is a directory
    std::optional<int> expected;
  };
  const Case cases[] = {
      {"sixteen", "16\n", 16},     {"one", "1\n", 1},     {"no_newline", "2", 2},
      {"text", "fast\n", {}},      {"empty", "", {}},     {"negative", "-3\n", {}},
      {"trailing", "16 ms\n", {}}, {"directory", {}, {}},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const fs::path usb = AddUsbDevice("1-" + std::to_string(i + 1), {"0403", "6001", "", "", ""});
    const fs::path serialDir = AddFtdiPort(static_cast<int>(i), usb, cases[i].content);
    if (!cases[i].content) fs::create_directories(serialDir / "latency_timer");
  }

  std::vector<PortInfo> ports;
  ASSERT_NO_THROW(ports = ListSerialPorts(Roots()));

  ASSERT_EQ(ports.size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].label);
    EXPECT_EQ(ports[i].latencyTimerMs, cases[i].expected);
    // The file exists in every case, so a caller can still report on it.
    EXPECT_EQ(ports[i].latencyTimerPath,
              (sys_ / "class" / "tty" / ("ttyUSB" + std::to_string(i)) / "device" / "latency_timer")
                  .string());
  }
}

TEST_F(PortInventoryTest, UsbPortWithoutUsbAncestorKeepsUsbFieldsEmpty) {
  // Ids above the sysfs root must never be picked up by the walk upwards.
  WriteFile(root_ / "idVendor", "dead\n");
  WriteFile(root_ / "idProduct", "beef\n");
  WriteFile(sys_ / "idVendor", "dead\n");
  WriteFile(sys_ / "idProduct", "beef\n");
  const fs::path platformDir = sys_ / "devices" / "platform" / "soc-uart";
  fs::create_directories(platformDir);
  BindDriver(platformDir, "platform", "soc-uart");
  AddTty("ttyUSB0", platformDir);
  AddVirtualTty("ttyUSB1");  // no device link at all

  std::vector<PortInfo> ports;
  ASSERT_NO_THROW(ports = ListSerialPorts(Roots()));

  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0].driver, "soc-uart");
  EXPECT_EQ(ports[1].driver, "");
  for (const PortInfo& port : ports) {
    SCOPED_TRACE(port.device);
    EXPECT_EQ(port.kind, "usb-serial");
    EXPECT_EQ(port.usbVendorId, "");
    EXPECT_EQ(port.usbProductId, "");
    EXPECT_EQ(port.latencyTimerMs, std::nullopt);
  }
}

TEST(DescribePortTest, FormatsWhatThePortHas) {
  PortInfo full;
  full.device = "/dev/ttyUSB0";
  full.kind = "usb-serial";
  full.byIdLinks = {"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0"};
  full.usbVendorId = "0403";
  full.usbProductId = "6001";
  full.serialNumber = "A1B2C3";
  full.manufacturer = "FTDI";
  full.product = "FT232R USB UART";
  full.driver = "ftdi_sio";
  full.latencyTimerMs = 16;
  full.latencyTimerPath = "/sys/class/tty/ttyUSB0/device/latency_timer";

  PortInfo acm;
  acm.device = "/dev/ttyACM0";
  acm.kind = "usb-acm";
  acm.byIdLinks = {"/dev/serial/by-id/usb-Arduino_a", "/dev/serial/by-id/usb-Arduino_b"};
  acm.usbVendorId = "2341";
  acm.usbProductId = "0043";
  acm.product = "Uno";
  acm.driver = "cdc_acm";

  PortInfo pc;
  pc.device = "/dev/ttyS0";
  pc.kind = "pc";
  pc.driver = "serial8250";

  PortInfo bare;
  bare.device = "/dev/ttyS7";

  const struct {
    const char* label;
    const PortInfo* port;
    std::string expected;
  } cases[] = {
      {"full", &full,
       "/dev/ttyUSB0  FTDI FT232R USB UART (0403:6001, serial A1B2C3, latency 16 ms) by-id: "
       "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0"},
      {"acm", &acm, "/dev/ttyACM0  Uno (2341:0043) by-id: usb-Arduino_a usb-Arduino_b"},
      {"pc", &pc, "/dev/ttyS0  pc (driver serial8250)"},
      {"bare", &bare, "/dev/ttyS7"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(DescribePort(*c.port), c.expected);
  }
}

TEST(PortInventoryOnThisMachine, ListsWithoutThrowingAndOnlyDevicePaths) {
  std::vector<PortInfo> ports;
  ASSERT_NO_THROW(ports = ListSerialPorts());
  for (const PortInfo& port : ports) {
    EXPECT_EQ(port.device.rfind("/dev/", 0), 0u) << port.device;
  }
}

}  // namespace
}  // namespace irdload
