#include "bench/PtyDelivery.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "bench/Stats.h"
#include "sim/LineClock.h"
#include "sim/PseudoTerminal.h"

namespace irdload::bench {
namespace {

using namespace std::chrono_literals;

// Between bytes the reader goes idle, as the PC does while a packet crosses the line.
constexpr auto kGap = 5ms;

struct Delivery {
  std::string error;
  std::vector<std::chrono::nanoseconds> latencies;
};

// Writes `count` bytes to the master, `kGap` apart; a thread on the slave reads each one,
// spinning or sleeping in ppoll, and the time from the write to its read is kept.
Delivery Measure(int count, bool spin) {
  Delivery d;
  sim::PseudoTerminal pty;
  if (!sim::OpenRawPseudoTerminal(true, pty, &d.error)) return d;
  std::atomic<std::int64_t> writtenAt{0};
  std::atomic<bool> done{false};
  std::vector<std::chrono::nanoseconds> latencies;
  std::thread reader([&] {
    std::uint8_t byte = 0;
    while (!done.load(std::memory_order_acquire)) {
      if (!spin) {
        pollfd p{pty.slave, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
      }
      const ssize_t n = read(pty.slave, &byte, 1);
      const auto at = sim::MonotonicNow();
      if (n == 1) latencies.push_back(at - std::chrono::nanoseconds{writtenAt.load()});
    }
  });
  // The slave is blocking: a spinning reader must not sleep in read().
  if (spin) {
    const int flags = fcntl(pty.slave, F_GETFL);
    fcntl(pty.slave, F_SETFL, flags | O_NONBLOCK);
  }
  for (int i = 0; i < count; ++i) {
    std::this_thread::sleep_for(kGap);
    const std::uint8_t byte = 0xE8;
    writtenAt.store(sim::MonotonicNow().count());
    if (write(pty.master, &byte, 1) != 1) {
      d.error = "write to the master failed";
      break;
    }
  }
  std::this_thread::sleep_for(kGap);
  done.store(true, std::memory_order_release);
  reader.join();
  sim::CloseAndReset(pty.master);
  sim::CloseAndReset(pty.slave);
  d.latencies = std::move(latencies);
  return d;
}

}  // namespace

void MeasurePtyDelivery(BenchContext& context, std::vector<Row>& rows) {
  const int count = context.quick() ? 200 : 2000;
  for (const bool spin : {true, false}) {
    Row row;
    row.figure = spin ? "Pty delivery to a reader that never sleeps (the kernel's part)"
                      : "Pty delivery to a reader asleep in poll (the kernel's part and the wake)";
    context.Progress(row.figure);
    const std::string load = LoadNow();
    const Delivery d = Measure(count, spin);
    row.inputs = std::to_string(count) + " bytes master to slave, " + std::to_string(kGap.count()) +
                 " ms apart; " + load;
    row.goal = "none (what the PC's wait cannot shave)";
    row.ratio = "—";
    if (!d.error.empty()) {
      context.MarkBroken();
      row.value = "failed: " + d.error;
    } else {
      row.value = SpreadOf(d.latencies).Describe();
    }
    rows.push_back(row);
  }
}

}  // namespace irdload::bench
