#include "bench/Peer.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <system_error>
#include <thread>

#include "bench/ChildProcess.h"
#include "bench/EngineRun.h"
#include "bench/Stats.h"
#include "engine/Link.h"
#include "sim/LineClock.h"
#include "sim/PacingRelay.h"

namespace irdload::bench {
namespace {

using namespace std::chrono_literals;

// lrzsz's sender may discard what is waiting on its line when it starts; it is given this
// head start so that the receiver's first 'C' is not lost (the measurement starts at that 'C').
constexpr auto kSenderHeadStart = 500ms;

// rx flushes its line as it exits, and on a pty that flush also drops its last ACK (the one for
// the sender's EOT) when the relay has not read it yet; the sender then waits for it in vain.
// The transfer is complete once rx has exited with the file, so the sender gets this long.
// (rx acknowledges the EOT only after a 1 s wait for a quiet line, part of its measured time.)
constexpr auto kSenderFinishGrace = 3s;

// XMODEM-1K: STX, block number, its complement, 1024 data bytes, CRC-16; then the ACK.
constexpr std::size_t kXmodemBlockLineBytes = 3 + 1024 + 2 + 1;

struct Tools {
  std::string sender, receiver;
};

std::optional<Tools> FindLrzsz() {
  // Debian installs them as sx/rx; other systems as lsx/lrx.
  for (const auto& [sx, rx] :
       {std::pair{"/usr/bin/sx", "/usr/bin/rx"}, std::pair{"/usr/bin/lsx", "/usr/bin/lrx"}}) {
    if (access(sx, X_OK) == 0 && access(rx, X_OK) == 0) return Tools{sx, rx};
  }
  return std::nullopt;
}

std::string ErrnoText(const std::string& what, int err) {
  return what + ": " + std::generic_category().message(err) + " (errno " + std::to_string(err) +
         ")";
}

// A relay end for a program's standard streams: raw, at the line's speed (lrzsz reads it).
int OpenLineEnd(const std::string& path, std::string* error) {
  int fd;
  do {
    fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    *error = ErrnoText("open " + path, errno);
    return -1;
  }
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) {
    *error = ErrnoText("tcgetattr " + path, errno);
    close(fd);
    return -1;
  }
  cfmakeraw(&tio);
  cfsetspeed(&tio, B115200);
  if (tcsetattr(fd, TCSANOW, &tio) != 0) {
    *error = ErrnoText("tcsetattr " + path, errno);
    close(fd);
    return -1;
  }
  return fd;
}

std::string LastLine(const std::string& path) {
  std::ifstream in(path);
  std::string line, last;
  // lrzsz ends progress lines with '\r'; the last complete message is what explains a failure.
  while (std::getline(in, line, '\n')) {
    std::replace(line.begin(), line.end(), '\r', ' ');
    if (line.find_first_not_of(' ') != std::string::npos) last = line;
  }
  return last;
}

bool FileStartsWith(const std::string& path, const std::vector<std::uint8_t>& expected) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::uint8_t> got(expected.size());
  in.read(reinterpret_cast<char*>(got.data()), static_cast<std::streamsize>(got.size()));
  return in.gcount() == static_cast<std::streamsize>(expected.size()) && got == expected;
}

struct XmodemRun {
  bool ok = false;
  bool unavailable = false;
  std::string error;
  std::chrono::nanoseconds span{0};   // first byte on the line to rx's exit
  std::chrono::nanoseconds toEot{0};  // first byte on the line to the EOT reaching rx
  std::chrono::nanoseconds wall{0};   // rx's start to its exit
  bool senderLostLastAck = false;     // sx was still waiting for the EOT's ACK (see above)
};

XmodemRun RunXmodem(BenchContext& context, const Tools& tools, std::size_t bytes) {
  XmodemRun run;
  std::string error;
  const std::string source = context.PayloadPath(bytes, &error);
  const std::filesystem::path folder =
      source.empty() ? std::filesystem::path{}
                     : context.workspace().MakeFolder("xmodem-" + std::to_string(bytes), &error);
  if (folder.empty()) {
    run.error = error;
    return run;
  }
  sim::PacingRelay relay(kLineBaud);
  if (!relay.Start(&error)) {
    run.error = "the pacing relay did not start: " + error;
    return run;
  }
  const int senderLine = OpenLineEnd(relay.SlavePath(sim::PacingRelay::End::A), &error);
  const int receiverLine =
      senderLine < 0 ? -1 : OpenLineEnd(relay.SlavePath(sim::PacingRelay::End::B), &error);
  const std::string senderLog = (folder / "sx.log").string();
  const std::string receiverLog = (folder / "rx.log").string();
  const int senderErr = open(senderLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int receiverErr = open(receiverLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const auto closeAll = [&] {
    for (int fd : {senderLine, receiverLine, senderErr, receiverErr}) {
      if (fd >= 0) close(fd);
    }
  };
  if (receiverLine < 0) {
    closeAll();
    run.error = error;
    return run;
  }

  ChildProcess sender, receiver;
  ChildProcess::Command senderCommand{tools.sender, {"-k", source},  senderLine, senderLine,
                                      senderErr,    folder.string(), {}};
  ChildProcess::Command receiverCommand{tools.receiver,
                                        {"-c", "received.bin"},
                                        receiverLine,
                                        receiverLine,
                                        receiverErr,
                                        folder.string(),
                                        {}};
  const bool senderStarted = sender.Start(senderCommand, &error);
  if (senderStarted) std::this_thread::sleep_for(kSenderHeadStart);
  const bool receiverStarted = senderStarted && receiver.Start(receiverCommand, &error);
  closeAll();
  if (!receiverStarted) {
    run.unavailable = true;
    run.error = error;
    return run;
  }
  const auto bound = std::chrono::duration_cast<std::chrono::milliseconds>(
      TransferBound(ProtocolLimit(bytes, kLineBaud)));
  const auto receiverExit = receiver.Wait(bound);
  if (!receiverExit) {
    run.error = "rx did not finish within " +
                std::to_string(std::chrono::duration_cast<std::chrono::seconds>(bound).count()) +
                " s (" + LastLine(receiverLog) + ")";
    return run;
  }
  // Later bytes could only be the sender repeating its EOT to nobody.
  const auto lastFromSender = relay.LastByteDeliveredAt(sim::PacingRelay::End::A);
  const auto senderExit =
      sender.Wait(std::chrono::duration_cast<std::chrono::milliseconds>(kSenderFinishGrace));
  run.senderLostLastAck = !senderExit && receiverExit->Succeeded();
  if (!receiverExit->Succeeded() || (senderExit && !senderExit->Succeeded())) {
    run.unavailable = true;
    run.error = "rx " + receiverExit->Describe() + " (" + LastLine(receiverLog) + "), sx " +
                (senderExit ? senderExit->Describe() : std::string("still running")) + " (" +
                LastLine(senderLog) + ")";
    return run;
  }
  if (!FileStartsWith((folder / "received.bin").string(), context.Payload(bytes))) {
    run.error = "rx's file differs from what sx sent";
    return run;
  }
  const auto firstByte = relay.FirstByteReadAt();
  run.span = std::chrono::nanoseconds{receiverExit->exitedAt.time_since_epoch()} - firstByte;
  run.toEot = lastFromSender - firstByte;
  run.wall = receiverExit->wall;
  run.ok = true;
  return run;
}

std::chrono::nanoseconds LineTime(std::size_t bytes) {
  return sim::ByteLineTime(kLineBaud) * static_cast<std::int64_t>(bytes);
}

double Efficiency(std::size_t bytes, std::chrono::nanoseconds measured) {
  return static_cast<double>(LineTime(bytes).count()) / static_cast<double>(measured.count());
}

}  // namespace

void MeasurePeer(BenchContext& context, const std::vector<OurLineTime>& ours,
                 std::vector<Row>& rows) {
  const std::optional<Tools> tools = FindLrzsz();
  const int runs = context.quick() ? 1 : 3;
  for (const OurLineTime& our : ours) {
    const std::size_t bytes = our.payloadBytes;
    if (bytes > 1024 * 1024) continue;  // 4 MiB would add 18 minutes
    Row peer;
    peer.figure = "Peer: XMODEM-1K (lrzsz), " + SizeName(bytes);
    peer.goal = "none (the reference for the next row)";
    peer.ratio = "—";
    const std::size_t blocks = (bytes + 1023) / 1024;
    const double xmodemIdeal =
        static_cast<double>(bytes) / static_cast<double>(blocks * kXmodemBlockLineBytes);
    peer.inputs = "sx -k into rx -c over the pacing relay at 115200; " + std::to_string(blocks) +
                  " blocks of 1030 line bytes: framing limit " + Fixed(xmodemIdeal, 4);
    const std::string load = LoadNow();
    std::vector<double> toEot, toExit;
    XmodemRun xmodem;
    for (int run = 0; run < runs; ++run) {
      if (!tools) {
        xmodem.unavailable = true;
        xmodem.error = "lrzsz is not installed (no /usr/bin/sx and rx, nor lsx and lrx)";
        break;
      }
      context.Progress(peer.figure + ": run " + std::to_string(run + 1) + " of " +
                       std::to_string(runs));
      xmodem = RunXmodem(context, *tools, bytes);
      if (!xmodem.ok) break;
      toEot.push_back(Efficiency(bytes, xmodem.toEot));
      toExit.push_back(Efficiency(bytes, xmodem.span));
    }
    const double ourEfficiency = Efficiency(bytes, our.measured);
    const double ourIdeal = Efficiency(bytes, ProtocolLimit(bytes, kLineBaud));
    Row ourRow;
    ourRow.figure = "Peer: ours, " + SizeName(bytes);
    ourRow.inputs = "irdload-cli's median line-efficiency run above: " + Duration(our.measured) +
                    " (0xE1 to 0xED, our end-of-transfer byte); " +
                    std::to_string(bytes / kChunkSize + 1) +
                    " packets of 1027 line bytes: framing limit " + Fixed(ourIdeal, 4);
    ourRow.value = Fixed(ourEfficiency, 4) + " payload efficiency";
    if (!xmodem.ok) {
      if (!xmodem.unavailable) context.MarkBroken();
      peer.value = (xmodem.unavailable ? "not available: " : "failed: ") + xmodem.error;
      ourRow.goal = "≥ XMODEM-1K's efficiency to its EOT";
      ourRow.ratio = "—";
    } else {
      peer.inputs += "; payload efficiency counted to the sender's EOT " + Repeats(toEot, 4) +
                     ", counted to rx's exit (after its 1 s quiet-line wait) " +
                     Repeats(toExit, 4) + "; " + load;
      peer.value =
          Fixed(Median(toEot), 4) + " to its EOT, " + Fixed(Median(toExit), 4) + " to rx's exit";
      ourRow.goal = "≥ XMODEM-1K's " + Fixed(Median(toEot), 4) + " (to its EOT)";
      ourRow.ratio = RatioToGoal(ourEfficiency, Median(toEot), GoalKind::AtLeast);
    }
    rows.push_back(peer);
    rows.push_back(ourRow);
  }
}

}  // namespace irdload::bench
