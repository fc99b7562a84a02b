// The console host between the engine's events and the person, its two streams written into one
// so that their order shows: on a terminal the line redrawn in place, wiped for a message and
// replaced by the summary; in a log, the lines due before any message.
#include <gtest/gtest.h>

#include <optional>
#include <sstream>

#include "cli/ConsoleHost.h"
#include "engine/Link.h"
#include "engine/ProtocolMachine.h"

namespace irdload::cli {
namespace {

EngineEvent State(DownloadState state, std::string_view status) {
  return StateEntered{state, ProtocolMachine::PhaseOf(state), status};
}

EngineEvent Accepted(std::uint32_t packets, std::uint32_t bytes) {
  return ImageAccepted{"fw.uuc", IMAGE_SINGLE, kTypeSingle, bytes, packets, 1};
}

TEST(ConsoleHostTest, TerminalLineIsRedrawnWipedForAMessageAndReplacedByTheSummary) {
  std::ostringstream both;
  ConsoleHost host("COM1", "fw.uuc", "", ConsoleOutput{both, both, true, [] { return 80; }});
  host.Note("Sending fw.uuc to COM1: 3000 bytes in 3 packets");
  host.OnEvent(Accepted(3, 3000));
  host.OnEvent(State(STATUS_SEND_CONNECT_REQ, "Sending connect request"));
  host.OnEvent(PortOpened{"COM1"});  // nothing to show
  host.OnEvent(State(STATUS_WAIT_CONNECT_ACK, "Waiting connect request ack"));
  host.Render(false);
  host.MessageBox("COM1 Open Error!", "busy", {});
  host.Render(false);
  host.OnEvent(DownloadEnded{Outcome{}, LinkCounts{}});
  host.Render(true);
  host.Render(false);  // the summary stays
  const std::string line =
      "Waiting connect request ack  0/3 packets     0/3000 bytes  1 connect request";
  ASSERT_EQ(line.size(), 76u);
  EXPECT_EQ(both.str(), "Sending fw.uuc to COM1: 3000 bytes in 3 packets\n\r" + line + "\r" +
                            std::string(76, ' ') + "\rirdload-cli: COM1 Open Error!\n  busy\n\r" +
                            line + "\r" + "Sent 0/3 packets  0/3000 bytes" + std::string(49, ' ') +
                            "\n");
}

TEST(ConsoleHostTest, LogSaysEachStateOnceEveryTenthAndTheResultOnce) {
  std::ostringstream both;
  ConsoleHost host("COM1", "fw.uuc", "", ConsoleOutput{both, both, false, {}}, JobSize{3, 3000});
  host.OnEvent(Accepted(3, 3000));
  for (int call = 0; call < 3; ++call) {
    host.OnEvent(State(STATUS_SEND_CONNECT_REQ, "Sending connect request"));
    host.OnEvent(State(STATUS_WAIT_CONNECT_ACK, "Waiting connect request ack"));
    host.OnEvent(RetryCountShown{1});
  }
  // A pass: its state, what came of it, then the retry counter (0: the step succeeded).
  const auto pass = [&](DownloadState state, std::string_view status,
                        std::optional<ProgressMade> progress = {}) {
    host.OnEvent(State(state, status));
    if (progress) host.OnEvent(*progress);
    host.OnEvent(RetryCountShown{0});
  };
  for (std::uint32_t n = 1; n <= 3; ++n) {
    pass(STATUS_WAIT_DATA_REQ, "Waiting data request");
    pass(STATUS_SEND_DATA, "Sendig data packet",
         ProgressMade{n % 3, n, 3, std::min(n * 1021u, 3000u), 3000});
    pass(STATUS_WAIT_DATA_ACK, "Waiting data ACK");
    if (n == 2) {
      // Rejected twice: the same packet goes again, and counts no further.
      host.OnEvent(PacketRejected{1, 2});
      pass(STATUS_SEND_DATA_NACK, "Sending data transfer NACK");
      pass(STATUS_WAIT_DATA_REQ, "Waiting data request");
      pass(STATUS_SEND_DATA, "Sendig data packet", ProgressMade{2, 2, 3, 2042, 3000});
      pass(STATUS_WAIT_DATA_ACK, "Waiting data ACK");
    }
    pass(STATUS_SEND_DATA_ACK, n == 3 ? "Please wait for saving" : "Sending data transfer ACK");
  }
  host.OnEvent(State(STATUS_WAIT_TERMINATE_REQ, "Waiting terminate request"));
  host.OnEvent(DownloadEnded{Outcome{OutcomeKind::Failed, FailureReason::IrdReportedFailure,
                                     "Download Fail.", "the IRD reported failure"},
                             LinkCounts{2, 1, 0, 0, 40}});
  host.MessageBox("Download Fail.", "the IRD reported failure", {});
  host.Render(true);
  EXPECT_EQ(both.str(),
            "Sending connect request\n"
            "Waiting connect request ack\n"
            " 33%  1/3 packets  1021/3000 bytes\n"
            " 66%  2/3 packets  2042/3000 bytes\n"
            "Sending data transfer NACK: packet 2/3 goes again, rejected 2 times in a row\n"
            "100%  3/3 packets  3000/3000 bytes\n"
            "Please wait for saving\n"
            "Waiting terminate request\n"
            "irdload-cli: Download Fail.\n"
            "  the IRD reported failure\n"
            "Sent 3/3 packets  3000/3000 bytes  2 rejections  1 reply repeated\n");
}

}  // namespace
}  // namespace irdload::cli
