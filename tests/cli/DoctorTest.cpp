#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>

#include "cli/Commands.h"
#include "cli/Doctor.h"
#include "support/FakeTree.h"

namespace irdload::cli {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

class DoctorTest : public test::FakeTreeTest {
 public:
  // An FTDI adapter with a 1 ms timer and a by-id name, opened by root: all passes.
  void SetUp() override {
    FakeTreeTest::SetUp();
    AddFtdiPort(0, AddUsbDevice("1-1", {"0403", "6001", "A1", "FTDI", "FT232R"}), "1\n");
    AddNode("ttyUSB0", fs::perms(0660));
    fs::create_directories(dev_ / "serial" / "by-id");
    fs::create_symlink("../../ttyUSB0", dev_ / "serial" / "by-id" / "usb-FTDI_A1");
    SetSelf(0, 0, {});
  }

  int Run(const std::string& port, bool json, std::string& text) {
    std::ostringstream out;
    const int code = RunDoctor({port, json}, {Roots(), "/usr/share/doc/irdload/examples/x"}, out);
    text = out.str();
    return code;
  }
};

TEST_F(DoctorTest, ExitCodeIsTheWorstStatus) {
  const struct {
    const char* label;
    std::function<void(DoctorTest&)> arrange;
    std::string port;
    int code;
    const char* lastLine;
  } cases[] = {
      {"all pass", [](DoctorTest&) {}, "", 0, "doctor: 7 pass, 0 warn, 0 fail (exit 0)\n"},
      {"a warning", [](DoctorTest& t) { t.AddProcess("700", "ModemManager", 0); }, "", 1,
       "doctor: 6 pass, 1 warn, 0 fail (exit 1)\n"},
      {"a failure", [](DoctorTest&) {}, "COM0", 2, "doctor: 1 pass, 0 warn, 1 fail (exit 2)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    c.arrange(*this);
    std::string text;
    EXPECT_EQ(Run(c.port, false, text), c.code);
    EXPECT_THAT(text, ::testing::EndsWith(c.lastLine)) << text;
  }
}

TEST_F(DoctorTest, TextGroupsLinesByPortAndPutsEachFixBelowItsLine) {
  WriteFile(sys_ / "class" / "tty" / "ttyUSB0" / "device" / "latency_timer", "16\n");
  SetSelf(1000, 1000, {::getegid()});
  std::string text;
  EXPECT_EQ(Run(Dev("ttyUSB0"), false, text), 1);
  const std::string timer =
      (sys_ / "class" / "tty" / "ttyUSB0" / "device" / "latency_timer").string();
  EXPECT_THAT(text, StartsWith(Dev("ttyUSB0") + "\n  pass  port          FTDI FT232R (0403:6001"));
  EXPECT_THAT(text, HasSubstr("\n  warn  latency       FTDI latency timer is 16 ms and this user "
                              "may not lower it"));
  EXPECT_THAT(text, HasSubstr("\n        fix: echo 1 | sudo tee " + timer + "\n"));
  EXPECT_THAT(text, HasSubstr("\nthis machine\n  pass  brltty        brltty is not installed\n"));
}

TEST_F(DoctorTest, JsonIsOneObjectWithEscapedTexts) {
  std::string json;
  EXPECT_EQ(Run("COM0", true, json), 2);
  EXPECT_EQ(json,
            "{\"checks\":[{\"check\":\"port\",\"status\":\"fail\",\"port\":\"COM0\",\"summary\":"
            "\"\\\"COM0\\\" names no serial port; the fix lists them\",\"fix\":\"irdload-cli "
            "ports\"},{\"check\":\"brltty\",\"status\":\"pass\",\"port\":\"\",\"summary\":\"brltty "
            "is not installed\",\"fix\":\"\"}],\"pass\":1,\"warn\":0,\"fail\":1,\"exit\":2}\n");
}

TEST(DoctorCommandTest, IsReachableFromTheCommandLine) {
  const char* argv[] = {"irdload-cli", "doctor", "--json", "COM0"};
  std::ostringstream out, err;
  EXPECT_EQ(RunCli(4, argv, out, err), 2);
  EXPECT_THAT(out.str(), StartsWith("{\"checks\":[{\"check\":\"port\",\"status\":\"fail\""));
  EXPECT_EQ(err.str(), "");
  EXPECT_THAT(InstalledUdevRuleTemplate(), ::testing::EndsWith("/examples/60-irdload.rules"));
}

}  // namespace
}  // namespace irdload::cli
