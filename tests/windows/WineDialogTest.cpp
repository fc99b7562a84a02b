// irdload.exe under wine, driven through Win32 messages by the driver program
// (DialogDriver.cpp): whole downloads from the dialog to the paced virtual IRD behind COM5,
// checked byte for byte on the IRD's side; the question before ending mid-download; the
// layout against the template's dialog units.
#include <gtest/gtest.h>

#include <cstdio>

#include "engine/ImageWriter.h"
#include "engine/Link.h"
#include "sim/VirtualIrd.h"
#include "support/TempDir.h"
#include "windows/Wine.h"

namespace irdload {
namespace {

using namespace std::chrono_literals;
using test::ComLink;
using test::WindowsPath;
using test::WineProgram;

constexpr auto kBound = 240s;

struct Image {
  std::string path;
  std::vector<std::uint8_t> bytes;
};

class WineDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (test::DisplaySetting().empty()) GTEST_SKIP() << "no X display for the windows (Xvfb)";
  }

  Image Make(const std::string& name, std::uint32_t type, std::size_t size, std::uint32_t seed) {
    Image image{(dir_.path() / name).string(), ComposeImage(type, PatternPayload(size, seed))};
    std::filesystem::create_directories(std::filesystem::path(image.path).parent_path());
    dir_.WriteBytes(name, image.bytes);
    return image;
  }

  static void ExpectReceived(const sim::ReceivedFile& got, const Image& image) {
    ASSERT_GE(image.bytes.size(), kHeaderSize);
    EXPECT_TRUE(std::equal(got.header.begin(), got.header.end(), image.bytes.begin()))
        << image.path;
    EXPECT_TRUE(
        got.payload.size() == image.bytes.size() - kHeaderSize &&
        std::equal(got.payload.begin(), got.payload.end(), image.bytes.begin() + kHeaderSize))
        << image.path << ": " << got.payload.size() << " payload bytes";
  }

  // What the IRD heard and said, first and last bytes, for a case that stopped half-way.
  static std::string WireSummary(const sim::Report& report) {
    const auto ends = [](const std::vector<std::uint8_t>& bytes) {
      std::string text = std::to_string(bytes.size()) + " bytes:";
      char hex[4];
      for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 16 && bytes.size() > 32) {
          text += " ...";
          i = bytes.size() - 16;
        }
        std::snprintf(hex, sizeof hex, " %02x", bytes[i]);
        text += hex;
      }
      return text;
    };
    return "IRD heard " + ends(report.fromPc) + "\nIRD said " + ends(report.toPc) + "\nfiles " +
           std::to_string(report.files.size());
  }

  // Runs the dialog and the driver's case; the driver's output, with its exit code checked.
  std::string Drive(const std::vector<std::string>& args) {
    WineProgram dialog(IRDLOAD_WINDOWS_DIALOG, {});
    EXPECT_TRUE(dialog.started());
    WineProgram driver(IRDLOAD_DIALOG_DRIVER, args);
    driver.process().CloseInput();
    const std::optional<int> code = driver.Wait(kBound);
    EXPECT_EQ(code, 0) << driver.out() << driver.err();
    // The driver ends the dialog; one that stays is a failure, and goes with the test.
    EXPECT_TRUE(dialog.Wait(30s).has_value()) << "irdload.exe did not end";
    return driver.out();
  }

  test::TempDir dir_;
};

struct DialogCase {
  const char* label;
  std::vector<sim::Fault> faults;
  bool pair;
  const char* message;
};

TEST_F(WineDialogTest, WholeDownloadsFromTheDialog) {
  const DialogCase cases[] = {
      {"single", {}, false, "message: Download end successfully."},
      {"pair", {}, true, "message: Download end successfully."},
      {"NACKs",
       {{sim::FaultKind::NackHeader, 0}, {sim::FaultKind::NackPacket, 2}},
       false,
       "message: Download end successfully."},
      {"failure terminate", {{sim::FaultKind::FailTerminate}}, false, "message: Download Fail."},
  };
  // The single file sits in a folder with Cyrillic letters: the file dialog and the engine take
  // the path whole.
  const Image single = Make("Прошивки/образ.uuc", kTypeSingle, 20000, 1);
  const Image first = Make("fw.u01", kTypeFirstOfPair, 5000, 2);
  const Image second = Make("fw.u02", kTypeSecondOfPair, 3000, 3);
  for (const DialogCase& c : cases) {
    SCOPED_TRACE(c.label);
    sim::VirtualIrd::Options options;
    options.baud = 115200;
    options.faults = c.faults;
    sim::VirtualIrd ird(options);
    std::string why;
    ASSERT_TRUE(ird.Start(&why)) << why;
    ComLink com5(5, ird.SlavePath());
    ASSERT_TRUE(com5.made());
    std::vector<std::string> args = {"send", "COM5"};
    if (c.pair) {
      args.push_back(WindowsPath(first.path));
      args.push_back(WindowsPath(second.path));
    } else {
      args.push_back(WindowsPath(single.path));
    }
    const std::string out = Drive(args);
    if (out.find("FAIL:") != std::string::npos) {
      // Said above, with the driver's words; the IRD's side of the line tells where it stopped.
      ADD_FAILURE() << WireSummary(ird.GetReport());
      continue;
    }
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
    // The fields as the end left them: the status line, and the last file's total.
    EXPECT_NE(out.find(std::string("field 1010: ") + (c.message + 9)), std::string::npos) << out;
    EXPECT_NE(out.find(c.pair ? "field 1014: 3000" : "field 1014: 20000"), std::string::npos)
        << out;
    EXPECT_NE(out.find(c.pair ? "field 1006: 1: " + WindowsPath(first.path) +
                                    ",|2: " + WindowsPath(second.path)
                              : "field 1006: " + WindowsPath(single.path)),
              std::string::npos)
        << out;
    const sim::Report report = ird.GetReport();
    if (std::string(c.message).find("successfully") == std::string::npos) {
      for (const auto& f : report.files) EXPECT_FALSE(f.successTerminate);
      continue;
    }
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

// "Virtual IRD": the IRD inside irdload.exe, on the in-memory line.
TEST_F(WineDialogTest, WholeDownloadToTheVirtualIrdInTheProgram) {
  const Image first = Make("fw.u01", kTypeFirstOfPair, 6000, 9);
  const Image second = Make("fw.u02", kTypeSecondOfPair, 2000, 10);
  const std::string out =
      Drive({"send", "Virtual IRD", WindowsPath(first.path), WindowsPath(second.path)});
  EXPECT_NE(out.find("message: Download end successfully."), std::string::npos) << out;
  EXPECT_NE(out.find("field 1014: 2000"), std::string::npos) << out;
}

// A port list rebuilt while the operator's choice is on screen keeps that choice: the download
// goes where the list says.
TEST_F(WineDialogTest, RebuiltPortListKeepsTheChoiceItShows) {
  const std::string out = Drive({"list-refresh", "Virtual IRD"});
  EXPECT_NE(out.find("shown after the refresh: Virtual IRD"), std::string::npos) << out;
}

TEST_F(WineDialogTest, EndingMidDownloadAsksAndNoKeepsItGoing) {
  const Image image = Make("big.uuc", kTypeSingle, 400000, 4);
  sim::VirtualIrd::Options options;
  options.baud = 115200;
  sim::VirtualIrd ird(options);
  std::string why;
  ASSERT_TRUE(ird.Start(&why)) << why;
  ComLink com5(5, ird.SlavePath());
  ASSERT_TRUE(com5.made());
  const std::string out = Drive({"end-mid-download", "COM5", WindowsPath(image.path)});
  // The question names the file and where the download stands.
  EXPECT_NE(
      out.find("question close: A download is running:\n" + WindowsPath(image.path) + "\nPacket "),
      std::string::npos)
      << out;
  EXPECT_NE(out.find(" of 392\n"), std::string::npos) << out;
  // "Yes" ended it part-way: the IRD never got the terminate answer.
  const sim::Report report = ird.GetReport();
  ASSERT_FALSE(report.files.empty());
  EXPECT_FALSE(report.files[0].terminated);
}

TEST_F(WineDialogTest, ControlsSitWhereTheTemplatesDialogUnitsPutThem) {
  const std::string out = Drive({"layout", IRDLOAD_WINDOWS_DIALOG_AS_WINDOWS});
  EXPECT_NE(out.find("about: Zembrin Version 1.0"), std::string::npos) << out;
}

}  // namespace
}  // namespace irdload
