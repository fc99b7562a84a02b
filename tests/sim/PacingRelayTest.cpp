// The pacing relay: its per-direction schedule on its own, and the relay between two real
// pseudo-terminals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "sim/PacingRelay.h"
#include "support/RawTtyEnd.h"

namespace irdload::sim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using std::chrono::nanoseconds;

// Only ever a bound on a wait: sanitizer builds share two cores with other work.
constexpr auto kTransferBound = 60s;
// Fast enough that the large cases take a fraction of a second when the machine is idle.
constexpr std::uint32_t kFastBaud = 4'000'000;

// ---- The schedule ----------------------------------------------------------------------------

struct Burst {
  nanoseconds readAt;
  std::size_t bytes;
};

struct ScheduleCase {
  const char* name;
  std::vector<Burst> bursts;
  std::vector<nanoseconds> expectedDue;  // for every byte, in order
};

class PacedByteQueueTest : public ::testing::TestWithParam<ScheduleCase> {};

TEST_P(PacedByteQueueTest, DeliversEachByteOneLineTimeAfterTheLaterOfItsReadAndItsPredecessor) {
  const ScheduleCase& c = GetParam();
  PacedByteQueue queue(nanoseconds{100});
  Bytes sent;
  for (const Burst& burst : c.bursts) {
    Bytes data(burst.bytes);
    for (auto& b : data) b = static_cast<std::uint8_t>(sent.size() + (&b - data.data()));
    queue.Push(data.data(), data.size(), burst.readAt);
    sent.insert(sent.end(), data.begin(), data.end());
  }
  ASSERT_EQ(queue.size(), c.expectedDue.size());

  // Drain it byte by byte at exactly each due time: nothing is due a moment earlier, and the
  // bytes come out in the order they went in.
  Bytes delivered;
  for (const nanoseconds due : c.expectedDue) {
    ASSERT_EQ(queue.NextDue(), due);
    EXPECT_EQ(queue.DueCount(due - nanoseconds{1}), 0u);
    EXPECT_GE(queue.DueCount(due), 1u);
    std::uint8_t byte = 0;
    ASSERT_EQ(queue.CopyFront(&byte, 1), 1u);
    delivered.push_back(byte);
    queue.Drop(1);
  }
  EXPECT_EQ(delivered, sent);
  EXPECT_FALSE(queue.NextDue().has_value());
  EXPECT_EQ(queue.DueCount(nanoseconds{1'000'000}), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Schedules, PacedByteQueueTest,
    ::testing::Values(
        ScheduleCase{"OneByte", {{nanoseconds{1000}, 1}}, {nanoseconds{1100}}},
        ScheduleCase{"BurstLeavesOneLineTimeApart",
                     {{nanoseconds{1000}, 3}},
                     {nanoseconds{1100}, nanoseconds{1200}, nanoseconds{1300}}},
        // The second burst is read while the first still occupies the line: it queues behind.
        ScheduleCase{"BurstWhileBusyQueuesBehind",
                     {{nanoseconds{1000}, 2}, {nanoseconds{1050}, 2}},
                     {nanoseconds{1100}, nanoseconds{1200}, nanoseconds{1300}, nanoseconds{1400}}},
        // The line went idle in between: the next byte starts when it is read, not earlier.
        ScheduleCase{"IdleLineStartsAtTheRead",
                     {{nanoseconds{1000}, 1}, {nanoseconds{5000}, 2}},
                     {nanoseconds{1100}, nanoseconds{5100}, nanoseconds{5200}}}),
    [](const ::testing::TestParamInfo<ScheduleCase>& info) {
      return std::string(info.param.name);
    });

TEST(PacedByteQueue, CopyFrontAndDropTakeAPrefixOfWhatIsDue) {
  PacedByteQueue queue(nanoseconds{10});
  const Bytes data = {1, 2, 3, 4, 5};
  queue.Push(data.data(), data.size(), nanoseconds{0});
  EXPECT_EQ(queue.DueCount(nanoseconds{35}), 3u);

  Bytes front(8, 0);
  ASSERT_EQ(queue.CopyFront(front.data(), 2), 2u);
  EXPECT_EQ((Bytes{front[0], front[1]}), (Bytes{1, 2}));
  queue.Drop(2);  // a partial write: the rest stays, still in order
  EXPECT_EQ(queue.DueCount(nanoseconds{35}), 1u);
  ASSERT_EQ(queue.CopyFront(front.data(), front.size()), 3u);
  EXPECT_EQ((Bytes{front[0], front[1], front[2]}), (Bytes{3, 4, 5}));
  queue.Drop(10);  // more than held: empties it
  EXPECT_EQ(queue.size(), 0u);
}

// ---- The relay on real pseudo-terminals -------------------------------------------------------

// One program's end of the line: the slave opened by path, raw and non-blocking.
class LineEnd : public test::RawTtyEnd {
 public:
  ::testing::AssertionResult Open(const std::string& path) {
    return RawTtyEnd::Open(path, O_NONBLOCK);
  }
};

// Sends `toB` from A and `toA` from B at the same time, reading both far ends as it goes,
// until everything arrived or the bound passed. Returns what each end received.
struct Received {
  Bytes atA, atB;
};

Received Exchange(const LineEnd& a, const LineEnd& b, const Bytes& toB, const Bytes& toA) {
  Received got;
  std::size_t sentToB = 0, sentToA = 0;
  const auto deadline = std::chrono::steady_clock::now() + kTransferBound;
  while ((got.atB.size() < toB.size() || got.atA.size() < toA.size()) &&
         std::chrono::steady_clock::now() < deadline) {
    pollfd fds[2] = {
        {a.fd(), static_cast<short>(POLLIN | (sentToB < toB.size() ? POLLOUT : 0)), 0},
        {b.fd(), static_cast<short>(POLLIN | (sentToA < toA.size() ? POLLOUT : 0)), 0}};
    if (poll(fds, 2, 100) <= 0) continue;
    const auto pump = [](const pollfd& p, const Bytes& out, std::size_t& sent, Bytes& in) {
      if ((p.revents & POLLOUT) != 0 && sent < out.size()) {
        const ssize_t n = write(p.fd, out.data() + sent, out.size() - sent);
        if (n > 0) sent += static_cast<std::size_t>(n);
      }
      if ((p.revents & POLLIN) != 0) {
        std::uint8_t buf[4096];
        const ssize_t n = read(p.fd, buf, sizeof buf);
        if (n > 0) in.insert(in.end(), buf, buf + n);
      }
    };
    pump(fds[0], toB, sentToB, got.atA);
    pump(fds[1], toA, sentToA, got.atB);
  }
  return got;
}

Bytes Pattern(std::size_t size, std::uint8_t salt) {
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i)
    out[i] = static_cast<std::uint8_t>(i * 13 + i / 256 + salt);
  return out;
}

class PacingRelayTest : public ::testing::Test {
 protected:
  void StartRelay(std::uint32_t baud) {
    relay_ = std::make_unique<PacingRelay>(baud);
    std::string error;
    ASSERT_TRUE(relay_->Start(&error)) << error;
    ASSERT_TRUE(a_.Open(relay_->SlavePath(PacingRelay::End::A)));
    ASSERT_TRUE(b_.Open(relay_->SlavePath(PacingRelay::End::B)));
  }
  ::testing::AssertionResult DeliveredReaches(PacingRelay::End from, std::uint64_t expected) {
    const auto deadline = std::chrono::steady_clock::now() + kTransferBound;
    std::uint64_t got = relay_->BytesDelivered(from);
    while (got < expected && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(1ms);
      got = relay_->BytesDelivered(from);
    }
    if (got == expected) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "delivered " << got << ", expected " << expected;
  }
  void TearDown() override {
    a_.Close();
    b_.Close();
    relay_.reset();
  }

  std::unique_ptr<PacingRelay> relay_;
  LineEnd a_, b_;
};

TEST_F(PacingRelayTest, CarriesBothDirectionsAtOnceUnalteredAndInOrder) {
  // Sizes below, at and well past the relay's own queue, so that a writer that has to wait for
  // room still loses nothing; every byte value passes (raw mode end to end).
  for (const std::size_t size :
       {std::size_t{1}, std::size_t{256}, std::size_t{4096}, std::size_t{70000}}) {
    SCOPED_TRACE(size);
    StartRelay(kFastBaud);
    const Bytes toB = Pattern(size, 1);
    const Bytes toA = Pattern(size / 2 + 1, 7);
    const Received got = Exchange(a_, b_, toB, toA);
    EXPECT_EQ(got.atB, toB);
    EXPECT_EQ(got.atA, toA);
    // The relay counts a write once it has returned, which can be just after the reader saw it.
    EXPECT_TRUE(DeliveredReaches(PacingRelay::End::A, toB.size()));
    EXPECT_TRUE(DeliveredReaches(PacingRelay::End::B, toA.size()));
    // The line's busy span: a byte is written out only after the first byte was read.
    const auto first = relay_->FirstByteReadAt();
    EXPECT_GT(first.count(), 0);
    EXPECT_GT(relay_->LastByteDeliveredAt(PacingRelay::End::A), first);
    EXPECT_GT(relay_->LastByteDeliveredAt(PacingRelay::End::B), first);
    TearDown();
  }
}

TEST_F(PacingRelayTest, AnEndMayCloseAndReopenWithoutBreakingTheLine) {
  StartRelay(kFastBaud);
  EXPECT_EQ(relay_->FirstByteReadAt().count(), 0);
  const Bytes first = Pattern(500, 3);
  EXPECT_EQ(Exchange(a_, b_, first, {}).atB, first);
  EXPECT_EQ(relay_->LastByteDeliveredAt(PacingRelay::End::B).count(), 0);  // B sent nothing

  // A program that exits and another that opens the same end: the relay holds every slave, so
  // it sees no hang-up and the new program's bytes still go through.
  a_.Close();
  ASSERT_TRUE(a_.Open(relay_->SlavePath(PacingRelay::End::A)));
  const Bytes second = Pattern(500, 9);
  const Received got = Exchange(a_, b_, second, second);
  EXPECT_EQ(got.atB, second);
  EXPECT_EQ(got.atA, second);
}

TEST_F(PacingRelayTest, ASlowLineHoldsBytesBackAndStopEndsItWithTheQueueUndelivered) {
  // 300 baud: a 1000-byte burst needs 33 s of line time, far longer than this test runs.
  StartRelay(300);
  const Bytes burst = Pattern(1000, 5);
  ASSERT_EQ(write(a_.fd(), burst.data(), burst.size()), static_cast<ssize_t>(burst.size()));
  // The first bytes still come through, one line time after another.
  pollfd p{b_.fd(), POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 10'000), 1) << "no byte came through within 10 s";
  std::uint8_t byte = 0;
  ASSERT_EQ(read(b_.fd(), &byte, 1), 1);
  EXPECT_EQ(byte, burst[0]);

  relay_->Stop();
  relay_->Stop();  // a second stop is harmless
  EXPECT_LT(relay_->BytesDelivered(PacingRelay::End::A), burst.size());
}

TEST(PacingRelayStart, RefusesWithAReason) {
  {
    PacingRelay unpaced(0);
    std::string error;
    EXPECT_FALSE(unpaced.Start(&error));
    EXPECT_NE(error.find("baud"), std::string::npos) << error;
    EXPECT_TRUE(unpaced.SlavePath(PacingRelay::End::A).empty());
  }
  {
    PacingRelay relay(115200);
    std::string error;
    ASSERT_TRUE(relay.Start(&error)) << error;
    const std::string pathA = relay.SlavePath(PacingRelay::End::A);
    EXPECT_NE(pathA, relay.SlavePath(PacingRelay::End::B));
    EXPECT_FALSE(relay.Start(&error));
    EXPECT_NE(error.find("already started"), std::string::npos) << error;
    EXPECT_EQ(relay.SlavePath(PacingRelay::End::A), pathA);  // the running relay is untouched
  }
}

}  // namespace
}  // namespace irdload::sim
