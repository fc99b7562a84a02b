// irdload-cli.exe in a console of a set size (wine in tmux at 80x24 and 132x43): the progress
// line takes the console window's width as Windows gives it, redrawn in place, and then the
// summary takes its row.
#include <gtest/gtest.h>

#include "engine/ImageWriter.h"
#include "engine/Link.h"
#include "sim/VirtualIrd.h"
#include "support/TempDir.h"
#include "support/Tmux.h"
#include "windows/Wine.h"

namespace irdload {
namespace {

using namespace std::chrono_literals;

constexpr auto kBound = 120s;

std::vector<std::string> RowsWith(const std::vector<std::string>& rows, const std::string& text) {
  std::vector<std::string> found;
  for (const auto& r : rows) {
    if (r.find(text) != std::string::npos) found.push_back(r);
  }
  return found;
}

TEST(WineConsoleTest, ProgressLineTakesTheConsoleWidth) {
  if (!test::TmuxScreen::Available()) GTEST_SKIP() << "tmux is not installed";
  test::TempDir dir;
  const std::string image = test::WindowsPath(
      dir.WriteBytes("fw.uuc", ComposeImage(kTypeSingle, PatternPayload(40000, 4))));
  struct Case {
    int columns, rows;
    bool elapsedShown;  // the figure that goes first when the width is short
  };
  for (const Case& c : {Case{80, 24, false}, Case{132, 43, true}}) {
    SCOPED_TRACE(c.columns);
    sim::VirtualIrd::Options options;
    options.baud = 115200;
    sim::VirtualIrd ird(options);
    std::string why;
    ASSERT_TRUE(ird.Start(&why)) << why;
    test::ComLink com5(5, ird.SlavePath());
    ASSERT_TRUE(com5.made());
    test::TmuxScreen screen(c.columns, c.rows);
    ASSERT_TRUE(screen.Run("WINEPREFIX='" IRDLOAD_WINEPREFIX
                           "' WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' '" IRDLOAD_WINE
                           "' '" IRDLOAD_WINDOWS_CLI "' send --port COM5 '" +
                           image + "'"));
    // Once the rate is measured, 80 columns have no room left for it or the elapsed time.
    ASSERT_TRUE(screen.WaitFor(" left", kBound)) << ::testing::PrintToString(screen.Screen());
    const auto running = screen.Steady();
    // Unless the look caught the end, before the shell said how the program exited.
    if (!screen.ExitCode() && RowsWith(running.rows, "Download end").empty()) {
      const auto progress = RowsWith(running.rows, "/40 packets");
      ASSERT_EQ(progress.size(), 1u) << ::testing::PrintToString(running.rows);
      EXPECT_LT(progress[0].size(), static_cast<std::size_t>(c.columns)) << progress[0];
      EXPECT_EQ(progress[0].find(" elapsed") != std::string::npos, c.elapsedShown) << progress[0];
    }
    ASSERT_TRUE(screen.WaitFor("[exit ", kBound));
    const std::vector<std::string> end = screen.Screen(true);
    EXPECT_EQ(screen.ExitCode(), 0) << ::testing::PrintToString(end);
    // The rows are ASCII: bytes are columns. One short of the width, as the program keeps them.
    for (const auto& row : end) EXPECT_LT(row.size(), static_cast<std::size_t>(c.columns)) << row;
    EXPECT_EQ(RowsWith(end, "Download end successfully.").size(), 1u)
        << ::testing::PrintToString(end);
    const auto summary = RowsWith(end, "/40 packets");
    ASSERT_EQ(summary.size(), 1u) << ::testing::PrintToString(end);
    EXPECT_EQ(summary[0].rfind("Sent 40/40 packets  40000/40000 bytes", 0), 0u) << summary[0];
  }
}

}  // namespace
}  // namespace irdload
