// irdload-cli in its own process against a paced virtual IRD on a pseudo-terminal that repeats a
// reply left unanswered for 300 ms, as many receivers do. A lost or late answer, a PC stalled
// after a reply, a last packet of padding only: each loads the exact image and exits 0. The
// guards hold: where the PC cannot know what the IRD stored, it never exits 0.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "engine/ImageWriter.h"
#include "engine/Link.h"
#include "sim/VirtualIrd.h"
#include "support/Process.h"
#include "support/TempDir.h"

namespace irdload::cli {
namespace {

using namespace std::chrono_literals;
using sim::Fault;
using sim::FaultKind;

Fault Stall(std::uint32_t afterReply) {
  Fault f{FaultKind::StallPc, afterReply};
  f.delay = 450ms;
  return f;
}

struct Case {
  const char* label;
  std::vector<std::size_t> sizes;  // one file, or a pair
  std::vector<Fault> faults;
  bool skipsPaddingPacket = false;
  int code = EXIT_OK;
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.label;
}

class RepeatingIrdTest : public ::testing::TestWithParam<Case> {};

// Replies of a three-packet file: E2 E3 E4 | E7 E8 | E7 E8 | E7 E8 | EB (indices 0..9); a pair's
// second file follows from index 10.
const Case kCases[] = {
    {"a middle packet's answer lost", {2500}, {{FaultKind::LoseAnswer, 4}}},
    {"the last packet's answer lost", {2500}, {{FaultKind::LoseAnswer, 8}}},
    {"the header's acceptance answer lost", {2500}, {{FaultKind::LoseAnswer, 2}}},
    {"the header's rejection answer lost",
     {2500},
     {{FaultKind::NackHeader, 0}, {FaultKind::LoseAnswer, 2}}},
    {"the connect re-acknowledge lost", {2500}, {{FaultKind::LoseAnswer, 0}}},
    {"the PC stalled 450 ms after a packet's acceptance", {2500}, {Stall(4)}},
    {"the PC stalled 450 ms after the header's acceptance", {2500}, {Stall(2)}},
    {"the PC stalled 450 ms after the last acceptance", {2500}, {Stall(8)}},
    {"an exact multiple of 1021 bytes, the padding packet never asked for", {3 * 1021}, {}, true},
    {"a pair: the second file's packet answer lost", {2500, 1500}, {{FaultKind::LoseAnswer, 14}}},
    {"a pair: the chained connect request lost", {2500, 1500}, {{FaultKind::LoseAnswer, 9}}},
    {"a pair: the PC stalled in the second file", {2500, 1500}, {Stall(12)}},
    {"a packet byte lost: the IRD asks again while the PC waits",
     {2500},
     {{FaultKind::LosePcByte, 2 + 64 + 1 + 300}},
     false,
     EXIT_IRD_FAILED},
    {"a rejection heard as a success terminate",
     {2500},
     {{FaultKind::NackPacket, 1}, {FaultKind::CorruptReply, 6, 0xEB}},
     false,
     EXIT_IRD_FAILED},
};

TEST_P(RepeatingIrdTest, LoadsTheExactImageOrNeverSaysItDid) {
  const Case& c = GetParam();
  test::TempDir dir;
  std::vector<std::string> files;
  std::vector<std::vector<std::uint8_t>> images;
  for (std::size_t i = 0; i < c.sizes.size(); ++i) {
    const std::uint32_t type =
        c.sizes.size() == 1 ? kTypeSingle : (i == 0 ? kTypeFirstOfPair : kTypeSecondOfPair);
    images.push_back(ComposeImage(type, PatternPayload(c.sizes[i], static_cast<std::uint32_t>(i))));
    const char* name = c.sizes.size() == 1 ? "fw.uuc" : (i == 0 ? "fw.u01" : "fw.u02");
    files.push_back(dir.WriteBytes(name, images.back()));
  }
  sim::VirtualIrd::Options options;
  options.baud = 115200;
  options.repeatAfter = 300ms;
  options.faults = c.faults;
  options.skipsPaddingPacket = c.skipsPaddingPacket;
  sim::VirtualIrd ird(options);
  std::string why;
  ASSERT_TRUE(ird.Start(&why)) << why;

  std::vector<std::string> args = {"send", "--port", ird.SlavePath()};
  args.insert(args.end(), files.begin(), files.end());
  test::Process cli;
  ASSERT_TRUE(cli.Start(IRDLOAD_CLI, args));
  ird.SetPcProcess(cli.pid());
  const std::optional<int> code = cli.Wait(60s);
  ASSERT_TRUE(code.has_value()) << "irdload-cli did not end";
  EXPECT_EQ(*code, c.code) << cli.err();

  const sim::Report report = ird.GetReport();
  if (c.code == EXIT_OK) {
    ASSERT_EQ(report.files.size(), images.size()) << cli.err();
    for (std::size_t i = 0; i < images.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_TRUE(std::equal(report.files[i].header.begin(), report.files[i].header.end(),
                             images[i].begin()));
      EXPECT_EQ(report.files[i].payload,
                std::vector<std::uint8_t>(images[i].begin() + kHeaderSize, images[i].end()));
    }
    EXPECT_NE(cli.err().find("Download end successfully."), std::string::npos) << cli.err();
  } else {
    EXPECT_EQ(cli.err().find("Download end successfully."), std::string::npos) << cli.err();
  }
  // Whatever the PC was told, the faults did happen.
  for (const Fault& f : c.faults) {
    EXPECT_GT(report.faultsInjected.count(f.kind), 0u) << sim::FaultKindName(f.kind);
  }
}

INSTANTIATE_TEST_SUITE_P(Sequences, RepeatingIrdTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           std::string name;
                           for (const char* p = info.param.label; *p != '\0'; ++p) {
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace irdload::cli
