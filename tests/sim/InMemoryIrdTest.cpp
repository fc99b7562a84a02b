// The virtual IRD on the in-memory line: whole downloads by the engine through a real SerialPort
// whose device is the line's PC end, and what the line does when the IRD hangs up.
#include <gtest/gtest.h>

#include "engine/DownloadEngine.h"
#include "engine/ImageWriter.h"
#include "serial/MemoryLine.h"
#include "sim/InMemoryIrd.h"
#include "support/Outcomes.h"
#include "support/RecordingHost.h"
#include "support/TempDir.h"

namespace irdload {
namespace {

using namespace std::chrono_literals;
using sim::FaultKind;

constexpr auto kBound = 60s;

struct MemoryCase {
  const char* label;
  std::uint32_t baud;
  std::vector<sim::Fault> faults;
  bool pair;
  OutcomeKind outcome;
};

TEST(InMemoryIrdTest, WholeDownloadsThroughTheEngine) {
  const MemoryCase cases[] = {
      {"single, unpaced", 0, {}, false, OutcomeKind::Success},
      {"single, 115200 baud", 115200, {}, false, OutcomeKind::Success},
      {"pair", 0, {}, true, OutcomeKind::Success},
      {"NACKs",
       0,
       {{FaultKind::NackHeader, 0}, {FaultKind::NackPacket, 1}},
       false,
       OutcomeKind::Success},
      {"failure terminate", 0, {{FaultKind::FailTerminate}}, false, OutcomeKind::Failed},
      {"unplugged", 0, {{FaultKind::HangUpAt, 6}}, false, OutcomeKind::Failed},
  };
  test::TempDir dir;
  const auto single = ComposeImage(kTypeSingle, PatternPayload(5000, 1));
  const auto first = ComposeImage(kTypeFirstOfPair, PatternPayload(3000, 2));
  const auto second = ComposeImage(kTypeSecondOfPair, PatternPayload(2100, 3));
  const std::string singlePath = dir.WriteBytes("fw.uuc", single);
  const std::string firstPath = dir.WriteBytes("fw.u01", first);
  const std::string secondPath = dir.WriteBytes("fw.u02", second);
  for (const MemoryCase& c : cases) {
    SCOPED_TRACE(c.label);
    sim::VirtualIrd::Options options;
    options.baud = c.baud;
    options.faults = c.faults;
    sim::InMemoryIrd ird(options);
    test::RecordingHost host;
    host.SetPortPath(sim::InMemoryIrd::kPortName);
    if (c.pair) {
      host.SetFiles(firstPath, secondPath);
    } else {
      host.SetFiles(singlePath);
    }
    auto link = std::make_unique<SerialPortLink>();
    link->port().SetDeviceSource(ird.Source());
    EngineOptions engineOptions;
    engineOptions.port = std::move(link);
    DownloadEngine engine(std::move(engineOptions));
    ASSERT_EQ(engine.Init(host, host.SelectedPortName()), 1);
    ASSERT_EQ(engine.StartDownload(), 1);
    ASSERT_TRUE(engine.WaitIdle(kBound));
    EXPECT_EQ(test::LastOutcomeKind(engine), c.outcome);
    const sim::Report report = ird.GetReport();
    if (c.outcome != OutcomeKind::Success) {
      for (const auto& f : report.files) EXPECT_FALSE(f.successTerminate);
      continue;
    }
    using Files = std::vector<std::vector<std::uint8_t>>;
    const Files sent = c.pair ? Files{first, second} : Files{single};
    ASSERT_EQ(report.files.size(), sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
      EXPECT_TRUE(std::equal(report.files[i].header.begin(), report.files[i].header.end(),
                             sent[i].begin()));
      EXPECT_TRUE(std::equal(report.files[i].payload.begin(), report.files[i].payload.end(),
                             sent[i].begin() + kHeaderSize, sent[i].end()) &&
                  report.files[i].payload.size() == sent[i].size() - kHeaderSize);
    }
  }
}

TEST(InMemoryIrdTest, OtherNamesAreTheSystemsAndTheLineOpensOnce) {
  sim::InMemoryIrd ird({});
  const DeviceSource source = ird.Source();
  EXPECT_EQ(source("COM1"), nullptr);
  std::unique_ptr<PortDevice> a = source(sim::InMemoryIrd::kPortName);
  std::unique_ptr<PortDevice> b = source(sim::InMemoryIrd::kPortName);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  OsError err;
  ASSERT_TRUE(a->Open("Virtual IRD", err));
  EXPECT_FALSE(b->Open("Virtual IRD", err));
  EXPECT_NE(err.text.find("already open"), std::string::npos) << err.text;
  a->Close();
  EXPECT_TRUE(b->Open("Virtual IRD", err)) << err.text;
}

TEST(MemoryLineTest, AHungUpLineEndsTheWaitAndRefusesWrites) {
  const auto line = MemoryLine::Make();
  std::unique_ptr<PortDevice> pc = line->PcEnd();
  OsError err;
  ASSERT_TRUE(pc->Open("line", err));
  std::thread far([&] {
    std::this_thread::sleep_for(50ms);
    line->HangUp();
  });
  EXPECT_EQ(pc->WaitReadable(PortDevice::Clock::now() + kBound), WaitResult::HungUp);
  far.join();
  const std::uint8_t byte = 0xE1;
  EXPECT_FALSE(pc->WriteAll(&byte, 1, 1s, err));
  EXPECT_TRUE(err.gone);
  bool gone = false;
  std::uint8_t in = 0;
  EXPECT_EQ(pc->ReadWaiting(&in, 1, gone), 0u);
  EXPECT_TRUE(gone);
}

}  // namespace
}  // namespace irdload
