#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include "ports/PortDiagnostics.h"
#include "ports/SysFiles.h"
#include "support/FakeTree.h"

namespace irdload {
namespace {

namespace fs = std::filesystem;
using test::FakeTreeTest;
using test::UsbAttributes;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

class PortDiagnosticsTest : public FakeTreeTest {
 protected:
  // A CH340 whose interface brltty took through usbfs: no ttyUSB below it.
  void AddClaimedCh340(const std::string& busPort) {
    AddUsbInterface(AddUsbDevice(busPort, {"1a86", "7523", "", "", "USB Serial"}), "ff", "01",
                    "usbfs");
  }
};

TEST_F(PortDiagnosticsTest, HoldersAreTheProcessesWithTheNodeOpen) {
  AddFtdiAdapter("1-1", 0);
  const fs::path node = AddNode("ttyUSB0", fs::perms(0660));
  const fs::path other = AddNode("ttyUSB1", fs::perms(0660));
  fs::create_directories(dev_ / "serial" / "by-id");
  fs::create_symlink("../../ttyUSB0", dev_ / "serial" / "by-id" / "usb-FTDI");
  AddProcess("4100", "minicom", 1000, {"/dev/null", node});
  AddProcess("880", "ModemManager", 0, {node});
  AddProcess("77", "screen", 1000, {other});
  AddProcess("12", "", 0, {});
  fs::create_directories(proc_ / "13");  // a process that went away: no fd folder

  // Asked by its by-id name, the node is still found; numeric order.
  const auto holders = HoldersOf((dev_ / "serial" / "by-id" / "usb-FTDI").string(), Roots());
  ASSERT_EQ(holders.size(), 2u);
  EXPECT_EQ(holders[0].pid, "880");
  EXPECT_EQ(holders[0].command, "ModemManager");
  EXPECT_EQ(holders[0].uid, 0u);
  EXPECT_EQ(holders[1].pid, "4100");
  EXPECT_EQ(holders[1].uid, 1000u);
  EXPECT_FALSE(holders[1].self);
  EXPECT_THAT(HoldersOf(Dev("ttyUSB7"), Roots()), IsEmpty());

  EXPECT_TRUE(ProcessRunning("ModemManager", Roots()));
  EXPECT_FALSE(ProcessRunning("brltty", Roots()));
}

TEST_F(PortDiagnosticsTest, UsbSerialInterfacesWithoutATtyAreFound) {
  AddFtdiAdapter("1-1", 0);                                          // has its ttyUSB0
  AddAcmPort(0, AddUsbDevice("1-2", {"2341", "0043", "", "", ""}));  // has its ttyACM0
  AddClaimedCh340("1-3");
  AddUsbInterface(AddUsbDevice("1-4", {"10c4", "ea60", "", "", "CP2102"}), "ff", "00", "");
  AddUsbInterface(AddUsbDevice("1-5", {"2341", "8036", "", "", "Leonardo"}), "02", "02", "");
  AddUsbInterface(AddUsbDevice("1-6", {"046d", "c52b", "", "", "Receiver"}), "03", "01", "usbhid");
  // An FTDI part bound to its driver that has not made its tty (yet).
  AddUsbInterface(AddUsbDevice("1-7", {"0403", "6015", "", "", "FT231X"}), "ff", "ff", "ftdi_sio");

  const auto found = FindUsbSerialWithoutTty(Roots());

  ASSERT_EQ(found.size(), 4u);
  const struct {
    const char* interface;
    const char* module;
    const char* described;
  } expected[] = {
      {"1-3:1.0", "ch341", "1a86:7523 USB Serial"},
      {"1-4:1.0", "cp210x", "10c4:ea60 CP2102"},
      {"1-5:1.0", "cdc_acm", "2341:8036 Leonardo"},
      {"1-7:1.0", "ftdi_sio", "0403:6015 FT231X"},
  };
  for (std::size_t i = 0; i < found.size(); ++i) {
    SCOPED_TRACE(expected[i].interface);
    EXPECT_EQ(found[i].interface, expected[i].interface);
    EXPECT_EQ(found[i].driverModule, expected[i].module);
    EXPECT_EQ(DescribeAdapter(found[i]), expected[i].described);
  }
}

TEST_F(PortDiagnosticsTest, OpenFailuresAreExplainedForTheOperator) {
  AddFtdiAdapter("1-1", 0);
  const fs::path node = AddNode("ttyUSB0", fs::perms(0660));
  const auto owner = ::getegid();
  WriteAccounts("", "uucp:x:" + std::to_string(owner) + ":\n");
  AddProcess("4100", "minicom", 1000, {node});

  const struct {
    const char* label;
    int code;
    bool claimedAdapter;
    std::vector<std::string> fragments;  // all must appear; none at all for ""
  } cases[] = {
      {"absent",
       ENOENT,
       false,
       {"no such device: " + Dev("ttyUSB5") + " does not exist (is the adapter plugged in?)"}},
      {"no device behind the node", ENXIO, false, {"is the adapter plugged in?"}},
      {"busy",
       EBUSY,
       false,
       {"the port " + Dev("ttyUSB0") + " is busy: another program holds it (minicom (pid 4100))",
        "Close that program and try again."}},
      {"permission",
       EACCES,
       false,
       {"permission denied: this user may not open " + Dev("ttyUSB0"),
        "Add the user to the 'uucp' group (sudo usermod -aG uucp $USER), then log out and in "
        "again."}},
      {"other", EIO, false, {}},
      // Last: the claimed adapter stays in the tree.
      {"absent, adapter claimed",
       ENOENT,
       true,
       {"no such device: " + Dev("ttyUSB5") + " does not exist. ", "1a86:7523 USB Serial", "brltty",
        "irdload-cli doctor"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    if (c.claimedAdapter) AddClaimedCh340("1-3");
    const std::string path = c.code == ENOENT || c.code == ENXIO ? Dev("ttyUSB5") : Dev("ttyUSB0");
    const std::string text = ExplainOpenFailure(path, c.code, Roots());
    if (c.fragments.empty()) {
      EXPECT_EQ(text, "");
    }
    for (const std::string& fragment : c.fragments) EXPECT_THAT(text, HasSubstr(fragment));
    if (!c.claimedAdapter) {
      EXPECT_THAT(text, Not(HasSubstr("brltty")));
    }
  }
}

// A front end in another language words its sentence from the reason alone: the reason must carry
// every value the English sentence names.
TEST_F(PortDiagnosticsTest, EachReasonCarriesWhatItsEnglishTextNames) {
  AddFtdiAdapter("1-1", 0);
  const fs::path node = AddNode("ttyUSB0", fs::perms(0660));
  WriteAccounts("", "uucp:x:" + std::to_string(::getegid()) + ":\n");
  AddProcess("4100", "minicom", 1000, {node});
  AddProcess("880", "ModemManager", 0, {node});
  const std::string absent = Dev("ttyUSB5");
  const std::string present = Dev("ttyUSB0");

  const struct {
    const char* label;
    int code;
    bool claimedAdapter;
    std::string path;
    OpenFailureKind kind;
    std::vector<std::string> adapters;
    std::vector<std::string> holders;  // "command pid"
    std::string group;
    std::string text;
  } cases[] = {
      {"absent",
       ENOENT,
       false,
       absent,
       OpenFailureKind::NoSuchDevice,
       {},
       {},
       "",
       "no such device: " + absent + " does not exist (is the adapter plugged in?)"},
      {"no device behind the node",
       ENODEV,
       false,
       absent,
       OpenFailureKind::NoSuchDevice,
       {},
       {},
       "",
       "no such device: " + absent + " does not exist (is the adapter plugged in?)"},
      {"busy",
       EBUSY,
       false,
       present,
       OpenFailureKind::Busy,
       {},
       {"ModemManager 880", "minicom 4100"},
       "",
       "the port " + present +
           " is busy: another program holds it (ModemManager (pid 880), minicom (pid 4100)). "
           "Close that program and try again."},
      {"busy, nobody visible",
       EBUSY,
       false,
       absent,
       OpenFailureKind::Busy,
       {},
       {},
       "",
       "the port " + absent +
           " is busy: another program holds it. Close that program and try "
           "again."},
      {"permission",
       EACCES,
       false,
       present,
       OpenFailureKind::PermissionDenied,
       {},
       {},
       "uucp",
       "permission denied: this user may not open " + present +
           ". Add the user to the 'uucp' group (sudo usermod -aG uucp $USER), then log out and "
           "in again."},
      {"not permitted, no node",
       EPERM,
       false,
       absent,
       OpenFailureKind::PermissionDenied,
       {},
       {},
       "dialout",
       "permission denied: this user may not open " + absent +
           ". Add the user to the 'dialout' group (sudo usermod -aG dialout $USER), then log out "
           "and in again."},
      {"other", EIO, false, present, OpenFailureKind::Unexplained, {}, {}, "", ""},
      // Last: the claimed adapters stay in the tree.
      {"absent, adapters claimed",
       ENOENT,
       true,
       absent,
       OpenFailureKind::AdapterWithoutTty,
       {"1a86:7523 USB Serial", "1a86:7523 USB Serial"},
       {},
       "",
       "no such device: " + absent +
           " does not exist. The USB serial adapter 1a86:7523 USB Serial, 1a86:7523 USB Serial is "
           "plugged in but has no serial port: another program (brltty) may have claimed it. Run "
           "'irdload-cli doctor' for the command that frees it."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    if (c.claimedAdapter) {
      AddClaimedCh340("1-3");
      AddClaimedCh340("1-4");
    }
    const OpenFailureReason reason = DiagnoseOpenFailure(c.path, c.code, Roots());
    EXPECT_EQ(reason.kind, c.kind);
    EXPECT_EQ(reason.devicePath, c.path);
    EXPECT_EQ(reason.code, c.code);
    EXPECT_EQ(reason.adapters, c.adapters);
    std::vector<std::string> holders;
    for (const auto& h : reason.holders) {
      EXPECT_FALSE(h.self);
      holders.push_back(h.command + " " + h.pid);
    }
    EXPECT_EQ(holders, c.holders);
    EXPECT_EQ(reason.group, c.group);
    EXPECT_EQ(DescribeOpenFailure(reason), c.text);
    EXPECT_EQ(ExplainOpenFailure(c.path, c.code, Roots()), c.text);
  }
}

TEST_F(PortDiagnosticsTest, PermissionAdviceFallsBackToDialoutWithoutANode) {
  EXPECT_THAT(ExplainOpenFailure(Dev("ttyUSB9"), EACCES, Roots()),
              HasSubstr("sudo usermod -aG dialout $USER"));
}

TEST_F(PortDiagnosticsTest, FtdiLatencyTimerIsLoweredWhereSysfsHasOne) {
  const fs::path serialDir = AddFtdiPort(0, AddUsbDevice("1-1", {"0403", "6001", "", "", ""}));
  AddAcmPort(0, AddUsbDevice("1-2", {"2341", "0043", "", "", ""}));
  AddNode("ttyUSB0", fs::perms(0660));
  AddNode("ttyACM0", fs::perms(0660));
  fs::create_directories(dev_ / "serial" / "by-id");
  fs::create_symlink("../../ttyUSB0", dev_ / "serial" / "by-id" / "usb-FTDI");

  EXPECT_TRUE(LowerFtdiLatencyTimer((dev_ / "serial" / "by-id" / "usb-FTDI").string(), Roots()));
  EXPECT_EQ(sysfiles::ReadSmallFile(serialDir / "latency_timer"), "1");
  EXPECT_FALSE(LowerFtdiLatencyTimer(Dev("ttyACM0"), Roots()));
  EXPECT_FALSE(LowerFtdiLatencyTimer(Dev("ttyUSB3"), Roots()));
}

}  // namespace
}  // namespace irdload
