// One reply corrupted into another command byte, at every point of a download: the PC may end
// in success only when the IRD holds exactly the image; anything else ends as a clear failure.
#include <gtest/gtest.h>

#include "engine/DownloadEngine.h"
#include "engine/ImageWriter.h"
#include "sim/VirtualIrd.h"
#include "support/RecordingHost.h"
#include "support/TempDir.h"

namespace irdload {
namespace {

using namespace std::chrono_literals;

TEST(DesyncTest, OneCorruptedReplyNeverEndsInAFalseSuccess) {
  test::TempDir dir;
  const auto file = ComposeImage(kTypeSingle, PatternPayload(2500));  // three packets
  const std::string path = dir.WriteBytes("image.uuc", file);
  const std::vector<std::uint8_t> payload(file.begin() + 64, file.end());
  constexpr std::uint32_t kReplies = 3 + 2 * 3 + 1;  // E2 E3 E4, (E7 E8) x3, EB
  const std::uint8_t codes[] = {0xE2, 0xE3, 0xE4, 0xE5, 0xE7, 0xE8, 0xE9, 0xEB, 0xEC};
  int successes = 0, failures = 0, stopped = 0;
  for (std::uint32_t at = 0; at < kReplies; ++at) {
    for (std::uint8_t code : codes) {
      SCOPED_TRACE(testing::Message() << "reply " << at << " -> " << std::hex << int{code});
      sim::VirtualIrd::Options o;
      o.faults = {{sim::FaultKind::CorruptReply, at, code}};
      sim::VirtualIrd ird(o);
      std::string why;
      ASSERT_TRUE(ird.Start(&why)) << why;
      test::RecordingHost host;
      host.SetPortPath(ird.SlavePath());
      host.SetFiles(path);
      EngineOptions eo;
      eo.readPauses = 20;
      eo.retryLimit = 20;
      DownloadEngine engine(std::move(eo));
      engine.Init(host, ird.SlavePath());
      ASSERT_EQ(engine.StartDownload(), 1);
      if (!engine.WaitIdle(5s)) {
        // Still asking to connect: the IRD took a corrupted reply's answer as something else
        // and waits; the engine asks until stopped, as designed.
        ASSERT_LE(engine.state(), STATUS_WAIT_CONNECT_ACK);
        engine.Finish();
        ++stopped;
        continue;
      }
      const auto report = ird.GetReport();
      if (engine.lastOutcome() == DownloadOutcome::Success) {
        ASSERT_EQ(report.files.size(), 1u);
        EXPECT_EQ(report.files[0].payload, payload);
        ++successes;
      } else {
        EXPECT_TRUE(engine.lastOutcome() == DownloadOutcome::Failed ||
                    engine.lastOutcome() == DownloadOutcome::NoResponse);
        EXPECT_FALSE(host.messages().empty());
        ++failures;
      }
      EXPECT_FALSE(engine.snapshot().payloadHeld);
    }
  }
  RecordProperty("successes", successes);
  RecordProperty("failures", failures);
  RecordProperty("stopped", stopped);
  EXPECT_GT(successes, 0);
  EXPECT_GT(failures, 0);
}

}  // namespace
}  // namespace irdload
