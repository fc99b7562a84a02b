#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <functional>
#include <map>

#include "ports/PortChecks.h"
#include "support/FakeTree.h"

namespace irdload {
namespace {

namespace fs = std::filesystem;
using test::FakeTreeTest;
using ::testing::HasSubstr;
using ::testing::Not;

const std::string kTemplate = std::string(IRDLOAD_SOURCE_DIR) + "/packaging/60-irdload.rules";

// Never the real owner of the fake nodes, never root.
const unsigned kUid = ::geteuid() + 1000;
const unsigned kOwnGroup = 50000;

// A machine where everything is right: an FTDI adapter with its node, by-id name and a 1 ms
// timer, and a user whose login has the node's group. Each case spoils one thing.
class PortChecksTest : public FakeTreeTest {
 public:
  void SetUp() override {
    FakeTreeTest::SetUp();
    const fs::path usb = AddUsbDevice("1-1", {"0403", "6001", "A1B2C3", "FTDI", "FT232R"});
    serialDir_ = AddFtdiPort(0, usb, "1\n");
    node_ = AddNode("ttyUSB0", fs::perms(0660));
    byId_ = dev_ / "serial" / "by-id" / "usb-FTDI_FT232R_A1B2C3-if00-port0";
    fs::create_directories(byId_.parent_path());
    fs::create_symlink("../../ttyUSB0", byId_);
    nodeGroup_ = ::getegid();
    WriteAccounts("alice:x:" + std::to_string(kUid) + ":" + std::to_string(kOwnGroup) + "::/:\n",
                  "dialout:x:" + std::to_string(nodeGroup_) + ":alice\n");
    SetSelf(kUid, kOwnGroup, {nodeGroup_});
  }

  CheckSetup Setup() const { return {Roots(), kTemplate}; }

  fs::path serialDir_, node_, byId_;
  unsigned nodeGroup_ = 0;
};

struct Expected {
  CheckStatus status;
  std::string fixFragment;  // must appear in the fix; "" for a pass
  std::string summaryFragment = "";
};

struct ChecksCase {
  const char* label;
  std::function<void(PortChecksTest&)> arrange;
  std::string port;                          // "<dev>/..." is under the fake dev root
  std::map<std::string, Expected> expected;  // every other check must pass
  int worst;                                 // 0 pass, 1 warn, 2 fail
};

void PrintTo(const ChecksCase& c, std::ostream* os) {
  *os << c.label;
}

class PortChecksTableTest : public PortChecksTest,
                            public ::testing::WithParamInterface<ChecksCase> {};

const char* const kUdevFix = "sed -e 's/@VENDOR@/0403/' -e 's/@PRODUCT@/6001/'";

std::vector<ChecksCase> Cases() {
  using T = PortChecksTest;
  const auto noop = [](T&) {};
  return {
      {"all_well", noop, "<dev>/ttyUSB0", {}, 0},
      {"by_id_name_as_port",
       noop,
       "<dev>/serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0",
       {{"port", {CheckStatus::Pass, "", "FTDI FT232R (0403:6001, serial A1B2C3"}}},
       0},
      {"not_in_group",
       [](T& t) {
         t.SetSelf(kUid, kOwnGroup, {});
         t.WriteAccounts("", "dialout:x:" + std::to_string(t.nodeGroup_) + ":\n");
       },
       "<dev>/ttyUSB0",
       {{"access",
         {CheckStatus::Fail, "sudo usermod -aG dialout $USER", "only the group 'dialout'"}}},
       2},
      {"group_not_active_yet",
       [](T& t) { t.SetSelf(kUid, kOwnGroup, {}); },
       "<dev>/ttyUSB0",
       {{"access", {CheckStatus::Fail, "newgrp dialout", "this login is not yet"}}},
       2},
      {"held_by_own_program",
       [](T& t) { t.AddProcess("4100", "minicom", kUid, {t.Dev("ttyUSB0")}); },
       "<dev>/ttyUSB0",
       {{"holder", {CheckStatus::Fail, "kill 4100", "minicom (pid 4100)"}}},
       2},
      {"held_by_other_user",
       [](T& t) { t.AddProcess("812", "screen", 0, {t.Dev("ttyUSB0")}); },
       "<dev>/ttyUSB0",
       {{"holder", {CheckStatus::Fail, "sudo kill 812", "screen (pid 812)"}}},
       2},
      {"modemmanager_probes",
       [](T& t) { t.AddProcess("700", "ModemManager", 0); },
       "<dev>/ttyUSB0",
       {{"modemmanager", {CheckStatus::Warn, kUdevFix, "may probe"}}},
       1},
      {"modemmanager_told_to_ignore",
       [](T& t) {
         t.AddProcess("700", "ModemManager", 0);
         t.WriteFile(t.run_ / "udev" / "data" / "c188:0",
                     "I:1234\nE:ID_VENDOR_ID=0403\nE:ID_MM_DEVICE_IGNORE=1\n");
       },
       "<dev>/ttyUSB0",
       {{"modemmanager", {CheckStatus::Pass, "", "keeps it off"}}},
       0},
      {"latency_high_and_locked",
       [](T& t) { t.WriteFile(t.serialDir_ / "latency_timer", "16\n"); },
       "<dev>/ttyUSB0",
       {{"latency", {CheckStatus::Warn, "echo 1 | sudo tee ", "16 ms"}}},
       1},
      {"latency_high_but_root_sets_it",
       [](T& t) {
         t.WriteFile(t.serialDir_ / "latency_timer", "16\n");
         t.SetSelf(0, 0, {});
       },
       "<dev>/ttyUSB0",
       {{"latency", {CheckStatus::Pass, "", "irdload sets 1 ms"}}},
       0},
      {"no_stable_name",
       [](T& t) { fs::remove(t.byId_); },
       "<dev>/ttyUSB0",
       {{"names", {CheckStatus::Warn, kUdevFix, "no /dev/serial/by-id name"}}},
       1},
      {"brltty_took_the_adapter",
       [](T& t) {
         t.AddUsbInterface(t.AddUsbDevice("1-3", {"1a86", "7523", "", "", "USB Serial"}), "ff",
                           "01", "usbfs");
         t.WriteFile(t.etc_ / "brltty.conf", "# braille\n");
       },
       "<dev>/ttyUSB1",
       {{"port", {CheckStatus::Fail, "sudo apt-get remove brltty", "brltty"}},
        {"brltty", {CheckStatus::Fail, "sudo apt-get remove brltty", "1a86:7523 USB Serial"}}},
       2},
      {"adapter_without_driver",
       [](T& t) {
         t.AddUsbInterface(t.AddUsbDevice("1-4", {"10c4", "ea60", "", "", "CP2102"}), "ff", "00",
                           "");
       },
       "<dev>/ttyUSB0",
       {{"brltty", {CheckStatus::Warn, "sudo modprobe cp210x", "driver is not loaded"}}},
       1},
      {"absent_port",
       noop,
       "<dev>/ttyUSB7",
       {{"port", {CheckStatus::Fail, "irdload-cli ports", "is the adapter plugged in?"}}},
       2},
      {"no_such_name",
       noop,
       "COM0",
       {{"port", {CheckStatus::Fail, "irdload-cli ports", "names no serial port"}}},
       2},
      {"com_name_maps_to_ttyS",
       noop,
       "COM2",
       {{"port", {CheckStatus::Fail, "irdload-cli ports", "/ttyS1 does not exist"}}},
       2},
  };
}

TEST_P(PortChecksTableTest, ExplainsEachProblemWithItsFix) {
  const ChecksCase& c = GetParam();
  c.arrange(*this);
  std::string port = c.port;
  if (port.rfind("<dev>", 0) == 0) port = dev_.string() + port.substr(5);

  const auto results = RunPortChecks(port, Setup());

  std::map<std::string, int> seen;
  for (const CheckResult& r : results) {
    SCOPED_TRACE(r.check + ": " + r.summary + " / fix: " + r.fix);
    ++seen[r.check];
    const auto it = c.expected.find(r.check);
    const Expected want = it == c.expected.end() ? Expected{CheckStatus::Pass, ""} : it->second;
    EXPECT_EQ(StatusName(r.status), std::string(StatusName(want.status)));
    EXPECT_THAT(r.summary, HasSubstr(want.summaryFragment));
    if (want.status == CheckStatus::Pass) {
      EXPECT_EQ(r.fix, "");
    } else {
      EXPECT_THAT(r.fix, HasSubstr(want.fixFragment));
    }
  }
  for (const auto& [check, want] : c.expected) EXPECT_EQ(seen[check], 1) << check;
  EXPECT_EQ(static_cast<int>(WorstStatus(results)), c.worst);
  // The machine-wide line comes last, whatever the port.
  ASSERT_FALSE(results.empty());
  EXPECT_EQ(results.back().check, "brltty");
}

INSTANTIATE_TEST_SUITE_P(Doctor, PortChecksTableTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(PortChecksTest, AHealthyPortRunsEveryCheck) {
  const auto results = RunPortChecks(node_.string(), Setup());
  std::vector<std::string> checks;
  for (const CheckResult& r : results) checks.push_back(r.check);
  EXPECT_THAT(checks, ::testing::ElementsAre("port", "access", "holder", "modemmanager", "latency",
                                             "names", "brltty"));
  EXPECT_THAT(results[5].summary, HasSubstr(byId_.string()));
}

TEST_F(PortChecksTest, WithoutAPortEveryPortFoundIsChecked) {
  AddFtdiAdapter("1-2", 1);
  AddNode("ttyUSB1", fs::perms(0600));  // the owner only: this user may not

  const auto results = RunPortChecks("", Setup());

  std::map<std::string, CheckStatus> access;
  for (const CheckResult& r : results) {
    if (r.check == "access") access[r.port] = r.status;
  }
  EXPECT_EQ(access.size(), 2u);
  EXPECT_EQ(access[Dev("ttyUSB0")], CheckStatus::Pass);
  EXPECT_EQ(access[Dev("ttyUSB1")], CheckStatus::Fail);

  fs::remove_all(sys_ / "class" / "tty");
  const auto none = RunPortChecks("", Setup());
  ASSERT_EQ(none.size(), 2u);
  EXPECT_EQ(none[0].status, CheckStatus::Fail);
  EXPECT_THAT(none[0].summary, HasSubstr("no serial port found"));
}

// The fix is run by hand as printed, so the template and the command must fit each other.
TEST(UdevRuleCommandTest, FillsTheTemplateCompletely) {
  PortInfo ftdi;
  ftdi.device = "/dev/ttyUSB0";
  ftdi.kind = "usb-serial";
  ftdi.usbVendorId = "0403";
  ftdi.usbProductId = "6001";
  PortInfo pc;
  pc.device = "/dev/ttyS0";
  pc.kind = "pc";
  EXPECT_EQ(UdevRuleCommand(pc, kTemplate), "");

  const struct {
    const char* label;
    std::string serial;
    bool matchesSerial;
  } cases[] = {{"serial", "A1B2C3", true}, {"none", "", false}, {"needs quoting", "a'b c", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ftdi.serialNumber = c.serial;
    const std::string command = UdevRuleCommand(ftdi, kTemplate);
    EXPECT_THAT(command, HasSubstr("| sudo tee /etc/udev/rules.d/60-irdload.rules >/dev/null && "
                                   "sudo udevadm control --reload && sudo udevadm trigger"));
    // Run the part that needs no root and read the rule it would install.
    const std::string sed = command.substr(0, command.find(" | sudo"));
    FILE* pipe = ::popen(sed.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string rule;
    char buffer[512];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) rule.append(buffer, n);
    EXPECT_EQ(::pclose(pipe), 0) << sed;
    EXPECT_THAT(rule, Not(HasSubstr("@")));
    EXPECT_THAT(rule, HasSubstr("SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"0403\", "
                                "ATTRS{idProduct}==\"6001\", "));
    EXPECT_THAT(rule, HasSubstr("ENV{ID_MM_DEVICE_IGNORE}=\"1\", SYMLINK+=\"irdload\""));
    EXPECT_THAT(rule, HasSubstr("ATTR{latency_timer}=\"1\""));
    if (c.matchesSerial) {
      EXPECT_THAT(rule, HasSubstr("ATTRS{serial}==\"A1B2C3\", "));
    } else {
      EXPECT_THAT(rule, Not(HasSubstr("ATTRS{serial}")));
    }
  }
}

}  // namespace
}  // namespace irdload
