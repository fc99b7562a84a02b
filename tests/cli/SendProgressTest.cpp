// The progress, log and summary lines of `send` from figures worked out by hand: a 1 MiB image
// half sent (512 of 1028 packets at 11.2 KiB/s), at the widths terminals come in.
#include <gtest/gtest.h>

#include "cli/SendProgress.h"
#include "cli/TextColumns.h"

namespace irdload::cli {
namespace {

using namespace std::chrono_literals;

SendFigures HalfSent() {
  SendFigures f;
  f.status = "Waiting data ACK";
  f.packetsDone = 512;
  f.packets = 1028;
  f.bytesDone = 512 * 1021;
  f.bytes = 1048576;
  f.elapsed = 46s;
  f.bytesPerSecond = 11.2 * 1024;
  f.left = 514s;
  return f;
}

struct LineCase {
  int columns;
  std::string line;
};

void ExpectLines(const std::vector<LineCase>& cases,
                 const std::function<std::string(std::size_t)>& render) {
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.columns);
    const std::string line = render(LineLimit(c.columns));
    EXPECT_EQ(line, c.line);
    EXPECT_LE(TextWidth(line), LineLimit(c.columns));
  }
}

// The state padded to 26 columns, so that the figures stand still as the state changes.
const std::string kState = "Waiting data ACK          ";

TEST(SendProgressTest, ProgressLineDropsElapsedRateTimeLeftThenBytes) {
  ExpectLines(
      {
          {132, kState + "   512/1028 packets   522752/1048576 bytes  11.2 KiB/s  08:34 left  "
                         "00:46 elapsed"},
          {100, kState + "   512/1028 packets   522752/1048576 bytes  11.2 KiB/s  08:34 left"},
          {80, kState + "  512/1028 packets  522752/1048576 bytes 08:34 left"},
          {0, kState + "  512/1028 packets  522752/1048576 bytes 08:34 left"},
          {60, kState + "   512/1028 packets"},
          {40, "Waiting data ACK       512/1028 packets"},
          {20, "Waiting   512/1028"},
      },
      [](std::size_t limit) { return ProgressLine(HalfSent(), limit); });
}

TEST(SendProgressTest, RateAndTimeLeftOnlyOnceMeasured) {
  SendFigures f = HalfSent();
  f.bytesPerSecond.reset();
  f.left.reset();
  EXPECT_EQ(ProgressLine(f, 131),
            kState + "   512/1028 packets   522752/1048576 bytes  00:46 elapsed");
  f.elapsed.reset();
  EXPECT_EQ(ProgressLine(f, 131), kState + "   512/1028 packets   522752/1048576 bytes");
}

TEST(SendProgressTest, RetryCounterShowsFromTwoAndOutranksTheTimeLeft) {
  SendFigures f = HalfSent();
  f.retryCount = 1;
  EXPECT_EQ(ProgressLine(f, 79), ProgressLine(HalfSent(), 79)) << "a healthy line's beat";
  f.retryCount = 37;
  EXPECT_EQ(ProgressLine(f, 79), kState + "  512/1028 packets  522752/1048576 bytes retries 37");
  EXPECT_EQ(ProgressLine(f, 131),
            kState +
                "   512/1028 packets   522752/1048576 bytes  11.2 KiB/s  08:34 left  00:46 "
                "elapsed  retries 37");
}

TEST(SendProgressTest, CallingShowsTheConnectRequestsInsteadOfRetries) {
  SendFigures f;
  f.status = "Waiting connect request ack";
  f.packets = 40;
  f.bytes = 40000;
  f.retryCount = 1;
  f.connectRequests = 12;
  EXPECT_EQ(ProgressLine(f, 79),
            "Waiting connect request ack  0/40 packets     0/40000 bytes 12 connect requests");
  EXPECT_EQ(ProgressLine(f, 69), "Waiting connect request ack   0/40 packets  12 connect requests");
}

TEST(SendProgressTest, LogLineLeadsWithTheShareSent) {
  ExpectLines({{0, " 49%   512/1028 packets   522752/1048576 bytes  11.2 KiB/s  08:34 left"},
               {132,
                " 49%   512/1028 packets   522752/1048576 bytes  11.2 KiB/s  08:34 left  00:46 "
                "elapsed"}},
              [](std::size_t limit) { return ProgressLogLine(HalfSent(), limit); });
  SendFigures last = HalfSent();
  last.packetsDone = 1028;
  last.bytesDone = 1048576;
  last.left.reset();
  EXPECT_EQ(ProgressLogLine(last, 79),
            "100%  1028/1028 packets  1048576/1048576 bytes  11.2 KiB/s  00:46 elapsed");
}

TEST(SendProgressTest, SummarySaysWhatWasSentInAllAndHowFast) {
  SendTotals done;
  done.packetsDone = 1028;
  done.packets = 1028;
  done.bytesDone = 1048576;
  done.bytes = 1048576;
  done.elapsed = 93500ms;
  done.bytesPerSecond = 11.2 * 1024;
  ExpectLines({{80, "Sent 1028/1028 packets  1048576/1048576 bytes  in 01:33  11.2 KiB/s"},
               {60, "Sent 1028/1028 packets  1048576/1048576 bytes  in 01:33"},
               {40, "Sent 1028/1028 packets"}},
              [&](std::size_t limit) { return SummaryLine(done, limit); });
  // What the line did, when it did anything: rejections and repeats before the bytes.
  SendTotals rough = done;
  rough.rejections = 1;
  rough.repeats = 2;
  rough.lateReplies = 14;
  ExpectLines(
      {{132,
        "Sent 1028/1028 packets  1048576/1048576 bytes  in 01:33  11.2 KiB/s  1 rejection  "
        "2 replies repeated  14 late replies"},
       {80, "Sent 1028/1028 packets  1048576/1048576 bytes  1 rejection  2 replies repeated"},
       {60, "Sent 1028/1028 packets  1 rejection  2 replies repeated"}},
      [&](std::size_t limit) { return SummaryLine(rough, limit); });
  // The IRD never answered: nothing was timed.
  SendTotals none;
  none.packets = 40;
  none.bytes = 40000;
  EXPECT_EQ(SummaryLine(none, 79), "Sent 0/40 packets  0/40000 bytes");
}

TEST(SendProgressTest, TimesAndCounts) {
  EXPECT_EQ(MinutesSeconds(0s), "00:00");
  EXPECT_EQ(MinutesSeconds(59s), "00:59");
  EXPECT_EQ(MinutesSeconds(4503s), "75:03");
  EXPECT_EQ(MinutesSeconds(-3s), "00:00");
  EXPECT_EQ(CountOf(7, 1028), "   7/1028");
  EXPECT_EQ(CountOf(1028, 1028), "1028/1028");
  EXPECT_EQ(CountOf(0, 0), "0/0");
  EXPECT_EQ(Rate(11468.8), "11.2 KiB/s");
}

}  // namespace
}  // namespace irdload::cli
