// The command line where a send could go wrong without anyone noticing: reply faults that cancel
// out, mistyped pairs, IRDs that go quiet, ports that vanish, traces that would harm the image,
// and names that would rewrite the terminal.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "engine/ImageWriter.h"
#include "engine/Link.h"
#include "support/Child.h"
#include "support/CliRun.h"
#include "support/Process.h"
#include "support/PtyPair.h"
#include "support/TempDir.h"

namespace irdload::cli {
namespace {

using namespace std::chrono_literals;
using irdload::test::Cli;
using irdload::test::Result;

class ReliabilityTest : public ::testing::Test {
 protected:
  std::string Image(const std::string& name, std::uint32_t type, std::size_t size,
                    std::uint32_t seed = 1) {
    return dir_.WriteBytes(name, ComposeImage(type, PatternPayload(size, seed)));
  }
  std::string Bytes(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  irdload::test::TempDir dir_;
};

// Two replies changed on the line, a repeat and a skip: the totals agree, so counting alone
// would report a wrong image as loaded.
TEST_F(ReliabilityTest, RepliesThatCancelOutNeverEndInSuccess) {
  const auto image = Image("s8.uuc", kTypeSingle, 8000, 3);
  const std::pair<const char*, const char*> pairs[] = {
      {"CorruptReply@6:233", "CorruptReply@10:231"},
      {"CorruptReply@6:233", "CorruptReply@16:231"},
      {"CorruptReply@8:233", "CorruptReply@10:231"},
      {"CorruptReply@8:233", "CorruptReply@16:231"},
  };
  for (const auto& [first, second] : pairs) {
    SCOPED_TRACE(std::string(first) + " " + second);
    const Result r = Cli({"send", "--simulate", "--baud", "0", "--simulate-fault", first,
                          "--simulate-fault", second, image});
    EXPECT_EQ(r.code, EXIT_IRD_FAILED) << r.err;
    EXPECT_EQ(r.err.find("Download end successfully."), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("may be incomplete"), std::string::npos) << r.err;
  }
}

TEST_F(ReliabilityTest, MistypedFilesAreRefusedBeforeAnythingIsSent) {
  struct Case {
    const char* label;
    std::uint32_t first;
    std::uint32_t second;  // 0: a .uuc alone
    const char* message;
  };
  const Case cases[] = {
      {"CC/CC", kTypeSingle, kTypeSingle, "Invalid File"},
      {"00/CC", 0x00000000, kTypeSingle, "Invalid File"},
      {"CC/AA", kTypeSingle, kTypeFirstOfPair, "Invalid File"},
      {"AA/AA", kTypeFirstOfPair, kTypeFirstOfPair, "Invalid Second file"},
      {"AA/unknown", kTypeFirstOfPair, 0x12345678, "Invalid Second file"},
      {".uuc typed AA", kTypeFirstOfPair, 0, "Invalid File"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<std::string> args = {"send", "--simulate", "--baud", "0"};
    if (c.second == 0) {
      args.push_back(Image("alone.uuc", c.first, 2000));
    } else {
      args.push_back(Image("pair.u01", c.first, 2000, 1));
      args.push_back(Image("pair.u02", c.second, 1500, 2));
    }
    const Result r = Cli(args);
    EXPECT_EQ(r.code, EXIT_REFUSED) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("Sending"), std::string::npos) << r.out;
  }
}

// The connect timeout covers each file's connect phase, until the IRD asks for the header.
TEST_F(ReliabilityTest, ConnectTimeoutCoversTheSecondFile) {
  const auto first = Image("fw.u01", kTypeFirstOfPair, 500, 1);
  const auto second = Image("fw.u02", kTypeSecondOfPair, 500, 2);
  // Replies of the first file: E2 E3 E4 E7 E8 EB; the IRD is silent from the second's E2.
  const Result r = Cli({"send", "--simulate", "--baud", "0", "--simulate-fault", "SilentFrom@6",
                        "--connect-timeout", "1", first, second});
  EXPECT_EQ(r.code, EXIT_NO_RESPONSE) << r.err;
  EXPECT_NE(r.err.find("did not answer the connect request within 1 s"), std::string::npos)
      << r.err;
}

// An IRD that missed the re-acknowledge and keeps acknowledging the connect request: the PC
// never hears the header request, and the timeout still ends the call.
TEST_F(ReliabilityTest, ConnectTimeoutLastsUntilTheHeaderIsRequested) {
  irdload::test::PtyPair line;
  std::atomic<bool> done{false};
  std::thread ird([&] {
    while (!done) {
      pollfd p{line.master(), POLLIN, 0};
      if (::poll(&p, 1, 20) > 0) {
        std::uint8_t buf[64];
        if (::read(line.master(), buf, sizeof buf) <= 0) continue;
      }
      line.Send({CMD_CONNECT_ACK});  // again and again, never 0xE3
    }
  });
  const auto image = Image("fw.uuc", kTypeSingle, 10);
  const Result r = Cli({"send", "--port", line.slavePath(), "--connect-timeout", "1", image});
  done = true;
  ird.join();
  EXPECT_EQ(r.code, EXIT_NO_RESPONSE) << r.err;
  EXPECT_NE(r.err.find("did not answer the connect request"), std::string::npos) << r.err;
}

TEST_F(ReliabilityTest, BadOptionsAreRefused) {
  const auto image = Image("fw.uuc", kTypeSingle, 10);
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* fragment;
  };
  const Case cases[] = {
      {{"--port", ""}, EXIT_PORT, " Open Error!"},
      {{"--read-pauses", "0"}, EXIT_REFUSED, "--read-pauses"},
      {{"--read-pauses", "100000"}, EXIT_REFUSED, "--read-pauses"},
      {{"--simulate-fault", "NackPacket@1"}, EXIT_REFUSED, "--simulate"},
      {{"--baud", "9600"}, EXIT_REFUSED, "--simulate"},
      {{"--simulate", "--simulate-fault", "NackPacket@-1"}, EXIT_REFUSED, "unknown fault"},
      {{"--simulate", "--simulate-fault", "NackPacket@4294967296"}, EXIT_REFUSED, "unknown fault"},
      {{"--simulate", "--simulate-fault", "CorruptReply@1:4294967296"},
       EXIT_REFUSED,
       "unknown fault"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"send"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back(image);
    SCOPED_TRACE(c.args.front() + " " + c.args.back());
    const Result r = Cli(args);
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_NE(r.err.find(c.fragment), std::string::npos) << r.err;
  }
  // An empty port name is said once, not once per try.
  const Result r = Cli({"send", "--port", "", image});
  const auto first = r.err.find("Open Error!");
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(r.err.find("Open Error!", first + 1), std::string::npos) << r.err;
}

TEST_F(ReliabilityTest, TraceNeverOverwritesAnInputFile) {
  const auto image = Image("victim.uuc", kTypeSingle, 3000);
  const std::string link = (dir_.path() / "link.txt").string();
  std::filesystem::create_hard_link(image, link);
  const std::string before = Bytes(image);
  for (const std::string& trace : {image, link}) {
    SCOPED_TRACE(trace);
    const Result r = Cli({"send", "--simulate", "--baud", "0", "--trace", trace, image});
    EXPECT_EQ(r.code, EXIT_REFUSED) << r.err;
    EXPECT_NE(r.err.find("would overwrite"), std::string::npos) << r.err;
    EXPECT_EQ(Bytes(image), before);
  }
}

TEST_F(ReliabilityTest, TraceThatCannotBeWrittenIsReported) {
  const auto image = Image("fw.uuc", kTypeSingle, 3000);
  // A device that takes nothing: refused before anything is sent.
  if (std::filesystem::exists("/dev/full")) {
    const Result r = Cli({"send", "--simulate", "--baud", "0", "--trace", "/dev/full", image});
    EXPECT_EQ(r.code, EXIT_REFUSED) << r.err;
    EXPECT_NE(r.err.find("cannot write the trace"), std::string::npos) << r.err;
  }
  // A disk that fills during the send: the download goes on, the run fails as a whole.
  const std::string trace = (dir_.path() / "trace.txt").string();
  const irdload::test::ChildResult child = irdload::test::RunInChild([&](std::string& text) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit cap{400, 400};
    if (::setrlimit(RLIMIT_FSIZE, &cap) != 0) return 100;
    const Result r = Cli({"send", "--simulate", "--baud", "0", "--trace", trace, image});
    text = r.err;
    return r.code;
  });
  ASSERT_TRUE(child.exited);
  EXPECT_EQ(child.code, EXIT_INTERNAL) << child.text;
  EXPECT_NE(child.text.find("the trace is incomplete"), std::string::npos) << child.text;
  EXPECT_NE(child.text.find("Download end successfully."), std::string::npos) << child.text;
}

// The check after a simulated send compares with what was loaded, not the file as it is now.
TEST_F(ReliabilityTest, FileChangedDuringTheSendStillVerifies) {
  const auto image = Image("fw.uuc", kTypeSingle, 10000, 1);
  std::thread change([&] {
    std::this_thread::sleep_for(300ms);
    // Another valid image of the same size, written in place.
    const auto other = ComposeImage(kTypeSingle, PatternPayload(10000, 2));
    std::ofstream(image, std::ios::binary | std::ios::in)
        .write(reinterpret_cast<const char*>(other.data()),
               static_cast<std::streamsize>(other.size()));
  });
  const Result r = Cli({"send", "--simulate", "--baud", "115200", image});
  change.join();
  EXPECT_EQ(r.code, EXIT_OK) << r.err;
  EXPECT_NE(r.out.find("Verified"), std::string::npos) << r.out;
}

TEST_F(ReliabilityTest, ControlCharactersInNamesAreShownEscaped) {
  const std::string name = (dir_.path() / "bad\x1b[2J\nname.uuc").string();
  const Result r = Cli({"send", "--simulate", name});
  EXPECT_EQ(r.code, EXIT_REFUSED);
  EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("bad\\x1b[2J\\nname.uuc"), std::string::npos) << r.err;
}

// Calling a silent IRD: each state once, then a line every few seconds, not forty a second.
TEST_F(ReliabilityTest, CallingASilentIrdLogsSparingly) {
  irdload::test::PtyPair line;
  const auto image = Image("fw.uuc", kTypeSingle, 10);
  const Result r = Cli({"send", "--port", line.slavePath(), "--connect-timeout", "7", image});
  EXPECT_EQ(r.code, EXIT_NO_RESPONSE) << r.err;
  std::size_t lines = 0, calls = 0;
  std::istringstream out(r.out);
  for (std::string l; std::getline(out, l);) {
    ++lines;
    if (l.rfind("still calling: ", 0) == 0) ++calls;
  }
  EXPECT_GE(calls, 1u) << r.out;
  EXPECT_LE(lines, 6u) << r.out;
}

// Ctrl-C while the virtual IRD's threads run is taken by the command, which stops the download
// and says what it had sent, rather than by a thread of the IRD's that would end the process.
TEST_F(ReliabilityTest, CtrlCStopsASimulatedSendAndSumsItUp) {
  const auto image = Image("fw.uuc", kTypeSingle, 200000);  // 18 s at 115200 baud
  irdload::test::Process send;
  ASSERT_TRUE(send.Start(IRDLOAD_CLI, {"send", "--simulate", image}));
  ASSERT_TRUE(send.WaitLine([](const std::string& l) { return l.rfind("Sending ", 0) == 0; }, 60s));
  std::this_thread::sleep_for(500ms);
  send.Signal(SIGINT);
  const std::optional<int> code = send.Wait(60s);
  ASSERT_TRUE(code);
  EXPECT_EQ(*code, EXIT_STOPPED);
  EXPECT_NE(send.err().find("irdload-cli: stopped"), std::string::npos) << send.err();
  EXPECT_NE(send.out().find("\nSent "), std::string::npos) << send.out();
}

}  // namespace
}  // namespace irdload::cli
