// Ports as the operator writes them.
#include <gtest/gtest.h>

#include "station/PortSpec.h"

namespace irdload::station {
namespace {

TEST(PortSpecTest, LabelsPathsAndRefusals) {
  struct Case {
    const char* text;
    const char* label;  // nullptr: refused
    const char* path;
  };
  const Case cases[] = {
      {"/dev/ttyUSB0", "ttyUSB0", "/dev/ttyUSB0"},
      {"A=/dev/ttyUSB0", "A", "/dev/ttyUSB0"},
      {"bench-3=/dev/serial/by-path/pci-0000:00:14.0-usb-0:3:1.0-port0", "bench-3",
       "/dev/serial/by-path/pci-0000:00:14.0-usb-0:3:1.0-port0"},
      {"/dev/odd=name", "odd=name", "/dev/odd=name"},
      {"COM2", "ttyS1", "/dev/ttyS1"},
      {"X=COM1", "X", "/dev/ttyS0"},
      {"=/dev/ttyUSB0", nullptr, ""},
      {"two words=/dev/ttyUSB0", nullptr, ""},
      {"ttyUSB0", nullptr, ""},
      {"A=", nullptr, ""},
      {"/dev/", nullptr, ""},
      {"A=/dev/tty\x1b[2J", nullptr, ""},
      // A label is letters, digits, '-', '_' and '.'; anything else is refused, never taken
      // as part of a path that then never appears.
      {"a/b=/dev/ttyUSB0", nullptr, ""},
      {"bench:3=/dev/ttyUSB0", nullptr, ""},
      {"caf\xC3\xA9=/dev/ttyUSB0", nullptr, ""},
      {"rack-2_b.7=/dev/ttyUSB0", "rack-2_b.7", "/dev/ttyUSB0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string error;
    const auto spec = ParsePortSpec(c.text, &error);
    if (c.label == nullptr) {
      EXPECT_FALSE(spec);
      EXPECT_FALSE(error.empty());
      continue;
    }
    ASSERT_TRUE(spec) << error;
    EXPECT_EQ(spec->label, c.label);
    EXPECT_EQ(spec->path, c.path);
  }
  std::string error;
  EXPECT_FALSE(CheckDistinct({{"A", "/dev/ttyUSB0"}, {"A", "/dev/ttyUSB1"}}, &error));
  EXPECT_FALSE(CheckDistinct({{"A", "/dev/ttyUSB0"}, {"B", "/dev/ttyUSB0"}}, &error));
  EXPECT_TRUE(CheckDistinct({{"A", "/dev/ttyUSB0"}, {"B", "/dev/ttyUSB1"}}, &error));
}

}  // namespace
}  // namespace irdload::station
