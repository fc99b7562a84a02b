// irdload-cli send with both of its streams in one file (`>log 2>&1`), as CI and production
// logs take it: the lines in the order things happened, the result said once.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "cli/Commands.h"
#include "engine/ImageWriter.h"
#include "engine/Link.h"
#include "support/Process.h"
#include "support/TempDir.h"

namespace irdload::cli {
namespace {

using namespace std::chrono_literals;

class SendLogTest : public ::testing::Test {
 protected:
  std::string Image(const std::string& name, std::uint32_t type, std::size_t size) {
    return dir_.WriteBytes(name, ComposeImage(type, PatternPayload(size, 9)));
  }

  // Runs the program as a shell runs `irdload-cli ARGS >log 2>&1`; the exit code and the lines.
  std::pair<int, std::vector<std::string>> Logged(const std::vector<std::string>& args) {
    const std::string log = (dir_.path() / "log").string();
    std::string command = "'" IRDLOAD_CLI "'";
    for (const auto& a : args) command += " '" + a + "'";
    test::Process shell;
    EXPECT_TRUE(shell.Start("/bin/sh", {"-c", command + " >'" + log + "' 2>&1"}));
    shell.CloseInput();
    const std::optional<int> code = shell.Wait(120s);
    std::ifstream in(log);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return {code.value_or(-1), lines};
  }

  test::TempDir dir_;
};

TEST_F(SendLogTest, LinesComeInTheOrderThingsHappened) {
  const std::string single = Image("fw.uuc", kTypeSingle, 3000);
  const std::string first = Image("fw.u01", kTypeFirstOfPair, 3000);
  const std::string second = Image("fw.u02", kTypeSecondOfPair, 2100);
  const std::vector<std::string> handshake = {
      "Sending connect request",    "Waiting connect request ack", "Sending connect request re ack",
      "Waiting header request",     "Sending header request",      "Waiting header ACK",
      "Sending header transfer ACK"};
  const auto then = [](std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int code;
    const char* result;  // the end message, said once
    // Lines, each by its start, in this order (others may come between).
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"success",
       {single},
       EXIT_OK,
       "Download end successfully.",
       then(then({"Sending " + single + " to the virtual IRD"}, handshake),
            {" 33%  1/3 packets  1021/3000 bytes", " 66%", "100%", "Please wait for saving",
             "Waiting terminate request", "Sending success terminate ACK",
             "irdload-cli: Download end successfully.", "Sent 3/3 packets  3000/3000 bytes",
             "Verified: "})},
      {"rejected packet",
       {"--simulate-fault", "NackPacket@1", single},
       EXIT_OK,
       "Download end successfully.",
       {"Sending header transfer ACK", " 66%", "Sending data transfer NACK: packet 2/3 goes again",
        "100%", "irdload-cli: Download end successfully.", "Sent 3/3 packets"}},
      {"failure terminate",
       {"--simulate-fault", "FailTerminate", single},
       EXIT_IRD_FAILED,
       "Download Fail.",
       {"100%", "Please wait for saving", "Waiting terminate request", "Sending fail terminate ACK",
        "irdload-cli: Download Fail.", "Sent 3/3 packets  3000/3000 bytes"}},
      {"silent IRD",
       {"--simulate-fault", "SilentFrom@0", "--connect-timeout", "1", single},
       EXIT_NO_RESPONSE,
       "IRD No response: Retry download.",
       {"Sending connect request", "Waiting connect request ack",
        "irdload-cli: IRD No response: Retry download.",
        "  the IRD did not answer the connect request within 1 s",
        "Sent 0/3 packets  0/3000 bytes"}},
      {"pair",
       {first, second},
       EXIT_OK,
       "Download end successfully.",
       then(
           then({"Sending " + first + " and " + second}, handshake),
           then(then({"100%", "Sending success terminate ACK",
                      "Second file " + second + ": 2100 bytes in 3 packets"},
                     handshake),
                {"100%", "Sending success terminate ACK", "irdload-cli: Download end successfully.",
                 "Sent 6/6 packets  5100/5100 bytes", "Verified: "}))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"send", "--simulate", "--baud", "0"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const auto [code, lines] = Logged(args);
    EXPECT_EQ(code, c.code);
    const std::string log = ::testing::PrintToString(lines);
    std::size_t next = 0;
    for (const std::string& expected : c.lines) {
      while (next < lines.size() && lines[next].rfind(expected, 0) != 0) ++next;
      ASSERT_LT(next, lines.size()) << "missing, or out of order: \"" << expected << "\"\n" << log;
      ++next;
    }
    std::size_t said = 0;
    for (const auto& l : lines) said += l.find(c.result) != std::string::npos;
    EXPECT_EQ(said, 1u) << log;
  }
}

}  // namespace
}  // namespace irdload::cli
