// Lines and columns fitted to a terminal's width: the margin kept, UTF-8 counted by character,
// words folded, and the least useful columns given up first.
#include <gtest/gtest.h>

#include "cli/TextColumns.h"

namespace irdload::cli {
namespace {

TEST(TextColumnsTest, LinesStopShortOfTheRightMargin) {
  EXPECT_EQ(LineLimit(80), 79u);
  EXPECT_EQ(LineLimit(132), 131u);
  EXPECT_EQ(LineLimit(0), 79u) << "unknown width";
  EXPECT_EQ(LineLimit(-1), 79u);
  EXPECT_EQ(LineLimit(1), 1u);
}

TEST(TextColumnsTest, WidthCountsCharactersNotBytes) {
  EXPECT_EQ(TextWidth("abc"), 3u);
  EXPECT_EQ(TextWidth("Открыть"), 7u);
  EXPECT_EQ(TextWidth("é.uuc"), 5u);
  EXPECT_EQ(CutToWidth("aéb", 2), "aé");
  EXPECT_EQ(CutToWidth("Открыть", 3), "Отк");
  EXPECT_EQ(CutToWidth("abc", 9), "abc");
  EXPECT_EQ(PadRight("é", 3), "é  ");
  EXPECT_EQ(PadLeft("é", 3), "  é");
  EXPECT_EQ(PadLeft("abcd", 3), "abcd");
}

TEST(TextColumnsTest, FoldBreaksBetweenWords) {
  struct Case {
    const char* text;
    std::size_t limit;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"short", 20, {"short"}},
      {"", 20, {""}},
      {"one two three four", 9, {"one two", "  three", "  four"}},
      {"abcdefghij xy", 4, {"abcd", "  ef", "  gh", "  ij", "  xy"}},
      {"Sending /tmp/fw.uuc to the virtual IRD (/dev/pts/3): 1048576 bytes in 1028 packets",
       79,
       {"Sending /tmp/fw.uuc to the virtual IRD (/dev/pts/3): 1048576 bytes in 1028", "  packets"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Fold(c.text, c.limit), c.lines);
    for (const auto& line : Fold(c.text, c.limit)) EXPECT_LE(TextWidth(line), c.limit);
  }
  EXPECT_EQ(Fold("aa bb cc", 5, ""), (std::vector<std::string>{"aa bb", "cc"}));
}

// Three columns: the kept state, the bytes (ranked 1) and the rate (ranked 2, so it goes first).
TEST(TextColumnsTest, ColumnsGiveUpGapsThenTheLeastUsefulThenTheStatesRoom) {
  Column state;
  state.cells = {"Waiting data ACK"};
  state.shrinks = true;
  state.minWidth = 20;
  Column bytes;
  bytes.cells = {"1/2 bytes"};
  bytes.dropRank = 1;
  Column rate;
  rate.cells = {"9.9 KiB/s"};
  rate.dropRank = 2;
  struct Case {
    std::size_t limit;
    const char* line;
  };
  // The full line: 20 + 2 + 9 + 2 + 9 = 42 columns with two-space gaps, 40 with one.
  const Case cases[] = {
      {42, "Waiting data ACK      1/2 bytes  9.9 KiB/s"},
      {41, "Waiting data ACK     1/2 bytes 9.9 KiB/s"},
      {40, "Waiting data ACK     1/2 bytes 9.9 KiB/s"},
      {39, "Waiting data ACK      1/2 bytes"},
      {30, "Waiting data ACK     1/2 bytes"},
      {29, "Waiting data ACK"},
      {16, "Waiting data ACK"},
      {12, "Waiting data"},
      {5, "Waiti"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.limit);
    const auto lines = FitColumns({state, bytes, rate}, 1, c.limit);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], c.line);
    EXPECT_LE(TextWidth(lines[0]), c.limit);
  }
}

TEST(TextColumnsTest, TableHasAHeaderRowAndAlignedCells) {
  Column name;
  name.header = "PORT";
  name.cells = {"a", "long-name"};
  Column count;
  count.header = "OK";
  count.cells = {"3", "12"};
  count.alignRight = true;
  Column empty;
  empty.cells = {"", ""};
  empty.dropRank = 1;
  const auto lines = FitColumns({name, count, empty}, 2, 79);
  EXPECT_EQ(lines, (std::vector<std::string>{"PORT       OK", "a           3", "long-name  12"}));
}

}  // namespace
}  // namespace irdload::cli
