// irdload-cli.exe under wine: whole downloads to the paced virtual IRD on the pseudo-terminal
// behind COM5, checked byte for byte on the IRD's side; the port list from the registry; and a
// help that offers only what the Windows build has.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "engine/ImageWriter.h"
#include "engine/Link.h"
#include "sim/VirtualIrd.h"
#include "support/TempDir.h"
#include "windows/Wine.h"

namespace irdload {
namespace {

using namespace std::chrono_literals;
using test::ComLink;
using test::RunWine;
using test::WindowsPath;

struct Image {
  std::string path;
  std::vector<std::uint8_t> bytes;
};

class WineSendTest : public ::testing::Test {
 protected:
  Image Make(const std::string& name, std::uint32_t type, std::size_t size, std::uint32_t seed) {
    Image image{(dir_.path() / name).string(), ComposeImage(type, PatternPayload(size, seed))};
    std::filesystem::create_directories(std::filesystem::path(image.path).parent_path());
    dir_.WriteBytes(name, image.bytes);
    return image;
  }

  // What the IRD received, header and payload, against the file.
  static void ExpectReceived(const sim::ReceivedFile& got, const Image& image) {
    ASSERT_GE(image.bytes.size(), kHeaderSize);
    EXPECT_TRUE(std::equal(got.header.begin(), got.header.end(), image.bytes.begin()))
        << image.path;
    EXPECT_TRUE(std::equal(got.payload.begin(), got.payload.end(),
                           image.bytes.begin() + kHeaderSize, image.bytes.end()) &&
                got.payload.size() == image.bytes.size() - kHeaderSize)
        << image.path << ": " << got.payload.size() << " payload bytes";
  }

  test::TempDir dir_;
};

// The cases of a whole download: the IRD's faults, the command line's extra words, what the
// program must end with, and what the IRD must hold then.
struct DownloadCase {
  const char* label;
  std::vector<sim::Fault> faults;
  std::vector<std::string> extra;
  int code;
  const char* message;
  bool pair;
  std::size_t filesLoaded;
};

TEST_F(WineSendTest, WholeDownloadsOverCom5) {
  const DownloadCase cases[] = {
      {"single", {}, {}, 0, "Download end successfully.", false, 1},
      {"pair", {}, {}, 0, "Download end successfully.", true, 2},
      {"NACKs",
       {{sim::FaultKind::NackHeader, 0}, {sim::FaultKind::NackPacket, 2}},
       {},
       0,
       "Download end successfully.",
       false,
       1},
      {"failure terminate", {{sim::FaultKind::FailTerminate}}, {}, 4, "Download Fail.", false, 0},
      {"no response",
       {{sim::FaultKind::SilentFrom, 0}},
       {"--connect-timeout", "2"},
       5,
       "IRD No response: Retry download.",
       false,
       0},
      {"unplugged",
       {{sim::FaultKind::HangUpAt, 6}},
       {},
       4,
       "the serial adapter was disconnected",
       false,
       0},
  };
  // A file without an extension, in a folder with a dot: it counts as an upgrade file (.uuc),
  // not as one whose extension is "v2\fw".
  const Image single = Make("release.v2/fw", kTypeSingle, 20000, 1);
  const std::string singleAsTyped = WindowsPath(single.path);
  const Image first = Make("fw.u01", kTypeFirstOfPair, 5000, 2);
  const Image second = Make("fw.u02", kTypeSecondOfPair, 3000, 3);
  for (const DownloadCase& c : cases) {
    SCOPED_TRACE(c.label);
    sim::VirtualIrd::Options options;
    options.baud = 115200;
    options.faults = c.faults;
    sim::VirtualIrd ird(options);
    std::string why;
    ASSERT_TRUE(ird.Start(&why)) << why;
    ComLink com5(5, ird.SlavePath());
    ASSERT_TRUE(com5.made());
    std::vector<std::string> args = {"send", "--port", "COM5"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    if (c.pair) {
      args.push_back(WindowsPath(first.path));
      args.push_back(WindowsPath(second.path));
    } else {
      args.push_back(singleAsTyped);
    }
    const test::WineResult r = RunWine(IRDLOAD_WINDOWS_CLI, args);
    EXPECT_EQ(r.code, c.code) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(c.message), std::string::npos) << r.out << r.err;
    const sim::Report report = ird.GetReport();
    std::size_t loaded = 0;
    for (const auto& f : report.files) loaded += f.successTerminate ? 1 : 0;
    EXPECT_EQ(loaded, c.filesLoaded);
    if (c.code != 0) continue;
    ASSERT_EQ(report.files.size(), c.pair ? 2u : 1u);
    if (c.pair) {
      ExpectReceived(report.files[0], first);
      ExpectReceived(report.files[1], second);
    } else {
      ExpectReceived(report.files[0], single);
    }
    if (!c.faults.empty()) {
      EXPECT_EQ(report.files[0].headersRejected, 1u);
      EXPECT_EQ(report.files[0].packetsRejected, 1u);
    }
  }
}

// What Windows users type: a path in Cyrillic (whatever the system's code page), a path that
// starts with "/" (a path, not an option), a port written "COM5:".
TEST_F(WineSendTest, PathsInAnyScriptAndPortNamesAsWindowsWritesThem) {
  const Image single = Make("Прошивки/образ.uuc", kTypeSingle, 9000, 5);
  struct Case {
    const char* label;
    std::string port, file;
  };
  const Case cases[] = {
      {"Cyrillic path", "COM5", WindowsPath(single.path)},
      {"leading slash", "COM5:", std::filesystem::absolute(single.path).string()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    sim::VirtualIrd::Options options;
    options.baud = 115200;
    sim::VirtualIrd ird(options);
    std::string why;
    ASSERT_TRUE(ird.Start(&why)) << why;
    ComLink com5(5, ird.SlavePath());
    const test::WineResult r = RunWine(IRDLOAD_WINDOWS_CLI, {"send", "--port", c.port, c.file});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    // The console shows the name whole.
    EXPECT_NE(r.out.find("образ.uuc"), std::string::npos) << r.out;
    const sim::Report report = ird.GetReport();
    ASSERT_EQ(report.files.size(), 1u);
    ExpectReceived(report.files[0], single);
  }
}

TEST_F(WineSendTest, QuestionMarkAfterASlashGivesTheHelp) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"/?"}, std::vector<std::string>{"send", "/?"}}) {
    const test::WineResult r = RunWine(IRDLOAD_WINDOWS_CLI, args);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("Usage:"), std::string::npos) << r.out;
  }
}

TEST_F(WineSendTest, AbsentPortIsReportedWithWindowsReason) {
  const Image single = Make("fw.uuc", kTypeSingle, 3000, 1);
  const test::WineResult r =
      RunWine(IRDLOAD_WINDOWS_CLI, {"send", "--port", "COM9", WindowsPath(single.path)});
  EXPECT_EQ(r.code, 3) << r.out << r.err;
  EXPECT_NE(r.err.find("COM9 Open Error!\n  \\\\.\\COM9: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("(error 2)"), std::string::npos) << r.err;
}

// The unit's record and its JSON events, as the Linux build writes them.
TEST_F(WineSendTest, ReportAndJsonEventsOfADownload) {
  const Image single = Make("fw.uuc", kTypeSingle, 3000, 1);
  sim::VirtualIrd::Options options;
  options.baud = 115200;
  sim::VirtualIrd ird(options);
  std::string why;
  ASSERT_TRUE(ird.Start(&why)) << why;
  ComLink com5(5, ird.SlavePath());
  const auto reports = dir_.path() / "records";
  const test::WineResult r = RunWine(
      IRDLOAD_WINDOWS_CLI, {"send", "--port", "COM5", "--json", "--report", WindowsPath(reports),
                            "--unit-id", "SN-7", WindowsPath(single.path)});
  ASSERT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("\"event\":\"end\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"loaded\":true"), std::string::npos) << r.out;
  std::size_t records = 0;
  for (const auto& entry : std::filesystem::directory_iterator(reports)) {
    // The room set aside for the record is its file now: no temporary file stays.
    EXPECT_NE(entry.path().filename().string().rfind(".record-", 0), 0u) << entry.path();
    if (entry.path().extension() != ".json") continue;
    ++records;
    std::ifstream in(entry.path());
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    EXPECT_NE(text.find("\"SN-7\""), std::string::npos) << text;
  }
  EXPECT_EQ(records, 1u);
  std::ifstream csv(reports / "units.csv");
  std::string header, line;
  ASSERT_TRUE(std::getline(csv, header));
  ASSERT_TRUE(std::getline(csv, line));
  EXPECT_NE(line.find("SN-7"), std::string::npos) << line;
}

// COM ports come from the registry's SERIALCOMM map, COM2 before COM10.
TEST_F(WineSendTest, PortsListsTheSerialCommMap) {
  const std::string key = "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM";
  for (const auto& [object, name] : {std::pair{"\\Device\\IrdloadTest10", "COM10"},
                                     std::pair{"\\Device\\IrdloadTest2", "COM2"}}) {
    ASSERT_EQ(RunWine("reg", {"add", key, "/v", object, "/t", "REG_SZ", "/d", name, "/f"}).code, 0);
  }
  const test::WineResult r = RunWine(IRDLOAD_WINDOWS_CLI, {"ports"});
  for (const char* object : {"\\Device\\IrdloadTest10", "\\Device\\IrdloadTest2"}) {
    RunWine("reg", {"delete", key, "/v", object, "/f"});
  }
  ASSERT_EQ(r.code, 0) << r.err;
  const auto com2 = r.out.find("COM2 ");
  const auto com10 = r.out.find("COM10 ");
  ASSERT_NE(com2, std::string::npos) << r.out;
  ASSERT_NE(com10, std::string::npos) << r.out;
  EXPECT_LT(com2, com10) << r.out;
}

TEST_F(WineSendTest, HelpOffersOnlyWhatTheWindowsBuildHas) {
  const test::WineResult top = RunWine(IRDLOAD_WINDOWS_CLI, {"--help"});
  const test::WineResult send = RunWine(IRDLOAD_WINDOWS_CLI, {"send", "--help"});
  ASSERT_EQ(top.code, 0);
  ASSERT_EQ(send.code, 0);
  for (const char* word : {"station", "virtual-ird", "doctor", "--simulate-fault", "--baud"}) {
    EXPECT_EQ((top.out + send.out).find(word), std::string::npos) << word;
  }
  EXPECT_NE(top.out.find("send"), std::string::npos);
  EXPECT_NE(send.out.find("COM10"), std::string::npos) << send.out;
  EXPECT_NE(send.out.find("--simulate"), std::string::npos) << send.out;
  const test::WineResult station = RunWine(IRDLOAD_WINDOWS_CLI, {"station", "--port", "COM5"});
  EXPECT_EQ(station.code, 2);
  EXPECT_NE(station.err.find("station is in the Linux build only"), std::string::npos)
      << station.err;
}

// The virtual IRD in the program itself, on the in-memory line: no port, no pseudo-terminal.
TEST_F(WineSendTest, SimulateSendsToTheVirtualIrdInTheProgram) {
  const Image single = Make("fw.uuc", kTypeSingle, 30000, 6);
  const Image first = Make("fw.u01", kTypeFirstOfPair, 4000, 7);
  const Image second = Make("fw.u02", kTypeSecondOfPair, 2500, 8);
  for (const std::vector<std::string>& files :
       {std::vector{WindowsPath(single.path)},
        std::vector{WindowsPath(first.path), WindowsPath(second.path)}}) {
    std::vector<std::string> args = {"send", "--simulate"};
    args.insert(args.end(), files.begin(), files.end());
    const test::WineResult r = RunWine(IRDLOAD_WINDOWS_CLI, args);
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Verified: the virtual IRD holds the image byte for byte"),
              std::string::npos)
        << r.out;
  }
}

}  // namespace
}  // namespace irdload
