// What a person sees of irdload-cli in a terminal of a set size (tmux at 80x24 and 132x43): send
// leaves one progress line redrawn in place and then a summary, the station's table stands
// still, and no line is wider than the terminal.
#include <gtest/gtest.h>

#include "cli/Commands.h"
#include "cli/TextColumns.h"
#include "engine/ImageWriter.h"
#include "engine/Link.h"
#include "support/IrdFarm.h"
#include "support/TempDir.h"
#include "support/Tmux.h"

namespace irdload::cli {
namespace {

using namespace std::chrono_literals;

constexpr auto kBound = 120s;

class ScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::TmuxScreen::Available()) GTEST_SKIP() << "tmux is not installed";
  }
  std::string Image(std::size_t size) {
    return dir_.WriteBytes("fw.uuc", ComposeImage(kTypeSingle, PatternPayload(size, 5)));
  }
  static std::string Quoted(const std::string& text) { return "'" + text + "'"; }

  // Every row of the screen, with what the terminal wrapped joined again, within the width.
  static void ExpectWithin(const std::vector<std::string>& joined, int columns) {
    for (const auto& row : joined) {
      EXPECT_LE(TextWidth(row), LineLimit(columns)) << "wider than the terminal: " << row;
    }
  }
  static std::vector<std::size_t> RowsWith(const std::vector<std::string>& rows,
                                           const std::string& text) {
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (rows[i].find(text) != std::string::npos) found.push_back(i);
    }
    return found;
  }

  test::TempDir dir_;
};

TEST_F(ScreenTest, SendLeavesOneProgressLineThenTheSummary) {
  const std::string image = Image(40000);  // 40 packets: about 4 s at 115200 baud
  for (const auto& [columns, rows] : {std::pair{80, 24}, std::pair{132, 43}}) {
    SCOPED_TRACE(std::to_string(columns) + "x" + std::to_string(rows));
    test::TmuxScreen screen(columns, rows);
    ASSERT_TRUE(screen.Run(Quoted(IRDLOAD_CLI) + " send --simulate " + Quoted(image)));
    // While it runs: one progress line, on the cursor's row, as wide as the terminal allows.
    ASSERT_TRUE(screen.WaitFor("/40 packets", kBound));
    // A look between the progress line's wipe and the result has neither: look again.
    test::TmuxScreen::Look running = screen.Steady();
    for (int tries = 0; tries < 20 && RowsWith(running.rows, "/40 packets").empty(); ++tries) {
      running = screen.Steady();
    }
    // Unless the look caught the end, before the shell said how the program exited.
    if (!screen.ExitCode() && RowsWith(running.rows, "Download end").empty()) {
      ExpectWithin(running.rows, columns);
      const auto progress = RowsWith(running.rows, "/40 packets");
      ASSERT_EQ(progress.size(), 1u) << ::testing::PrintToString(running.rows);
      EXPECT_EQ(running.cursor, static_cast<int>(progress[0]));
    }
    ASSERT_TRUE(screen.WaitFor("[exit ", kBound));
    const std::vector<std::string> end = screen.Screen(true);
    ExpectWithin(end, columns);
    EXPECT_EQ(screen.ExitCode(), EXIT_OK) << ::testing::PrintToString(end);
    // The progress line became the summary: the result said once, with the figures after it.
    const auto result = RowsWith(end, "Download end successfully.");
    const auto progress = RowsWith(end, "/40 packets");
    const auto verified = RowsWith(end, "Verified:");
    ASSERT_EQ(result.size(), 1u) << ::testing::PrintToString(end);
    ASSERT_EQ(progress.size(), 1u) << ::testing::PrintToString(end);
    ASSERT_EQ(verified.size(), 1u) << ::testing::PrintToString(end);
    // Spaces that wiped the progress line stay in the terminal's cells; nobody sees them.
    EXPECT_EQ(end[result[0]].substr(0, end[result[0]].find_last_not_of(' ') + 1),
              "irdload-cli: Download end successfully.");
    EXPECT_EQ(end[progress[0]].rfind("Sent 40/40 packets  40000/40000 bytes  in 00:0", 0), 0u)
        << end[progress[0]];
    EXPECT_EQ(progress[0], result[0] + 1);
    EXPECT_EQ(verified[0], progress[0] + 1);
    EXPECT_TRUE(RowsWith(end, "Waiting").empty()) << "no state left behind";
  }
}

TEST_F(ScreenTest, StationTableStandsStillWithEightPorts) {
  constexpr int kColumns = 80, kRows = 24, kPorts = 8;
  const std::string image = Image(20000);
  test::IrdFarm farm((dir_.path() / "links").string(), kPorts);
  ASSERT_TRUE(farm.started());
  std::string command = Quoted(IRDLOAD_CLI) + " station --units 1 --next-unit replug";
  for (int n = 1; n <= kPorts; ++n) {
    command += " --port " + Quoted("ird" + std::to_string(n) + "=" + farm.Link(n));
  }
  test::TmuxScreen screen(kColumns, kRows);
  ASSERT_TRUE(screen.Run(command + " " + Quoted(image)));
  ASSERT_TRUE(screen.WaitFor("PORT ", kBound));
  std::vector<std::size_t> headerRows;
  const auto deadline = std::chrono::steady_clock::now() + kBound;
  while (!screen.ExitCode() && std::chrono::steady_clock::now() < deadline) {
    const auto [rows, cursor] = screen.Steady();
    // The look may have caught the last lines: the closing summary scrolls the finished table up
    // by a row before the shell has said how the program exited.
    if (screen.ExitCode() || !RowsWith(rows, " units loaded, ").empty()) break;
    ExpectWithin(rows, kColumns);
    const auto header = RowsWith(rows, "PORT ");
    ASSERT_EQ(header.size(), 1u) << ::testing::PrintToString(rows);
    const std::size_t h = header[0];
    ASSERT_GT(rows.size(), h + kPorts) << ::testing::PrintToString(rows);
    for (int n = 1; n <= kPorts; ++n) {
      EXPECT_EQ(rows[h + n].rfind("ird" + std::to_string(n) + " ", 0), 0u)
          << ::testing::PrintToString(rows);
    }
    // The table is the last thing on the screen, the cursor right below it.
    EXPECT_EQ(cursor, static_cast<int>(h + kPorts + 1)) << ::testing::PrintToString(rows);
    headerRows.push_back(h);
    std::this_thread::sleep_for(100ms);
  }
  ASSERT_TRUE(screen.WaitFor("[exit ", kBound));
  EXPECT_EQ(screen.ExitCode(), EXIT_OK) << ::testing::PrintToString(screen.Screen());
  ExpectWithin(screen.Screen(true), kColumns);
  EXPECT_FALSE(RowsWith(screen.Screen(), "8 units loaded, 0 failed").empty());
  ASSERT_GE(headerRows.size(), 3u) << "too few looks at the table";
  // Lines scroll above it; the table only ever moves down, to the bottom of the screen.
  EXPECT_TRUE(std::is_sorted(headerRows.begin(), headerRows.end()))
      << ::testing::PrintToString(headerRows);
  EXPECT_LE(headerRows.back(), static_cast<std::size_t>(kRows - 1 - (kPorts + 1)));
}

}  // namespace
}  // namespace irdload::cli
