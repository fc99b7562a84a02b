// The station's table from figures worked out by hand: eight ports on 80x24 and 132x43, columns
// given up as the width shrinks, and ports beyond the screen summed up in one line.
#include <gtest/gtest.h>

#include "cli/StationTable.h"
#include "cli/TextColumns.h"

namespace irdload::cli {
namespace {

using namespace std::chrono_literals;

StationRow Loading(int n) {
  StationRow r;
  r.label = "ird" + std::to_string(n);
  r.state = "transferring";
  r.packetsDone = 33;
  r.packets = 65;
  r.bytesDone = 33693;
  r.bytes = 65536;
  r.bytesPerSecond = 11.2 * 1024;
  r.left = 3s;
  return r;
}

std::vector<StationRow> Ports(int count) {
  std::vector<StationRow> ports;
  for (int n = 1; n <= count; ++n) ports.push_back(Loading(n));
  return ports;
}

TEST(StationTableTest, EightPortsFitEightyColumns) {
  // Widths 4, 21 (the longest phase name), 7, 11, 10, 5, 2, 6: 66 with seven gaps of one.
  const std::vector<std::string> lines = StationTable(Ports(8), 80, 24);
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[0], "PORT STATE                 PACKETS       BYTES       RATE  LEFT OK FAILED");
  EXPECT_EQ(lines[1], "ird1 transferring            33/65 33693/65536 11.2 KiB/s 00:03  0      0");
  EXPECT_EQ(lines[8], "ird8 transferring            33/65 33693/65536 11.2 KiB/s 00:03  0      0");
  // On 132 columns the gaps are two.
  const std::vector<std::string> wide = StationTable(Ports(8), 132, 43);
  ASSERT_EQ(wide.size(), 9u);
  EXPECT_EQ(wide[0],
            "PORT  STATE                  PACKETS        BYTES        RATE   LEFT  OK  FAILED");
  EXPECT_EQ(wide[1],
            "ird1  transferring             33/65  33693/65536  11.2 KiB/s  00:03   0       0");
}

TEST(StationTableTest, NarrowTerminalsLoseRateThenTimeLeftThenBytes) {
  struct Case {
    int columns;
    const char* header;
  };
  const Case cases[] = {
      {80, "PORT STATE                 PACKETS       BYTES       RATE  LEFT OK FAILED"},
      {70, "PORT  STATE                  PACKETS        BYTES   LEFT  OK  FAILED"},
      {60, "PORT STATE                 PACKETS       BYTES OK FAILED"},
      {50, "PORT  STATE                  PACKETS  OK  FAILED"},
      // The state's room goes last.
      {40, "PORT STATE            PACKETS OK FAILED"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.columns);
    const auto lines = StationTable(Ports(8), c.columns, 24);
    EXPECT_EQ(lines[0], c.header);
    for (const auto& l : lines) EXPECT_LE(TextWidth(l), LineLimit(c.columns)) << l;
  }
}

TEST(StationTableTest, PortsBeyondTheScreenAreSummedUp) {
  std::vector<StationRow> ports = Ports(30);
  ports[25].state = "waiting-for-adapter";
  ports[25].packets = 0;
  ports[29].state = "done";
  ports[29].ok = 4;
  ports[29].failed = 1;
  // 24 rows: the table takes 22 at most, the header and 20 ports and one line for the rest.
  const auto lines = StationTable(ports, 80, 24);
  ASSERT_EQ(lines.size(), 22u);
  EXPECT_EQ(lines[20].substr(0, 6), "ird20 ");
  EXPECT_EQ(lines[21],
            "+10 more ports: 1 done, 8 transferring, 1 waiting-for-adapter; 4 ok, 1 failed");
  // Eight ports on a screen of 10 rows: six of them shown.
  const auto small = StationTable(Ports(8), 80, 10);
  ASSERT_EQ(small.size(), 8u);
  EXPECT_EQ(small.back(), "+2 more ports: 2 transferring; 0 ok, 0 failed");
  // Unknown size: as 80x24.
  EXPECT_EQ(StationTable(Ports(8), 0, 0), StationTable(Ports(8), 80, 24));
}

TEST(StationTableTest, APortWithoutAFileLeavesItsCountsBlank) {
  std::vector<StationRow> ports = Ports(2);
  ports[1] = StationRow{};
  ports[1].label = "ird2";
  ports[1].state = "waiting-for-adapter";
  const auto lines = StationTable(ports, 80, 24);
  EXPECT_EQ(lines[2], "ird2 waiting-for-adapter" + std::string(41, ' ') + "0      0");
}

}  // namespace
}  // namespace irdload::cli
