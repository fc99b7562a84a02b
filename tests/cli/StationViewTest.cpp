// The station's view between the ports' events and the person: a log line at every tenth of a
// file, and on a terminal the table redrawn in place, from a clear screen after a resize.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "cli/StationView.h"

namespace irdload::cli {
namespace {

// A healthy line: nothing rejected, repeated or late.
unit::PortEvent Progress(std::size_t port, std::uint32_t unit, std::uint32_t done) {
  return {port, {}, unit::ProgressShown{unit, 1, done, 20, done * 1000ull, 20000, 0, 0, 0}};
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

TEST(StationViewTest, LogTakesAProgressLineAtEveryTenthOfAFile) {
  std::ostringstream out;
  StationView view(out, {"A", "B"}, false);
  for (std::uint32_t done = 1; done <= 20; ++done) view.Add(Progress(0, 1, done));
  // B's events come as the mailbox coalesces them: some tenths never seen.
  for (std::uint32_t done : {5u, 13u, 20u}) view.Add(Progress(1, 1, done));
  // A's next unit starts counting again.
  view.Add(Progress(0, 2, 1));
  view.Add(Progress(0, 2, 2));
  view.Draw({});
  const std::vector<std::string> lines = Lines(out.str());
  std::vector<std::string> expected;
  for (std::uint32_t done = 2; done <= 20; done += 2) {
    expected.push_back("A: unit 1: " + std::to_string(done) + "/20 packets, " +
                       std::to_string(done * 1000) + "/20000 bytes");
  }
  expected.push_back("B: unit 1: 5/20 packets, 5000/20000 bytes");
  expected.push_back("B: unit 1: 13/20 packets, 13000/20000 bytes");
  expected.push_back("B: unit 1: 20/20 packets, 20000/20000 bytes");
  expected.push_back("A: unit 2: 2/20 packets, 2000/20000 bytes");
  EXPECT_EQ(lines, expected);
}

TEST(StationViewTest, TableIsRedrawnInPlaceAndFromAClearScreenAfterAResize) {
  std::ostringstream out;
  TerminalSize size{80, 24};
  StationView view(out, {"A", "B"}, true, [&] { return size; });
  const std::vector<station::PortSnapshot> ports(2);
  view.Draw(ports);
  const std::string first = out.str();
  EXPECT_EQ(first.rfind("PORT", 0), 0u) << "nothing to go back over yet: " << first;
  EXPECT_EQ(std::count(first.begin(), first.end(), '\n'), 3) << first;
  view.Add({0, {}, unit::MessageShown{"Open Error!", ""}});
  view.Draw(ports);
  const std::string second = out.str().substr(first.size());
  // Up the three rows of the table, the new line over its first, the table again below, each
  // row cleared to its end, and clear below.
  EXPECT_EQ(second.rfind("\x1b[3F"
                         "A: Open Error!\x1b[K\nPORT",
                         0),
            0u)
      << second;
  EXPECT_EQ(std::count(second.begin(), second.end(), '\n'), 4) << second;
  EXPECT_EQ(second.substr(second.size() - 3), "\x1b[J") << second;
  size = {60, 20};
  view.Draw(ports);
  const std::string third = out.str().substr(first.size() + second.size());
  EXPECT_EQ(third.rfind("\x1b[H\x1b[JPORT", 0), 0u) << third;
  for (std::string line : Lines(third.substr(6))) {
    line = line.substr(0, line.find('\x1b'));
    EXPECT_LE(line.size(), 59u) << line;
  }
}

}  // namespace
}  // namespace irdload::cli
