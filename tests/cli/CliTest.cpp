#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <map>
#include <sstream>

#include "cli/Commands.h"
#include "engine/Image.h"
#include "engine/ImageWriter.h"
#include "irdload/BuildInfo.h"
#include "serial/SerialPort.h"
#include "support/Child.h"
#include "support/CliRun.h"
#include "support/PtyPair.h"
#include "support/TempDir.h"

namespace irdload::cli {
namespace {

using test::Cli;
using test::Result;

class CliTest : public ::testing::Test {
 protected:
  // Every file under the test folder with its bytes.
  std::map<std::string, std::string> Snapshot() const {
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir_.path())) {
      if (!e.is_regular_file()) continue;
      std::ifstream in(e.path(), std::ios::binary);
      files[e.path().string()] = {std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>()};
    }
    return files;
  }
  std::string Image(const std::string& name, std::uint32_t type, std::size_t size,
                    std::uint32_t seed = 1) {
    return dir_.WriteBytes(name, ComposeImage(type, PatternPayload(size, seed)));
  }
  test::TempDir dir_;
};

TEST_F(CliTest, RefusedInputExitsWithItsCodeAndMessage) {
  const auto single = Image("fw.uuc", kTypeSingle, 3000);
  const auto first = Image("fw.u01", kTypeFirstOfPair, 3000);
  const auto second = Image("fw.u02", kTypeSecondOfPair, 2000);
  const auto upper = Image("MAIN.UUC", kTypeSingle, 10);
  auto badMagic = ComposeImage(kTypeSingle, PatternPayload(100));
  badMagic[1] = 0;
  const auto magic = dir_.WriteBytes("magic.uuc", badMagic);
  auto longer = ComposeImage(kTypeSingle, PatternPayload(100));
  WriteLe32(longer.data() + kSizeOffset, 101);
  const auto sizeBig = dir_.WriteBytes("big.uuc", longer);
  const auto shortFile = dir_.WriteBytes("short.uuc", std::vector<std::uint8_t>(40, 0));
  const auto empty = dir_.WriteBytes("empty.uuc", {});
  const auto spaced = Image("with space é.uuc", kTypeSingle, 10);
  std::filesystem::create_directory(dir_.path() / "folder.uuc");
  const std::string folder = (dir_.path() / "folder.uuc").string();
  const std::string missing = (dir_.path() / "missing.uuc").string();
  const auto unreadable = Image("locked.uuc", kTypeSingle, 10);
  ::chmod(unreadable.c_str(), 0);
  const bool root = ::geteuid() == 0;

  struct Case {
    std::vector<std::string> args;
    int code;
    const char* fragment;  // in stderr
  };
  std::vector<Case> cases = {
      {{"send"}, EXIT_REFUSED, "files is required"},
      {{"send", "--bogus", single}, EXIT_REFUSED, "--bogus"},
      {{"frobnicate"}, EXIT_REFUSED, "subcommand"},
      {{"send", single, second, single}, EXIT_REFUSED, "files"},
      {{"send", missing}, EXIT_REFUSED, "Open Error!"},
      {{"send", folder}, EXIT_REFUSED, "is a folder"},
      {{"send", empty}, EXIT_REFUSED, "Read Error!"},
      {{"send", shortFile}, EXIT_REFUSED, "Read Error!"},
      {{"send", magic}, EXIT_REFUSED, "Invalid file: magic number miss match"},
      {{"send", sizeBig}, EXIT_REFUSED, "Invalid file size: check main.auc"},
      {{"send", upper}, EXIT_REFUSED, "Invalid File"},
      {{"send", second}, EXIT_REFUSED, "Invalid File"},
      {{"send", second, first}, EXIT_REFUSED, "Invalid File"},
      {{"send", first, single}, EXIT_REFUSED, "Invalid Second File"},
      {{"send", first}, EXIT_REFUSED, "needs its second file"},
      {{"send", single, second}, EXIT_REFUSED, "takes no second file"},
      {{"send", "--simulate", "--simulate-fault", "Nonsense@1", single},
       EXIT_REFUSED,
       "unknown fault"},
      {{"send", "--port", "/dev/irdload-absent", single},
       EXIT_PORT,
       "/dev/irdload-absent Open Error!"},
      {{"send", "--port", single, single}, EXIT_PORT, "not a serial port"},
      // A unit id that no record could hold as given is refused before anything is sent (the
      // port is not even opened: its absence would say 3).
      {{"send", "--port", "/dev/irdload-absent", "--unit-id", std::string(129, 'x'), single},
       EXIT_REFUSED,
       "128"},
      {{"send", "--port", "/dev/irdload-absent", "--unit-id", "SN\x01", single},
       EXIT_REFUSED,
       "unit id"},
      {{"send", "--port", "/dev/irdload-absent", "--unit-id", "SN\xFF", single},
       EXIT_REFUSED,
       "UTF-8"},
      {{"inspect", magic}, EXIT_REFUSED, ""},
      {{"inspect", missing}, EXIT_REFUSED, "No such file"},
  };
  if (!root) cases.push_back({{"send", unreadable}, EXIT_REFUSED, "Permission denied"});
  // The pair in the wrong type order: a .u02-named file that is really a first file.
  const auto fakeSecond = Image("odd.u02", kTypeFirstOfPair, 10);
  const auto fakeFirst = Image("odd.u01", kTypeSecondOfPair, 10);
  cases.push_back({{"send", fakeFirst, fakeSecond}, EXIT_REFUSED, "Invalid Second file"});
  (void)spaced;

  const auto before = Snapshot();
  for (const auto& c : cases) {
    std::string label;
    for (const auto& a : c.args) label += a + " ";
    SCOPED_TRACE(label);
    const Result r = Cli(c.args);
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_NE(r.err.find(c.fragment), std::string::npos) << r.err;
  }
  EXPECT_EQ(Snapshot(), before) << "a refused send must change nothing on disk";
}

// A number out of range is named with its range in words, never as a 300-digit double.
TEST_F(CliTest, NumberOutOfRangeNamesTheRangeInWords) {
  const auto single = Image("fw.uuc", kTypeSingle, 10);
  struct Case {
    std::vector<std::string> args;
    const char* range;
  };
  const Case cases[] = {
      {{"send", "--connect-timeout", "-1", single}, "from 0 to 86400"},
      {{"send", "--read-pauses", "5", single}, "from 10 to 10000"},
      {{"station", "--port", "/dev/x", "--connect-timeout", "-1", single}, "from 0 to 86400"},
      {{"station", "--port", "/dev/x", "--retries", "101", single}, "from 0 to 100"},
      {{"station", "--port", "/dev/x", "--units", "0", single}, "from 1 to 1000000"},
      {{"station", "--port", "/dev/x", "--read-pauses", "x", single}, "from 10 to 10000"},
      {{"virtual-ird", "--count", "-3"}, "from 0 to 999"},
  };
  for (const Case& c : cases) {
    std::string label;
    for (const auto& a : c.args) label += a + " ";
    SCOPED_TRACE(label);
    const Result r = Cli(c.args);
    EXPECT_EQ(r.code, EXIT_REFUSED);
    EXPECT_NE(r.err.find(c.range), std::string::npos) << r.err;
    EXPECT_LT(r.err.size(), 300u) << r.err;
  }
}

TEST_F(CliTest, PortWithoutPermissionSaysHowToGetIt) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to drop to another user";
  test::PtyPair line;
  const auto single = Image("fw.uuc", kTypeSingle, 10);
  ::chmod(dir_.path().c_str(), 0755);
  ::chmod(single.c_str(), 0644);
  const test::ChildResult child = test::RunInChild([&](std::string& err) {
    if (!test::BecomeNobody()) return 100;
    const Result r = Cli({"send", "--port", line.slavePath(), single});
    err = r.err;
    return r.code;
  });
  ASSERT_TRUE(child.exited);
  const std::string& err = child.text;
  EXPECT_EQ(child.code, EXIT_PORT) << err;
  EXPECT_NE(err.find("permission denied"), std::string::npos) << err;
  EXPECT_NE(err.find("usermod -aG"), std::string::npos) << err;
}

TEST_F(CliTest, SimulatedSendsArriveByteForByte) {
  const auto spaced = Image("with space é.uuc", kTypeSingle, 5000, 7);
  const auto first = Image("pair.u01", kTypeFirstOfPair, 3000, 1);
  const auto second = Image("pair.u02", kTypeSecondOfPair, 2100, 2);
  struct Case {
    std::vector<std::string> files;
    std::size_t bytes;
  };
  const Case cases[] = {{{spaced}, 5000}, {{first, second}, 5100}};
  for (const auto& c : cases) {
    std::vector<std::string> args = {"send", "--simulate", "--baud", "0"};
    args.insert(args.end(), c.files.begin(), c.files.end());
    const Result r = Cli(args);
    EXPECT_EQ(r.code, EXIT_OK) << r.err;
    EXPECT_NE(r.out.find("Verified: the virtual IRD holds the image byte for byte (" +
                         std::to_string(c.bytes) + " bytes)"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.err.find("Download end successfully."), std::string::npos);
  }
}

// The last progress line counts what was sent, not the packet number that wraps to 0.
TEST_F(CliTest, LastProgressLineShowsTheWholeFile) {
  struct Case {
    std::size_t size;
    const char* counts;
  };
  for (const Case& c :
       {Case{700, "1/1 packets  700/700 bytes"}, Case{3000, "3/3 packets  3000/3000 bytes"}}) {
    SCOPED_TRACE(c.size);
    const Result r =
        Cli({"send", "--simulate", "--baud", "0", Image("one.uuc", kTypeSingle, c.size)});
    ASSERT_EQ(r.code, EXIT_OK) << r.err;
    const auto lastLine = r.out.rfind(c.counts);
    ASSERT_NE(lastLine, std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("packets", lastLine + std::string(c.counts).size()), std::string::npos)
        << "a later progress line: " << r.out;
  }
}

TEST_F(CliTest, IrdFailuresMapToTheirExitCodes) {
  const auto single = Image("fw.uuc", kTypeSingle, 3000);
  struct Case {
    std::vector<std::string> extra;
    int code;
    const char* fragment;
  };
  const Case cases[] = {
      {{"--simulate-fault", "FailTerminate"}, EXIT_IRD_FAILED, "Download Fail."},
      {{"--simulate-fault", "SilentFrom@0", "--connect-timeout", "1"},
       EXIT_NO_RESPONSE,
       "IRD No response: Retry download."},
      {{"--simulate-fault", "NackPacket@1", "--simulate-fault", "ClearBit20@2"},
       EXIT_OK,
       "Download end successfully."},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"send", "--simulate", "--baud", "0"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    args.push_back(single);
    SCOPED_TRACE(c.fragment);
    const Result r = Cli(args);
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_NE(r.err.find(c.fragment), std::string::npos) << r.err;
  }
}

TEST_F(CliTest, PortTroubleIsReportedWithItsReason) {
  test::PtyPair line;
  SerialPort holder;
  ASSERT_EQ(holder.Open(line.slavePath(), "115200,N,8,1"), 1);
  const auto single = Image("fw.uuc", kTypeSingle, 3000);
  Result r = Cli({"send", "--port", line.slavePath(), single});
  EXPECT_EQ(r.code, EXIT_PORT);
  EXPECT_NE(r.err.find(line.slavePath() + " Open Error!"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("busy"), std::string::npos) << r.err;

  // The line goes away mid-transfer, as an unplugged adapter: a failure at once, never success.
  r = Cli({"send", "--simulate", "--baud", "0", "--simulate-fault", "HangUpAt@6", single});
  EXPECT_EQ(r.code, EXIT_IRD_FAILED) << r.err;
  EXPECT_NE(r.err.find("Download Fail.\n  the serial adapter was disconnected"), std::string::npos)
      << r.err;
}

TEST_F(CliTest, FileThatChangesAfterInspectionIsCheckedAgainAtSend) {
  const auto path = Image("fw.uuc", kTypeSingle, 3000);
  ASSERT_EQ(Cli({"inspect", path}).code, EXIT_OK);
  std::filesystem::resize_file(path, 64 + 2000);
  const Result r = Cli({"send", "--simulate", "--baud", "0", path});
  EXPECT_EQ(r.code, EXIT_REFUSED);
  EXPECT_NE(r.err.find("Invalid file size: check main.auc"), std::string::npos) << r.err;
}

TEST_F(CliTest, ConnectTimeoutGivesUpOnASilentPort) {
  test::PtyPair line;
  const auto single = Image("fw.uuc", kTypeSingle, 10);
  const Result r = Cli({"send", "--port", line.slavePath(), "--connect-timeout", "1", single});
  EXPECT_EQ(r.code, EXIT_NO_RESPONSE);
  EXPECT_NE(r.err.find("did not answer the connect request"), std::string::npos) << r.err;
}

TEST_F(CliTest, TraceRecordsBothDirectionsInHex) {
  const auto single = Image("fw.uuc", kTypeSingle, 10);
  const std::string trace = (dir_.path() / "wire.txt").string();
  const Result r = Cli({"send", "--simulate", "--baud", "0", "--trace", trace, single});
  ASSERT_EQ(r.code, EXIT_OK) << r.err;
  std::ifstream in(trace);
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  EXPECT_NE(text.find("PC>IRD e1\n"), std::string::npos) << text.substr(0, 400);
  EXPECT_NE(text.find("IRD>PC e2\n"), std::string::npos);
  EXPECT_NE(text.find("PC>IRD 47 "), std::string::npos);
  EXPECT_NE(text.find("PC>IRD ed\n"), std::string::npos);
}

// A sound second file still does not load alone: send refuses it without its first.
TEST_F(CliTest, InspectOfALoneSecondFileSaysItNeedsItsFirst) {
  const auto second = Image("fw.u02", kTypeSecondOfPair, 3000);
  const Result r = Cli({"inspect", second});
  EXPECT_EQ(r.code, EXIT_REFUSED);
  EXPECT_NE(r.out.find("type code:     0xFFEEFFBB (second file of a pair)"), std::string::npos)
      << r.out;
  EXPECT_NE(
      r.out.find("would load:    only after its first file: irdload-cli send FIRST.u01 " + second),
      std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("would load:    yes"), std::string::npos) << r.out;
  EXPECT_EQ(Cli({"send", "--simulate", second}).code, EXIT_REFUSED);
}

TEST_F(CliTest, InspectShowsTheHeaderAndVerdict) {
  const auto first = Image("fw.u01", kTypeFirstOfPair, 1000000);
  const Result r = Cli({"inspect", first});
  EXPECT_EQ(r.code, EXIT_OK);
  for (const char* line :
       {"payload size:  1000000 bytes", "packets:       980 of 1024 bytes", "estimate:      02:01",
        "type code:     0xFFEEFFAA (first file of a pair)", "would load:    yes"}) {
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
  }
}

TEST_F(CliTest, PortsOnAnEmptySystemSaysSo) {
  std::ostringstream out;
  EXPECT_EQ(RunPorts({dir_.path() / "sys", dir_.path() / "dev"}, out), EXIT_OK);
  EXPECT_EQ(out.str(), "No serial ports found.\n");
}

TEST_F(CliTest, HelpAndVersion) {
  Result r = Cli({"--version"});
  EXPECT_EQ(r.code, EXIT_OK);
  EXPECT_EQ(r.out, std::string("irdload-cli ") + build::kVersion + "\n");
  r = Cli({"send", "--help"});
  EXPECT_EQ(r.code, EXIT_OK);
  EXPECT_NE(r.out.find("--simulate"), std::string::npos);
}

TEST_F(CliTest, MakeSampleWritesALoadableImage) {
  const std::string path = (dir_.path() / "sample.uuc").string();
  ASSERT_EQ(Cli({"make-sample", "--size", "4096", path}).code, EXIT_OK);
  EXPECT_EQ(Cli({"inspect", path}).code, EXIT_OK);
  EXPECT_EQ(Cli({"make-sample", "--type", "odd", path}).code, EXIT_REFUSED);
}

}  // namespace
}  // namespace irdload::cli
